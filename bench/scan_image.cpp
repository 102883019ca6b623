// scan_image [--bad FIRST-LAST]... [--slow MS] IMAGE CACHEDIR [TYPES]: the
// whole scan through the main window, headless. The image is attached as the
// removable drive E: (with the layer's fault injection: reads of the sectors
// FIRST to LAST fail, each failing read taking MS milliseconds), the cache root
// is CACHEDIR\RIVozud\, the types are ticked in the scan-type list (TYPES:
// extensions separated by commas, "jpg,png,zip"; default every built-in
// type), and the Scan command's handler runs with every question answered
// by its default button and every folder dialog by the folder it offers.
// The program's home is a temporary folder, removed at the end. Prints on
// its last lines the bytes scanned, the seconds, MB/s, the number of found
// files and the unreadable sectors; the found files stay in CACHEDIR\RIVozud\.
#include "app/frmrecover.h"
#include "bench/default_answer.h"
#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "scan/scantable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/scan_image-home-XXXXXX"));
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary home\n");
        return 1;
    }
    qputenv("QUILVANE_HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    opts.readOnly = true;
    for (int i = 1; i < args.size();) {
        const QString option = args[i];
        if ((option != QLatin1String("--bad") && option != QLatin1String("--slow")) || i + 1 >= args.size()) {
            ++i;
            continue;
        }
        const QString value = args[i + 1];
        args.remove(i, 2);
        bool ok = true;
        if (option == QLatin1String("--slow")) {
            opts.slowMs = value.toInt(&ok);
        } else {
            for (const QString &range : value.split(',', Qt::SkipEmptyParts)) {
                bool a = false, b = true;
                const qint64 first = range.section('-', 0, 0).toLongLong(&a);
                const qint64 last = range.contains('-') ? range.section('-', 1).toLongLong(&b) : first;
                ok = ok && a && b && first >= 0 && last >= first;
                if (ok)
                    opts.badSectors.append({first, last});
            }
        }
        if (!ok) {
            std::fprintf(stderr, "bad value for %s: %s\n", qPrintable(option), qPrintable(value));
            return 2;
        }
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: scan_image [--bad FIRST-LAST[,FIRST-LAST...]]... [--slow MS] IMAGE CACHEDIR [TYPES]\n");
        return 2;
    }
    const QString image = QFileInfo(args[1]).absoluteFilePath();
    const QString cacheNative = QFileInfo(args[2]).absoluteFilePath();
    if (!QFileInfo(image).isFile()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(image));
        return 1;
    }
    QDir().mkpath(cacheNative);
    const QStringList wanted = args.size() > 3 ? args[3].toUpper().split(',', Qt::SkipEmptyParts) : QStringList();

    plat::DriveTable &drives = plat::DriveTable::instance();
    drives.setExclusive(true);
    if (!drives.attachImage('E', image, opts)) {
        std::fprintf(stderr, "cannot attach %s\n", qPrintable(image));
        return 1;
    }

    QStringList asked;
    plat::setMessageResponder([&](const plat::MessageRequest &r) {
        asked << r.title + QStringLiteral(": ") + QString(r.text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return defaultAnswer(r);
    });
    plat::setDialogResponder([](const plat::DialogRequest &r) { return plat::DialogAnswer{r.startFolder, 1}; });

    frmRecover &w = MainWindow();
    w.CacheRoot = plat::toInternal(cacheNative);
    if (!w.CacheRoot.endsWith('\\'))
        w.CacheRoot += '\\';
    w.CacheRoot += QStringLiteral("RIVozud\\");
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.SetUpTypeList();
    w.FillTypeList();
    w.SetToolTips();   // start-up is finished
    int ticked = 0;
    for (int i = 1; i <= w.LvwTypes.ItemCount(); ++i) {
        const bool builtIn = w.LvwTypes.SubItem(i, 2) == ProgramOrigin();
        const bool tick = builtIn && (wanted.isEmpty() || wanted.contains(w.LvwTypes.ItemText(i)));
        w.LvwTypes.setItemChecked(i, tick);
        ticked += tick;
    }
    if (ticked == 0) {
        std::fprintf(stderr, "no built-in type among %s\n", qPrintable(args.value(3)));
        return 2;
    }
    w.SourceName = QStringLiteral("E:");
    GetDriveInfo(w.SourceName);
    // For comparisons: SCAN_NO_EXIF=1 switches the quick EXIF read of found
    // pictures off, SCAN_NO_DRAW=1 the drawing of found pictures.
    const bool noExif = qEnvironmentVariableIntValue("SCAN_NO_EXIF") != 0;
    const bool noDraw = qEnvironmentVariableIntValue("SCAN_NO_DRAW") != 0;
    int exifReads = 0, draws = 0;
    qint64 exifNs = 0;
    w.AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        if (noExif)
            cb.readExifQuick = nullptr;
        else if (auto read = cb.readExifQuick)
            cb.readExifQuick = [&exifReads, &exifNs, read](const unsigned char *b, size_t n) {
                ++exifReads;
                QElapsedTimer t;
                t.start();
                auto facts = read(b, n);
                exifNs += t.nsecsElapsed();
                return facts;
            };
        if (noDraw)
            cb.drawPicture = nullptr;
        else if (auto draw = cb.drawPicture)
            cb.drawPicture = [&draws, draw](const QString &f) {
                ++draws;
                draw(f);
            };
    };

    QElapsedTimer wall;
    wall.start();
    w.CmdScan_Click();
    const double commandSeconds = double(wall.nsecsElapsed()) / 1e9;

    const ScanResult &r = w.LastScanResult;
    for (const QString &q : asked)
        std::printf("asked: %s\n", qPrintable(q));
    const double seconds = r.seconds > 0 ? r.seconds : commandSeconds;
    std::printf("cache: %s\n", qPrintable(plat::toNative(w.CacheRoot)));
    std::printf("command seconds: %.3f\n", commandSeconds);
    std::printf("bytes scanned: %lld\n", static_cast<long long>(r.bytesScanned));
    std::printf("seconds: %.3f\n", seconds);
    std::printf("finishing pass seconds: %.3f\n", r.finishingSeconds);
    std::printf("MB/s: %.1f\n", seconds > 0 ? double(r.bytesScanned) / 1048576.0 / seconds : 0.0);
    std::printf("found files: %lld\n", static_cast<long long>(w.FoundFiles.FoundFileNames.size()));
    std::printf("unreadable sectors: %lld\n", static_cast<long long>(r.unreadable.count()));
    if (r.unreadable.count() > 0) {
        std::printf("unreadable runs: %lld (%s)\n", static_cast<long long>(r.unreadable.runs()),
                    qPrintable(r.unreadable.text()));
        std::printf("damaged found files: %lld\n", static_cast<long long>(r.damagedFiles));
    }
    std::printf("failed reads: %lld\n", static_cast<long long>(r.failedReads));
    std::printf("quick EXIF reads: %d%s in %.3f ms, pictures offered to the view: %d%s\n", exifReads,
                noExif ? " (off)" : "", double(exifNs) / 1e6, draws, noDraw ? " (off)" : "");
    const bool ran = w.ScanFinished;
    plat::setMessageResponder({});
    plat::setDialogResponder({});
    DestroyMainWindow();
    drives.detach('E');
    return ran ? 0 : 1;
}
