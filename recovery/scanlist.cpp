#include "recovery/scanlist.h"

#include "platform/paths.h"
#include "platform/text.h"

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cmath>
#include <limits>

namespace {

const QByteArray kCrLf("\r\n");

QString cleanText(const QString &text)
{
    QString t = text;
    for (QChar &c : t) {
        if (c == QLatin1Char('"'))
            c = QLatin1Char('\'');
        else if (c.unicode() < 32 || c.unicode() == 127)
            c = QLatin1Char('_');
    }
    return t;
}

bool representable(const QString &text) { return plat::fromAnsi(plat::toAnsi(text)) == text; }

class Writer {
public:
    void text(const QString &t) { out_ += '"' + plat::toAnsi(cleanText(t)) + '"' + kCrLf; }
    void number(double v) { out_ += RecordNumberText(v).toLatin1() + kCrLf; }
    void flag(bool b) { out_ += (b ? QByteArray("#TRUE#") : QByteArray("#FALSE#")) + kCrLf; }
    QByteArray out_;
};

class Reader {
public:
    explicit Reader(const QByteArray &bytes)
    {
        int start = 0;
        while (start < bytes.size()) {
            int end = int(bytes.indexOf('\n', start));
            if (end < 0)
                end = int(bytes.size());
            QByteArray line = bytes.mid(start, end - start);
            if (line.endsWith('\r'))
                line.chop(1);
            lines_.push_back(line);
            start = end + 1;
        }
    }
    bool atEnd() const { return next_ >= lines_.size(); }
    bool text(QString &t)
    {
        if (atEnd())
            return false;
        QByteArray line = lines_[next_++];
        if (line.startsWith('"')) {
            const int last = int(line.lastIndexOf('"'));
            line = last > 0 ? line.mid(1, last - 1) : line.mid(1);
        }
        t = plat::fromAnsi(line);
        return true;
    }
    bool number(double &v)
    {
        if (atEnd())
            return false;
        const QByteArray line = lines_[next_++].trimmed();
        if (line == "#TRUE#")
            v = -1;
        else if (line == "#FALSE#")
            v = 0;
        else
            v = RecordNumberValue(QString::fromLatin1(line));
        return true;
    }
    bool int32(int32_t &v)
    {
        double d;
        if (!number(d))
            return false;
        v = d >= 2147483647.0 ? std::numeric_limits<int32_t>::max()
          : d <= -2147483648.0 ? std::numeric_limits<int32_t>::min()
                               : int32_t(std::nearbyint(d));
        return true;
    }
    bool flag(bool &b)
    {
        double d;
        if (!number(d))
            return false;
        b = d != 0;
        return true;
    }

private:
    std::vector<QByteArray> lines_;
    size_t next_ = 0;
};

} // namespace

QString RecordNumberText(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    QString t = QString::number(value, 'g', 7);
    if (t.startsWith(QLatin1String("0.")))
        t.remove(0, 1);
    else if (t.startsWith(QLatin1String("-0.")))
        t.remove(1, 1);
    return t.toUpper();
}

double RecordNumberValue(const QString &text)
{
    const QString t = text.trimmed();
    int i = 0;
    const int n = int(t.size());
    auto digitAt = [&](int k) { return k < n && t[k].isDigit(); };
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        ++i;
    bool digits = false;
    while (digitAt(i)) {
        ++i;
        digits = true;
    }
    if (i < n && t[i] == QLatin1Char('.')) {
        ++i;
        while (digitAt(i)) {
            ++i;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < n && (t[i] == QLatin1Char('E') || t[i] == QLatin1Char('e'))) {
        int k = i + 1;
        if (k < n && (t[k] == QLatin1Char('+') || t[k] == QLatin1Char('-')))
            ++k;
        if (digitAt(k)) {
            while (digitAt(k))
                ++k;
            i = k;
        }
    }
    bool ok = false;
    const double v = t.left(i).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

bool ScanListCountAccepted(int count, int folderFileCount)
{
    const int listed = std::min(folderFileCount, ScanListCapacity);
    const double u = double(listed) - 1;
    return count > 0 && count <= listed && double(count) > 0.9 * u;
}

bool IsSafeListedName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name) {
        if (c.unicode() < 32 || c.unicode() == 127 || c == QLatin1Char('/') || c == QLatin1Char('\\')
            || c == QLatin1Char('"') || c == QLatin1Char('?'))
            return false;
    }
    return true;
}

QByteArray EncodeScanList(const ScanListData &d)
{
    const size_t n = std::min(d.items.size(), size_t(ScanListCapacity));
    for (size_t i = 0; i < n; ++i)
        if (!IsSafeListedName(d.items[i].fileName) || !representable(d.items[i].fileName))
            return {};
    Writer w;
    w.text(d.lastScanDriveType);
    w.number(d.lastScanSerial);
    w.number(d.resumePosition);
    w.number(d.thumbWidth);
    w.number(d.thumbCounter);
    w.number(double(n));
    for (size_t i = 0; i < n; ++i) {
        const ScanListItem &item = d.items[i];
        w.text(item.displayText);
        w.text(item.fileName);
        w.number(item.orientation);
    }
    w.text(d.lastScanSource);
    w.number(d.lastListIndex);
    w.number(d.filterActive ? -1 : 0);
    w.text(d.filterName);
    w.flag(d.thumbFlag);
    w.text(d.noPreviewList);
    w.flag(d.resumeFileOpen);
    w.flag(d.smartScan);
    if (!d.resumeInner.isEmpty())
        w.text(d.resumeInner);
    return w.out_;
}

ScanListStatus DecodeScanList(const QByteArray &bytes, int folderFileCount, ScanListData &d)
{
    if (bytes.isEmpty())
        return ScanListStatus::Missing;
    Reader r(bytes);
    r.text(d.lastScanDriveType);
    r.int32(d.lastScanSerial);
    r.int32(d.resumePosition);
    r.int32(d.thumbWidth);
    r.int32(d.thumbCounter);
    double count = 0;
    if (!r.number(count) || count != std::floor(count) || count < -32768 || count > 32767)
        return ScanListStatus::Refused;
    const int n = int(count);
    if (!ScanListCountAccepted(n, folderFileCount))
        return ScanListStatus::Refused;

    std::vector<ScanListItem> items;
    items.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        ScanListItem item;
        double o = 0;
        if (!r.text(item.displayText))
            break;
        const bool haveName = r.text(item.fileName);
        if (haveName && !IsSafeListedName(item.fileName))
            return ScanListStatus::Refused;
        const bool haveOrientation = haveName && r.number(o);
        item.orientation = float(o);
        if (!haveName)
            break;
        items.push_back(item);
        if (!haveOrientation)
            break;
    }
    d.items = std::move(items);
    if (int(d.items.size()) < n)
        return ScanListStatus::Partial;
    double fa = 0;
    r.text(d.lastScanSource);
    r.int32(d.lastListIndex);
    if (r.number(fa))
        d.filterActive = fa != 0;
    r.text(d.filterName);
    r.flag(d.thumbFlag);
    r.text(d.noPreviewList);
    r.flag(d.resumeFileOpen);
    r.flag(d.smartScan);
    r.text(d.resumeInner);
    return ScanListStatus::Loaded;
}

bool WriteScanListFile(const QString &internalPath, const ScanListData &data)
{
    const QString native = plat::toNative(internalPath);
    if (native.isEmpty())
        return false;
    const QByteArray bytes = EncodeScanList(data);
    if (bytes.isEmpty())
        return false;
    const QString temp = native + QStringLiteral(".tmp");
    QFile f(temp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = f.write(bytes) == bytes.size() && f.flush();
    f.close();
    if (!written) {
        QFile::remove(temp);
        return false;
    }
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(native).constData()) != 0) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

ScanListStatus ReadScanListFile(const QString &internalPath, int folderFileCount, ScanListData &data)
{
    const QString native = plat::toNative(internalPath);
    QFile f(native);
    if (native.isEmpty() || !f.open(QIODevice::ReadOnly))
        return ScanListStatus::Missing;
    return DecodeScanList(f.readAll(), folderFileCount, data);
}
