// The FAT side of quick undelete: raw 32-byte directory entries turned into
// entry records, the breadth-wise walk over every directory of a medium, and
// the judgement of how many bytes of a deleted entry can still be restored.
// Everything is read through the drive record (its FAT arrays, its geometry)
// and ReadDirectoryChain; what the medium holds is never trusted.
#pragma once

#include "drive/driveinfo.h"
#include "scan/signatures.h"
#include "undelete/entries.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// "Normal" for none of the bits 1, 2, 4, 8, 16, 32; else their names in the
// order vbVolume, Directory, Hidden, System, ReadOnly, Archive, separated by
// commas.
QString AttributesText(uint8_t attributes);
// A FAT date word and time word as an OLE date; parts out of range roll over
// (date word 0 and time word 0 give 30 November 1979, 00:00:00).
double FatDateTimeToDate(uint16_t dateWord, uint16_t timeWord);

// The FAT entry of a cluster, masked to the FAT's width (FAT32: 28 bits);
// -1 when the drive record holds no FAT entry for it.
int64_t FatEntryOf(const DriveInfoRecord &drive, int64_t cluster);
// The highest cluster number of the data area: TotalClusters + 1.
int64_t LastDataCluster(const DriveInfoRecord &drive);
// A first cluster that names a cluster of the data area.
bool IsDataCluster(const DriveInfoRecord &drive, int64_t cluster);

// Whether a cluster is in use, as far as the medium tells it.
enum class ClusterUse { Free, Used, Unknown };
// From the FAT arrays of the drive record; Unknown outside them.
ClusterUse FatClusterUse(const DriveInfoRecord &drive, int64_t cluster);

// Where the deleted entries of a list begin: the first clusters (in the
// data area) of its deleted FAT entries, files and folders alike, sorted.
// A deleted file's assumed clusters that run into one of them hold that
// file's or folder's bytes from there on, but only while that cluster still
// begins as its entry would: a folder with its "." (naming the cluster) and
// ".." entries, a file of a type the scan's signature table knows (by the
// extension of its 8.3 name) with that type's signature as the scan tests
// it. A cluster that begins otherwise holds what a later file wrote over
// it: its entry was overwritten and begins nothing. Files of other types
// begin where their entries say. The first bytes of a start are read from
// the source once, when a judgement first asks for them, through one handle
// held for the object's life; without a source, or where the read fails,
// every start counts and no entry is taken as overwritten. Made once for a
// pass over the list; sorting the list again does not change it.
class DeletedEntryStarts {
public:
    DeletedEntryStarts(const std::vector<DeletedEntryRecord> &entries, const DriveInfoRecord &drive,
                       const QString &source = QString());
    ~DeletedEntryStarts();
    DeletedEntryStarts(const DeletedEntryStarts &) = delete;
    DeletedEntryStarts &operator=(const DeletedEntryStarts &) = delete;
    // Whether one of them lies in from..to (both included) and still begins
    // as its entry would.
    bool AnyIn(int64_t from, int64_t to) const;
    // Whether a deleted entry of the list still begins as it would (true
    // for entries whose beginning tells nothing, and where it cannot tell).
    bool BeginsAsItWould(const DeletedEntryRecord &record) const;

private:
    // One deleted entry's beginning: its first cluster and what it expects
    // there (kAny: nothing to test, kFolder, or 1 + a type's number in
    // types_), and whether it is found there (-1 not yet looked at).
    struct Start {
        uint32_t cluster;
        int16_t expects;
        mutable int8_t found;
        bool operator<(const Start &o) const { return cluster != o.cluster ? cluster < o.cluster : expects < o.expects; }
        bool operator==(const Start &o) const { return cluster == o.cluster && expects == o.expects; }
    };
    static constexpr int16_t kAny = -1;
    static constexpr int16_t kFolder = 0;
    int16_t expectsOf(const DeletedEntryRecord &record) const;
    // Looks at the beginnings of the starts from `at` on that lie in
    // clusters in a row (one read for all of them).
    void look(size_t at) const;

    std::vector<Start> starts_;
    std::vector<QByteArray> types_;   // extensions (".jpg") of the deleted files
    std::vector<std::vector<const SignatureRecord *>> typeRows_;   // their rows in the table (or none)
    const DriveInfoRecord &drive_;
    QString source_;
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

// Fills Recoverable and Occupied of one FAT record from the FAT (NTFS records
// are left alone). An existing file gets Recoverable = Size. A deleted entry
// is taken to lie on consecutive clusters from its first cluster, since
// deletion clears its chain: Recoverable counts the clusters up to the first
// one that is bad or reserved, and any cluster in use on the way marks it
// Occupied, as does the first cluster of another deleted entry (of others,
// when given) after its own that still begins as that entry would. With
// others, an entry whose own free first cluster no longer begins as it
// would (others' BeginsAsItWould) was overwritten: Occupied too. A first
// cluster outside the data area gives 0.
void CheckDeletedChain(DeletedEntryRecord &record, const DriveInfoRecord &drive,
                       const DeletedEntryStarts *others = nullptr);

// Turns raw directory entries into records appended to an entry list:
// long-name pieces joined and checked against their 8.3 entry, deleted
// first characters as "?", OEM names, the FAT32 high-word repair of deleted
// entries, duplicates (same Name and first cluster) merged into the larger
// one, dates with the "1979" repair, and the path below the folder.
class FatEntryConverter {
public:
    // Works on the list (its existing records take part in the merge).
    FatEntryConverter(std::vector<DeletedEntryRecord> &entries, const DriveInfoRecord &drive);

    // Converts the entries of one folder, found at folderPath ("" for the
    // root; records get folderPath\LongName), whose first cluster is
    // folderCluster (0 for the FAT12/16 root). Entries after the end mark
    // (first byte 0) are no entries. The entries of a deleted folder are
    // deleted entries (kInDeletedFolder), whatever their first byte.
    void Convert(const std::vector<FatDirEntry> &raw, const QString &folderPath, uint32_t folderCluster,
                 bool deletedFolder = false);

    // The first cluster of the folder each record was found in (index as in
    // the list; 0 for records the converter did not add).
    uint32_t FolderOf(size_t index) const { return index < folderOf_.size() ? folderOf_[index] : 0; }

private:
    struct Key {
        QString name;
        int64_t a;
        int64_t b;
        bool operator==(const Key &) const = default;
    };
    friend size_t qHash(const Key &k, size_t seed) { return qHashMulti(seed, k.name, k.a, k.b); }

    void index(size_t i);
    void fill(DeletedEntryRecord &r, const FatDirEntry &e, const QString &longName, const QString &folderPath,
              bool deletedFolder) const;

    std::vector<DeletedEntryRecord> &entries_;
    const DriveInfoRecord &drive_;
    QHash<Key, size_t> byNameCluster_;   // (Name, FirstCluster): the first record
    QHash<Key, size_t> byNameSize_;      // (Name, Size, FirstCluster mod 65536): the first record
    std::vector<uint32_t> folderOf_;
};

// What the walk reports while it runs.
struct FatWalkHooks {
    // True when the walk must end (its time limit).
    std::function<bool()> timeUp;
    // Every 20 entries of a pass: the index reached and the highest index.
    std::function<void(int value, int maximum)> progress;
    // Once per pass (the window processes its messages).
    std::function<void()> betweenPasses;
};

struct FatWalkResult {
    int foldersWalked = 0;
    int foldersRefused = 0;   // chains that did not begin with their own "." and ".." entries
    bool timedOut = false;
};

// The breadth-wise walk below the records already in the list (normally the
// root's): every folder found in one pass is read in the next. A folder is
// read once (by its first cluster) and only when its first cluster begins
// with the "." and ".." entries. A deleted folder besides only while its
// first cluster is free and its "." names that cluster and its ".." the
// folder it was found in, since its cluster may belong to something else
// now; a live folder is read whatever its ".." names. So the walk ends on
// loops and shared clusters, lists every entry once and never puts an entry
// under a deleted folder that does not hold it. What a deleted folder holds,
// at any depth, is deleted.
FatWalkResult WalkFatFolders(const QString &drive, std::vector<DeletedEntryRecord> &entries,
                             FatEntryConverter &converter, const FatWalkHooks &hooks);
