// The picture operations on the main window's boxes, the EXIF summary, the
// scan's RAW previews and quick EXIF read, type icons and the thumbnail
// width.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "viewer/exifquick.h"
#include "viewer/exiftext.h"
#include "viewer/pictureops.h"
#include "viewer/thumbgrid.h"
#include "viewer/typeicons.h"
#include "viewer/ui/runandwait.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The thumbnails' width: the rendered one, else the one TxtWidth asks for.
int gridThumbWidth(const frmRecover &w)
{
    return w.RenderedThumbWidth > 0 ? w.RenderedThumbWidth : w.ThumbWidth;
}

QSize boxPixels(const plat::PictureBox &box)
{
    return QSize(plat::twipsToPixels(box.ScaleWidth()), plat::twipsToPixels(box.ScaleHeight()));
}

} // namespace

bool RunAndWait(const ConverterCommand &command, int limitMs)
{
    const int pointer = plat::screenMousePointer();
    plat::setScreenMousePointer(11);
    plat::pumpEventsNow();
    const bool ok = RunConverter(command, limitMs, [] { plat::pumpEvents(); });
    plat::setScreenMousePointer(pointer == 11 ? 0 : pointer);
    plat::pumpEventsNow();
    return ok;
}

// ---- canvases ----------------------------------------------------------------------

QSize frmRecover::Picture1CanvasSize() const
{
    if (Picture1.Visible())
        return boxPixels(Picture1);
    const int width = std::max(1, gridThumbWidth(*this));
    return QSize(width, int(std::lround(width * 2.0 / 3.0)));
}

void frmRecover::PreparePicture1Canvas()
{
    Picture1Canvas.backColor = plat::colorFromVb(Picture1.BackColor());
    Picture1Canvas.foreColor = plat::colorFromVb(Picture1.ForeColor());
    if (QWidget *w = Picture1.widget())
        Picture1Canvas.font = w->font();
    Picture1Canvas.setSize(Picture1CanvasSize());
}

void frmRecover::ShowPicture1Canvas() { Picture1.setPicture(Picture1Canvas.image); }

PictureDecodeQueue &frmRecover::PictureDecoder()
{
    if (!PictureDecoderQueue)
        PictureDecoderQueue = std::make_unique<PictureDecodeQueue>();
    return *PictureDecoderQueue;
}

DrawThumbnailCall frmRecover::Picture1Call(const QString &file, bool exifListing, const QString &thumbName)
{
    const QSize size = Picture1CanvasSize();
    DrawThumbnailCall call;
    call.boxWidth = size.width() * double(plat::kTwipsPerPixel);
    call.boxHeight = size.height() * double(plat::kTwipsPerPixel);
    call.target = Picture1.Visible() ? DrawTarget::Preview : DrawTarget::GridCell;
    call.file = file;
    call.exifListing = exifListing;
    call.lines = &ExifLines;
    call.thumbFolder = ActiveThumbsFolder;
    call.thumbName = thumbName;
    call.thumbWidth = gridThumbWidth(*this);
    call.orientation = &PictureOrientation;
    return call;
}

bool frmRecover::DrawPicture1(const QString &file, bool exifListing, const QString &thumbName, double *estimate,
                              QSize *tooLarge)
{
    DrawThumbnailCall call = Picture1Call(file, exifListing, thumbName);
    // Decoded on a worker (or taken from the grid's decodes ahead) while the
    // window's events run; drawn here.
    const DecodedPicture decoded = PictureDecoder().take(DecodeRequestOf(call), [] { plat::pumpEvents(); });
    PreparePicture1Canvas();
    call.canvas = &Picture1Canvas.image;
    call.decoded = &decoded;
    const bool drawn = ::DrawThumbnail(call);
    if (estimate)
        *estimate = call.sizeEstimate;
    if (tooLarge)
        *tooLarge = call.overBudget ? call.pictureSize : QSize();
    return drawn;
}

bool frmRecover::DrawThumbnail(const QString &file, plat::PictureBox &target, int width, int height)
{
    // Picture1 draws through its canvas; another box through one of its own.
    PictureCanvas own;
    PictureCanvas &canvas = &target == &Picture1 ? Picture1Canvas : own;
    if (&target == &Picture1)
        PreparePicture1Canvas();
    canvas.backColor = plat::colorFromVb(target.BackColor());
    canvas.setSize(boxPixels(target));
    canvas.Cls();
    QStringList lines;
    int orientation = 0;
    DrawThumbnailCall call;
    call.canvas = &canvas.image;
    call.boxWidth = width;
    call.boxHeight = height;
    call.file = file;
    call.lines = &lines;
    call.orientation = &orientation;
    const bool drawn = ::DrawThumbnail(call);
    if (&target == &Picture1)
        PreviewSizeEstimate = call.sizeEstimate;
    target.setPicture(canvas.image);
    return drawn;
}

// ---- the EXIF summary ----------------------------------------------------------------

void frmRecover::ShowExifSummary()
{
    QString text;
    QString summary;
    while (ExifLines.size() < 5)
        ExifLines.append(QString());
    ExifLines[0].replace(QStringLiteral("File:"), GetString(1416, QStringLiteral("File:")));
    ExifLines[2].replace(QStringLiteral("ImageWidth"), GetString(1549, QStringLiteral("ImageWidth")));
    ExifLines[3].replace(QStringLiteral("ImageHeight"), GetString(1550, QStringLiteral("ImageHeight")));
    for (qsizetype i = 5; i <= 10 && i < ExifLines.size(); ++i)
        if (ExifLines[i].contains(QLatin1String("Image")))
            ExifLines[i].clear();

    BuildExifSummary(ExifLines, summary);
    TruncateInfo(summary);

    // The labels in the user's language, where the blanks in front of them
    // leave room for the longer word.
    const auto localize = [&summary](int number, const QString &english, bool indent) {
        const QString local = GetString(number, english);
        const qsizetype extra = std::max<qsizetype>(0, local.size() - english.size());
        summary.replace(QString(extra, ' ') + english, indent ? QStringLiteral("  ") + local : local);
    };
    localize(1551, QStringLiteral("Make"), false);
    localize(1552, QStringLiteral("Model"), false);
    localize(1553, QStringLiteral("ExposureTime"), false);
    localize(1554, QStringLiteral("FNumber"), false);
    if (summary.contains(QLatin1String("DTOrigin")))
        localize(1555, QStringLiteral("DTOrigin"), true);
    localize(1556, QStringLiteral("Focallenght"), false);
    summary += kCrLf;
    localize(1416, QStringLiteral("File:"), false);
    summary.replace(QStringLiteral("::"), QStringLiteral(":"));
    ExifSummaryText = summary;

    ExifLines[4].replace(QStringLiteral("DTOrigin"), GetString(1555, QStringLiteral("DTOrigin")));

    if (txtExif.Visible()) {
        if (!lblSpecs.Caption().contains(GetString(722, QStringLiteral("Drive"))))
            UpdateDriveInfoLabel();
    } else if (!summary.trimmed().isEmpty()) {
        lblSpecs.setCaption(summary);
    } else {
        UpdateDriveInfoLabel();
    }

    TranslateExifValues(ExifLines);
    text = kCrLf;
    for (const QString &line : std::as_const(ExifLines))
        text += line + kCrLf;
    text.replace(QStringLiteral("::"), QStringLiteral(":"));
    txtExif.setText(text);
}

// ---- the scan's uses ------------------------------------------------------------------

void frmRecover::RunRawPreview(const QString &cacheFile)
{
    const QString conv = plat::toNative(ConvFolder);
    if (conv.isEmpty() || !QDir().mkpath(conv))
        return;
    ConverterCommand command;
    command.kind = ConvertKind::EmbeddedThumb;
    command.input = cacheFile;
    command.output = ConvFolder + ConverterOutputName(FileNamePart(cacheFile), ConvertKind::EmbeddedThumb);
    RunAndWait(command, kConverterLimitMs);
}

std::optional<ExifQuickFacts> frmRecover::ReadExifQuick(const unsigned char *bytes, size_t size)
{
    ExifQuickResult r;
    ::ReadExifQuick(bytes, size, r, QStringLiteral(":"));
    if (r.make.isEmpty() && r.model.isEmpty() && r.dateTaken.isEmpty() && int64_t(r.width) * r.height == 0)
        return std::nullopt;
    ExifQuickFacts facts;
    facts.make = r.make;
    facts.model = r.model;
    facts.dateText = r.dateTaken;
    facts.width = r.width;
    facts.height = r.height;
    return facts;
}

QImage frmRecover::GetFileTypeIcon(const QString &name, int flags, int moreFlags)
{
    return ::GetFileTypeIcon(name, flags, moreFlags);
}

void frmRecover::FitThumbWidth(int fileCount)
{
    const int width = FittingThumbWidth(fileCount, int(VbVal(TxtWidth.Text())));
    ThumbWidth = width;
    ThumbHeight = width * 2 / 3;
    TxtWidth.setText(QString::number(width));
}
