// Quilvane: the program's main window is its start; there is no other main
// routine.
#include "app/frmrecover.h"
#include "app/startup.h"
#include "drive/ui/fileopui.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFileOperationUi();
    InstallTerminationSignals();

    frmRecover &w = MainWindow();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&w] { w.Form_Terminate(); });
    w.Form_Initialize();
    w.Form_Load();
    if (ProcessEndRequested())
        return 0;
    return app.exec();
}
