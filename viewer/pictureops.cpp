#include "viewer/pictureops.h"

#include "drive/driveinfo.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "viewer/exifprops.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTransform>
#include <cmath>
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

QImage LoadPicture(const QString &path, QSize fitInto, QSize *fullSize)
{
    raiseAllocationLimit();
    if (fullSize)
        *fullSize = QSize();
    const QString native = plat::toNative(path);
    if (native.isEmpty())
        return QImage();
    QImageReader reader(native);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    // JPEG decodes at a fraction of its size; other readers would only scale
    // after a whole decode (and do it badly for palette pictures).
    if (size.isValid() && !size.isEmpty() && fitInto.isValid() && !fitInto.isEmpty()
        && reader.format() == "jpeg") {
        const double f = std::max(double(fitInto.width()) / size.width(), double(fitInto.height()) / size.height());
        if (f < 0.999) {
            const QSize scaled(std::max(1, int(std::ceil(size.width() * f))),
                               std::max(1, int(std::ceil(size.height() * f))));
            reader.setScaledSize(scaled);
        }
    }
    QImage image = reader.read();
    // One- and eight-bit palette pictures are drawn from true colour: a
    // painter takes a one-bit picture for a mask.
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB
        || image.format() == QImage::Format_Indexed8)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (fullSize && !image.isNull())
        *fullSize = size.isValid() && !size.isEmpty() ? size : image.size();
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

bool DrawThumbnail(DrawThumbnailCall &call)
{
    ExifDateText.clear();
    call.sizeEstimate = 0;
    call.pictureSize = QSize();
    if (call.lines)
        *call.lines = QStringList(5);
    int orientationStore = 0;
    int &orientation = call.orientation ? *call.orientation : orientationStore;

    // The properties give the date and, unless the user turned the picture,
    // its orientation.
    ImageProperties props;
    props.load(call.file);
    const QVariant date = GetPropertyValue(props, 0x0132);
    if (date.typeId() == QMetaType::QString)
        ExifDateText = slashDate(date.toString());
    if (orientation == 0) {
        const QVariant o = GetPropertyValue(props, 0x0112);
        if (o.typeId() == QMetaType::Int)
            orientation = o.toInt();
    }
    const RotateFlip turn = orientation != 0 ? RotateFlipOfOrientation(orientation) : RotateFlip::None;

    // Decode at the size the picture is needed at: drawn, or as thumbnail.
    const bool grid = call.target == DrawTarget::GridCell;
    const int thumbW = call.thumbWidth;
    const int thumbH = int(RoundHalfEven(thumbW * 2.0 / 3.0));
    QSize need;
    if (const QSize header(props.width(), props.height()); !header.isEmpty()) {
        const QSize upright = swapsSides(turn) ? header.transposed() : header;
        const QRect drawn = FitRect(upright, call.boxWidth, call.boxHeight);
        int nw = drawn.width(), nh = drawn.height();
        if (!call.thumbName.isEmpty() && thumbW > 0) {
            nw = std::max(nw, thumbW);
            nh = std::max(nh, thumbH);
        }
        if (nw > 0 && nh > 0)
            need = swapsSides(turn) ? QSize(nh, nw) : QSize(nw, nh);
    }
    QSize full;
    // A grid cell takes the camera's own small picture when it is big enough
    // and the file is whole: a full decode of a big photo costs a hundred
    // times more.
    QImage image;
    if (grid && need.isValid() && !need.isEmpty())
        image = EmbeddedThumbnailFor(props, call.file, need, &full);
    if (image.isNull())
        image = LoadPicture(call.file, need, &full);
    if (image.isNull())
        return false;
    image = ApplyRotateFlip(image, turn);
    const QSize size = swapsSides(turn) ? full.transposed() : full;
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
