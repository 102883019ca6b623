// The tools that write to a removable medium, without a window: writing a
// disk image back onto the medium and filling the medium with zeros. Both
// write only through the guarded target of platform/rawwrite.h.
#pragma once

#include "platform/rawio.h"
#include "platform/rawwrite.h"

#include <QByteArray>
#include <cstdint>
#include <functional>

// A disk image belongs to a medium when the first 34 bytes of their sector 0
// agree (jump, maker's name and the geometry of the boot sector).
bool SameBootSignature(const QByteArray &imageSector0, const QByteArray &mediumSector0);

// The size in bytes that the volume in an image's first sector states (a
// FAT boot sector's total sectors; the clusters of NTFS and exFAT with what
// lies before them); -1 when the sector holds no volume of those.
int64_t StatedVolumeBytes(const QByteArray &bootSector);

struct WriteCallbacks {
    std::function<bool()> stopRequested;        // tested before every write
    std::function<void()> blockWritten;         // progress and the window's events
};

struct WriteOutcome {
    int64_t bytesWritten = 0;
    int64_t bytesExpected = 0;
    bool stopped = false;
    bool failed = false;         // a write wrote less than asked, or nothing
    // Every byte that was to be written is written.
    bool finished() const { return !stopped && !failed && bytesWritten == bytesExpected; }
};

// Zeros from startOffset to the end of the target: blocks of blockBytes
// while a whole block fits, then single sectors for the tail.
WriteOutcome ZeroFill(plat::RawWriteTarget &target, int64_t startOffset, int blockBytes, int sectorBytes,
                      const WriteCallbacks &cb);

// The image (read-only handle) from byte 0 onto the target in blocks; the
// last block writes only the bytes read. An image longer than the medium
// fails where the medium ends.
WriteOutcome RestoreImageOnto(plat::Handle &image, plat::RawWriteTarget &target, int blockBytes,
                              const WriteCallbacks &cb);
