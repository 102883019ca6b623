// The folder browser of the program, over the dialog service of the layer
// (platform/ui/dialogs.h).
#pragma once

#include <QString>

// The folder browser in one of its modes:
//   0  as mode 1 (the caller's mode variable is set to 1)
//   1  folders of the file system (flags 0x71)
//   2  folders and files: the user may pick either (flags 0x4071)
//   3  computers (flags 0x1020) and any other mode printers (flags 0x2020):
//      the desktop has no such browser and such a choice has no path, so
//      these give an empty text without a dialog
// The dialog opens on the initial folder when that is not empty (internal
// path) and carries the title when that is not empty. Returns the chosen
// path in internal form (a folder without its trailing "\", a root as "X:\"),
// empty when the user cancels.
QString BrowseForFolder(int &mode, const QString &initialFolder, int owner, const QString &title);
// The same with a mode that is not written back (a literal mode).
QString BrowseForFolder(int &&mode, const QString &initialFolder, int owner, const QString &title);

// The dialog flags of a mode (after mode 0 became 1).
int BrowseFlagsOfMode(int mode);
