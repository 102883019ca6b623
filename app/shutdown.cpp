// The end of the program: the End command in passes, the close request, the
// termination signals, and the one shutdown they all reach, which keeps the
// picture, writes the settings, saves the found-file list and removes the
// program's temporary files before the process ends.
#include "app/frmrecover.h"

#include "app/rightsadvice.h"
#include "app/splash.h"
#include "app/startup.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "undelete/direntcache.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kBusyPassMs = 5000;

std::function<void()> &exitHook()
{
    static std::function<void()> hook;
    return hook;
}

bool g_endRequested = false;

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
    (void)written;
}

// The picture view as the next start's picture.
void savePicture(const frmRecover &w)
{
    const QImage &picture = w.Picture1.Picture();
    const QString native = plat::toNative(w.WorkFolder);
    if (picture.isNull() || native.isEmpty())
        return;
    QDir().mkpath(native);
    QSaveFile out(native + QStringLiteral("/Lastpict.bmp"));
    if (out.open(QIODevice::WriteOnly) && picture.save(&out, "BMP"))
        out.commit();
}

} // namespace

// ---- the end of the process -------------------------------------------------------------

void SetProgramExitHook(std::function<void()> hook)
{
    exitHook() = std::move(hook);
    g_endRequested = false;
}

void EndProcess()
{
    g_endRequested = true;
    if (exitHook()) {
        exitHook()();
        return;
    }
    // Settings and list files were written through as they changed; nothing
    // is left buffered but the standard streams.
    ReleaseInstanceLock();
    std::fflush(nullptr);
    std::_Exit(0);
}

bool ProcessEndRequested() { return g_endRequested; }
void ClearProcessEndRequest() { g_endRequested = false; }

void InstallTerminationSignals()
{
    if (g_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buffer[16];
        while (::read(g_signalPipe[1], buffer, sizeof buffer) > 0) {
        }
        // From here on nothing waits for the user.
        plat::beginClosing();
        frmRecover *w = MainWindowIfMade();
        if (!w) {
            EndProcess();
            return;
        }
        if (!w->StartupFinished)
            w->EndRequestedDuringLoad = true;
        else
            w->CmdEnd_Click();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(s, &sa, nullptr);
}

// ---- the End command ------------------------------------------------------------------------

bool frmRecover::EndMayStopOperation() const
{
    const QString stop = GetString(259, QStringLiteral("Stop"));
    return CmdShowThumbs.Caption().contains(GetString(603, QStringLiteral("Rendering")))
        || CmdBackup.Caption().contains(stop) || CmdScan.Caption().contains(stop)
        || lblStatus.Caption().contains(GetString(233, QStringLiteral("repair")))
        || lblStatus.Caption().contains(GetString(232, QStringLiteral("wipe")));
}

void frmRecover::CmdEnd_Click()
{
    if (ShuttingDown)
        return;
    // The program ends: from here on no box waits for a click and no
    // download goes on.
    plat::beginClosing();
    ++EndPassCount;
    CmdEnd.setCaption(GetString(756, QStringLiteral("Closing...")));
    // Busy: the pointer shows it, an operation runs, or one still winds down.
    const bool busy = MousePointer() != 0 || OperationRunning || !CanShutDown();
    if (busy) {
        if (EndMayStopOperation())
            OperationRunning = false;
        Timer2.setInterval(kBusyPassMs);
        Timer2.setEnabled(true);
        MsgBoxTimed(QString::number(hWnd()), GetString(260, QStringLiteral("Still busy. Finishing")) + QStringLiteral("..."),
                    0, GetString(40, QStringLiteral("End")));
        setMousePointer(0);
        return;
    }
    if (!Timer2.Enabled()) {
        // First pass: the NTFS volume closed, the window gets a tick to settle.
        CloseMft();
        Timer2.setEnabled(true);
    } else if (EndPassCount == 2) {
        Timer2.setEnabled(false);
        Timer2.setEnabled(true);
        ShutdownCleanup();
    } else if (EndPassCount > 2) {
        CreateRegistryEntries();
        ShuttingDown = true;
        Timer2.setEnabled(false);
        EndProcess();
    }
}

void frmRecover::Timer2_Timer()
{
    if (ShuttingDown)
        return;
    plat::pumpEventsNow();
    if (ShuttingDown)
        return;
    if (OperationRunning) {
        // The stop request again, for the operations End stops; the others
        // (a save) are waited for.
        if (EndMayStopOperation())
            OperationRunning = false;
        return;
    }
    // A stopped operation still finishing its files: wait for it.
    if (ActiveOperations > 0 || OperationBusy)
        return;
    CmdEnd_Click();
}

// ---- the close request ---------------------------------------------------------------------

void frmRecover::Form_QueryUnload(int &cancel, int)
{
    if (ShuttingDown) {
        cancel = 1;
        return;
    }
    if (OperationRunning || !CanShutDown() || EndPassCount > 0) {
        // Refused; a running scan is asked to stop. While End's passes run
        // they finish the work.
        if (OperationRunning && CmdScan.Caption().contains(GetString(259, QStringLiteral("Stop"))))
            OperationRunning = false;
        cancel = 1;
        return;
    }
    ShutdownCleanup();
    // Reached only when the end of the process was replaced (tests).
    cancel = 1;
}

void frmRecover::Form_Unload(int &cancel)
{
    if (!ShuttingDown)
        ShutdownCleanup();
    cancel = 1;
}

void frmRecover::Form_Terminate()
{
    ShutdownCleanup();
    if (ShuttingDown)
        EndProcess();
}

// ---- the shutdown ------------------------------------------------------------------------------

void frmRecover::ShutdownCleanup()
{
    if (ShuttingDown)
        return;
    plat::beginClosing();
    if (!BeginShutdown()) {
        // Still running: the operation is asked to stop, and End's passes
        // come back here once it has finished its files.
        if (EndMayStopOperation())
            OperationRunning = false;
        if (EndPassCount == 0)
            EndPassCount = 1;
        Timer2.setInterval(kBusyPassMs);
        Timer2.setEnabled(true);
        return;
    }
    Timer2.setEnabled(false);
    Timer1.setEnabled(false);
    // 1. - 3.
    savePicture(*this);
    SaveSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("LastStage"), QStringLiteral("0"));
    CmdEnd.setCaption(GetString(756, QStringLiteral("Closing...")));
    // 4. No file stays open between operations. 5.
    CreateRegistryEntries();
    // 6. The cache's temporary folder, through the cache's delete guard.
    if (!CacheTempFolder.isEmpty() && CacheDeleteAllowed(CacheTempFolder, CacheRoot))
        DeleteCacheTree(CacheTempFolder);
    // 7. After an NTFS volume: closed, and the end.
    if (MftWasOpened) {
        CloseMft();
        QThread::msleep(250);
        EndProcess();
        return;
    }
    // 8. - 11.
    ResetDeletedEntries();
    List1.Clear();
    List2.Clear();
    SaveScanList();
    List3.Clear();
    ClearFileView();
    // 12.
    if (!CommandWordGiven(QStringLiteral("uninstall"))) {
        setMousePointer(13);
        if (!CacheRoot.isEmpty() && FileExists(CacheRoot + QLatin1Char('*')))
            savePicture(*this);
        else
            DeleteFiles(WorkFolder + QStringLiteral("Lastpict*.*"), false, false);
        DeleteProgramScratchFiles();
        MakeLongPath();
        QString images;
        ListDiskImages(images);
        TidyCacheFolders();
        TidyCacheFolders();
        CacheRoot = PrevCacheRoot;
        TidyCacheFolders();
        CacheRoot = OlderCacheRoot;
        TidyCacheFolders();
    }
    // 13. - 15.
    Timer2.setEnabled(false);
    if (!ChooserStartPath.isEmpty()) {
        const QString native = plat::toNative(ChooserStartPath);
        if (!native.isEmpty())
            QDir().rmdir(native);
    }
    // Every source's quick-undelete cache (drive letters and disk images).
    DeleteDirEntFiles(plat::toNative(WorkFolder));
    UnloadSplashForm();
    // 16.
    EndProcess();
}
