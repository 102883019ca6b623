// backup_image IMAGE OUTDIR: Backup Medium and Scan Backup through the main
// window, headless. The image is attached read-only as the removable drive
// E:; Backup Medium copies it into OUTDIR/DiskImages/ (the folder chooser
// answered with OUTDIR, every question with its default button); then Scan
// Backup scans the new image, through its index, into OUTDIR/RIVozud/ with
// every built-in type ticked. The program's home is a temporary folder,
// removed at the end. Prints on its last lines the bytes copied, the seconds
// of the backup and of the Scan Backup, and the number of found files.
#include "bench/headless.h"
#include "drive/driveinfo.h"
#include "platform/paths.h"
#include "recovery/imageindex.h"

#include <QApplication>
#include <QElapsedTimer>

int main(int argc, char **argv)
{
    BenchHome home("backup_image");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: backup_image IMAGE OUTDIR\n");
        return 2;
    }
    QString image, outNative;
    if (!imageAndFolder(args[1], args[2], image, outNative) || !attachAsE(image))
        return 1;
    QStringList asked;
    answerByDefault(asked);
    frmRecover &w = MainWindow();
    // The Open dialog of Scan Backup gets the index of the image just made.
    plat::setDialogResponder([&w](const plat::DialogRequest &) {
        return plat::DialogAnswer{DiskImageIndexPath(w.WorkFolder, w.ImageFilePath), 1};
    });
    // The folder chooser: OK on the folder it offers (OUTDIR).
    FolderChooserAnswers chooser(QStringLiteral("Backup. Please select"), 5);

    useCache(w, plat::toInternal(outNative) + QStringLiteral("\\RIVozud\\"));
    tickBuiltInTypes(w);
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

    printAsked(asked);
    std::printf("image: %s\n", qPrintable(imageNative));
    std::printf("status: %s\n", qPrintable(w.lblStatus.Caption()));
    std::printf("backup copy seconds: %.3f\n", backup.seconds);
    std::printf("bytes copied: %lld\n", static_cast<long long>(backup.bytesPlaced));
    std::printf("backup seconds: %.3f\n", backupSeconds);
    std::printf("scan seconds: %.3f\n", w.LastScanResult.seconds);
    std::printf("scan backup seconds: %.3f\n", scanSeconds);
    std::printf("found files: %lld\n", static_cast<long long>(w.FoundFiles.FoundFileNames.size()));
    const bool ok = backup.whole() && w.ScanFinished;
    closeBench();
    return ok ? 0 : 1;
}
