#include "scan/rarwalk.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// RAR 4 block types and header flags.
constexpr unsigned char kMain4 = 0x73, kFile4 = 0x74, kNewSub4 = 0x7A, kEnd4 = 0x7B;
constexpr uint16_t kAddsData4 = 0x8000, kLargeFile4 = 0x0100, kEncipheredHeaders4 = 0x0080;
// RAR 5 header types and flags; a header is at most 2 MB.
constexpr uint64_t kMain5 = 1, kFile5 = 2, kService5 = 3, kEnciphered5 = 4, kEnd5 = 5;
constexpr uint64_t kExtraArea5 = 0x0001, kDataArea5 = 0x0002, kSkippable5 = 0x0004;
constexpr uint64_t kMaxHeader5 = 2 << 20;
// Data sizes beyond this are not believed (a terabyte).
constexpr uint64_t kMaxData = uint64_t(1) << 40;

// A variable-length number of RAR 5: seven bits a byte, the lowest first; a
// set high bit says that another byte follows.
bool vint(const unsigned char *p, size_t n, size_t &pos, uint64_t &v)
{
    v = 0;
    for (int shift = 0; shift < 64 && pos < n; shift += 7) {
        const unsigned char b = p[pos++];
        // The tenth byte holds the 64th bit only: more is no number.
        if (shift == 63 && (b & 0x7E))
            return false;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

RarStep stepOf(RarStep::Kind kind, int64_t at = 0)
{
    RarStep s;
    s.kind = kind;
    s.at = at;
    return s;
}

} // namespace

uint32_t Crc32(const unsigned char *p, size_t n, uint32_t crc)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

RarStep RarBlocks::first()
{
    RarStep s;
    s.want = 7;
    return s;
}

// The next block's first bytes, after `skip` bytes of data.
RarStep RarBlocks::headerAt(int64_t blockStart, int64_t skip) const
{
    RarStep s;
    s.skip = skip;
    s.want = sizeof base_;
    s.held = blockStart;
    return s;
}

RarStep RarBlocks::broken() const { return stepOf(RarStep::Kind::Broken, blockAt_); }

RarStep RarBlocks::next(const unsigned char *h, size_t n, int64_t at)
{
    switch (stage_) {
    case Stage::Signature:
        // "Rar!" 1A 07, then 00 (RAR 4) or 01 00 (RAR 5).
        if (n < 7 || std::memcmp(h, "Rar!\x1A\x07", 6) != 0 || h[6] > 1)
            return stepOf(RarStep::Kind::Unknown);
        if (h[6] == 1) {
            stage_ = Stage::Rar5Signature;
            RarStep s;
            s.want = 1;
            return s;
        }
        stage_ = Stage::Head4;
        return headerAt(at + 7, 0);
    case Stage::Rar5Signature:
        if (n < 1 || h[0] != 0)
            return stepOf(RarStep::Kind::Unknown);
        rar5_ = true;
        stage_ = Stage::Head5;
        return headerAt(at + 1, 0);
    case Stage::Head4:
    case Stage::Head5: {
        if (n < sizeof base_)
            return broken();
        blockAt_ = at;
        std::memcpy(base_, h, sizeof base_);
        size_t length = le16(h + 5);
        if (rar5_) {
            // CRC, the header's size, then at least its type and flags.
            size_t pos = 4;
            uint64_t size = 0;
            if (!vint(h, sizeof base_, pos, size) || size > kMaxHeader5 || pos + size < sizeof base_)
                return broken();
            sizeBytes_ = pos - 4;
            length = pos + size_t(size);
        }
        if (length < sizeof base_)
            return broken();
        headLength_ = length;
        stage_ = rar5_ ? Stage::Rest5 : Stage::Rest4;
        RarStep s;
        s.want = length - sizeof base_;
        s.held = at;
        return s;
    }
    case Stage::Rest4:
        return block4(h, n);
    case Stage::Rest5:
        return block5(h, n);
    }
    return broken();
}

RarStep RarBlocks::block4(const unsigned char *rest, size_t n)
{
    if (n + sizeof base_ != headLength_)
        return broken();
    // The low half of the CRC of everything after the CRC field.
    if ((Crc32(rest, n, Crc32(base_ + 2, 5)) & 0xFFFF) != le16(base_))
        return broken();
    const unsigned char type = base_[2];
    const uint16_t flags = le16(base_ + 3);
    if (!mainSeen_) {
        if (type != kMain4)
            return broken();
        mainSeen_ = true;
        if (flags & kEncipheredHeaders4)
            return stepOf(RarStep::Kind::Unknown);
    } else if (type <= kMain4 || type > kEnd4) {
        return broken();
    }
    if (type == kEnd4)
        return stepOf(RarStep::Kind::End, blockAt_ + int64_t(headLength_));
    // The header's bytes from offset 7 on are `rest`.
    uint64_t data = 0;
    if (flags & kAddsData4) {
        if (headLength_ < 11)
            return broken();
        data = le32(rest);
    }
    if ((type == kFile4 || type == kNewSub4) && (flags & kLargeFile4)) {
        if (headLength_ < 36)
            return broken();
        data |= uint64_t(le32(rest + 25)) << 32;
    }
    if (data > kMaxData)
        return broken();
    stage_ = Stage::Head4;
    return headerAt(blockAt_ + int64_t(headLength_) + int64_t(data), int64_t(data));
}

RarStep RarBlocks::block5(const unsigned char *rest, size_t n)
{
    if (n + sizeof base_ != headLength_)
        return broken();
    std::vector<unsigned char> head(base_, base_ + sizeof base_);
    head.insert(head.end(), rest, rest + n);
    const unsigned char *p = head.data();
    // The CRC of the size field and the header.
    if (Crc32(p + 4, headLength_ - 4) != le32(p))
        return broken();
    size_t pos = 4 + sizeBytes_;
    uint64_t type = 0, flags = 0, extra = 0, data = 0;
    if (!vint(p, headLength_, pos, type) || !vint(p, headLength_, pos, flags)
        || ((flags & kExtraArea5) && !vint(p, headLength_, pos, extra))
        || ((flags & kDataArea5) && !vint(p, headLength_, pos, data)) || extra > headLength_ - pos
        || data > kMaxData)
        return broken();
    if (!mainSeen_) {
        if (type == kEnciphered5)
            return stepOf(RarStep::Kind::Unknown);
        if (type != kMain5)
            return broken();
        mainSeen_ = true;
    } else if (type == kEnd5) {
        return stepOf(RarStep::Kind::End, blockAt_ + int64_t(headLength_));
    } else if (type != kFile5 && type != kService5 && !(type > kEnd5 && (flags & kSkippable5))) {
        return broken();
    }
    stage_ = Stage::Head5;
    return headerAt(blockAt_ + int64_t(headLength_) + int64_t(data), int64_t(data));
}
