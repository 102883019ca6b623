#include "ntfs/fennick_core.h"

namespace fennick_core {

bool applyFixup(uint8_t *rec, size_t recSize)
{
    if (recSize < kMinRecordSize || recSize % 512 != 0 || recSize > kMaxRecordSize)
        return false;
    const uint32_t usaOffset = ld16(rec + 4);
    const uint32_t usaCount = ld16(rec + 6);
    const uint32_t sectors = uint32_t(recSize / 512);
    if (usaCount != sectors + 1 || usaOffset < 8 || (usaOffset & 1) != 0
        || usaOffset + 2 * usaCount > 510)
        return false;
    const uint8_t *usa = rec + usaOffset;
    const uint16_t usn = ld16(usa);
    // Check every sector first, so that a damaged record is left unchanged.
    for (uint32_t i = 1; i < usaCount; ++i) {
        const uint16_t tail = ld16(rec + i * 512 - 2);
        if (tail != usn && tail != ld16(usa + 2 * i))
            return false;
    }
    for (uint32_t i = 1; i < usaCount; ++i)
        memcpy(rec + i * 512 - 2, usa + 2 * i, 2);
    return true;
}

bool isFileRecord(const uint8_t *rec, size_t recSize)
{
    return rec && recSize >= kMinRecordSize && ld32(rec) == kFileSignature;
}

AttrWalk::AttrWalk(const uint8_t *record, size_t recSize) : rec(record), limit(0)
{
    if (!isFileRecord(record, recSize))
        return;
    const size_t first = ld16(record + 0x14);
    const size_t inUse = ld32(record + 0x18);
    limit = recSize;
    if (inUse <= recSize && inUse >= first + 4)
        limit = inUse;
    next = first;
    if (first < 0x18 || first >= limit)
        limit = 0;
}

bool attrFromBytes(const uint8_t *p, size_t avail, Attr *out)
{
    if (avail < 0x18)
        return false;
    const uint32_t length = ld32(p + 4);
    if (length < 0x18 || length > avail)
        return false;
    Attr a;
    a.p = p;
    a.length = length;
    a.type = ld32(p);
    const uint8_t flag = p[8];
    if (flag > 1)
        return false;
    a.nonResident = flag == 1;
    a.nameLength = p[9];
    if (a.nameLength) {
        const uint32_t nameOffset = ld16(p + 0x0A);
        if (nameOffset < 0x10 || uint64_t(nameOffset) + 2u * a.nameLength > length)
            return false;
    }
    if (a.nonResident) {
        if (length < 0x40)
            return false;
        const uint32_t runs = ld16(p + 0x20);
        if (runs < 0x40 || runs > length)
            return false;
    } else {
        const uint64_t valueLength = ld32(p + 0x10);
        const uint64_t valueOffset = ld16(p + 0x14);
        if (valueOffset < 0x18 || valueOffset + valueLength > length)
            return false;
    }
    *out = a;
    return true;
}

bool AttrWalk::step(Attr *out)
{
    while (next + 8 <= limit) {
        const uint8_t *p = rec + next;
        if (ld32(p) == kEndMarker)
            break;
        const uint32_t length = ld32(p + 4);
        if (length < 0x18 || length > limit - next)
            break;
        const size_t here = next;
        next += length;
        if (attrFromBytes(rec + here, length, out))
            return true;
    }
    next = limit;
    return false;
}

bool findAttribute(const uint8_t *rec, size_t recSize, uint32_t type, Attr *out)
{
    AttrWalk walk(rec, recSize);
    Attr a;
    while (walk.step(&a)) {
        if (a.type != type)
            continue;
        // A named $DATA is a stream of the file, not its content.
        if (type == 0x80 && a.nameLength != 0)
            continue;
        *out = a;
        return true;
    }
    return false;
}

RunWalk::RunWalk(const Attr &a)
    : p(a.p + ld16(a.p + 0x20)), end(a.p + a.length), vcn(ld64(a.p + 0x10))
{
    if (!a.nonResident || vcn > uint64_t(INT64_MAX))
        p = end;
}

bool RunWalk::step(Run *out)
{
    if (p >= end || *p == 0)
        return false;
    const unsigned lengthBytes = *p & 0x0F;
    const unsigned offsetBytes = *p >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8
        || size_t(end - p) < 1 + lengthBytes + offsetBytes) {
        p = end;
        return false;
    }
    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i)
        length |= uint64_t(p[1 + i]) << (8 * i);
    uint64_t delta = 0;
    for (unsigned i = 0; i < offsetBytes; ++i)
        delta |= uint64_t(p[1 + lengthBytes + i]) << (8 * i);
    if (offsetBytes > 0 && offsetBytes < 8 && (p[lengthBytes + offsetBytes] & 0x80))
        delta |= ~uint64_t(0) << (8 * offsetBytes);   // sign extension
    // Bounds: VCNs stay below 2^63, LCNs stay in 0..2^63.
    if (length == 0 || length > uint64_t(INT64_MAX) - vcn) {
        p = end;
        return false;
    }
    Run r;
    r.startVcn = vcn;
    r.length = length;
    r.sparse = offsetBytes == 0;
    if (!r.sparse) {
        const int64_t d = int64_t(delta);
        int64_t sum;
        if (__builtin_add_overflow(lcn, d, &sum) || sum < 0) {
            p = end;
            return false;
        }
        lcn = sum;
    }
    r.lcn = lcn;
    vcn += length;
    p += 1 + lengthBytes + offsetBytes;
    *out = r;
    return true;
}

uint32_t countRuns(const Attr &a)
{
    if (!a.nonResident)
        return 0;
    RunWalk walk(a);
    Run r;
    uint32_t n = 0;
    while (walk.step(&r))
        ++n;
    return n;
}

bool mapVcn(const Attr &a, uint64_t vcn, Run *run)
{
    if (!a.nonResident)
        return false;
    const NonResidentInfo info = nonResidentInfo(a);
    if (vcn > uint64_t(INT64_MAX) || int64_t(vcn) > info.lastVcn || vcn < info.firstVcn)
        return false;
    RunWalk walk(a);
    Run r;
    while (walk.step(&r)) {
        if (vcn < r.startVcn)
            return false;   // runs are in VCN order: nothing later covers it
        if (vcn - r.startVcn < r.length) {
            *run = r;
            return true;
        }
    }
    return false;
}

bool fileNameOf(const Attr &a, bool fixedOffset, FileName *out)
{
    if (a.type != 0x30 || a.nonResident)
        return false;
    uint32_t valueLength;
    const uint8_t *v = residentValue(a, &valueLength);
    if (fixedOffset && v != a.p + 0x18)
        return false;
    if (valueLength < 0x42)
        return false;
    const uint8_t length = v[0x40];
    if (0x42u + 2u * length > valueLength)
        return false;
    out->attr = a.p;
    out->parent = ld64(v) & 0xFFFFFFFFFFFFull;
    out->nameSpace = v[0x41];
    out->length = length;
    out->name = v + 0x42;
    return true;
}

void namesOf(const uint8_t *rec, size_t recSize, FileName *longName, FileName *dosName)
{
    *longName = FileName();
    *dosName = FileName();
    AttrWalk walk(rec, recSize);
    Attr a;
    while (walk.step(&a)) {
        FileName fn;
        if (a.type != 0x30 || !fileNameOf(a, true, &fn))
            continue;
        if (fn.nameSpace == 0 || fn.nameSpace == 1 || fn.nameSpace == 3)
            *longName = fn;
        if (fn.nameSpace == 2 || fn.nameSpace == 3)
            *dosName = fn;
    }
}

} // namespace fennick_core
