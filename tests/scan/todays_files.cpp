#include "tests/scan/todays_files.h"

#include "scan/rarwalk.h"
#include "tests/support/fixtures.h"

#include <QFile>
#include <QtEndian>

namespace todays_files {

namespace {

QByteArray le16(quint16 v) { return QByteArray(1, char(v & 0xFF)) + char(v >> 8); }
QByteArray le32(quint32 v) { return le16(quint16(v)) + le16(quint16(v >> 16)); }

quint32 crcOf(const QByteArray &b)
{
    return Crc32(reinterpret_cast<const unsigned char *>(b.constData()), size_t(b.size()));
}

// A RAR 4 block: the low half of the CRC of its type, flags, size and the rest.
QByteArray block4(quint8 type, quint16 flags, const QByteArray &rest)
{
    const QByteArray tail = QByteArray(1, char(type)) + le16(flags) + le16(quint16(7 + rest.size())) + rest;
    return le16(quint16(crcOf(tail))) + tail;
}

QByteArray vint(quint64 v)
{
    QByteArray b;
    do {
        b += char((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return b;
}

// A RAR 5 block: the CRC of its size field and header, then the header.
QByteArray block5(const QByteArray &header)
{
    const QByteArray sized = vint(quint64(header.size())) + header;
    return le32(crcOf(sized)) + sized;
}

} // namespace

QByteArray rar4Archive(const QByteArray &name, const QByteArray &content)
{
    const QByteArray file = le32(quint32(content.size())) + le32(quint32(content.size())) + char(3)   // Unix
                            + le32(crcOf(content)) + le32(0x58A64C21)   // 2024-05-06 09:33:02
                            + char(20) + char(0x30) + le16(quint16(name.size())) + le32(0x81A4) + name;
    return QByteArray("Rar!\x1A\x07\x00", 7) + block4(0x73, 0, QByteArray(6, '\0'))
           + block4(0x74, 0x8000, file) + content + block4(0x7B, 0x4000, {});
}

QByteArray rar5Archive(const QByteArray &name, const QByteArray &content)
{
    // Main header: type 1, no flags, no archive flags. File header: type 2
    // with a data area; the file's CRC, its size, no compression, Unix.
    const QByteArray file = vint(2) + vint(2) + vint(quint64(content.size())) + vint(4)
                            + vint(quint64(content.size())) + vint(0x1A4) + le32(crcOf(content)) + vint(0)
                            + vint(1) + vint(quint64(name.size())) + name;
    return QByteArray("Rar!\x1A\x07\x01\x00", 8) + block5(vint(1) + vint(0) + vint(0)) + block5(file) + content
           + block5(vint(5) + vint(0) + vint(0));
}

QByteArray compoundFileWithDifatBehind()
{
    QByteArray header = QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(16, '\0')
                        + QByteArray::fromHex("3E000300FEFF0900060000000000000000000000") + le32(110) + le32(111)
                        + le32(0) + le32(0x1000) + le32(0xFFFFFFFE) + le32(0) + le32(110) + le32(1);
    for (quint32 k = 0; k < 109; ++k)
        header += le32(k);
    // The table: its own 110 sectors, then the DIFAT sector, then the directory; the rest free.
    QByteArray table;
    for (quint32 k = 0; k < 110 * 128; ++k)
        table += le32(k < 110 ? 0xFFFFFFFD : k == 110 ? 0xFFFFFFFC : k == 111 ? 0xFFFFFFFE : 0xFFFFFFFF);
    QByteArray difat = le32(109);
    while (difat.size() < 508)
        difat += le32(0xFFFFFFFF);
    difat += le32(0xFFFFFFFE);
    return header + table + difat + QByteArray(512, '\0');
}

QByteArray unpackedSample(const QString &dir, const QString &name)
{
    const QString packed = dir + '/' + name;
    QFile::remove(packed);
    if (!QFile::copy(QStringLiteral(QUILVANE_SCAN_SAMPLES) + '/' + name, packed)
        || testing_support::runTool("xz", {"-d", "-f", packed}) != 0)
        return {};
    return testing_support::readFileBytes(packed.chopped(3));
}

} // namespace todays_files
