// The thumbnail grid: the found files (or a browsed folder's files) as
// thumbnails in LvwFiles, rendered entry by entry through the preview's own
// drawing (List3_Click with the picture view hidden writes each thumbnail),
// the desktop's thumbnailers for other types and the type's icon otherwise.
// The loop yields to the window after every entry; the Thumbs button stops
// it. Thumbnails are kept in the cache's Thumbs folder for the next start.
#include "app/frmrecover.h"

#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "viewer/exifprops.h"
#include "viewer/exiftext.h"
#include "viewer/foundnames.h"
#include "viewer/pictureops.h"
#include "viewer/thumbgrid.h"
#include "viewer/typeicons.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerArrowHourglass = 13;

QFileInfo infoOf(const QString &internalPath)
{
    const QString native = plat::toNative(internalPath);
    return native.isEmpty() ? QFileInfo() : QFileInfo(native);
}

bool isFile(const QString &internalPath) { return infoOf(internalPath).isFile(); }

void removeFile(const QString &internalPath)
{
    const QString native = plat::toNative(internalPath);
    if (!native.isEmpty())
        QFile::remove(native);
}

// Lets the window's messages run for the time.
void waitProcessing(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The thumbnail's height for a width, as the thumbnails are written.
int cellHeightOf(int width) { return int(std::lround(width * 2.0 / 3.0)); }

// Asks the workers for the picture the preview will draw for an entry of the
// grid (List3_Click with the picture view hidden): a picture type other than
// RAW, not listed as giving no picture.
void decodeAhead(frmRecover &w, int index)
{
    const QString name = w.FoundFilePaths.value(index);
    const QString ext = FoundFileExtension(name);
    if (name.isEmpty() || !InPreviewList(ext) || InRawList(ext) || InNoPreviewList(w.NoPreviewList, name))
        return;
    DrawThumbnailCall call = w.Picture1Call(w.ShownFolder + name, !w.PictureCopyFlag, ThumbnailNameOf(name));
    int orientation = index < int(w.ItemOrientations.size()) ? int(w.ItemOrientations[size_t(index)]) : 0;
    call.orientation = &orientation;
    w.PictureDecoder().prefetch(DecodeRequestOf(call));
}

} // namespace

void frmRecover::SetThumbIconSpacing(int width)
{
    const QSize spacing = ThumbIconSpacing(width, ThumbHeight);
    LvwFiles.setIconSpacing(spacing.width(), spacing.height());
}

void frmRecover::UpdateThumbsCaption()
{
    CmdShowThumbs.setCaption(ResultViewState == 1 ? GetString(371, QStringLiteral("FileList Scan"))
                                                   : GetString(282, QStringLiteral("Thumbs Scan")));
}

void frmRecover::RenderThumbnails(int firstIndex)
{
    // The rendering writes into the cache: the shutdown waits for it, and
    // the End command's first press stops it.
    const OperationScope operation(*this);
    RenderingThumbnails = true;
    const int keptCounter = ThumbCounter;
    const bool cacheShown = ShownFolder == CacheRoot;
    ActiveThumbsFolder = cacheShown ? ThumbsFolder : BrowseThumbsFolder;

    // 1. The entries: refilled when there are none; trailing empty names
    // dropped, the orientations cut to match.
    if (FoundFilePaths.isEmpty() || (FoundFilePaths.size() == 1 && FoundFilePaths[0].isEmpty())) {
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        RefillFoundFileList();
        ClearFileView();
    }
    while (FoundFilePaths.size() > 1 && FoundFilePaths.last().isEmpty())
        FoundFilePaths.removeLast();
    if (FoundFilePaths.isEmpty())
        FoundFilePaths = QStringList{QString()};
    ItemOrientations.resize(size_t(FoundFilePaths.size()), 0.0f);
    const int entries = FoundFilePaths[0].isEmpty() && FoundFilePaths.size() == 1 ? 0 : int(FoundFilePaths.size());

    // 2.
    const QString rendering = GetString(603, QStringLiteral("Rendering")) + QStringLiteral("...");
    CmdShowThumbs.setCaption(rendering);
    CmdScan.setCaption(rendering);
    plat::setScreenMousePointer(kPointerArrowHourglass);

    // 3. How many entries get a thumbnail.
    int count = std::min(entries, std::min(List3.ListCount(), kMaxGridItems));
    if (RenderedThumbWidth == 0)
        RenderedThumbWidth = ThumbWidth;
    int limit = std::min(ThumbnailLimit(ThumbWidth), count);
    if (ThumbWidth != RenderedThumbWidth && ThumbCounter >= 1)
        limit = std::min(ThumbCounter, count);
    const bool fromStart = ThumbCounter == 0;

    // 4.
    ProgressBar1.setMin(firstIndex);
    ProgressBar1.setMax(count + 1);
    for (int i = std::max(0, ThumbCounter); i < count; ++i)
        if (ItemOrientations[size_t(i)] >= 100)
            ItemOrientations[size_t(i)] -= 100;

    if (LvwFiles.ItemCount() == 0) {
        ImageList1.Clear();
        ImageList1.setImageWidth(ThumbWidth);
        ImageList1.setImageHeight(ThumbHeight);
        SetThumbIconSpacing(std::max(ThumbWidth, 48));
    }
    if (ImageList1.Count() > 0)
        LvwFiles.setIcons(&ImageList1);

    // A thumbnail name two entries share belongs to neither for good: each
    // is drawn anew, so that no file shows another's picture.
    QHash<QString, int> thumbUsers;
    for (int i = 0; i < count; ++i)
        if (!FoundFilePaths[i].isEmpty())
            ++thumbUsers[ThumbnailNameOf(FoundFilePaths[i])];
    // The folders once in native form: the names in them are the program's
    // own or the folder's listing, exact to the letter.
    const QString nativeThumbs = plat::toNative(ActiveThumbsFolder);
    const QString nativeShown = plat::toNative(ShownFolder);
    const auto inThumbs = [&nativeThumbs](const QString &name) {
        return nativeThumbs.isEmpty() ? QString() : nativeThumbs + (nativeThumbs.endsWith('/') ? "" : "/") + name;
    };
    const auto isNativeFile = [](const QString &native) { return !native.isEmpty() && QFileInfo(native).isFile(); };
    const int cellWidth = RenderedThumbWidth;
    const QSize cell(cellWidth, cellHeightOf(cellWidth));
    QHash<QString, int> typeImages;   // a type's shared picture in ImageList1
    const QFontMetrics labelMetrics(LvwFiles.widget() ? LvwFiles.widget()->font() : QFont());
    const int labelRoom = ThumbLabelRoom(cellWidth);

    const int keptIndex = List3.ListIndex();
    Picture1.setVisible(false);   // the preview draws grid cells while hidden
    QElapsedTimer clock;
    clock.start();
    qint64 nextUpdate = 10000;
    bool stoppedAtLimit = false;
    // The grid holds an item for every entry before the ones rendered now.
    const int start = std::max(0, std::min(firstIndex, LvwFiles.ItemCount()));
    const auto stopped = [this] { return !RenderingThumbnails || EndPassCount > 0 || ShuttingDown; };
    // The pictures of the entries ahead are decoded on the workers while this
    // loop draws one after the other: every core decodes.
    PictureDecodeQueue &decoder = PictureDecoder();
    decoder.clear();
    int decodedAhead = start;
    for (int i = start; i < count && !stopped(); ++i) {
        if (i >= limit) {
            stoppedAtLimit = true;
            break;
        }
        if (i >= FoundFilePaths.size())
            break;
        for (decodedAhead = std::max(decodedAhead, i + 1);
             decodedAhead < std::min({count, limit, i + 1 + decoder.heldLimit() / 2}); ++decodedAhead) {
            const QString ahead = FoundFilePaths.value(decodedAhead);
            if (decodedAhead >= ThumbCounter && !isNativeFile(inThumbs(ThumbnailNameOf(ahead))))
                decodeAhead(*this, decodedAhead);
        }
        const QString name = FoundFilePaths[i];
        const QString file = ShownFolder + name;
        const QString ext = FoundFileExtension(name).toLower();
        const QString thumbName = ThumbnailNameOf(name);
        const QString thumbPath = ActiveThumbsFolder + thumbName;
        const QString thumbNative = inThumbs(thumbName);
        const QString typeThumbNative = inThumbs(TypeThumbnailNameOf(ext));

        // The entry's own thumbnail when it is of this file: not older than
        // the file, of the rendered size, and not shared with another entry.
        const QFileInfo thumbInfo(thumbNative);
        bool own = !name.isEmpty() && !thumbNative.isEmpty() && thumbInfo.isFile();
        const bool shared = thumbUsers.value(thumbName) > 1;
        const bool stale = own;   // until shown to be the file's own
        if (own) {
            const QFileInfo fileInfo(nativeShown.isEmpty() ? QString() : nativeShown + (nativeShown.endsWith('/') ? "" : "/") + name);
            const QSize size = QImageReader(thumbNative).size();
            own = !shared && size == cell && (!fileInfo.exists() || thumbInfo.lastModified() >= fileInfo.lastModified());
            if (!own)
                QFile::remove(thumbNative);
        }
        // Entries before the rendered count are not drawn again, unless their
        // thumbnail turned out not to be theirs.
        if (!name.isEmpty() && !own && (i >= ThumbCounter || shared || stale)) {
            const bool listedBefore = InNoPreviewList(NoPreviewList, name);
            if (InPreviewList(ext) || !isNativeFile(typeThumbNative)) {
                ExifDateText.clear();
                FileListBusy = false;
                List3.setListIndex(i);   // the preview draws it and writes the thumbnail
                // An empty found file leaves the cache and the lists as it is
                // drawn: the next entry takes its place.
                if (i >= FoundFilePaths.size() || FoundFilePaths[i] != name) {
                    --count;
                    limit = std::min(limit, count);
                    --i;
                    continue;
                }
                // Pictures in the cache take their date; a browsed folder's
                // files are the user's own and keep theirs.
                if (cacheShown && IsValidExifDate(ExifDateText.trimmed()))
                    SetFileDates(file, ExifDateText.trimmed());
            }
            // The desktop's thumbnail for a type the picture readers cannot
            // draw; a file it failed for, or too large a picture, is not
            // asked again. (The preview lists every file of another type as
            // giving no picture.)
            const bool askedBefore = (InPreviewList(ext) && listedBefore) || NoSystemThumbnail.contains(file);
            if (!isNativeFile(thumbNative) && !askedBefore
                && HasShellThumbnailHandler('.' + FoundFileExtension(name))) {
                RemoveFromNoPreviewList(NoPreviewList, name);
                PictureCanvas canvas;
                canvas.backColor = plat::colorFromVb(Picture1.BackColor());
                canvas.setSize(cell);
                if (DrawSystemThumbnail(canvas, cell.width() * double(plat::kTwipsPerPixel),
                                        cell.height() * double(plat::kTwipsPerPixel), file))
                    SaveImageJpegQuality(canvas.image, thumbPath, 98);
            }
            if (name.contains(QLatin1String("R#"))) {
                const int counter = ThumbnailCounter(thumbName);
                if (counter > ThumbCounter)
                    ThumbCounter = i + 1;
            }
        }

        // The cell: the entry's thumbnail, else its type's (one picture for
        // all entries of the type), else the type's icon.
        if (!name.isEmpty() && LvwFiles.ItemCount() == i) {
            int image = 0;
            if (isNativeFile(thumbNative))
                image = ImageList1.Add(LoadPicture(thumbNative));
            if (image == 0 || ImageList1.image(image).isNull()) {
                image = typeImages.value(ext);
                if (image == 0) {
                    QImage picture = isNativeFile(typeThumbNative) ? LoadPicture(typeThumbNative) : QImage();
                    if (picture.isNull()) {
                        PictureCanvas icon;
                        icon.backColor = plat::colorFromVb(Picture1.BackColor());
                        icon.setSize(cell);
                        icon.drawCentred(GetFileTypeIcon(file, 0, 256));
                        picture = icon.image;
                    }
                    image = ImageList1.Add(picture);
                    typeImages.insert(ext, image);
                }
            }
            if (ImageList1.Count() == 1)
                LvwFiles.setIcons(&ImageList1);
            const int item = LvwFiles.AddItem(ThumbLabel(name, labelMetrics, labelRoom), image);
            LvwFiles.setItemTag(item, QString::number(i) + QLatin1Char('K'));
            if (const QSize large = TooLargePictures.value(file); large.isValid())
                LvwFiles.setItemToolTip(item, TooLargeText(large));
        }

        plat::pumpEvents();
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= nextUpdate) {
            nextUpdate = elapsed + 3000;
            List3.setVisible(true);
            ProgressBar1.setVisible(true);
            ProgressBar1.setValue(i);
            if (i < limit) {
                const double seconds = elapsed / 1000.0;
                // No estimate before the first entry is done.
                QString toGo;
                if (i > firstIndex && seconds > 0)
                    toGo = FormatHashes((limit - i) / ((i - firstIndex) / seconds));
                lblStatus.setCaption(FormatString(GetString(1620, QStringLiteral("Elapsed: %0 && to go: %1 seconds")),
                                                  {FormatHashes(seconds), toGo}));
            }
        }
    }

    decoder.clear();
    // 6.
    ProgressBar1.setVisible(false);
    // 7.
    if (stoppedAtLimit && fromStart && !stopped()) {
        // A browsed folder holds the user's own files: the message says what
        // the cap is and how to see more, never to delete them.
        const QString message = cacheShown
            ? GetString(607, QStringLiteral("Ran out of memory for thumbnails.")) + QStringLiteral("\r\n")
                + FormatString(GetString(608, QStringLiteral("Please save or delete files for showing the "
                                                             "remaining %0 thumbnails.")),
                               {QString::number(entries - limit)})
            : FormatString(GetString(2690, QStringLiteral("Only the first %0 of %1 thumbnails are shown.")),
                           {QString::number(limit), QString::number(entries)})
                + QStringLiteral("\r\n")
                + FormatString(GetString(2691, QStringLiteral("Smaller thumbnails show more: type a smaller width, "
                                                              "such as %0, and press %1.")),
                               {QString::number(FittingThumbWidth(entries, RenderedThumbWidth)),
                                GetString(47, QStringLiteral("Render Width"))});
        MsgBoxPositioned(hWnd(), message, plat::mb::IconInformation, ProgramTitle);
    }
    // 8.
    plat::setScreenMousePointer(kPointerDefault);
    TxtWidth.setText(QString::number(RenderedThumbWidth));
    FitThumbWidth(entries);
    Picture1.setVisible(true);
    List2.setVisible(false);
    ResultViewState = 1;
    UpdateThumbsCaption();
    if (keptIndex >= 0 && keptIndex < List3.ListCount()) {
        FileListBusy = true;   // the preview comes once, below
        List3.setListIndex(keptIndex);
    }
    FileListBusy = false;
    SelectListItem();
    List3_Click();
    ShowBrowsingStatus();
    RenderingThumbnails = false;
    ThumbFlag = false;
    GridOutOfDate = false;
    if (!cacheShown) {
        ThumbCounter = keptCounter;
        // A browsed folder's grid is made anew at another width whatever the
        // cache holds (the cap's message sends the user there).
        if (entries > 0)
            CmdRenderWidth.setEnabled(true);
    }
    LvwFiles.setVisible(true);
    LvwFiles.ZOrder(0);
    CmdScan.setCaption(GetString(38, QStringLiteral("Scan")));
}

void frmRecover::CmdShowThumbs_Click()
{
    // 1.
    if (CmdScan.Caption() == GetString(259, QStringLiteral("Stop"))) {
        ShowPictureView();
        return;
    }
    // 3. (before all else) A press while the grid renders stops it; the grid
    // keeps what it has.
    if (CmdShowThumbs.Caption().contains(GetString(603, QStringLiteral("Rendering")))) {
        RenderingThumbnails = false;
        ResultViewState = 1;
        waitProcessing(1000);
        return;
    }
    // 2.
    if (CountFolderFiles(CacheRoot) == 0)
        EmptyCacheDir();
    if (List3.ListCount() == 0) {
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        RefillFoundFileList();
        if (List3.ListCount() == 0) {
            MsgBoxTimed(QString::number(hWnd()), GetString(369, QStringLiteral("Cache folders are empty.")), 0,
                        GetString(370, QStringLiteral("Show thumbs/files")));
            if (Picture7.Visible()) {
                LvwTypes.setVisible(false);
                CmbTypeSelect.setVisible(false);
                Picture7.ZOrder(0);
            }
            return;
        }
    }
    // 4. From a browsed folder back to the cache, as a list (the buttons as
    // the cache's files allow).
    if (ShownFolder != CacheRoot) {
        ShownFolder = CacheRoot;
        ActiveThumbsFolder = ThumbsFolder;
        ThumbCounter = 0;
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        ClearFileView();
        RefillFoundFileList();
        ShowPictureView();
        LvwFiles.setVisible(false);
        List3.setVisible(true);
        List3.ZOrder(0);
        ResultViewState = 0;
        List3_Click();
        CmdShowThumbs.setCaption(GetString(282, QStringLiteral("Thumbs Scan")));
        SelectListItem();
        EnableButtons();
        return;
    }
    // 5. The toggle.
    ResultViewState = ResultViewState == 1 ? 0 : 1;
    UpdateThumbsCaption();
    if (RenderingThumbnails || OperationRunning || OperationBusy)
        return;
    if (ResultViewState == 1) {
        RenderThumbnails(0);
        SyncListSelections(1);
    } else {
        LvwFiles.setVisible(false);
        ShowPictureView();
        List3.ZOrder(0);
        SyncListSelections(0);
    }
}

void frmRecover::CmdRenderWidth_Click()
{
    // 1.
    if (List2.Visible() || OperationRunning || OperationBusy || RenderingThumbnails) {
        if (RenderingThumbnails && CmdShowThumbs.Caption().contains(GetString(603, QStringLiteral("Rendering"))))
            CmdShowThumbs_Click();
        return;
    }
    // 2. The width asked for, within what the box accepts.
    const int typed = int(VbVal(TxtWidth.Text()));
    const int width = std::clamp(typed, kMinThumbWidth, kMaxThumbWidth);
    if (width != typed)
        TxtWidth.setText(QString::number(width));
    const int entries = FoundFilePaths.size() == 1 && FoundFilePaths[0].isEmpty() ? 0 : int(FoundFilePaths.size());
    const bool needed = width != RenderedThumbWidth || GridOutOfDate
        || (LvwFiles.ItemCount() < kMaxGridItems && LvwFiles.ItemCount() < entries
            && ThumbnailLimit(width) > ThumbCounter);
    if (!needed) {
        // 4.
        if (!LvwFiles.Visible())
            CmdShowThumbs_Click();
        return;
    }
    // 3.
    RenderingThumbnails = true;
    ThumbWidth = width;
    ThumbHeight = width * 2 / 3;
    bool deleted = false;
    if (width != RenderedThumbWidth) {
        // Thumbnails of another width are made anew: the cache's folder, or
        // the browsed folder's, is emptied whole (never anything outside).
        const QString folder = ShownFolder == CacheRoot ? ThumbsFolder : BrowseThumbsFolder;
        if (CacheDeleteAllowed(folder, CacheRoot) && FolderExists(folder))
            DeleteCacheTree(folder);
        deleted = true;
        RenderedThumbWidth = width;
    }
    const bool outOfDate = GridOutOfDate;
    if (deleted || outOfDate) {
        ThumbCounter = 0;
        createCacheFoldersKeepingView();
        List3.setVisible(true);
        LvwFiles.setVisible(false);
        ClearFileView();
    }
    RememberListIndex();
    RenderThumbnails(outOfDate ? 0 : ThumbCounter);
    RenderingThumbnails = false;
}

void frmRecover::TxtWidth_LostFocus()
{
    // 1.
    if (RenderingThumbnails || List2.Visible()) {
        TxtWidth.setText(QString::number(ThumbWidth));
        return;
    }
    // 2.
    int value = int(VbVal(TxtWidth.Text()));
    if (value < kMinThumbWidth) {
        value = kMinThumbWidth;
        TxtWidth.setText(QString::number(value));
    }
    // 3. A new width within range: shown at that size after a pause for
    // further typing.
    if (value <= kMaxThumbWidth && value != ThumbWidth) {
        waitProcessing(2000);
        if (RenderingThumbnails)
            return;
        if (LvwFiles.Visible()) {
            FitThumbWidth(0);
            List3.setVisible(true);
            LvwFiles.setVisible(false);
            ClearFileView();
            RenderThumbnails(0);
            TxtWidth.setText(QString::number(value));
            FitThumbWidth(0);
        } else {
            FitThumbWidth(0);
            CmdShowThumbs_Click();
        }
        return;
    }
    // 4.
    TxtWidth.setText(QString::number(ThumbWidth));
}

void frmRecover::refreshGridCells(const std::vector<int> &indices)
{
    if (LvwFiles.ItemCount() == 0 || RenderingThumbnails || indices.empty())
        return;
    const int kept = List3.ListIndex();
    RenderingThumbnails = true;
    Picture1.setVisible(false);   // the preview draws grid cells while hidden
    for (const int i : indices) {
        if (i < 0 || i >= LvwFiles.ItemCount() || i >= FoundFilePaths.size())
            continue;
        const QString name = FoundFilePaths[i];
        if (name.isEmpty() || !InPreviewList(FoundFileExtension(name)))
            continue;
        const QString thumb = ActiveThumbsFolder + ThumbnailNameOf(name);
        removeFile(thumb);
        FileListBusy = false;
        List3.setListIndex(i);
        if (isFile(thumb))
            LvwFiles.setItemIcon(i + 1, ImageList1.Add(LoadPicture(thumb)));
    }
    Picture1.setVisible(true);
    RenderingThumbnails = false;
    if (kept >= 0 && kept < List3.ListCount()) {
        FileListBusy = true;
        List3.setListIndex(kept);
    }
    FileListBusy = false;
    List3_Click();
}

void frmRecover::createCacheFoldersKeepingView()
{
    // Making the folders derives the paths anew, and with them the shown
    // folder as the cache's; a browsed folder stays shown.
    const QString shown = ShownFolder;
    CreateCacheFolders();
    if (!shown.isEmpty() && shown != ShownFolder) {
        ShownFolder = shown;
        ActiveThumbsFolder = ShownFolder == CacheRoot ? ThumbsFolder : BrowseThumbsFolder;
    }
}
