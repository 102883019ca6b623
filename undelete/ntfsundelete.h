// Quick undelete on NTFS (the module MUndeleteNTFS): the volume's master file
// table is loaded through the Fennick library, its records whose in-use flag
// is clear become entry records, and a record's data is written to a file run
// by run. One volume at a time, as the library serves one.
#pragma once

#include "ntfs/fennick.h"
#include "undelete/entries.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QFile;

// The limits a listing keeps; what lies beyond is counted, not stored.
constexpr int64_t kNtfsStoredEntries = 26001;
constexpr int kNtfsKeptUpperBound = 25000;

struct NtfsListResult {
    bool listed = false;     // the table had at least 16 records
    int64_t matches = 0;     // records that passed the filters
    bool cut = false;        // more than 26,000 matched: the list is cut to 0..25,000
};

// How a record's data came out.
enum class NtfsWrite {
    Complete,        // every byte of the data was read
    Incomplete,      // some runs could not be read (zeros there), or the data is compressed or encrypted
    ClustersInUse,   // read whole, but clusters of it belong to a file again
    Stopped,         // the save was stopped part-way
    Failed,          // no record, no data, none of the data readable, or the file could not be written
};

// Consecutive clusters of a record's data on the volume.
struct NtfsClusterRun {
    uint64_t lcn = 0;
    uint64_t count = 0;
};

struct MUndeleteNTFS {
    FennickHandle NtfsVolumeHandle = 0;
    void *MftBlock = nullptr;
    MftInfo NtfsMftInfo{};
    bool MftLoaded = false;
    bool NtfsVolumeUsed = false;   // set by every OpenMft, never cleared
    QString OpenedSource;          // the source of the loaded table
    int64_t ClusterBytes = 0;      // of the opened volume
    int64_t VolumeBytes = 0;       // of the opened volume, as its boot sector states it, at most its medium's

    // The volume behind a source: a drive "E:" (its device, or the window of
    // its partition inside an image, as the library names one) or the
    // internal path of an image.
    static QString VolumePath(const QString &source);

    // Loads the table of the source; false when there is none afterwards.
    bool OpenMft(const QString &source);
    void CloseMft();

    // Lists the deleted records into the entry list (records from 16 whose
    // in-use flag is clear, or whose name begins with "-%"), kept by the
    // extension filter (".jpg.cr2" or "all"), skipping the program's work
    // files and paths holding "Temp" (any case), "RIVozud" or "Backup", and
    // data sizes below minBytes or above maxBytes (0: no upper limit). An
    // entry's Size is the data size (1 for none); its Recoverable what a save
    // writes (SaveableBytes), and it is marked recoverable in part whenever
    // that is less than the data size (Recoverable 0: nothing of it).
    // The list ends with no spare slot. progress(record, recordCount) is
    // called about every 1% of the records.
    NtfsListResult ListDeletedNtfsEntries(std::vector<DeletedEntryRecord> &entries, const QString &filter,
                                          int64_t minBytes, int64_t maxBytes,
                                          const std::function<void(int64_t, int64_t)> &progress = {});

    // The clusters that hold the data of a deleted record (up to its data
    // size, holes left out): empty for resident data and for a record in
    // use, whose clusters are its own; none without a table or a record.
    std::optional<std::vector<NtfsClusterRun>> DeletedDataRuns(uint32_t mftIndex) const;

    // The bytes of a record's data that a save writes: its data size, cut
    // to what its runs describe from its first VCN on, as far as they can be
    // true: up to a run that leaves the volume, before a hole in data not
    // marked sparse or compressed (holes of a sparse file count whatever its
    // size against the volume), and after the runs before one that names a
    // cluster named before. Resident data: its value. Empty without a table,
    // a record or its $DATA.
    std::optional<uint64_t> SaveableBytes(uint32_t mftIndex) const;

    // Writes the data of a record into an open file, in pieces of at most
    // 8 MiB: SaveableBytes of it, Complete only when that is the whole data
    // size (holes left as holes, zeros past the initialized size); Failed
    // when none of a data size above 0 can be written. keepGoing is asked
    // after every piece; false ends the write (Stopped).
    NtfsWrite WriteNtfsEntryFile(uint32_t mftIndex, QFile &target, const std::function<bool()> &keepGoing = {});

private:
    // SaveableBytes, and the holes of the runs inside them (first cluster
    // counted from the first VCN, clusters).
    std::optional<uint64_t> saveable(uint32_t mftIndex, std::vector<std::pair<uint64_t, uint64_t>> *holesOut) const;
};

// The program's one NTFS module.
MUndeleteNTFS &NtfsModule();
