// The walks of found files that are not pictures: the base of every walk fed
// a file's bytes in order, and the walk that gathers headers of known sizes
// and passes over the bytes between them by the lengths the headers state.
// The walks themselves live in structurewalk.cpp and in files of their own
// (isomedia.cpp, mpegstream.cpp).
//
// Plain C++ without Qt or windows; the bytes are untrusted.
#pragma once

#include "scan/picturewalk.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Lengths beyond this are not believed (a terabyte).
constexpr int64_t kMaxWalkLength = int64_t(1) << 40;

// Whether a stretch of `bytes` from here fits the medium, whose end lies
// mediumLeft bytes on (negative: not known).
inline bool WithinMedium(int64_t bytes, int64_t mediumLeft) { return mediumLeft < 0 || bytes <= mediumLeft; }

// A walk fed a file's bytes in order. Going until it knows the end (Done),
// finds the structure broken (Failed) or meets a structure it cannot follow
// in order (GaveUp: as if the format had no walk).
class FormatWalk {
public:
    virtual ~FormatWalk() = default;
    // Takes the next bytes; only while going().
    virtual void feed(const unsigned char *p, size_t n) = 0;
    bool going() const { return state_ == Going; }
    bool failed() const { return state_ == Failed; }
    bool complete() const { return state_ == Done; }
    // Bytes taken.
    int64_t taken() const { return pos_; }
    virtual PictureExtent result() const
    {
        PictureExtent r;
        switch (state_) {
        case Going:
            r.walk = PictureExtent::Walk::Incomplete;
            r.end = pos_;   // the bytes ended inside the structure: all of them belong to it
            if (mayEnd_ && pos_ >= mayEndAt_) {
                r.walk = PictureExtent::Walk::Complete;
                r.end = mayEndAt_;
            }
            break;
        case Done:
            r.walk = PictureExtent::Walk::Complete;
            r.end = std::min(end_, pos_);
            break;
        case Failed:
            r.walk = PictureExtent::Walk::Incomplete;
            r.end = std::min(held_, pos_);
            break;
        case GaveUp:
            break;
        }
        return r;
    }
    // Whether the bytes the walk takes next, p[0, n) as far as they are at
    // hand, lie where the structure read so far places a part of the file
    // itself: the next box, chunk or pack at the place its structure names,
    // the data of a chunk whose header was just read inside a list the walk
    // follows. mediumLeft: the bytes from there to the medium's end; a
    // length that runs past it is not believed. Reads nothing but p.
    virtual bool holdsNext(const unsigned char *, size_t, int64_t) const { return false; }
    // Whether the next byte lies inside a stretch whose length the structure
    // states but whose content the walk does not look into (media data, a
    // packet's payload, a chunk passed over whole): another file may begin
    // there as well as the file's own data go on.
    virtual bool claimsNext(int64_t) const { return false; }
    // The position before which every length the structure stated was borne
    // out by a consistent header where it pointed; everything once the walk
    // knows the end.
    int64_t confirmed() const { return state_ == Done ? INT64_MAX : confirmed_; }
    // The structure broke off: failed, or met what it cannot follow; or,
    // for a walk that goes on to its end by another way, a chain of stated
    // lengths it followed came to no header where they led.
    virtual bool brokeOff() const { return state_ == Failed || state_ == GaveUp; }
    // The bytes the file can hold at most (from its start to the medium's
    // end): the walks that check their lengths against the medium use it.
    void setRoom(int64_t bytes) { room_ = std::max<int64_t>(0, bytes); }

protected:
    enum State { Going, Done, Failed, GaveUp };
    void finish(int64_t end)
    {
        state_ = Done;
        end_ = end;
    }
    void fail() { state_ = Failed; }
    void giveUp() { state_ = GaveUp; }
    // The structure may end at `at`: when the bytes end there, it is whole.
    void mayEndAt(int64_t at)
    {
        mayEnd_ = true;
        mayEndAt_ = at;
    }
    State state_ = Going;
    int64_t pos_ = 0;
    int64_t end_ = 0;
    int64_t held_ = 0;
    bool mayEnd_ = false;
    int64_t mayEndAt_ = 0;
    int64_t room_ = kMaxWalkLength;
    int64_t confirmed_ = 0;
};

// A walk that gathers headers of known sizes and passes over the bytes
// between them by the lengths the headers state.
class HeaderWalk : public FormatWalk {
public:
    void feed(const unsigned char *p, size_t n) override
    {
        for (;;) {
            if (!going())
                return;
            if (skip_ > 0) {
                if (n == 0)
                    return;
                const int64_t k = std::min<int64_t>(skip_, int64_t(n));
                p += k;
                n -= size_t(k);
                pos_ += k;
                skip_ -= k;
                continue;
            }
            if (acc_.size() < want_) {
                if (n == 0)
                    return;
                const size_t k = std::min(n, want_ - acc_.size());
                acc_.insert(acc_.end(), p, p + k);
                p += k;
                n -= k;
                pos_ += int64_t(k);
                if (acc_.size() < want_)
                    return;
            }
            const size_t w = want_;
            hdr_.swap(acc_);
            acc_.clear();
            want_ = 0;
            mayEnd_ = false;
            armed_ = false;
            header(hdr_.data(), w, pos_ - int64_t(w));
            if (going() && !armed_)
                fail();   // a step that asked for nothing more
            // A header taken where the lengths before it pointed bears them out.
            if (going() && w > 0)
                confirmed_ = std::max(confirmed_, pos_ - int64_t(w));
        }
    }

protected:
    // Passes over `skip` bytes, then gathers `n` bytes for header(); with n
    // 0, header() is called once the bytes were passed over.
    void next(int64_t skip, size_t n)
    {
        if (skip < 0 || skip > kMaxWalkLength)
            return giveUp();
        skip_ = skip;
        want_ = n;
        armed_ = true;
    }
    virtual void header(const unsigned char *h, size_t n, int64_t at) = 0;
    // The next byte lies in a stretch the walk passes over by a stated
    // length, which fits the medium.
    bool passingWithin(int64_t mediumLeft) const { return skip_ > 0 && WithinMedium(skip_, mediumLeft); }
    // The next byte begins the header the walk waits for.
    bool atHeader() const { return skip_ == 0 && acc_.empty() && want_ > 0; }

private:
    int64_t skip_ = 0;
    size_t want_ = 0;
    bool armed_ = false;
    std::vector<unsigned char> acc_, hdr_;
};
