// The scan-list file of the main window: its name, the list gathered into
// the file's values and back, and the found-file list refilled from the
// file or from the folder.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace {

// The plain files of a folder (hidden files and links left out), by name
// without regard to case.
QStringList plainFileNames(const QString &folder)
{
    const QString native = plat::toNative(folder);
    if (native.isEmpty())
        return {};
    QStringList names;
    for (const QFileInfo &fi : QDir(native).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        if (!fi.isSymLink() && !fi.fileName().startsWith(QLatin1Char('.')))
            names << fi.fileName();
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

} // namespace

QString frmRecover::MakeCacheKey() const { return MakeCacheKeyOf(CacheRoot); }

QString frmRecover::ScanListFile() const { return WorkFolder + MakeCacheKey() + QStringLiteral(".dat"); }

bool frmRecover::SaveScanList()
{
    while (FoundFilePaths.size() > 1 && FoundFilePaths.last().isEmpty())
        FoundFilePaths.removeLast();
    ItemOrientations.resize(size_t(FoundFilePaths.size()), 0.0f);
    if (List3.ListCount() < 1 || ShownFolder != CacheRoot || CacheRoot.isEmpty())
        return false;

    ScanListData d;
    d.lastScanDriveType = LastScanDriveType;
    d.lastScanSerial = LastScanSerial;
    d.resumePosition = ResumePosition;
    d.thumbWidth = int32_t(RecordNumberValue(TxtWidth.Text()));
    d.thumbCounter = ThumbCounter;
    const int n = List3.ListCount();
    d.items.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        ScanListItem item;
        item.displayText = List3.List(i);
        item.fileName = i < FoundFilePaths.size() ? FoundFilePaths[i] : QString();
        item.orientation = size_t(i) < ItemOrientations.size() ? ItemOrientations[size_t(i)] : 0.0f;
        d.items.push_back(item);
    }
    d.lastScanSource = LastScanSource;
    d.lastListIndex = LastListIndex;
    d.filterActive = FilterActive;
    d.filterName = FilterName;
    d.thumbFlag = ThumbFlag;
    d.noPreviewList = NoPreviewList;
    d.resumeFileOpen = ResumeFileOpen;
    if (ResumeFileOpen)
        d.resumeInner = QString::fromStdString(EncodeInnerStarts(ResumeInner));
    d.smartScan = SmartScan;
    if (!FolderExists(WorkFolder))
        QDir().mkpath(plat::toNative(WorkFolder));
    return WriteScanListFile(ScanListFile(), d);
}

bool frmRecover::LoadScanList()
{
    if (ShownFolder != CacheRoot || CacheRoot.isEmpty() || !FileExists(ScanListFile()))
        return false;
    ScanListData d;
    const int folderFiles = int(FoundFilePaths.size());
    const ScanListStatus status = ReadScanListFile(ScanListFile(), folderFiles, d);
    bool loaded = false;
    if (status != ScanListStatus::Missing) {
        LastScanDriveType = d.lastScanDriveType;
        LastScanSerial = d.lastScanSerial;
        ResumePosition = d.resumePosition;
        ThumbCounter = d.thumbCounter;
    }
    if (status == ScanListStatus::Loaded || status == ScanListStatus::Partial) {
        const int n = int(d.items.size());
        FoundFilePaths = QStringList();
        ItemOrientations.clear();
        List3.Clear();
        for (int i = 0; i < n; ++i) {
            FoundFilePaths << d.items[size_t(i)].fileName;
            ItemOrientations.push_back(d.items[size_t(i)].orientation);
            if (i < ScanListCapacity)
                List3.AddItem(d.items[size_t(i)].displayText);
        }
        // A list file holds at most ScanListCapacity items: the arrays take
        // the folder's other files behind them, as a listing would.
        if (folderFiles > n && n == ScanListCapacity) {
            const QSet<QString> listed(FoundFilePaths.begin(), FoundFilePaths.end());
            for (const QString &name : plainFileNames(ShownFolder))
                if (!listed.contains(name)) {
                    FoundFilePaths << name;
                    ItemOrientations.push_back(0.0f);
                }
        }
        if (FoundFilePaths.isEmpty()) {
            FoundFilePaths << QString();
            ItemOrientations.push_back(0.0f);
        }
    }
    if (status == ScanListStatus::Loaded) {
        loaded = true;
        LastScanSource = d.lastScanSource;
        LastListIndex = d.lastListIndex;
        FilterActive = d.filterActive;
        FilterName = d.filterName;
        ThumbFlag = d.thumbFlag;
        NoPreviewList = d.noPreviewList;
        ResumeFileOpen = d.resumeFileOpen;
        // Notes that do not read back (a damaged list file) are dropped.
        if (!DecodeInnerStarts(d.resumeInner.toStdString(), ResumeInner))
            ResumeInner.clear();
        SmartScan = d.smartScan;
    }
    // The file keeps the box as it was when the list was saved; the settings
    // keep the width the kept thumbnails were made at, written at every end
    // (the list is not written at the end after an NTFS volume). Once
    // thumbnails were rendered, the box shows their width.
    if (status != ScanListStatus::Missing && d.thumbWidth > 0 && d.thumbWidth <= 1024)
        TxtWidth.setText(QString::number(RenderedThumbWidth > 0 ? RenderedThumbWidth : d.thumbWidth));

    // A removable card whose list did not load, with a little used space and
    // directory entries known: the types are learned from it unattended.
    const DriveInfoRecord &rec = DriveInfo();
    if (List3.ListCount() > 0 && !loaded && rec.DriveType == QLatin1String("Removable") && rec.TotalMB != rec.FreeMB
        && rec.TotalMB - rec.FreeMB <= 8192 && DeletedEntriesUpperBound() >= 1) {
        CmdScan.setCaption(GetString(259, QStringLiteral("Stop")));
        CmdLearn_Click();
        CmdScan.setCaption(GetString(38, QStringLiteral("Scan")));
    }
    return loaded;
}

void frmRecover::RefillFoundFileList()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    ShortShownFolder = ShortPath(ShownFolder);
    if (FoundFilePaths.size() <= 1) {
        const bool wasVisible = List3.Visible();
        List3.setVisible(false);
        List3.Clear();
        if (ShownFolder == CacheRoot)
            NoPreviewList.clear();
        const int c = CountFolderFiles(ShownFolder);
        bool loaded = false;
        if (c > 0) {
            FoundFilePaths = QStringList();
            for (int i = 0; i < c; ++i)
                FoundFilePaths << QString();
            ItemOrientations.assign(size_t(c), 0.0f);
            loaded = LoadScanList();
        }
        if (!loaded) {
            List3.Clear();
            FoundFilePaths = QStringList();
            for (int i = 0; i < std::max(c, 1); ++i)
                FoundFilePaths << QString();
            const QStringList names = plainFileNames(ShownFolder);
            for (int k = 0; k < names.size() && k < FoundFilePaths.size(); ++k) {
                FoundFilePaths[k] = names[k];
                if (k < ScanListCapacity)
                    List3.AddItem(FoundFileDisplayText(names[k]));
            }
            ThumbCounter = 0;
            ItemOrientations.assign(size_t(FoundFilePaths.size()), 0.0f);
            SaveScanList();
        }
        List3.setVisible(wasVisible);
    }
    SelectListItem();
    const int width = int(RecordNumberValue(TxtWidth.Text()));
    ThumbWidth = int(int16_t(std::clamp(width, -32768, 32767)));
    ThumbHeight = ThumbWidth * 2 / 3;
    ListCacheKey = MakeCacheKey();
}
