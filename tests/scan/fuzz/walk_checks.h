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
// lies inside the bytes, in order, and the file is cut at one of them. A
// scan stopped between two pieces, its notes kept as the list file keeps
// them and its walk fed the file's bytes again, gives back what one scan
// to the end gives.
template <class MakeWalker>
void checkGivingBack(const MakeWalker &make, const uint8_t *data, size_t n, uint32_t pieces)
{
    struct Scan {
        StructureWalker w;
        InnerStarts inner;
        std::vector<GiveBackPlan> plans;
        size_t at = 0;
        uint32_t x = 0;
    };
    const auto given = [&](Scan &s, bool whole) {
        const GiveBackPlan p = s.inner.plan(whole, s.w.confirmed());
        bool cutAtOne = p.cutAt < 0;
        for (size_t k = 0; k < p.starts.size(); ++k) {
            check(p.starts[k].offset > 0 && uint64_t(p.starts[k].offset) < n);
            check(k == 0 || p.starts[k].offset > p.starts[k - 1].offset);
            check(!whole || !p.starts[k].placed);
            cutAtOne = cutAtOne || p.starts[k].offset == p.cutAt;
        }
        check(cutAtOne && (!whole || p.cutAt < 0));
        s.plans.push_back(p);
    };
    // Pieces up to `stopAt` bytes (n: to the end).
    const auto feed = [&](Scan &s, size_t stopAt) {
        int64_t confirmed = s.w.confirmed();
        while (s.at < stopAt && s.w.wantsMore()) {
            s.x ^= s.x << 13, s.x ^= s.x >> 17, s.x ^= s.x << 5;
            const size_t ahead = std::min<size_t>(n - s.at, 4096);
            const bool holds = s.w.holdsNext(data + s.at, ahead, -1), claims = s.w.claimsNext(-1);
            // A structure that broke off places and covers nothing more.
            check(!s.w.brokeOff() || (!holds && !claims));
            if (!s.inner.full() && s.at > 0) {
                if (holds)
                    s.inner.add({int64_t(s.at), int64_t(s.at), 0, true});
                else if (claims)
                    s.inner.add({int64_t(s.at), int64_t(s.at), 0, false});
            }
            const size_t k = std::min<size_t>(n - s.at, 1 + s.x % 1500);
            s.w.feed(data + s.at, k);
            s.at += k;
            const int64_t now = s.w.confirmed();
            check(now >= confirmed && (now == INT64_MAX || now <= int64_t(s.at)));
            confirmed = now;
            s.inner.settle(now);
            if (s.w.brokeOff() && s.inner.owed(now))
                given(s, false);
        }
    };
    const auto end = [&](Scan &s) {
        check(s.w.wantsMore() || (!s.w.holdsNext(data, n, -1) && !s.w.claimsNext(-1)));
        given(s, s.w.result().extent.walk == PictureExtent::Walk::Complete && !s.w.result().structureCut);
    };

    Scan whole{make(), {}, {}, 0, pieces | 1};
    feed(whole, n);
    end(whole);

    // Stopped where the pieces reach a tenth to nine tenths of the bytes.
    Scan first{make(), {}, {}, 0, pieces | 1};
    feed(first, n / 10 + (pieces >> 8) % (n * 8 / 10 + 1));
    std::vector<InnerStart> kept;
    check(DecodeInnerStarts(EncodeInnerStarts(first.inner.held()), kept) && kept == first.inner.held());
    Scan resumed{make(), {}, std::move(first.plans), first.at, first.x};
    resumed.w.feed(data, first.at);
    check(resumed.inner.restore(kept, int64_t(first.at), int64_t(first.at)));
    feed(resumed, n);
    end(resumed);
    check(resumed.plans.size() == whole.plans.size());
    for (size_t k = 0; k < whole.plans.size(); ++k)
        check(resumed.plans[k].cutAt == whole.plans[k].cutAt && resumed.plans[k].starts == whole.plans[k].starts);
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
            checkGivingBack(
                [&] {
                    StructureWalker giving(f, limits, readBack);
                    if (room >= 0)
                        giving.setRoom(room);
                    return giving;
                },
                data, n, pieces);
        }
    }
}

} // namespace walk_checks
