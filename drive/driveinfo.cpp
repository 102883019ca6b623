#include "drive/driveinfo.h"

#include "drive/fat.h"
#include "drive/sectors.h"
#include "platform/drives.h"
#include "platform/rawio.h"
#include "platform/volumefacts.h"

#include <QCryptographicHash>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

uint32_t u8(const QByteArray &b, int o) { return o >= 0 && o < b.size() ? uint8_t(b[o]) : 0; }
uint32_t u16(const QByteArray &b, int o) { return u8(b, o) | (u8(b, o + 1) << 8); }
uint32_t u32(const QByteArray &b, int o) { return u16(b, o) | (u16(b, o + 2) << 16); }

// The first character of a number's decimal text, as the fingerprint counts it.
uint32_t leadingCharCode(int32_t v)
{
    if (v < 0)
        return '-';
    while (v >= 10)
        v /= 10;
    return uint32_t('0' + v);
}

template <typename T>
uint32_t fatFingerprint(const std::vector<T> &entries)
{
    uint32_t sum = 0;
    // Every entry but the last one.
    for (size_t i = 0; i + 1 < entries.size(); ++i)
        sum += leadingCharCode(int32_t(entries[i]));
    return sum;
}

QChar sourceLetter(const QString &source)
{
    return source.isEmpty() ? QChar() : source[0].toUpper();
}

// The FAT type of a volume whose boot text does not say it: by its count of
// clusters, as the file system defines it.
QString fatTypeByClusterCount(const QByteArray &b)
{
    const int64_t bps = u16(b, 11) ? u16(b, 11) : 512;
    const int64_t spc = u8(b, 13);
    const int64_t rootSectors = (int64_t(u16(b, 17)) * 32 + bps - 1) / bps;
    const int64_t fatSize = u16(b, 22) ? u16(b, 22) : u32(b, 36);
    const int64_t total = u16(b, 19) ? u16(b, 19) : u32(b, 32);
    if (u16(b, 22) == 0)
        return QStringLiteral("FAT32");
    const int64_t data = total - (u16(b, 14) + int64_t(u8(b, 16)) * fatSize + rootSectors);
    const int64_t clusters = spc > 0 && data > 0 ? data / spc : 0;
    return clusters < 4085 ? QStringLiteral("FAT12") : QStringLiteral("FAT16");
}

bool parsedFileSystem(const QString &fs)
{
    return fs == "FAT12" || fs == "FAT16" || fs == "FAT32" || fs == "exFAT" || fs == "NTFS";
}

// Whether the boot sector's layout of the record's file system lies on the
// medium (mediumBytes < 0: not known), by the volume facts' own rules.
bool layoutFits(const DriveInfoRecord &d, const QByteArray &boot, int64_t mediumBytes)
{
    if (d.FileSystem == "NTFS")
        return plat::parseNtfsLayout(boot, mediumBytes).has_value();
    if (d.FileSystem == "exFAT")
        return plat::parseExfatLayout(boot, mediumBytes).has_value();
    return plat::parseFatLayout(boot, mediumBytes).has_value();
}

// Whether the record's data area (FirstDataSector and TotalClusters clusters
// after it) lies on the medium.
bool dataAreaFits(const DriveInfoRecord &d, int64_t mediumBytes)
{
    const int64_t bps = d.BytesPerSector, spc = std::max<int64_t>(1, d.SectorsPerCluster);
    if (mediumBytes < 0)
        return true;
    if (bps <= 0 || d.FirstDataSector < 0 || d.TotalClusters < 0 || d.TotalClusters > 9.0e18)
        return false;
    int64_t sectors = 0, bytes = 0;
    return !__builtin_mul_overflow(int64_t(d.TotalClusters), spc, &sectors)
           && !__builtin_add_overflow(sectors, d.FirstDataSector, &sectors)
           && !__builtin_mul_overflow(sectors, bps, &bytes) && bytes <= mediumBytes;
}

// The record of a medium whose boot sector states a layout that does not lie
// on it: a medium without a file system, read from sector 0. A name the
// volume facts know but refused is dropped; other names stay as the system
// reports them. Sizes become the medium's own when the record's clusters do
// not fit it either; its size in sectors is the one the platform reports.
void describeWithoutFileSystem(DriveInfoRecord &d, QChar letter, int64_t mediumBytes)
{
    if (parsedFileSystem(d.FileSystem))
        d.FileSystem.clear();
    d.SectorsPerFat = 0;
    d.FirstRootDirSector = 0;
    d.RootDirSectorsMinusOne = 0;
    d.FirstDataSector = 0;
    d.FirstCluster = 0;
    d.RootCluster = 0;
    if (auto g = plat::diskGeometry(letter))
        d.TotalSectors = double(g->totalClusters) * g->sectorsPerCluster;
    if (mediumBytes >= 0 && !dataAreaFits(d, mediumBytes)) {
        if (d.BytesPerSector != 512 && d.BytesPerSector != 1024 && d.BytesPerSector != 2048
            && d.BytesPerSector != 4096)
            d.BytesPerSector = 512;
        d.SectorsPerCluster = 1;
        d.TotalClusters = double(mediumBytes / d.BytesPerSector);
        d.TotalSectors = d.TotalClusters;
        d.TotalMB = double(mediumBytes) / 1024.0 / 1024.0;
        d.FreeMB = 0;
    }
}

} // namespace

DriveInfoRecord &DriveInfo()
{
    static DriveInfoRecord record = [] {
        DriveInfoRecord r;
        r.Fat1Bytes = QByteArray(1, '\0');
        r.Fat2Bytes = QByteArray(1, '\0');
        r.Fat32Entries.assign(1, 0);
        r.Fat16Entries.assign(1, 0);
        r.Fat12Entries.assign(1, 0);
        r.RootDirEntries.assign(1, FatDirEntry{});
        r.CurrentDirEntries.assign(1, FatDirEntry{});
        return r;
    }();
    return record;
}

int32_t MakeLong(int16_t low, int16_t high)
{
    return int32_t(uint32_t(uint16_t(high)) << 16 | uint16_t(low));
}

int32_t UnsignedWord(int16_t value)
{
    return value < 0 ? int32_t(value) + 65536 : value;
}

QString CutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

int64_t RoundHalfEven(double value)
{
    return int64_t(std::nearbyint(value));
}

QString DriveTypeText(int code)
{
    static const char *const kTexts[] = {"Missing", "Unknown", "Removable", "Fixed", "Remote", "CDRom", "RAMDisk"};
    return code >= 0 && code <= 6 ? QString::fromLatin1(kTexts[code]) : QStringLiteral("Unknown");
}

void ResetDriveInfo()
{
    DriveInfoRecord &d = DriveInfo();
    d.Fat1Bytes = QByteArray(1, '\0');
    d.Fat2Bytes = QByteArray(1, '\0');
    d.Fat32Entries.assign(1, 0);
    d.Fat16Entries.assign(1, 0);
    d.Fat12Entries.assign(1, 0);
    d.RootDirEntries.assign(1, FatDirEntry{});
    d.CurrentDirEntries.assign(1, FatDirEntry{});
    d.FirstCluster = 0;
    d.RootCluster = 0;
    d.MftCluster = 0;
    d.ClustersPerMftRecord = 0;
    d.FirstDataSector = 0;
    d.SectorsPerCluster = 0;
    d.BytesPerSector = 0;
    d.TotalMB = 0;
    d.FreeMB = 0;
    d.Fingerprint = 0;
    d.VolumeSerial = 0;
    d.TotalSectors = 0;
    d.NumberOfFats = 0;
    d.HiddenSectors = 0;
    d.FirstRootDirSector = 0;
    d.RootDirSectorsMinusOne = 0;
    d.ReservedSectors = 0;
    d.SectorsPerFat = 0;
    d.FileSystem.clear();
    d.DriveType.clear();
    d.VolumeLabel.clear();
    d.Fat1Text = QByteArray();
    d.Fat2Text = QByteArray();
    d.IsNT = false;
    d.DriveLetter = QChar();
    d.MediumSize = -1;
    d.OpenError = 0;
    // BootSectorBytes, FatEntryWidth and TotalClusters stay as they were.
}

std::optional<bool> IsDriveReady(const QString &path)
{
    if (path.size() < 2 || path[1] != ':' || !path[0].isLetter() || path[0].unicode() > 'z')
        return std::nullopt;
    return plat::isDriveReady(path[0].toUpper());
}

uint32_t GetVolumeSerial(const QString &drive)
{
    const QString root = (drive + "\\").left(3);
    if (root.size() != 3 || root[1] != ':' || root[2] != '\\' || !root[0].isLetter())
        return 0;
    auto info = plat::volumeInformation(root[0].toUpper());
    return info ? info->serial : 0;
}

void GetDriveInfo(const QString &source)
{
    const QChar letter = sourceLetter(source);
    // A drive that is not ready leaves no earlier drive's record behind:
    // callers see BytesPerSector 0, "not filled".
    if (IsDriveReady(source) != true) {
        ResetDriveInfo();
        return;
    }
    ResetDriveInfo();
    DriveInfoRecord &d = DriveInfo();
    const QString root = QString(letter) + ":\\";
    d.DriveLetter = letter;

    if (auto info = plat::volumeInformation(letter)) {
        d.VolumeSerial = info->serial;
        d.VolumeLabel = CutAtNul(info->label).trimmed();
        d.FileSystem = CutAtNul(info->fsName).trimmed();
    }
    d.DriveType = DriveTypeText(plat::driveTypeCode(letter));

    uint32_t spc = 0, bps = 0;
    double freeClusters = 0;
    if (auto g = plat::diskGeometry(letter)) {
        spc = g->sectorsPerCluster;
        bps = g->bytesPerSector;
        freeClusters = double(g->freeClusters);
        d.TotalSectors = double(g->totalClusters) * g->sectorsPerCluster;
        d.TotalClusters = double(g->totalClusters);
    }
    d.CurrentDirEntries.assign(1, FatDirEntry{});
    ParseBootSector(root);

    // The platform's geometry wins over the boot sector's, but never with 0.
    if (spc)
        d.SectorsPerCluster = spc;
    if (bps)
        d.BytesPerSector = int32_t(bps);
    d.TotalMB = d.TotalClusters / 1024.0 / 1024.0 * d.SectorsPerCluster * d.BytesPerSector;
    d.FreeMB = freeClusters / 1024.0 / 1024.0 * d.SectorsPerCluster * d.BytesPerSector;

    // A data area that does not lie on the medium was stated by a boot
    // sector that lies: the scan must not start past the medium's end.
    const int64_t medium = MediumBytes(root);
    d.MediumSize = medium;
    d.OpenError = medium < 0 ? plat::lastOpenError() : 0;
    if (!dataAreaFits(d, medium))
        describeWithoutFileSystem(d, root[0].toUpper(), medium);
}

DriveIdentity IdentityOfRecord(const DriveInfoRecord &d)
{
    DriveIdentity id;
    id.letter = d.DriveLetter;
    id.serial = d.VolumeSerial;
    id.fileSystem = d.FileSystem;
    id.totalSectors = d.TotalSectors;
    id.bytesPerSector = d.BytesPerSector;
    id.fingerprint = d.Fingerprint;
    id.mediumBytes = d.MediumSize;
    QCryptographicHash digest(QCryptographicHash::Sha1);
    digest.addData(d.BootSectorBytes);
    digest.addData(d.Fat1Bytes);
    digest.addData(QByteArrayView(reinterpret_cast<const char *>(d.RootDirEntries.data()),
                                  qsizetype(d.RootDirEntries.size() * sizeof(FatDirEntry))));
    id.digest = digest.result();
    return id;
}

DriveRecheck RecheckDrive(const QString &source)
{
    DriveRecheck r;
    GetDriveInfo(source);
    const DriveInfoRecord &d = DriveInfo();
    r.identity = IdentityOfRecord(d);
    if (d.DriveLetter.isNull())
        return r;   // not ready: the record was cleared
    switch (d.MediumSize < 0 ? d.OpenError : 0) {
    case 0:
    case ENODEV:   // a folder or a network drive: no raw volume to read
        r.access = d.MediumSize == 0 ? DriveAccess::NotReady : DriveAccess::Ready;
        break;
    case EACCES:
    case EPERM:
        r.access = DriveAccess::NoRights;
        break;
    case ENOENT:
    case ENOMEDIUM:
    case ENXIO:
        r.access = DriveAccess::NotReady;   // gone since the readiness test
        break;
    default:
        r.access = DriveAccess::Unreadable;
        break;
    }
    return r;
}

void ParseBootSector(const QString &root)
{
    DriveInfoRecord &d = DriveInfo();
    d.BytesPerSector = 512;
    int64_t got = 0;
    QByteArray boot = ReadSectors(root, 0, 0, 512, got);
    if (boot.isEmpty() || got <= 0)
        return;
    d.BootSectorBytes = boot.left(512);
    const QByteArray &b = d.BootSectorBytes;

    d.BytesPerSector = u16(b, 11) ? int32_t(u16(b, 11)) : 512;
    d.SectorsPerCluster = u8(b, 13);
    d.NumberOfFats = u8(b, 16);
    d.ReservedSectors = int32_t(u16(b, 14));
    d.HiddenSectors = u32(b, 28);
    d.TotalSectors = u16(b, 19) ? double(u16(b, 19)) : double(int32_t(u32(b, 32)));

    if (d.FileSystem == "FAT") {
        const QString text = QString::fromLatin1(b.mid(54, 8)).toUpper();
        // The text is only a label: unless it names FAT12 or FAT16, the
        // cluster count decides.
        if (text.startsWith("FAT12") || text.startsWith("FAT16"))
            d.FileSystem = text.trimmed();
        else
            d.FileSystem = fatTypeByClusterCount(b);
    }
    d.FileSystem = d.FileSystem.trimmed();

    if (d.FileSystem == "NTFS") {
        d.MftCluster = u32(b, 48);
        d.ClustersPerMftRecord = int32_t(u32(b, 64));
    } else if (d.FileSystem == "exFAT") {
        // Bytes 11 to 63 are zero on exFAT: its geometry stands further on.
        const uint32_t bpsShift = u8(b, 108), spcShift = u8(b, 109);
        if (bpsShift >= 9 && bpsShift <= 12 && spcShift <= 25 - bpsShift) {
            d.BytesPerSector = int32_t(1u << bpsShift);
            d.SectorsPerCluster = 1u << spcShift;
        }
        d.FirstDataSector = u32(b, 88);
        d.FirstCluster = 2;
        d.RootCluster = int32_t(u32(b, 96));
    } else if (d.FileSystem == "FAT32") {
        d.FatEntryWidth = 4.0f;
        // The 16-bit size wins when it is set, as in the volume facts that
        // checked the layout (a FAT16 boot sector whose cluster count reads
        // as FAT32 holds its drive number and serial at 36).
        d.SectorsPerFat = u16(b, 22) ? u16(b, 22) : u32(b, 36);
        d.FirstRootDirSector = int64_t(d.NumberOfFats) * d.SectorsPerFat + d.ReservedSectors;
        d.FirstDataSector = d.FirstRootDirSector;
        // Cluster 2 begins the data area whichever cluster the root starts at.
        d.FirstCluster = 2;
        d.RootCluster = int32_t(u32(b, 44));
    } else {
        d.FatEntryWidth = d.FileSystem == "FAT16" ? 2.0f : 1.5f;
        d.SectorsPerFat = u16(b, 22);
        const int64_t rootEntries = u16(b, 17);
        d.FirstRootDirSector = int64_t(d.NumberOfFats) * d.SectorsPerFat + d.ReservedSectors;
        // Whole sectors: a partly used last sector still holds entries.
        d.RootDirSectorsMinusOne = int32_t((rootEntries * 32 + d.BytesPerSector - 1) / d.BytesPerSector - 1);
        d.FirstDataSector = d.RootDirSectorsMinusOne + d.FirstRootDirSector + 1;
        d.FirstCluster = 2;
        d.RootCluster = 2;
    }

    // Nothing is read by a layout that does not lie on the medium.
    const int64_t medium = MediumBytes(root);
    if (parsedFileSystem(d.FileSystem) && !layoutFits(d, b, medium)) {
        describeWithoutFileSystem(d, root[0].toUpper(), medium);
        return;
    }
    const bool fat = d.FileSystem == "FAT12" || d.FileSystem == "FAT16" || d.FileSystem == "FAT32";
    if (d.ReservedSectors == 0 || !fat)
        return;

    const int64_t fatBytes = int64_t(d.BytesPerSector) * d.SectorsPerFat;
    d.Fat1Bytes = ReadSectors(root, d.ReservedSectors, 0, fatBytes, got);
    if (d.Fat1Bytes.isEmpty())
        d.Fat1Bytes = QByteArray(1, '\0');
    d.Fat1Bytes.resize(qMax<qsizetype>(1, qMin<qsizetype>(d.Fat1Bytes.size(), fatBytes)));
    d.Fat2Bytes = ReadSectors(root, d.ReservedSectors + d.SectorsPerFat, 0, fatBytes, got);
    if (d.Fat2Bytes.isEmpty())
        d.Fat2Bytes = QByteArray(1, '\0');
    d.Fat2Bytes.resize(qMax<qsizetype>(1, qMin<qsizetype>(d.Fat2Bytes.size(), fatBytes)));
    d.Fat1Text = d.Fat1Bytes;
    d.Fat2Text = d.Fat2Bytes;

    const qsizetype n = d.Fat1Bytes.size();
    if (d.FileSystem == "FAT32") {
        d.Fat32Entries.assign(size_t(qMax<qsizetype>(1, n / 4)), 0);
        std::memcpy(d.Fat32Entries.data(), d.Fat1Bytes.constData(), size_t(n / 4) * 4);
        d.Fingerprint += fatFingerprint(d.Fat32Entries);
    } else if (d.FileSystem == "FAT16") {
        d.Fat16Entries.assign(size_t(qMax<qsizetype>(1, n / 2)), 0);
        std::memcpy(d.Fat16Entries.data(), d.Fat1Bytes.constData(), size_t(n / 2) * 2);
        d.Fingerprint += fatFingerprint(d.Fat16Entries);
    } else {
        d.Fat12Entries.assign(size_t(qMax<int64_t>(1, RoundHalfEven(double(n) / 1.5 - 1) + 1)), 0);
        UnpackFat12();
        d.Fingerprint += fatFingerprint(d.Fat12Entries);
    }

    if (auto g = plat::diskGeometry(root[0].toUpper()))
        d.TotalSectors = double(g->totalClusters) * g->sectorsPerCluster;
    ReadRootDirectory(root);
}
