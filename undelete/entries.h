// The directory entries that quick undelete finds, deleted or existing, FAT or
// NTFS: one record type, its file form (shared by DirEnt.dat and the disk
// image index), the dates it holds, the sort of the entry list and the lines
// of the two entry lists.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <vector>

// One directory entry. Dates are OLE automation dates: days since 30 December
// 1899, the fraction being the time of day (below 0 the fraction still counts
// forward: -1.25 is 29 December 1899, 06:00).
struct DeletedEntryRecord {
    QString Name;          // FAT: the 8.3 name, "?" for a deleted entry's first character; NTFS: lower case
    QString LongName;      // FAT: the long name, else Name; NTFS: the long (Win32 or POSIX) name, lower case
    QString Path;          // from the volume root, the entry's own name included, "\" between folders
    int32_t MftIndex = 0;  // NTFS: the record number (16 or above); FAT: 0
    double Created = 0;
    double Accessed = 0;
    double Modified = 0;
    int32_t FirstCluster = 0;   // FAT: first cluster; NTFS: LCN of the data's first VCN (0 when resident)
    int64_t Size = 0;           // bytes
    int64_t Recoverable = 0;    // bytes a save can restore; 0: none or not judged yet
    int32_t Attributes = 0;     // FAT attribute byte: 1 read-only, 2 hidden, 4 system, 8 label, 16 directory,
                                // 32 archive; above it kInDeletedFolder and kRecoverablePart
    int16_t Occupied = 0;       // -1: a cluster of the entry is in use by another file

    // Set above the attribute byte: the entry was found inside a deleted
    // folder (at any depth), so it is deleted whatever its own first byte
    // says. Files written without it read as before.
    static constexpr int32_t kInDeletedFolder = 0x100;
    // Set above the attribute byte: a save restores only part of the entry
    // (its first Recoverable bytes; with Recoverable 0, none of it). It is
    // the entry's verdict "partly", whatever its sizes are.
    static constexpr int32_t kRecoverablePart = 0x200;

    bool IsEmpty() const { return Name.isEmpty(); }
    // FAT: the name begins with "?", or the entry lies in a deleted folder;
    // an NTFS listing holds deleted records only.
    bool IsDeleted() const
    {
        return MftIndex > 0 || Name.startsWith(QLatin1Char('?')) || (Attributes & kInDeletedFolder) != 0;
    }
    bool IsDirectory() const { return (Attributes & 16) != 0; }
    bool RecoverableInPart() const { return (Attributes & kRecoverablePart) != 0; }
    void SetRecoverableInPart(bool inPart)
    {
        Attributes = inPart ? Attributes | kRecoverablePart : Attributes & ~kRecoverablePart;
    }
    // The attribute byte as the medium holds it.
    uint8_t AttributeByte() const { return uint8_t(Attributes & 0xFF); }

    bool operator==(const DeletedEntryRecord &) const = default;
};

// --- dates --------------------------------------------------------------------

// The date of a calendar day and a time of day given as the run time's
// DateSerial and TimeSerial take them: months, days, hours, minutes and
// seconds out of range roll over (month 0 is December of the year before,
// day 0 the last day of the month before, second 62 the next minute's 2).
double OleDateSerial(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);
// The local date and time of an OLE date (to the millisecond).
QDateTime OleDateToDateTime(double oleDate);
// The same instant in milliseconds since 1970 (UTC), as
// OleDateToDateTime(oleDate).toMSecsSinceEpoch() gives it, but without the
// time-zone file read again for every date where the local offset is plain
// (no change of offset near it): saving dates thousands of files. False for
// no valid date.
bool OleDateToMSecsSinceEpoch(double oleDate, qint64 &msecs);
double OleDateFromDateTime(const QDateTime &dateTime);
// A FILETIME (100 ns units since 1601, UTC) as a local OLE date.
double OleDateFromFileTime(uint64_t fileTime);

// --- the file form ------------------------------------------------------------

// Appends the record's file form: Name, LongName and Path each as an
// unsigned 16-bit byte count and UTF-8 bytes (cut to 65,535 bytes at a
// character boundary), then MftIndex (4), Created, Accessed, Modified (8 each,
// the date's double), FirstCluster, Size, Recoverable, Attributes (4 each) and
// Occupied (2), little-endian, no padding: 52 bytes and the texts. A size
// beyond 32 bits is written as 0xFFFFFFFF there, and the record then carries
// kEntryWideSizes in its attributes and both sizes whole (8 bytes each)
// after Occupied; records of smaller sizes are written as they always were.
void AppendEntryRecord(QByteArray &out, const DeletedEntryRecord &record);
QByteArray EntryRecordBytes(const DeletedEntryRecord &record);
// The smallest file form of a record (three empty texts).
constexpr int kEntryRecordMinBytes = 52;
// Above the attribute byte in the file form only: the sizes follow whole.
constexpr int32_t kEntryWideSizes = 0x400;

// Reads one record at pos and advances pos; false (pos unchanged) when the
// bytes end inside the record. A record written before the mark of being
// recoverable in part said so by a Size above a Recoverable above 0, which
// reads as the mark.
bool ReadEntryRecord(const char *data, qsizetype size, qsizetype &pos, DeletedEntryRecord &record);
// Reads records 0..upperBound from the bytes into a fresh list. The count is
// checked against the bytes before anything is allocated. True only when
// every record was read; the list is left empty otherwise.
bool ReadEntryRecords(const QByteArray &bytes, int upperBound, std::vector<DeletedEntryRecord> &records);
// Records 0..upperBound in their file form, one after the other.
QByteArray EntryRecordsBytes(const std::vector<DeletedEntryRecord> &records, int upperBound);

// --- the entry list -----------------------------------------------------------

// The list as a search starts it: the two empty slots 0 and 1.
std::vector<DeletedEntryRecord> EmptyEntryList();
// Cuts trailing empty slots, but never below index 1.
void CutTrailingEmptySlots(std::vector<DeletedEntryRecord> &entries);
// Sorts the list ascending: by Name (ordinal, UTF-16 code units) on NTFS,
// else by FirstCluster (signed). Entries with equal keys keep their order.
void SortEntryList(std::vector<DeletedEntryRecord> &entries, bool ntfs);

// Whether the entry has a long name of its own: NTFS entries always; a FAT
// entry when long-name entries gave it one, not when LongName holds only its
// 8.3 name (in the case its entry asks for).
bool HasOwnLongName(const DeletedEntryRecord &record);

// Which line an entry gets: a recoverable deleted entry in List2, one whose
// clusters are taken (List2's "impossible" group), an existing one in List1.
enum class EntryLineKind { Deleted, Occupied, Existing };

// The text an entry's line shows after its index, which is also the name
// saving gives the file: a long name of its own, whole and as written. An
// entry without one shows its 8.3 name, lower case in the occupied group and
// in List1; in List2 as its entry has it, or, were it 13 characters or more,
// the long name's first letter in place of the 8.3 name's lost one and "%"
// for "?".
QString EntryLineName(const DeletedEntryRecord &record, EntryLineKind kind);

// An entry line of List1 / List2: a blank, the index with at least four
// digits, two blanks (an occupied line: "@" and a blank), the text.
QString EntryLine(int index, bool occupied, const QString &text);
// The index of an entry line: the leading number of the trimmed line's first
// word ("0012@" gives 12); -1 when the line does not begin with a digit.
int EntryLineIndex(const QString &line);
// The text of an entry line after its index ("0005  " or "0005@ ").
QString EntryLineText(const QString &line);
