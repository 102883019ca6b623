// Bounded parsers of NTFS on-disk structures, used by the exports in
// fennick.cpp. Every function takes the bytes it may look at as a pointer and
// a length and never reads outside them. Nothing here is exported from the
// library (hidden visibility); tests and the fuzz target compile it directly.
#pragma once

#include "ntfs/fennick_boot.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace fennick_core {

inline void st16(uint8_t *p, uint16_t v) { memcpy(p, &v, 2); }

constexpr uint32_t kFileSignature = 0x454C4946;   // "FILE"
constexpr uint32_t kBadSignature = 0x44414142;    // "BAAD"
constexpr uint32_t kEndMarker = 0xFFFFFFFF;
// The boot sector's reader (Geometry, recordSizeFrom, parseBootSector) is in
// fennick_boot.h, shared with the program's volume facts.

// The update-sequence fix-up of one record in place, stride 512 whatever the
// sector size. Idempotent: a sector whose last word already holds its saved
// value is left as it is. Returns false, leaving the record unchanged, when the
// update-sequence fields do not fit the record or a sector's last word holds
// neither the sequence number nor its saved value (a torn or damaged record).
bool applyFixup(uint8_t *rec, size_t recSize);

bool isFileRecord(const uint8_t *rec, size_t recSize);

// An attribute found in a record, with its own bytes bounded.
struct Attr {
    const uint8_t *p = nullptr;
    uint32_t length = 0;
    uint32_t type = 0;
    bool nonResident = false;
    uint8_t nameLength = 0;
};

// Walks the well-formed attributes of a record (bounded by the record and its
// bytes-in-use). `next` starts at 0; each call gives the next attribute.
// Malformed attributes whose length is sound are stepped over; a length that
// leaves the record ends the walk.
struct AttrWalk {
    const uint8_t *rec;
    size_t limit;
    size_t next = 0;
    AttrWalk(const uint8_t *record, size_t recSize);
    bool step(Attr *out);
};

// Checks one attribute against the bytes available from its start.
bool attrFromBytes(const uint8_t *p, size_t avail, Attr *out);

// First well-formed attribute of the type; for $DATA only an unnamed one.
bool findAttribute(const uint8_t *rec, size_t recSize, uint32_t type, Attr *out);

// Resident value of a well-formed resident attribute.
inline const uint8_t *residentValue(const Attr &a, uint32_t *length)
{
    *length = ld32(a.p + 0x10);
    return a.p + ld16(a.p + 0x14);
}

// One decoded data run.
struct Run {
    uint64_t startVcn = 0;
    uint64_t length = 0;
    int64_t lcn = 0;    // for a sparse run, the running sum of the runs before
    bool sparse = false;
};

// Decodes the run list of a well-formed non-resident attribute; stops at the
// end byte, at a malformed entry, or where the list would leave the
// attribute.
struct RunWalk {
    const uint8_t *p;
    const uint8_t *end;
    uint64_t vcn;
    int64_t lcn = 0;
    explicit RunWalk(const Attr &a);
    bool step(Run *out);
};

uint32_t countRuns(const Attr &a);

struct NonResidentInfo {
    uint64_t firstVcn;
    int64_t lastVcn;
    uint64_t allocatedSize;
    uint64_t dataSize;
    uint64_t initializedSize;
};
inline NonResidentInfo nonResidentInfo(const Attr &a)
{
    return {ld64(a.p + 0x10), static_cast<int64_t>(ld64(a.p + 0x18)), ld64(a.p + 0x28), ld64(a.p + 0x30),
            ld64(a.p + 0x38)};
}

// VCN to LCN: false when no run covers the VCN.
bool mapVcn(const Attr &a, uint64_t vcn, Run *run);

// A $FILE_NAME value checked against its attribute.
struct FileName {
    const uint8_t *attr = nullptr;
    uint64_t parent = 0;        // 48-bit record number
    uint8_t nameSpace = 0;
    uint8_t length = 0;         // characters
    const uint8_t *name = nullptr;
};
// fixedOffset: the value must lie at 0x18, as readers at fixed offsets expect.
bool fileNameOf(const Attr &a, bool fixedOffset, FileName *out);

// The long name (namespaces 0, 1, 3) and the DOS name (2, 3) of a record; a
// later attribute overrides an earlier one.
void namesOf(const uint8_t *rec, size_t recSize, FileName *longName, FileName *dosName);

} // namespace fennick_core
