// scan_core IMAGE CACHEDIR [TYPES]: the scan engine alone on a disk image,
// without the main window. Found files are written into CACHEDIR (created
// when missing; it should be empty). TYPES: extensions separated by commas
// ("jpg,png,zip"); default every built-in type. The table is built as the
// program builds it from the ticked rows of its type list. Prints on its
// last lines the bytes scanned, the seconds, MB/s and the number of found
// files.
#include "platform/paths.h"
#include "scan/scanengine.h"
#include "scan/scantable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <sys/statvfs.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: scan_core IMAGE CACHEDIR [TYPES]\n");
        return 2;
    }
    const QString image = QFileInfo(args[1]).absoluteFilePath();
    const QString cacheNative = QFileInfo(args[2]).absoluteFilePath();
    QDir().mkpath(cacheNative);

    // The table the program builds from the ticked rows of its type list.
    const QStringList types = args.size() > 3 ? args[3].split(',', Qt::SkipEmptyParts) : QStringList();
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(BuiltInTypeRows(types), filter, table);
    if (!HasSignatureRows(table)) {
        std::fprintf(stderr, "no built-in type among %s\n", qPrintable(args[3]));
        return 2;
    }

    ScanSource src;
    src.name = plat::toInternal(image);
    src.image = true;
    src.driveType = QStringLiteral("File");
    src.geometry = GeometryOfImageFile(image);
    if (!src.geometry.valid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(image));
        return 1;
    }

    ScanOptions opt;
    opt.cacheFolder = plat::toInternal(cacheNative);
    if (!opt.cacheFolder.endsWith('\\'))
        opt.cacheFolder += '\\';
    ScanCallbacks cb;
    cb.yield = [] {};
    cb.setLastCluster = [](const QString &) {};
    cb.storeBudget = [](int64_t) {};
    cb.freeSpaceMB = [cacheNative](const QString &) {
        struct statvfs st {};
        if (statvfs(cacheNative.toLocal8Bit().constData(), &st) != 0)
            return int64_t(0);
        return int64_t(uint64_t(st.f_bavail) * st.f_frsize / 1048576);
    };
    cb.message = [](const QString &title, const QString &text) {
        std::printf("%s: %s\n", qPrintable(title), qPrintable(text));
    };

    FoundFileList found;
    const auto t0 = std::chrono::steady_clock::now();
    ScanEngine engine(src, table, opt, cb, found);
    const ScanResult r = engine.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::printf("units: %lld of %d bytes, %lld per read\n", static_cast<long long>(r.unitsScanned),
                src.geometry.unitBytes, static_cast<long long>(engine.unitsPerRead()));
    std::printf("bytes: %lld\n", static_cast<long long>(r.bytesScanned));
    std::printf("seconds: %.3f\n", seconds);
    std::printf("finishing pass seconds: %.3f\n", r.finishingSeconds);
    std::printf("MB/s: %.1f\n", seconds > 0 ? double(r.bytesScanned) / 1048576.0 / seconds : 0.0);
    std::printf("found: %lld\n", static_cast<long long>(found.FoundFileNames.size()));
    return r.end == ScanEnd::Finished ? 0 : 1;
}
