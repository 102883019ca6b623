// The program's wrapper of the common Open and Save dialogs.
#pragma once

#include <QString>

// Shows the Open or Save dialog ("Open" / "Save"; any other mode: nothing)
// and returns the chosen path, empty on Cancel. The filter holds descriptions
// and patterns separated by "|". An empty initial folder becomes the program
// folder, written back to the caller's variable.
QString FileDialog(QString &mode, int &ownerHandle, QString &initialFileName, QString &title,
                   QString &initialFolder, int &flags, QString &filter, int &filterIndex, QString &defaultExtension);
