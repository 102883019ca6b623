// The scan: reads a drive or disk image unit by unit, recognises file starts
// by the signature table, writes the found files into the cache folder and
// finishes them. No window: the main window hands in the source, the table,
// the options and the callbacks through which it shows progress, answers
// the stop test and shows the messages; it applies the result.
//
// One thread: the scan yields through the `yield` callback (the window's
// event pump) after every read and progress update.
#pragma once

#include "platform/rawio.h"
#include "scan/foundfiles.h"
#include "scan/innerstarts.h"
#include "scan/prefixindex.h"
#include "scan/signatures.h"
#include "scan/unitgeometry.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// The careful modes: the DeepScan and Damaged boxes of the window.
enum class ScanMode { Normal, DeepScan, Damaged };

// What the window shows on its Scan button while the scan runs.
enum class ScanPhase { Reading, Flushing, Done };

enum class ScanEnd {
    Finished,        // the medium was read to its end
    Stopped,         // the stop request; a resume is possible
    OutOfSpace,      // the cache drive fell below the reserve, or a write failed
    NoFiles,         // read to the end, nothing found (data present)
    Wiped,           // read to the end, nothing found, every unit alike
    Unreadable,      // the medium could not be read
    CannotOpen,      // the source could not be opened
    RightsMissing,   // opening was refused for want of rights
    BadGeometry,     // no units to scan (unknown sector size, no size)
    CacheOnSource,   // the cache folder lies on the disk being scanned
    MediumEnded,     // the medium ended before its stated end; a resume is possible
    MediumLost,      // the medium stopped answering; a resume is possible
};

// The source of a scan.
struct ScanSource {
    QString name;                // "E:" or the internal path of a disk image
    bool image = false;
    QString driveType;           // "Removable", "Fixed", "CDRom", "File", ...
    uint32_t volumeSerial = 0;
    UnitGeometry geometry;       // see GeometryOfDrive / GeometryOfImageFile
    int64_t imageLength = -1;    // an image is read only this far (what its backup copied); -1: whole
};

// Where an interrupted scan goes on, in bytes so that a change of unit size
// (DeepScan ticked before the resume) cannot shift it.
struct ScanResumePoint {
    int64_t unit = 0;            // ScanResumeUnit: the unit after the last one examined; 0 none
    int64_t offset = -1;         // its byte offset on the medium; -1 none
    int32_t unitBytes = 0;
    bool fileOpen = false;       // the last found file goes on at the resume
    bool fileDamaged = false;    // ... and already holds sectors that could not be read
    // ... and the units noted inside it that may still start files of
    // their own (offsets on the medium in bytes, as `offset`).
    std::vector<InnerStart> inner;
};

// The camera facts of a picture (the viewer's quick EXIF read).
struct ExifQuickFacts {
    QString make, model, dateText;
    int width = 0, height = 0;
};

struct ScanProgress {
    int64_t minimum = 0, maximum = 0, value = 0;   // units: the progress bar
    int64_t elapsedSeconds = 0;
    QString text;                // "Elapsed: ... MB/s" (one "&")
};

// One found file as the window lists it.
struct FoundFileEvent {
    int64_t index = 0;           // the found-file counter
    QString name;                // in the cache folder
    QString displayLine;         // "##000 " + description, at most 16 characters
    uint64_t bytes = 0;
    bool damaged = false;        // holds sectors that could not be read (zero-filled)
    bool cutShort = false;       // lacks part of itself: stopped, the medium ended, a limit, its structure
};

// The sectors a scan could not read, in runs of the medium's sector numbers
// (first and last, inclusive). Runs are added in rising order; touching runs
// are joined. The first and the last few runs are kept for the report.
class UnreadableSectors {
public:
    static constexpr int kKept = 3;
    void add(int64_t first, int64_t count);
    int64_t count() const { return count_; }
    int64_t runs() const { return runs_; }
    std::vector<std::pair<int64_t, int64_t>> firstRuns() const;   // at most kKept
    std::vector<std::pair<int64_t, int64_t>> lastRuns() const;    // at most kKept, after firstRuns
    // "2100-4400, 5000, 6000-6010 ... 90000-90020"
    QString text() const;

private:
    int64_t count_ = 0, runs_ = 0;
    std::vector<std::pair<int64_t, int64_t>> first_;
    std::vector<std::pair<int64_t, int64_t>> last_;   // a ring of the latest runs
};

struct ScanOptions {
    ScanMode mode = ScanMode::Normal;   // the boxes as ticked at the start
    double LMinMB = 0;           // found files below it are deleted (0: none)
    double LMaxMB = 0;           // found files get no byte beyond it (0: no limit)
    bool SmartScanActive = false;   // free clusters only (drives)
    int RecoveryStage = 0;
    int freeMemoryMB = -1;       // -1: ask the system
    QString cacheFolder;         // internal path of the cache root, ending in "\"
    ScanResumePoint resume;      // offset -1: a new scan
    int64_t cacheReserveMB = 2500;
    int budgetEveryFiles = 1000;
    // DeepScan's auxiliary table: a unit matching it ends the open file.
    SignatureRows auxiliaryTable;
    std::vector<ScanDeletedEntry> deletedEntries;   // sorted by first cluster
    // A staged recovery's scan goes on with the found files the cache holds
    // (the found-file list on entry): they keep their names and places, the
    // counter goes on after them, and a file found again is not kept twice.
    bool keepFoundFiles = false;
    // Of those files, the ones listed as cut short ("!"): a later find that
    // holds more of one takes its place.
    std::vector<bool> foundCutShort;
};

// The found-file arrays of the window (FoundFileNames, FoundFileSizes),
// kept across a stop and a resume.
struct FoundFileList {
    QStringList FoundFileNames;               // cache file names, by counter
    std::vector<uint64_t> FoundFileSizes;     // bytes the deleted entry recorded, 0 none
    std::vector<bool> CutToEntry;             // cut to that size (the list file's marker 1000)
    std::vector<QDateTime> EntryDates;        // creation date of an existing entry
    void clear();
    int64_t counter() const { return int64_t(FoundFileNames.size()) - 1; }
    // The size the scan-list file stores: 1000 for a file cut to its entry.
    float listSize(int64_t i) const;
};

struct ScanCallbacks {
    // The stop request (the window's running flag cleared); tested before every read.
    std::function<bool()> stopRequested;
    // The window's event pump. Default: plat::pumpEvents.
    std::function<void()> yield;
    std::function<void(const ScanProgress &)> progress;
    std::function<void(ScanMode)> modeChanged;         // tick ChkDeep / ChkDamaged
    std::function<void(ScanPhase)> phase;              // captions "Stop", "Flushing, wait...", "Scan"
    std::function<void(const QString &title, const QString &text)> message;
    // A found file is kept (List3 line); dropped below LMinMB.
    std::function<void(const FoundFileEvent &)> fileKept;
    std::function<void(const FoundFileEvent &)> fileDropped;
    // Free MB of the cache folder's drive. Default: GetDiskSpaceMB.
    std::function<int64_t(const QString &cacheFolder)> freeSpaceMB;
    // Opening refused for want of rights: the window shows the advice on
    // restricted rights (ShowVistaAdvice) when it is due. True when it was
    // shown; otherwise the scan shows its own message on rights.
    std::function<bool()> restrictedRights;
    // Opens the source for reading at offset 0. Default: OpenDriveRead /
    // OpenFileAtSector by the source.
    std::function<plat::Handle(const ScanSource &)> openSource;
    // Ejects and loads a removable medium (ReloadMedia). Default: none.
    std::function<void(const ScanSource &)> reloadMedia;
    // Free clusters: the first free unit after `after` and its run length
    // (in units); false when unknown. Default: none (every unit is scanned).
    std::function<bool(int64_t after, int64_t &first, int64_t &run)> nextFreeRun;
    // The settings LastCluster ("33" / "0") and FreeMB. Default: the
    // per-user settings store.
    std::function<void(const QString &)> setLastCluster;
    std::function<void(int64_t)> storeBudget;
    // Before the true-end pass: the window writes the scan-list file.
    std::function<void()> saveScanList;
    // Neighbours that are not built yet; empty: nothing happens.
    std::function<std::optional<ExifQuickFacts>(const unsigned char *, size_t)> readExifQuick;
    std::function<void(const QString &cacheFile)> rawPreview;    // RunAndWait of the converter
    std::function<void(const QString &cacheFile)> drawPicture;   // DrawThumbnail in the picture view
    // Milliseconds of a steady clock. Default: std::chrono::steady_clock.
    std::function<int64_t()> clockMs;
};

struct ScanResult {
    ScanEnd end = ScanEnd::Finished;
    int64_t unitsScanned = 0;
    int64_t bytesScanned = 0;
    double seconds = 0;
    double finishingSeconds = 0;    // the finishing pass (true ends, dates)
    int64_t filesFound = 0;         // found files kept by this scan
    int64_t identicalUnits = 0;
    int64_t unreadableUnits = 0;     // units holding an unreadable sector
    UnreadableSectors unreadable;    // the sectors zero-filled because their reads failed
    int64_t damagedFiles = 0;        // found files holding such sectors
    int64_t cutFiles = 0;            // found files cut short (marked "!" as the damaged ones)
    int64_t filesFoundAgain = 0;     // finds the cache held already (keepFoundFiles)
    int64_t failedReads = 0;         // reads that failed (each may have taken long)
    int stoppedAtPercent = -1;       // an early end: how far the scan got
    ScanMode finalMode = ScanMode::Normal;   // the mode the reads ended in
    ScanResumePoint resume;          // cleared after a full scan or in damaged mode
    int64_t budgetMB = 0;            // -1 after the out-of-space stop
    QString statusText;              // the status line at the end; never a template
    QString messageTitle, messageText;   // the end message, shown through `message`
    bool exitRequested = false;      // the advice on restricted rights was answered Yes
};

class ScanEngine {
public:
    ScanEngine(const ScanSource &source, const SignatureRows &table, ScanOptions options,
               ScanCallbacks callbacks, FoundFileList &found);
    ~ScanEngine();
    ScanEngine(const ScanEngine &) = delete;
    ScanEngine &operator=(const ScanEngine &) = delete;

    // ScanDisk without the window: the whole scan and its finishing pass.
    ScanResult run();

    // The state of the reads, for tests.
    int64_t unitsPerRead() const { return upr_; }
    ScanMode mode() const { return mode_; }

    // HandleReadError: a read of `units` units at `unit` delivered nothing.
    // Moves Normal -> DeepScan (units per read halved once when above 8;
    // `units` is cut to the new size, never below the units the failed read
    // delivered before it failed) -> Damaged, closes the sequential
    // handle (later reads are positioned) and reads the units again at the
    // failed position, carefully: exactly the sectors whose reads fail are
    // zero in `into`, every other sector holds its data. `into` lies in the
    // scan's read buffer. Returns the bytes now in `into`: all of them,
    // unless the medium ended or stopped answering on the way.
    int64_t HandleReadError(int64_t unit, int64_t &units, unsigned char *into);

private:
    struct Impl;
    Impl *d;
    int64_t upr_ = 1;
    ScanMode mode_ = ScanMode::Normal;
};

// The resume state of the window, for one run of the program.
struct ScanResumeState {
    ScanResumePoint point;       // point.unit is ScanResumeUnit
    QString LastScanSource;
    uint32_t LastScanSerial = 0;
    // Takes what a scan left: its resume point, the source and serial.
    void record(const ScanResult &result, const ScanSource &source);
};

// AskResumeScan: 10 resume, 6 a new scan (Yes to the warning), 7 refused,
// 0 nothing asked. displayName names the source in the question;
// cacheFiles is the number of files in the cache root. The answers come
// from askYesNo (title, text) -> Yes.
int AskResumeScan(ScanResumeState &state, const QString &source, const QString &displayName, uint32_t serial,
                  int cacheFiles, const QString &title,
                  const std::function<bool(const QString &, const QString &)> &askYesNo);

// How raw access to a medium is granted on this system (the lines of the
// advice on restricted rights).
QString RawAccessHowTo();

// A found file's line in the list when the file holds sectors that could not
// be read or is cut short: the counter carries the mark, "007! JPEG File".
QString DamagedFileDisplayLine(int64_t counter, const QString &description);
// The same mark on a line of the list: its first word carries it.
QString MarkedDisplayLine(const QString &line);
