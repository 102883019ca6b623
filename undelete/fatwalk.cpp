#include "undelete/fatwalk.h"

#include "drive/fat.h"
#include "platform/rawio.h"
#include "platform/text.h"
#include "scan/prefixindex.h"
#include "scan/signatures.h"

#include <QSet>
#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <memory>

namespace {

enum class FatKind { None, Fat12, Fat16, Fat32 };

FatKind kindOf(const DriveInfoRecord &d)
{
    if (d.FileSystem == QLatin1String("FAT32"))
        return FatKind::Fat32;
    if (d.FileSystem == QLatin1String("FAT16"))
        return FatKind::Fat16;
    if (d.FileSystem == QLatin1String("FAT12"))
        return FatKind::Fat12;
    return FatKind::None;
}

// End-of-chain mark E and the first bad/reserved value M of a FAT.
struct Marks {
    int64_t end;
    int64_t stop;
};

Marks marksOf(FatKind k)
{
    switch (k) {
    case FatKind::Fat32: return {0x0FFFFFF8, 0x0FFFFFF0};
    case FatKind::Fat16: return {0xFFF8, 0xFFF0};
    case FatKind::Fat12: return {0xFF8, 0xFF0};
    default: return {0, 0};
    }
}

int64_t fatSize(const DriveInfoRecord &d)
{
    switch (kindOf(d)) {
    case FatKind::Fat32: return int64_t(d.Fat32Entries.size());
    case FatKind::Fat16: return int64_t(d.Fat16Entries.size());
    case FatKind::Fat12: return int64_t(d.Fat12Entries.size());
    default: return 0;
    }
}

uint32_t firstClusterOf(const FatDirEntry &e, bool fat32)
{
    const uint32_t high = fat32 ? uint32_t(e.ClusterHigh) << 16 : 0;
    return (high | e.ClusterLow) & 0x0FFFFFFFu;
}

uint8_t shortNameChecksum(const uint8_t *name11)
{
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

// The 13 UTF-16 characters of a long-name piece, cut at the first NUL.
QString longNamePiece(const FatDirEntry &e)
{
    const auto *b = reinterpret_cast<const uint8_t *>(&e);
    static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    QString piece;
    piece.reserve(13);
    for (int off : offsets) {
        const char16_t c = char16_t(b[off] | b[off + 1] << 8);
        if (c == 0)
            break;
        piece += QChar(c);
    }
    return piece;
}

// Bytes of an 8.3 name part, trimmed of blanks, as text: every 0xE5 becomes
// "?" before the OEM conversion (0xE5 is a letter in the OEM code page).
QString shortPart(const uint8_t *bytes, int n, bool live05)
{
    QByteArray raw(reinterpret_cast<const char *>(bytes), n);
    for (char &c : raw)
        if (uchar(c) == 0xE5)
            c = '?';
    // A live name whose first character is 0xE5 keeps it as 0x05.
    if (live05 && !raw.isEmpty() && raw[0] == 0x05)
        raw[0] = char(0xE5);
    int from = 0, to = int(raw.size());
    while (from < to && raw[from] == ' ')
        ++from;
    while (to > from && raw[to - 1] == ' ')
        --to;
    return plat::fromOem(raw.mid(from, to - from));
}

const double kYear1979 = OleDateSerial(1979, 1, 1);
const double kYear1980 = OleDateSerial(1980, 1, 1);

bool in1979(double date)
{
    return date >= kYear1979 && date < kYear1980;
}

} // namespace

QString AttributesText(uint8_t a)
{
    static const std::pair<uint8_t, const char *> names[] = {
        {8, "vbVolume,"}, {16, "Directory,"}, {2, "Hidden,"}, {4, "System,"}, {1, "ReadOnly,"}, {32, "Archive,"}};
    QString text;
    for (const auto &n : names)
        if (a & n.first)
            text += QLatin1String(n.second);
    if (text.isEmpty())
        return QStringLiteral("Normal");
    text.chop(1);
    return text;
}

double FatDateTimeToDate(uint16_t dateWord, uint16_t timeWord)
{
    return OleDateSerial(1980 + dateWord / 512, (dateWord / 32) % 16, dateWord % 32, timeWord / 2048,
                         (timeWord / 32) % 64, (timeWord % 32) * 2);
}

int64_t FatEntryOf(const DriveInfoRecord &d, int64_t cluster)
{
    if (cluster < 0)
        return -1;
    const auto i = size_t(cluster);
    switch (kindOf(d)) {
    case FatKind::Fat32:
        return i < d.Fat32Entries.size() ? int64_t(uint32_t(d.Fat32Entries[i]) & 0x0FFFFFFFu) : -1;
    case FatKind::Fat16: return i < d.Fat16Entries.size() ? int64_t(uint16_t(d.Fat16Entries[i])) : -1;
    case FatKind::Fat12: return i < d.Fat12Entries.size() ? int64_t(uint16_t(d.Fat12Entries[i]) & 0xFFF) : -1;
    default: return -1;
    }
}

int64_t LastDataCluster(const DriveInfoRecord &d)
{
    return int64_t(d.TotalClusters) + 1;
}

bool IsDataCluster(const DriveInfoRecord &d, int64_t cluster)
{
    return cluster >= 2 && cluster <= LastDataCluster(d) && cluster < fatSize(d);
}

ClusterUse FatClusterUse(const DriveInfoRecord &d, int64_t cluster)
{
    if (!IsDataCluster(d, cluster))
        return ClusterUse::Unknown;
    return FatEntryOf(d, cluster) == 0 ? ClusterUse::Free : ClusterUse::Used;
}

// --- where deleted entries begin -------------------------------------------------

namespace {

// The bytes of a start that are looked at: the scan's window of a unit;
// the most that one read of starts in a row takes.
constexpr int64_t kStartBytes = 1024;
constexpr int64_t kRunBytes = 256 * 1024;

// The built-in rows of the scan's signature table, every type.
const SignatureRows &builtInRows()
{
    static const SignatureRows rows = [] {
        SignatureRows r;
        BuildSignatureTable("all", r);
        return r;
    }();
    return rows;
}

// The rows of one type (by its extension) in the built-in table.
std::vector<const SignatureRecord *> typeRows(const QByteArray &ext)
{
    std::vector<const SignatureRecord *> rows;
    for (const SignatureRecord &r : builtInRows())
        if (r.Ext == ext && !r.Sig1.isEmpty())
            rows.push_back(&r);
    return rows;
}

// The extension of an entry's 8.3 name as the table holds it (".jpg").
QByteArray extensionOf(const DeletedEntryRecord &r)
{
    const qsizetype dot = r.Name.lastIndexOf(QLatin1Char('.'));
    return dot < 1 ? QByteArray() : r.Name.mid(dot).toLower().toLatin1();
}

} // namespace

struct DeletedEntryStarts::Reader {
    plat::Handle handle;
    bool opened = false;
    std::vector<unsigned char> bytes;   // the last read, kept for the next
    ~Reader() { handle.close(); }
};

DeletedEntryStarts::DeletedEntryStarts(const std::vector<DeletedEntryRecord> &entries, const DriveInfoRecord &d,
                                       const QString &source)
    : drive_(d), source_(source), reader_(std::make_unique<Reader>())
{
    for (const DeletedEntryRecord &r : entries) {
        // "." and ".." are a folder's names for itself and its parent.
        if (r.MftIndex != 0 || !r.IsDeleted() || r.Name.startsWith(QLatin1Char('.')))
            continue;
        const int64_t first = int64_t(uint32_t(r.FirstCluster));
        if (!IsDataCluster(d, first))
            continue;
        if (!r.IsDirectory()) {
            const QByteArray ext = extensionOf(r);
            if (!ext.isEmpty() && std::find(types_.begin(), types_.end(), ext) == types_.end() && types_.size() < 1000) {
                types_.push_back(ext);
                typeRows_.push_back(typeRows(ext));
            }
        }
        starts_.push_back(Start{uint32_t(first), expectsOf(r), -1});
    }
    std::sort(starts_.begin(), starts_.end());
    starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
}

DeletedEntryStarts::~DeletedEntryStarts() = default;

int16_t DeletedEntryStarts::expectsOf(const DeletedEntryRecord &r) const
{
    if (r.IsDirectory())
        return kFolder;
    const auto it = std::find(types_.begin(), types_.end(), extensionOf(r));
    const size_t i = size_t(it - types_.begin());
    return it == types_.end() || typeRows_[i].empty() ? kAny : int16_t(1 + i);
}

void DeletedEntryStarts::look(size_t at) const
{
    // The starts from `at` on whose clusters follow each other (deleted
    // files of a cluster or two lie so) are looked at with one read of
    // their clusters. What cannot be read tells nothing: those starts count.
    const int64_t bps = drive_.BytesPerSector;
    const int64_t clusterBytes = int64_t(drive_.SectorsPerCluster) * bps;
    const uint32_t first = starts_[at].cluster;
    const int64_t most = clusterBytes > 0 ? std::max<int64_t>(1, kRunBytes / clusterBytes) : 1;
    size_t end = at;
    bool test = false;
    while (end < starts_.size() && int64_t(starts_[end].cluster - first) < most
           && (end == at || starts_[end].cluster - starts_[end - 1].cluster <= 1)) {
        test |= starts_[end].expects != kAny;
        starts_[end++].found = 1;
    }
    if (!test || source_.isEmpty() || bps <= 0 || clusterBytes <= 0)
        return;
    Reader &rd = *reader_;
    if (!rd.opened) {
        rd.opened = true;
        const QString src = source_.trimmed();
        if (src.size() >= 5)
            rd.handle = plat::openFile(src, plat::Access::Read);
        else if (!src.isEmpty() && src[0].isLetter())
            rd.handle = plat::openVolume(src[0].toUpper(), plat::Access::Read);
    }
    if (!rd.handle.valid())
        return;
    const int64_t offset = ((int64_t(first) - drive_.FirstCluster) * drive_.SectorsPerCluster + drive_.FirstDataSector) * bps;
    rd.bytes.resize(size_t(int64_t(starts_[end - 1].cluster - first) * clusterBytes + kStartBytes));
    const int64_t got = std::max<int64_t>(0, rd.handle.readAt(offset, rd.bytes.data(), int64_t(rd.bytes.size())));
    const bool fat32 = kindOf(drive_) == FatKind::Fat32;
    for (size_t i = at; i < end; ++i) {
        const Start &s = starts_[i];
        const int64_t from = int64_t(s.cluster - first) * clusterBytes;
        if (s.expects == kAny || from >= got)
            continue;
        const unsigned char *b = rd.bytes.data() + from;
        const size_t n = size_t(std::min<int64_t>(kStartBytes, got - from));
        if (s.expects == kFolder) {
            // Its own "." (naming this cluster) and "..", both folders.
            FatDirEntry dot{}, dotDot{};
            if (n >= 64) {
                std::memcpy(&dot, b, 32);
                std::memcpy(&dotDot, b + 32, 32);
            }
            s.found = n >= 64 && b[0] == '.' && b[1] == ' ' && b[32] == '.' && b[33] == '.' && b[34] == ' '
                && (dot.Attributes & 0x10) && (dotDot.Attributes & 0x10) && firstClusterOf(dot, fat32) == s.cluster;
            continue;
        }
        // The scan's test of a unit's start, with the rows of its type.
        const int64_t left = (LastDataCluster(drive_) - int64_t(s.cluster) + 1) * clusterBytes;
        const size_t headLength = std::min<size_t>(n, size_t(bps));
        s.found = false;
        for (const SignatureRecord *row : typeRows_[size_t(s.expects - 1)])
            if (SignaturePrefixIndex::RowMatches(*row, b, headLength, b, n, b, n, left)) {
                s.found = true;
                break;
            }
    }
}

bool DeletedEntryStarts::AnyIn(int64_t from, int64_t to) const
{
    if (to < from || to < 0 || from > int64_t(UINT32_MAX))
        return false;
    const uint32_t low = uint32_t(std::max<int64_t>(from, 0));
    for (auto it = std::lower_bound(starts_.begin(), starts_.end(), Start{low, INT16_MIN, -1});
         it != starts_.end() && int64_t(it->cluster) <= to; ++it) {
        if (it->found < 0)
            look(size_t(it - starts_.begin()));
        if (it->found > 0)
            return true;
    }
    return false;
}

bool DeletedEntryStarts::BeginsAsItWould(const DeletedEntryRecord &r) const
{
    const Start key{uint32_t(r.FirstCluster), expectsOf(r), -1};
    const auto it = std::lower_bound(starts_.begin(), starts_.end(), key);
    if (it == starts_.end() || !(*it == key) || key.expects == kAny)
        return true;
    if (it->found < 0) {
        // The first of the starts at its cluster, so that one read serves them all.
        auto first = it;
        while (first != starts_.begin() && std::prev(first)->cluster == key.cluster)
            --first;
        look(size_t(first - starts_.begin()));
    }
    return it->found > 0;
}

void CheckDeletedChain(DeletedEntryRecord &r, const DriveInfoRecord &d, const DeletedEntryStarts *others)
{
    if (r.MftIndex > 0)
        return;
    if (!r.IsDirectory() && !r.IsDeleted()) {
        r.Recoverable = r.Size;
        return;
    }
    const int64_t c = int64_t(d.SectorsPerCluster) * d.BytesPerSector;
    const FatKind kind = kindOf(d);
    if (c <= 0 || kind == FatKind::None)
        return;
    const int64_t first = int64_t(uint32_t(r.FirstCluster));
    // A first cluster outside the data area names no data of the entry.
    if (!IsDataCluster(d, first)) {
        r.Recoverable = 0;
        return;
    }
    const Marks m = marksOf(kind);
    const int64_t e = FatEntryOf(d, first);
    if (e != 0) {
        // The first cluster is allocated again. A one-cluster entry whose
        // cluster ends a chain may still hold its bytes, but the cluster is
        // in use: never a clean verdict.
        if (e >= m.end && r.Size <= c)
            r.Recoverable = r.Size;
        r.Occupied = -1;
        return;
    }
    // Its first cluster holding another file's bytes now: overwritten.
    if (others && r.Occupied == 0 && !others->BeginsAsItWould(r))
        r.Occupied = -1;
    // The clusters the size needs (a folder: one); each after the first is
    // looked at up to the first bad or reserved one.
    const int64_t needed = std::max<int64_t>(1, (std::max<int64_t>(r.Size, 0) + c - 1) / c);
    int64_t i = 1;
    for (; i < needed; ++i) {
        const int64_t cluster = first + i;
        if (!IsDataCluster(d, cluster))
            break;
        const int64_t f = FatEntryOf(d, cluster);
        if (f != 0 && f >= m.stop)
            break;
        if (f != 0)
            r.Occupied = -1;
    }
    // Clusters taken: first .. first + i - 1. Where another deleted file or
    // folder began among them, and its cluster still begins so, the bytes
    // from there on are its own (a file that lay in pieces): never a clean
    // verdict either. One whose beginning this file wrote over begins
    // nothing. The same first cluster is no other file's beginning: it is
    // this file seen again (through a deleted copy of its folder) or one
    // that took its place.
    if (others && r.Occupied == 0 && i > 1 && others->AnyIn(first + 1, first + i - 1))
        r.Occupied = -1;
    int64_t bytes = i * c;
    if (bytes > r.Size && r.Size > 0)
        bytes = r.Size;
    if (!r.IsDirectory() && r.Size == 0)
        return;
    if (bytes != 0)
        r.Recoverable = bytes;
}

// --- the converter ------------------------------------------------------------

FatEntryConverter::FatEntryConverter(std::vector<DeletedEntryRecord> &entries, const DriveInfoRecord &drive)
    : entries_(entries), drive_(drive)
{
    byNameCluster_.reserve(qsizetype(entries.size()) * 2 + 64);
    for (size_t i = 0; i < entries.size(); ++i)
        index(i);
    folderOf_.assign(entries.size(), 0);
}

void FatEntryConverter::index(size_t i)
{
    const DeletedEntryRecord &r = entries_[i];
    if (r.IsEmpty())
        return;
    byNameCluster_.insert(Key{r.Name, r.FirstCluster, 0}, i);
    byNameSize_.insert(Key{r.Name, r.Size, uint32_t(r.FirstCluster) & 0xFFFF}, i);
}

void FatEntryConverter::fill(DeletedEntryRecord &r, const FatDirEntry &e, const QString &longName,
                             const QString &folderPath, bool deletedFolder) const
{
    r.LongName = longName.isEmpty() ? r.Name : longName;
    r.Path = folderPath.isEmpty() ? r.LongName : folderPath + QLatin1Char('\\') + r.LongName;
    r.Attributes = e.Attributes | (deletedFolder ? DeletedEntryRecord::kInDeletedFolder : 0);
    r.Created = FatDateTimeToDate(e.CreateDate, e.CreateTime) + double(e.CreateTenths) / 8640000.0;
    r.Modified = FatDateTimeToDate(e.WriteDate, e.WriteTime);
    r.Accessed = FatDateTimeToDate(e.AccessDate, 0);
    // A date word of 0 reads as 1979: a missing date takes the write date,
    // as does a creation after the last write.
    if (in1979(r.Created) || std::floor(r.Modified) < std::floor(r.Created))
        r.Created = r.Modified;
    if (in1979(r.Accessed))
        r.Accessed = r.Modified;
}

void FatEntryConverter::Convert(const std::vector<FatDirEntry> &raw, const QString &folderPath, uint32_t folderCluster,
                                bool deletedFolder)
{
    const bool fat32 = kindOf(drive_) == FatKind::Fat32;
    const bool removable = drive_.DriveType == QLatin1String("Removable");
    const int64_t lastCluster = LastDataCluster(drive_);

    const size_t folderStart = entries_.size();
    QString pending;            // long name gathered so far
    int pendingChecksum = -1;
    bool pendingDeleted = false;

    for (const FatDirEntry &e : raw) {
        const auto *b = reinterpret_cast<const uint8_t *>(&e);
        if (b[0] == 0x00)
            break;   // the end mark: what follows was never used
        if ((e.Attributes & 0x3F) == 0x0F) {
            // Pieces come last part first; a piece of another name (another
            // checksum, or deleted where the others are not) starts afresh.
            const bool deleted = b[0] == 0xE5;
            if (pendingChecksum != b[13] || pendingDeleted != deleted)
                pending.clear();
            pending.prepend(longNamePiece(e));
            pendingChecksum = b[13];
            pendingDeleted = deleted;
            continue;
        }
        const bool blank = std::all_of(b, b + 8, [](uint8_t c) { return c == ' '; });
        if (blank || (e.Attributes & 0x08))
            continue;   // long-name pieces stay pending
        if (b[0] == '.' && (b[1] == ' ' || (b[1] == '.' && b[2] == ' ')))
            continue;   // the folder's own "." and ".."
        const bool deleted = b[0] == 0xE5;
        QString longName;
        if (!pending.isEmpty()) {
            // A live entry's pieces carry its checksum; a deleted entry has
            // lost its first byte, so its pieces must be deleted too.
            const bool belongs = deleted ? pendingDeleted : (!pendingDeleted && pendingChecksum == shortNameChecksum(b));
            if (belongs)
                longName = pending;
            pending.clear();
            pendingChecksum = -1;
        }

        DeletedEntryRecord r;
        const QString base = shortPart(b, 8, !deleted);
        const QString ext = shortPart(b + 8, 3, false);
        r.Name = ext.isEmpty() ? base : base + QLatin1Char('.') + ext;
        if (longName.isEmpty()) {
            // Without a long name the 8.3 name shows in the case its entry
            // asks for (lower-case base or extension).
            const QString shownBase = (e.Reserved & 0x08) ? base.toLower() : base;
            const QString shownExt = (e.Reserved & 0x10) ? ext.toLower() : ext;
            longName = shownExt.isEmpty() ? shownBase : shownBase + QLatin1Char('.') + shownExt;
        }
        r.Size = e.Size;
        int64_t cluster = firstClusterOf(e, fat32);
        // A deleted FAT32 entry whose high word was cleared: the high word
        // of an entry with the same name and size, else of the entry before
        // it in this folder. Only a cluster in use asks for it (a deleted
        // file's clusters are free), and only a free cluster answers.
        if (removable && fat32 && deleted && e.ClusterHigh == 0 && lastCluster > 0xFFFF
            && FatEntryOf(drive_, cluster) != 0) {
            auto it = byNameSize_.constFind(Key{r.Name, r.Size, cluster & 0xFFFF});
            if (it != byNameSize_.constEnd()) {
                cluster = uint32_t(entries_[*it].FirstCluster);
            } else if (entries_.size() > folderStart) {
                const int64_t previous = int64_t(uint32_t(entries_.back().FirstCluster)) & 0x0FFFFFFF;
                int64_t candidate = cluster;
                while (candidate < previous && candidate + 0x10000 <= lastCluster)
                    candidate += 0x10000;
                if (FatEntryOf(drive_, candidate) == 0)
                    cluster = candidate;
            }
        }
        r.FirstCluster = int32_t(cluster);

        auto dup = byNameCluster_.constFind(Key{r.Name, r.FirstCluster, 0});
        if (dup != byNameCluster_.constEnd()) {
            // The larger one is kept; a live entry is never shadowed by an
            // unmarked copy of it in a deleted folder (a folder moved by a
            // tool that left the old one behind).
            DeletedEntryRecord &kept = entries_[*dup];
            const bool keptInDeleted = kept.Attributes & DeletedEntryRecord::kInDeletedFolder;
            const bool oneLive = !deleted && deletedFolder != keptInDeleted;
            if (oneLive ? keptInDeleted : r.Size > kept.Size) {
                fill(r, e, longName, folderPath, deletedFolder);
                kept = r;
                if (*dup < folderOf_.size())
                    folderOf_[*dup] = folderCluster;
            }
            continue;
        }
        fill(r, e, longName, folderPath, deletedFolder);
        entries_.push_back(std::move(r));
        folderOf_.resize(entries_.size(), 0);
        folderOf_.back() = folderCluster;
        index(entries_.size() - 1);
    }
}

// --- the walk -------------------------------------------------------------------

FatWalkResult WalkFatFolders(const QString &drive, std::vector<DeletedEntryRecord> &entries,
                             FatEntryConverter &converter, const FatWalkHooks &hooks)
{
    FatWalkResult result;
    const DriveInfoRecord &d = DriveInfo();
    const FatKind kind = kindOf(d);
    if (kind == FatKind::None)
        return result;
    const uint32_t rootCluster = kind == FatKind::Fat32 ? uint32_t(d.RootCluster) : 0;
    QSet<uint32_t> walked;
    walked.insert(rootCluster);

    size_t from = 0;
    while (from < entries.size()) {
        if (hooks.timeUp && hooks.timeUp()) {
            result.timedOut = true;
            break;
        }
        const size_t to = entries.size();
        for (size_t k = from; k < to; ++k) {
            if (hooks.progress && k % 20 == 0)
                hooks.progress(int(k), int(entries.size()) - 1);
            const DeletedEntryRecord &r = entries[k];
            if (!r.IsDirectory() || r.FirstCluster == 0 || r.Name.startsWith(QLatin1Char('.')))
                continue;
            const uint32_t cluster = uint32_t(r.FirstCluster);
            if (!IsDataCluster(d, cluster) || walked.contains(cluster))
                continue;
            // A deleted folder's cluster in use holds something else now.
            if (r.IsDeleted() && FatEntryOf(d, cluster) != 0)
                continue;
            if (hooks.timeUp && hooks.timeUp()) {
                result.timedOut = true;
                return result;
            }
            walked.insert(cluster);
            bool accepted = false;
            ReadDirectoryChain(drive, int32_t(cluster), accepted);
            const std::vector<FatDirEntry> &raw = DriveInfo().CurrentDirEntries;
            if (!accepted || raw.size() < 2) {
                ++result.foldersRefused;
                continue;
            }
            // A deleted folder's cluster may hold another folder now: its "."
            // must name the folder itself and its ".." the folder it was
            // found in (0, or the FAT32 root's cluster, for the root). A live
            // folder is one whatever its ".." says; the walked clusters keep
            // its loops finite.
            if (entries[k].IsDeleted()) {
                const uint32_t self = firstClusterOf(raw[0], kind == FatKind::Fat32);
                const uint32_t parent = firstClusterOf(raw[1], kind == FatKind::Fat32);
                const uint32_t expected = converter.FolderOf(k);
                const bool parentOk =
                    parent == expected || (expected == rootCluster && (parent == 0 || parent == rootCluster));
                if (self != cluster || !parentOk) {
                    ++result.foldersRefused;
                    continue;
                }
            }
            const QString path = entries[k].Path;
            converter.Convert(raw, path, cluster, entries[k].IsDeleted());
            ++result.foldersWalked;
        }
        from = to;
        if (hooks.betweenPasses)
            hooks.betweenPasses();
    }
    return result;
}
