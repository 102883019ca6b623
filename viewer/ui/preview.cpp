// The preview of the selected found file (List3_Click): the file drawn the
// right way up into the picture view with its EXIF summary; a camera RAW file
// through the converter; a file that gives no picture by its type's icon and
// a note why. While the thumbnail grid renders (Picture1 hidden) the same
// steps only make the files the grid loads: conversions and thumbnails.
#include "app/frmrecover.h"

#include "app/logo.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/sectors.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"
#include "scan/foundfiles.h"
#include "viewer/exifprops.h"
#include "viewer/exiftext.h"
#include "viewer/foundnames.h"
#include "viewer/pictureops.h"
#include "viewer/typeicons.h"
#include "viewer/ui/runandwait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Restores the busy flag and clears FileListBusy however the handler ends.
class PreviewScope {
public:
    explicit PreviewScope(frmRecover &w) : w_(w), busy_(w.OperationBusy)
    {
        w_.FileListBusy = true;
        w_.OperationBusy = true;
    }
    ~PreviewScope()
    {
        w_.OperationBusy = busy_;
        w_.FileListBusy = false;
    }
    PreviewScope(const PreviewScope &) = delete;
    PreviewScope &operator=(const PreviewScope &) = delete;

private:
    frmRecover &w_;
    bool busy_;
};

bool fileExists(const QString &path)
{
    const QString native = plat::toNative(path);
    return !native.isEmpty() && QFileInfo(native).isFile();
}

int64_t fileLength(const QString &path)
{
    const QString native = plat::toNative(path);
    const QFileInfo info(native);
    return native.isEmpty() || !info.isFile() ? 0 : info.size();
}

// "name 1,234 kB" with "R#" shown as "File ".
QString fileLine(const QString &name, double sizeKB)
{
    QString line = name + ' ' + FormatWholeGrouped(sizeKB + 0.001) + QStringLiteral(" kB");
    line.replace(QStringLiteral("R#"), QStringLiteral("File "));
    return line;
}

// The number after the first blank of a size line, doubled.
QString doubledSizeLine(const QString &line)
{
    const qsizetype b = line.indexOf(' ');
    if (b < 0)
        return line;
    return line.left(b + 1) + QString::number(qlonglong(VbVal(line.mid(b + 1)) * 2));
}

// The width and height lines' numbers.
QSize sizeOfLines(const QStringList &lines)
{
    const auto number = [&lines](int i) {
        const QString line = lines.value(i);
        const qsizetype b = line.indexOf(' ');
        return b < 0 ? 0 : int(VbVal(line.mid(b + 1)));
    };
    return QSize(number(2), number(3));
}

} // namespace

QString TooLargeText(QSize size)
{
    return FormatString(GetString(2692, QStringLiteral("The picture is too large to preview: %0 x %1 pixels.")),
                        {QString::number(size.width()), QString::number(size.height())});
}

// The size of a RAW file's own picture: as its header states it, else as
// the converter reads it (its identification, kept beside the conversions).
QSize frmRecover::rawPictureSize(const QString &name)
{
    ImageProperties props;
    props.load(ShownFolder + name);
    if (props.primarySize().isValid())
        return props.primarySize();
    ConverterCommand command;
    command.kind = ConvertKind::Identify;
    command.input = ShownFolder + name;
    command.output = ConvFolder + ConverterOutputName(name, ConvertKind::Identify);
    if (!fileExists(command.output))
        RunAndWait(command, kConverterLimitMs);
    QFile f(plat::toNative(command.output));
    return f.open(QIODevice::ReadOnly) ? ConverterImageSize(f.read(64 * 1024)) : QSize();
}

void frmRecover::List3_Click()
{
    plat::pumpEvents();
    const int index = List3.ListIndex();
    if (index >= FoundFilePaths.size()) {
        if (List3.ListCount() > 0)
            List3.setListIndex(0);
        return;
    }
    const QString name = index >= 0 ? FoundFilePaths[index] : QString();
    if (name.isEmpty() || (OperationRunning && ThumbCounter > 0) || FileListBusy)
        return;
    // Another item than the full picture window decodes for: its press got
    // "Still busy", and the item is previewed once the window is done.
    if (!FullPictureChoice.isEmpty() && FullPictureChoice != ChosenItemKey())
        return;
    const PreviewScope scope(*this);

    const QString path = ShownFolder + name;
    const double sizeKB = double(fileLength(path)) / 1024.0;
    ExifLines = QStringList(5);
    ExifDateText.clear();   // the date shown is this file's own
    PictureOrientation = index < int(ItemOrientations.size()) ? int(ItemOrientations[size_t(index)]) : 0;
    const QString ext = FoundFileExtension(name);
    const bool visible = Picture1.Visible();
    PreviewSizeEstimate = 0;

    if (sizeKB == 0) {
        // A folder that cannot be reached (a card taken out while browsing)
        // says nothing about its files: the list stays as it is.
        if (!fileExists(path) && !FolderExists(ShownFolder))
            return;
        previewEmptyFile(index, name);
        return;
    }

    PreparePicture1Canvas();
    Picture1Canvas.Cls();
    bool drawn = false;
    bool rawEstimate = false;
    QSize tooLarge;   // valid: a picture too large to decode for a preview
    const bool previewType = InPreviewList(ext);
    if (previewType) {
        if (visible) {
            LastConvertedFile.clear();
            RemoveFromNoPreviewList(NoPreviewList, name);
        } else if (InRawList(ext)) {
            RemoveFromNoPreviewList(NoPreviewList, name);
        }
        if (!InNoPreviewList(NoPreviewList, name)) {
            if (InRawList(ext)) {
                drawn = PreviewRawFile(name, PreviewSizeEstimate);
                rawEstimate = drawn;
            }
            if (!drawn) {
                // The grid's thumbnail is written while the grid renders;
                // the shown preview leaves it to the grid.
                drawn = DrawPicture1(path, !PictureCopyFlag, visible ? QString() : ThumbnailNameOf(name),
                                     &PreviewSizeEstimate, &tooLarge);
                if (visible && drawn) {
                    LastConvertedFile = path;
                    ExifLines[4] = GetString(674, QStringLiteral("Display Full File"));
                }
            }
            // A picture too large for a preview is not handed to a desktop
            // thumbnailer either: it would decode it whole.
            if (tooLarge.isValid())
                NoSystemThumbnail.insert(path);
            if (visible && !drawn && !tooLarge.isValid() && HasShellThumbnailHandler('.' + ext))
                drawn = previewShellThumbnail(name);
            if (visible && drawn && ExifLines.size() < 16)
                ExifLines[0] = fileLine(name, sizeKB);
        }
    }
    if (tooLarge.isValid())
        TooLargePictures.insert(path, tooLarge);
    else
        TooLargePictures.remove(path);
    if (!drawn)
        previewTypeIcon(name, ext, sizeKB, tooLarge);

    if (visible && previewType) {
        if (!PictureCopyFlag) {
            if (ExifLines.size() < 31)
                companionExif(index, name);
            QString shown = name;
            shown.remove(QStringLiteral("R#"));
            while (shown.size() >= 7 && shown.startsWith('0'))
                shown.remove(0, 1);
            ExifLines[0] = QStringLiteral("File ") + shown + ' ' + FormatWholeGrouped(sizeKB + 0.001)
                + QStringLiteral(" kB");
            if (ExifLines.size() < 16)
                ExifLines[1] = QStringLiteral("DTOrigin ") + GetFileModifiedText(path);
            ShowExifSummary();
        }
        if (FilterActive && !OperationRunning)
            ApplyPictureFilter(Picture1Canvas, FilterName);
    }
    // The window's events ran while the pictures were decoded: an entry
    // removed meanwhile keeps nothing of this one, and an item the user chose
    // meanwhile is shown when the user is idle.
    if (FoundFilePaths.value(index) != name || List3.ListIndex() != index) {
        ListClickPending = ListClickPending || visible;
        if (FoundFilePaths.value(index) != name)
            return;
    }
    ShowPicture1Canvas();
    if (index < int(ItemOrientations.size()))
        ItemOrientations[size_t(index)] = float(PictureOrientation);

    // An over-long picture found on a fixed disk is cut to the size its
    // pixels allow. RAW and TIFF files never are: their size says nothing of
    // their end.
    if (LastScanDriveType == QLatin1String("Fixed") && !rawEstimate && !InRawList(ext) && PreviewSizeEstimate > 16
        && sizeKB > PreviewSizeEstimate && ShownFolder == CacheRoot) {
        TruncateFile(path, int64_t(PreviewSizeEstimate * 1024));
        ExifLines[0] = QStringLiteral("File ") + ExifLines[0] + ' ' + FormatWholeGrouped(PreviewSizeEstimate + 0.001)
            + QStringLiteral(" kB");
    }
}

// A found file of no length: a card saying so, then the file leaves the
// cache and the lists.
void frmRecover::previewEmptyFile(int index, const QString &name)
{
    if (CountFolderFiles(CacheRoot) == 0 && ShownFolder == CacheRoot) {
        CreateCacheFolders();
        CmdShowThumbs_Click();
        Picture5.setVisible(true);
        Form_Resize();
        return;
    }
    const QString path = ShownFolder + name;
    if (fileExists(path)) {
        QString picture = ActiveThumbsFolder + ThumbnailNameOf(name);
        if (!fileExists(picture))
            picture = ActiveThumbsFolder + TypeThumbnailNameOf(FoundFileExtension(name));
        if (Picture1.Visible()) {
            const QString message = GetString(686, QStringLiteral("File has no file length."));
            lblSpecs.setCaption(kCrLf + name + kCrLf + message);
            PreparePicture1Canvas();
            Picture1Canvas.Cls();
            {
                LogoCanvas card(Picture1Canvas.image, Picture1Canvas.font);
                const double size = Picture1Canvas.font.pointSizeF() > 0 ? Picture1Canvas.font.pointSizeF() : 8;
                card.FontSize = size;
                PrintGlowText(card, ProgramTitle + QStringLiteral(" Info"), 16, 12, 0x444444, 0);
                PrintGlowText(card, message, 16, 12 + 2 * card.TextHeight(), 0x444444, 0);
                SoftenPicture(Picture1Canvas);
                SoftenPicture(Picture1Canvas);
                quint32 colour = 0x404040;
                DrawLogoPattern(card, 12, int(RoundHalfEven((Picture1Canvas.size().width() - 280) / 1.75)),
                                int(RoundHalfEven(Picture1Canvas.size().height() / 1.68)), colour);
            }
            for (int i = 0; i < 3; ++i)
                Picture1Canvas.Print();
            DrawPicture1(picture, true, QString());
            ShowPicture1Canvas();
        }
    }
    int32_t item = index;
    bool force = false, removed = false;
    RemoveRecoveredFile(item, force, removed);
}

// The desktop's thumbnail of a file that Qt cannot draw, turned by the item's
// orientation; the grid's thumbnail is made from it once.
bool frmRecover::previewShellThumbnail(const QString &name)
{
    int o = PictureOrientation;
    if (o > 99)
        o -= 100;
    const double factor = (o == 6 || o == 8) ? 0.7 : 1.0;
    const QSize box = Picture1Canvas.size();
    Picture1Canvas.Cls();
    const bool drawn = DrawSystemThumbnail(Picture1Canvas, box.width() * plat::kTwipsPerPixel * factor,
                                           box.height() * plat::kTwipsPerPixel * factor, ShownFolder + name);
    if (!drawn)
        return false;
    FindWhiteBand(Picture1Canvas);
    if (o > 1) {
        const QImage turned = RotatePictureByOrientation(Picture1Canvas.image, o);
        Picture1Canvas.Cls();
        Picture1Canvas.drawCentred(turned);
    }
    ExifLines[4] = GetString(678, QStringLiteral("Display System Thumb"));
    const QString thumb = ActiveThumbsFolder + ThumbnailNameOf(name);
    const int width = RenderedThumbWidth > 0 ? RenderedThumbWidth : ThumbWidth;
    if (!fileExists(thumb) && width > 0)
        SaveImageJpegQuality(LetterboxedCell(Picture1Canvas.image, width, int(std::lround(width * 2.0 / 3.0)),
                                             Picture1Canvas.backColor),
                             thumb, 98);
    return true;
}

// No picture: the type's icon (its thumbnail made once for the type) and,
// for a type that should have given one, a note why it did not. A picture
// too large for a preview says so with its size, and how to see it; its
// grid cell is the icon with the same words.
void frmRecover::previewTypeIcon(const QString &name, const QString &ext, double sizeKB, QSize tooLarge)
{
    // Too large a picture is no damaged file: its header decides again on
    // every try, before anything is decoded.
    const bool large = tooLarge.isValid();
    if (!large)
        AddToNoPreviewList(NoPreviewList, name);
    const QString path = ShownFolder + name;
    const QString typeThumb = ActiveThumbsFolder + TypeThumbnailNameOf(ext);
    QImage iconPicture;
    if (!fileExists(typeThumb)) {
        const QImage icon = GetFileTypeIcon(path, 0, 256);
        const int width = int(VbVal(TxtWidth.Text()));
        Picture2Canvas.backColor = plat::colorFromVb(Picture1.BackColor());
        if (width < 52)
            Picture2Canvas.setSize(icon.size());
        else
            Picture2Canvas.setSize(QSize(width, width * 2 / 3));
        Picture2Canvas.Cls();
        Picture2Canvas.drawCentred(icon);
        iconPicture = Picture2Canvas.image;
        SavePictureAsJpeg(iconPicture, typeThumb, 99);
        if (!Picture1.Visible()) {
            Picture1Canvas.Cls();
            Picture1Canvas.drawCentred(iconPicture);
        }
        Picture2Canvas.setSize(QSize(1, 1));
    }
    const QString width = QString::number(tooLarge.width()), height = QString::number(tooLarge.height());
    if (!Picture1.Visible()) {
        if (large) {
            // The cell of its own: the icon, "Too large" and the size.
            PreparePicture1Canvas();
            Picture1Canvas.Cls();
            QImage icon = iconPicture.isNull() ? LoadPicture(typeThumb) : iconPicture;
            if (icon.width() > Picture1Canvas.size().width() || icon.height() > Picture1Canvas.size().height())
                icon = icon.scaled(Picture1Canvas.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            Picture1Canvas.drawCentred(icon);
            const QFont font = Picture1Canvas.font;
            Picture1Canvas.font.setPixelSize(std::max(7, Picture1Canvas.size().height() / 6));
            Picture1Canvas.currentX = 2;
            Picture1Canvas.Print(GetString(2695, QStringLiteral("Too large")));
            Picture1Canvas.currentX = 2;
            Picture1Canvas.Print(width + QStringLiteral(" x ") + height);
            Picture1Canvas.font = font;
            SaveImageJpegQuality(Picture1Canvas.image, ActiveThumbsFolder + ThumbnailNameOf(name), 98);
        }
        return;
    }

    Picture1Canvas.Cls();
    const bool drawn = DrawPicture1(typeThumb, false, QString());
    if (!drawn && !iconPicture.isNull())
        Picture1Canvas.drawCentred(iconPicture);
    ExifLines[2].clear();
    ExifLines[3].clear();
    if (name.contains('.') && InPreviewList(ext)) {
        // Why there is no picture, printed into the preview.
        Picture1Canvas.currentX = 6;
        Picture1Canvas.currentY = 7;
        Picture1Canvas.Print();
        const QString two = QStringLiteral("  ");
        const QString openWith = GetString(41, QStringLiteral("Open With"));
        if (large) {
            Picture1Canvas.Print(two + TooLargeText(tooLarge));
            // The full picture window decodes it for an area no larger than
            // the screen.
            const bool fullWindow =
                PlanPictureDecode(plat::toNative(path), plat::screenRectPixels(widget()).size(), DecodeBudget::Full)
                    .withinBudget;
            Picture1Canvas.Print(two + (fullWindow
                ? FormatString(GetString(2693, QStringLiteral("Click it to see it in the full picture window, or press %0.")),
                               {openWith})
                : FormatString(GetString(2694, QStringLiteral("Press %0 to see it with another program.")), {openWith})));
        } else if (InPictureList('.' + ext) || InRawList(ext)) {
            Picture1Canvas.Print(two + GetString(703, QStringLiteral("Failed rendering a picture.")));
            if (ConverterCommandFile == path && !ConverterCommandText.isEmpty())
                Picture1Canvas.Print(two + ConverterCommandText);
            // Damage inside a file is not called incompleteness: only a
            // structure that goes on past the file's end is.
            if (PictureFileEndsEarly(plat::toNative(path)))
                Picture1Canvas.Print(two + GetString(1441, QStringLiteral("Probably this file is incomplete!")));
        } else {
            Picture1Canvas.Print(two + FormatString(GetString(1442, QStringLiteral("Not able to render the %0 file type.")),
                                                    {ext.toUpper()}));
            const QString noThumb = HasShellThumbnailHandler('.' + ext)
                ? GetString(707, QStringLiteral("Failed getting a system thumb."))
                : GetString(1471, QStringLiteral("No Windows thumbnailer is associated."));
            Picture1Canvas.Print(two + noThumb + two + ext);
            QString message;
            const QString program = OpenWithAssociatedProgram(path, message);
            if (!program.isEmpty())
                Picture1Canvas.Print(two + GetString(1443, QStringLiteral("Double click for showing with")) + ' '
                                     + FileNamePart(program));
            else
                Picture1Canvas.Print(two + GetString(1444, QStringLiteral("Also no Windows application associated.")));
        }
    }
    ExifLines[0] = fileLine(name, sizeKB);
    ExifLines[4] = GetString(710, QStringLiteral("Display System Icon"));
    ShowExifSummary();
}

// A RAW file without EXIF of its own takes the property lines of a picture
// of the same number beside it in the list (its JPEG companion).
void frmRecover::companionExif(int index, const QString &name)
{
    const QStringList copy = ExifLines;
    const QString stem = name.left(name.indexOf('.'));
    const int first = index < 3 ? index : index - 2;
    const int last = std::min(index + 2, List3.ListCount() - 1);
    bool tried = false;
    for (int i = first; i <= last && i < FoundFilePaths.size(); ++i) {
        if (i == index && i != first)
            continue;
        const QString other = FoundFilePaths[i];
        if (other.isEmpty() || other.left(other.indexOf('.')) != stem || !InPictureList(other.right(4)))
            continue;
        QStringList lines;
        ShowExifList(ShownFolder + other, lines);
        ExifLines = lines;
        tried = true;
        if (lines.size() > copy.size())
            break;
    }
    if (!tried)
        return;
    for (int i = 0; i < 5 && i < copy.size(); ++i)
        ExifLines[i] = copy[i];
    if (copy.size() > ExifLines.size())
        ExifLines = copy;
}

// The RAW step: an existing conversion, else the converter's embedded
// thumbnail (the grid), half-size picture (the preview) or full-size picture
// (a rotation or filter copied to other items).
bool frmRecover::PreviewRawFile(const QString &name, double &estimate)
{
    const bool visible = Picture1.Visible();
    const QString thumbName = ThumbnailNameOf(name);
    const ConvertKind kind = !visible ? ConvertKind::EmbeddedThumb
                                      : (PictureCopyFlag ? ConvertKind::FullSize : ConvertKind::HalfSize);
    const QString output = ConverterOutputName(name, kind);
    const QString converted = ConvFolder + output;
    const auto draw = [&] {
        Picture1Canvas.Cls();
        return DrawPicture1(converted, !PictureCopyFlag, thumbName);
    };
    bool drawn = fileExists(converted) && draw();
    if (!drawn) {
        QDir().mkpath(plat::toNative(ConvFolder));
        ConverterCommand command;
        command.kind = kind;
        command.input = ShownFolder + name;
        command.output = converted;
        ConverterCommandText = command.displayText();
        ConverterCommandFile = command.input;
        RunAndWait(command, kConverterLimitMs);
        drawn = fileExists(converted) && draw();
        if (!drawn && !visible) {
            // The grid's retry: a half-size picture under the thumbnail's name.
            command.kind = ConvertKind::HalfSize;
            ConverterCommandText = command.displayText();
            RunAndWait(command, kConverterRetryLimitMs);
            drawn = fileExists(converted) && draw();
        }
    }
    if (visible && drawn) {
        LastConvertedFile = converted;
        if (output.contains(QLatin1String(".thc"))) {
            ExifLines[4] = GetString(698, QStringLiteral("Display Embedded Thumb"));
        } else {
            ExifLines[4] = GetString(674, QStringLiteral("Display Full File"));
            // The RAW file's size: doubled only when the converter halved it.
            if (kind == ConvertKind::HalfSize && IsHalfSizeConversion(sizeOfLines(ExifLines), rawPictureSize(name))) {
                ExifLines[2] = doubledSizeLine(ExifLines[2]);
                ExifLines[3] = doubledSizeLine(ExifLines[3]);
            }
            if (ExifLines.size() > 6)
                ExifLines[6].clear();
            if (ExifLines.size() > 7)
                ExifLines[7].clear();
            DropEmptyConverterValues(ExifLines);
            estimate = double(fileLength(converted)) * 5.0 / 1024.0;
        }
    }
    return drawn;
}
