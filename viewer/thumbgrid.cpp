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

QSize ThumbIconSpacing(int width, int thumbHeight)
{
    return QSize(int(RoundHalfEven(width * 1.2)), thumbHeight + 26);
}

QString ThumbLabel(const QString &name)
{
    QString stripped = name;
    stripped.remove(QStringLiteral("R#"));
    stripped.remove(QStringLiteral("PICT"));
    const qsizetype length = name.size();
    qsizetype n = std::min<qsizetype>(stripped.size() + 1, 10);
    // Grow while the end begins with a digit or a sign (sorts at or before "9").
    while (n <= length && name.right(n).compare(QStringLiteral("9")) <= 0)
        ++n;
    QString label = name.right(std::max<qsizetype>(0, n - 1));
    const QChar first = label.isEmpty() ? QChar() : label[0];
    if (!(first >= '1' && first <= '9') && !name.contains('^'))
        label = name.right(std::max<qsizetype>(0, n - 2));
    return label;
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
