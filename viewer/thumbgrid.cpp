#include "viewer/thumbgrid.h"

#include "drive/driveinfo.h"
#include "recovery/cachenames.h"

#include <cmath>

int ThumbnailLimit(int width)
{
    if (width <= 0)
        width = kMinThumbWidth;
    const double ratio = 200.0 / width;
    return int(RoundHalfEven(250.0 * ratio * ratio));
}

int FittingThumbWidth(int fileCount, int width)
{
    if (width > 0)
        while (width > 1 && double(fileCount) > 250.0 * (200.0 / width) * (200.0 / width))
            --width;
    return std::max(width, kMinThumbWidth);
}

QSize ThumbIconSpacing(int width, int thumbHeight)
{
    return QSize(int(RoundHalfEven(width * 1.2)), thumbHeight + 26);
}

QString ThumbLabel(const QString &name, const QFontMetrics &metrics, int room)
{
    const auto fits = [&](const QString &text) { return metrics.horizontalAdvance(text) <= room; };
    QString label = name;
    // A found file's name: "R#", the counter padded with zeros, the extension.
    if (label.startsWith(QLatin1String("R#"))) {
        label.remove(0, 2);
        qsizetype zeros = 0;
        while (zeros + 1 < label.size() && label[zeros] == '0' && label[zeros + 1].isDigit())
            ++zeros;
        if (!fits(label) && zeros > 0)
            label.remove(0, zeros);
    }
    // Names of one folder mostly differ at their end (IMG_0012.JPG): that is kept.
    return fits(label) ? label : metrics.elidedText(label, Qt::ElideLeft, std::max(room, 1));
}

int ThumbLabelRoom(int width)
{
    // The grid's cell (as wide as its spacing) less the text margins.
    return ThumbIconSpacing(std::max(width, 48), 0).width() - 8;
}

int ThumbnailCounter(const QString &thumbnailName)
{
    qint64 value = 0;
    for (const QChar c : thumbnailName) {
        if (!c.isDigit() || c.unicode() > '9')
            break;
        value = value * 10 + (c.unicode() - '0');
        if (value > 2147483647)
            return 2147483647;
    }
    return int(value);
}

QString FormatHashes(double value)
{
    if (!std::isfinite(value))
        return QString();
    const double rounded = std::round(value);
    if (rounded == 0)
        return QString();
    return QString::number(qint64(rounded));
}

QString NormalizeFolderPath(QString path)
{
    path += '\\';
    while (path.contains(QStringLiteral("\\\\")))
        path.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return path;
}

QString CacheTreeRootOf(const QString &path)
{
    // The cache folder as a whole component ("RIVozud photos" is none), the
    // innermost one when a path holds several.
    const QString normal = NormalizeFolderPath(path);
    const QString component = '\\' + kCacheFolderName + '\\';
    const qsizetype at = normal.lastIndexOf(component);
    return at < 0 ? QString() : normal.left(at + component.size());
}
