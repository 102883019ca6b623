// The exports of the library: volumes, the MFT block and the record calls.
// Written as plain C-style C++ (no exceptions, no standard library beyond the
// C headers) so that the library needs only libc.
#include "ntfs/fennick.h"
#include "ntfs/fennick_internal.h"
#include "ntfs/fennick_core.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fennick_core;

namespace {

constexpr uint64_t kPiece = 0x2000000;              // 32 MiB
constexpr uint64_t kMaxTable = uint64_t(1) << 32;   // 4 GiB: refused
constexpr size_t kMaxVolumes = 64;
constexpr int kMaxPathDepth = 16384;

// An open volume: its descriptor, the window of the file that holds it and
// the geometry of its own boot sector.
struct Volume {
    int fd = -1;
    Geometry geometry;
    uint64_t base = 0;          // byte of the file where the volume starts
    uint64_t deviceBytes = 0;   // bytes from base to the end of the file or window; 0 when unknown
};
Volume g_volumes[kMaxVolumes];

// The boot sector of the volume opened last (module state).
uint8_t g_boot[512];
Geometry g_bootGeometry;    // recordSize 0 when the copy holds no valid volume

// Blocks that MapMFT handed out (or that tests registered).
struct Block {
    uint8_t *base;
    uint64_t size;
    size_t mapLength;   // 0: not mapped by the library
    uint32_t recordSize;
    uint64_t records;
};
Block *g_blocks = nullptr;
size_t g_blockCount = 0;
size_t g_blockCapacity = 0;

Volume *volumeOf(FennickHandle h)
{
    if (h <= 0 || h > INT32_MAX)
        return nullptr;
    for (Volume &v : g_volumes)
        if (v.fd == int(h))
            return &v;
    return nullptr;
}

Block *blockAt(const void *base)
{
    for (size_t i = 0; i < g_blockCount; ++i)
        if (g_blocks[i].base == base)
            return &g_blocks[i];
    return nullptr;
}

Block *blockContaining(const void *p)
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    for (size_t i = 0; i < g_blockCount; ++i) {
        const uintptr_t b = reinterpret_cast<uintptr_t>(g_blocks[i].base);
        if (a >= b && a - b < g_blocks[i].size)
            return &g_blocks[i];
    }
    return nullptr;
}

bool addBlock(const Block &b)
{
    if (g_blockCount == g_blockCapacity) {
        const size_t capacity = g_blockCapacity ? g_blockCapacity * 2 : 8;
        void *grown = realloc(g_blocks, capacity * sizeof(Block));
        if (!grown)
            return false;
        g_blocks = static_cast<Block *>(grown);
        g_blockCapacity = capacity;
    }
    g_blocks[g_blockCount++] = b;
    return true;
}

void removeBlock(Block *b)
{
    *b = g_blocks[--g_blockCount];
}

// Record `rec` of a registered block, fixed up; null when the block is not
// ours, the record does not lie inside it, or it is not a sound "FILE" record.
uint8_t *usableRecord(void *block, uint32_t rec, uint32_t *recSize)
{
    Block *b = block ? blockAt(block) : nullptr;
    if (!b || rec >= b->records)
        return nullptr;
    uint8_t *r = b->base + uint64_t(rec) * b->recordSize;
    if (!isFileRecord(r, b->recordSize))
        return nullptr;
    if (!applyFixup(r, b->recordSize)) {
        // Damaged: mark it as the file system itself does, so no call uses it.
        memcpy(r, "BAAD", 4);
        return nullptr;
    }
    *recSize = b->recordSize;
    return r;
}

// The bytes an attribute given by address may occupy: up to the end of its
// record inside a registered block, else its own length (at most a record).
bool attrAt(const void *p, Attr *a)
{
    if (!p)
        return false;
    const uint8_t *q = static_cast<const uint8_t *>(p);
    size_t avail;
    if (const Block *b = blockContaining(p)) {
        const uint64_t offset = uint64_t(q - b->base);
        const uint64_t recEnd = (offset / b->recordSize + 1) * b->recordSize;
        if (recEnd > b->size)
            return false;
        avail = size_t(recEnd - offset);
    } else {
        avail = ld32(q + 4);
        if (avail > kMaxRecordSize)
            return false;
    }
    return attrFromBytes(q, avail, a);
}

// Positioned read of the whole count, retrying interrupted and short reads.
// Bytes that could not be read are zeroed. Returns the bytes read.
uint64_t readFully(int fd, uint64_t offset, uint8_t *buf, uint64_t count)
{
    uint64_t done = 0;
    while (done < count) {
        const uint64_t want = count - done < kPiece ? count - done : kPiece;
        if (offset + done > uint64_t(INT64_MAX))
            break;
        const ssize_t n = pread(fd, buf + done, size_t(want), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += uint64_t(n);
    }
    if (done < count)
        memset(buf + done, 0, size_t(count - done));
    return done;
}

// Reads count bytes at a cluster, inside the volume (and its window) only;
// 1 when all arrived.
bool readClusters(const Volume &v, uint64_t lcn, uint8_t *buf, uint64_t count)
{
    const Geometry &g = v.geometry;
    // Only whole clusters belong to the volume, and only what its window holds.
    uint64_t end = g.volumeBytes / g.clusterSize * g.clusterSize;
    if (v.deviceBytes && v.deviceBytes < end)
        end = v.deviceBytes;
    if (lcn >= end / g.clusterSize) {
        memset(buf, 0, size_t(count));
        return count == 0;
    }
    const uint64_t offset = lcn * g.clusterSize;
    const uint64_t inside = end - offset;
    const uint64_t want = count < inside ? count : inside;
    const uint64_t got = readFully(v.fd, v.base + offset, buf, want);
    if (want < count)
        memset(buf + want, 0, size_t(count - want));
    return got == count;
}

// The read loop of ReadVCN on a checked attribute.
bool readAttribute(const Volume &v, const Attr &a, uint64_t *vcn, uint64_t count, uint8_t *buf)
{
    const uint64_t cluster = v.geometry.clusterSize;
    const NonResidentInfo info = nonResidentInfo(a);
    // Bytes above the initialized size are stale on disk: they read as zeros.
    // The sizes are valid in the extent that starts at VCN 0.
    const bool initKnown = info.firstVcn == 0 && info.initializedSize < info.dataSize;
    RunWalk walk(a);
    Run run;
    bool haveRun = false;
    bool complete = true;
    uint64_t pos = 0;
    while (pos < count) {
        const uint64_t at = *vcn;
        if (at > uint64_t(INT64_MAX) || int64_t(at) > info.lastVcn)
            break;
        while (!haveRun || at - run.startVcn >= run.length) {
            if (!walk.step(&run)) {
                haveRun = false;
                break;
            }
            haveRun = true;
            if (at < run.startVcn) {
                haveRun = false;
                break;
            }
        }
        if (!haveRun)
            break;
        const uint64_t clustersLeft = run.length - (at - run.startVcn);
        const uint64_t remaining = count - pos;
        const uint64_t piece = clustersLeft > remaining / cluster ? remaining : clustersLeft * cluster;
        if (run.sparse) {
            memset(buf + pos, 0, size_t(piece));
        } else {
            const uint64_t lcn = uint64_t(run.lcn) + (at - run.startVcn);
            if (!readClusters(v, lcn, buf + pos, piece))
                complete = false;
        }
        if (initKnown) {
            const uint64_t fileOffset = at <= UINT64_MAX / cluster ? at * cluster : UINT64_MAX;
            const uint64_t from = fileOffset >= info.initializedSize ? 0 : info.initializedSize - fileOffset;
            if (from < piece)
                memset(buf + pos + from, 0, size_t(piece - from));
        }
        *vcn = at + piece / cluster;
        pos += piece;
    }
    if (pos < count) {
        memset(buf + pos, 0, size_t(count - pos));
        return false;
    }
    return complete;
}

// Reads and fixes MFT record 0 into a buffer of its own (free() it), and finds
// its unnamed, non-resident $DATA.
uint8_t *readRecordZero(const Volume &v, Attr *data)
{
    const Geometry &g = v.geometry;
    uint8_t *rec = static_cast<uint8_t *>(malloc(g.recordSize));
    if (!rec)
        return nullptr;
    if (!readClusters(v, g.mftLcn, rec, g.recordSize) || !isFileRecord(rec, g.recordSize)
        || !applyFixup(rec, g.recordSize) || !findAttribute(rec, g.recordSize, 0x80, data)
        || !data->nonResident) {
        free(rec);
        return nullptr;
    }
    return rec;
}

// A window named by the path: "FILE@FIRST+LENGTH" (decimal bytes) for a
// path that names no file itself. The file's path goes into *file (free()
// it); false for a path of no such form.
bool windowOfPath(const char *path, char **file, uint64_t *first, uint64_t *length)
{
    const char *at = strrchr(path, '@');
    if (!at || at == path)
        return false;
    char *end = nullptr;
    errno = 0;
    const char *p = at + 1;
    if (*p < '0' || *p > '9')
        return false;
    *first = strtoull(p, &end, 10);
    if (errno || *end != '+' || end[1] < '0' || end[1] > '9')
        return false;
    p = end + 1;
    *length = strtoull(p, &end, 10);
    if (errno || *end != '\0' || *first > uint64_t(INT64_MAX) || *length > uint64_t(INT64_MAX) - *first)
        return false;
    const size_t n = size_t(at - path);
    *file = static_cast<char *>(malloc(n + 1));
    if (!*file)
        return false;
    memcpy(*file, path, n);
    (*file)[n] = '\0';
    return true;
}

void decodeRuns(const Attr &a, RunEntry *entries, uint32_t capacity)
{
    RunWalk walk(a);
    Run r;
    uint32_t i = 0;
    while (i < capacity && walk.step(&r)) {
        RunEntry e;
        e.NextVcn = r.startVcn + r.length;
        e.Lcn = uint64_t(r.lcn);
        memcpy(entries + i, &e, sizeof e);
        ++i;
    }
}

// Copies a name into a UTF-16 field of `capacity` units (which may be
// unaligned inside a packed record).
void copyName(const FileName &fn, uint8_t *dst, size_t capacity)
{
    const size_t n = fn.length < capacity ? fn.length : capacity;
    memcpy(dst, fn.name, n * 2);
    if (n < capacity)
        st16(dst + 2 * n, 0);
}

// One step of the path walk: the name of a record and its parent.
struct PathLevel {
    FileName name;
    bool isDirectory;
};

bool pathLevel(void *block, uint64_t rec, PathLevel *out)
{
    uint32_t recSize;
    if (rec > UINT32_MAX)
        return false;
    const uint8_t *r = usableRecord(block, uint32_t(rec), &recSize);
    if (!r)
        return false;
    FileName longName, dosName;
    namesOf(r, recSize, &longName, &dosName);
    out->name = longName.attr ? longName : dosName;
    out->isDirectory = (ld16(r + 0x16) & 0x0002) != 0;
    return out->name.attr != nullptr;
}

bool isDirectoryRecord(void *block, uint64_t rec)
{
    uint32_t recSize;
    if (rec > UINT32_MAX)
        return false;
    const uint8_t *r = usableRecord(block, uint32_t(rec), &recSize);
    return r && (ld16(r + 0x16) & 0x0002) != 0;
}

} // namespace

namespace fennick_internal {

bool registerBlock(void *base, uint64_t size, uint32_t recordSize)
{
    if (!base || recordSize < kMinRecordSize || blockAt(base))
        return false;
    return addBlock({static_cast<uint8_t *>(base), size, 0, recordSize, size / recordSize});
}

void unregisterBlock(void *base)
{
    if (Block *b = blockAt(base))
        if (b->mapLength == 0)
            removeBlock(b);
}

} // namespace fennick_internal

extern "C" {

FennickHandle OpenVolume(const char *path)
{
    memset(g_boot, 0, sizeof g_boot);
    g_bootGeometry = Geometry();
    if (!path)
        return FENNICK_INVALID_HANDLE;
    Volume *slot = nullptr;
    for (Volume &v : g_volumes)
        if (v.fd < 0) {
            slot = &v;
            break;
        }
    if (!slot)
        return FENNICK_INVALID_HANDLE;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    // A volume inside a larger file: a partition of a whole-disk image.
    uint64_t base = 0, windowBytes = 0;
    bool window = false;
    char *file = nullptr;
    if (fd < 0 && errno == ENOENT && windowOfPath(path, &file, &base, &windowBytes)) {
        fd = open(file, O_RDONLY | O_CLOEXEC);
        free(file);
        window = true;
    }
    if (fd < 0)
        return FENNICK_INVALID_HANDLE;
    if (fd < 3) {
        // Callers use 0 for "no volume": keep the standard descriptors free.
        const int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (high < 0)
            return FENNICK_INVALID_HANDLE;
        fd = high;
    }
    Geometry g;
    if ((window && windowBytes < sizeof g_boot) || readFully(fd, base, g_boot, sizeof g_boot) != sizeof g_boot
        || !parseBootSector(g_boot, &g)) {
        close(fd);
        return FENNICK_INVALID_HANDLE;
    }
    uint64_t deviceBytes = 0;
    struct stat st;
    if (fstat(fd, &st) == 0) {
        if (S_ISREG(st.st_mode))
            deviceBytes = uint64_t(st.st_size);
        else if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &deviceBytes) != 0)
            deviceBytes = 0;
    }
    if (window) {
        // What lies after the window belongs to another volume, or to none.
        deviceBytes = deviceBytes > base ? deviceBytes - base : 0;
        if (deviceBytes == 0 || windowBytes < deviceBytes)
            deviceBytes = windowBytes;
    }
    g_bootGeometry = g;
    slot->fd = fd;
    slot->geometry = g;
    slot->base = base;
    slot->deviceBytes = deviceBytes;
    return FennickHandle(fd);
}

int32_t CloseVolume(FennickHandle h)
{
    Volume *v = volumeOf(h);
    if (!v)
        return 0;
    const int fd = v->fd;
    v->fd = -1;
    return close(fd) == 0 ? 1 : 0;
}

int32_t ReadBootSector(FennickHandle h, void *buf512)
{
    Volume *v = volumeOf(h);
    if (!v || !buf512)
        return 0;
    return readFully(v->fd, v->base, static_cast<uint8_t *>(buf512), 512) == 512 ? 1 : 0;
}

int32_t GetMFTInfo(FennickHandle h, MftInfo *info)
{
    uint32_t capacity = 0;
    RunEntry *entries = nullptr;
    if (info) {
        capacity = info->RunCount;
        entries = info->Runs.Entries;
        memset(info, 0, sizeof *info);
        info->Runs.Entries = entries;
    }
    Volume *v = volumeOf(h);
    if (!v || !info)
        return 0;
    Attr data;
    uint8_t *rec = readRecordZero(*v, &data);
    if (!rec)
        return 0;
    const NonResidentInfo nr = nonResidentInfo(data);
    const uint64_t limit = v->deviceBytes ? v->deviceBytes : v->geometry.volumeBytes;
    int32_t ok = 0;
    if (nr.dataSize >= v->geometry.recordSize && nr.dataSize < kMaxTable && nr.dataSize <= limit) {
        const uint32_t runs = countRuns(data);
        info->Runs.Count = runs;
        if (entries) {
            decodeRuns(data, entries, capacity < runs ? capacity : runs);
            info->Runs.Valid = 1;
        }
        info->RunCount = runs;
        info->RecordCount = uint32_t(nr.dataSize / v->geometry.recordSize);
        info->DataSize = nr.dataSize;
        ok = 1;
    }
    free(rec);
    return ok;
}

uint32_t GetMFTRuns(FennickHandle h)
{
    Volume *v = volumeOf(h);
    if (!v)
        return 0;
    Attr data;
    uint8_t *rec = readRecordZero(*v, &data);
    if (!rec)
        return 0;
    const uint32_t runs = countRuns(data);
    free(rec);
    return runs;
}

void *MapMFT(FennickHandle h, const uint64_t *byteCount)
{
    Volume *v = volumeOf(h);
    if (!v || !byteCount)
        return nullptr;
    const uint64_t size = *byteCount;
    const uint32_t recSize = v->geometry.recordSize;
    const uint64_t limit = v->deviceBytes ? v->deviceBytes : v->geometry.volumeBytes;
    if (size < recSize || size >= kMaxTable || size > limit)
        return nullptr;
    Attr data;
    uint8_t *rec = readRecordZero(*v, &data);
    if (!rec)
        return nullptr;
    const size_t mapLength = size_t(size);
    void *m = mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
        free(rec);
        return nullptr;
    }
    uint8_t *block = static_cast<uint8_t *>(m);
    uint64_t vcn = 0;
    // An incomplete table (unreadable clusters, or a $DATA that continues in
    // extension records) keeps what was read; the rest stays zero.
    readAttribute(*v, data, &vcn, size, block);
    free(rec);
    const uint64_t records = size / recSize;
    for (uint64_t i = 0; i < records; ++i) {
        uint8_t *r = block + i * recSize;
        if (ld32(r) == kFileSignature && !applyFixup(r, recSize))
            memcpy(r, "BAAD", 4);
    }
    if (!addBlock({block, size, mapLength, recSize, records})) {
        munmap(block, mapLength);
        return nullptr;
    }
    return block;
}

void UnmapMFT(void *block)
{
    Block *b = block ? blockAt(block) : nullptr;
    if (!b || b->mapLength == 0)
        return;
    munmap(b->base, b->mapLength);
    removeBlock(b);
}

int32_t ReadVCN(FennickHandle h, const void *nonResidentAttr, uint64_t *vcn, const int64_t *byteCount,
                void *buf)
{
    Volume *v = volumeOf(h);
    Attr a;
    if (!v || !vcn || !byteCount || !buf || *byteCount < 0 || !attrAt(nonResidentAttr, &a) || !a.nonResident)
        return 0;
    return readAttribute(*v, a, vcn, uint64_t(*byteCount), static_cast<uint8_t *>(buf)) ? 1 : 0;
}

int32_t ReadLCN(FennickHandle h, const uint64_t *lcn, void *buf, const uint64_t *byteCount)
{
    Volume *v = volumeOf(h);
    if (!v || !lcn || !buf || !byteCount || *byteCount == 0)
        return 0;
    return readClusters(*v, *lcn, static_cast<uint8_t *>(buf), *byteCount) ? 1 : 0;
}

int32_t MapVCN2LCN(const void *nonResidentAttr, const uint64_t *vcn, uint64_t *lcn, uint64_t *runLength)
{
    if (!vcn || !lcn || !runLength)
        return 0;
    *lcn = 0;
    *runLength = 0;
    Attr a;
    Run r;
    if (!attrAt(nonResidentAttr, &a) || !mapVcn(a, *vcn, &r))
        return 0;
    *lcn = uint64_t(r.lcn) + (*vcn - r.startVcn);
    *runLength = r.length;
    return 1;
}

void *GetFileRecordFromBuffer(void *block, uint32_t record)
{
    Block *b = block ? blockAt(block) : nullptr;
    if (!b || record >= b->records)
        return nullptr;
    return b->base + uint64_t(record) * b->recordSize;
}

int32_t GetFileRecordRunsCount(void *block, uint32_t record)
{
    uint32_t recSize;
    const uint8_t *r = usableRecord(block, record, &recSize);
    if (!r)
        return 0;
    Attr data;
    if ((ld16(r + 0x16) & 0x0002) || !findAttribute(r, recSize, 0x80, &data))
        return -1;
    return int32_t(countRuns(data) & 0x7FFFFFFF);
}

int32_t GetFileRecordClustersFromBuffer(void *block, uint32_t record, RunList *runs)
{
    uint32_t recSize;
    const uint8_t *r = runs ? usableRecord(block, record, &recSize) : nullptr;
    if (!r)
        return 0;
    const uint32_t capacity = runs->Count;
    st16(reinterpret_cast<uint8_t *>(runs) + offsetof(RunList, Name), 0);
    Attr data;
    if (!(ld16(r + 0x16) & 0x0002) && findAttribute(r, recSize, 0x80, &data) && data.nonResident) {
        const uint32_t count = countRuns(data);
        RunEntry *entries = runs->Entries;
        if (entries)
            decodeRuns(data, entries, capacity < count ? capacity : count);
        runs->Valid = 1;
        runs->Count = count;
    }
    // The first $FILE_NAME whose name lies inside its value.
    AttrWalk walk(r, recSize);
    Attr a;
    FileName fn;
    while (walk.step(&a))
        if (a.type == 0x30 && fileNameOf(a, false, &fn)) {
            copyName(fn, reinterpret_cast<uint8_t *>(runs) + offsetof(RunList, Name), 255);
            break;
        }
    return 1;
}

void *GetFileStandardInformation(void *block, uint32_t record)
{
    uint32_t recSize;
    const uint8_t *r = usableRecord(block, record, &recSize);
    Attr a;
    if (!r || !findAttribute(r, recSize, 0x10, &a) || a.nonResident)
        return nullptr;
    uint32_t length;
    residentValue(a, &length);
    return length >= 16 ? const_cast<uint8_t *>(a.p) : nullptr;
}

int32_t GetFileName(void *block, uint32_t record, void **longName, void **dosName)
{
    if (longName)
        *longName = nullptr;
    if (dosName)
        *dosName = nullptr;
    uint32_t recSize;
    const uint8_t *r = usableRecord(block, record, &recSize);
    if (!r)
        return 0;
    FileName l, d;
    namesOf(r, recSize, &l, &d);
    if (longName)
        *longName = const_cast<uint8_t *>(l.attr);
    if (dosName)
        *dosName = const_cast<uint8_t *>(d.attr);
    return 1;
}

void *GetFileRecordAttribute(void *block, uint32_t record, uint32_t type)
{
    uint32_t recSize;
    const uint8_t *r = usableRecord(block, record, &recSize);
    Attr a;
    if (!r || !findAttribute(r, recSize, type, &a))
        return nullptr;
    return const_cast<uint8_t *>(a.p);
}

void *FindUnnamedAttribute(void *fileRecord, uint32_t type)
{
    if (!fileRecord)
        return nullptr;
    uint8_t *r = static_cast<uint8_t *>(fileRecord);
    size_t recSize;
    if (const Block *b = blockContaining(fileRecord)) {
        const uint64_t offset = uint64_t(r - b->base);
        const uint64_t recEnd = (offset / b->recordSize + 1) * b->recordSize;
        if (recEnd > b->size)
            return nullptr;
        recSize = size_t(recEnd - offset);
    } else {
        recSize = g_bootGeometry.recordSize;
    }
    if (recSize < kMinRecordSize || !isFileRecord(r, recSize))
        return nullptr;
    if (recSize % 512 == 0 && !applyFixup(r, recSize)) {
        memcpy(r, "BAAD", 4);
        return nullptr;
    }
    Attr a;
    return findAttribute(r, recSize, type, &a) ? const_cast<uint8_t *>(a.p) : nullptr;
}

int32_t GetFilePath(void *block, uint32_t record, uint16_t *buf, int32_t budgetBytes)
{
    if (!buf || !block || !blockAt(block) || budgetBytes < 0)
        return 0;
    // The text already in the buffer (normally none).
    const int64_t room = int64_t(budgetBytes) / 2;
    int64_t start = 0;
    while (start <= room && buf[start] != 0)
        ++start;
    if (start > room)
        return 0;
    const int64_t budget = int64_t(budgetBytes) - 2 * start;

    // First pass: walk up to the root and size what each level appends.
    enum { Fail, Root } outcome = Fail;
    int64_t total = 0;      // UTF-16 units appended
    int depth = 0;
    int64_t levelBudget = budget;
    uint64_t rec = record;
    int topAppends = -1;    // index of the top level that appends, -1 none
    bool topNameOnly = false;
    for (;; ++depth) {
        PathLevel level;
        if (depth >= kMaxPathDepth || !pathLevel(block, rec, &level))
            break;
        const int64_t nameBytes = 2 * int64_t(level.name.length);
        const uint64_t parent = level.name.parent;
        if (!isDirectoryRecord(block, parent)) {
            if (nameBytes <= levelBudget) {
                total += level.name.length;
                topAppends = depth;
                topNameOnly = true;
            }
            break;
        }
        if (parent == rec) {
            outcome = Root;
            break;
        }
        // The name, and the separator after a folder's name, must fit.
        if (nameBytes + (level.isDirectory ? 2 : 0) > levelBudget)
            break;
        total += level.name.length + (level.isDirectory ? 1 : 0);
        topAppends = depth;
        topNameOnly = false;
        levelBudget -= nameBytes + 2;
        rec = parent;
    }
    // Reaching the root is a success only for a record below it.
    const bool success = outcome == Root && depth > 0;

    // Second pass: write each level's text, from the record upwards, at its
    // place from the end.
    int64_t end = start + total;
    buf[end] = 0;
    rec = record;
    for (int i = 0; i <= topAppends; ++i) {
        PathLevel level;
        if (!pathLevel(block, rec, &level))
            break;
        const bool nameOnly = i == topAppends && topNameOnly;
        if (!nameOnly && level.isDirectory)
            buf[--end] = u'\\';
        end -= level.name.length;
        memcpy(buf + end, level.name.name, size_t(level.name.length) * 2);
        rec = level.name.parent;
    }
    return success ? 1 : 0;
}

int32_t ReadBytes(FennickHandle h, const uint64_t *lcn, void *buf, const uint32_t *byteCount)
{
    Volume *v = volumeOf(h);
    if (!v || !lcn || !buf || !byteCount || *byteCount == 0)
        return 0;
    return readClusters(*v, *lcn, static_cast<uint8_t *>(buf), *byteCount) ? 1 : 0;
}

} // extern "C"
