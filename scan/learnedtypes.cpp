#include "scan/learnedtypes.h"

#include "drive/files.h"
#include "platform/paths.h"
#include "scan/rijndael.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

// The key of the learned-type files: the first 32 bytes are used.
constexpr char LearnedTypeKeyText[] = "Quilvane:ZTRecdt:learned-types:1";

// The longest plain field a learning run writes (a second signature is taken
// from the first 1024 bytes of the samples), and the hex text it enciphers to.
constexpr qsizetype MaxPlainField = 1024;
constexpr qsizetype MaxCipherField = 64 * ((MaxPlainField + 4 + 31) / 32);
// More than any valid record can hold; the rest of a big file is not read.
constexpr qint64 MaxRecordBytes = 4 * 1024 * 1024;

class Writer {
public:
    void text(const QByteArray &t)
    {
        integer(int16_t(uint16_t(qMin<qsizetype>(t.size(), 0xFFFF))));
        m_out.append(t.left(0xFFFF));
    }
    void fixed(const QByteArray &t, int length, char pad)
    {
        QByteArray f = t.left(length);
        if (f.size() < length)
            f.append(QByteArray(length - f.size(), pad));
        m_out.append(f);
    }
    void integer(int16_t v)
    {
        const auto u = uint16_t(v);
        m_out.append(char(u & 0xFF));
        m_out.append(char(u >> 8));
    }
    void longValue(int32_t v)
    {
        const auto u = uint32_t(v);
        for (int i = 0; i < 4; ++i)
            m_out.append(char((u >> (8 * i)) & 0xFF));
    }
    QByteArray bytes() const { return m_out; }

private:
    QByteArray m_out;
};

// Reads from the start of a buffer and never past its end: after the first
// failure every read fails.
class Reader {
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}
    bool ok() const { return m_ok; }

    QByteArray text()
    {
        const qsizetype length = uint16_t(integer());
        return take(length);
    }
    QByteArray fixed(qsizetype length) { return take(length); }
    int16_t integer()
    {
        const QByteArray b = take(2);
        if (b.size() != 2)
            return 0;
        return int16_t(uint16_t(uint8_t(b[0]) | (uint8_t(b[1]) << 8)));
    }
    int32_t longValue()
    {
        const QByteArray b = take(4);
        if (b.size() != 4)
            return 0;
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i)
            u |= uint32_t(uint8_t(b[i])) << (8 * i);
        return int32_t(u);
    }

private:
    QByteArray take(qsizetype length)
    {
        if (!m_ok || length < 0 || length > m_bytes.size() - m_pos) {
            m_ok = false;
            return {};
        }
        const QByteArray part = m_bytes.mid(m_pos, length);
        m_pos += length;
        return part;
    }

    const QByteArray &m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

QByteArray typeWithoutDot(const QByteArray &type)
{
    return (type.startsWith('.') ? type.mid(1) : type).toLower();
}

QString nativeOf(const QString &fileName)
{
    return plat::toNative(LearnedTypesFolder() + fileName);
}

bool ensureFolder()
{
    const QString native = plat::toNative(LearnedTypesFolder());
    return !native.isEmpty() && QDir().mkpath(native);
}

// Puts the bytes over the start of the file in one write and flushes them
// to the disk; the file keeps its length when that is longer.
bool writeOver(const QString &native, const QByteArray &bytes)
{
    if (native.isEmpty())
        return false;
    QFile f(native);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    bool ok = f.seek(0) && f.write(bytes) == bytes.size() && f.flush();
    if (ok && f.handle() >= 0)
        ok = ::fdatasync(f.handle()) == 0;
    f.close();
    return ok;
}

// The learned-type file name with its type part in lower case; other names
// as they are.
QString normalizedName(const QString &fileName)
{
    const QByteArray type = LearnedTypeFromFileName(fileName);
    return type.isEmpty() ? fileName : LearnedTypeFileName(type);
}

bool plainFieldFits(const QByteArray &t)
{
    return t.size() <= MaxPlainField;
}

bool isHexText(const QByteArray &t)
{
    for (char c : t)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

bool IsUsableFirstSignature(const QByteArray &sig1)
{
    if (sig1.size() < 4)
        return false;
    bool seen[256] = {};
    int distinct = 0;
    for (char c : sig1)
        if (!seen[uint8_t(c)]) {
            seen[uint8_t(c)] = true;
            if (++distinct == 3)
                return true;
        }
    return false;
}

QByteArray SerializeLearnedTypeRecord(const LearnedTypeRecord &r)
{
    Writer w;
    w.text(r.Ext);
    if (r.Desc.isEmpty())
        w.fixed({}, 10, '\0');
    else
        w.fixed(r.Desc, 10, ' ');
    for (const auto *texts : {&r.Sig1, &r.Sig2, &r.TailPrefix, &r.TailRun})
        for (const QByteArray &t : *texts)
            w.text(t);
    for (int16_t v : r.SizeFieldOffset)
        w.integer(v);
    for (int16_t v : r.SizeFieldOrder)
        w.integer(v);
    for (const auto *texts : {&r.Reserved9, &r.Reserved10})
        for (const QByteArray &t : *texts)
            w.text(t);
    for (int32_t v : r.Matches)
        w.longValue(v);
    for (int32_t v : r.Analysed)
        w.longValue(v);
    w.integer(r.CurrentVariant);
    w.integer(r.Enciphered);
    w.text(r.Reserved15);
    for (int32_t v : r.TailRunStart)
        w.longValue(v);
    return w.bytes();
}

LearnedTypeStatus ParseLearnedTypeRecord(const QByteArray &bytes, LearnedTypeRecord &record)
{
    record = LearnedTypeRecord{};
    if (bytes.isEmpty())
        return LearnedTypeStatus::Empty;
    Reader in(bytes);
    LearnedTypeRecord r;
    r.Ext = in.text();
    r.Desc = in.fixed(10);
    if (r.Desc == QByteArray(10, '\0'))
        r.Desc.clear();
    for (auto *texts : {&r.Sig1, &r.Sig2, &r.TailPrefix, &r.TailRun})
        for (QByteArray &t : *texts)
            t = in.text();
    for (int16_t &v : r.SizeFieldOffset)
        v = in.integer();
    for (int16_t &v : r.SizeFieldOrder)
        v = in.integer();
    for (auto *texts : {&r.Reserved9, &r.Reserved10})
        for (QByteArray &t : *texts)
            t = in.text();
    for (int32_t &v : r.Matches)
        v = in.longValue();
    for (int32_t &v : r.Analysed)
        v = in.longValue();
    r.CurrentVariant = in.integer();
    r.Enciphered = in.integer();
    r.Reserved15 = in.text();
    for (int32_t &v : r.TailRunStart)
        v = in.longValue();
    if (!in.ok())
        return LearnedTypeStatus::Corrupt;

    if (r.CurrentVariant < 0 || r.CurrentVariant >= LearnedVariants || r.Ext.size() > MaxPlainField)
        return LearnedTypeStatus::Corrupt;
    for (int v = 0; v < LearnedVariants; ++v)
        if (r.Analysed[size_t(v)] < 0)
            return LearnedTypeStatus::Corrupt;
    const qsizetype limit = r.isEnciphered() ? MaxCipherField : MaxPlainField;
    for (const auto *texts : {&r.Sig1, &r.Sig2, &r.TailPrefix, &r.TailRun})
        for (const QByteArray &t : *texts)
            if (t.size() > limit)
                return LearnedTypeStatus::Corrupt;
    record = r;
    return LearnedTypeStatus::Ok;
}

QByteArray LearnedTypeKey()
{
    return QByteArray(LearnedTypeKeyText);
}

bool ToggleLearnedTypeCipher(LearnedTypeRecord &record, const QByteArray &key)
{
    const bool deciphering = record.isEnciphered();
    LearnedTypeRecord r = record;
    for (size_t v = 0; v < size_t(LearnedVariants); ++v) {
        if (r.Sig1[v].isEmpty())
            continue;
        for (auto *texts : {&r.Sig1, &r.Sig2, &r.TailPrefix, &r.TailRun}) {
            QByteArray &field = (*texts)[v];
            if (field.isEmpty())
                continue;
            if (deciphering && (field.size() % 64 != 0 || !isHexText(field)))
                return false;
            const QByteArray changed = ToggleFieldCipher(field, key, deciphering);
            if (changed.isEmpty() || (deciphering && !plainFieldFits(changed)))
                return false;
            field = changed;
        }
    }
    r.Enciphered = deciphering ? 0 : -1;
    record = r;
    return true;
}

QString LearnedTypesFolder()
{
    return plat::programFolder() + QStringLiteral("ZTRecdt\\");
}

QString LearnedTypeFileName(const QByteArray &type)
{
    return QStringLiteral("ZT_") + QString::fromLatin1(typeWithoutDot(type)) + QStringLiteral(".dat");
}

QByteArray LearnedTypeFromFileName(const QString &fileName)
{
    if (!fileName.startsWith(QLatin1String("ZT_"), Qt::CaseInsensitive)
        || !fileName.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive) || fileName.size() <= 7)
        return {};
    return fileName.mid(3, fileName.size() - 7).toLatin1().toLower();
}

QStringList ListLearnedTypeFiles()
{
    const QString native = plat::toNative(LearnedTypesFolder());
    if (native.isEmpty())
        return {};
    QStringList names;
    const QStringList entries = QDir(native).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : entries)
        if (!LearnedTypeFromFileName(name).isEmpty())
            names.append(name);
    return names;
}

QString FindLearnedTypeFile(const QByteArray &type)
{
    const QByteArray wanted = typeWithoutDot(type);
    if (wanted.isEmpty())
        return {};
    for (const QString &name : ListLearnedTypeFiles())
        if (LearnedTypeFromFileName(name) == wanted)
            return name;
    return {};
}

LearnedTypeStatus ConvertLearnedTypeRecord(const QString &fileName, bool wantedState,
                                           LearnedTypeRecord &record)
{
    record = LearnedTypeRecord{};
    ensureFolder();
    const QString native = nativeOf(normalizedName(fileName));
    if (native.isEmpty())
        return LearnedTypeStatus::Unreadable;
    QFile f(native);
    if (!f.open(QIODevice::ReadWrite) && !f.open(QIODevice::ReadOnly))
        return LearnedTypeStatus::Unreadable;
    const QByteArray bytes = f.read(MaxRecordBytes);
    f.close();

    LearnedTypeRecord r;
    const LearnedTypeStatus status = ParseLearnedTypeRecord(bytes, r);
    if (status != LearnedTypeStatus::Ok)
        return status;
    if (r.isEnciphered() == wantedState && !ToggleLearnedTypeCipher(r, LearnedTypeKey()))
        return LearnedTypeStatus::Corrupt;
    if (r.isEnciphered() && !writeOver(native, SerializeLearnedTypeRecord(r))) {
        record = r;
        return LearnedTypeStatus::Unreadable;
    }
    record = r;
    return LearnedTypeStatus::Ok;
}

bool WriteLearnedTypeRecord(const QString &fileName, const LearnedTypeRecord &record)
{
    if (!ensureFolder())
        return false;
    return writeOver(nativeOf(normalizedName(fileName)), SerializeLearnedTypeRecord(record));
}

bool RemoveLearnedTypeFile(const QByteArray &type, bool toRecycleBin)
{
    const QString name = FindLearnedTypeFile(type);
    if (name.isEmpty())
        return false;
    const QString internal = LearnedTypesFolder() + name;
    if (toRecycleBin)
        RecycleFile(internal);
    else
        QFile::remove(plat::toNative(internal));
    return !QFile::exists(plat::toNative(internal));
}

QByteArray SerializeSampleRingRecord(const SampleRingRecord &r)
{
    Writer w;
    w.fixed(r.Ext, 5, ' ');
    for (const QByteArray &t : r.Heads)
        w.text(t);
    for (const QByteArray &t : r.Tails)
        w.text(t);
    w.integer(r.Next);
    return w.bytes();
}

QString SampleRingFileName(const QByteArray &type)
{
    return QStringLiteral("ZTAnalyze_") + QString::fromLatin1(typeWithoutDot(type)) + QStringLiteral(".dat");
}

bool WriteSampleRingFile(const QByteArray &type, const SampleRingRecord &record)
{
    if (typeWithoutDot(type).isEmpty() || !ensureFolder())
        return false;
    return writeOver(nativeOf(SampleRingFileName(type)), SerializeSampleRingRecord(record));
}
