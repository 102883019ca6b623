// The drive record: one drive (or the drive of an image) described from the
// platform's volume facts and from its own boot sector, FATs and root folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "on-disk structures are read in place");

#pragma pack(push, 1)
// One 32-byte FAT directory entry as stored on the medium.
struct FatDirEntry {
    uint8_t Name[8];        // blank-padded; 0xE5 first marks a deleted entry
    uint8_t Ext[3];
    uint8_t Attributes;     // 8 volume label, 16 directory, 0x0F long name
    uint8_t Reserved;
    uint8_t CreateTenths;   // creation time, 10 ms units
    uint16_t CreateTime;
    uint16_t CreateDate;
    uint16_t AccessDate;
    uint16_t ClusterHigh;   // FAT32
    uint16_t WriteTime;
    uint16_t WriteDate;
    uint16_t ClusterLow;
    uint32_t Size;
};
#pragma pack(pop)
static_assert(sizeof(FatDirEntry) == 32, "a FAT directory entry is 32 bytes");

struct DriveInfoRecord {
    uint32_t SectorsPerCluster = 0;    // held wide: exFAT and NTFS clusters exceed 255 sectors
    int32_t BytesPerSector = 0;        // 0: the record is not filled
    QString FileSystem;
    QString DriveType;
    QString VolumeLabel;
    uint32_t VolumeSerial = 0;
    double TotalSectors = 0;
    double TotalMB = 0;
    double FreeMB = 0;
    QByteArray BootSectorBytes;
    uint32_t Fingerprint = 0;
    uint32_t NumberOfFats = 0;
    uint32_t HiddenSectors = 0;
    int32_t ReservedSectors = 0;
    int64_t SectorsPerFat = 0;
    float FatEntryWidth = 0;
    int64_t FirstRootDirSector = 0;
    int32_t RootDirSectorsMinusOne = 0;
    uint32_t MftCluster = 0;
    int32_t ClustersPerMftRecord = 0;
    int64_t FirstDataSector = 0;       // sector of cluster FirstCluster
    double TotalClusters = 0;
    QByteArray Fat1Bytes, Fat2Bytes;
    QByteArray Fat1Text, Fat2Text;     // the same bytes, one character a byte
    std::vector<int32_t> Fat32Entries;
    std::vector<int16_t> Fat16Entries;
    std::vector<int16_t> Fat12Entries;
    std::vector<FatDirEntry> RootDirEntries;
    std::vector<FatDirEntry> CurrentDirEntries;
    int32_t FirstCluster = 0;          // the first data cluster: 2
    int32_t RootCluster = 0;           // first cluster of the root folder (FAT32); 2 elsewhere
    bool IsNT = false;
    QChar DriveLetter;                 // the drive the record describes
    int64_t MediumSize = -1;           // bytes of the raw volume as read; -1 it could not be opened
    int OpenError = 0;                 // errno of that failed open (EACCES, EPERM: no rights)
};

// What tells one medium from another in the same drive: its serial, file
// system, stated size, fingerprint of FAT and root folder, the length of its
// raw volume, and a digest of the bytes of its boot sector, first FAT and
// root folder (two cards formatted alike with files of the same sizes share
// a fingerprint, not a digest). A null letter: no medium described.
struct DriveIdentity {
    QChar letter;
    uint32_t serial = 0;
    QString fileSystem;
    double totalSectors = 0;
    int32_t bytesPerSector = 0;
    uint32_t fingerprint = 0;
    int64_t mediumBytes = -1;
    QByteArray digest;
    bool operator==(const DriveIdentity &) const = default;
};
DriveIdentity IdentityOfRecord(const DriveInfoRecord &d);

// Whether a drive can be read as a source.
enum class DriveAccess {
    Ready,       // the medium opens (or the drive has no raw volume to open)
    NotReady,    // no medium, an empty or missing image, not a file
    NoRights,    // the medium is there, but the program may not read it
    Unreadable,  // the medium is there, but its open fails otherwise
};
struct DriveRecheck {
    DriveAccess access = DriveAccess::NotReady;
    DriveIdentity identity;
};
// Reads a drive's identity again: the record is filled afresh for source
// (GetDriveInfo) and the medium's readiness and rights are told.
DriveRecheck RecheckDrive(const QString &source);

// The one drive record of the program.
DriveInfoRecord &DriveInfo();

// Fills the record for the drive named by the first character of source.
void GetDriveInfo(const QString &source);
void ResetDriveInfo();
// Readiness of the drive that holds path: empty (not ready) for fewer than
// two characters or a drive the platform does not know.
std::optional<bool> IsDriveReady(const QString &path);
void ParseBootSector(const QString &root);
// The serial of the root named by the first three characters of drive with
// "\" appended; 0 when it cannot be read. Leaves the record alone.
uint32_t GetVolumeSerial(const QString &drive);

// The text of a drive type code ("Missing", "Unknown", "Removable", ...).
QString DriveTypeText(int code);

int32_t MakeLong(int16_t low, int16_t high);
int32_t UnsignedWord(int16_t value);
QString CutAtNul(const QString &text);
// Whole number nearest to value, halves to the even neighbour.
int64_t RoundHalfEven(double value);
