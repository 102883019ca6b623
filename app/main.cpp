// Quilvane: the program's main window.
#include "app/frmrecover.h"
#include "drive/ui/fileopui.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InstallFileOperationUi();

    frmRecover &w = MainWindow();
    w.LayoutCommandBar(270);
    w.SetUpTypeList();
    w.ReadRegistryEntries();
    QString noSelection;
    w.FillTypeList(noSelection);
    w.RestoreScanTypeRows();
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.ShownFolder = w.CacheRoot;
    w.RefillFoundFileList();
    w.Drive1.Refresh();
    w.SourceName = w.Drive1.Drive().left(2);
    w.UpdateDriveInfoLabel();
    w.EnableButtons();
    w.SetToolTips();
    w.Timer1.setEnabled(true);
    w.Show();

    const int rc = app.exec();
    w.CreateRegistryEntries();
    DestroyMainWindow();
    return rc;
}
