// The absolute-disk-read services of the Windows 9x family ("\\.\VWIN32"),
// emulated over the volumes of the drive table. The device exists only while
// the OS identity says platform 1. Buffer addresses in the register block and
// the transfer packet are handles into a table of registered buffers, since a
// pointer does not fit a 32-bit field here.
#pragma once

#include <QtGlobal>

namespace plat {

struct Vwin32Registers {
    quint32 EBX = 0;
    quint32 EDX = 0;
    quint32 ECX = 0;
    quint32 EAX = 0;
    quint32 EDI = 0;
    quint32 ESI = 0;
    quint32 Flags = 0;   // bit 0: carry, set on failure
};
static_assert(sizeof(Vwin32Registers) == 28, "the register block is 28 bytes");

enum : quint32 {
    Vwin32Int25 = 2,           // absolute disk read
    Vwin32Int21Dispatch = 6,   // INT 21h, here function 7305h
};

class LegacyDiskDevice {
public:
    // Opens the device; null on the NT family.
    static LegacyDiskDevice *open();
    void close();

    // A buffer the device may address; 0 is never a valid address.
    quint32 registerBuffer(void *data, quint32 size);
    void unregisterBuffer(quint32 address);

    // DeviceIoControl with the 28-byte register block as input and output.
    // True when the call went through; *bytesReturned is then 28.
    bool deviceIoControl(quint32 code, Vwin32Registers *regs, quint32 *bytesReturned);

    // Tests: make one of the services fail as an old system would.
    static void setServiceFails(quint32 code, bool fails);

private:
    LegacyDiskDevice() = default;
};

} // namespace plat
