#include "viewer/exiftext.h"

#include "drive/files.h"
#include "drive/strings.h"

#include <QLocale>
#include <cmath>
#include <cstdio>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

double roundHalfAway(double v, int decimals)
{
    const double f = std::pow(10.0, decimals);
    return std::round(v * f) / f;
}

QString withLocalePoint(QString s)
{
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        s.replace('.', point);
    return s;
}

// The text after the last ":" holds more than blanks.
bool hasValue(const QString &line)
{
    const qsizetype c = line.lastIndexOf(':');
    return c >= 0 && !TrimBlanks(line.mid(c + 1)).isEmpty();
}

// Step 1 of the clean-up for one line.
QString cleanOne(QString s)
{
    s.remove(QChar(0));
    s = TrimBlanks(s);
    s.remove(QStringLiteral("Exif"));
    if (const qsizetype b = s.indexOf(' '); b >= 0)
        s.replace(b, 1, QStringLiteral(": "));
    s.remove(QStringLiteral("Equip"));
    if (s.isEmpty())
        return s;

    static const char *const dropStart[] = {"IFD", "NewSub", "Ver"};
    static const char *const dropHolding[] = {"Thumbnail", "Strip", "ColorM", "Lum", "Curve",
                                              "ICCP", "Chrom", "Note", "FPX"};
    if (s.contains(QLatin1String("dcraw")))
        return QStringLiteral("Display: Converted RAW");
    for (const char *p : dropStart)
        if (s.startsWith(QLatin1String(p)))
            return QString();
    for (const char *p : dropHolding)
        if (s.contains(QLatin1String(p)))
            return QString();
    if (s.startsWith(QLatin1String("DateTime"))) {
        const qsizetype b = s.indexOf(' ');
        return QStringLiteral("DTOrigin:") + (b >= 0 ? s.mid(b) : QString());
    }
    if (!s.contains('/') || s.contains(QLatin1String("Time"))) {
        if (s.contains(QLatin1String("reTime")))
            s += '"';
        return s;
    }
    // A fraction: its value with two or three decimals, then the unit.
    const qsizetype colon = s.indexOf(':');
    if (colon >= 0) {
        const double num = VbVal(s.mid(colon + 1));
        const double den = VbVal(s.mid(s.indexOf('/') + 1));
        if (den != 0)
            s = s.left(colon + 2) + FormatTwoOrThreeDecimals(num / den);
    }
    if (s.contains(QLatin1String("Focal")))
        s += QStringLiteral(" mm");
    else if (s.contains(QLatin1String("FNum")) || s.contains(QLatin1String("MaxA")))
        s.replace(QStringLiteral(": "), QStringLiteral(": F"));
    else if (s.contains(QLatin1String("Bright")))
        s += QStringLiteral("BV");
    else if (s.contains(QLatin1String("Bias")) || s.contains(QLatin1String("ShutterSpeed"))
             || s.contains(QLatin1String("Aperture")))
        s += QStringLiteral("EV");
    return s;
}

// Step 2 of the clean-up for one line.
QString finishOne(QString s)
{
    if (s.contains('/') && !s.contains(QLatin1String(" 1/"))) {
        const qsizetype b = s.lastIndexOf(' ');
        const QString word = s.mid(b + 1);
        const qsizetype slash = word.indexOf('/');
        if (slash >= 0) {
            const double a = VbVal(word.left(slash));
            const double d = VbVal(word.mid(slash + 1));
            if (d != 0)
                s = s.left(b + 1) + PlainNumberText(a / d) + '"';
        }
    }
    if (!s.contains(':'))
        return QString();
    if (s.contains(QLatin1String("DT")) || s.contains(QLatin1String("Date"))) {
        const qsizetype b = s.indexOf(' ');
        if (b >= 0)
            s = s.left(b + 1) + MakeValidFileName(s.mid(b + 1));
    }
    return s;
}

} // namespace

double VbVal(const QString &text)
{
    QString digits;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto skipBlanks = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
            ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == '-' || text[i] == '+'))
        digits += text[i++];
    bool any = false, point = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c == ' ' || c == '\t')
            continue;
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
            any = true;
        } else if (c == '.' && !point) {
            digits += c;
            point = true;
        } else {
            break;
        }
    }
    if (any && i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        QString exp = QStringLiteral("e");
        qsizetype j = i + 1;
        if (j < n && (text[j] == '-' || text[j] == '+'))
            exp += text[j++];
        const qsizetype start = j;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128)
            exp += text[j++];
        if (j > start)
            digits += exp;
    }
    if (!any)
        return 0;
    bool ok = false;
    const double v = digits.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

QString FormatTwoOrThreeDecimals(double value)
{
    QString s = QString::asprintf("%.3f", roundHalfAway(value, 3));
    if (s.endsWith('0'))
        s.chop(1);
    return withLocalePoint(s);
}

QString FormatWholeGrouped(double value)
{
    const double r = roundHalfAway(value, 0);
    return QLocale().toString(qlonglong(r));
}

QString PlainNumberText(double value)
{
    if (!std::isfinite(value))
        return QString();
    if (value == 0)
        return QStringLiteral("0");
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::clamp(14 - magnitude, 0, 340);
    QString s = QString::asprintf("%.*f", decimals, value);
    if (s.contains('.')) {
        while (s.endsWith('0'))
            s.chop(1);
        if (s.endsWith('.'))
            s.chop(1);
    }
    return withLocalePoint(s);
}

const std::vector<ExifValueTable> &ExifValueTables()
{
    static const std::vector<ExifValueTable> tables = [] {
        const auto t = [](const char *name, std::initializer_list<std::pair<const char *, const char *>> rows) {
            ExifValueTable table{QString::fromLatin1(name), {}};
            for (const auto &r : rows)
                table.rows.emplace_back(QString::fromLatin1(r.first), QString::fromLatin1(r.second));
            return table;
        };
        return std::vector<ExifValueTable>{
            t("MeteringMode:", {{"1", ": Average"}, {"2", ": Center-Weighted Average"}, {"3", ": Spot"},
                                {"4", ": Multi-Spot"}, {"5", ": Multi-Segment"}, {"6", ": Partial"},
                                {"255", ": 255=Other"}}),
            t("Orientation:", {{"1", ": Horizontal"}, {"2", ": Mirror horizontal"}, {"3", ": Rotate 180"},
                               {"4", ": Mirror vertical"}, {"5", ": Mirror horizontal rotate 270CW"},
                               {"6", ": Rotate 90CW"}, {"7", ": Mirror horizontal rotate 90CW"},
                               {"8", ": Rotate 270CW"}}),
            t("Flash:", {{"0", ": No Flash"},
                         {"5", ": Fired, Return not detected"},
                         {"7", ": Fired, Return detected"},
                         {"9", ": On"},
                         {"13", ": On, Return not detected"},
                         {"16", ": Off"},
                         {"24", ": Auto, Did not fire"},
                         {"25", ": Auto, Fired"},
                         {"29", ": Auto, Fired, Return not detected"},
                         {"31", ": Auto, Fired, Return detected"},
                         {"32", ": No flash function"},
                         {"65", ": Fired, Red-eye reduction"},
                         {"69", ": Fired, Red-eye reduction, Return not detected"},
                         {"71", ": Fired, Red-eye reduction, Return detected"},
                         {"73", ": On, Red-eye reduction"},
                         {"77", ": On, Red-eye reduction, Return not detected"},
                         {"79", ": On, Red-eye reduction, Return detected"},
                         {"89", ": Auto, Fired, Red-eye reduction"},
                         {"93", ": Auto, Fired, Red-eye reduction, Return not detected"},
                         {"95", ": Auto, Fired, Red-eye reduction, Return detected"}}),
            t("ExposureProg:", {{"1", ": Manual"}, {"2", ": Program AE"}, {"3", ": Aperture-priority AE"},
                                {"4", ": Shutter speed priority AE"}, {"5", ": Creative (Slow Speed)"},
                                {"6", ": Action (High Speed)"}, {"7", ": Portrait"}, {"8", ": Landscape"}}),
            t("ColorSpace:", {{"1", ": sRGB"}, {"2", ": Adobe RGB"}, {"65535", ": Uncalibrated"}, {"-1", ": Unknown"}}),
            t("LightSource:", {{"0", ": Unknown"}, {"1", ": Daylight"}, {"2", ": Fluorescent"}, {"3", ": Tungsten"},
                               {"4", ": Flash"}, {"9", ": Fine Weather"}, {"10", ": Cloudy"}, {"11", ": Shade"},
                               {"12", ": Daylight Fluorescent"}, {"13", ": Day White Fluorescent"},
                               {"14", ": Cool White Fluorescent"}, {"15", ": White Fluorescent"},
                               {"17", ": Standard Light A"}, {"18", ": Standard Light B"},
                               {"19", ": Standard Light C"}, {"20", ": D55"}, {"21", ": D65"}, {"22", ": D75"},
                               {"23", ": D50"}, {"24", ": ISO Studio Tungsten"}, {"255", ": Other"}}),
        };
    }();
    return tables;
}

void CleanExifLines(QStringList &lines)
{
    while (lines.size() < 5)
        lines.append(QString());
    if (lines[0].contains(':'))
        return;
    for (QString &line : lines)
        line = cleanOne(line);
    for (QString &line : lines)
        line = finishOne(line);

    QStringList kept;
    for (const QString &line : std::as_const(lines)) {
        if (line.isEmpty() || !hasValue(line))
            continue;
        kept.append(line.contains(QLatin1String("ImageDes")) ? QString() : line);
    }
    while (kept.size() < 5)
        kept.append(QString());
    if (kept[1].contains(QLatin1String("DTO"))) {
        std::swap(kept[1], kept[4]);
    } else {
        const QString one = kept[1], two = kept[2], three = kept[3];
        kept[1] = three;
        kept[2] = one;
        kept[3] = two;
    }
    lines = kept;
}

void BuildExifSummary(QStringList &lines, QString &summary)
{
    CleanExifLines(lines);
    for (QString &line : lines) {
        while (line.contains(QLatin1String("  ")))
            line.replace(QStringLiteral("  "), QStringLiteral(" "));
        line = TrimBlanks(line);
    }
    if (lines[4].contains(QLatin1String("BitsPer")))
        lines[4].clear();
    for (int i = 0; i < 5; ++i)
        summary += (i == 0 && lines[0].size() > 35 ? lines[0].right(35) : lines[i]) + kCrLf;

    static const std::pair<const char *, const char *> programs[] = {
        {": 1", ": Manual"},   {": 2", ": Program AE"},         {": 3", ": Aperture-priority AE"},
        {": 4", ": Shutter-priority AE"}, {": 5", ": Creative Slow Speed"}, {": 6", ": Action High Speed"},
        {": 7", ": Portrait"}, {": 8", ": Landscape"}};
    bool dateTaken = false;
    for (qsizetype i = 5; i < lines.size(); ++i) {
        QString &line = lines[i];
        const auto holds = [&line](const char *part) { return line.contains(QLatin1String(part)); };
        bool take = false;
        if (holds("Make") || holds("Model")) {
            take = true;
        } else if (holds("Expos")) {
            if (holds("eProg"))
                for (const auto &p : programs)
                    line.replace(QLatin1String(p.first), QLatin1String(p.second));
            take = true;
        } else if (holds("FNumber")) {
            take = true;
        } else if (holds("DTOrig") && !dateTaken) {
            dateTaken = true;
            if (!holds("DTOrigin"))
                line.replace(QStringLiteral("DTOrig"), QStringLiteral("DTOrigin"));
            take = true;
        } else if (holds("DTFile") || holds("FocalL") || holds("Converted")) {
            take = true;
        }
        if (take)
            summary += line + kCrLf;
    }
}

void TranslateExifValues(QStringList &lines)
{
    const auto &tables = ExifValueTables();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QString &line = lines[i];
        for (const ExifValueTable &table : tables) {
            if (!line.contains(table.name))
                continue;
            const qsizetype at = line.indexOf(QLatin1String(": "));
            if (at >= 0) {
                const QString value = line.mid(at + 2);
                for (const auto &row : table.rows) {
                    if (value == row.first) {
                        line = line.left(at) + row.second;
                        break;
                    }
                }
            }
            break;
        }
    }
    if (!lines.isEmpty() && lines[0].size() < 11)
        lines[0] = lines[0].leftJustified(26, ' ');
    if (lines.size() > 1)
        lines[1] = ' ' + lines[1];
}
