// The staged recovery of damaged media, without a window: the chain of
// stages that resumes at start-up when the last scan never ended (the
// program was killed while the medium hung on a bad sector).
//
// Markers in the per-user store: LastCluster (the scan's: above 0 while a
// scan runs) and LastStage (the stage started last). Each marker is written
// before the stage it announces begins, so a kill at any moment leaves them
// true; they are cleared only at the chain's end, never on the way out of a
// kill.
#pragma once

#include <QString>
#include <functional>

struct StagedRecoveryHooks {
    // The per-user store.
    std::function<QString(const QString &key)> marker;
    std::function<void(const QString &key, const QString &value)> setMarker;
    // A message box (text, style, title) and its answer; a self-closing notice.
    std::function<int(const QString &text, int style, const QString &title)> ask;
    std::function<void(const QString &text, const QString &title)> notice;
    // The medium of the interrupted scan is the chosen source (it may be
    // selected by this); false while it is not connected.
    std::function<bool()> sameMedium;
    // The MB of the medium.
    std::function<double()> sourceTotalMB;
    // Chooses and keeps the folder of stage 2's image; false when no
    // candidate has room.
    std::function<bool()> prepareStage2Folder;
    std::function<void(int stage)> stageChanged;   // the window's RecoveryStage
    std::function<void()> runStage1;              // careful scan of the medium
    std::function<void()> runStage2;              // backwards copy into backuptemp.dat
    std::function<void()> runFinalStage;          // scan of backuptemp.dat
};

// The texts of the chain (title, the note after each stage's text).
QString StagedRecoveryTitle();
QString StagedRecoveryNote();

// Stage 2 keeps in the per-user store (key Stage2NotReadKey) the sectors of
// the medium no read of it has reached yet, as "FIRST-LAST" ("" once every
// sector was read), so that the final stage can name them even when stage 2
// was ended from outside. The bytes [fromByte, toByte) in sectors:
extern const QString Stage2NotReadKey;
QString Stage2NotReadText(int64_t fromByte, int64_t toByte, int bytesPerSector);
// The final stage's words on that range; empty when the text names none.
QString Stage2NotReadMessage(const QString &notReadText);

// Runs the chain from the stage the markers give; returns the stage reached
// (0 when nothing was to do or the chain ended).
void RunStagedRecovery(const StagedRecoveryHooks &h);
