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
#include "bench/headless.h"
#include "drive/driveinfo.h"
#include "platform/paths.h"

#include <QApplication>
#include <QElapsedTimer>

int main(int argc, char **argv)
{
    BenchHome home("scan_image");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    plat::VirtualDriveOptions opts = removableReadOnly();
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
    QString image, cacheNative;
    if (!imageAndFolder(args[1], args[2], image, cacheNative) || !attachAsE(image, opts))
        return 1;
    const QStringList wanted = args.size() > 3 ? args[3].toUpper().split(',', Qt::SkipEmptyParts) : QStringList();
    QStringList asked;
    answerByDefault(asked);

    frmRecover &w = MainWindow();
    QString root = plat::toInternal(cacheNative);
    if (!root.endsWith('\\'))
        root += '\\';
    useCache(w, root + QStringLiteral("RIVozud\\"));
    if (tickBuiltInTypes(w, wanted) == 0) {
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
    printAsked(asked);
    const double seconds = r.seconds > 0 ? r.seconds : commandSeconds;
    std::printf("cache: %s\n", qPrintable(plat::toNative(w.CacheRoot)));
    std::printf("command seconds: %.3f\n", commandSeconds);
    std::printf("bytes scanned: %lld\n", static_cast<long long>(r.bytesScanned));
    std::printf("seconds: %.3f\n", seconds);
    std::printf("finishing pass seconds: %.3f\n", r.finishingSeconds);
    std::printf("MB/s: %.1f\n", seconds > 0 ? double(r.bytesScanned) / 1048576.0 / seconds : 0.0);
    std::printf("found files: %lld\n", static_cast<long long>(w.FoundFiles.FoundFileNames.size()));
    std::printf("found files cut short: %lld\n", static_cast<long long>(r.cutFiles));
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
    closeBench();
    return ran ? 0 : 1;
}
