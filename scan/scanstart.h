// The decisions of the Scan command that need no window: which drive to
// offer for the cache, the folder the chooser proposes, whether a cache root
// may be used for the source, whether an interrupted scan can be resumed,
// the types that seem present on the medium, the texts of the questions and
// the file Searched.dat.
//
// The drives are seen through DriveFacts, so that the decisions can be tried
// on any table of drives; SystemDriveFacts() is the program's own view.
#pragma once

#include "drive/driveinfo.h"
#include "scan/scantable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

// What the decisions ask about drives and folders (internal paths).
struct DriveFacts {
    std::function<QStringList()> fixedDrives;             // roots "D:\" in list order
    std::function<int32_t(const QString &drive)> freeMB;  // free MB of the path's drive
    std::function<bool(const QString &folder)> folderExists;
    std::function<int(const QString &folder)> fileCount;  // files directly in the folder
    std::function<int(QChar letter)> driveType;           // 0 unknown, 2 removable, 3 fixed, 4 remote, ...
    std::function<bool(QChar a, QChar b)> sameDisk;       // on one physical disk
};

// ListDrivesOfType, GetDiskSpaceMB, FolderExists, CountFolderFiles and the
// platform's drive types and same-disk answer.
DriveFacts SystemDriveFacts();

// The best other drive for the cache: among the fixed drives, in list order,
// the one with the most free MB (a later one only with strictly more; a drive
// without free space never) that is neither the system drive nor the drive
// of the cache root, nor on the disk of a drive source. Its root ("D:\"), or
// empty when there is none.
QString BestOtherDrive(const DriveFacts &facts, QChar systemDrive, const QString &cacheRoot,
                       const QString &source = {});

// The three remembered cache roots (TCache, OCache, O2Cache).
struct CacheRoots {
    QString cache;
    QString previous;
    QString older;
};

// When the previous root holds no files and the older one does, the two
// change places, so that the older files stay reachable as the previous root.
bool SwapEmptyPreviousRoot(CacheRoots &roots, const DriveFacts &facts);

struct ProposalFacts {
    QString source;          // "E:", or the internal path of a disk image
    bool sourceIsImage = false;
    QChar systemDrive = QLatin1Char('C');
    QString bestDrive;       // BestOtherDrive; empty: none
    bool sameMedium = false; // the medium is the one of the last scan (same serial)
    QString fallback;        // offered where the rules end at a best drive that does not exist
};

// The folder the chooser offers for the cache:
// - with the cache root on the source (its drive, or for a drive source its
//   physical disk) or with the system drive as source: the cache root when it
//   lies on the best drive; else the previous root, then the older root, when
//   it exists and lies neither on the source's drive nor on its disk; else
//   the previous root, then the older root, when it lies on the best drive;
//   else the best drive (the fallback when there is none);
// - else, for the medium of the last scan: the cache root;
// - else the previous root when it holds no files; else the cache root when
//   the older root holds files; else the older root;
// then a proposal on the system drive gives way to the previous root, then
// the older root, that lies elsewhere on a drive whose root exists; and a
// proposal that the refusals would turn down (on the source, or on a drive
// that takes no cache) gives way to the best drive (or the fallback). Empty
// roots are never proposed.
QString ProposeCacheFolder(const CacheRoots &roots, const ProposalFacts &p, const DriveFacts &facts);

// Why a cache root is refused for a source.
enum class CacheRefusal {
    None,
    SourceDisk,   // on the disk being scanned: texts 273 and 274
    DriveType,    // not a fixed, remote or unknown drive: text 1621
};

// The cache root may not lie on the disk being recovered from, whatever the
// source's type: for a drive source it may neither contain the source text
// nor lie on the same physical disk. (A disk image is a file: only a root
// that contains the image's own path is refused.) With checkType, the cache
// root's drive must be fixed, remote or of unknown type.
CacheRefusal RefuseCacheRoot(const QString &cacheRoot, const QString &source, bool sourceIsImage, bool checkType,
                             const DriveFacts &facts);

// The resume position a click starts with: the interrupted scan's unit when
// the source is the one of the last scan and the cache root's list is the
// loaded one; else 0.
int64_t HeldResumePosition(const QString &source, const QString &lastSource, const QString &cacheKey,
                           const QString &loadedKey, int64_t resumeUnit);
// A held position still applies to the chosen root: its list is the loaded
// one and the medium carries the serial of the last scan.
bool ResumeStillApplies(const QString &cacheKey, const QString &loadedKey, uint32_t lastSerial, uint32_t serial);

// An interrupted scan goes on only on the medium it was reading: the same
// serial (lastSerial) and, where the medium the scan began on is known (this
// run: scanned has a letter), the same file system and stated size, and a
// medium no shorter than it was then. A medium that reads longer now than
// when it was cut short goes on to its real end.
bool ResumeOnSameMedium(const DriveIdentity &scanned, uint32_t lastSerial, const DriveIdentity &now);
// Why an interrupted scan of source is not resumed on the medium now there.
QString ResumeRefusedText(const QString &source, uint32_t lastSerial, const DriveIdentity &now);

// The source lists directory entries to skip: the entry list of quick
// undelete holds one, or the root folder of the drive record holds an entry
// in use (no deleted, empty, long-name or volume-label slot).
bool ListsDirectoryEntries(int entryUpperBound, const std::vector<FatDirEntry> &rootEntries);

// --- the types seen on the medium (MediaScan) -------------------------------------

// The extension of a name (its base name: after the last "\"), from its last
// "." on, dot included; empty without one. Extensions of more than 16
// characters are no type names and give an empty text too.
QString NameExtension(const QString &name);
// A deleted entry's extension is added when the list does not hold it yet
// (compared without regard to case).
void AddEntryExtension(QString &list, const QString &entryName);
// A found file's extension is added when the list does not hold the
// extension without its dot yet (exact case).
void AddFoundFileExtension(QString &list, const QString &path);

struct MediaScanLists {
    QString ticked;       // "JPG CR2 ": the ticked rows, each once
    QString candidates;   // "PNG ": unticked rows whose type occurs among the extensions
};
// Over the rows in order: a ticked row joins the ticked list (once) and
// leaves the candidates; a row whose text occurs in the extension list
// (without regard to case), or the MOV row where the list holds .MP4, .M4V,
// .3GP or .3G2, and that is in neither list joins the candidates.
MediaScanLists MediaScanTypes(const TypeListRows &rows, const QString &extensions);
// The word is one of the blank-separated words of the list.
bool InWordList(const QString &list, const QString &word);
// Ticks every row named by a word of the candidate list; the number ticked.
int TickCandidateRows(TypeListRows &rows, const QString &candidates);

// --- the texts of the questions -----------------------------------------------------

// "Quilvane  Scan": the program's name, two blanks and the operation's word.
QString ScanBoxTitle(const QString &programTitle);
// The refusal of a root on the source (273 + CR LF + 274).
QString SourceDiskRefusalText();
// The refusal of an unsuitable drive (1621 with the drive + CR LF + 274).
QString DriveTypeRefusalText(const QString &cacheRoot);
// The SmartScan recommendation: "SmartScan recommanded:" ... and its title.
QString SmartScanQuestion();
QString SmartScanTitle(const QString &programTitle, const QString &source);
// A cache on the source's drive: text 1400 with the source, then 273.
QString CacheOnSourceText(const QString &source);
QString SmartScanNoticeTitle(const QString &programTitle);
// The MediaScan question (345, 1488, 347) and its title.
QString MediaScanQuestion(const MediaScanLists &lists, const QString &source);
QString MediaScanTitle(const QString &programTitle);

// --- Searched.dat ------------------------------------------------------------------

// The file's bytes: the source text as ANSI characters (no length, no
// terminator), then the volume serial as a 32-bit little-endian number.
QByteArray SearchedFileBytes(const QString &source, uint32_t serial);
// Writes the file (internal path) anew: whole or not at all (the old file
// stays when the new one cannot be completed). False on any failure.
bool WriteSearchedFile(const QString &fileInternal, const QString &source, uint32_t serial);
// Reads the two items from the start: the source with the length the reader
// holds (heldLength; below 0: all bytes before the serial), then the serial;
// bytes after them are ignored. False when the file is missing or too short.
bool ReadSearchedFile(const QString &fileInternal, int heldLength, QString &source, uint32_t &serial);
