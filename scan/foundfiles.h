// The life of one found file, as far as it needs no window: its name, its
// exclusive creation inside the cache folder, the deleted directory entries
// that may name and size it, its true end, and its date.
#pragma once

#include "scan/structurewalk.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

struct UnitGeometry;

// "R#" + the counter formatted "##0000" + the extension (with its dot):
// 7 and ".jpg" give R#0007.jpg, 12345 gives R#12345.jpg.
QString RecoveredFileName(int64_t counter, const QString &extension);

// A name taken from the medium (a directory entry, bytes of a file) made
// safe to name a cache file: no path separators, no control characters, none
// of : * ? " < > |, no leading dots or blanks, no trailing dots or blanks.
// Empty when nothing usable is left.
QString SanitizeMediumName(const QString &name);

// The display line of a found file: the counter formatted "##000 " and the
// trimmed description; a line longer than 16 characters loses words from
// its middle (keeping the counter and the last word), then is cut to 16.
QString FoundFileDisplayLine(int64_t counter, const QString &description);

// Creates a file inside the folder (native path) exclusively: never through
// a link and never over an existing file. A name that exists gets "-1",
// "-2", ... before its extension. Returns the open descriptor (read and
// write: a walk may read the file back while it is written) or -1; name receives the name used.
int CreateFoundFile(const QString &folderNative, QString &name);

// The extensions whose found files are cut to their true end, and the RAW
// extensions (which keep one zero byte more). Upper case, without dots.
bool IsTrueEndExtension(const QString &extension);
bool IsRawExtension(const QString &extension);

// The length a found file keeps at its true end, given its last unit (the
// last `unitBytes` bytes of the file, or the whole file when shorter).
// Trailing sectors are stepped over only when they are zero throughout,
// then trailing zero bytes; a RAW file keeps one zero byte more. Never
// cuts a nonzero byte. fileLength == the returned value: nothing to cut.
int64_t TrueEndLength(const unsigned char *lastUnit, int64_t lastUnitLength, int64_t fileLength,
                      int64_t unitBytes, int32_t sectorBytes, bool raw, bool crw);

// The structure walk of a found file by its extension and first bytes: the
// picture walks (JPEG, PNG, GIF, TIFF and the RAW formats built on it, BMP
// and PCX) for the extensions of the true-end list, the other walks (RIFF,
// PDF, ZIP, OLE, MP3, CAB, SWF, EPS, PSD, ASF, ISO boxes, MPEG packs) by
// their signatures.
StructureFormat FoundFileFormat(const QString &extension, const unsigned char *head, size_t n);

// How long a run of empty sectors ends a found file of a type: 1 MiB
// after the last data of most types; 16 MiB for those whose content may
// hold long empty stretches (uncompressed sound, pictures and RAW data,
// databases, programs, documents and archives that may store such data);
// one sector for text. While its walk goes on, only a PDF (1 MiB), a ZIP,
// an OLE file and a movie (16 MiB, a movie cut short inside its media data)
// end on empty space: the other walks end the file themselves.
EmptyRunLimits FoundFileEmptyLimits(const QString &extension, StructureFormat format);

// Reads of an open file by offset, for the walks.
ReadBytesAt ReadBytesOfFile(int fd);

// TIFF and the RAW formats built on it, walked in a file once it is whole.
PictureExtent WalkTiffFile(const QString &nativePath);

// A picture file (JPEG, PNG, GIF, BMP, PCX, TIFF and the RAW formats built on
// it) that ends before its structure does: its walk still wanted bytes at the
// file's end, or a TIFF offset or length points past it. A whole file, one
// damaged inside, or one of another format: false.
bool PictureFileEndsEarly(const QString &nativePath);

// Cuts found files to their true end, with one buffer for a whole pass.
//
// A file whose structure walk succeeds inside the file is cut where its
// structure ends. A file whose data ran into empty space is cut where the
// empty space began. Then, for the types of the true-end list, the zero
// rule: trailing zero sectors and bytes of the last unit are stepped over,
// repeating while the whole last unit was zero; a RAW file keeps one zero
// byte more. It never cuts below the structure as far as it held, nor a BMP
// below the size its header states.
class TrueEndCutter {
public:
    // known: how the file ended as the scan wrote it, valid for a file of
    // knownLength bytes; without it (or when the file's length differs) the
    // file is walked here, read at most once. outcome receives the end used.
    // Returns the new length, -1 when the file could not be read.
    int64_t cut(const QString &nativePath, int64_t unitBytes, int32_t sectorBytes, const FileEnd *known = nullptr,
                int64_t knownLength = -1, FileEnd *outcome = nullptr);

private:
    unsigned char *space(size_t n);
    std::vector<unsigned char> buffer_;   // the walk's blocks, then the tail's
};

// One file, with a cutter of its own.
int64_t CutToTrueEnd(const QString &nativePath, int64_t unitBytes, int32_t sectorBytes);

// A found file as the finishing pass of an interrupted scan leaves it.
struct FinishedFile {
    QString name;            // in the folder
    int64_t length = 0;      // after the cut
    bool cutShort = false;   // lacks part of itself: list it marked with "!"
};

// The finishing pass over the files of a scan that was ended from outside
// (the program killed while it waited on the medium): every plain file of
// the folder is cut to its true end as the scan's finishing pass cuts it
// (its structure, the empty space after its data, the zero rule of the
// true-end list), each read at most once. The file that was open, the one
// written last, is cut short unless its structure shows it whole; any
// other file is when its structure says so. By name, without regard to
// case, as the found-file list shows a folder. Window-free: the start-up
// and the staged recovery call it before they show the list.
std::vector<FinishedFile> FinishInterruptedScan(const QString &folderNative, int64_t unitBytes = 512,
                                                int32_t sectorBytes = 512);

// Moves a file's modification time back to the date; a later date is not
// applied. False when the file could not be dated.
bool DateFoundFile(const QString &nativePath, const QDateTime &date);

// An entry of the deleted-entry list as the scan reads it.
struct ScanDeletedEntry {
    QString Name;          // 8.3 name; "?" in place of a deleted name's first character
    QString LongName;
    QDateTime Created;
    int64_t FirstCluster = 0;
    uint64_t Size = 0;     // bytes
    uint64_t Recoverable = 0;
    uint32_t Attributes = 0;   // 8 volume label, 16 directory
};

// The cursor over the deleted-entry list (sorted by first cluster) that
// offers the name and size of the next entry after the current unit.
class DeletedEntryCursor {
public:
    // extensions: the table's extensions (".jpg", ...), lower case.
    void reset(const std::vector<ScanDeletedEntry> *entries, const UnitGeometry *geometry,
               const QStringList &extensions, const QString &cacheNative);

    // NameFromDeletedEntry: advances to the first usable entry whose unit
    // lies after currentUnit (and not beyond the end + 1024); nextUnit then
    // is its unit, offeredName its name (sanitised, "?" removed), offeredSize
    // its size. Without one, nextUnit is that limit and the name empty.
    void NameFromDeletedEntry(int64_t currentUnit);
    // Repositions the cursor for a scan that starts at a unit (resume).
    void seek(int64_t currentUnit);

    int64_t nextUnit = INT64_MAX;
    QString offeredName;
    uint64_t offeredSize = 0;
    QDateTime offeredCreated;
    bool offeredExisting = false;   // the entry is not deleted (no "?")

private:
    const std::vector<ScanDeletedEntry> *entries_ = nullptr;
    const UnitGeometry *geometry_ = nullptr;
    QStringList extensions_;
    QString cache_;
    size_t position_ = 0;
};

// Whether an entry's name may name a file of a row's extension: the name's
// extension (from its first ".") contains the row's, or both are among
// .jpg .jpe .thm.
bool EntryNameFitsExtension(const QString &name, const QString &rowExtension);
