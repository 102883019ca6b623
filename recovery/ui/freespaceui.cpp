// The free-space check of the main window: the numbers of the cache drive
// and the source gathered, the budget kept, the warning asked.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/drivelist.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/ui/msgbox.h"
#include "recovery/freespace.h"

#include "platform/paths.h"

#include <QFileInfo>
#include <algorithm>

void frmRecover::CheckTargetFreeSpace(const QString &cacheFolder, int &result, bool &room)
{
    room = false;
    FreeSpaceFacts f;
    int32_t total = 0;
    f.cacheFreeMB = GetDiskSpaceMB(cacheFolder, total);
    // An image's scan writes at most the image's size; the free space of
    // the disk holding the image is no measure of it.
    f.sourceFreeMB = ScanningImage
                         ? int32_t(std::min<qint64>(QFileInfo(plat::toNative(SourceName)).size() / 1048576, INT32_MAX))
                         : GetDiskSpaceMB(SourceName, total);
    f.sourceTotalMB = DriveInfo().TotalMB;
    f.cacheFolder = cacheFolder;
    f.resumePosition = ResumePosition;

    const FreeSpaceOutcome o = EvaluateFreeSpace(f);
    CacheFreeMB = o.cacheFreeMB;
    room = o.room;
    if (o.resultSet)
        result = o.result;
    if (o.showBox) {
        const int style = (o.okOnly ? plat::mb::OK : plat::mb::OKCancel) + plat::mb::IconInformation;
        const int answer = MsgBoxPositioned(hWnd(), o.message, style,
                                            GetString(331, QStringLiteral("Checks")) + QStringLiteral("  ") + ProgramTitle);
        if (!o.okOnly)
            result = answer;
    }
}
