#include "scan/mpegstream.h"

#include <cstring>

namespace {

// A pack header: its MPEG version, its system clock (the 33-bit base) and
// its length with the stuffing bytes.
struct Pack {
    int version = 0;
    uint64_t clock = 0;
    int length = 0;
};

bool readPack(const unsigned char *p, size_t n, Pack &k)
{
    if (n < 5 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != 0xBA)
        return false;
    const unsigned char b = p[4];
    if ((b & 0xF0) == 0x20) {
        if (n < 12 || !(b & 1) || !(p[6] & 1) || !(p[8] & 1) || !(p[9] & 0x80) || !(p[11] & 1))
            return false;
        k.version = 1;
        k.clock = (uint64_t((b >> 1) & 7) << 30) | (uint64_t(p[5]) << 22) | (uint64_t(p[6] >> 1) << 15)
                  | (uint64_t(p[7]) << 7) | (p[8] >> 1);
        k.length = 12;
        return true;
    }
    if ((b & 0xC0) == 0x40) {
        if (n < 14 || !(b & 4) || !(p[6] & 4) || !(p[8] & 4) || !(p[9] & 1) || (p[12] & 3) != 3)
            return false;
        k.version = 2;
        k.clock = (uint64_t((b >> 3) & 7) << 30) | (uint64_t(b & 3) << 28) | (uint64_t(p[5]) << 20)
                  | (uint64_t(p[6] >> 3) << 15) | (uint64_t(p[6] & 3) << 13) | (uint64_t(p[7]) << 5) | (p[8] >> 3);
        k.length = 14 + (p[13] & 7);
        return true;
    }
    return false;
}

class ProgramStreamWalk : public HeaderWalk {
public:
    ProgramStreamWalk() { next(0, 4); }

    // A pack that goes on the stream, where the last one ended.
    bool holdsNext(const unsigned char *p, size_t n, int64_t) const override
    {
        if (!going() || stage_ != Code || !atHeader())
            return false;
        Pack k;
        return version_ != 0 && readPack(p, n, k) && goesOn(k);
    }

    // Inside a packet: its payload is not looked into.
    bool claimsNext(int64_t mediumLeft) const override { return going() && passingWithin(mediumLeft); }

private:
    enum Stage { Code, PackHead, PackTail, Packet } stage_ = Code;
    int version_ = 0;
    uint64_t clock_ = 0;
    unsigned char code_ = 0;
    int64_t at_ = 0;                 // where the pack or packet began
    unsigned char pack_[14] = {};

    bool goesOn(const Pack &k) const { return k.version == version_ && k.clock > clock_; }

    // Nothing consistent at `at`: the stream ends there (it is no stream
    // when not even its first pack is one).
    void end(int64_t at)
    {
        if (version_ == 0)
            return giveUp();
        finish(at);
    }

    void packRead(size_t length)
    {
        Pack k;
        if (!readPack(pack_, length, k) || (version_ != 0 && !goesOn(k)))
            return end(at_);
        version_ = k.version;
        clock_ = k.clock;
        const int64_t packEnd = at_ + k.length;
        mayEndAt(packEnd);
        stage_ = Code;
        next(packEnd - pos_, 4);
    }

    void header(const unsigned char *h, size_t n, int64_t at) override
    {
        switch (stage_) {
        case Code:
            held_ = at;
            at_ = at;
            if (version_ != 0)
                mayEndAt(at);
            if (h[0] != 0 || h[1] != 0 || h[2] != 1)
                return end(at);
            code_ = h[3];
            if (code_ == 0xBA) {
                std::memcpy(pack_, h, 4);
                stage_ = PackHead;
                return next(0, 8);
            }
            if (version_ == 0)
                return end(at);   // a stream begins with a pack
            if (code_ == 0xB9)
                return finish(at + 4);
            if (code_ < 0xBB)
                return end(at);
            stage_ = Packet;
            return next(0, 3);   // the length, and the first byte of the packet's header
        case PackHead:
            std::memcpy(pack_ + 4, h, n);
            if ((pack_[4] & 0xC0) == 0x40) {
                stage_ = PackTail;
                return next(0, 2);
            }
            return packRead(12);
        case PackTail:
            std::memcpy(pack_ + 12, h, n);
            return packRead(14);
        case Packet: {
            const int64_t length = (int64_t(h[0]) << 8) | h[1];
            const unsigned char first = h[2];
            bool fits = length >= 1;
            if (code_ == 0xBB) {
                fits = fits && (first & 0x80);   // the system header's marker bit
            } else if (code_ == 0xBD || (code_ >= 0xC0 && code_ <= 0xEF)) {
                // Audio, video and private stream 1 carry a PES header.
                fits = fits && (version_ == 2 ? (first & 0xC0) == 0x80
                                              : first == 0xFF || first == 0x0F || (first & 0xC0) == 0x40
                                                    || (first & 0xE0) == 0x20);
            }
            if (!fits)
                return end(at_);
            const int64_t packetEnd = at + 2 + length;
            mayEndAt(packetEnd);
            stage_ = Code;
            return next(packetEnd - pos_, 4);
        }
        }
    }
};

} // namespace

bool IsProgramStreamPack(const unsigned char *p, size_t n)
{
    Pack k;
    return readPack(p, n, k);
}

std::unique_ptr<FormatWalk> MakeProgramStreamWalk() { return std::make_unique<ProgramStreamWalk>(); }
