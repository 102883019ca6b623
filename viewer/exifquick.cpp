#include "viewer/exifquick.h"

#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <vector>

namespace {

// The bytes of one reading, with bounds-checked access: every position the
// reader computes from the data passes through here.
class Window {
public:
    Window(const unsigned char *data, size_t size) : d_(data), n_(size) {}
    size_t size() const { return n_; }
    bool has(size_t at, size_t count) const { return at <= n_ && count <= n_ - at; }
    unsigned byte(size_t at) const { return d_[at]; }

    // First occurrence of the bytes at or after `from`; -1 when none.
    int64_t find(const void *what, size_t len, size_t from = 0) const
    {
        if (from >= n_ || len > n_ - from)
            return -1;
        const void *p = memmem(d_ + from, n_ - from, what, len);
        return p ? int64_t(static_cast<const unsigned char *>(p) - d_) : -1;
    }
    int64_t find(const char *text, size_t from = 0) const { return find(text, std::strlen(text), from); }

    bool containsNoCase(const char *lowerText) const
    {
        const size_t len = std::strlen(lowerText);
        if (len == 0 || len > n_)
            return false;
        for (size_t i = 0; i + len <= n_; ++i) {
            size_t k = 0;
            while (k < len && std::tolower(d_[i + k]) == static_cast<unsigned char>(lowerText[k]))
                ++k;
            if (k == len)
                return true;
        }
        return false;
    }

    // Up to `len` bytes from `at`, cut at the window's end and at a NUL.
    QString text(size_t at, size_t len) const
    {
        if (at >= n_)
            return QString();
        len = std::min(len, n_ - at);
        const void *nul = std::memchr(d_ + at, 0, len);
        if (nul)
            len = size_t(static_cast<const unsigned char *>(nul) - (d_ + at));
        return QString::fromLatin1(reinterpret_cast<const char *>(d_ + at), qsizetype(len));
    }

private:
    const unsigned char *d_;
    size_t n_;
};

// The blanks-only trim the reader's texts get.
QString trimBlanks(const QString &s)
{
    qsizetype a = 0, b = s.size();
    while (a < b && s[a] == ' ')
        ++a;
    while (b > a && s[b - 1] == ' ')
        --b;
    return s.mid(a, b - a);
}

class Reader {
public:
    Reader(const Window &w, size_t header, bool bigEndian) : w_(w), hp_(header), be_(bigEndian) {}

    // Finds the tag's entry at or after `from`: the whole 12-byte entry must
    // lie in the window.
    int64_t findTag(uint16_t tag, size_t from) const
    {
        const unsigned char bytes[2] = {static_cast<unsigned char>(be_ ? tag >> 8 : tag & 0xFF),
                                        static_cast<unsigned char>(be_ ? tag & 0xFF : tag >> 8)};
        const int64_t t = w_.find(bytes, 2, from);
        if (t < 0 || !w_.has(size_t(t), 12))
            return -1;
        return t;
    }

    unsigned countLow(size_t t) const { return w_.byte(t + (be_ ? 7 : 4)); }
    unsigned type(size_t t) const { return u16(t + 2); }
    unsigned shortLow(size_t t) const { return w_.byte(t + (be_ ? 9 : 8)); }
    unsigned u16(size_t at) const
    {
        return be_ ? (w_.byte(at) << 8) | w_.byte(at + 1) : w_.byte(at) | (w_.byte(at + 1) << 8);
    }
    uint32_t u32(size_t at) const
    {
        return be_ ? (uint32_t(u16(at)) << 16) | u16(at + 2) : u16(at) | (uint32_t(u16(at + 2)) << 16);
    }
    // The value's offset: the low 16 bits of the value field, from the header.
    size_t dataAt(size_t t) const { return hp_ + (be_ ? u16(t + 10) : u16(t + 8)); }

    // An ASCII value of `len` characters: inline in the value field when the
    // count (with its NUL) fits four bytes, else at its offset.
    bool asciiValue(size_t t, size_t len, QString &out) const
    {
        const size_t at = countLow(t) <= 4 ? t + 8 : dataAt(t);
        if (at >= w_.size())
            return false;
        out = w_.text(at, len);
        return true;
    }

    // A date of exactly 19 characters (count 20), whole inside the window.
    bool dateValue(size_t t, const QString &separator, QString &out) const
    {
        if (int(countLow(t)) - 1 != 19)
            return false;
        const size_t at = dataAt(t);
        if (!w_.has(at, 19))
            return false;
        QString d = w_.text(at, 19);
        for (int i = 0; i < 2; ++i) {
            const qsizetype c = d.indexOf(':');
            if (c >= 0)
                d.replace(c, 1, separator);
        }
        out = d;
        return true;
    }

    // A pixel dimension: SHORT or LONG as the entry's type says.
    int32_t dimension(size_t t) const
    {
        if (type(t) == 4) {
            const uint32_t v = u32(t + 8);
            return v > uint32_t(INT32_MAX) ? 0 : int32_t(v);
        }
        return int32_t(u16(t + 8));
    }

private:
    const Window &w_;
    size_t hp_;
    bool be_;
};

bool readWindow(const Window &w, ExifQuickResult &out, const QString &separator)
{
    // The TIFF header: after "Exif", after "TTW", or the first "MM"; the
    // first "II" wins when it lies before that place.
    int64_t hp = -1;
    if (const int64_t e = w.find("Exif"); e >= 0)
        hp = e + 6;
    else if (const int64_t t = w.find("TTW"); t >= 0)
        hp = t + 7;
    else
        hp = w.find("MM");
    const int64_t ii = w.find("II");
    if (ii >= 0 && (hp < 0 || ii < hp))
        hp = ii;
    if (hp < 0)
        return false;

    const size_t h = size_t(hp);
    bool bigEndian = false;
    if (w.has(h, 2) && w.byte(h) == 'M' && w.byte(h + 1) == 'M') {
        bigEndian = true;
    } else if (!(w.has(h, 2) && w.byte(h) == 'I' && w.byte(h + 1) == 'I')) {
        // No TIFF header here: a GIF gives its screen size.
        const int64_t gif = w.find("GIF");
        if (gif >= 0 && gif + 3 <= 10 && w.size() >= 10) {
            out.width = int32_t(w.byte(6) + 256 * w.byte(7));
            out.height = int32_t(w.byte(8) + 256 * w.byte(9));
        }
        return int64_t(out.width) * int64_t(out.height) != 0;
    }

    const Reader r(w, h, bigEndian);
    size_t from = h;

    const auto text = [&](uint16_t tag, QString &field) {
        const int64_t t = r.findTag(tag, from);
        if (t < 0)
            return false;
        const int len = int(r.countLow(size_t(t))) - 1;
        if (len < 1 || len > 30)
            return false;
        QString v;
        if (!r.asciiValue(size_t(t), size_t(len), v))
            return false;
        field = trimBlanks(v);
        from = size_t(t) + 12;
        return true;
    };
    if (!text(0x010F, out.make) || !text(0x0110, out.model))
        return false;

    size_t afterOrientation = from;
    if (const int64_t t = r.findTag(0x0112, from); t >= 0) {
        out.orientation = float(r.shortLow(size_t(t)));
        from = afterOrientation = size_t(t) + 12;
    }
    if (const int64_t t = r.findTag(0x9003, from); t >= 0) {
        r.dateValue(size_t(t), separator, out.dateTaken);
        from = size_t(t) + 12;
    }
    if (const int64_t t = r.findTag(0xA001, from); t >= 0) {
        QString cs = QString::number(r.shortLow(size_t(t)));
        if (cs == QLatin1String("255"))
            cs = QStringLiteral("unspecified");
        else if (w.containsNoCase("adobe rgb"))
            cs = QStringLiteral("Adobe RGB");
        else if (cs == QLatin1String("1"))
            cs = QStringLiteral("sRGB");
        out.colorSpace = cs;
        from = size_t(t) + 12;
    }
    if (const int64_t t = r.findTag(0xA002, from); t >= 0) {
        out.width = r.dimension(size_t(t));
        from = size_t(t) + 12;
    }
    if (const int64_t t = r.findTag(0xA003, from); t >= 0) {
        out.height = r.dimension(size_t(t));
        from = size_t(t) + 12;
    }
    // The picture block of raw files that carry "TTW" before their header.
    if (bigEndian) {
        if (const int64_t prd = w.find("PRD"); prd >= 0 && w.has(size_t(prd) + 19, 4)) {
            out.height = int32_t(r.u16(size_t(prd) + 19));
            out.width = int32_t(r.u16(size_t(prd) + 21));
        }
    }
    if (out.dateTaken.isEmpty()) {
        if (const int64_t t = r.findTag(0x0132, afterOrientation); t >= 0)
            r.dateValue(size_t(t), separator, out.dateTaken);
    }
    return int64_t(out.width) * int64_t(out.height) != 0;
}

} // namespace

bool ReadExifQuick(const unsigned char *bytes, size_t size, ExifQuickResult &out, const QString &dateSeparator)
{
    out = ExifQuickResult{};
    if (!bytes)
        return false;
    const Window w(bytes, std::min(size, kExifQuickWindow));
    return readWindow(w, out, dateSeparator);
}

bool ReadExifQuick(const QString &path, ExifQuickResult &out, const QString &dateSeparator)
{
    out = ExifQuickResult{};
    const QString native = plat::toNative(path);
    const QFileInfo info(native);
    if (native.isEmpty() || !info.isFile())
        return false;
    int64_t length = info.size() - 8;
    if (length > int64_t(kExifQuickWindow))
        length = int64_t(kExifQuickWindow);
    if (length < 512)
        return false;
    QFile f(native);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.read(length);
    return ReadExifQuick(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()), out,
                         dateSeparator);
}
