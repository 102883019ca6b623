// Raw sector reading of drives and disk image files, and the volume handles
// of the long sequential reads and writes.
#pragma once

#include "platform/rawio.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// All reads take (source, first sector, byte offset, length, bytes read) and
// return the whole sectors from the first sector that cover offset + length
// (exactly the requested bytes on the Windows 9x paths), or nothing. Bytes
// read is 0 on every failure. A source of five or more characters is the
// path of a disk image file; otherwise its first character names the drive.
QByteArray ReadSectors(const QString &source, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead);
QByteArray ReadSectorsNT(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead);
QByteArray ReadSectorsInt21(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead);
QByteArray ReadSectorsInt25(const QString &drive, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead);
QByteArray ReadImageFile(const QString &path, int64_t sector, int64_t byteOffset, int64_t length, int64_t &bytesRead);

// The 10-byte transfer packet of INT 21h function 7305h.
QByteArray BuildInt21Packet(uint32_t sector, uint16_t count, uint32_t bufferAddress);

bool IsWinNT();
// Positions the handle at sector x BytesPerSector; false for a negative
// sector or an empty record.
bool SeekSector(plat::Handle &handle, int64_t sector);

plat::Handle OpenRawVolume(const QString &drive);
// The size in bytes of a drive's raw volume (the device's, or the window of
// an image attached as a drive), read from the medium itself; -1 when it
// cannot be opened.
int64_t MediumBytes(const QString &drive);
// The size of the whole medium behind a drive whose volume is the partition
// found in a whole-disk image (plat::openMedium); -1 for every other drive.
int64_t WholeMediumBytes(const QString &drive);
bool OpenDriveRead(const QString &drive, int64_t sector, plat::Handle &handle);
bool OpenDriveWrite(const QString &drive, int64_t sector, plat::Handle &handle);
bool OpenFileAtSector(const QString &path, int64_t sector, plat::Handle &handle);
void FlushClose(plat::Handle &handle);
// Cuts a file to size when it is longer; a shorter file is not opened.
void TruncateFile(const QString &path, int64_t size);
