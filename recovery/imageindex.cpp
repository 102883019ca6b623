#include "recovery/imageindex.h"

#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kMaxRecordBytes = 64LL << 20;
constexpr qint64 kMaxTextBytes = 8192;

// The smallest record of the file form: three empty texts and the fields.
constexpr qint64 kMinRecordBytes = 52;
constexpr int32_t kMaxEntryIndex = 1000000;

} // namespace

QByteArray IndexNumberText(double v)
{
    if (!std::isfinite(v))
        v = 0;
    QByteArray t = std::floor(v) == v && std::fabs(v) < 1e15 ? QByteArray::number(qint64(std::fabs(v)))
                                                             : QByteArray::number(std::fabs(v), 'G', 15);
    if (t.startsWith("0."))
        t.remove(0, 1);   // ".5"
    return (v >= 0 ? " " : "-") + t;
}

namespace {

QByteArray quotedLine(const QByteArray &text) { return '"' + text + "\"\r\n"; }

const QByteArray kCopiedTag = "\"Bytes copied: ";

// The length a stopped backup copied, from the last line of the index's
// tail; -1 when it has none. *lineBytes: the line's length.
int64_t copiedBytesOf(const QByteArray &tail, qsizetype *lineBytes)
{
    if (!tail.endsWith("\"\r\n"))
        return -1;
    const qsizetype at = tail.lastIndexOf(kCopiedTag);
    if (at < 0)
        return -1;
    bool ok = false;
    const qint64 n = tail.mid(at + kCopiedTag.size(), tail.size() - 3 - at - kCopiedTag.size()).toLongLong(&ok);
    if (!ok || n < 0)
        return -1;
    *lineBytes = tail.size() - at;
    return n;
}

} // namespace

QString DiskImageIndexPath(const QString &workFolder, const QString &imagePath)
{
    QString folder = workFolder;
    if (!folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    const int cut = imagePath.lastIndexOf(QLatin1Char('\\'));
    return folder + QStringLiteral("DiskImages\\") + imagePath.mid(cut + 1) + QStringLiteral(".dat");
}

bool ReadDiskImageIndex(const QString &indexPath, DiskImageIndex &index)
{
    index = DiskImageIndex{};
    QFile f(plat::toNative(indexPath));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(kMaxTextBytes);
    QByteArray values[6];
    qsizetype at = 0;
    for (QByteArray &value : values) {
        if (at >= head.size() || head[at] != '"')
            return false;
        const qsizetype close = head.indexOf('"', at + 1);
        if (close < 0 || head.mid(close + 1, 2) != "\r\n")
            return false;
        value = head.mid(at + 1, close - at - 1);
        at = close + 3;
    }
    bool ok[5];
    const double bps = values[1].trimmed().toDouble(&ok[0]);
    const double spc = values[2].trimmed().toDouble(&ok[1]);
    const double total = values[3].trimmed().toDouble(&ok[2]);
    const double first = values[4].trimmed().toDouble(&ok[3]);
    const double last = values[5].trimmed().toDouble(&ok[4]);
    for (bool b : ok)
        if (!b)
            return false;
    if (!(bps >= 512 && bps <= 4096) || !(spc >= 1 && spc <= 65536) || !(total >= 0 && total < 1e13)
        || !(first >= 0 && first < 1e15) || !(last >= -1 && last < 1e7))
        return false;
    index.imagePath = plat::fromAnsi(values[0]);
    index.bytesPerSector = int32_t(bps);
    index.sectorsPerCluster = int32_t(spc);
    index.totalClusters = std::floor(total);
    index.firstDataSector = int64_t(first);
    index.lastEntryIndex = int32_t(last);
    f.seek(at);
    index.entryRecords = f.read(kMaxRecordBytes);
    const qint64 end = f.size();
    qsizetype lineBytes = 0;
    if (f.seek(std::max<qint64>(at, end - 48)))
        index.copiedBytes = copiedBytesOf(f.read(48), &lineBytes);
    if (index.copiedBytes >= 0 && at + index.entryRecords.size() == end)
        index.entryRecords.chop(std::min(lineBytes, index.entryRecords.size()));
    // The count is the file's word: never more entries than its bytes can hold.
    const qint64 fit = index.entryRecords.size() / kMinRecordBytes - 1;
    index.lastEntryIndex = int32_t(std::min<qint64>({qint64(index.lastEntryIndex), fit, kMaxEntryIndex}));
    return true;
}

bool WriteDiskImageIndex(const QString &indexPath, const DiskImageIndex &index)
{
    const QString native = plat::toNative(indexPath);
    if (native.isEmpty() || index.imagePath.contains(QLatin1Char('"')))
        return false;
    const QFileInfo info(native);
    QDir().mkpath(info.absolutePath());
    plat::PartFile f;
    if (!f.open(info.absolutePath(), info.fileName()))
        return false;
    QByteArray out = quotedLine(plat::toAnsi(index.imagePath)) + quotedLine(IndexNumberText(index.bytesPerSector))
                     + quotedLine(IndexNumberText(index.sectorsPerCluster)) + quotedLine(IndexNumberText(index.totalClusters))
                     + quotedLine(IndexNumberText(double(index.firstDataSector)))
                     + quotedLine(IndexNumberText(index.lastEntryIndex)) + index.entryRecords;
    if (index.copiedBytes >= 0)
        out += kCopiedTag + QByteArray::number(qint64(index.copiedBytes)) + "\"\r\n";
    return f.file().write(out) == out.size() && f.commit(info.fileName(), plat::PartFile::Existing::Replace, true);
}
