#include "platform/legacydisk.h"

#include "platform/drives.h"
#include "platform/os.h"
#include "platform/rawio.h"

#include <QHash>
#include <cstring>

namespace plat {

namespace {
struct Buffer {
    void *data;
    quint32 size;
};
QHash<quint32, Buffer> &buffers()
{
    static QHash<quint32, Buffer> b;
    return b;
}
quint32 &nextAddress()
{
    static quint32 a = 0x10000;
    return a;
}
bool &fails(quint32 code)
{
    static bool f21 = false, f25 = false, other = false;
    return code == Vwin32Int25 ? f25 : code == Vwin32Int21Dispatch ? f21 : other;
}

// Reads whole sectors of a drive into a registered buffer.
bool readInto(QChar letter, quint32 sector, quint32 count, quint32 address)
{
    auto it = buffers().find(address);
    if (it == buffers().end())
        return false;
    const qint64 ss = volumeSectorSize(letter);
    const qint64 bytes = qint64(count) * ss;
    if (bytes <= 0 || bytes > it->size)
        return false;
    Handle h = openVolume(letter, Access::Read);
    if (!h.valid())
        return false;
    qint64 got = 0;
    bool ok = h.seek(qint64(sector) * ss) && h.read(it->data, bytes, &got) && got == bytes;
    h.close();
    return ok;
}
} // namespace

LegacyDiskDevice *LegacyDiskDevice::open()
{
    if (osIdentity().platformId != 1)
        return nullptr;
    static LegacyDiskDevice device;
    return &device;
}

void LegacyDiskDevice::close() {}

quint32 LegacyDiskDevice::registerBuffer(void *data, quint32 size)
{
    const quint32 a = nextAddress();
    nextAddress() += 0x10;
    if (nextAddress() < 0x10000)
        nextAddress() = 0x10000;
    buffers().insert(a, Buffer{data, size});
    return a;
}

void LegacyDiskDevice::unregisterBuffer(quint32 address) { buffers().remove(address); }

bool LegacyDiskDevice::deviceIoControl(quint32 code, Vwin32Registers *regs, quint32 *bytesReturned)
{
    if (bytesReturned)
        *bytesReturned = 0;
    if (!regs || fails(code))
        return false;
    bool ok = false;
    if (code == Vwin32Int21Dispatch && (regs->EAX & 0xFFFF) == 0x7305 && regs->ESI == 0) {
        // EBX addresses the packed packet: u32 first sector, u16 count, u32 buffer.
        auto it = buffers().find(regs->EBX);
        if (it != buffers().end() && it->size >= 10 && regs->EDX >= 1 && regs->EDX <= 26) {
            const auto *p = static_cast<const unsigned char *>(it->data);
            quint32 sector, address;
            quint16 count;
            std::memcpy(&sector, p, 4);
            std::memcpy(&count, p + 4, 2);
            std::memcpy(&address, p + 6, 4);
            ok = readInto(QChar('A' + int(regs->EDX) - 1), sector, count, address);
        }
    } else if (code == Vwin32Int25 && regs->EAX <= 25) {
        ok = readInto(QChar('A' + int(regs->EAX)), regs->EDX, regs->ECX, regs->EBX);
    } else {
        return false;
    }
    regs->Flags = ok ? (regs->Flags & ~1u) : (regs->Flags | 1u);
    if (bytesReturned)
        *bytesReturned = sizeof(Vwin32Registers);
    return true;
}

void LegacyDiskDevice::setServiceFails(quint32 code, bool f) { fails(code) = f; }

} // namespace plat
