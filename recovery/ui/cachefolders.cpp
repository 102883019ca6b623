// The cache folder tree of the main window: where the cache root lies, its
// sub-folders and the save folder, creating, emptying and tidying them, and
// the choice among the remembered roots at start-up. Every delete goes
// through the guard of recovery/cacheguard.h.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ready(const QString &path) { return IsDriveReady(path) == true; }

bool makeFolder(const QString &internal)
{
    const QString native = plat::toNative(internal);
    return !native.isEmpty() && QDir().mkpath(native);
}

void ownerFullAccess(const QString &internal)
{
    const QString native = plat::toNative(internal);
    struct stat st;
    const QByteArray n = QFile::encodeName(native);
    if (!native.isEmpty() && ::lstat(n.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        ::chmod(n.constData(), (st.st_mode & 07777) | S_IRWXU);
}

// The plain files of a folder (no hidden files, no links), sorted by name.
QStringList plainFiles(const QString &folder)
{
    const QString native = plat::toNative(folder);
    if (native.isEmpty())
        return {};
    QStringList names;
    const QFileInfoList entries = QDir(native).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : entries)
        if (!fi.isSymLink() && !fi.fileName().startsWith(QLatin1Char('.')))
            names << fi.fileName();
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

// The save folder a cache root gets by default: the root of its drive with
// "Recovered\"; on the system's root file system, or where the root cannot
// be written, beside the cache folder instead.
QString defaultSaveFolder(const QString &cacheRoot)
{
    const QString driveRoot = cacheRoot.left(3);
    const QString native = plat::toNative(driveRoot);
    if (!native.isEmpty() && QDir::cleanPath(native) != QLatin1String("/")
        && ::access(QFile::encodeName(native).constData(), W_OK) == 0)
        return driveRoot + kRecoveredSub;
    QString parent = cacheRoot;
    if (parent.endsWith(QLatin1Char('\\')))
        parent.chop(1);
    const int cut = int(parent.lastIndexOf(QLatin1Char('\\')));
    return (cut >= 2 ? parent.left(cut + 1) : driveRoot) + kRecoveredSub;
}

QString withSlash(QString p)
{
    if (!p.isEmpty() && !p.endsWith(QLatin1Char('\\')))
        p += QLatin1Char('\\');
    return p;
}

} // namespace

QString frmRecover::DefaultCacheRoot() const
{
    QString temp = GetTempFolder();
    if (temp.size() < 4)
        return plat::programFolder() + kCacheFolderName + QLatin1Char('\\');
    temp.chop(1);
    const int cut = int(temp.lastIndexOf(QLatin1Char('\\')));
    return temp.left(cut + 1) + kCacheFolderName + QLatin1Char('\\');
}

void frmRecover::MakeDirNames()
{
    // 1. A stored root must lie on a ready drive and may not climb with "..".
    if (CacheRoot.size() >= 2 && CacheRoot[1] == QLatin1Char(':') && ready(CacheRoot) && !HasDotComponent(CacheRoot)) {
        if (CacheRoot.mid(1, 3) == QLatin1String(":\\\\"))
            CacheRoot.replace(1, 3, QStringLiteral(":\\"));
        if (!plat::toNative(CacheRoot).isEmpty())
            CacheRoot = plat::canonicalInternal(CacheRoot);
    } else {
        CacheRoot.clear();
    }
    // 2.
    if (CacheRoot.size() >= 2)
        CacheRoot = withSlash(CacheRoot);
    // 3. A new root beside the program's temporary folder.
    if (CacheRoot.isEmpty()) {
        CacheRoot = DefaultCacheRoot();
        MakeLongPath();
    }
    // 4.
    while (CacheRoot.contains(QLatin1String("\\\\")))
        CacheRoot.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    // 6.
    if ((CacheRoot.size() < 3 && (CacheRoot.size() < 2 || CacheRoot[1] != QLatin1Char(':'))) || !ready(CacheRoot))
        CacheRoot = DefaultCacheRoot();
    // 7. The cache is always a folder of the cache folder's own name: a root
    // that merely contains the name ("RIVozud photos") gets one inside it.
    const QStringList parts = PathComponents(CacheRoot);
    if (parts.isEmpty() || parts.last() != kCacheFolderName)
        CacheRoot = withSlash(CacheRoot) + kCacheFolderName + QLatin1Char('\\');
    if (!IsUsableCacheRoot(CacheRoot))
        CacheRoot = DefaultCacheRoot();
    // 8.
    while (CacheRoot.contains(QLatin1String("\\\\")))
        CacheRoot.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    if (CacheRoot.size() >= 2 && CacheRoot[1] == QLatin1Char(':'))
        CacheRoot[0] = CacheRoot[0].toUpper();
    // 9.
    MakeLongPath();
    // 10.
    if (ShownFolder.isEmpty() || (ShownFolder != CacheRoot && ShownFolder != ChooserStartPath))
        ShownFolder = CacheRoot;
    // 11.
    ThumbsFolder = CacheRoot + kThumbsSub;
    BrowseThumbsFolder = ThumbsFolder + kBrowseSub;
    ActiveThumbsFolder = ShownFolder == CacheRoot ? ThumbsFolder : BrowseThumbsFolder;
    CacheTempFolder = CacheRoot + kTempSub;
    ConvFolder = CacheRoot + kConvSub;
    // 12. A save folder inside the cache would be emptied with it.
    if (ChooserStartPath.size() < 4 || IsSameOrBelow(ChooserStartPath, CacheRoot))
        ChooserStartPath = defaultSaveFolder(CacheRoot);
    ChooserStartPath = withSlash(ChooserStartPath);
    // 13.
    if (BackupFolder.isEmpty())
        BackupFolder = ChooserStartPath;
    if (BrowseStartFolder.isEmpty())
        BrowseStartFolder = ChooserStartPath;
    // 14.
    for (const QString &folder : {CacheRoot, ThumbsFolder, ConvFolder}) {
        if (FileExists(folder + kThumbsDb) && CacheDeleteAllowed(folder, CacheRoot))
            DeleteFiles(folder + kThumbsDb, false, false);
    }
    // 15.
    MakeLongPath();
}

void frmRecover::MakeLongPath()
{
    if (CacheRoot.size() < 3 || CacheRoot[1] != QLatin1Char(':'))
        return;
    bool made = false;
    if (!FolderExists(CacheRoot)) {
        // Level by level, the drive root skipped.
        const QStringList parts = PathComponents(CacheRoot);
        QString prefix = CacheRoot.left(3);
        for (const QString &part : parts) {
            prefix += part + QLatin1Char('\\');
            if (!FolderExists(prefix)) {
                if (!makeFolder(prefix))
                    break;
                made = true;
            }
        }
    }
    // There are no short names to expand; an empty root that was only made
    // here is removed again.
    if (made && CountFolderFiles(CacheRoot) == 0)
        DeleteCacheTree(CacheRoot);
}

void frmRecover::CreateCacheFolders()
{
    if (!ready(CacheRoot)) {
        if (CacheRoot.size() >= 3 && CacheRoot[1] == QLatin1Char(':')) {
            MsgBoxTimed(QString::number(hWnd()),
                        FormatString(GetString(1446, QStringLiteral("Last used cache %0 not available.")), {CacheRoot})
                            + QStringLiteral("\r\n") + GetString(752, QStringLiteral("A new cache will be made.")),
                        0, GetString(753, QStringLiteral("Quilvane Cache")));
        }
        CacheRoot.clear();
    }
    MakeDirNames();
    if (!FolderExists(CacheRoot))
        makeFolder(CacheRoot);
    if (!FolderExists(CacheRoot)) {
        CacheRoot = plat::programFolder() + kCacheFolderName + QLatin1Char('\\');
        MakeDirNames();
        makeFolder(CacheRoot);
    }
    if (!FolderExists(CacheRoot)) {
        CacheRoot = plat::toInternal(QDir::tempPath() + QStringLiteral("/quilvane-") + QString::number(::getuid()))
                  + QLatin1Char('\\') + kCacheFolderName + QLatin1Char('\\');
        CacheRoot.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        MakeDirNames();
        makeFolder(CacheRoot);
    }
    for (const QString &folder : {ThumbsFolder, ConvFolder, BrowseThumbsFolder, CacheTempFolder})
        if (!folder.isEmpty() && !FolderExists(folder))
            makeFolder(folder);
    if (!FolderExists(ChooserStartPath)) {
        ChooserStartPath = defaultSaveFolder(CacheRoot);
        makeFolder(ChooserStartPath);
    }
    if (WorkFolder.isEmpty())
        WorkFolder = plat::programFolder() + kWorkSub;
    if (!FolderExists(WorkFolder))
        makeFolder(WorkFolder);
    ShortShownFolder = ShortPath(ShownFolder);
    ShortConvFolder = ShortPath(ConvFolder);
    if (ShortConvFolder.isEmpty())
        ShortConvFolder = ConvFolder;
    ownerFullAccess(CacheRoot);
    ownerFullAccess(ConvFolder);
    ownerFullAccess(ThumbsFolder);
}

void frmRecover::EmptyCacheFolders()
{
    MakeDirNames();
    if (!IsUsableCacheRoot(CacheRoot))
        return;
    if (FolderExists(CacheRoot)) {
        for (const QString &folder : {ThumbsFolder, BrowseThumbsFolder, CacheTempFolder, ConvFolder}) {
            if (FolderExists(folder) && folder.startsWith(CacheRoot) && CacheDeleteAllowed(folder, CacheRoot))
                DeleteFiles(folder + QStringLiteral("*.*"), false, false);
        }
        if (CacheDeleteAllowed(CacheRoot, CacheRoot))
            DeleteFiles(CacheRoot + QStringLiteral("*.*"), false, false);
    }
    const QString list = ScanListFile();
    if (FileExists(list)) {
        QFile::remove(plat::toNative(list));
        ThumbCounter = 0;
    }
}

void frmRecover::ResetCache()
{
    EmptyCacheFolders();
    CreateCacheFolders();
    if (!FolderExists(CacheRoot)) {
        CacheRoot.clear();
        CreateCacheFolders();
    }
}

void frmRecover::TidyCacheFolders()
{
    if (!IsUsableCacheRoot(CacheRoot) || !ready(CacheRoot.left(2)))
        return;
    MakeDirNames();
    DeleteOrphanCacheFiles();
    auto removeWhole = [this](const QString &folder) {
        if (CacheDeleteAllowed(folder, CacheRoot))
            DeleteCacheTree(folder);
    };
    const bool rootHolds = FileExists(CacheRoot);
    for (const QString &folder : {CacheTempFolder, ThumbsFolder, BrowseThumbsFolder}) {
        if (!(FileExists(folder) && rootHolds) && FolderExists(folder))
            removeWhole(folder);
    }
    if (FileExists(ConvFolder) && rootHolds) {
        if (CacheDeleteAllowed(ConvFolder, CacheRoot)) {
            for (const QString &name : plainFiles(ConvFolder)) {
                const QFileInfo fi(plat::toNative(ConvFolder + name));
                if (fi.size() == 0)
                    DeleteFiles(ConvFolder + name, false, false);
            }
        }
    } else if (FolderExists(ConvFolder)) {
        removeWhole(ConvFolder);
    }
    if (!rootHolds)
        removeWhole(CacheRoot);
}

void frmRecover::DeleteOrphanCacheFiles()
{
    DeleteOrphanFiles(ThumbsFolder);
    DeleteOrphanFiles(ConvFolder);
}

void frmRecover::DeleteOrphanFiles(const QString &folderIn)
{
    const QString folder = withSlash(folderIn);
    if (!FolderExists(folder) || !CacheDeleteAllowed(folder, CacheRoot))
        return;
    const bool thumbs = folder.compare(ThumbsFolder, Qt::CaseInsensitive) == 0;
    // Each file is tested by the pattern that maps it back to its found file
    // and removed by its own name's pattern (a thumbnail 0002jpg.jpg is
    // tested as *0002.* in the root and removed as 0002jpg.*).
    QStringList tested;
    for (const QString &name : plainFiles(folder)) {
        const QString test = OrphanPatternOf(name, thumbs);
        const QString own = OrphanPatternOf(name, false);
        if (test.isEmpty() || own.isEmpty() || tested.contains(own))
            continue;
        tested << own;
        if (!FileExists(CacheRoot + QLatin1Char('*') + test))
            DeleteFiles(folder + own, false, false);
    }
}

void frmRecover::GetActiveTempCache()
{
    auto hasFiles = [](const QString &root) { return CountFolderFiles(root) > 0; };
    auto showsFile = [](const QString &root) { return !root.isEmpty() && FileExists(withSlash(root)); };

    if (!hasFiles(CacheRoot) && hasFiles(PrevCacheRoot))
        SwapStrings(CacheRoot, PrevCacheRoot);
    else if (!hasFiles(CacheRoot) && hasFiles(OlderCacheRoot))
        SwapStrings(CacheRoot, OlderCacheRoot);
    if (PrevCacheRoot == CacheRoot || (hasFiles(OlderCacheRoot) && !hasFiles(PrevCacheRoot)))
        SwapStrings(PrevCacheRoot, OlderCacheRoot);

    for (int guard = 0; guard < 8; ++guard) {
        if (!PrevCacheRoot.contains(kCacheFolderName)) {
            PrevCacheRoot = CacheRoot;
            return;
        }
        if (!hasFiles(PrevCacheRoot) || PrevCacheRoot == CacheRoot)
            return;
        QString list;
        if (showsFile(PrevCacheRoot))
            list = PrevCacheRoot + QStringLiteral("  ");
        if (OlderCacheRoot != PrevCacheRoot && OlderCacheRoot != CacheRoot && showsFile(OlderCacheRoot))
            list += QStringLiteral("\r\n\r\n") + GetString(1712, QStringLiteral("and")) + QStringLiteral("\r\n\r\n")
                  + OlderCacheRoot;
        const QString text = GetString(1453, QStringLiteral("Also present is the previously used cache:")) + list
                           + QStringLiteral("\r\n\r\n\r\nCache=  ") + CacheRoot + QStringLiteral("     \r\n")
                           + GetString(849, QStringLiteral("Do you want to use the current cache?"));
        const bool splashShown = SplashWindow && SplashWindow->Visible();
        if (splashShown)
            SplashWindow->setVisible(false);
        const int answer = MsgBoxTimed(QString::number(hWnd()), text, 4, ProgramTitle);
        if (splashShown)
            SplashWindow->setVisible(true);
        if (answer != 7)
            return;
        SwapStrings(CacheRoot, PrevCacheRoot);
        SwapStrings(PrevCacheRoot, OlderCacheRoot);
        if (!showsFile(PrevCacheRoot) && showsFile(OlderCacheRoot))
            SwapStrings(PrevCacheRoot, OlderCacheRoot);
        if (OlderCacheRoot == PrevCacheRoot || OlderCacheRoot == CacheRoot)
            return;
    }
}

void frmRecover::EmptyCacheDir()
{
    FoundFilePaths = QStringList{QString()};
    ItemOrientations.assign(1, 0.0f);
    List3.Clear();
    ClearFileView();
    const QString native = plat::toNative(WorkFolder);
    if (!native.isEmpty()) {
        for (const QString &name : plainFiles(WorkFolder)) {
            if (plat::wildcardMatch(QStringLiteral("back.*"), name)) {
                DrawThumbnail(WorkFolder + name, Picture1, int(Picture1.Width()), int(Picture1.Height()));
                break;
            }
        }
    }
    ShowGetStarted();
    EnableButtons();
}
