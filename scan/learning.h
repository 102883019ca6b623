// Learning new types from sample files ("DO Vizorira"), without the window:
// reading the user's input into search patterns and drive tokens, choosing
// the samples among the hits of the file search or the files of a folder,
// reading each sample (its first and last 1024 bytes, never writing to the
// medium), running it through the learned-type record of its extension,
// keeping the sample ring, and the refinement of the learned-type files met
// in the run (prune, merge, write, encipher).
//
// Paths are internal (drive-letter form). The main window (scan/ui/learnui.cpp)
// asks, shows the progress and hands in its flags through the callbacks.
#pragma once

#include "scan/derivation.h"
#include "scan/learnedtypes.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <random>

// --- the input ---------------------------------------------------------------

// The types of the unattended run (before a scan), commas turned into blanks.
QString UnattendedLearnTypeList();
// The type text of the unattended run: the fixed list, the learned (Adaptive)
// row texts not yet in it (each followed by a blank), then the source text.
QString UnattendedLearnTypes(const QStringList &adaptiveRowTexts, const QString &sourceText);

// The prompt of the input box (texts 1398 and 290 to 296 in paragraphs).
QString LearnPrompt();

// True when the answer asks for the folder mode: the default blank left as it
// was, or the source text itself.
bool IsLearnFolderAnswer(const QString &answer, const QString &sourceText);

// The search of a typed answer: "jpe thm C: D:" gives the patterns
// " *.jpe *.thm" (each after a blank) on the drives "C: D: ".
struct LearnSearch {
    QString patterns;
    QString drives;    // drive tokens, each followed by a blank; empty: all drives
};
// A token beginning with ":" (no character before it) is dropped.
LearnSearch ParseLearnTypes(const QString &text);
// The patterns as the hit filter reads them: " *.jpe *.thm" gives "*.jpe*.thm".
QString LearnFilterOf(const QString &patterns);

// The base name of an internal path (after its last "\").
QString LearnBaseName(const QString &path);
// A hit of the search counts as a sample when its base name has an extension
// that the filter names (without regard to case) or the filter is "*", and
// the path lies outside the cache ("RIVozud") and temporary ("temp") folders.
bool IsLearnSampleHit(const QString &path, const QString &filter);
// The counted hits in order, and one empty entry after them.
QStringList LearnSampleList(const QStringList &hits, const QString &filter);

// The stride between samples: unattended about 200 samples, interactive at
// most about 30000 (lastIndex = the sample list's last index).
int LearnStride(int lastIndex, bool unattended);
// Every how many entries a sample goes into the sample ring.
int LearnRingStep(int lastIndex);

// The extension (with its dot, lower case) that a sample path is learned as;
// empty when the path is not taken: cache files ("R#"), ".dat" and "temp"
// names, a base name without "." or beginning with one or two characters
// before it, an extension holding "_" or a character that a learned-type file
// name cannot hold. Only the base name is looked at.
QByteArray LearnSampleType(const QString &path);

// The status line of a sample: ".jpg# 2 Analized:  14 reliability: 92.86%".
QString LearnStatusLine(const QByteArray &ext, int slot, int32_t matches, int32_t analysed);

// --- the samples -------------------------------------------------------------

// Reads a sample: its length and its first and last 1024 bytes. The file is
// opened read-only (without updating its access time where the system lets
// us), never written; only regular files are read. False when it cannot be
// read; a file shorter than 1024 bytes gives a sample with an empty Head16.
bool ReadLearnSample(const QString &path, SampleBytes &sample);

// The files of a folder and all its sub-folders (internal paths), the
// folder's own files first, then each sub-folder depth-first, names in
// order without regard to case; symbolic links are not followed and other
// file systems mounted inside are not entered. At most maxFiles paths, then
// one empty entry. proceed (when set) runs at every folder (the window
// yields there); false ends the listing with what it has.
constexpr int MaxLearnFolderFiles = 32760;
QStringList ListLearnFolder(const QString &folder, int maxFiles = MaxLearnFolderFiles,
                            const std::function<bool()> &proceed = {});

// The sample ring file of a type: parsing, and adding one sample (at Next,
// which then advances, after 99 back to 0). The file is kept private to the
// user (mode 0600).
bool ParseSampleRingRecord(const QByteArray &bytes, SampleRingRecord &record);
bool AddToSampleRing(const QByteArray &ext, const SampleBytes &sample);

// --- the run -----------------------------------------------------------------

struct LearnSampleProgress {
    int index = 0;          // j
    int left = 0;           // entries left after j
    QByteArray ext;         // the sample's extension
    int slot = 0;           // the slot it went to
    int32_t matches = 0, analysed = 0;   // of that slot
    QString status;         // the status line; empty while the slot has no analysed sample
};

struct LearnCallbacks {
    // The operation flag: false once a stop was asked for.
    std::function<bool()> running;
    // Clears the operation flag (the unattended run's time limit).
    std::function<void()> stop;
    // Milliseconds of a steady clock.
    std::function<int64_t()> clockMs;
    // After every sample analysed (the window shows it and yields).
    std::function<void(const LearnSampleProgress &)> sampled;
    // The refinement: the number of learned-type files, then one step each.
    std::function<void(int files)> cleaningStarted;
    std::function<void()> cleaningStep;
    // Reads a sample; default ReadLearnSample.
    std::function<bool(const QString &path, SampleBytes &)> readSample;
};

class LearningRun {
public:
    // startMs: the clock at the handler's entry (the unattended run samples
    // for at most 30 seconds from it).
    LearningRun(bool unattended, uint32_t seed, int64_t startMs);

    static constexpr int64_t UnattendedLimitMs = 30000;

    // The sampling loop over a sample list (last entry empty) with the stride.
    void sample(const QStringList &samples, int stride, const LearnCallbacks &callbacks);
    // Prunes, merges, writes and enciphers the learned-type files of the
    // types met by this run (and no others).
    void refine(const LearnCallbacks &callbacks);

    // "jpg|png|": the types met, in order.
    QString TypeList() const { return typeList_; }
    // "ZT_jpg ZT_png ": their learned-type files.
    QString FileList() const { return fileList_; }
    int SamplesCounted() const { return counted_; }
    int SamplesAnalysed() const { return analysed_; }
    int FirstIndex() const { return first_; }

private:
    bool running(const LearnCallbacks &cb) const;
    void writeCurrent();

    bool unattended_;
    std::mt19937 rng_;
    int64_t startMs_;
    QString typeList_;
    QString fileList_;
    QSet<QByteArray> met_;          // types met, without dot
    LearnedTypeRecord record_;
    QString openFile_;              // the learned-type file of record_; empty none
    int counted_ = 0;
    int analysed_ = 0;
    int first_ = 0;
};
