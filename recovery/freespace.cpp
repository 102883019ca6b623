#include "recovery/freespace.h"

#include "drive/strings.h"

#include <QLocale>
#include <cmath>

QString GigabyteText(double megabytes)
{
    const double gb = std::round(megabytes / 1024.0);
    if (!(gb > 0))
        return QStringLiteral("0");
    return QLocale().toString(qint64(gb));
}

FreeSpaceOutcome EvaluateFreeSpace(const FreeSpaceFacts &f)
{
    FreeSpaceOutcome o;
    const int32_t C = f.cacheFreeMB;
    const int32_t S = f.sourceFreeMB;
    QString t;
    o.cacheFreeMB = C;
    if (C != 0) {
        if (int64_t(C) - kCacheReserveMB >= S) {
            o.result = 1;
            o.resultSet = true;
            o.room = true;
        } else {
            t = GetString(324, QStringLiteral("Free Space:")) + QLatin1Char(' ') + GigabyteText(C)
              + QStringLiteral(" GB.") + QStringLiteral("\r\n")
              + FormatString(GetString(1485, QStringLiteral("There is only room for saving %0 GB.")),
                             {GigabyteText(double(C) - 2048)})
              + QStringLiteral("\r\n");
        }
    } else {
        o.result = 1;
        o.resultSet = true;
        o.cacheFreeMB = int32_t(std::nearbyint(f.sourceTotalMB * 1.1));
    }
    if (o.cacheFreeMB < S) {
        if (o.cacheFreeMB > kCacheReserveMB) {
            t += GetString(328, QStringLiteral("You might be running out of disk space on the target drive"))
               + QLatin1Char(' ') + f.cacheFolder.left(2).toUpper() + QLatin1Char('.') + QStringLiteral("\r\n\r\n")
               + GetString(330, QStringLiteral("You may proceed and the program will be saving until 2 GB of "
                                               "free space is left.     "));
        }
        o.cacheFreeMB -= kCacheReserveMB;
        if (o.cacheFreeMB < 0) {
            o.result = 2;
            o.resultSet = true;
        }
    }
    o.message = t;
    if (!t.isEmpty() && f.resumePosition == 0) {
        o.showBox = true;
        // With a negative budget the scan would stop at once: the box tells
        // why, and only OK is offered; the result stays "too little room".
        o.okOnly = o.cacheFreeMB < 0;
    }
    return o;
}
