// The checks the fuzz target and the AddressSanitizer test run on any bytes:
// every walk ends inside the bytes, and a walk fed in pieces (as the scan
// feeds units) ends exactly as the walk of the whole. Plain C++: abort() on
// a broken promise, so that libFuzzer and a test see it alike.
#pragma once

#include "scan/picturewalk.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace walk_checks {

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Walks the bytes as every format; `pieces` chooses the sizes of the feeds.
inline void checkWalks(const uint8_t *data, size_t n, uint32_t pieces)
{
    for (PictureFormat f : {PictureFormat::Jpeg, PictureFormat::Png, PictureFormat::Gif, PictureFormat::Bmp,
                            PictureFormat::Pcx, PictureFormat::Tiff}) {
        const PictureExtent whole = WalkPicture(f, data, n);
        check(whole.walk != PictureExtent::Walk::None || f == PictureFormat::Tiff);
        check(whole.end >= 0 && uint64_t(whole.end) <= n);
        check(whole.walk != PictureExtent::Walk::Complete || whole.end > 0);
        if (f == PictureFormat::Tiff)
            continue;
        PictureWalker w(f);
        size_t at = 0;
        uint32_t x = pieces | 1;
        while (at < n && w.wantsMore()) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            const size_t k = std::min<size_t>(n - at, 1 + x % 977);
            w.feed(data + at, k);
            at += k;
        }
        const PictureExtent inPieces = w.result();
        check(inPieces.walk == whole.walk && inPieces.end == whole.end);
        check(inPieces.width == whole.width && inPieces.height == whole.height);
    }
    // As the scan meets them: the format the first bytes show.
    const PictureFormat shown = PictureFormatOfHeader(data, n, true, true);
    const PictureExtent e = WalkPicture(shown, data, n);
    check(e.end >= 0 && uint64_t(e.end) <= n);
}

} // namespace walk_checks
