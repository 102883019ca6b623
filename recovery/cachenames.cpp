#include "recovery/cachenames.h"

#include "platform/text.h"


QString MakeCacheKeyOf(const QString &cacheRoot)
{
    const QByteArray bytes = plat::toAnsi(cacheRoot);
    int64_t sum = 0;
    for (int i = 0; i < bytes.size(); ++i)
        sum += int64_t(uint8_t(bytes[i])) * int64_t(i + 1);
    return QString::number(sum);
}

QString FoundFileName(int32_t counter, const QString &extension)
{
    QString digits = QString::number(counter < 0 ? -int64_t(counter) : int64_t(counter));
    if (digits.size() < 4)
        digits = QString(4 - digits.size(), QLatin1Char('0')) + digits;
    if (counter < 0)
        digits.prepend(QLatin1Char('-'));
    QString name = QStringLiteral("R#") + digits;
    if (!extension.isEmpty())
        name += QLatin1Char('.') + extension;
    return name;
}

QString ThumbnailNameOf(const QString &foundName)
{
    QString t = foundName;
    t.remove(QLatin1Char('.'));
    t += QStringLiteral(".jpg");
    t.remove(QStringLiteral("R#"));
    return t;
}

QString FoundFileDisplayText(const QString &fileName)
{
    QString t = fileName;
    t.remove(QStringLiteral("R#"));
    t.remove(QStringLiteral("PICT"));
    if (t.size() > 12)
        t = t.right(12);
    return t;
}

QString OrphanPatternOf(const QString &fileName, bool thumbnailFolder)
{
    const int dot = int(fileName.lastIndexOf(QLatin1Char('.')));
    if (dot < 0)
        return {};
    QString pattern = fileName.left(dot + 1) + QLatin1Char('*');
    if (thumbnailFolder) {
        if (pattern.size() <= 5)
            return {};
        pattern = pattern.left(pattern.size() - 5) + QStringLiteral(".*");
    }
    return pattern;
}
