// backup_image IMAGE OUTDIR: Backup Medium and Scan Backup through the main
// window, headless. The image is attached read-only as the removable drive
// E:; Backup Medium copies it into OUTDIR/DiskImages/ (the folder chooser
// answered with OUTDIR, every question with its default button); then Scan
// Backup scans the new image, through its index, into OUTDIR/RIVozud/ with
// every built-in type ticked. The program's home is a temporary folder,
// removed at the end. Prints on its last lines the bytes copied, the seconds
// of the backup and of the Scan Backup, and the number of found files.
#include "app/frmrecover.h"
#include "bench/default_answer.h"
#include "drive/driveinfo.h"
#include "drive/ui/chooser.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/imageindex.h"
#include "scan/scantable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/backup_image-home-XXXXXX"));
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary home\n");
        return 1;
    }
    qputenv("QUILVANE_HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: backup_image IMAGE OUTDIR\n");
        return 2;
    }
    const QString image = QFileInfo(args[1]).absoluteFilePath();
    const QString outNative = QFileInfo(args[2]).absoluteFilePath();
    if (!QFileInfo(image).isFile()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(image));
        return 1;
    }
    QDir().mkpath(outNative);

    plat::DriveTable &drives = plat::DriveTable::instance();
    drives.setExclusive(true);
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    opts.readOnly = true;
    if (!drives.attachImage('E', image, opts)) {
        std::fprintf(stderr, "cannot attach %s\n", qPrintable(image));
        return 1;
    }

    QStringList asked;
    plat::setMessageResponder([&](const plat::MessageRequest &r) {
        asked << r.title + QStringLiteral(": ") + QString(r.text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return defaultAnswer(r);
    });
    frmRecover &w = MainWindow();
    // The Open dialog of Scan Backup gets the index of the image just made.
    plat::setDialogResponder([&w](const plat::DialogRequest &) {
        return plat::DialogAnswer{DiskImageIndexPath(w.WorkFolder, w.ImageFilePath), 1};
    });
    // The folder chooser: OK on the folder it offers (OUTDIR).
    QTimer chooser;
    chooser.setInterval(5);
    QObject::connect(&chooser, &QTimer::timeout, [] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->windowTitle().contains(QStringLiteral("Backup. Please select")))
                for (QPushButton *b : top->findChildren<QPushButton *>())
                    if (b->text().remove('&') == QLatin1String("OK")) {
                        b->click();
                        return;
                    }
    });
    chooser.start();

    w.CacheRoot = plat::toInternal(outNative) + QStringLiteral("\\RIVozud\\");
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.SetUpTypeList();
    w.FillTypeList();
    w.SetToolTips();   // start-up is finished
    for (int i = 1; i <= w.LvwTypes.ItemCount(); ++i)
        w.LvwTypes.setItemChecked(i, w.LvwTypes.SubItem(i, 2) == ProgramOrigin());
    w.SourceName = QStringLiteral("E:");
    GetDriveInfo(w.SourceName);
    w.BackupFolder = plat::toInternal(outNative) + QStringLiteral("\\");

    QElapsedTimer wall;
    wall.start();
    w.CmdBackup_Click();
    const double backupSeconds = double(wall.nsecsElapsed()) / 1e9;
    chooser.stop();
    const BackupResult backup = w.LastBackupResult;
    const QString imageNative = plat::toNative(w.ImageFilePath);

    wall.restart();
    w.CmdScanBackup_Click();
    const double scanSeconds = double(wall.nsecsElapsed()) / 1e9;

    for (const QString &q : asked)
        std::printf("asked: %s\n", qPrintable(q));
    std::printf("image: %s\n", qPrintable(imageNative));
    std::printf("status: %s\n", qPrintable(w.lblStatus.Caption()));
    std::printf("backup copy seconds: %.3f\n", backup.seconds);
    std::printf("bytes copied: %lld\n", static_cast<long long>(backup.bytesPlaced));
    std::printf("backup seconds: %.3f\n", backupSeconds);
    std::printf("scan seconds: %.3f\n", w.LastScanResult.seconds);
    std::printf("scan backup seconds: %.3f\n", scanSeconds);
    std::printf("found files: %lld\n", static_cast<long long>(w.FoundFiles.FoundFileNames.size()));
    const bool ok = backup.whole() && w.ScanFinished;
    plat::setMessageResponder({});
    plat::setDialogResponder({});
    DestroyMainWindow();
    drives.detach('E');
    return ok ? 0 : 1;
}
