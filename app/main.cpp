// Quilvane: until the main window stands, the program shows its drive table.
#include "drive/ui/fileopui.h"
#include "platform/drives.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InstallFileOperationUi();
    QString text = QStringLiteral("Quilvane\n\n");
    for (const plat::DriveEntry &e : plat::DriveTable::instance().entries()) {
        auto info = plat::volumeInformation(e.letter);
        text += QStringLiteral("%1:  type %2  %3  %4\n")
                    .arg(e.letter)
                    .arg(e.typeCode)
                    .arg(info ? info->fsName : QStringLiteral("(not ready)"))
                    .arg(info ? info->label : QString());
    }
    QLabel label(text);
    label.setWindowTitle(QStringLiteral("Quilvane"));
    label.setMargin(20);
    label.show();
    return app.exec();
}
