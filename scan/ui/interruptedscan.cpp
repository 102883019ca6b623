// The files of a scan that was ended from outside, finished at the next
// start: cut to their true ends, the file that was open marked as cut
// short, and the found-file list written as the cache root now holds them.
#include "app/frmrecover.h"

#include "drive/registry.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"
#include "scan/foundfiles.h"
#include "scan/scanengine.h"

void frmRecover::FinishInterruptedScanFiles()
{
    bool ok = false;
    const double marker = GetSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"),
                                     QStringLiteral("LastCluster"), QStringLiteral("0"))
                              .trimmed()
                              .toDouble(&ok);
    if (!ok || marker <= 0 || CacheRoot.isEmpty())
        return;
    QString folder = plat::toNative(CacheRoot);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const std::vector<FinishedFile> files = FinishInterruptedScan(folder);
    if (files.empty())
        return;

    // The list file names the files in the folder's order, those cut short
    // marked; the list is then refilled from it.
    ShownFolder = CacheRoot;
    List3.Clear();
    FoundFilePaths.clear();
    for (const FinishedFile &f : files) {
        FoundFilePaths << f.name;
        if (List3.ListCount() < ScanListCapacity) {
            const QString text = FoundFileDisplayText(f.name);
            List3.AddItem(f.cutShort ? MarkedDisplayLine(text) : text);
        }
    }
    ItemOrientations.assign(size_t(FoundFilePaths.size()), 0.0f);
    ThumbCounter = 0;
    SaveScanList();
    List3.Clear();
    FoundFilePaths = QStringList{QString()};
    ItemOrientations.assign(1, 0.0f);
}
