#include "undelete/direntcache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QRegularExpression>
#include <cstring>

namespace {

const QString kSuffix = QStringLiteral("DirEnt.dat");

template <typename T>
void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, qsizetype(sizeof(T)));
}

} // namespace

QString DirEntFileName(const QString &source)
{
    static const QRegularExpression drive(QStringLiteral("^([A-Za-z]):\\\\?$"));
    const auto m = drive.match(source.trimmed());
    if (m.hasMatch())
        return m.captured(1) + kSuffix;
    const QByteArray hash = QCryptographicHash::hash(source.trimmed().toLower().toUtf8(), QCryptographicHash::Sha1);
    return QLatin1Char('I') + QString::fromLatin1(hash.toHex().left(8)) + kSuffix;
}

bool WriteDirEntFile(const QString &nativePath, uint32_t fingerprint, uint32_t serial,
                     const std::vector<DeletedEntryRecord> &entries)
{
    if (entries.empty())
        return false;
    const int upper = int(entries.size()) - 1;
    QByteArray bytes;
    put<int32_t>(bytes, upper);
    put<uint32_t>(bytes, fingerprint);
    put<uint32_t>(bytes, serial);
    bytes += EntryRecordsBytes(entries, upper);
    QSaveFile file(nativePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

DirEntRead ReadDirEntFile(const QString &nativePath, uint32_t fingerprint, uint32_t serial,
                          std::vector<DeletedEntryRecord> &entries)
{
    QFile file(nativePath);
    if (!file.exists())
        return DirEntRead::Missing;
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        file.close();
    }
    if (bytes.size() >= 12) {
        int32_t upper;
        uint32_t print, ser;
        std::memcpy(&upper, bytes.constData(), 4);
        std::memcpy(&print, bytes.constData() + 4, 4);
        std::memcpy(&ser, bytes.constData() + 8, 4);
        std::vector<DeletedEntryRecord> read;
        if (ser == serial && print == fingerprint && ReadEntryRecords(bytes.mid(12), upper, read)) {
            entries = std::move(read);
            return DirEntRead::Accepted;
        }
    }
    QFile::remove(nativePath);
    return DirEntRead::Refused;
}

int DeleteDirEntFiles(const QString &workFolderNative)
{
    int removed = 0;
    static const QRegularExpression own(QStringLiteral("^([A-Za-z]|I[0-9a-f]{8})DirEnt\\.dat$"));
    const QDir dir(workFolderNative);
    for (const QString &name : dir.entryList({QLatin1Char('*') + kSuffix}, QDir::Files | QDir::Hidden))
        if (own.match(name).hasMatch() && QFile::remove(dir.filePath(name)))
            ++removed;
    return removed;
}
