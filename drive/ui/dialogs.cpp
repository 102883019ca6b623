#include "drive/ui/dialogs.h"

#include "platform/ui/dialogs.h"

int BrowseFlagsOfMode(int mode)
{
    switch (mode) {
    case 0:
    case 1: return 0x71;     // file-system folders, edit box, validate, new style
    case 2: return 0x4071;   // the same, with files listed
    case 3: return 0x1020;   // computers
    default: return 0x2020;  // printers
    }
}

QString BrowseForFolder(int &mode, const QString &initialFolder, int owner, const QString &title)
{
    if (mode == 0)
        mode = 1;
    if (mode != 1 && mode != 2)
        return {};   // computers and printers have no file-system path

    plat::DialogRequest request;
    request.kind = mode == 2 ? plat::DialogKind::FolderOrFile : plat::DialogKind::Folder;
    request.title = title;
    request.ownerHandle = owner;
    request.startFolder = initialFolder;
    request.flags = BrowseFlagsOfMode(mode);
    return plat::showDialog(request).path;
}

QString BrowseForFolder(int &&mode, const QString &initialFolder, int owner, const QString &title)
{
    int copy = mode;
    return BrowseForFolder(copy, initialFolder, owner, title);
}
