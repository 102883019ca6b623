#include "drive/sectors.h"

#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/legacydisk.h"
#include "platform/os.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstring>

namespace {

bool requestValid(int64_t sector, int64_t byteOffset, int64_t length)
{
    return sector >= 0 && byteOffset >= 0 && length > 0 && byteOffset <= INT64_MAX - length
           && DriveInfo().BytesPerSector > 0;
}

// Whole sectors from the first sector covering offset + length.
int64_t coveringBytes(int64_t byteOffset, int64_t length)
{
    const int64_t bps = DriveInfo().BytesPerSector;
    int64_t bytes = 0;
    return __builtin_mul_overflow((byteOffset + length - 1) / bps + 1, bps, &bytes) ? INT64_MAX : bytes;
}

QChar driveLetter(const QString &drive)
{
    return drive.isEmpty() ? QChar() : drive[0].toUpper();
}

QByteArray readWhole(plat::Handle &h, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    if (!SeekSector(h, sector)) {
        h.close();
        return {};
    }
    // The whole sectors asked for, but no more than the medium holds from
    // here: a count a boot sector states never allocates past the medium.
    int64_t size = coveringBytes(byteOffset, length);
    const int64_t end = h.size(), at = h.pos();
    if (end >= 0 && at >= 0) {
        const int64_t bps = DriveInfo().BytesPerSector;
        const int64_t avail = std::max<int64_t>(0, end - at);
        size = std::min(size, (avail / bps + (avail % bps ? 1 : 0)) * bps);
    } else {
        size = std::min<int64_t>(size, int64_t(1) << 30);   // a medium of unknown size: one read's most
    }
    if (size <= 0) {
        h.close();
        return {};
    }
    QByteArray buffer(size, '\0');
    qint64 got = 0;
    const bool ok = h.read(buffer.data(), buffer.size(), &got);
    h.close();
    if (!ok || got <= 0)
        return {};
    bytesRead = got;
    return buffer;
}

// One call of a Windows 9x disk service; the data bytes from the offset.
QByteArray legacyRead(quint32 code, const QString &drive, int64_t sector, int64_t byteOffset, int64_t length,
                      int64_t &bytesRead)
{
    bytesRead = 0;
    if (!requestValid(sector, byteOffset, length) || sector > 0xFFFFFFFFll)
        return {};
    const QChar letter = driveLetter(drive);
    if (!letter.isLetter() || letter.unicode() > 'Z')
        return {};
    const int64_t bps = DriveInfo().BytesPerSector;
    const int64_t n = (byteOffset + length - 1) / bps + 1;
    if (code == plat::Vwin32Int21Dispatch && n > 0xFFFF)
        return {};
    plat::LegacyDiskDevice *dev = plat::LegacyDiskDevice::open();
    if (!dev)
        return {};
    QByteArray transfer(n * bps, '\0');
    const quint32 bufferAddress = dev->registerBuffer(transfer.data(), quint32(transfer.size()));
    QByteArray packet;
    quint32 packetAddress = 0;
    plat::Vwin32Registers regs;
    if (code == plat::Vwin32Int21Dispatch) {
        packet = BuildInt21Packet(quint32(sector), quint16(n), bufferAddress);
        packetAddress = dev->registerBuffer(packet.data(), quint32(packet.size()));
        regs.EBX = packetAddress;
        regs.EDX = quint32(letter.unicode() - 'A' + 1);
        regs.ECX = 0xFFFFFFFF;
        regs.EAX = 0x7305;
        regs.ESI = 0;
    } else {
        regs.EBX = bufferAddress;
        regs.EDX = quint32(sector);
        regs.ECX = quint32(n);
        regs.EAX = quint32(letter.unicode() - 'A');
        regs.EDI = 0;
        regs.ESI = 0x6000;
        regs.Flags = 0;
    }
    quint32 returned = 0;
    const bool through = dev->deviceIoControl(code, &regs, &returned);
    dev->unregisterBuffer(bufferAddress);
    if (packetAddress)
        dev->unregisterBuffer(packetAddress);
    dev->close();
    // A call that went through but reports a failed read (carry set) has
    // read nothing; its buffer must not pass for data.
    if (!through || (regs.Flags & 1))
        return {};
    bytesRead = returned;
    return transfer.mid(byteOffset, length);
}

} // namespace

bool IsWinNT()
{
    return plat::osIdentity().platformId == 2;
}

QByteArray ReadSectors(const QString &source, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    if (source.size() >= 5)
        return ReadImageFile(source, sector, byteOffset, length, bytesRead);
    DriveInfoRecord &d = DriveInfo();
    if (!d.IsNT)
        d.IsNT = IsWinNT();
    if (d.IsNT)
        return ReadSectorsNT(source, sector, byteOffset, length, bytesRead);
    QByteArray r = ReadSectorsInt21(source, sector, byteOffset, length, bytesRead);
    if (bytesRead != 0)
        return r;
    if (d.FileSystem == "FAT12" || d.FileSystem == "FAT16")
        return ReadSectorsInt25(source, sector, byteOffset, length, bytesRead);
    return {};
}

QByteArray ReadSectorsNT(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    bytesRead = 0;
    if (!requestValid(sector, byteOffset, length))
        return {};
    const QChar letter = driveLetter(drive);
    if (!letter.isLetter())
        return {};
    // Read-only: a write-protected card is still read.
    plat::Handle h = plat::openVolume(letter, plat::Access::Read);
    if (!h.valid())
        return {};
    return readWhole(h, sector, byteOffset, length, bytesRead);
}

QByteArray ReadSectorsInt21(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    return legacyRead(plat::Vwin32Int21Dispatch, drive, sector, byteOffset, length, bytesRead);
}

QByteArray ReadSectorsInt25(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    return legacyRead(plat::Vwin32Int25, drive, sector, byteOffset, length, bytesRead);
}

QByteArray ReadImageFile(const QString &path, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead)
{
    bytesRead = 0;
    if (!requestValid(sector, byteOffset, length))
        return {};
    plat::Handle h = plat::openFile(path, plat::Access::Read);
    if (!h.valid())
        return {};
    return readWhole(h, sector, byteOffset, length, bytesRead);
}

QByteArray BuildInt21Packet(uint32_t sector, uint16_t count, uint32_t bufferAddress)
{
    // Laid out naturally aligned (12 bytes, the address at 8), then the
    // address moved down to 6: the packed form.
    unsigned char natural[12] = {};
    std::memcpy(natural, &sector, 4);
    std::memcpy(natural + 4, &count, 2);
    std::memcpy(natural + 8, &bufferAddress, 4);
    std::memmove(natural + 6, natural + 8, 4);
    return QByteArray(reinterpret_cast<const char *>(natural), 10);
}

bool SeekSector(plat::Handle &handle, int64_t sector)
{
    const int64_t bps = DriveInfo().BytesPerSector;
    if (sector < 0 || bps <= 0 || sector > INT64_MAX / bps)
        return false;
    return handle.seek(sector * bps);
}

plat::Handle OpenRawVolume(const QString &drive)
{
    if (DriveInfo().BytesPerSector == 0)
        GetDriveInfo(drive);
    static const QRegularExpression letterColon("^[A-Za-z]:$");
    if (!letterColon.match(drive).hasMatch())
        return {};
    return plat::openVolume(drive[0].toUpper(), plat::Access::Read);
}

int64_t MediumBytes(const QString &drive)
{
    const QChar letter = driveLetter(drive);
    if (!letter.isLetter())
        return -1;
    plat::Handle h = plat::openVolume(letter, plat::Access::Read);
    if (!h.valid())
        return -1;
    const int64_t size = h.size();
    h.close();
    return size;
}

int64_t WholeMediumBytes(const QString &drive)
{
    const QChar letter = driveLetter(drive);
    const auto e = letter.isLetter() ? plat::DriveTable::instance().entry(letter.toUpper()) : std::nullopt;
    if (!e || !e->partitionFound)
        return -1;
    plat::Handle h = plat::openMedium(letter);
    if (!h.valid())
        return -1;
    const int64_t size = h.size();
    h.close();
    return size;
}

namespace {
bool openAt(plat::Handle h, int64_t sector, plat::Handle &out)
{
    out = h;
    if (!out.valid())
        return false;
    if (!SeekSector(out, sector)) {
        out.close();
        return false;
    }
    return true;
}
} // namespace

bool OpenDriveRead(const QString &drive, int64_t sector, plat::Handle &handle)
{
    const QChar letter = driveLetter(drive);
    return openAt(letter.isLetter() ? plat::openVolume(letter, plat::Access::Read) : plat::Handle{}, sector, handle);
}

bool OpenDriveWrite(const QString &drive, int64_t sector, plat::Handle &handle)
{
    const QChar letter = driveLetter(drive);
    return openAt(letter.isLetter() ? plat::openVolume(letter, plat::Access::ReadWrite) : plat::Handle{}, sector,
                  handle);
}

bool OpenFileAtSector(const QString &path, int64_t sector, plat::Handle &handle)
{
    return openAt(plat::openFile(path, plat::Access::Read), sector, handle);
}

void FlushClose(plat::Handle &handle)
{
    if (!handle.valid())
        return;
    handle.flush();
    handle.close();
}

void TruncateFile(const QString &path, int64_t size)
{
    if (size < 0)
        return;
    plat::Handle h = plat::openFile(path, plat::Access::Read);
    if (!h.valid())
        return;
    const qint64 length = h.size();
    h.close();
    if (length <= size)
        return;
    h = plat::openFile(path, plat::Access::ReadWrite);
    if (!h.valid())
        return;
    if (h.seek(size))
        h.truncate();
    h.close();
}
