#include "scan/isomedia.h"

namespace {

uint32_t be32(const unsigned char *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint64_t be64(const unsigned char *p) { return (uint64_t(be32(p)) << 32) | be32(p + 4); }

constexpr uint32_t fourCc(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8)
           | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kFtyp = fourCc("ftyp"), kMoov = fourCc("moov"), kMdat = fourCc("mdat"), kMoof = fourCc("moof");

// A box header: size 0 runs to the end of the data.
struct BoxHeader {
    uint64_t size = 0;
    uint32_t type = 0;
    int bytes = 8;
};

// The header at p: false when its bytes are not at hand or its size is
// impossible (2 to 7, or a 64-bit size below 16).
bool readHeader(const unsigned char *p, size_t n, BoxHeader &h)
{
    if (n < 8)
        return false;
    h.size = be32(p);
    h.type = be32(p + 4);
    h.bytes = 8;
    if (h.size == 1) {
        if (n < 16)
            return false;
        h.size = be64(p + 8);
        h.bytes = 16;
        return h.size >= 16;
    }
    return h.size == 0 || h.size >= 8;
}

// Whether a stated size fits the bytes from its box's start to the medium's
// end (negative: not known); sizes beyond a terabyte are never believed.
bool fits(uint64_t size, int64_t left)
{
    return size <= uint64_t(kMaxWalkLength) && (left < 0 || size <= uint64_t(left));
}

bool printableType(uint32_t t)
{
    for (int s = 0; s < 32; s += 8) {
        const uint32_t c = (t >> s) & 0xFF;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool oneOf(uint32_t t, std::initializer_list<uint32_t> types)
{
    for (uint32_t k : types)
        if (t == k)
            return true;
    return false;
}

// The boxes a movie may begin with.
bool startType(uint32_t t)
{
    return oneOf(t, {kFtyp, kMoov, kMdat, fourCc("wide"), fourCc("free"), fourCc("skip"), fourCc("pnot")});
}

// The boxes that stand at the top of a movie after its first.
bool topLevel(uint32_t t)
{
    return oneOf(t, {kMoov, kMdat, fourCc("free"), fourCc("skip"), fourCc("wide"), fourCc("pnot"), fourCc("PICT"),
                     fourCc("udta"), fourCc("uuid"), fourCc("meta"), kMoof, fourCc("mfra"), fourCc("sidx"),
                     fourCc("ssix"), fourCc("styp"), fourCc("prft"), fourCc("emsg"), fourCc("pdin")});
}

// Brands of still pictures and RAW files built of boxes.
bool stillBrand(uint32_t b)
{
    return oneOf(b, {fourCc("heic"), fourCc("heix"), fourCc("mif1"), fourCc("msf1"), fourCc("avif"), fourCc("crx ")});
}

class IsoBoxWalk : public HeaderWalk {
public:
    IsoBoxWalk() { next(0, 8); }

    // The next box at the place the last one's size names, while the movie
    // still lacks its movie or media data box.
    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const override
    {
        if (!going() || stage_ != Box || !atHeader())
            return false;
        BoxHeader h;
        return pos_ > 0 && !(moov_ && mdat_) && readHeader(p, n, h) && h.size != 0 && plausible(h.type, pos_)
               && fits(h.size, mediumLeft);
    }

    // Inside a box: its content is not looked into.
    bool claimsNext(int64_t mediumLeft) const override { return going() && passingWithin(mediumLeft); }

private:
    enum Stage { Box, Large } stage_ = Box;
    bool moov_ = false, mdat_ = false;
    uint32_t last_ = 0;
    int64_t boxAt_ = 0;
    uint32_t boxType_ = 0;

    bool plausible(uint32_t type, int64_t at) const
    {
        if (at == 0)
            return startType(type);
        if (!topLevel(type))
            return false;
        if (type == kMoov)
            return !moov_;
        if (type == kMdat)
            return !(moov_ && mdat_) || last_ == kMoof;   // fragments: moof, mdat, ...
        return true;
    }

    // No plausible box at `at`: the movie ends there when it may, else its
    // structure is broken (or, at its start, not a movie's).
    void noBox(int64_t at)
    {
        if (moov_ && mdat_)
            return finish(at);
        if (at == 0)
            return giveUp();
        fail();
    }

    void box(int64_t at, uint32_t type, uint64_t size)
    {
        if (at > room_ || !fits(size, room_ - at))
            return noBox(at);
        moov_ = moov_ || type == kMoov;
        mdat_ = mdat_ || type == kMdat;
        last_ = type;
        if (moov_ && mdat_)
            mayEndAt(at + int64_t(size));
        stage_ = Box;
        next(int64_t(size) - (pos_ - at), 8);
    }

    void header(const unsigned char *h, size_t, int64_t at) override
    {
        if (stage_ == Large) {
            const uint64_t size = be64(h);
            if (size < 16)
                return noBox(boxAt_);
            return box(boxAt_, boxType_, size);
        }
        held_ = at;
        if (moov_ && mdat_)
            mayEndAt(at);
        const uint32_t size = be32(h), type = be32(h + 4);
        if (!plausible(type, at))
            return noBox(at);
        if (size == 0)
            return giveUp();   // to the end of the data: no end to tell
        if (size == 1) {
            boxAt_ = at;
            boxType_ = type;
            stage_ = Large;
            return next(0, 8);
        }
        if (size < 8)
            return noBox(at);
        box(at, type, size);
    }
};

} // namespace

bool IsIsoMovieStart(const unsigned char *p, size_t n, int64_t mediumLeft)
{
    BoxHeader h;
    if (!readHeader(p, n, h) || h.size == 0 || !startType(h.type) || !fits(h.size, mediumLeft))
        return false;
    if (h.type == kFtyp) {
        // Major brand, minor version, compatible brands.
        if (n < 16 || h.bytes != 8 || h.size < 16 || h.size > 4096 || h.size % 4 != 0 || !printableType(be32(p + 8)))
            return false;
        if (stillBrand(be32(p + 8)))
            return false;
        const size_t end = size_t(std::min<uint64_t>(h.size, n));
        for (size_t at = 16; at + 4 <= end; at += 4)
            if (stillBrand(be32(p + at)))
                return false;
        return true;
    }
    // The box that follows, where the bytes at hand hold it.
    if (h.size <= n && n - h.size >= 8) {
        const size_t next = size_t(h.size);
        BoxHeader f;
        if (!readHeader(p + next, n - next, f) || !topLevel(f.type))
            return false;
        if (f.size == 0)
            return f.type == kMdat;
        if (mediumLeft >= 0 && mediumLeft < int64_t(next))
            return false;
        return fits(f.size, mediumLeft < 0 ? -1 : mediumLeft - int64_t(next));
    }
    // Beyond them: a movie box shows its first box instead; a media data
    // box's content tells nothing.
    if (h.type == kMoov) {
        BoxHeader c;
        return readHeader(p + h.bytes, n - size_t(h.bytes), c) && c.size >= 8 && printableType(c.type)
               && c.size <= h.size - uint64_t(h.bytes);
    }
    return h.type == kMdat;
}

bool IsIsoBoxStart(const unsigned char *p, size_t n)
{
    BoxHeader h;
    return readHeader(p, n, h) && h.size != 0 && startType(h.type);
}

std::unique_ptr<FormatWalk> MakeIsoBoxWalk() { return std::make_unique<IsoBoxWalk>(); }
