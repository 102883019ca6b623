#include "viewer/pictureops.h"

#include "drive/driveinfo.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "viewer/exifprops.h"

#include <QBuffer>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSemaphore>
#include <QTransform>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

// Box sizes are twips, 15 to a pixel.
constexpr double kTwips = 15.0;

void raiseAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(kPictureAllocationLimitMB); });
}

bool swapsSides(RotateFlip t)
{
    return t == RotateFlip::Rotate90 || t == RotateFlip::Rotate270 || t == RotateFlip::Rotate90FlipX
        || t == RotateFlip::Rotate270FlipX;
}

// The first two ":" of a date become "/".
QString slashDate(QString d)
{
    for (int i = 0; i < 2; ++i)
        if (const qsizetype c = d.indexOf(':'); c >= 0)
            d.replace(c, 1, QStringLiteral("/"));
    return d;
}

} // namespace

QRect FitRect(QSize picture, double boxWidth, double boxHeight)
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return QRect();
    const double twips = kTwips;
    double scale = boxHeight / picture.height();
    if (boxWidth / picture.width() < scale)
        scale = boxWidth / picture.width();
    if (scale > 1.2 * twips)
        scale = 1.2 * twips;
    const int64_t dw = RoundHalfEven(picture.width() * scale / twips);
    const int64_t dh = RoundHalfEven(picture.height() * scale / twips);
    if (dw <= 6 || dh <= 6)
        return QRect();
    const int64_t left = RoundHalfEven(boxWidth / twips - double(dw)) / 2;
    const int64_t top = RoundHalfEven(boxHeight / twips - double(dh)) / 2;
    return QRect(int(left + 1), int(top + 1), int(dw - 6), int(dh - 6));
}

QImage LetterboxedCell(const QImage &picture, int cellWidth, int cellHeight, const QColor &back)
{
    QImage cell(std::max(1, cellWidth), std::max(1, cellHeight), QImage::Format_RGB32);
    cell.fill(back);
    const QRect rect = FitRect(picture.size(), cellWidth * kTwips,
                               cellHeight * kTwips);
    if (!picture.isNull() && rect.isValid()) {
        QPainter p(&cell);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect, picture);
    }
    return cell;
}

QString FileNamePart(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    return path.mid(cut + 1);
}

QString FileNameExtension(const QString &path)
{
    const QString name = FileNamePart(path);
    const qsizetype dot = name.indexOf('.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

namespace {

// Preview decodes held at once, in MB: workers decoding big pictures side by
// side wait for each other's memory.
constexpr int kConcurrentDecodeMB = 512;

class DecodeMemory {
public:
    explicit DecodeMemory(qint64 bytes)
        : mb_(int(std::clamp<qint64>((bytes + (1 << 20) - 1) >> 20, 0, kConcurrentDecodeMB)))
    {
        if (mb_ > 0)
            pool().acquire(mb_);
    }
    ~DecodeMemory()
    {
        if (mb_ > 0)
            pool().release(mb_);
    }
    DecodeMemory(const DecodeMemory &) = delete;
    DecodeMemory &operator=(const DecodeMemory &) = delete;

private:
    static QSemaphore &pool()
    {
        static QSemaphore memory(kConcurrentDecodeMB);
        return memory;
    }
    int mb_;
};

// Bits a decoded pixel takes; a palette picture is drawn from a true-colour
// copy, which counts too.
qint64 bitsPerPixel(QImage::Format format)
{
    if (format == QImage::Format_Invalid)
        return 32;
    const qint64 bits = QImage::toPixelFormat(format).bitsPerPixel();
    const bool palette = format == QImage::Format_Mono || format == QImage::Format_MonoLSB
        || format == QImage::Format_Indexed8;
    return std::max<qint64>(bits, 1) + (palette ? 32 : 0);
}

// A GIF's logical screen: its reader fills a picture of that size, however
// small the frames are that it names.
QSize gifScreen(const QString &native)
{
    QFile f(native);
    if (!f.open(QIODevice::ReadOnly))
        return QSize();
    const QByteArray head = f.read(10);
    if (head.size() < 10 || !head.startsWith("GIF8"))
        return QSize();
    const auto le16 = [&head](int at) { return int(uchar(head[at])) | (int(uchar(head[at + 1])) << 8); };
    return QSize(le16(6), le16(8));
}

// A PNG that the reader scales line by line while it decodes, holding no
// more than a line of the picture: 8 bits a sample, true colour or grey
// with alpha, not interlaced. Palette, grey and 16-bit pictures, and
// interlaced ones, it decodes whole before it scales, which then takes more
// than the whole picture alone.
bool pngScalesWhileReading(const QString &native)
{
    QFile f(native);
    if (native.isEmpty() || !f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(29);
    if (head.size() < 29 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return false;
    const int depth = uchar(head[24]), colourType = uchar(head[25]), interlace = uchar(head[28]);
    return depth == 8 && (colourType == 2 || colourType == 4 || colourType == 6) && interlace == 0;
}

DecodePlan planOf(QImageReader &reader, const QString &native, QSize fitInto, DecodeBudget budget)
{
    DecodePlan plan;
    QSize size = reader.size();
    const QByteArray format = reader.format();
    if (format == "gif")
        size = size.expandedTo(gifScreen(native));
    if (!size.isValid() || size.isEmpty())
        return plan;   // the header does not say: the allocation limit guards
    plan.header = size;
    qint64 w = size.width(), h = size.height();
    // JPEG decodes at 1/2, 1/4 or 1/8 of its size; other readers decode whole
    // even when they scale afterwards (and do it badly for palette pictures).
    // The full picture window also has a PNG scaled while it is read, where
    // the reader does that line by line: a picture of any size then takes the
    // memory of its shown size. A preview does not: its budget bounds the
    // work of decoding too, and that stays the whole picture's.
    if (fitInto.isValid() && !fitInto.isEmpty()) {
        const double f = std::max(double(fitInto.width()) / w, double(fitInto.height()) / h);
        const QSize covering(std::max(1, int(std::ceil(w * f))), std::max(1, int(std::ceil(h * f))));
        if (f < 0.999 && format == "jpeg") {
            plan.scaledTo = covering;
            int d = 8;
            while (d > 1 && ((w + d - 1) / d < plan.scaledTo.width() || (h + d - 1) / d < plan.scaledTo.height()))
                d /= 2;
            w = (w + d - 1) / d;
            h = (h + d - 1) / d;
        } else if (f < 0.999 && format == "png" && budget == DecodeBudget::Full && pngScalesWhileReading(native)) {
            plan.scaledTo = covering;
            w = covering.width();
            h = covering.height();
        }
    }
    // Both sides are below 2^31, so their product fits; the bytes of a
    // header that claims billions of pixels each way would not.
    plan.pixels = w * h;
    const qint64 bits = bitsPerPixel(reader.imageFormat());
    plan.bytes = plan.pixels > std::numeric_limits<qint64>::max() / bits ? std::numeric_limits<qint64>::max()
                                                                          : plan.pixels * bits / 8;
    plan.withinBudget = budget == DecodeBudget::Preview
        ? plan.pixels <= kPreviewDecodePixels && plan.bytes <= kPreviewDecodeMB << 20
        : plan.bytes <= qint64(kPictureAllocationLimitMB) << 20;
    return plan;
}

} // namespace

DecodePlan PlanPictureDecode(const QString &nativePath, QSize fitInto, DecodeBudget budget)
{
    QImageReader reader(nativePath);
    reader.setDecideFormatFromContent(true);
    return planOf(reader, nativePath, fitInto, budget);
}

QImage LoadPicture(const QString &path, QSize fitInto, QSize *fullSize, DecodeBudget budget, bool *overBudget)
{
    raiseAllocationLimit();
    if (fullSize)
        *fullSize = QSize();
    if (overBudget)
        *overBudget = false;
    const QString native = plat::toNative(path);
    if (native.isEmpty())
        return QImage();
    QImageReader reader(native);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const DecodePlan plan = planOf(reader, native, fitInto, budget);
    if (!plan.withinBudget) {
        if (overBudget)
            *overBudget = true;
        if (fullSize)
            *fullSize = plan.header;
        return QImage();
    }
    if (plan.scaledTo.isValid())
        reader.setScaledSize(plan.scaledTo);
    QImage image;
    {
        const DecodeMemory hold(budget == DecodeBudget::Preview ? plan.bytes : 0);
        image = reader.read();
        // One- and eight-bit palette pictures are drawn from true colour: a
        // painter takes a one-bit picture for a mask.
        if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB
            || image.format() == QImage::Format_Indexed8)
            image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    }
    if (fullSize && !image.isNull())
        *fullSize = plan.header.isValid() ? plan.header : image.size();
    return image;
}

void GetImageSize(const QString &file, int &width, int &height)
{
    raiseAllocationLimit();
    const QString native = plat::toNative(file);
    if (native.isEmpty())
        return;
    QImageReader reader(native);
    reader.setDecideFormatFromContent(true);
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        const QImage image = reader.read();
        if (image.isNull())
            return;
        size = image.size();
    }
    width = size.width();
    height = size.height();
}

RotateFlip RotateFlipOfOrientation(int orientation)
{
    switch (orientation > 100 ? orientation - 100 : orientation) {
    case 2: return RotateFlip::FlipX;
    case 3: return RotateFlip::Rotate180;
    case 4: return RotateFlip::Rotate180FlipX;
    case 5: return RotateFlip::Rotate90FlipX;    // transpose
    case 6: return RotateFlip::Rotate90;
    case 7: return RotateFlip::Rotate270FlipX;   // transverse
    case 8: return RotateFlip::Rotate270;
    default: return RotateFlip::None;
    }
}

QImage ApplyRotateFlip(const QImage &picture, RotateFlip turn)
{
    if (picture.isNull() || turn == RotateFlip::None)
        return picture;
    int angle = 0;
    bool flip = false;
    switch (turn) {
    case RotateFlip::Rotate90: angle = 90; break;
    case RotateFlip::Rotate180: angle = 180; break;
    case RotateFlip::Rotate270: angle = 270; break;
    case RotateFlip::FlipX: flip = true; break;
    case RotateFlip::Rotate90FlipX: angle = 90; flip = true; break;
    case RotateFlip::Rotate180FlipX: angle = 180; flip = true; break;
    case RotateFlip::Rotate270FlipX: angle = 270; flip = true; break;
    case RotateFlip::None: break;
    }
    QImage out = angle ? picture.transformed(QTransform().rotate(angle)) : picture;
    if (flip)
        out = out.mirrored(true, false);
    return out;
}

QImage RotatePictureByOrientation(const QImage &picture, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return picture;
    return ApplyRotateFlip(picture, RotateFlipOfOrientation(orientation));
}

bool SaveImageJpegQuality(const QImage &picture, const QString &fileName, int quality)
{
    if (picture.isNull())
        return false;
    const QString native = plat::toNative(fileName);
    if (native.isEmpty())
        return false;
    QImage flat = picture;
    if (flat.hasAlphaChannel()) {
        flat = QImage(picture.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter p(&flat);
        p.drawImage(0, 0, picture);
    }
    return SaveImageFile(flat, fileName, "JPG", std::clamp(quality, 0, 100));
}

bool SaveImageFile(const QImage &picture, const QString &fileName, const char *format, int quality)
{
    const QString native = plat::toNative(fileName);
    if (picture.isNull() || native.isEmpty())
        return false;
    const QFileInfo target(native);
    plat::PartFile part;
    return part.open(target.absolutePath(), target.fileName()) && picture.save(&part.file(), format, quality)
           && part.commit(target.fileName(), plat::PartFile::Existing::Replace);
}

QString SavePictureAsJpeg(const QImage &picture, const QString &fileName, int quality)
{
    const QString name = FileNamePart(fileName);
    QString path = fileName;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
        path += QStringLiteral(".jpg");
    else
        path = fileName.left(fileName.size() - name.size() + dot) + QStringLiteral(".jpg");
    return SaveImageJpegQuality(picture, path, quality) ? path : QString();
}

bool JpegEndsWhole(const QString &file)
{
    QFile f(plat::toNative(file));
    if (f.fileName().isEmpty() || !f.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = f.size();
    const qint64 tail = std::min<qint64>(size, 4096);
    if (tail < 4 || !f.seek(size - tail))
        return false;
    const QByteArray bytes = f.read(tail);
    qsizetype end = bytes.size();
    while (end > 2 && bytes[end - 1] == '\0')
        --end;
    return end >= 2 && uchar(bytes[end - 2]) == 0xFF && uchar(bytes[end - 1]) == 0xD9;
}

QImage EmbeddedThumbnailFor(const ImageProperties &props, const QString &file, QSize need, QSize *fullSize)
{
    const QSize header(props.width(), props.height());
    if (props.thumbnail().isEmpty() || header.isEmpty() || need.isEmpty())
        return QImage();
    // The same limit whichever picture of the program is read first.
    raiseAllocationLimit();
    // Only a thumbnail that covers the need without enlarging.
    QImage thumb;
    {
        QImageReader reader;
        QBuffer buffer;
        buffer.setData(props.thumbnail());
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setAutoTransform(false);
        const QSize size = reader.size();
        if (!size.isValid() || size.width() < need.width() || size.height() < need.height()
            || size.width() > 4 * header.width() || size.height() > 4 * header.height())
            return QImage();
        // Its header is the file's word only, like the picture's own: a
        // thumbnail is decoded within a preview's budget, or not at all.
        const DecodePlan plan = planOf(reader, QString(), QSize(), DecodeBudget::Preview);
        if (reader.format() != "jpeg" || !plan.withinBudget)
            return QImage();
        const DecodeMemory hold(plan.bytes);
        thumb = reader.read();
    }
    if (thumb.isNull())
        return QImage();
    // Cameras keep a 4:3 thumbnail of a 3:2 picture with black bars: the
    // middle part of the main picture's proportions.
    const double aspect = double(header.width()) / header.height();
    const double thumbAspect = double(thumb.width()) / thumb.height();
    if (std::abs(thumbAspect - aspect) > 0.01 * aspect) {
        QSize crop = thumbAspect > aspect ? QSize(int(std::lround(thumb.height() * aspect)), thumb.height())
                                          : QSize(thumb.width(), int(std::lround(thumb.width() / aspect)));
        crop = crop.boundedTo(thumb.size());
        // Bars thicker than a third are no bars: another picture's proportions.
        if (crop.width() * 3 < thumb.width() * 2 || crop.height() * 3 < thumb.height() * 2)
            return QImage();
        thumb = thumb.copy(QRect(QPoint((thumb.width() - crop.width()) / 2, (thumb.height() - crop.height()) / 2), crop));
    }
    if (thumb.width() < need.width() || thumb.height() < need.height())
        return QImage();
    // A truncated file keeps its thumbnail, but the grid must show the damage.
    if (!JpegEndsWhole(file))
        return QImage();
    if (thumb.format() != QImage::Format_RGB32)
        thumb = thumb.convertToFormat(QImage::Format_RGB32);
    if (fullSize)
        *fullSize = header;
    return thumb;
}

PictureDecodeRequest DecodeRequestOf(const DrawThumbnailCall &call)
{
    PictureDecodeRequest request;
    request.file = plat::toNative(call.file);
    if (!request.file.isEmpty()) {
        const QFileInfo info(request.file);
        if (info.isFile()) {
            request.fileSize = info.size();
            request.modifiedMs = info.lastModified().toMSecsSinceEpoch();
        }
    }
    request.boxWidth = call.boxWidth;
    request.boxHeight = call.boxHeight;
    request.target = call.target;
    request.thumbWidth = call.thumbWidth;
    request.thumbWanted = !call.thumbName.isEmpty();
    request.orientation = call.orientation ? *call.orientation : 0;
    request.budget = call.budget;
    return request;
}

DecodedPicture DecodePicture(const PictureDecodeRequest &request)
{
    DecodedPicture out;
    // The properties give, unless the user turned the picture, its orientation.
    auto props = std::make_shared<ImageProperties>();
    props->load(request.file);
    out.props = props;
    out.orientation = request.orientation;
    if (out.orientation == 0) {
        const QVariant o = GetPropertyValue(*props, 0x0112);
        if (o.typeId() == QMetaType::Int)
            out.orientation = o.toInt();
    }
    const RotateFlip turn = out.orientation != 0 ? RotateFlipOfOrientation(out.orientation) : RotateFlip::None;

    // Decode at the size the picture is needed at: drawn, or as thumbnail.
    const int thumbW = request.thumbWidth;
    const int thumbH = int(RoundHalfEven(thumbW * 2.0 / 3.0));
    QSize need;
    if (const QSize header(props->width(), props->height()); !header.isEmpty()) {
        const QSize upright = swapsSides(turn) ? header.transposed() : header;
        const QRect drawn = FitRect(upright, request.boxWidth, request.boxHeight);
        int nw = drawn.width(), nh = drawn.height();
        if (request.thumbWanted && thumbW > 0) {
            nw = std::max(nw, thumbW);
            nh = std::max(nh, thumbH);
        }
        if (nw > 0 && nh > 0)
            need = swapsSides(turn) ? QSize(nh, nw) : QSize(nw, nh);
    }
    // A grid cell takes the camera's own small picture when it is big enough
    // and the file is whole: a full decode of a big photo costs a hundred
    // times more.
    if (request.target == DrawTarget::GridCell && need.isValid() && !need.isEmpty())
        out.image = EmbeddedThumbnailFor(*props, request.file, need, &out.full);
    if (out.image.isNull())
        out.image = LoadPicture(request.file, need, &out.full, request.budget, &out.overBudget);
    // A picture decoded whole keeps only what is drawn of it.
    if (need.isValid() && !need.isEmpty() && out.image.width() >= 2 * need.width()
        && out.image.height() >= 2 * need.height()) {
        const double f = std::max(double(need.width()) / out.image.width(), double(need.height()) / out.image.height());
        out.image = out.image.scaled(std::max(1, int(std::ceil(out.image.width() * f))),
                                     std::max(1, int(std::ceil(out.image.height() * f))), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    }
    return out;
}

bool DrawThumbnail(DrawThumbnailCall &call)
{
    ExifDateText.clear();
    call.sizeEstimate = 0;
    call.pictureSize = QSize();
    call.overBudget = false;
    if (call.lines)
        *call.lines = QStringList(5);
    DecodedPicture decodedHere;
    if (!call.decoded)
        decodedHere = DecodePicture(DecodeRequestOf(call));
    const DecodedPicture &decoded = call.decoded ? *call.decoded : decodedHere;
    static const ImageProperties kNoProperties;
    const ImageProperties &props = decoded.props ? *decoded.props : kNoProperties;

    // The properties give the date and, unless the user turned the picture,
    // its orientation.
    const QVariant date = GetPropertyValue(props, 0x0132);
    if (date.typeId() == QMetaType::QString)
        ExifDateText = slashDate(date.toString());
    if (call.orientation)
        *call.orientation = decoded.orientation;
    const int orientation = decoded.orientation;
    const RotateFlip turn = orientation != 0 ? RotateFlipOfOrientation(orientation) : RotateFlip::None;
    const bool grid = call.target == DrawTarget::GridCell;
    const int thumbW = call.thumbWidth;
    const int thumbH = int(RoundHalfEven(thumbW * 2.0 / 3.0));

    QImage image = decoded.image;
    const QSize full = decoded.full;
    const QSize size = swapsSides(turn) ? full.transposed() : full;
    if (image.isNull()) {
        call.overBudget = decoded.overBudget;
        if (call.overBudget)
            call.pictureSize = size;
        return false;
    }
    image = ApplyRotateFlip(image, turn);
    const int w = size.width(), h = size.height();
    if (int64_t(w) * h == 0) {
        call.exifListing = false;
        return false;
    }
    call.pictureSize = size;

    if (call.exifListing && call.lines)
        FillExifList(props, *call.lines);
    if (call.lines) {
        (*call.lines)[2] = QStringLiteral("ImageWidth ") + QString::number(w);
        (*call.lines)[3] = QStringLiteral("ImageHeight ") + QString::number(h);
    }
    // Portrait and square pictures, and those turned by more than a quarter
    // turn clockwise, count as turned.
    const bool turned = w <= h || (turn != RotateFlip::None && turn != RotateFlip::Rotate90);

    // RAW and TIFF types give no estimate: their size says nothing of their end.
    const QString ext = FileNameExtension(call.file).toLower();
    if (!QStringLiteral("tifkdcnefmefdngthcrpc").contains(ext))
        call.sizeEstimate = double(w) * double(h) * 6.0 / 1000.0;

    // A preview draws the picture fitted; a grid cell draws only a turned
    // picture and makes the thumbnail from the letter-boxed cell.
    if (!grid && call.canvas) {
        const QRect rect = FitRect(size, call.boxWidth, call.boxHeight);
        if (rect.isValid()) {
            QPainter p(call.canvas);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(rect, image);
        }
    } else if (grid && turned && !call.thumbName.isEmpty()) {
        const QRect rect = FitRect(size, call.boxWidth, call.boxHeight);
        QImage cell;
        QImage *into = call.canvas;
        if (!into) {
            cell = QImage(int(RoundHalfEven(call.boxWidth / kTwips)),
                          int(RoundHalfEven(call.boxHeight / kTwips)), QImage::Format_RGB32);
            cell.fill(Qt::white);
            into = &cell;
        }
        if (rect.isValid() && !into->isNull()) {
            QPainter p(into);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(rect, image);
        }
        image = into->copy();
    }

    if (!call.thumbName.isEmpty() && FileNamePart(call.file).contains('.') && thumbW > 0 && thumbH > 0) {
        // The folder resolved, the program's own name joined: a missing file's
        // name is not looked for in a folder of thousands of thumbnails.
        QString native = plat::toNative(call.thumbFolder);
        if (!native.isEmpty())
            native += (native.endsWith('/') ? QString() : QStringLiteral("/")) + call.thumbName;
        if (!native.isEmpty() && !QFileInfo::exists(native)) {
            QImage small;
            if (grid || !turned) {
                small = image.scaled(thumbW, thumbH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            } else {
                // A turned picture drawn in a preview gets the thumbnail a grid
                // cell gives it: letter-boxed, never squashed.
                small = LetterboxedCell(image, thumbW, thumbH);
            }
            SaveImageJpegQuality(small, native, 98);
        }
    }
    return true;
}
