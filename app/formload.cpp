// The main window's start: the whole loading sequence of the program, from
// the start-up routine to the enabled window with Timer1 running; and the
// program's title on the empty picture view.
#include "app/frmrecover.h"

#include "app/logo.h"
#include "app/splash.h"
#include "app/startup.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/chooser.h"
#include "drive/ui/windowshape.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cachenames.h"
#include "scan/learnedtypes.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

namespace {

constexpr double kNoPictureWidth = 10400;

void setOpacity(plat::Control &form, int alpha)
{
    if (QWidget *w = form.widget())
        w->setWindowOpacity(std::clamp(alpha, 0, 255) / 255.0);
}

// A cache path given on the command line: a native path ("/media/x") or a
// drive path ("D:\Work"), as a folder ending in "\".
QString cacheFolderFromCommandLine(const QString &given)
{
    QString folder = given.trimmed();
    if (folder.isEmpty())
        return {};
    folder = folder.startsWith(u'/') ? plat::toInternal(folder) : plat::canonicalInternal(folder);
    if (!folder.endsWith(u'\\'))
        folder += u'\\';
    return folder;
}

} // namespace

void frmRecover::Form_Initialize()
{
    // The common controls come with the widget toolkit.
}

void frmRecover::Form_Load()
{
    ClearProcessEndRequest();
    // 1. No input until the last step; the controls keep their look.
    setEnabled(false);
    // 2.
    ProgramStartup();
    if (ProcessEndRequested())
        return;
    // 3.
    SetUpTypeList();
    SetLanguageCaptions();
    // 4.
    SeedProgramRandom();
    FoundFilePaths = QStringList{QString()};
    ItemOrientations.assign(1, 0.0f);
    // 5.
    StartupSystemChecks();
    // 6. "uninstall": the cache emptied, the program's trees removed, the end;
    // no window and no setting.
    if (CommandWordGiven(QStringLiteral("uninstall"))) {
        if (UninstallMayEmptyCache())
            EmptyCacheFolders();
        TidyCacheFolders();
        DelProgramTrees();
        UnloadSplashForm();
        EndProcess();
        return;
    }
    // 7. The system folders, and the system drive's serial for the support
    // report.
    WindowsFolder = plat::toInternal(QStringLiteral("/"));
    SystemFolder = GetSystemFolder();
    SystemVolumeSerialText = QString::number(GetVolumeSerial(WindowsFolder.left(2)));
    // 8. A translucent window, fully transparent until the fade.
    GetOsVersionText(OsMajorVersion);
    const bool fade = OsMajorVersion > 4 && WindowOpacitySupported();
    if (fade)
        setOpacity(*this, 0);
    VistaOrLater = IsVistaOrLater();
    // 9.
    ProgramTitle = GetString(2256, QStringLiteral("Quilvane Pro"));
    // 10.
    LayoutCommandBar(270);
    Picture5.setBorderStyle(0);
    setWindowState(0);
    // 11. - 14. The settings.
    ReadRegistryEntries();
    Picture5.setWidth(Frame1.Width() - 30);
    // 15. The previous run's picture, or the background picture.
    WorkFolder = plat::programFolder() + kWorkSub;
    const QString lastPicture = WorkFolder + QStringLiteral("Lastpict.bmp");
    if (FileExists(lastPicture) && !CacheRoot.isEmpty() && FileExists(CacheRoot + QLatin1Char('*'))) {
        Picture1.setPicture(QImage(plat::toNative(lastPicture)));
    } else {
        setWidth(kNoPictureWidth);
        DrawStartPicture();
    }
    // 16. A display of fewer than 24 bits keeps the six picture rows only.
    if (GetBitsPerPixel(Picture1) < 24) {
        LowColourDisplay = true;
        while (ListFilters.ListCount() >= 7)
            ListFilters.RemoveItem(ListFilters.ListCount() - 1);
    }
    // 17. The window on the screen, still (nearly) transparent.
    MakeRoundWindow(Picture5, 3);
    Show();
    if (fade) {
        for (int a = 1; a <= 23; ++a) {
            setOpacity(*this, a);
            plat::pumpEventsNow();
        }
    }
    // 18.
    DateSeparator = DateSeparatorOf(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
    // 19. The RAW converter: a program started with its arguments, never
    // through a shell.
    RawConverterCommand = QStandardPaths::findExecutable(QStringLiteral("dcraw"));
    // 20. The learned-type key comes from LearnedTypeKey() where it is used.
    // 21.
    RecordVersion();
    // 22. - 23. The scan-type list with the ticks of the last run.
    ResetDeletedEntries();
    setMousePointer(11);
    FillTypeList();
    RestoreScanTypeRows();
    // 24. "cache": the folder given, or asked for.
    bool cacheGiven = false;
    if (CommandWordGiven(QStringLiteral("cache")) || CommandWordValue(QStringLiteral("cache"))) {
        QString folder;
        if (const std::optional<QString> given = CommandWordValue(QStringLiteral("cache")))
            folder = *given;
        else
            folder = ShowInputBox(GetString(2257, QStringLiteral("Cache:")), GetString(2258, QStringLiteral("Quilvane Cache")));
        folder = cacheFolderFromCommandLine(folder);
        if (!folder.isEmpty()) {
            if (!CacheRoot.isEmpty() && CountFolderFiles(CacheRoot) > 0) {
                // The root given up keeps its files for a later choice.
                OlderCacheRoot = PrevCacheRoot;
                PrevCacheRoot = CacheRoot;
            }
            CacheRoot = folder;
            cacheGiven = true;
        }
    }
    // 25. A root without files makes way for the derived one; a root the
    // command line gave is kept (and made a cache folder there).
    if (cacheGiven) {
        MakeDirNames();
    } else if (CacheRoot.isEmpty() || CountFolderFiles(CacheRoot) == 0) {
        CacheRoot.clear();
        MakeDirNames();
    }
    if (PrevCacheRoot.isEmpty())
        PrevCacheRoot = CacheRoot;
    if (OlderCacheRoot.isEmpty())
        OlderCacheRoot = CacheRoot;
    // 26. The choice among the remembered caches, unless the command line
    // made it.
    if (!cacheGiven)
        GetActiveTempCache();
    plat::pumpEventsNow();
    ShownFolder = CacheRoot;
    CreateCacheFolders();
    // 27.
    ResultViewState = StoredViewState.toInt();
    OperationRunning = true;
    ListClickSuppressed = true;
    setCaption(ProgramTitle + QStringLiteral(" ") + QStringLiteral("      ")
               + GetString(2261, QStringLiteral("File & Media Recovery")));
    // A scan ended from outside left its files as it wrote them: they are
    // finished before the list shows them or the staged recovery starts.
    FinishInterruptedScanFiles();
    // 28. The previous run's found files; the list file written once more
    // with a random selection for the next start.
    FileListBusy = true;
    Picture1.ZOrder(0);
    LvwFiles.setVisible(false);
    ShownFolder = CacheRoot;
    RefillFoundFileList();
    {
        const int32_t kept = LastListIndex;
        const double fraction = std::generate_canonical<double, 32>(ProgramRandom());
        LastListIndex = int32_t(RoundHalfEven(fraction * List3.ListCount()));
        SaveScanList();
        LastListIndex = kept;
    }
    FileListBusy = false;
    // 29.
    const int cacheFiles = CountFolderFiles(CacheRoot);
    if (cacheFiles > 0) {
        if (ThumbCounter < cacheFiles - 1)
            ResultViewState = 0;
        if (ResultViewState != 1) {
            ListClickSuppressed = false;
            ResultViewState = 0;
            ShowBrowsingStatus();
            List3.setVisible(true);
            List3.ZOrder(0);
        } else {
            RenderThumbnails();
            LvwFiles.setVisible(true);
        }
    }
    // 30.
    UpdateThumbsCaption();
    // 31. The drive.
    ChooseStartDrive();
    ListClickSuppressed = false;
    OperationRunning = false;
    setMousePointer(13);
    // 32.
    Picture5.setVisible(true);
    setWindowState(0);
    // 33.
    if (List3.ListCount() == 0) {
        ShowGetStarted();
        Form_Resize();
    } else {
        List3_Click();
    }
    // 34.
    Form_Resize();
    UpdateDriveInfoLabel();
    // 35.
    OperationRunning = false;
    plat::pumpEventsNow();
    ZOrder(0);
    // The splash stays in front while it fades (also without a window
    // manager that keeps it on top).
    frmRecoverInit *splash = SplashFormIfMade();
    if (splash)
        splash->ZOrder(0);
    EnableButtons();
    OperationRunning = true;
    // 36. The cross-fade from the splash.
    if (fade) {
        QElapsedTimer clock;
        clock.start();
        FadeHooks hooks;
        hooks.nowMs = [&clock] { return clock.elapsed(); };
        hooks.setAlpha = [this, splash](int mainAlpha, int splashAlpha) {
            setOpacity(*this, mainAlpha);
            if (splash)
                setOpacity(*splash, splashAlpha);
        };
        hooks.wait = [](int ms) {
            plat::pumpEventsNow();
            if (ms > 0)
                QThread::msleep(ulong(ms));
        };
        RunCrossFade(hooks);
        AddStartupDeliberateMs(clock.elapsed());
    }
    // The last step may have been left out by a slow machine: full opacity.
    setOpacity(*this, 255);
    // 37.
    SetToolTips();
    // 38.
    UnloadSplashForm();
    // 39. A staged recovery resumed here runs with the window taking input,
    // so that its Stop and End can be pressed.
    OperationRunning = false;
    setEnabled(true);
    ResumeDamagedMediaRecovery();
    if (ProcessEndRequested())
        return;
    setEnabled(false);
    OperationRunning = false;
    // 40.
    CheckForUpdate(false);
    if (ProcessEndRequested())
        return;
    // 41.
    Timer1.setInterval(1000);
    Timer1.setEnabled(true);
    // 42.
    setMousePointer(0);
    ZOrder(0);
    setEnabled(true);
    StartupFinished = true;
    // A termination signal that came while loading ends the program now.
    if (EndRequestedDuringLoad) {
        EndRequestedDuringLoad = false;
        CmdEnd_Click();
    }
}

void frmRecover::DrawStartPicture()
{
    const QString back = BackgroundPicturePath(WorkFolder);
    if (!back.isEmpty()) {
        // The background fills the view at any size.
        Picture1.setPicture(QImage());
        DrawPictureWhenUndrawn(Picture1, back);
    }
    PrintPicture1Title();
}

void frmRecover::PrintPicture1Title()
{
    if (!CacheRoot.isEmpty() && FileExists(CacheRoot + QLatin1Char('*')))
        return;
    QString title = Caption();
    title.replace(QLatin1String("  "), QLatin1String(" "));
    title = title.trimmed();
    PrintGlowText(Picture1, title, 15, 41, 0x444444, 8);
    PrintTextAt(Picture1, title, 14, 40, 0x00FFFF, 8);
}
