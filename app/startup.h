// The program's start-up routine and the process-wide values it sets: the
// manifest, the language component test, the rights advice, leftover helpers
// and an earlier instance, the language, the splash window and the manual;
// the command line; and how the process ends.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>

namespace plat {
class PictureBox;
}

// ---- process-wide values ---------------------------------------------------------

struct StartupValues {
    QString BaseKeyPath;              // "Software\Zentarix"
    int RequestedLanguageId = 0;      // the language asked for
    bool PreviousInstancesEnded = false;
};
StartupValues &Startup();

// ---- the start-up routine --------------------------------------------------------

// Runs once, as the first step of the main window's loading: see the steps
// in startup.cpp. Ends the process (EndProcess) when the user declines to
// go on beside an earlier instance.
void ProgramStartup();

// The manifest beside the program and the empty local-redirection file.
void WriteManifest();
// The manifest's text for a program file name (without extension) and a
// version text: 29 lines, each ended by CR LF.
QString ManifestText(const QString &exeName, const QString &versionText);
// The pause after a new manifest was written (tests shorten it).
void SetManifestPauseMs(int ms);
// "major.minor.revision.0" of this program.
QString ProgramVersionText();
// The program file's name without extension ("quilvane").
QString ProgramFileBaseName();

// The string tables load (the language component of the program).
bool EnsureComponentLoadable(const QString &fileName);

// Ends the helpers that an earlier run started and left running.
void KillLeftoverProcesses();
// Mode -1 ends the matching processes (count -1: the calling process is not
// spared, which never matters: it is never a candidate); any other mode
// counts them into count. Candidates are only this process, the instance
// named in the instance lock (same executable, same user) and the recorded
// helpers of earlier runs; a candidate matches when its file name begins with
// nameStart (without regard to case). True when at least one was ended.
bool FindOrKillProcesses(const QString &nameStart, int mode, int &count);
// Asks the process to end (SIGTERM); true when it was asked.
bool TerminateProcessById(qint64 pid, int exitCode);

// The instance lock in the work folder and its release (tests, shutdown).
QString InstanceLockPath();
void ReleaseInstanceLock();
// How long a second start waits for the first to end after asking it (ms).
void SetInstanceEndWaitMs(int ms);

// ---- the language ----------------------------------------------------------------

// The number at the start of a text: blanks skipped, an optional sign, digits
// and at most one decimal point ("5.2.17" gives 5.2, "1031 language" 1031,
// "v5" 0). Blanks inside the number and "&H" forms are not read.
double LeadingNumber(const QString &text);
// The language of this run, chosen at every start: when the command line
// holds "language" anywhere (exact case), the number at its very start
// ("1031 language", "1031language"; "language 1031" gives 0); else the
// system's language, mapped to 1043, 1031 or 9. A language the program does
// not have gives 9. The stored LangId never decides it.
int ChooseLanguage(const QString &commandLine);

// ---- the command line --------------------------------------------------------------

// The command line's words (the program's arguments), and the line they make
// joined by single blanks.
QStringList ProgramArguments();
QString ProgramCommandLine();
void SetProgramArguments(std::optional<QStringList> args);   // tests; nullopt: the real ones
// A word given on its own, without regard to case ("uninstall").
bool CommandWordGiven(const QString &word);
// The value of a word given as "word=value" (quotes around the value
// removed); empty when not given so.
std::optional<QString> CommandWordValue(const QString &word);

// ---- the manual ------------------------------------------------------------------------

// Fills the program folder's "Manual\" with the pages of the current language.
void PrepareManual();
// Puts the manual pages that come with the program into the program folder's
// language folders ("Manual\English\", ...), where they are missing or differ.
void InstallShippedManual();
// The start page of a language folder, and the prepared start page.
inline const QString kManualStartPage = QStringLiteral("Quilvane Pro - hilfe.html");
inline const QString kManualPage = QStringLiteral("Manual.htm");

// ---- pictures of the work folder ----------------------------------------------------

// The picture the splash shows: WorkFolder "Lastpict.bmp", else the first
// "back.*" (sorted, without regard to case), else empty.
QString SplashPicturePath(const QString &workFolder);
// The first "back.*" of the work folder, or empty.
QString BackgroundPicturePath(const QString &workFolder);
// Draws the picture file fitted into the box when the box still shows no
// picture (the picture operations drew nothing).
void DrawPictureWhenUndrawn(plat::PictureBox &box, const QString &pictureInternal);
// Puts the background picture that comes with the program into the work
// folder when it holds no "back.*".
void InstallShippedBackground(const QString &workFolder);

// ---- small rules of the start-up ----------------------------------------------------

// The last character outside "0".."9" among all but the last character of a
// date text ("31.12.2024" gives ".").
QString DateSeparatorOf(const QString &dateText);

// The cross-fade from the splash to the main window: for a = 25, 27, ... up
// to 255 the main window gets opacity a and the splash 265 - a; each step
// lasts at least 20 ms, and a step that took 30 ms or more skips the next
// value. Returns the number of steps.
struct FadeHooks {
    std::function<qint64()> nowMs;                          // monotonic milliseconds
    std::function<void(int mainAlpha, int splashAlpha)> setAlpha;
    std::function<void(int ms)> wait;                       // lets events run for about ms
};
int RunCrossFade(const FadeHooks &hooks);
// The window system can make windows translucent (an X11 display); on
// Wayland, offscreen and minimal platforms the fade is left out.
bool WindowOpacitySupported();
void SetWindowOpacityOverride(std::optional<bool> supported);   // tests

// The program's random numbers, seeded at start-up from the clock (tests fix
// the seed).
std::mt19937 &ProgramRandom();
void SeedProgramRandom();
void SetProgramRandomSeed(std::optional<uint32_t> seed);

// Milliseconds start-up spent waiting on purpose (the pause after writing
// the manifest, the fade), for the start-up benchmark.
qint64 StartupDeliberateMs();
void AddStartupDeliberateMs(qint64 ms);

// ---- the end of the process ---------------------------------------------------------

// Ends the process at once: the instance lock is released and nothing more
// runs (settings are written through as they change). Tests replace it
// (SetProgramExitHook, app/rightsadvice.h); then it returns, and
// ProcessEndRequested() tells the caller to go no further.
void EndProcess();
bool ProcessEndRequested();
void ClearProcessEndRequest();   // tests

// SIGTERM, SIGHUP and SIGINT reach the main window as a press of End, so that
// a running operation stops and the window shuts down the normal way.
void InstallTerminationSignals();
