#include "drive/ui/filedialog.h"

#include "platform/paths.h"
#include "platform/ui/dialogs.h"

QString FileDialog(QString &mode, int &ownerHandle, QString &initialFileName, QString &title,
                   QString &initialFolder, int &flags, QString &filter, int &filterIndex, QString &defaultExtension)
{
    if (initialFolder.isEmpty())
        initialFolder = plat::programFolder();
    plat::DialogRequest r;
    if (mode == QLatin1String("Save"))
        r.kind = plat::DialogKind::Save;
    else if (mode == QLatin1String("Open"))
        r.kind = plat::DialogKind::Open;
    else
        return {};
    r.title = title;
    r.ownerHandle = ownerHandle;
    r.startFolder = initialFolder;
    r.fileName = initialFileName.left(255);
    r.filter = filter;
    r.filterIndex = filterIndex;
    r.defaultExtension = defaultExtension;
    r.flags = flags;
    const plat::DialogAnswer a = plat::showDialog(r);
    if (a.path.isEmpty())
        return {};
    filterIndex = a.filterIndex;
    return a.path;
}
