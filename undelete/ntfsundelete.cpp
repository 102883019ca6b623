#include "undelete/ntfsundelete.h"

#include "drive/sectors.h"
#include "drive/system.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/rawio.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

namespace {

constexpr int64_t kPieceBytes = 8LL << 20;

template <typename T>
T ld(const void *p, size_t offset)
{
    T v;
    std::memcpy(&v, static_cast<const uint8_t *>(p) + offset, sizeof(T));
    return v;
}

QString nameOfAttribute(const void *attr)
{
    if (!attr)
        return {};
    const auto *a = static_cast<const uint8_t *>(attr);
    const int length = a[0x58];
    QString name(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        name[i] = QChar(char16_t(a[0x5A + 2 * i] | a[0x5A + 2 * i + 1] << 8));
    return name;
}

// Whether a $FILE_NAME attribute's name begins with "-%" (the mark of a
// file in use that is listed all the same).
bool nameBeginsWithMinusPercent(const void *attr)
{
    if (!attr)
        return false;
    const auto *a = static_cast<const uint8_t *>(attr);
    return a[0x58] >= 2 && a[0x5A] == '-' && a[0x5B] == 0 && a[0x5C] == '%' && a[0x5D] == 0;
}

// The text after the last "." (the whole name without one), lower case.
QString extensionOf(const QString &name)
{
    return name.mid(name.lastIndexOf(QLatin1Char('.')) + 1).toLower();
}

struct DataFacts {
    bool resident = false;
    uint64_t dataSize = 0;
    uint64_t allocated = 0;
    uint64_t firstVcn = 0;
    uint16_t flags = 0;
};

// The sizes of a $DATA attribute that the library found well-formed; a
// non-resident header too short for its sizes gives false.
bool dataFacts(const void *attr, DataFacts &f)
{
    const uint32_t length = ld<uint32_t>(attr, 4);
    f.resident = ld<uint8_t>(attr, 8) == 0;
    f.flags = ld<uint16_t>(attr, 0x0C);
    if (f.resident) {
        f.dataSize = f.allocated = ld<uint32_t>(attr, 0x10);
        return true;
    }
    if (length < 0x40)
        return false;
    f.firstVcn = ld<uint64_t>(attr, 0x10);
    f.allocated = ld<uint64_t>(attr, 0x28);
    f.dataSize = ld<uint64_t>(attr, 0x30);
    // No file holds more than a signed 64-bit size: such a record is damaged.
    return f.allocated <= uint64_t(INT64_MAX) && f.dataSize <= uint64_t(INT64_MAX);
}

// The runs of a record's $DATA as the library decodes them (in one pass:
// the list's length is bounded by the record).
bool decodedRuns(void *block, uint32_t rec, std::vector<RunEntry> &entries)
{
    RunList list{};
    if (GetFileRecordClustersFromBuffer(block, rec, &list) != 1 || list.Valid != 1)
        return false;
    entries.assign(list.Count, RunEntry{});
    list.Entries = entries.data();
    return GetFileRecordClustersFromBuffer(block, rec, &list) == 1 && list.Count == entries.size();
}

// Which of the runs the library decoded from a $DATA attribute are holes: a
// pair of the mapping pairs without offset bytes. The decoded runs do not say
// it (a hole gets the LCN of the run before it, as does a run that names
// those clusters again), so the pairs' header bytes are read once more, in
// the attribute's own bounds; a run not reached counts as clusters.
std::vector<char> holeRuns(const void *attr, size_t count)
{
    std::vector<char> hole(count, 0);
    const auto *a = static_cast<const uint8_t *>(attr);
    const uint32_t length = ld<uint32_t>(attr, 4);
    size_t at = ld<uint16_t>(attr, 0x20);
    for (size_t i = 0; i < count && at < length && a[at] != 0; ++i) {
        const unsigned lengthBytes = a[at] & 0x0F, offsetBytes = a[at] >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || length - at < 1 + lengthBytes + offsetBytes)
            break;
        hole[i] = offsetBytes == 0;
        at += 1 + lengthBytes + offsetBytes;
    }
    return hole;
}

// What runs describe from the first VCN on, up to `limit` clusters: the
// runs of clusters on the volume, the clusters in all, and the holes. Only
// what can be true of them is believed:
// - a run that leaves the volume ends the description where it leaves it;
// - holes belong to a file marked sparse or compressed, whatever its size
//   against the volume; in any other file a hole cannot be, and the file
//   ends before it;
// - no two runs of a file name the same cluster: the file ends after the
//   runs before the first one that names a cluster named before.
// A file cut short by these ends after its last run.
struct RunExtent {
    std::vector<NtfsClusterRun> runs;
    uint64_t clusters = 0;
    std::vector<std::pair<uint64_t, uint64_t>> holes;   // (first cluster counted from firstVcn, clusters)
};

// The first run (counted in file order) that names a cluster an earlier run
// names; runs.size() when none does. A sweep over the runs in cluster order
// that keeps those still open at each start: O(r log r) in the runs,
// whatever their lengths.
size_t firstRunNamedTwice(const std::vector<NtfsClusterRun> &runs)
{
    std::vector<size_t> order(runs.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return runs[a].lcn != runs[b].lcn ? runs[a].lcn < runs[b].lcn : a < b;
    });
    std::multiset<std::pair<uint64_t, size_t>> open;   // (end, run) of runs begun before
    std::multiset<size_t> openRuns;
    size_t first = runs.size();
    if (runs.size() < 2)
        return first;
    for (const size_t k : order) {
        while (!open.empty() && open.begin()->first <= runs[k].lcn) {
            openRuns.erase(openRuns.find(open.begin()->second));
            open.erase(open.begin());
        }
        // Every open run shares clusters with this one: the pair whose later
        // run comes first in the file is the one that counts.
        if (!openRuns.empty())
            first = std::min(first, std::max(k, *openRuns.begin()));
        open.emplace(runs[k].lcn + runs[k].count, k);
        openRuns.insert(k);
    }
    return first;
}

RunExtent extentOf(const std::vector<RunEntry> &entries, const std::vector<char> &hole, bool holesAllowed,
                   uint64_t firstVcn, uint64_t volumeClusters, uint64_t limit)
{
    struct Piece {
        bool hole;
        uint64_t lcn, count;
    };
    std::vector<Piece> pieces;
    RunExtent x;
    bool cut = false;   // the file ends before the runs do
    uint64_t vcn = firstVcn, clusters = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const RunEntry &e = entries[i];
        if (e.NextVcn <= vcn || clusters >= limit)
            break;
        uint64_t length = std::min(e.NextVcn - vcn, limit - clusters);
        bool stop = false;
        if (hole[i] ? !holesAllowed : e.Lcn >= volumeClusters) {
            cut = true;
            break;
        }
        if (!hole[i] && length > volumeClusters - e.Lcn) {
            length = volumeClusters - e.Lcn;
            stop = cut = true;
        }
        if (length > 0)
            pieces.push_back({bool(hole[i]), e.Lcn, length});
        clusters += length;
        if (stop)
            break;
        vcn = e.NextVcn;
    }
    std::vector<NtfsClusterRun> runs;
    std::vector<size_t> pieceOfRun;
    for (size_t i = 0; i < pieces.size(); ++i)
        if (!pieces[i].hole) {
            runs.push_back({pieces[i].lcn, pieces[i].count});
            pieceOfRun.push_back(i);
        }
    const size_t twice = firstRunNamedTwice(runs);
    if (twice < runs.size()) {
        pieces.resize(pieceOfRun[twice]);
        cut = true;
    }
    // A file cut short ends after its last run.
    if (cut)
        while (!pieces.empty() && pieces.back().hole)
            pieces.pop_back();
    for (const Piece &p : pieces) {
        if (p.hole)
            x.holes.emplace_back(x.clusters, p.count);
        else
            x.runs.push_back({p.lcn, p.count});
        x.clusters += p.count;
    }
    return x;
}

// The extent of a non-resident $DATA on a volume of clusterBytes-sized
// clusters and volumeBytes (0: not known): as far as its data size needs
// (the clusters beyond the allocation hold nothing of the file).
RunExtent extentOfData(const void *data, const DataFacts &f, const std::vector<RunEntry> &entries, int64_t clusterBytes,
                       int64_t volumeBytes)
{
    const uint64_t c = uint64_t(clusterBytes);
    const uint64_t wanted = std::min(f.dataSize, f.allocated);
    const uint64_t volumeClusters = volumeBytes > 0 ? uint64_t(volumeBytes) / c : UINT64_MAX;
    const bool holesAllowed = f.flags & (FENNICK_ATTR_SPARSE | FENNICK_ATTR_COMPRESSED);
    return extentOf(entries, holeRuns(data, entries.size()), holesAllowed, f.firstVcn, volumeClusters,
                    wanted / c + (wanted % c ? 1 : 0));
}

} // namespace

MUndeleteNTFS &NtfsModule()
{
    static MUndeleteNTFS module;
    return module;
}

namespace {
// The letter of a drive text ("E:", "e:\\"); null for an image's path.
QChar driveLetterOf(const QString &source)
{
    static const QRegularExpression drive(QStringLiteral("^([A-Za-z]):\\\\?$"));
    const auto m = drive.match(source.trimmed());
    return m.hasMatch() ? m.captured(1).at(0).toUpper() : QChar();
}
} // namespace

QString MUndeleteNTFS::VolumePath(const QString &source)
{
    const QChar letter = driveLetterOf(source);
    if (letter.isNull())
        return plat::toNative(source);
    const auto e = plat::DriveTable::instance().entry(letter);
    if (!e || e->device.isEmpty() || e->mediumAbsent || e->windowLength == 0)
        return {};
    // A partition of an image: the library reads inside its window.
    return plat::windowPath(e->device, e->windowOffset, e->windowLength);
}

bool MUndeleteNTFS::OpenMft(const QString &source)
{
    NtfsVolumeUsed = true;
    CloseMft();
    const QString path = VolumePath(source);
    if (path.isEmpty()) {
        NtfsVolumeHandle = FENNICK_INVALID_HANDLE;
        return false;
    }
    NtfsVolumeHandle = OpenVolume(path.toLocal8Bit().constData());
    if (NtfsVolumeHandle == FENNICK_INVALID_HANDLE)
        return false;
    NtfsMftInfo = MftInfo{};
    if (!GetMFTInfo(NtfsVolumeHandle, &NtfsMftInfo))
        return false;
    MftBlock = MapMFT(NtfsVolumeHandle, &NtfsMftInfo.DataSize);
    if (!MftBlock)
        return false;
    uint8_t boot[512];
    ClusterBytes = 0;
    VolumeBytes = 0;
    if (ReadBootSector(NtfsVolumeHandle, boot) == 1) {
        const uint32_t bps = ld<uint16_t>(boot, 11);
        const uint8_t spc = boot[13];
        const uint32_t sectors = spc <= 0x80 ? spc : (spc >= 0xE0 ? 1u << (256 - spc) : 0);
        ClusterBytes = int64_t(bps) * sectors;
        // The volume holds what its boot sector states and its medium has.
        const uint64_t total = ld<uint64_t>(boot, 0x28);
        VolumeBytes = bps && total <= uint64_t(INT64_MAX) / bps ? int64_t(total * bps) : 0;
        const QChar letter = driveLetterOf(source);
        const int64_t medium = !letter.isNull() ? MediumBytes(QString(letter) + QLatin1Char(':')) : QFileInfo(path).size();
        if (medium > 0 && (VolumeBytes == 0 || medium < VolumeBytes))
            VolumeBytes = medium;
    }
    MftLoaded = true;
    OpenedSource = source;
    return true;
}

void MUndeleteNTFS::CloseMft()
{
    if (NtfsVolumeHandle != 0) {
        UnmapMFT(MftBlock);
        if (NtfsVolumeHandle != FENNICK_INVALID_HANDLE)
            CloseVolume(NtfsVolumeHandle);
    }
    MftBlock = nullptr;
    NtfsVolumeHandle = 0;
    MftLoaded = false;
    OpenedSource.clear();
}

NtfsListResult MUndeleteNTFS::ListDeletedNtfsEntries(std::vector<DeletedEntryRecord> &entries, const QString &filter,
                                                     int64_t minBytes, int64_t maxBytes,
                                                     const std::function<void(int64_t, int64_t)> &progress)
{
    NtfsListResult result;
    if (!MftBlock || NtfsMftInfo.RecordCount < 16)
        return result;
    result.listed = true;
    const int64_t count = NtfsMftInfo.RecordCount;
    const int64_t step = std::max<int64_t>(1, count / 100);
    const bool all = filter == QLatin1String("all");
    std::vector<uint16_t> pathBuffer(1024 + 1);

    for (int64_t i = 16; i < count; ++i) {
        if (progress && i % step == 0)
            progress(i, count);
        const auto rec = uint32_t(i);
        const void *record = GetFileRecordFromBuffer(MftBlock, rec);
        if (!record)
            break;   // past the part of the table that was loaded
        // Most records are in use: they are passed over on their flag and
        // names alone, before anything else of them is looked at.
        void *longAttr = nullptr, *dosAttr = nullptr;
        if (!GetFileName(MftBlock, rec, &longAttr, &dosAttr) || (!longAttr && !dosAttr))
            continue;
        const bool inUse = ld<uint16_t>(record, 0x16) & FENNICK_RECORD_IN_USE;
        if (inUse && !nameBeginsWithMinusPercent(longAttr) && !nameBeginsWithMinusPercent(dosAttr))
            continue;
        if (GetFileRecordRunsCount(MftBlock, rec) < 0)
            continue;
        const void *data = GetFileRecordAttribute(MftBlock, rec, FENNICK_ATTR_DATA);
        if (!data)
            continue;
        const QString longName = nameOfAttribute(longAttr ? longAttr : dosAttr).toLower();
        const QString name = nameOfAttribute(dosAttr ? dosAttr : longAttr).toLower();
        if (name.isEmpty() && longName.isEmpty())
            continue;
        if (!all && !filter.contains(QLatin1Char('.') + extensionOf(longName))
            && !filter.contains(QLatin1Char('.') + extensionOf(name)))
            continue;
        bool workFile = false;
        for (const QString &n : {name, longName})
            workFile = workFile || n.contains(QLatin1String(".rbf")) || n.contains(QLatin1String(".thc"))
                || n.contains(QLatin1String(".rpc"));
        if (workFile)
            continue;
        pathBuffer[0] = 0;
        GetFilePath(MftBlock, rec, pathBuffer.data(), int32_t((pathBuffer.size() - 1) * 2));
        const QString path = QString::fromUtf16(reinterpret_cast<const char16_t *>(pathBuffer.data()));
        if (path.contains(QLatin1String("temp"), Qt::CaseInsensitive) || path.contains(QLatin1String("RIVozud"))
            || path.contains(QLatin1String("Backup")))
            continue;
        DataFacts f;
        if (!dataFacts(data, f))
            continue;
        if (f.dataSize > uint64_t(INT64_MAX) || int64_t(f.dataSize) < minBytes || f.allocated == 0
            || (maxBytes != 0 && int64_t(f.dataSize) > maxBytes))
            continue;

        ++result.matches;
        if (int64_t(entries.size()) >= kNtfsStoredEntries)
            continue;
        DeletedEntryRecord r;
        r.Name = name.isEmpty() ? longName : name;
        r.LongName = longName.isEmpty() ? name : longName;
        r.Path = path;
        r.MftIndex = int32_t(rec);
        if (const void *si = GetFileStandardInformation(MftBlock, rec)) {
            const uint16_t valueOffset = ld<uint16_t>(si, 0x14);
            r.Created = OleDateFromFileTime(ld<uint64_t>(si, valueOffset));
            r.Modified = OleDateFromFileTime(ld<uint64_t>(si, valueOffset + 8));
        }
        if (!f.resident) {
            uint64_t lcn = 0, run = 0;
            MapVCN2LCN(data, &f.firstVcn, &lcn, &run);
            r.FirstCluster = int32_t(uint32_t(lcn));
        }
        // The data size, and what a save writes: a record that claims more
        // than its runs can truly describe is recoverable only in part, or
        // not at all where they describe nothing of it.
        const uint64_t saveable = f.resident ? f.dataSize : SaveableBytes(rec).value_or(0);
        r.Size = f.dataSize == 0 ? 1 : int64_t(f.dataSize);
        r.Recoverable = f.dataSize == 0 ? 1 : int64_t(saveable);
        r.SetRecoverableInPart(saveable < f.dataSize);
        entries.push_back(std::move(r));
    }
    if (progress)
        progress(count, count);
    if (result.matches >= kNtfsStoredEntries - 1) {
        result.cut = true;
        if (entries.size() > size_t(kNtfsKeptUpperBound) + 1)
            entries.resize(size_t(kNtfsKeptUpperBound) + 1);
    }
    if (GetFreeMemoryMB() < 150)
        CloseMft();
    return result;
}

std::optional<std::vector<NtfsClusterRun>> MUndeleteNTFS::DeletedDataRuns(uint32_t mftIndex) const
{
    const void *record = MftBlock ? GetFileRecordFromBuffer(MftBlock, mftIndex) : nullptr;
    const void *data = record ? GetFileRecordAttribute(MftBlock, mftIndex, FENNICK_ATTR_DATA) : nullptr;
    DataFacts f;
    if (!data || !dataFacts(data, f))
        return std::nullopt;
    std::vector<NtfsClusterRun> runs;
    if (f.resident || (ld<uint16_t>(record, 0x16) & FENNICK_RECORD_IN_USE) || ClusterBytes <= 0)
        return runs;
    std::vector<RunEntry> entries;
    if (!decodedRuns(MftBlock, mftIndex, entries))
        return std::nullopt;
    return extentOfData(data, f, entries, ClusterBytes, VolumeBytes).runs;
}

std::optional<uint64_t> MUndeleteNTFS::SaveableBytes(uint32_t mftIndex) const
{
    return saveable(mftIndex, nullptr);
}

std::optional<uint64_t> MUndeleteNTFS::saveable(uint32_t mftIndex, std::vector<std::pair<uint64_t, uint64_t>> *holesOut) const
{
    const void *record = MftBlock ? GetFileRecordFromBuffer(MftBlock, mftIndex) : nullptr;
    const void *data = record ? GetFileRecordAttribute(MftBlock, mftIndex, FENNICK_ATTR_DATA) : nullptr;
    DataFacts f;
    if (!data || !dataFacts(data, f))
        return std::nullopt;
    if (f.resident)
        return f.dataSize;
    std::vector<RunEntry> entries;
    if (ClusterBytes <= 0 || !decodedRuns(MftBlock, mftIndex, entries))
        return std::nullopt;
    const RunExtent x = extentOfData(data, f, entries, ClusterBytes, VolumeBytes);
    // Clusters on the volume never give more than it holds (runs naming a
    // cluster twice end the file); holes only where the file may have them.
    const uint64_t bytes = std::min(std::min(f.dataSize, f.allocated), x.clusters * uint64_t(ClusterBytes));
    if (holesOut)
        *holesOut = x.holes;
    return bytes;
}

NtfsWrite MUndeleteNTFS::WriteNtfsEntryFile(uint32_t mftIndex, QFile &target, const std::function<bool()> &keepGoing)
{
    if (!MftBlock || !GetFileRecordFromBuffer(MftBlock, mftIndex))
        return NtfsWrite::Failed;
    const void *data = GetFileRecordAttribute(MftBlock, mftIndex, FENNICK_ATTR_DATA);
    DataFacts f;
    if (!data || !dataFacts(data, f))
        return NtfsWrite::Failed;
    if (f.resident) {
        const uint16_t offset = ld<uint16_t>(data, 0x14);
        const auto *value = static_cast<const char *>(data) + offset;
        return target.write(value, qint64(f.dataSize)) == qint64(f.dataSize) ? NtfsWrite::Complete : NtfsWrite::Failed;
    }
    if (ClusterBytes <= 0 || kPieceBytes % ClusterBytes != 0)
        return NtfsWrite::Failed;
    std::vector<std::pair<uint64_t, uint64_t>> holes;
    const std::optional<uint64_t> bytes = saveable(mftIndex, &holes);
    if (!bytes)
        return NtfsWrite::Failed;
    // Only what the runs describe is written: a size they do not cover is
    // no data of the file.
    const uint64_t total = *bytes, c = uint64_t(ClusterBytes);
    // Nothing of the data can be read: no file rather than an empty one.
    if (total == 0 && f.dataSize > 0)
        return NtfsWrite::Failed;
    bool complete = total == f.dataSize && !(f.flags & (FENNICK_ATTR_COMPRESSED | FENNICK_ATTR_ENCRYPTED));
    const uint64_t wholeClusters = (total + c - 1) / c * c;
    const int64_t pieceMax = int64_t(std::min<uint64_t>(wholeClusters, uint64_t(kPieceBytes)));
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(std::max<int64_t>(pieceMax, 1))]);
    if (!buffer)
        return NtfsWrite::Failed;
    uint64_t written = 0;
    size_t hole = 0;   // the next hole of the runs
    while (written < total) {
        // A hole takes no room on the volume and none in the file: the file
        // is made longer over it, however long a damaged record says it is.
        if (hole < holes.size() && written / c >= holes[hole].first) {
            const uint64_t end = std::min(total, (holes[hole].first + holes[hole].second) * c);
            ++hole;
            if (end > written) {
                if (!target.resize(qint64(end)) || !target.seek(qint64(end)))
                    return NtfsWrite::Failed;
                written = end;
                if (written < total && keepGoing && !keepGoing())
                    return NtfsWrite::Stopped;
            }
            continue;
        }
        uint64_t upTo = wholeClusters;
        if (hole < holes.size())
            upTo = std::min(upTo, holes[hole].first * c);
        const int64_t piece = int64_t(std::min<uint64_t>(uint64_t(pieceMax), upTo - written));
        std::memset(buffer.get(), 0, size_t(piece));
        // Each piece starts at its own VCN, whatever a failed read left.
        uint64_t vcn = f.firstVcn + written / c;
        if (ReadVCN(NtfsVolumeHandle, data, &vcn, &piece, buffer.get()) != 1)
            complete = false;
        const qint64 take = qint64(std::min<uint64_t>(uint64_t(piece), total - written));
        if (target.write(buffer.get(), take) != take)
            return NtfsWrite::Failed;
        written += uint64_t(take);
        if (written < total && keepGoing && !keepGoing())
            return NtfsWrite::Stopped;
    }
    return complete ? NtfsWrite::Complete : NtfsWrite::Incomplete;
}
