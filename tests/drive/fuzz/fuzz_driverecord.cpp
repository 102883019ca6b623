// libFuzzer target: the drive record, the volume facts, the volume bitmap and
// the scan's units of a medium held in memory.
//   bytes 0-1: the medium's size, (value mod 2048 + 1) x 4 KiB;
//   the rest: the medium's first bytes (boot sector, FATs, root folder), the
//   remainder of the medium zero.
// Besides the sanitizers' reports, every answer must stay on the medium: the
// record's data area, a free run, the sectors read, the scan's units.
#include "drive/bitmap.h"
#include "drive/driveinfo.h"
#include "drive/fat.h"
#include "drive/sectors.h"
#include "platform/drives.h"
#include "platform/volumecontrol.h"
#include "scan/unitgeometry.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int g_fd = -1;

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "past the medium: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // A private home and drive configuration: nothing of the real ones.
    char home[] = "/tmp/driverecord-fuzz-XXXXXX";
    if (!mkdtemp(home))
        std::abort();
    setenv("QUILVANE_HOME", home, 1);
    setenv("QUILVANE_DRIVES", (std::string(home) + "/drives.conf").c_str(), 1);
    static int qargc = 1;
    static char name[] = "fuzz_driverecord";
    static char *qargv[] = {name, nullptr};
    new QCoreApplication(qargc, qargv);
    plat::DriveTable::instance().setExclusive(true);
    g_fd = memfd_create("driverecord-fuzz", 0);
    if (g_fd < 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 + 512)
        return 0;
    const int64_t medium = (int64_t((data[0] | data[1] << 8) % 2048) + 1) * 4096;
    const size_t head = std::min<size_t>(size - 2, size_t(medium));
    if (ftruncate(g_fd, 0) != 0 || ftruncate(g_fd, medium) != 0
        || pwrite(g_fd, data + 2, head, 0) != ssize_t(head))
        std::abort();
    plat::forgetVolumeBitmaps();
    plat::DriveTable::instance().attachImage('E', QStringLiteral("/proc/self/fd/%1").arg(g_fd));

    GetDriveInfo("E:");
    const DriveInfoRecord &d = DriveInfo();
    if (d.BytesPerSector > 0) {
        const double end = (double(d.FirstDataSector) + d.TotalClusters * std::max<uint32_t>(1, d.SectorsPerCluster))
                           * d.BytesPerSector;
        require(d.FirstDataSector >= 0 && end <= double(medium), "the record's data area");
        const UnitGeometry g = GeometryOfDrive(d, false, medium);
        require(g.valid() && g.baseOffset + g.totalBytes() <= medium + g.unitBytes, "the scan's units");
        const UnitGeometry deep = GeometryOfDrive(d, true, medium);
        require(deep.valid() && deep.baseOffset + deep.totalBytes() <= medium + deep.unitBytes, "DeepScan's units");
    }
    plat::volumeInformation('E');
    if (auto g = plat::diskGeometry('E'))
        require(double(g->totalClusters) * g->sectorsPerCluster * g->bytesPerSector <= double(medium),
                "the volume facts");

    int64_t start = 0, run = 0, last = 0;
    FindFreeClusterRun("E:", start, run, last);
    if (run > 0)
        require((double(DriveInfo().FirstDataSector)
                 + double(last + 1 - DriveInfo().FirstCluster) * DriveInfo().SectorsPerCluster)
                        * DriveInfo().BytesPerSector
                    <= double(medium),
                "a free run");
    bool close = true;
    int64_t cluster = data[size - 1] | data[size - 2] << 8;
    IsClusterFree("E:", cluster, close);

    int64_t got = 0;
    const QByteArray all = ReadSectors("E:", 0, 0, int64_t(64) << 20, got);
    require(all.size() <= medium && got <= medium, "the sector reader");
    bool accepted = false;
    ReadDirectoryChain("E:", DriveInfo().RootCluster, accepted);
    return 0;
}
