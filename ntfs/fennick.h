/* Fennick: reads the master file table of an NTFS volume.
 *
 * The library opens a volume read-only (a partition device such as /dev/sdb1,
 * or an NTFS image file), loads its master file table (MFT) into one block
 * that it allocates, answers questions about the file records in that block
 * and reads file data by cluster. It has no threads, files or settings; it
 * only reads. Everything read from the volume is checked against the record,
 * the attribute and the table before it is used, so a damaged volume gives
 * failure values, never a read or write out of bounds.
 *
 * Calling order: OpenVolume, GetMFTInfo, MapMFT(&info.DataSize), the record
 * calls and ReadVCN, UnmapMFT, CloseVolume.
 *
 * The functions are declared in their fixed (ordinal) order, which is also the
 * order of fennick.map. u64 arguments are passed by pointer.
 */
#ifndef FENNICK_H
#define FENNICK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(FENNICK_BUILD)
#define FENNICK_API __attribute__((visibility("default")))
#else
#define FENNICK_API
#endif

/* A volume handle: never 0 (0 means "none" to callers); -1 is invalid. */
typedef intptr_t FennickHandle;
#define FENNICK_INVALID_HANDLE ((FennickHandle)-1)

/* Attribute types and the fields callers read from an attribute header. */
#define FENNICK_ATTR_STANDARD_INFORMATION 0x10u
#define FENNICK_ATTR_FILE_NAME 0x30u
#define FENNICK_ATTR_DATA 0x80u
#define FENNICK_ATTR_FLAGS_OFFSET 0x0C      /* u16 */
#define FENNICK_ATTR_COMPRESSED 0x0001u     /* data is read raw: warn the user */
#define FENNICK_ATTR_ENCRYPTED 0x4000u      /* data is read raw: warn the user */
#define FENNICK_ATTR_SPARSE 0x8000u
/* Record flags (u16 at 0x16 of a file record). */
#define FENNICK_RECORD_IN_USE 0x0001u
#define FENNICK_RECORD_DIRECTORY 0x0002u

#pragma pack(push, 1)
/* One data run: the first VCN after the run, and its first LCN. */
typedef struct RunEntry {
    uint64_t NextVcn;
    uint64_t Lcn;
} RunEntry;

typedef struct RunList {
    uint16_t Name[255];  /* UTF-16, NUL-terminated when shorter than 255 */
    uint32_t Valid;      /* 1 once runs were decoded into the list */
    uint32_t Count;      /* in: capacity of Entries; out: the true number of runs */
    RunEntry *Entries;   /* caller's array, or null for no runs */
} RunList;

typedef struct MftInfo {
    uint64_t DataSize;    /* bytes of the MFT's unnamed $DATA */
    uint32_t RecordCount; /* DataSize / record size */
    uint32_t RunCount;    /* runs of that $DATA; in: capacity of Runs.Entries */
    uint32_t Reserved;    /* 0 */
    RunList Runs;
} MftInfo;
#pragma pack(pop)

#if defined(__x86_64__)
#ifdef __cplusplus
static_assert(sizeof(RunEntry) == 16, "RunEntry layout");
static_assert(offsetof(RunList, Valid) == 510, "RunList layout");
static_assert(offsetof(RunList, Count) == 514, "RunList layout");
static_assert(offsetof(RunList, Entries) == 518, "RunList layout");
static_assert(sizeof(RunList) == 526, "RunList layout");
static_assert(offsetof(MftInfo, RecordCount) == 8, "MftInfo layout");
static_assert(offsetof(MftInfo, RunCount) == 12, "MftInfo layout");
static_assert(offsetof(MftInfo, Reserved) == 16, "MftInfo layout");
static_assert(offsetof(MftInfo, Runs) == 20, "MftInfo layout");
static_assert(sizeof(MftInfo) == 546, "MftInfo layout");
#else
_Static_assert(sizeof(RunEntry) == 16, "RunEntry layout");
_Static_assert(offsetof(RunList, Entries) == 518, "RunList layout");
_Static_assert(sizeof(RunList) == 526, "RunList layout");
_Static_assert(offsetof(MftInfo, Runs) == 20, "MftInfo layout");
_Static_assert(sizeof(MftInfo) == 546, "MftInfo layout");
#endif
#endif

/* 1. Opens a volume read-only; checks "NTFS" at boot byte 3 and the geometry
 * (bytes per sector 256..4096, a power of two; a valid cluster size; a record
 * size of 512..65536, a power of two; the MFT inside the volume). Returns -1
 * on any failure. The boot sector is kept as the library's copy. A path that
 * names no file but ends in "@FIRST+LENGTH" (decimal byte counts) names the
 * volume inside that window of the file before the "@" (a partition of a
 * whole-disk image): nothing outside the window is read. */
FENNICK_API FennickHandle OpenVolume(const char *path);
/* 2. Closes a handle that OpenVolume gave: 1, else 0 (also for -1 or a
 * handle the library did not open). */
FENNICK_API int32_t CloseVolume(FennickHandle h);
/* 3. Reads the 512 bytes at volume offset 0: 1 only when all 512 arrived. */
FENNICK_API int32_t ReadBootSector(FennickHandle h, void *buf512);
/* 4. Fills *info from MFT record 0: 1, or 0 (a table of 4 GiB or more, or
 * larger than the volume, is refused). *info is zeroed first except
 * Runs.Entries. Two calls: the first (Entries null) gives RunCount; the caller
 * allocates RunCount entries, sets Runs.Entries and calls again; the incoming
 * RunCount is then the capacity, never exceeded (Runs.Count stays the true
 * number). */
FENNICK_API int32_t GetMFTInfo(FennickHandle h, MftInfo *info);
/* 5. The run count of the MFT's $DATA; 0 on failure. */
FENNICK_API uint32_t GetMFTRuns(FennickHandle h);
/* 6. Loads *byteCount bytes of the MFT (normally info.DataSize) into a new
 * zero-filled block, applies the update-sequence fix-up to every record and
 * marks a record whose fix-up does not match as damaged (its signature becomes
 * "BAAD", so the record calls refuse it). Null on failure: a count of 0, of
 * 4 GiB or more, or above the volume's size. Free with UnmapMFT. */
FENNICK_API void *MapMFT(FennickHandle h, const uint64_t *byteCount);
/* 7. Frees a block from MapMFT; null and unknown pointers are ignored. */
FENNICK_API void UnmapMFT(void *block);
/* 8. Reads *byteCount bytes of a non-resident attribute from VCN *vcn into
 * buf, advancing *vcn. Sparse runs and bytes above the initialized size read
 * as zeros; a part that cannot be read is zero-filled. Returns 1 only when
 * every byte was read (or is a hole); 0 means the buffer is incomplete (what
 * could be read is there, the rest is zeros). */
FENNICK_API int32_t ReadVCN(FennickHandle h, const void *nonResidentAttr, uint64_t *vcn,
                            const int64_t *byteCount, void *buf);
/* 9. Reads *byteCount bytes at cluster *lcn: 1 only when all arrived (the rest
 * of buf is zero-filled). */
FENNICK_API int32_t ReadLCN(FennickHandle h, const uint64_t *lcn, void *buf, const uint64_t *byteCount);
/* 10. Maps a VCN of a non-resident attribute: 1 with the LCN and the whole
 * length of the covering run; 0 with *lcn = 0 when no run covers the VCN
 * (after the last VCN, before the first, or in a gap). For a sparse run the
 * LCN is the running sum of the runs before it. */
FENNICK_API int32_t MapVCN2LCN(const void *nonResidentAttr, const uint64_t *vcn, uint64_t *lcn,
                               uint64_t *runLength);
/* 11. The address of record `record` in a block from MapMFT, or null when the
 * record does not lie wholly inside the block. */
FENNICK_API void *GetFileRecordFromBuffer(void *block, uint32_t record);
/* 12. 0 when the record is not a usable "FILE" record; -1 for a directory or a
 * record without unnamed $DATA; else the number of data runs (0 when
 * resident). */
FENNICK_API int32_t GetFileRecordRunsCount(void *block, uint32_t record);
/* 13. Decodes the record's $DATA runs into *runs (not for directories or
 * resident data; the incoming Count is the capacity of Entries) and copies its
 * first $FILE_NAME into Name. 1, or 0 when the record is not a usable "FILE"
 * record. */
FENNICK_API int32_t GetFileRecordClustersFromBuffer(void *block, uint32_t record, RunList *runs);
/* 14. The record's resident $STANDARD_INFORMATION attribute (its value holds
 * at least the creation and modification times), or null. */
FENNICK_API void *GetFileStandardInformation(void *block, uint32_t record);
/* 15. The record's $FILE_NAME attributes: *longName (namespace 0, 1 or 3) and
 * *dosName (2 or 3); a later attribute overrides an earlier one. Every one
 * returned has its value at offset 0x18, with the name length at 0x58 and the
 * name at 0x5A lying inside the attribute. 1, or 0 (null block, not a usable
 * record). */
FENNICK_API int32_t GetFileName(void *block, uint32_t record, void **longName, void **dosName);
/* 16. The record's first well-formed attribute of the type (for $DATA the
 * unnamed one), or null. A resident one's value lies inside the attribute. */
FENNICK_API void *GetFileRecordAttribute(void *block, uint32_t record, uint32_t type);
/* 17. The same walk on a record given by address (inside a block from
 * MapMFT, or a record of the size of the last opened volume). */
FENNICK_API void *FindUnnamedAttribute(void *fileRecord, uint32_t type);
/* 18. Appends the record's path from the root ("Pictures\2009\img_0001.jpg")
 * to the UTF-16 text in buf. budgetBytes counts the text's bytes without the
 * terminator: buf must hold budgetBytes + 2 bytes. 1 only when the whole chain
 * of parents reached the root; 0 otherwise (the text may then hold a part). */
FENNICK_API int32_t GetFilePath(void *block, uint32_t record, uint16_t *buf, int32_t budgetBytes);
/* 19. Reads *byteCount bytes at cluster *lcn: 1 only when all arrived. */
FENNICK_API int32_t ReadBytes(FennickHandle h, const uint64_t *lcn, void *buf, const uint32_t *byteCount);

#ifdef __cplusplus
}
#endif

#endif /* FENNICK_H */
