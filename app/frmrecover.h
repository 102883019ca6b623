// The main window: one instance for the program, holding every command,
// list and picture control, the busy flags, the source and cache fields and
// the found-file list state that all subsystems share.
//
// The header is organised by subsystem. Each member is defined in the folder
// of the subsystem it belongs to:
//   - the shell's own members (controls, command bar, button states, busy
//     guard and timers, settings) in app/*.cpp;
//   - the cache folder tree, the scan-list file and the free-space check in
//     recovery/ui/*.cpp (their window-free logic in recovery/*.cpp);
//   - the members of the other subsystems in their folder's ui/ (their
//     window-free logic in the folder itself).
// A later subsystem adds its members in a section of its own below, with its
// controls declared after the ones here (controls are made in declaration
// order; a control's container must be declared before it).
#pragma once

#include "drive/driveinfo.h"
#include "drive/registry.h"
#include "platform/ui/controls.h"
#include "platform/ui/drivelist.h"
#include "platform/rawwrite.h"
#include "recovery/diskimage.h"
#include "recovery/mediatools.h"
#include "scan/scanengine.h"
#include "scan/scantable.h"
#include "recovery/saving.h"
#include "undelete/entries.h"
#include "undelete/fatwalk.h"
#include "undelete/ntfsundelete.h"
#include "viewer/canvas.h"
#include "viewer/decodequeue.h"
#include "viewer/thumbnailer.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class frmRecover : public plat::Form {
public:
    frmRecover();
    ~frmRecover() override;

    // ======================================================================
    // Controls (the command panel's places are set by LayoutCommandBar)
    // ======================================================================

    // Picture view and panels on the left.
    plat::PictureBox Picture1{this};        // preview of the selected found file
    plat::PictureBox Picture5{this};        // panel behind the picture view
    plat::PictureBox Picture7{this};        // Get Started panel
    plat::TextBox txtExif{this, true};      // EXIF summary beside the picture view
    plat::ListBox List1{this};              // existing entries (quick undelete)
    plat::ListBox List2{this};              // deleted entries (quick undelete)
    plat::ListBox List3{this};              // found files of the shown folder
    plat::ListView LvwFiles{this};          // thumbnails of List3's files (item i + 1 = List3 item i)
    plat::ImageList ImageList1;             // LvwFiles' pictures
    plat::ListView LvwTypes{this};          // scan-type list
    plat::ComboBox CmbTypeSelect{this, 0};  // type presets
    plat::ListBox ListColors{this};         // colour schemes: 0 Hide Me, 1 Dark, 2 Light, 3 Windows Theme
    plat::ListBox ListFilters{this};        // picture filters popup
    plat::DriveListBox Drive2{this, false}; // never shown: counts the drives for Timer1

    // Command panel.
    plat::Frame Frame1{this};
    plat::TextBox txtSpecs{&Frame1, true};
    plat::Label lblSpecs{&Frame1};
    plat::Label lblAbout{&Frame1};
    plat::Label lblHelp{&Frame1};
    plat::CheckBox CheckSpecs{&Frame1};
    plat::ProgressBar ProgressBar1{&Frame1};
    plat::PictureBox Picture3{&Frame1};     // status line
    plat::Label lblStatus{&Picture3};
    plat::PictureBox Picture4{&Frame1};     // button panel
    plat::DriveListBox Drive1{&Picture4};
    plat::CheckBox ChkDeep{&Picture4};
    plat::CheckBox ChkDamaged{&Picture4};
    plat::CommandButton CmdBackup{&Picture4};
    plat::CommandButton CmdScanBackup{&Picture4};
    plat::CommandButton CmdQuickUndelete{&Picture4};
    plat::CommandButton CmdScan{&Picture4};
    plat::CommandButton CmdSaveAll{&Picture4};
    plat::CommandButton CmdSaveAs{&Picture4};
    plat::CommandButton CmdShowFolder{&Picture4};
    plat::CommandButton CmdShowThumbs{&Picture4};
    plat::CommandButton CmdLearn{&Picture4};
    plat::CommandButton CmdShowScanTypes{&Picture4};
    plat::CommandButton CmdOpen{&Picture4};
    plat::CommandButton CmdRenderWidth{&Picture4};
    plat::TextBox TxtWidth{&Picture4};
    plat::CommandButton CmdMaxSpeed{&Picture4};
    plat::CommandButton CmdBrowse{&Picture4};
    plat::CommandButton CmdEnd{&Picture4};

    // Timers.
    plat::Timer Timer1{this, 1000, false};               // drive poll, replayed list click
    plat::Timer Timer2{this, 1000, false};               // passes of the End command
    plat::Timer Timer5{this, 100, false};                // end of the file list's busy period
    plat::Timer TimerCleanThumbnail{this, 2000, false};  // releases the thumbnail generator

    // ======================================================================
    // Source and program-wide values
    // ======================================================================
    QString SourceName;             // "e:", or a disk image path while an image is the source
    QString SourceDrive;            // drive of the last scan or quick undelete (SD)
    int32_t SourceVolumeSerial = 0; // its volume serial (SDVS)
    QString ProgramTitle = QStringLiteral("Quilvane");   // "Quilvane Pro" once start-up has set it
    QString WindowsFolder;
    QString SystemFolder;
    QString DateSeparator;
    plat::Form *SplashWindow = nullptr;   // the splash while start-up shows it

    // ======================================================================
    // Busy state and the shutdown guard (app/busy.cpp)
    // ======================================================================
    bool OperationRunning = false;    // an operation runs; clearing it is the stop request
    bool OperationBusy = false;       // second mark of a search, save or backup
    bool FileListBusy = false;        // code changes the found-file list: no preview
    bool ListClickPending = false;    // a list click waits for the user to be idle
    bool ListClickSuppressed = false;
    // Operations that write (scan, save, backup, ...) hold an OperationScope
    // for their whole run; the shutdown waits while any is held.
    int ActiveOperations = 0;
    bool ShuttingDown = false;        // once set, End presses and timer ticks do nothing

    class OperationScope {
    public:
        explicit OperationScope(frmRecover &window);
        ~OperationScope();
        OperationScope(const OperationScope &) = delete;
        OperationScope &operator=(const OperationScope &) = delete;

    private:
        frmRecover &window_;
    };

    // The window may end now: no operation is held, none runs or is busy.
    bool CanShutDown() const;
    // Starts the shutdown once: true for the first call while CanShutDown();
    // false while an operation still runs and for every later call.
    bool BeginShutdown();

    // A command handler's first test: when an operation runs or is busy, the
    // busy guard answers (CheckBusy) and the handler must return (true).
    bool RefuseWhileBusy();
    // A press or a double click on the lists while the full picture window's
    // picture is decoded: the busy guard answers, and the caller returns (true).
    bool RefuseWhileFullPictureDecodes();
    void CheckBusy();
    void ShowSelectFileNotice();
    void ShowNoFilesNotice();
    void Timer1_Timer();
    void Timer5_Timer();

    // ======================================================================
    // Command bar, button states and progress panel (app/commandbar.cpp)
    // ======================================================================
    void LayoutCommandBar(double specsTop);
    // The tool tips of the commands, the size-limit row of CmbTypeSelect and
    // the combo's default text and width (app/tooltips.cpp). Until it has
    // run, start-up is not finished (the End button has no tip).
    void SetToolTips();
    void EnableButtons();
    void ShowProgressPanel(const QString &caption, double count);
    // The status line after a save: how many files went into which folder,
    // the folder shortened in its middle when the line is too narrow.
    void ShowSaveReport(int count, const QString &folder);
    void ClearFileView();
    // The design places of the command panel's controls and the design
    // sizes of the lists, then the first layout (Form_Resize).
    void ArrangeDefaultLayout();

    int PictureOrientation = 0;       // 0 from the file; 1-8 EXIF; 101-108 rotated by the user
    int RenderedThumbWidth = 0;       // TW: the width the thumbnails were rendered at
    int ThumbWidth = 72;              // pixels
    int ThumbHeight = 48;             // ThumbWidth x 2 \ 3

    // ======================================================================
    // Settings schema (app/settingsschema.cpp)
    // ======================================================================
    static const QString BaseKey;     // Software\Zentarix
    static const QString ProgramKey;  // Software\Zentarix\Quilvane Pro
    static const QString OldProgramKey;   // Software\Zentarix\Quilvane: earlier layout
    int32_t RegistryHive = HKEY_CURRENT_USER;
    int ResultViewState = 0;          // ST: 0 list, 1 thumbnails
    int32_t BrowseListIndex = 0;      // LSB
    double SizeLimitMin = 0, SizeLimitMax = 0;   // LMinMB, LMaxMB
    QString StoredViewState = QStringLiteral("0");   // ST as read, for start-up

    // Writes every setting of the program key (nothing when CacheRoot is empty).
    void CreateRegistryEntries();
    // Reads the settings back into the fields and controls, each value
    // checked: what is out of its range takes its default.
    void ReadRegistryEntries();
    // Checks the scan-type rows of LvwTypes from the LVW sub-key; then the
    // preset box shows what is in force (TypeSel).
    void RestoreScanTypeRows();

    // ======================================================================
    // Cache folder tree (recovery/ui/cachefolders.cpp)
    // ======================================================================
    QString CacheRoot;            // TCache: found files lie directly in it
    QString PrevCacheRoot;        // OCache
    QString OlderCacheRoot;       // O2Cache
    QString ThumbsFolder;         // CacheRoot & "Thumbs\"
    QString BrowseThumbsFolder;   // ThumbsFolder & "Browse\"
    QString ActiveThumbsFolder;   // ThumbsFolder or BrowseThumbsFolder
    QString CacheTempFolder;      // CacheRoot & "Temp\"
    QString ConvFolder;           // CacheRoot & "Conv\"
    QString ShownFolder;          // BRD: the folder the found-file list shows
    QString BrowseStartFolder;    // LBR
    QString BackupFolder;         // BUD
    QString WorkFolder;           // program folder & "ZTRecdt\"
    QString ShortShownFolder;
    QString ShortConvFolder;
    int32_t ThumbCounter = 0;     // THnr

    void MakeDirNames();
    void MakeLongPath();
    void CreateCacheFolders();
    void EmptyCacheFolders();
    void ResetCache();
    void TidyCacheFolders();
    void DeleteOrphanCacheFiles();
    void DeleteOrphanFiles(const QString &folder);
    void GetActiveTempCache();
    void EmptyCacheDir();
    // The root a new cache is derived at: beside the program's temporary
    // folder, "...\RIVozud\".
    QString DefaultCacheRoot() const;

    // ======================================================================
    // Scan-list file and found-file list (recovery/ui/scanlistui.cpp)
    // ======================================================================
    QStringList FoundFilePaths{QString()};       // file names in ShownFolder, parallel to List3
    std::vector<float> ItemOrientations{0.0f};   // per item drawing orientation
    QString LastScanDriveType;
    int32_t LastScanSerial = 0;
    int32_t ResumePosition = 0;
    QString LastScanSource;
    int32_t LastListIndex = 0;
    bool FilterActive = false;
    QString FilterName;
    bool ThumbFlag = false;
    QString NoPreviewList;
    bool ResumeFileOpen = false;
    std::vector<InnerStart> ResumeInner;   // the units noted inside that open file
    bool SmartScan = false;
    QString ListCacheKey;

    QString MakeCacheKey() const;
    QString ScanListFile() const;   // WorkFolder & key & ".dat"
    bool SaveScanList();
    bool LoadScanList();
    void RefillFoundFileList();

    // ======================================================================
    // Free-space check (recovery/ui/freespaceui.cpp)
    // ======================================================================
    int32_t CacheFreeMB = 0;     // the scan's budget on the cache drive
    void CheckTargetFreeSpace(const QString &cacheFolder, int &result, bool &room);

    // ======================================================================
    // Information texts and the drive information panel (app/infotext.cpp)
    // ======================================================================
    QString DriveInfoText;          // the text lblSpecs shows
    QString DescribedSource;        // the source the text was built for

    // Appends a line to an information text, wrapped to 36 characters
    // (after a "" where possible), ended by CR LF.
    void FormatInfo(const QString &line, QString &text) const;
    // Keeps at most 11 lines.
    void TruncateInfo(QString &text) const;
    void ShowDriveInfo();
    void UpdateDriveInfoLabel();

    // ======================================================================
    // The window's behaviour: layout (app/layout.cpp), the result lists' keys
    // and mouse (app/resultlists.cpp), colour schemes (app/colours.cpp),
    // controls and options (app/options.cpp), the Get Started panel
    // (app/getstarted.cpp), list selection and browsing status
    // (app/selection.cpp), panels, About link and uninstall (app/panels.cpp).
    // ======================================================================
    bool StayMaximized = false;       // maximized once: a restored window is maximized again
    int16_t ResizeDepth = 0;          // nesting of Form_Resize
    QString SavedStatusText;          // the status line before the browsing text replaced it
    QString LastExploredFolder;       // the folder CmdShowFolder_Click opened last
    qint64 LastItemClickMs = std::numeric_limits<qint64>::min() / 2;   // LvwFiles_ItemClick's previous click

    // Lays out every control for the window's size and state.
    void Form_Resize();
    // The window's outer width as the layout sees it (the maximized width
    // while maximized).
    double LayoutWidth() const;

    // Result lists: keys and mouse (key codes and shift states as delivered).
    void List1_MouseDown(int button, int shift, double x, double y);
    void List1_KeyUp(int &keyCode, int shift);
    void List2_KeyUp(int &keyCode, int shift);
    void List3_KeyUp(int &keyCode, int shift);
    void List2_MouseDown(int button, int shift, double x, double y);
    void List3_KeyDown(int &keyCode, int shift);
    void List3_MouseDown(int button, int shift, double x, double y);
    void LvwFiles_DblClick();
    void LvwFiles_ItemClick(int item);
    void LvwFiles_KeyUp(int &keyCode, int shift);
    void LvwFiles_MouseDown(int button, int shift, double x, double y);
    void LvwFiles_KeyDown(int &keyCode, int shift);
    // Opens a found file with its associated program; never runs it.
    void OpenRecoveredFile(QString &path);
    // Moves found file `index` of the shown folder to the trash and takes it
    // out of the lists (also without the trash when force is set).
    void RemoveRecoveredFile(int32_t &index, bool &force, bool &removed);
    void ApplyToSelectedItems();
    // Shift+S / Shift+C: the previews of the RAW files from the selected
    // thumbnail on into the save folder.
    void ExportRawPreviews();

    // Colour schemes.
    void ListColors_Click();

    // Controls and options.
    void CheckSpecs_Click();
    void ChkDeep_MouseDown(int button, int shift, double x, double y);
    void ChkDamaged_MouseDown(int button, int shift, double x, double y);
    void ChkDamaged_Click();
    // The user's click on ChkDeep or ChkDamaged (mouse or Space): taken back
    // while an operation runs, so the option keeps its value; otherwise a
    // click on ChkDamaged runs ChkDamaged_Click. Code that sets a box's
    // value (the scan's read fallbacks) is not affected.
    void OptionBox_UserClick(plat::CheckBox &box);
    void Form_MouseDown(int button, int shift, double x, double y);
    void Frame1_MouseDown(int button, int shift, double x, double y);
    void lblSpecs_MouseDown(int button, int shift, double x, double y);
    void ListFilters_LostFocus();
    void ListFilters_MouseUp(int button, int shift, double x, double y);
    void CmdShowFolder_Click();
    void CmdOpen_Click();
    void lblHelp_Click();

    // Get Started panel.
    void ShowGetStarted();
    // Prints the panel's lines for its present size (the list's width).
    void DrawGetStartedPanel();

    // Found-file list selection and browsing status.
    void RememberListIndex();
    void SelectListItem();
    // After files were saved out of the list: item `index` (or the last one)
    // becomes the one selection of both views and is shown.
    void SelectNextAfterSave(int index);
    // 1: List3's selection to LvwFiles; any other value: LvwFiles' to List3.
    void SyncListSelections(int16_t &direction);
    void SyncListSelections(int direction);
    void ShowBrowsingStatus();

    // Panels, About link and the uninstall clean-up.
    void Picture4_MouseDown(int button, int shift, double x, double y);
    void Picture5_MouseDown(int button, int shift, double x, double y);
    void lblAbout_Click();
    // Removes the program's own files and folders from the program folder
    // (the command word "uninstall").
    void DelProgramTrees();
    // The program's temp*.* files, only from a program folder that carries
    // one of the program's words.
    void DeleteProgramScratchFiles();
    // Before "uninstall" empties the cache: the found files still there
    // were never saved (a save moves them out); asks once, naming their
    // number, whether they go too. True when they may be deleted: there are
    // none, or the answer is Yes; No, no box or no answer in a minute keep them.
    bool UninstallMayEmptyCache();

    // The handlers of the controls above, wired once by the constructor.
    void WireBehaviourEvents();

    // ======================================================================
    // Start-up (app/formload.cpp, app/captions.cpp), the drive choice
    // (app/drivechoice.cpp) and the shutdown (app/shutdown.cpp)
    // ======================================================================
    // The program's start: the common controls (nothing to do), then the
    // whole loading sequence. Form_Load runs once per process.
    void Form_Initialize();
    void Form_Load();
    bool StartupFinished = false;     // Form_Load ran to its end
    bool EndRequestedDuringLoad = false;   // a termination signal came while loading
    bool VistaOrLater = false;
    bool LowColourDisplay = false;    // the picture view has fewer than 24 bits per pixel
    int OsMajorVersion = 0;
    QString RawConverterCommand;      // the RAW converter's program (arguments follow, never a shell)
    QString SystemVolumeSerialText;   // the system drive's volume serial, decimal (support report)

    // Every caption, list row and column header in the chosen language.
    void SetLanguageCaptions();
    // The program's title on the empty picture view (nothing while the cache
    // holds files).
    void PrintPicture1Title();
    // The picture view without a found file: the background picture at the
    // view's size and the program's title.
    void DrawStartPicture();

    // The drive change: readiness (waiting up to 5 s), the source name, the
    // Backup button, the drive information, and on a change of drive the
    // NTFS volume closed and the lists refreshed.
    void Drive1_Change();
    // Refreshes Drive1 and chooses a ready removable drive, else the last
    // source when it is a ready CD-ROM, else the first entry.
    void RefreshDriveList();
    // The start-up's drive choice: the recorded source, the refresh, the
    // recorded serial; then Drive1_Change once.
    void ChooseStartDrive();
    // Reads the source drive's identity again (serial, size, file system,
    // fingerprint of FAT and root folder) and compares it with the medium
    // the window's entry lists were read from: on a change that medium's
    // entry list, Quick Undelete listing, open NTFS volume and (same drive)
    // DirEnt.dat are dropped. The drive information is shown afresh. Every
    // command that acts on the source runs it first. A source that is not
    // ready, lacks the rights or cannot be read is said so (the not-ready
    // notice, the advice on restricted rights, "Cannot read the disk.";
    // nothing when quiet) and the command must not act: false. A disk
    // image as the source (Scan Backup) is not checked: true.
    bool CheckSourceMedium(bool quiet = false);
    DriveIdentity SourceMedium;       // the medium the entry lists were read from
    // The notice of a drive that is not ready (self-closing).
    void ShowDriveNotReady(const QString &source);
    QString RememberedDrive;          // the source the last drive change settled on
    int DriveChangeDepth = 0;         // nesting of Drive1_Change
    bool DriveChangeQuiet = false;    // code sets Drive1 without running the handler

    // The End command in passes driven by Timer2, the close request, and the
    // one shutdown they all reach.
    int EndPassCount = 0;
    void CmdEnd_Click();
    void Timer2_Timer();
    void Form_QueryUnload(int &cancel, int mode);
    void Form_Unload(int &cancel);
    void Form_Terminate();
    // Keeps the picture, writes the settings, saves the found-file list,
    // removes the temporary files, tidies the cache and ends the process.
    // Runs once; while an operation still runs it asks it to stop and lets
    // the End command's passes finish the work.
    void ShutdownCleanup();
    // The running operation is one End asks to stop (thumbnail rendering,
    // scan, backup, repair or wipe, told by their captions).
    bool EndMayStopOperation() const;

    // ======================================================================
    // Start-up checks and the version record (app/startupchecks.cpp), the
    // update check (app/updatecheck.cpp)
    // ======================================================================
    // The hive of the program key: the stored choice, or (first start, or
    // "clean" on the command line) the first of HKEY_LOCAL_MACHINE,
    // HKEY_USERS and HKEY_CURRENT_USER whose base key can be written; on the
    // first start with a hive, the system checks.
    void StartupSystemChecks();
    // The run-time check after a new manifest: nothing to check here.
    void CheckVbRuntime();
    // Version and ActPath under the base key, written when they changed.
    void RecordVersion();
    // The online update check: unforced it acts when the last check lies 15
    // days or more back; forced (the About box) at once.
    void CheckForUpdate(bool forced);
    // The About box (app/frmabout.cpp): unloads frmAboutRecvr when it is
    // loaded, loads it anew, shows it without making it modal and brings it
    // to the front.
    void frmAboutRecvr_Show();

    // ======================================================================
    // Scan-type list, its events, the type presets and the size limits
    // (scan/ui/*.cpp). The limits are SizeLimitMin / SizeLimitMax above.
    // ======================================================================
    void CmbTypeSelect_Click();            // type presets
    void CmdShowScanTypes_Click();         // shows, switches or hides the scan-type list
    plat::ImageList ImageList2;       // one small icon per type of LvwTypes
    QStringList TypeIconKeys;         // "ZT" + extension of ImageList2's images, in order
    bool TypeSelectionChanged = false;   // the user changed the type choice (quick undelete clears it)
    int TypeSelectIndex = -1;         // the preset chosen last
    bool TypeListReady = false;       // columns, preset rows and events are set up
    bool TypeListFilling = false;     // FillTypeList is changing the rows

    // Columns, the preset rows of CmbTypeSelect and the events of the list,
    // once; FillTypeList and CmdShowScanTypes_Click run it first.
    void SetUpTypeList();
    // Refills LvwTypes from the built-in table and the learned-type files;
    // keeps the ticks of the rows ticked before and ticks the rows named in
    // the selection, which is upper-cased and extended with those names.
    void FillTypeList(QString &selection);
    void FillTypeList();
    // The preset box as a restart finds the ticks: the stored preset when the
    // ticks are exactly its own, else the prompt (the user's own ticks, the
    // size entry, no choice).
    void ShowTypeSelectInForce(int storedIndex);
    void CmdShowScanTypes_GotFocus();
    void SetTypesColumnWidth();
    void LvwTypes_ItemCheck(int index);
    void LvwTypes_KeyUp(int keyCode, int shift);
    void LvwTypes_MouseDown(int button, int shift, double x, double y);
    void LvwTypes_FocusChanged();
    void RemoveLearnedTypes();
    // The file-size entry of CmbTypeSelect (entry 0).
    void TypeSizeEntry();
    void lblStatus_Click();
    // The rows of LvwTypes as the scan table's builder reads them.
    TypeListRows TypeRows() const;
    // Hides the quick-undelete lists and shows the found-file list and the
    // picture view in front.
    void ShowPictureView();

    // ======================================================================
    // The scan (scan/ui/scandisk.cpp) and the Scan command
    // (scan/ui/scanstart*.cpp). LastScanSource, LastScanSerial,
    // ResumePosition (ScanResumeUnit as the list file keeps it) and
    // ResumeFileOpen are in the scan-list section above.
    // ======================================================================
    bool ScanningImage = false;       // Scan Backup: SourceName is the image's internal path
    int32_t RecoveryStage = 0;        // staged recovery of damaged media; 0 none
    bool SmartScanActive = false;     // the scan reads the free clusters only
    bool ScanFinished = false;        // the last scan ran to its end
    DriveIdentity ScanMedium;         // the medium the last new scan began on (this run)
    ScanResumePoint ScanResume;       // the interrupted scan: unit = ScanResumeUnit
    // ScanResumeUnit: the unit after the last one the interrupted scan
    // examined, 0 none. Setting it keeps ResumePosition (the list file's copy)
    // alike; a unit other than the held one drops the held byte offset, and
    // the scan then places the unit by its own geometry.
    int64_t ScanResumeUnit() const { return ScanResume.unit; }
    void SetScanResumeUnit(int64_t unit)
    {
        if (unit != ScanResume.unit) {
            ScanResumePoint moved;
            moved.unit = unit;
            moved.fileOpen = unit > 0 && ScanResume.fileOpen;
            if (moved.fileOpen)
                moved.inner = std::move(ScanResume.inner);
            ScanResume = std::move(moved);
        }
        if (unit <= 0)
            ScanResume = ScanResumePoint{};
        ResumePosition = int32_t(unit);
    }
    FoundFileList FoundFiles;         // FoundFileNames / FoundFileSizes of the scan
    ScanResult LastScanResult;        // what the last scan ended with
    // Hooks for tests and the benchmark: the scan's callbacks are passed
    // through this before the scan runs (empty: nothing changed).
    std::function<void(ScanCallbacks &)> AdjustScanCallbacks;

    // The scan of SourceName into CacheRoot with the table SignatureTable.
    void ScanDisk();
    // The end of the scan's finishing pass on the window: the progress bar
    // reset, "Explore Cache", the file view cleared (and rendered again in
    // the thumbnail view), the thumbnails' caption, the buttons, the first
    // result and the Scan caption.
    void ShowScanResults();
    void CmdScan_Click();
    // A scan ended from outside (the marker LastCluster above 0) left the
    // files it wrote in the cache root uncut: the finishing pass cuts them,
    // the file that was open is marked as cut short, and the list file is
    // written so that the found-file list shows them so.
    void FinishInterruptedScanFiles();

    // The Scan command (scan/ui/scanstart.cpp)
    // WorkFolder & "Searched.dat": the source and serial of the last scan.
    QString SearchedFilePath() const;
    // ScanResumeUnit follows ResumePosition once a list file set it.
    void SyncScanResumeUnit();
    // Shows the found-file list of CacheRoot (its list file loaded).
    void LoadCacheRootList(bool filesViewVisible);
    // The folder chooser for the cache, offering the proposal; its answer.
    QString ChooseCacheFolder(const QString &proposal);
    // The Scan command's end: the list of the cache root, the flags cleared.
    void EndScanCommand();

    // ======================================================================
    // Disk images and media tools (recovery/ui/backupui.cpp,
    // recovery/ui/mediatoolsui.cpp, recovery/ui/stagedrecoveryui.cpp)
    // ======================================================================
    QString ImageFilePath;            // the image Backup Medium writes; emptied at every drive choice
    double MeasuredSpeedMBps = 0;     // measured by Test Speed; 0 when none
    uint32_t MeasuredSpeedSerial = 0; // the serial of the medium it was measured on
    BackupResult LastBackupResult;    // what the last copy ended with

    // Backup Medium: start, or stop the running copy.
    void CmdBackup_Click();
    // The copy of SourceName into BackupFolder (stage 2: backuptemp.dat).
    void BackupDiskImage();
    // The index files of the work folder's DiskImages\, "|"-terminated; stale
    // ones removed.
    void ListDiskImages(QString &list);
    // Scan Backup: the scan of a disk image instead of the medium.
    void CmdScanBackup_Click();
    // The image stage 2 writes and the final stage scans.
    QString BackupTempPath() const;
    // R on the Backup button: an image written back onto the medium.
    void CmdBackup_KeyPress(int &keyAscii);
    // W (wipe), R (repair) and F (format) on the drive list.
    void Drive1_KeyPress(int &keyAscii);
    // The tools' guard: no operation runs, the source is a removable drive
    // with a FAT layout and not the system's drive. Otherwise keys do nothing.
    bool MediaToolAllowed();
    // The question of a writing tool, naming the medium (label, size,
    // device); the identity of the medium it named. False: refused (the
    // layer's reason shown) or not confirmed.
    bool ConfirmMediumTool(const QString &text, const QString &title, plat::MediumIdentity &identity);
    void ShowWriteRefusal(plat::WriteRefusal why);
    void RestoreDiskImage();
    void WipeMedium(bool repair);
    void FormatMedium();
    void RunFormat(const plat::MediumIdentity &identity);
    QString ResultWord(const WriteOutcome &out, bool flushed) const;
    WriteOutcome LastWriteOutcome;    // of the last wipe or repair
    plat::FormatResult LastFormatResult;
    // Test Speed.
    void CmdMaxSpeed_Click();
    // At start-up: the staged recovery of a medium whose scan never ended.
    void ResumeDamagedMediaRecovery();

    // ======================================================================
    // Learning of new types (scan/ui/learn*.cpp)
    // ======================================================================
    void CmdLearn_Click();
    bool LearnActive = false;         // a learning run is under way (a second press only asks to stop it)
    // Tests: the seed of the random first sample (negative: a fresh seed
    // every run), the clock of the unattended run's time limit (empty: the
    // steady clock, in ms) and a hook run after every sample analysed.
    int64_t LearnSeed = -1;
    std::function<int64_t()> LearnClockMs;
    std::function<void(int index)> LearnSampleHook;

    // ======================================================================
    // Quick undelete: the entry list (undelete/ui/entrylist.cpp; the record,
    // its file form and the sort in undelete/entries.*)
    // ======================================================================
    // Slot 0 is always empty; an entry's index is its identity in List1 and
    // List2. A search leaves at least the slots 0 and 1; before any search,
    // and after ResetDeletedEntries, the list is the one empty slot 0.
    std::vector<DeletedEntryRecord> DeletedEntries{1};

    int DeletedEntriesUpperBound() const;
    // The entry list back to one empty slot.
    void ResetDeletedEntries();
    // Ascending: by Name on NTFS, else by first cluster (the scan's order).
    void SortDeletedEntries();
    // The entries (empty slots left out) as the scan reads them, in list order.
    std::vector<ScanDeletedEntry> DeletedEntriesForScan() const;
    // Fills the entry list from the file form of records 0..upperBound (a
    // disk image's index file); the list is reset when not every record
    // can be read.
    void LoadDeletedEntriesFromIndex(const QByteArray &records, int upperBound);
    // Records 0..upper bound of the entry list in their file form (for the
    // disk image's index file).
    QByteArray DeletedEntriesFileForm() const;

    // ======================================================================
    // Quick Undelete: the command, the FAT walk and DirEnt.dat
    // (undelete/ui/quickundelete.cpp)
    // ======================================================================
    bool UndeleteListing = false;      // the command is filling the lists
    QString UndeleteLastDrive;         // the source of the last listing
    QString UndeleteLastKey;           // its source followed by the volume serial
    FatWalkResult LastFatWalk;         // what the last FAT walk did
    bool LastSearchReusedCache = false;   // the last search took DirEnt.dat
    DriveIdentity UndeleteListMedium;  // the medium the lists show

    void CmdQuickUndelete_Click();
    // Fills DeletedEntries for a source: the FAT walk (or DirEnt.dat), or
    // the NTFS listing.
    void SearchDeletedEntries(const QString &source);
    // Appends the entries of the drive record's current folder.
    void VulUndeleteList(const QString &filter);
    // Recoverable, Occupied and the mark of being recoverable in part of an
    // entry (a FAT entry from the FAT and the first clusters of the other
    // deleted entries; an NTFS entry has them from its listing). A pass over
    // the list makes the starts of DeletedEntries once and gives them to
    // every call; without them a deleted FAT entry has them made for its own
    // call.
    void CheckDeletedChain(int index, const DeletedEntryStarts *starts = nullptr);
    // The type filter of the listing: ".jpg.cr2" from the ticked rows of
    // LvwTypes, or "all".
    QString UndeleteTypeFilter() const;
    // WorkFolder & the source's DirEnt.dat name.
    QString DirEntFilePath(const QString &source) const;
    // Whether a cluster of the source (or any of count clusters from it) is
    // in use: the FAT arrays of the drive record, or the NTFS volume bitmap.
    ClusterUse SourceClusterUse(const QString &source, int64_t cluster, bool closeAfterwards, int64_t count = 1);

    // ======================================================================
    // Quick undelete: entry information and the events of the entry lists
    // (undelete/ui/entryinfo.cpp, undelete/ui/entryevents.cpp)
    // ======================================================================
    QStringList EntryInfoTexts;        // the information texts, by line count of List2 + 1
    QString PreviewFileName;           // the name the selected entry is extracted under
    // The file name of the entry last selected in List1 or List2.
    QString SelectedEntryFileName() const { return PreviewFileName; }

    void ShowEntryInformation(int index);
    void List1_Click();
    void List1_DblClick();
    void List2_Click();
    void List2_DblClick();
    // The entry index of a line of List1 or List2; -1 for lines without one.
    int EntryIndexOfLine(const plat::ListBox &list, int line) const;
    // A line of an entry: its index in the line's text and as item data.
    void AddEntryLine(plat::ListBox &list, int index, bool occupied, const QString &text);

    // ======================================================================
    // Quick undelete on NTFS through Fennick (undelete/ui/ntfsui.cpp; the
    // module's state and work in undelete/ntfsundelete.*)
    // ======================================================================
    bool MftWasOpened = false;         // an NTFS volume was opened in this run
    bool OpenMft(const QString &drive);
    void CloseMft();
    bool QuickUndeleteNtfs(const QString &drive, std::vector<DeletedEntryRecord> &entries, const QString &filter,
                           double minMB, double maxMB);
    // Writes the data of an MFT record into the open target file; a deleted
    // record whose clusters the volume bitmap shows in use again gives
    // ClustersInUse, never Complete. keepGoing is asked between pieces
    // (false: Stopped).
    NtfsWrite RecoverNtfsEntry(const QString &drive, int32_t mftIndex, QFile &target,
                               const std::function<bool()> &keepGoing = {});
    // Whether any cluster of a deleted record's data is in use again, by the
    // volume bitmap of the source (the table must be loaded).
    ClusterUse NtfsEntryClusterUse(const QString &source, int32_t mftIndex, bool closeAfterwards);
    void ShowMftAccessDenied(const QString &drive);

    // ======================================================================
    // Saving: Save All, Save Selected and the undelete entries
    // (recovery/ui/savingui.cpp, recovery/ui/undeletesave.cpp; the window-free
    // parts in recovery/saving.*)
    // ======================================================================
    bool AskSaveName = true;           // ask for a target per entry
    bool BatchSave = false;            // no warnings per entry
    bool SavingExisting = false;       // List1's existing entries are saved
    QString SaveName;                  // the entry being written
    int32_t SaveFirstCluster = 0;
    int64_t SaveSize = 0;
    QString SaveSource;
    SaveTally LastSaveTally;           // what the last save of entries gave
    QString SavedFilePath;             // native path of the file the last entry was written to
    int64_t SavedFileBytes = 0;        // and its size

    void CmdSaveAll_Click();
    void CmdSaveAs_Click();
    // The folder chooser for the save folder; false on Cancel. A folder on
    // the disk recovered from, or the cache, is refused and asked again.
    bool ChooseSaveFolder(const QString &fallback, const QString &caption = QString());
    void ShowSameDiskWarning();
    // The target may not take saved files: on the physical disk of the
    // source named in Searched.dat, or at or inside the cache root.
    bool RefuseSaveTarget(const QString &target);
    // Saves the selected lines of an entry list from firstLine on.
    void SaveUndeleteEntries(plat::ListBox &list, int firstLine, bool nameGiven, bool force);
    // Writes one entry, cuts it to its size and dates it.
    SaveOutcome SaveUndeleteEntry(QString &name, int index);
    SaveOutcome WriteUndeleteEntryFile(QString &name, int index);

    // ======================================================================
    // Picture viewer: the found-file preview, the picture operations on the
    // window's boxes, the EXIF summary, RAW previews and type icons
    // (viewer/ui/*.cpp; the window-free parts in viewer/*.cpp)
    // ======================================================================
    PictureCanvas Picture1Canvas;     // what Picture1 shows; drawn also while Picture1 is hidden
    PictureCanvas Picture2Canvas;     // the work surface of the type thumbnails
    QStringList ExifLines{QString(), QString(), QString(), QString(), QString()};
    QString ExifSummaryText;          // the summary lblSpecs shows for the picture
    QString LastConvertedFile;        // the picture the preview shows (a conversion or the file)
    QString ConverterCommandText;     // the last conversion as text, and the found file it ran for
    QString ConverterCommandFile;
    bool PictureCopyFlag = false;     // set while a rotation or filter is copied to other items
    double PreviewSizeEstimate = 0;   // kB the shown picture's pixels suggest; 0 none

    // The preview of the selected found file: drawn the right way up with its
    // EXIF summary; RAW files through the converter, other types by their
    // type icon. With Picture1 hidden (the grid renders) only the files:
    // conversions and thumbnails.
    void List3_Click();
    // Draws a picture file into a picture box fitted into width x height
    // (twips): Picture1 draws through its canvas. True when it drew.
    bool DrawThumbnail(const QString &file, plat::PictureBox &target, int width, int height);
    // Draws a picture file into Picture1's canvas as the preview does: the
    // EXIF listing into ExifLines when asked, the grid thumbnail when named.
    // The picture is decoded on a worker while the window's events run;
    // `tooLarge` receives the picture's size (turned) when it was too large to
    // decode for a preview, an invalid size otherwise.
    bool DrawPicture1(const QString &file, bool exifListing, const QString &thumbName, double *estimate = nullptr,
                      QSize *tooLarge = nullptr);
    // The draw call DrawPicture1 makes for a file (no canvas yet).
    DrawThumbnailCall Picture1Call(const QString &file, bool exifListing, const QString &thumbName);
    // Picture1's canvas at the size it draws at: the box while it is shown, a
    // grid cell (the thumbnail size) while it is hidden.
    void PreparePicture1Canvas();
    QSize Picture1CanvasSize() const;
    // The workers that decode the preview's and the grid's pictures.
    PictureDecodeQueue &PictureDecoder();
    std::unique_ptr<PictureDecodeQueue> PictureDecoderQueue;
    // Picture1 shows its canvas.
    void ShowPicture1Canvas();
    // The summary of ExifLines in lblSpecs (while txtExif is hidden) and the
    // full list in txtExif.
    void ShowExifSummary();
    // The scan's preview of a found RAW file: its embedded thumbnail into the
    // cache's Conv folder.
    void RunRawPreview(const QString &cacheFile);
    // The RAW step of the preview; true when a conversion was drawn.
    bool PreviewRawFile(const QString &name, double &estimate);
    QSize rawPictureSize(const QString &name);
    // The icon of a file type (flags 1: small).
    QImage GetFileTypeIcon(const QString &name, int flags, int moreFlags);
    // ThumbWidth and ThumbHeight from TxtWidth, smaller for many files.
    void FitThumbWidth(int fileCount);
    // The camera facts in a unit's bytes (the quick EXIF read, buffer mode);
    // the date in the EXIF form "yyyy:MM:dd HH:mm:ss". None without facts.
    std::optional<ExifQuickFacts> ReadExifQuick(const unsigned char *bytes, size_t size);

    // ======================================================================
    // Picture viewer: shell thumbnails, the thumbnail grid, picture filters,
    // the preview's mouse and popup, the double click, browsing a folder
    // (viewer/ui/*.cpp; the window-free parts in viewer/*.cpp)
    // ======================================================================
    bool RenderingThumbnails = false;   // the grid renders; clearing it is the stop request
    bool GridOutOfDate = false;         // the grid must be made anew (RenderThumbnails clears it)
    // The thumbnailer request under way (DrawSystemThumbnail); released by
    // TimerCleanThumbnail.
    std::unique_ptr<cThumbnailGenerator> CurrentThumbnailGenerator;
    // Tests: the time limit of a thumbnailer the window runs (ms).
    int ThumbnailerLimitMs = 10000;
    // The files (full paths) the desktop's thumbnailers gave no thumbnail.
    QSet<QString> NoSystemThumbnail;
    // The pictures (full paths) too large for a preview, with their size.
    QHash<QString, QSize> TooLargePictures;

    // The desktop's thumbnail of a file drawn centred into the box (twips);
    // true when one was drawn.
    bool DrawSystemThumbnail(PictureCanvas &box, double width, double height, const QString &file);
    void TimerCleanThumbnail_Timer();

    // The grid: its spacing, rendering from an entry on, the Thumbs button's
    // caption and the handlers of the grid's buttons and width box.
    void SetThumbIconSpacing(int width);
    void RenderThumbnails(int firstIndex = 0);
    void UpdateThumbsCaption();
    void CmdShowThumbs_Click();
    void CmdRenderWidth_Click();
    void TxtWidth_LostFocus();

    // Picture filters on the boxes' images.
    void SoftenPicture(PictureCanvas &box);
    void FindWhiteBand(PictureCanvas &box);
    void ApplyPictureFilter(PictureCanvas &box, QString &name);
    int GetBitsPerPixel(plat::PictureBox &box);
    void AddRandomNoise(plat::PictureBox &box);

    // The preview's mouse: the popup of rotations and filters (right), the
    // full picture window (left); the found file's double click.
    void Picture1_MouseDown(int button, int shift, double x, double y);
    void Picture1_DblClick();
    void ListFilters_Click();
    void List3_DblClick();
    // While the full picture window's picture is decoded: the choice it was
    // asked for (ChosenItemKey); empty otherwise.
    QString FullPictureChoice;
    // The lists' present choice in one text: the current items of the entry
    // lists, the found-file list and the grid (while shown), and the found
    // file's path.
    QString ChosenItemKey() const;
    // A JPEG copy of the shown picture (rotation and filter included) where
    // the user says, under a free name proposed in the save folder.
    void SaveShownPicture();
    // Picture1's image as a bitmap file.
    bool SavePicture1(const QString &path);

    // Browse: another folder's files (or another cache tree) in the lists.
    void CmdBrowse_Click();

private:
    void wireEvents();
    void wireViewerEvents();
    // The grid cells of these List3 items drawn anew (after a rotation).
    void refreshGridCells(const std::vector<int> &indices);
    // Shows the file in the full picture window; true when the press is done
    // with: the picture shown, or dropped because another item was chosen
    // while it was decoded.
    bool openFullPicture(const QString &file, int orientation, const QString &shownName);
    // The cache folders made again without leaving a browsed folder.
    void createCacheFoldersKeepingView();
    int popupDepth_ = 0;                // a left press handed on from the double click
    bool listFiltersPreselecting_ = false;
    void previewEmptyFile(int index, const QString &name);
    bool previewShellThumbnail(const QString &name);
    void previewTypeIcon(const QString &name, const QString &ext, double sizeKB, QSize tooLarge = QSize());
    void companionExif(int index, const QString &name);
};

// Test Speed's measurement of a drive: MB/s into mbps (also returned); 0
// when nothing could be measured (the drive could not be opened: a notice).
double DriveSpeedTest(const QString &drive, double &mbps);

// What the preview and the grid say of a picture too large to preview:
// text 2692 with its width and height in pixels.
QString TooLargeText(QSize size);

// The program's main window, made on first use.
frmRecover &MainWindow();
// Whether it exists (timers and services that may run without it).
frmRecover *MainWindowIfMade();
// Tests: a fresh window (the old one destroyed), and its destruction.
frmRecover &CreateMainWindow();
void DestroyMainWindow();
