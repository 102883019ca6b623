// The scan on the main window: ScanDisk sets the scan up from the window's
// fields and boxes, hands the source, the table and the options to the scan
// engine and shows what it reports: the progress line and bar, the found
// files in List3, the captions of the Scan button and the end messages.
#include "app/frmrecover.h"
#include "app/rightsadvice.h"
#include "drive/bitmap.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/sectors.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/imageindex.h"
#include "recovery/scanlist.h"
#include "scan/foundagain.h"
#include "scan/scanengine.h"
#include "scan/scantable.h"
#include "scan/signatures.h"
#include "scan/unitgeometry.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <memory>

namespace {

// The deleted-entry facts DeepScan's auxiliary table is made from.
std::vector<DeletedEntryFacts> entryFacts(const std::vector<ScanDeletedEntry> &entries)
{
    std::vector<DeletedEntryFacts> facts;
    facts.reserve(entries.size());
    for (const ScanDeletedEntry &e : entries) {
        DeletedEntryFacts f;
        f.Name = e.Name;
        f.Attributes = e.Attributes;
        f.Size = uint32_t(std::min<uint64_t>(e.Size, UINT32_MAX));
        f.Recoverable = uint32_t(std::min<uint64_t>(e.Recoverable, UINT32_MAX));
        facts.push_back(f);
    }
    return facts;
}

} // namespace

void frmRecover::ScanDisk()
{
    OperationScope scope(*this);
    ScanFinished = false;
    LastScanResult = ScanResult{};

    // The boxes: Damaged only with DeepScan, and not while it is hidden.
    if (!ChkDamaged.Visible())
        ChkDamaged.setValue(0);

    // The source and its units.
    ScanSource source;
    source.name = SourceName;
    source.image = ScanningImage;
    std::vector<ScanDeletedEntry> entries;
    DriveInfoRecord &record = DriveInfo();
    double totalMB = 0;
    if (source.image) {
        record.DriveType = QStringLiteral("File");
        const QString native = plat::toNative(SourceName);
        totalMB = double(QFileInfo(native).size()) / 1048576.0;
        DiskImageIndex index;
        if (ReadDiskImageIndex(DiskImageIndexPath(WorkFolder, SourceName), index)) {
            // A stopped backup's image is read only as far as it was copied.
            const int64_t length = index.copiedBytes >= 0 ? std::min<int64_t>(index.copiedBytes, QFileInfo(native).size())
                                                          : QFileInfo(native).size();
            if (index.copiedBytes >= 0)
                source.imageLength = length;
            totalMB = double(length) / 1048576.0;
            source.geometry = GeometryOfImageIndex(index.bytesPerSector, index.sectorsPerCluster,
                                                   index.totalClusters >= 1 && index.totalClusters < 9.0e18
                                                       ? int64_t(index.totalClusters)
                                                       : 0,
                                                   index.firstDataSector);
            CutGeometryToLength(source.geometry, length);
            LoadDeletedEntriesFromIndex(index.entryRecords, index.lastEntryIndex);
        } else {
            // Without an index the image's own boot sector gives the units,
            // and the scan reads with DeepScan's care.
            source.geometry = GeometryOfImageFile(native);
            ChkDeep.setValue(1);
        }
    } else {
        if (record.BytesPerSector == 0 || SourceName.isEmpty() || record.DriveLetter != SourceName[0].toUpper())
            GetDriveInfo(SourceName);
        totalMB = record.TotalMB;
    }
    source.driveType = record.DriveType;
    source.volumeSerial = record.VolumeSerial;
    const bool deep = ChkDeep.Value() == 1;
    if (!deep)
        ChkDamaged.setValue(0);
    const bool damaged = deep && ChkDamaged.Value() == 1;
    // Units that do not fit the medium came from a boot sector that lies:
    // the medium is then read as one without a file system.
    if (!source.image)
        source.geometry = GeometryOfDrive(record, deep, MediumBytes(SourceName));
    // A whole-disk image whose letter reads the partition in it is scanned
    // whole, as a medium without a file system.
    if (const int64_t whole = source.image ? -1 : WholeMediumBytes(SourceName); whole >= 0) {
        source.geometry = UnitGeometry{};
        FitGeometryToMedium(source.geometry, whole);
        totalMB = double(whole) / 1048576.0;
        SmartScanActive = false;
    }

    // Free clusters only on a drive read cluster by cluster.
    if (source.image || deep)
        SmartScanActive = false;

    SortDeletedEntries();
    if (source.geometry.sectorsPerUnit >= 2)
        entries = DeletedEntriesForScan();

    // Thumbnails of large media are smaller.
    int width = int(RecordNumberValue(TxtWidth.Text()));
    if (width < 72) {
        width = 72;
        TxtWidth.setText(QStringLiteral("72"));
    }
    if (width > 48 && totalMB > 32768)
        TxtWidth.setText(QStringLiteral("48"));
    FitThumbWidth(true);

    ScanOptions options;
    options.mode = damaged ? ScanMode::Damaged : deep ? ScanMode::DeepScan : ScanMode::Normal;
    options.LMinMB = SizeLimitMin;
    options.LMaxMB = SizeLimitMax;
    options.SmartScanActive = SmartScanActive;
    options.RecoveryStage = RecoveryStage;
    options.cacheFolder = CacheRoot;
    if (deep)
        CheckSelectedTypes(options.auxiliaryTable, TypeRows(), entryFacts(entries));
    options.deletedEntries = entries;

    // Where the scan begins: a held resume point, else the first unit.
    ScanResumePoint resume = ScanResume;
    if (resume.unit <= 0) {
        resume = ScanResumePoint{};
    } else if (resume.offset < 0 && source.geometry.valid()) {
        resume.offset = source.geometry.offsetOfUnit(std::clamp(resume.unit, source.geometry.firstUnit,
                                                                source.geometry.endUnit()));
        resume.unitBytes = source.geometry.unitBytes;
    }
    options.resume = resume;
    const bool resuming = resume.offset >= 0;
    // A staged recovery's scan goes on with what the cache holds: the files
    // of the scan that was ended from outside and those of earlier stages
    // keep their names and places, and are not kept a second time.
    const bool goOn = RecoveryStage != 0 && !resuming;
    options.keepFoundFiles = goOn;

    // While the scan runs its command bar takes no drive change and no
    // learning (the learning reads the Scan button's "Stop" as a call from
    // the scan start).
    Drive1.setEnabled(false);
    const bool learnEnabled = CmdLearn.Enabled();
    CmdLearn.setEnabled(false);
    // The progress line is filled from the start; the scan gives its first
    // figures after its first read.
    ShowProgressPanel(FormatString(GetString(1492, QStringLiteral("Elapsed: %0 && to go: %1 seconds %2 MB/s"))
                                       .replace(QStringLiteral("&&"), QStringLiteral("&")),
                                   {QStringLiteral("0"), QStringLiteral("-"), QStringLiteral("0.0")}),
                      double(std::max<int64_t>(1, source.geometry.endUnit())));

    CreateCacheFolders();
    if (RecoveryStage == 0 && !resuming) {
        ResetCache();
        CreateRegistryEntries();
    }

    // The found-file list: a new scan starts an empty one; a resumed scan
    // goes on with the list of the cache root (after a restart, the one its
    // list file holds).
    ShownFolder = CacheRoot;
    if ((!resuming && !goOn) || CountFolderFiles(CacheRoot) != List3.ListCount()) {
        ClearFileView();
        List3.Clear();
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        RefillFoundFileList();
    }
    if (!resuming && !goOn) {
        FoundFiles.clear();
    } else if (goOn || FoundFiles.counter() + 1 != FoundFilePaths.size() || FoundFilePaths.value(0).isEmpty()) {
        FoundFiles.clear();
        for (const QString &name : FoundFilePaths) {
            if (name.isEmpty())
                break;
            FoundFiles.FoundFileNames << name;
            FoundFiles.FoundFileSizes.push_back(0);
            FoundFiles.CutToEntry.push_back(false);
            FoundFiles.EntryDates.push_back(QDateTime());
        }
    }
    if ((!resuming && !goOn) || FoundFilePaths.value(0).isEmpty()) {
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
    }
    if (goOn)
        for (qsizetype i = 0; i < FoundFiles.FoundFileNames.size(); ++i)
            options.foundCutShort.push_back(i < List3.ListCount() && FoundLineMarked(List3.List(int(i))));

    // The picture view as it stands, for the view after the scan.
    if (!Picture1.Picture().isNull())
        Picture1.Picture().save(plat::programFolderNative() + QStringLiteral("/temp.bmp"), "BMP");

    // What the engine reports, shown on the window.
    const QString drive = SourceName;
    ScanCallbacks cb;
    cb.stopRequested = [this] { return !OperationRunning; };
    cb.progress = [this](const ScanProgress &p) {
        ProgressBar1.setMin(double(p.minimum));
        ProgressBar1.setMax(double(std::max(p.maximum, p.minimum + 1)));
        ProgressBar1.setValue(double(p.value));
        lblStatus.setVisible(true);
        lblStatus.setCaption(p.text);
    };
    cb.modeChanged = [this](ScanMode m) {
        ChkDeep.setValue(m != ScanMode::Normal ? 1 : 0);
        ChkDamaged.setValue(m == ScanMode::Damaged ? 1 : 0);
        if (m == ScanMode::Damaged) {
            ChkDamaged.setVisible(true);
            ChkDamaged.ZOrder(0);
        } else if (m == ScanMode::Normal) {
            ChkDamaged.setVisible(false);   // the finishing pass unticks both and hides it again
        }
    };
    cb.phase = [this](ScanPhase ph) {
        switch (ph) {
        case ScanPhase::Reading:
            CmdScan.setCaption(GetString(259, QStringLiteral("Stop")));
            break;
        case ScanPhase::Flushing:
            CmdScan.setCaption(GetString(337, QStringLiteral("Flushing, wait...")));
            break;
        case ScanPhase::Done:
            ShowScanResults();
            break;
        }
    };
    cb.message = [this](const QString &title, const QString &text) {
        MsgBoxPositioned(hWnd(), text, plat::mb::IconInformation, title);
    };
    cb.fileKept = [this](const FoundFileEvent &e) {
        const int i = int(e.index);
        if (i < 0)
            return;
        if (FoundFilePaths.size() == 1 && FoundFilePaths[0].isEmpty() && i == 0)
            FoundFilePaths[0] = e.name;
        else if (i < FoundFilePaths.size())
            FoundFilePaths[i] = e.name;
        else
            FoundFilePaths << e.name;
        ItemOrientations.resize(size_t(FoundFilePaths.size()), 0.0f);
        if (i < List3.ListCount())
            List3.setList(i, e.displayLine);
        else if (i < ScanListCapacity)   // files from 32,760 on get no line
            List3.AddItem(e.displayLine);
    };
    cb.fileDropped = [this](const FoundFileEvent &e) {
        const int i = int(e.index);
        if (i >= 0 && i < FoundFilePaths.size() && FoundFilePaths[i] == e.name) {
            if (i < List3.ListCount())
                List3.RemoveItem(i);
            if (FoundFilePaths.size() > 1)
                FoundFilePaths.removeAt(i);
            else
                FoundFilePaths[0].clear();
            ItemOrientations.resize(size_t(FoundFilePaths.size()), 0.0f);
        }
    };
    cb.restrictedRights = [] {
        int force = 1;
        return ShowVistaAdvice(plat::programFolder(), force);
    };
    cb.reloadMedia = [drive](const ScanSource &) {
        QString d = drive;
        ReloadMedia(d);
    };
    cb.nextFreeRun = [drive](int64_t after, int64_t &first, int64_t &run) {
        int64_t start = after, length = 0, last = 0;
        first = FindFreeClusterRun(drive, start, length, last);
        if (first <= 0 && length == 0) {
            // The bitmap cannot be read: every unit from here on is scanned.
            first = after + 1;
            run = INT64_MAX / 4;
            return true;
        }
        run = length;
        return true;
    };
    cb.storeBudget = [this](int64_t mb) {
        CacheFreeMB = int32_t(std::clamp<int64_t>(mb, INT32_MIN, INT32_MAX));
        SaveSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB"),
                    QString::number(mb));
    };
    cb.saveScanList = [this] { SaveScanList(); };
    cb.readExifQuick = [this](const unsigned char *bytes, size_t size) { return ReadExifQuick(bytes, size); };
    cb.rawPreview = [this](const QString &file) { RunRawPreview(file); };
    // Found pictures show in the picture view as they come, at most one a
    // second: a decode of every picture would cost more than the scan.
    auto lastDrawn = std::make_shared<QElapsedTimer>();
    cb.drawPicture = [this, lastDrawn](const QString &file) {
        if (lastDrawn->isValid() && lastDrawn->elapsed() < 1000)
            return;
        lastDrawn->start();
        DrawThumbnail(file, Picture1, int(Picture1.Width()), int(Picture1.Height()));
    };
    if (AdjustScanCallbacks)
        AdjustScanCallbacks(cb);

    SignatureRows table = SignatureTable;
    ScanEngine engine(source, table, options, std::move(cb), FoundFiles);
    const ScanResult r = engine.run();
    LastScanResult = r;

    // The state a resume and the list file need.
    ScanResume = r.resume;
    ResumePosition = int32_t(std::clamp<int64_t>(r.resume.unit, 0, INT32_MAX));
    ResumeFileOpen = r.resume.fileOpen;
    ResumeInner = r.resume.inner;
    LastScanSource = SourceName;
    LastScanSerial = int32_t(source.volumeSerial);
    LastScanDriveType = source.driveType;
    SmartScan = SmartScanActive;
    if (r.budgetMB != 0)
        CacheFreeMB = int32_t(std::clamp<int64_t>(r.budgetMB, INT32_MIN, INT32_MAX));

    while (FoundFilePaths.size() > 1 && FoundFilePaths.last().isEmpty())
        FoundFilePaths.removeLast();
    ItemOrientations.resize(size_t(FoundFilePaths.size()), 0.0f);
    if (!r.statusText.isEmpty())
        lblStatus.setCaption(r.statusText);
    SaveScanList();
    // More files than the list shows: the list file holds the first ones.
    const int64_t foundCount = FoundFiles.counter() + 1;
    if (foundCount > ScanListCapacity && r.end != ScanEnd::Stopped)
        MsgBoxPositioned(hWnd(),
                         FormatString(GetString(2050, QStringLiteral("The found-file list shows the first %0 of the %1 "
                                                                      "files found; all of them are in the cache folder.")),
                                      {QString::number(ScanListCapacity), QString::number(foundCount)}),
                         plat::mb::IconInformation, GetString(592, QStringLiteral("Scan")) + QStringLiteral(" ") + drive);

    OperationRunning = false;
    ScanFinished = true;
    CmdScan.setCaption(GetString(38, QStringLiteral("Scan")));
    Drive1.setEnabled(true);
    CmdLearn.setEnabled(learnEnabled);
    EnableButtons();
}

void frmRecover::ShowScanResults()
{
    // The end of the finishing pass: the progress bar back, the results in
    // the views, the buttons and the first result.
    ProgressBar1.setValue(ProgressBar1.Min());
    CmdShowFolder.setCaption(GetString(36, QStringLiteral("Explore Cache")));
    ClearFileView();
    if (ResultViewState == 1)
        RenderThumbnails();
    UpdateThumbsCaption();
    EnableButtons();
    List3_Click();
    CmdScan.setCaption(GetString(38, QStringLiteral("Scan")));
}
