#include "undelete/entries.h"

#include "drive/files.h"
#include "drive/strings.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

const QDate kOleEpoch(1899, 12, 30);
constexpr double kSecondsPerDay = 86400.0;

// Seconds since the OLE epoch as an OLE date (the fraction counts forward
// from the day's start also before the epoch).
double oleFromSeconds(double seconds)
{
    const double days = std::floor(seconds / kSecondsPerDay);
    const double fraction = (seconds - days * kSecondsPerDay) / kSecondsPerDay;
    // Day -1 at 06:00 is -1.25: before the epoch the time is added away
    // from zero.
    return days >= 0 ? days + fraction : days - fraction;
}

template <typename T>
void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, qsizetype(sizeof(T)));
}

template <typename T>
T get(const char *data)
{
    T value;
    std::memcpy(&value, data, sizeof(T));
    return value;
}

QByteArray textBytes(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > 0xFFFF) {
        qsizetype cut = 0xFFFF;
        // Not inside a character: continuation bytes are 10xxxxxx.
        while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

void putText(QByteArray &out, const QString &text)
{
    const QByteArray bytes = textBytes(text);
    put<uint16_t>(out, uint16_t(bytes.size()));
    out.append(bytes);
}

bool getText(const char *data, qsizetype size, qsizetype &pos, QString &text)
{
    if (size - pos < 2)
        return false;
    const uint16_t n = get<uint16_t>(data + pos);
    if (size - pos - 2 < n)
        return false;
    text = QString::fromUtf8(data + pos + 2, n);
    pos += 2 + n;
    return true;
}

uint32_t sizeField(int64_t size)
{
    if (size < 0)
        return 0;
    return size > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(size);
}

} // namespace

double OleDateSerial(int year, int month, int day, int hour, int minute, double second)
{
    // Months roll over into years first, then days over the calendar.
    const int m0 = month - 1;
    const int yearShift = m0 >= 0 ? m0 / 12 : -((-m0 + 11) / 12);
    const int y = year + yearShift;
    const int m = m0 - yearShift * 12 + 1;
    const QDate first(y, m, 1);
    if (!first.isValid())
        return 0;
    const qint64 days = kOleEpoch.daysTo(first) + (day - 1);
    const double seconds = double(days) * kSecondsPerDay + double(hour) * 3600.0 + double(minute) * 60.0 + second;
    return oleFromSeconds(seconds);
}

namespace {

// The day after the OLE epoch and the milliseconds into it of an OLE date;
// false for none.
bool oleDayAndTime(double oleDate, qint64 &days, qint64 &ms)
{
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3.0e6)
        return false;
    const double whole = std::trunc(oleDate);
    ms = qint64(std::llround(std::fabs(oleDate - whole) * kSecondsPerDay * 1000.0));
    days = qint64(whole);
    if (ms >= qint64(kSecondsPerDay) * 1000) {
        ms -= qint64(kSecondsPerDay) * 1000;
        ++days;
    }
    return true;
}

} // namespace

QDateTime OleDateToDateTime(double oleDate)
{
    qint64 days = 0, ms = 0;
    if (!oleDayAndTime(oleDate, days, ms))
        return {};
    return QDateTime(kOleEpoch.addDays(days), QTime(0, 0).addMSecs(int(ms)));
}

bool OleDateToMSecsSinceEpoch(double oleDate, qint64 &msecs)
{
    qint64 days = 0, ms = 0;
    if (!oleDayAndTime(oleDate, days, ms))
        return false;
    // Local wall-clock seconds since 1970 (25,569 days after the OLE epoch).
    // Between 1971 and 2037 the C library's local time is the one a
    // QDateTime uses; the offset is taken when it is the same a day before
    // and a day after (every offset is under 14 hours) and holds at the
    // instant found: then that instant is the only one showing this time.
    constexpr qint64 kDay = 86400;
    const qint64 unixDays = days - 25569;
    if (unixDays > 366 && unixDays < 24836) {
        const qint64 wall = unixDays * kDay + ms / 1000;
        auto offsetAt = [](qint64 t, long &offset) {
            const time_t at = time_t(t);
            struct tm parts {};
            if (!localtime_r(&at, &parts))
                return false;
            offset = parts.tm_gmtoff;
            return true;
        };
        long before = 0, after = 0, at = 0;
        if (offsetAt(wall - kDay, before) && offsetAt(wall + kDay, after) && before == after
            && offsetAt(wall - before, at) && at == before) {
            msecs = (wall - before) * 1000 + ms % 1000;
            return true;
        }
    }
    const QDateTime date = OleDateToDateTime(oleDate);
    if (!date.isValid())
        return false;
    msecs = date.toMSecsSinceEpoch();
    return true;
}

double OleDateFromDateTime(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return 0;
    const QDateTime local = dateTime.toLocalTime();
    const double days = double(kOleEpoch.daysTo(local.date()));
    return oleFromSeconds(days * kSecondsPerDay + local.time().msecsSinceStartOfDay() / 1000.0);
}

double OleDateFromFileTime(uint64_t fileTime)
{
    // Through the C library's local time, which gives what a local QDateTime
    // gives without reading the time-zone file again for every date (a
    // listing converts two dates for each of thousands of records).
    constexpr int64_t kUnixEpoch = 116444736000000000LL;   // 1601 to 1970 in 100 ns
    const int64_t since = int64_t(std::min<uint64_t>(fileTime, uint64_t(INT64_MAX))) - kUnixEpoch;
    const time_t secs = time_t(since / 10000000 - (since % 10000000 < 0 ? 1 : 0));
    struct tm t {};
    if (fileTime <= uint64_t(INT64_MAX) && localtime_r(&secs, &t) && t.tm_year + 1900 >= 1601
        && t.tm_year + 1900 <= 9999)
        return OleDateSerial(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return OleDateFromDateTime(FileTimeToDate(uint32_t(fileTime), uint32_t(fileTime >> 32)));
}

void AppendEntryRecord(QByteArray &out, const DeletedEntryRecord &r)
{
    putText(out, r.Name);
    putText(out, r.LongName);
    putText(out, r.Path);
    put<int32_t>(out, r.MftIndex);
    put<double>(out, r.Created);
    put<double>(out, r.Accessed);
    put<double>(out, r.Modified);
    put<int32_t>(out, r.FirstCluster);
    put<uint32_t>(out, sizeField(r.Size));
    put<uint32_t>(out, sizeField(r.Recoverable));
    const bool wide = r.Size > int64_t(UINT32_MAX) || r.Recoverable > int64_t(UINT32_MAX);
    put<int32_t>(out, wide ? r.Attributes | kEntryWideSizes : r.Attributes & ~kEntryWideSizes);
    put<int16_t>(out, r.Occupied);
    if (wide) {
        put<int64_t>(out, std::max<int64_t>(r.Size, 0));
        put<int64_t>(out, std::max<int64_t>(r.Recoverable, 0));
    }
}

QByteArray EntryRecordBytes(const DeletedEntryRecord &record)
{
    QByteArray out;
    AppendEntryRecord(out, record);
    return out;
}

bool ReadEntryRecord(const char *data, qsizetype size, qsizetype &pos, DeletedEntryRecord &record)
{
    qsizetype at = pos;
    DeletedEntryRecord r;
    if (!getText(data, size, at, r.Name) || !getText(data, size, at, r.LongName) || !getText(data, size, at, r.Path))
        return false;
    if (size - at < kEntryRecordMinBytes - 6)
        return false;
    const char *p = data + at;
    r.MftIndex = get<int32_t>(p);
    r.Created = get<double>(p + 4);
    r.Accessed = get<double>(p + 12);
    r.Modified = get<double>(p + 20);
    r.FirstCluster = get<int32_t>(p + 28);
    r.Size = get<uint32_t>(p + 32);
    r.Recoverable = get<uint32_t>(p + 36);
    r.Attributes = get<int32_t>(p + 40);
    r.Occupied = get<int16_t>(p + 44);
    at += kEntryRecordMinBytes - 6;
    if (r.Attributes & kEntryWideSizes) {
        if (size - at < 16)
            return false;
        r.Size = std::max<int64_t>(get<int64_t>(data + at), 0);
        r.Recoverable = std::max<int64_t>(get<int64_t>(data + at + 8), 0);
        r.Attributes &= ~kEntryWideSizes;
        at += 16;
    }
    if (r.Recoverable > 0 && r.Recoverable < r.Size)
        r.SetRecoverableInPart(true);
    pos = at;
    record = std::move(r);
    return true;
}

bool ReadEntryRecords(const QByteArray &bytes, int upperBound, std::vector<DeletedEntryRecord> &records)
{
    records.clear();
    // Every record takes at least 52 bytes: a count the bytes cannot hold is
    // refused before anything is allocated.
    if (upperBound < 0 || (int64_t(upperBound) + 1) * kEntryRecordMinBytes > bytes.size())
        return false;
    std::vector<DeletedEntryRecord> read;
    read.reserve(size_t(upperBound) + 1);
    qsizetype pos = 0;
    for (int i = 0; i <= upperBound; ++i) {
        DeletedEntryRecord r;
        if (!ReadEntryRecord(bytes.constData(), bytes.size(), pos, r))
            return false;
        read.push_back(std::move(r));
    }
    records = std::move(read);
    return true;
}

QByteArray EntryRecordsBytes(const std::vector<DeletedEntryRecord> &records, int upperBound)
{
    QByteArray out;
    const int last = std::min<int>(upperBound, int(records.size()) - 1);
    out.reserve(qsizetype(last + 1) * 80);
    for (int i = 0; i <= last; ++i)
        AppendEntryRecord(out, records[size_t(i)]);
    return out;
}

std::vector<DeletedEntryRecord> EmptyEntryList()
{
    return std::vector<DeletedEntryRecord>(2);
}

void CutTrailingEmptySlots(std::vector<DeletedEntryRecord> &entries)
{
    size_t n = entries.size();
    while (n > 2 && entries[n - 1].IsEmpty())
        --n;
    entries.resize(std::max<size_t>(n, 2));
}

void SortEntryList(std::vector<DeletedEntryRecord> &entries, bool ntfs)
{
    if (entries.size() < 3)
        return;
    if (ntfs)
        std::stable_sort(entries.begin(), entries.end(),
                         [](const DeletedEntryRecord &a, const DeletedEntryRecord &b) { return a.Name < b.Name; });
    else
        std::stable_sort(entries.begin(), entries.end(), [](const DeletedEntryRecord &a, const DeletedEntryRecord &b) {
            return a.FirstCluster < b.FirstCluster;
        });
}

bool HasOwnLongName(const DeletedEntryRecord &r)
{
    if (r.LongName.isEmpty())
        return false;
    if (r.MftIndex > 0)
        return true;
    // Without long-name entries the walk keeps the 8.3 name, its base or its
    // extension in lower case where the entry asks for it.
    const qsizetype dot = r.Name.indexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? r.Name : r.Name.left(dot);
    const QString ext = dot < 0 ? QString() : r.Name.mid(dot);
    for (const bool lowerBase : {false, true})
        for (const bool lowerExt : {false, true})
            if (r.LongName == (lowerBase ? base.toLower() : base) + (lowerExt ? ext.toLower() : ext))
                return false;
    return true;
}

QString EntryLineName(const DeletedEntryRecord &r, EntryLineKind kind)
{
    if (HasOwnLongName(r))
        return r.LongName;
    const QString lowerName = TrimBlanks(r.Name.toLower());
    if (kind != EntryLineKind::Deleted)
        return lowerName;
    if (!r.LongName.isEmpty() && r.LongName.size() < 13)
        return r.LongName;
    const QString first = r.LongName.left(1).toLower().trimmed();
    QString rest = lowerName.mid(first.size());
    rest.replace(QLatin1Char('?'), QLatin1Char('%'));
    return first + rest;
}

QString EntryLine(int index, bool occupied, const QString &text)
{
    return QLatin1Char(' ') + QStringLiteral("%1").arg(index, 4, 10, QLatin1Char('0'))
        + (occupied ? QStringLiteral("@ ") : QStringLiteral("  ")) + text;
}

int EntryLineIndex(const QString &line)
{
    const QString t = line.trimmed();
    int64_t value = 0;
    int digits = 0;
    for (QChar c : t) {
        if (!c.isDigit() || c.unicode() > '9')
            break;
        value = value * 10 + (c.unicode() - '0');
        if (value > INT32_MAX)
            return -1;
        ++digits;
    }
    return digits == 0 ? -1 : int(value);
}

QString EntryLineText(const QString &line)
{
    const QString t = line.trimmed();
    qsizetype i = 0;
    while (i < t.size() && t[i].isDigit())
        ++i;
    if (i < t.size() && t[i] == QLatin1Char('@'))
        ++i;
    return t.mid(i).trimmed();
}
