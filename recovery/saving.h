// Saving without windows: free target names, the data of a quick-undelete
// entry read from its FAT clusters, and the tests a save folder must pass.
// Nothing of the user's is truncated, overwritten or deleted here: a file is
// written under its temporary name and takes a name no file has.
#pragma once

#include "platform/partfile.h"
#include "platform/rawio.h"
#include "undelete/entries.h"

#include <QFile>
#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// How saving one entry ended.
enum class SaveOutcome {
    Saved,      // every byte written, from clusters no other file uses
    Partial,    // written, but incomplete or from clusters that may belong to another file
    NotSaved,   // nothing could be written (no target, unreadable data)
    Skipped,    // nothing to save (a folder, a size of 0) or declined by the user
    Cancelled,  // the user cancelled the dialog
};

struct SaveTally {
    int saved = 0;
    int partial = 0;
    int notSaved = 0;
    int64_t bytes = 0;
    void add(SaveOutcome outcome, int64_t written);
};

// The name after a clash: "IMG.JPG" gives "IMG_0.JPG", "IMG_0.JPG" gives
// "IMG_1.JPG", "DSC_0042.JPG" gives "DSC_43.JPG", "README" gives
// "README_0", ".hidden.txt" gives ".hidden_0.txt". The number counts in
// 64 bits.
QString NextFreeName(const QString &name);

// A save folder (an internal path) as saving into it needs it: refused when
// it lies on the physical disk of the source (TargetOnSourceDisk), else its
// native path, made when missing (empty when it cannot be), and whether it
// lies at or below the cache root; within a run, the folder held open while
// entries after each other go into it.
struct SaveFolder {
    QString folder, source, cacheRoot;   // what it was worked out for
    bool onSourceDisk = false;
    QString native;
    std::shared_ptr<const plat::Folder> handle;
    bool inCache = false;

    // onSourceDisk: the answer for the folder's file system when known.
    static SaveFolder of(const QString &folder, const QString &source, const QString &cacheRoot,
                         std::optional<bool> onSourceDisk = std::nullopt);
};

// A run of saves of quick-undelete entries (one Save All or Save Selected):
// while it lives, the source volume stays open from entry to entry, each save
// folder is worked out once, and the names taken in place of taken ones are
// remembered, so that the next file of such a name goes on after the name
// the last one took instead of trying every taken name again (20,000
// deleted files of 20 names saved into one folder would try ten million
// names). A run started while another lives leaves the outer one in charge.
class SaveRun {
public:
    SaveRun();
    ~SaveRun();
    SaveRun(const SaveRun &) = delete;
    SaveRun &operator=(const SaveRun &) = delete;
    // The run going on, or none.
    static SaveRun *current();
    // The drive's volume, opened on its first use in the run (invalid when
    // it cannot be opened).
    const plat::Handle &volume(const QString &drive);
    // The save folder, worked out on its first use in the run, or again
    // when asked to (a folder removed since).
    const SaveFolder &folder(const QString &folder, const QString &source, const QString &cacheRoot,
                             bool again = false);

private:
    friend bool CommitUnderFreeName(plat::PartFile &part, QString &name, SaveRun *run);
    SaveRun &outermost();
    SaveRun *outer_ = nullptr;
    QString volumeDrive_;
    plat::Handle volume_;
    QString source_, cacheRoot_;
    QHash<QString, SaveFolder> folders_;
    QHash<int64_t, bool> onSourceDisk_;   // by the device number of a folder's file system
    SaveFolder *last_ = nullptr;   // the folder of the entry before (in folders_)
    QHash<QString, QString> lastTaken_;   // folder/name -> the name its last file took
};

// Gives a complete file, written under its temporary name, its final name:
// the name or, while a file of that name exists (in any case on a file
// system that ignores case), the next free name; at most 100,000 names are
// tried. Within a run, a name that was taken before starts after the name
// its last file took. The name given is replaced by the one used. False
// when no name could be taken (the file then stays temporary).
bool CommitUnderFreeName(plat::PartFile &part, QString &name, SaveRun *run = nullptr);

// The name an entry is saved under: the name shown for it ("?" as "%"),
// cleaned of separators and control characters, its leading dots kept
// (".hidden.txt" stays so); "entry" when nothing is left.
QString EntrySaveName(const QString &shownName);

// The extension rule of a single Save Selected: the file-name part of t
// (after its last "\") gets the extension x (".jpg") when it holds a "."
// but not x (its text up to the first "." followed by x), or x appended
// when it has no ".".
QString ApplySaveExtension(const QString &t, const QString &x);

// What writing a FAT entry's data gave.
struct FatWriteResult {
    int64_t bytes = 0;          // written
    bool firstReadable = false; // the first cluster could be read
    bool complete = false;      // all the bytes asked for were written
    bool clustersInUse = false; // a cluster read, or passed over, is in use by a file now
    bool writeFailed = false;   // the target took fewer bytes than given (full, or an error)
};

// Writes up to `bytes` bytes of an entry from its clusters into the file
// (0: one cluster). A deleted entry whose first cluster is free takes the
// free clusters from it on, passing over those in use (which marks the
// result clustersInUse: the file lay around another's); one whose first
// cluster is in use takes the clusters after it in order. An existing
// entry's follow its chain in the FAT. Cluster numbers are checked against
// the data area and chains against loops; reads go in runs of up to 8 MiB
// through one handle (the volume given, else one opened for the call).
// keepGoing is asked between runs. The data goes to the descriptor's file at
// its position.
FatWriteResult WriteFatEntryData(const QString &drive, const DeletedEntryRecord &entry, int64_t bytes, int fd,
                                 const std::function<bool()> &keepGoing = {}, const plat::Handle *volume = nullptr);
FatWriteResult WriteFatEntryData(const QString &drive, const DeletedEntryRecord &entry, int64_t bytes, QFile &out,
                                 const std::function<bool()> &keepGoing = {});

// Copies a file into an open target in pieces; the bytes copied (up to a
// read that fails), -1 when nothing of the source can be read or the target
// not written.
int64_t CopyFileInto(const QString &sourceNative, QFile &out, const std::function<bool()> &keepGoing = {});

// The source may not receive saved files: the target (an internal path)
// lies on the physical disk of a drive source, by its letter or by the
// mount that holds it (plat::sameDisk). A source that is the system drive,
// or an image file, refuses nothing.
bool TargetOnSourceDisk(const QString &target, const QString &source);
