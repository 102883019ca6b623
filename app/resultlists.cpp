// The keys and the mouse of the result lists: the entry lists List1 and List2
// of quick undelete, the found-file list List3 and its thumbnail view
// LvwFiles (item i + 1 is List3 item i); opening and removing a found file,
// the orientation shared by alike items, and the batch export of RAW
// previews.
#include "app/frmrecover.h"

#include "app/filesafety.h"
#include "drive/chooserpath.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cachenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kKeyA = 65, kKeyC = 67, kKeyS = 83, kKeyDelete = 46;
constexpr qint64 kQuickClickMs = 50;   // a second item click within this is one selection

bool ctrlA(int keyCode, int shift) { return keyCode == kKeyA && shift == plat::vbCtrlMask; }

qint64 fileLength(const QString &internalPath)
{
    const QString native = plat::toNative(internalPath);
    return native.isEmpty() ? -1 : QFileInfo(native).size();
}

// A list's items all selected by code; the file-list busy flag, when given,
// is set before each item and cleared after the last.
void selectAll(plat::ListBox &list, bool *busy = nullptr)
{
    for (int i = 0; i < list.ListCount(); ++i) {
        if (busy)
            *busy = true;
        list.setSelected(i, true);
    }
    if (busy)
        *busy = false;
}

// The "name up to and including its first '.'" of a found file.
QString baseKey(const QString &name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.left(dot + 1);
}

} // namespace

// ---- entry lists ---------------------------------------------------------------------

void frmRecover::List1_MouseDown(int button, int, double, double)
{
    if (button != plat::vbRightButton)
        return;
    const QString text = List1.Text();
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    const QString name = blank < 0 ? QString() : text.mid(blank + 1).trimmed();
    // An empty name would match the first file of the whole tree.
    if (name.isEmpty() || SourceDrive.isEmpty())
        return;
    QString root = SourceDrive.left(2);
    if (!root.endsWith(QLatin1Char('\\')))
        root += QLatin1Char('\\');
    const QString found = FindFileInTree(root, name);
    if (!found.isEmpty())
        ShowFileProperties(found);
}

void frmRecover::List1_KeyUp(int &keyCode, int shift)
{
    if (ctrlA(keyCode, shift))
        selectAll(List1);
}

void frmRecover::List2_KeyUp(int &keyCode, int shift)
{
    if (ctrlA(keyCode, shift))
        selectAll(List2);
}

void frmRecover::List3_KeyUp(int &keyCode, int shift)
{
    if (ctrlA(keyCode, shift)) {
        keyCode = 0;
        selectAll(List3, &FileListBusy);
    }
}

void frmRecover::List2_MouseDown(int button, int, double, double)
{
    if (SelectedEntryFileName().size() < 3)
        List2.Click();
    if (button != plat::vbRightButton)
        return;
    // The entry is written into the cache's Temp folder, not the save folder.
    const QString saveFolder = ChooserStartPath;
    ChooserStartPath = CacheTempFolder;
    const QString name = SelectedEntryFileName();
    const QString file = name.size() >= 3 ? JoinInsideFolder(CacheTempFolder, name) : QString();
    if (!file.isEmpty()) {
        if (!FileExists(file))
            SaveUndeleteEntries(List2, 0, true, false);
        if (FileExists(file))
            ShowFileProperties(file);
    }
    ChooserStartPath = saveFolder;
}

// ---- found-file list -------------------------------------------------------------------

void frmRecover::List3_KeyDown(int &keyCode, int shift)
{
    if (ctrlA(keyCode, shift)) {
        keyCode = 0;   // select-all happens on the key's release, under the busy flag
        return;
    }
    if (keyCode != kKeyDelete)
        return;
    keyCode = 0;   // handled here, not passed on
    if (ShownFolder != CacheRoot)
        return;
    SyncListSelections(ResultViewState == 1 ? 0 : 1);

    const QString title = GetString(442, QStringLiteral("Remove"));
    const int style = plat::mb::YesNo + plat::mb::IconStop;
    bool withoutThumbnail = false;
    if (MsgBoxPositioned(hWnd(), GetString(1619, QStringLiteral("Move all selected files to the recycle bin?")),
                         style, title) != plat::id::Yes) {
        if (MsgBoxPositioned(hWnd(),
                             GetString(441, QStringLiteral("Move all files without a thumbnail to the recycle bin?")),
                             style, title) != plat::id::Yes)
            return;
        withoutThumbnail = true;
    }

    // The walk looks at index i again after a removal (the next item moved
    // into it); an item the trash refused stays and the walk goes on.
    QStringList kept;
    int32_t i = 0;
    while (i < std::min<qsizetype>(List3.ListCount(), FoundFilePaths.size())) {
        const QString name = FoundFilePaths.value(i);
        bool take = false;
        if (withoutThumbnail)
            take = !name.isEmpty() && !FileExists(ThumbsFolder + ThumbnailNameOf(name));
        else
            take = List3.Selected(i);
        if (!take) {
            ++i;
            continue;
        }
        const int before = List3.ListCount();
        bool force = false, removed = false;
        RemoveRecoveredFile(i, force, removed);
        if (List3.ListCount() == before) {
            kept << name;
            ++i;
        }
    }
    SaveScanList();
    if (!kept.isEmpty()) {
        QString text = FormatString(GetString(2550, QStringLiteral("The trash could not take %0 file(s); they stay in the cache:")),
                                    {QString::number(kept.size())});
        for (int k = 0; k < kept.size() && k < 10; ++k)
            text += QStringLiteral("\r\n") + kept[k];
        if (kept.size() > 10)
            text += QStringLiteral("\r\n...");
        MsgBoxTimed(QString::number(hWnd()), text, 48, ProgramTitle + QStringLiteral("  ") + title);
    }
}

void frmRecover::List3_MouseDown(int button, int, double, double)
{
    if (button == plat::vbRightButton) {
        const QString file = JoinInsideFolder(ShownFolder, FoundFilePaths.value(List3.ListIndex()));
        if (!file.isEmpty())
            ShowFileProperties(file);
    }
    RememberListIndex();
}

void frmRecover::RemoveRecoveredFile(int32_t &index, bool &force, bool &removed)
{
    removed = false;
    if (index < 0 || index >= FoundFilePaths.size())
        return;
    const QString name = FoundFilePaths.at(index);
    const QString file = JoinInsideFolder(ShownFolder, name);
    // Nothing found is deleted for good here: a file the trash cannot take
    // stays where it is.
    if (!file.isEmpty())
        removed = TrashFile(file);
    if (!(force || removed || file.isEmpty() || !FileExists(file)))
        return;
    const QString thumbnail = JoinInsideFolder(ThumbsFolder, ThumbnailNameOf(name));
    if (!thumbnail.isEmpty() && FileExists(thumbnail))
        TrashFile(thumbnail);
    FoundFilePaths.removeAt(index);
    if (index < int32_t(ItemOrientations.size()))
        ItemOrientations.erase(ItemOrientations.begin() + index);
    List3.RemoveItem(index);
    ThumbCounter = std::max(0, ThumbCounter - 1);
    if (index < LvwFiles.ItemCount())
        LvwFiles.RemoveItem(index + 1);
}

void frmRecover::OpenRecoveredFile(QString &path)
{
    if (path.contains(QLatin1String(".exe"), Qt::CaseInsensitive))
        return;
    if (path.isEmpty() || path.endsWith(QLatin1Char('\\')) || !FileExists(path))
        return;
    // A found file is shown, never run: programs, scripts, desktop entries
    // and files with an execute bit are not handed to the desktop.
    if (IsRunnableFile(path))
        return;
    const QString title = ProgramTitle + QStringLiteral("  ") + GetString(433, QStringLiteral("Open File"));
    QString message;
    const QString program = OpenWithAssociatedProgram(path, message);
    if (!program.isEmpty()) {
        setMousePointer(13);
        ShellOpen(path, QStringLiteral("open"), QString(), QString(), 1);
        setMousePointer(0);
        return;
    }
    if (fileLength(path) > 0) {
        const QString text =
            message + QStringLiteral("\r\n\r\n") + GetString(432, QStringLiteral("Associate Windows application?"));
        if (MsgBoxPositioned(hWnd(), text, plat::mb::YesNo + plat::mb::IconInformation, title) == plat::id::Yes)
            ShowFileProperties(path);
        return;
    }
    MsgBoxTimed(QString::number(hWnd()), message, 48, title);
}

void frmRecover::ApplyToSelectedItems()
{
    // The selection is the shown view's: the grid's is carried into the list
    // only while the grid is shown, and the item the user chose stays the
    // current one whatever the carrying selects on its way.
    const int current = List3.ListIndex();
    if (current < 0 || current >= FoundFilePaths.size() || current >= int(ItemOrientations.size()))
        return;
    SyncListSelections(LvwFiles.Visible() ? 0 : 1);
    if (List3.ListIndex() != current) {
        FileListBusy = true;
        List3.setListIndex(current);
        FileListBusy = false;
    }
    const QString key = baseKey(FoundFilePaths.at(current));
    const float value = ItemOrientations[size_t(current)];
    const int n = std::min({List3.ListCount(), int(FoundFilePaths.size()), int(ItemOrientations.size())});
    for (int i = 0; i < n; ++i) {
        // A name without "." has no base to share.
        if (List3.Selected(i) || (!key.isEmpty() && baseKey(FoundFilePaths.at(i)) == key))
            ItemOrientations[size_t(i)] = value;
    }
    ListClickSuppressed = true;
    List3.Click();
    ListClickSuppressed = false;
}

// ---- thumbnail view ----------------------------------------------------------------------

void frmRecover::LvwFiles_DblClick() { List3.DblClick(); }

void frmRecover::LvwFiles_ItemClick(int item)
{
    plat::pumpEventsNow();
    if (OperationBusy)
        return;
    ListClickSuppressed = false;
    if (ShownFolder == CacheRoot)
        LastListIndex = item - 1;
    else
        BrowseListIndex = item - 1;
    const qint64 now = plat::monotonicMs();
    if (now - LastItemClickMs <= kQuickClickMs) {
        // Clicks in quick succession: the last one is shown when they stop.
        Timer5.setEnabled(false);
        Timer5.setEnabled(true);
    } else {
        List3.setListIndex(item - 1);
    }
    LastItemClickMs = now;
}

void frmRecover::LvwFiles_KeyUp(int &keyCode, int shift)
{
    if (!ctrlA(keyCode, shift))
        return;
    keyCode = 0;
    for (int i = 1; i <= LvwFiles.ItemCount(); ++i)
        LvwFiles.setItemSelected(i, true);
}

void frmRecover::LvwFiles_MouseDown(int button, int shift, double x, double y)
{
    if (button != plat::vbRightButton) {
        ListFilters.setVisible(false);
        return;
    }
    Picture1.MouseDown(button, shift, x, y);
    // The popup at the pointer, kept 150 twips from the right edge and 480
    // from the bottom of the window.
    double left = x, top = y + Picture1.Height();
    if (QWidget *view = LvwFiles.widget()) {
        if (QWidget *window = widget()) {
            const QPoint at = view->mapTo(window, QPoint(plat::twipsToPixels(x), plat::twipsToPixels(y)));
            left = plat::pixelsToTwips(at.x());
            top = plat::pixelsToTwips(at.y());
        }
    }
    const double width = ScaleWidth(), height = ScaleHeight();
    if (left + ListFilters.Width() > width - 150)
        left = width - 150 - ListFilters.Width();
    if (top + ListFilters.Height() > height - 480)
        top = height - 480 - ListFilters.Height();
    ListFilters.Move(std::max(0.0, left), std::max(0.0, top));
}

void frmRecover::LvwFiles_KeyDown(int &keyCode, int shift)
{
    if (ctrlA(keyCode, shift)) {
        keyCode = 0;
        return;
    }
    if (keyCode == kKeyDelete) {
        List3_KeyDown(keyCode, shift);
        return;
    }
    if (keyCode != kKeyS && keyCode != kKeyC)
        return;
    keyCode = 0;   // the view's type-ahead must not move the selection
    if (!(shift & plat::vbShiftMask)) {
        const QString file = JoinInsideFolder(ShownFolder, FoundFilePaths.value(List3.ListIndex()));
        if (!file.isEmpty() && fileLength(file) > 0)
            CmdSaveAs.Click();
        return;
    }
    if (OperationRunning) {
        // A second Shift+S stops the export.
        OperationRunning = false;
        ListClickSuppressed = false;
        return;
    }
    ExportRawPreviews();
}

void frmRecover::ExportRawPreviews()
{
    OperationRunning = true;
    ListClickSuppressed = true;
    int index = LvwFiles.SelectedItem();
    FileListBusy = true;
    List3.setListIndex(List3.ListCount() - 1);
    FileListBusy = false;

    QString saveFolder = ChooserStartPath;
    if (!saveFolder.isEmpty() && !saveFolder.endsWith(QLatin1Char('\\')))
        saveFolder += QLatin1Char('\\');
    while (index >= 1 && index <= LvwFiles.ItemCount() && OperationRunning) {
        if (HasRawExtension(LvwFiles.ItemText(index))) {
            LvwFiles.EnsureVisible(index);
            LvwFiles.setItemSelected(index, true);
            plat::pumpEventsNow();
            // The preview of the RAW file: the converter writes a TIFF into Conv.
            List3.setListIndex(index - 1);
            const QString convNative = plat::toNative(ConvFolder);
            QStringList tiffs;
            if (!convNative.isEmpty()) {
                for (const QString &n : QDir(convNative).entryList(QDir::Files, QDir::Name))
                    if (plat::wildcardMatch(QStringLiteral("*.tif"), n))
                        tiffs << n;
            }
            for (const QString &n : tiffs) {
                const QString from = JoinInsideFolder(ConvFolder, n);
                if (from.isEmpty())
                    continue;
                if (fileLength(from) == 0) {
                    DeleteFiles(from, false, false);
                    continue;
                }
                if (saveFolder.isEmpty())
                    continue;
                QString target = SafeLeafName(n);
                for (int guard = 0; guard < 100000 && FileExists(saveFolder + target); ++guard)
                    target = NextCounterName(target);
                MoveFiles(from, saveFolder + target, true);
            }
        }
        LvwFiles.setItemSelected(index, false);
        ++index;
        plat::pumpEventsNow();
    }
    OperationRunning = false;
    ListClickSuppressed = false;
    if (!saveFolder.isEmpty() && FileExists(saveFolder))
        ShellOpen(saveFolder, QStringLiteral("explore"), QString(), QString(), 1);
}
