// The checks the fuzz target and the AddressSanitizer test run on any bytes:
// every walk ends inside the bytes, and a walk fed in pieces (as the scan
// feeds units) ends exactly as the walk of the whole; the same for the walks
// of found files of every format (RIFF, PDF, ZIP, OLE, MP3, CAB, SWF, EPS,
// PSD, ASF, RAR, ISO boxes, MPEG packs and the pictures) with their empty
// sectors, asked between the pieces whether the bytes ahead are the file's own
// (as the scan asks at a signature) and, where the structure places or covers
// them (the MP3 tag and frames, the ZIP entries and the PDF streams among
// them), noted and given back as the scan does; an OLE walk reading back only
// what it was fed, and the start tests of movies and program streams. Plain
// C++: abort() on a broken promise, so that libFuzzer and a test see it alike.
#pragma once

#include "scan/innerstarts.h"
#include "scan/isomedia.h"
#include "scan/mpegstream.h"
#include "scan/picturewalk.h"
#include "scan/structurewalk.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace walk_checks {

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Feeds a walker the bytes in pieces of 1 to `most` bytes that `pieces`
// chooses; before each piece it is asked whether the bytes ahead (up to a
// unit of them) are the file's own, with a medium ending somewhere after
// them: a medium of unknown end never believes less.
template <class Walker>
void feedInPieces(Walker &w, const uint8_t *data, size_t n, uint32_t pieces, uint32_t most)
{
    size_t at = 0;
    uint32_t x = pieces | 1;
    while (at < n && w.wantsMore()) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const size_t ahead = std::min<size_t>(n - at, 4096);
        const int64_t left = int64_t(x % (2 * (n - at) + 2));
        check(!w.holdsNext(data + at, ahead, left) || w.holdsNext(data + at, ahead, -1));
        const size_t k = std::min<size_t>(n - at, 1 + x % most);
        w.feed(data + at, k);
        at += k;
    }
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
        feedInPieces(w, data, n, pieces, 977);
        const PictureExtent inPieces = w.result();
        check(inPieces.walk == whole.walk && inPieces.end == whole.end);
        check(inPieces.width == whole.width && inPieces.height == whole.height);
    }
    // As the scan meets them: the format the first bytes show.
    const PictureFormat shown = PictureFormatOfHeader(data, n, true, true);
    const PictureExtent e = WalkPicture(shown, data, n);
    check(e.end >= 0 && uint64_t(e.end) <= n);
}

// A found file's walk fed in pieces as the scan appends units: at each piece
// a signature would be one the structure places or covers, noted as the
// scan notes it and settled by what the walk bears out; when the walk
// breaks off with units owed, and when the bytes end, what is given back
// lies inside the bytes, in order, and the file is cut at one of them.
inline void checkGivingBack(StructureWalker &w, const uint8_t *data, size_t n, uint32_t pieces)
{
    InnerStarts inner;
    int64_t confirmed = 0;
    size_t at = 0;
    uint32_t x = pieces | 1;
    const auto given = [&](bool whole) {
        int64_t cutAt = 0;
        const std::vector<InnerStarts::Start> out = inner.resolve(whole, w.confirmed(), cutAt);
        bool cutAtOne = cutAt < 0;
        for (size_t k = 0; k < out.size(); ++k) {
            check(out[k].offset >= 0 && uint64_t(out[k].offset) < n);
            check(k == 0 || out[k].offset > out[k - 1].offset);
            check(!whole || !out[k].placed);
            cutAtOne = cutAtOne || out[k].offset == cutAt;
        }
        check(cutAtOne && (!whole || cutAt < 0));
    };
    while (at < n && w.wantsMore()) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const size_t ahead = std::min<size_t>(n - at, 4096);
        const bool holds = w.holdsNext(data + at, ahead, -1), claims = w.claimsNext(-1);
        // A structure that broke off places and covers nothing more.
        check(!w.brokeOff() || (!holds && !claims));
        if (!inner.full()) {
            if (holds)
                inner.add({int64_t(at), int64_t(at), 0, true});
            else if (claims)
                inner.add({int64_t(at), int64_t(at), 0, false});
        }
        const size_t k = std::min<size_t>(n - at, 1 + x % 1500);
        w.feed(data + at, k);
        at += k;
        const int64_t now = w.confirmed();
        check(now >= confirmed && (now == INT64_MAX || now <= int64_t(at)));
        confirmed = now;
        inner.settle(now);
        if (w.brokeOff() && inner.owed(now))
            given(false);
    }
    check(w.wantsMore() || (!w.holdsNext(data, n, -1) && !w.claimsNext(-1)));
    given(w.result().extent.walk == PictureExtent::Walk::Complete && !w.result().structureCut);
}

// Walks the bytes as a found file of every format, whole and in pieces,
// with limits small enough for the fuzzer's inputs to reach.
inline void checkStructures(const uint8_t *data, size_t n, uint32_t pieces)
{
    const StructureFormat shown = StructureFormatOfHeader(data, n, true, true, true);
    check(shown == StructureFormat::None || n >= 3);
    check(!IsIsoMovieStart(data, n, int64_t(pieces % (n + 1))) || IsIsoBoxStart(data, n));
    check(!IsProgramStreamPack(data, n) || n >= 12);
    // An OLE walk reads back sectors it was fed already.
    const ReadBytesAt readBack = [data, n](int64_t at, unsigned char *into, size_t k) -> size_t {
        check(at >= 0 && uint64_t(at) + k <= n);
        std::memcpy(into, data + at, k);
        return k;
    };
    for (int k = 0; k <= int(StructureFormat::Rar); ++k) {
        const StructureFormat f = static_cast<StructureFormat>(k);
        for (const EmptyRunLimits limits : {EmptyRunLimits{0, 1024}, EmptyRunLimits{2048, 512}}) {
            // One of them on a medium that ends with the bytes.
            const int64_t room = limits.walking ? int64_t(n) : -1;
            StructureWalker whole(f, limits, readBack);
            if (room >= 0)
                whole.setRoom(room);
            whole.feed(data, n);
            const FileEnd a = whole.result();
            check(a.extent.end >= 0 && uint64_t(a.extent.end) <= n);
            check(a.extent.walk != PictureExtent::Walk::Complete || a.extent.end > 0);
            check(a.emptyFrom >= -1 && a.emptyFrom < int64_t(n) && (a.emptyFrom < 0 || a.emptyFrom % 512 == 0));
            check(!a.structureCut || (a.emptyFrom >= 0 && a.cutShort()));
            StructureWalker parts(f, limits, readBack);
            if (room >= 0)
                parts.setRoom(room);
            feedInPieces(parts, data, n, pieces, 1500);
            const FileEnd b = parts.result();
            check(a.extent.walk == b.extent.walk && a.extent.end == b.extent.end);
            check(a.emptyFrom == b.emptyFrom && a.structureCut == b.structureCut);
            StructureWalker giving(f, limits, readBack);
            if (room >= 0)
                giving.setRoom(room);
            checkGivingBack(giving, data, n, pieces);
        }
    }
}

} // namespace walk_checks
