// Where a found file ends: by its own structure, for the types whose
// structure states it, and where its data runs into empty space.
//
// The walks: the pictures of picturewalk.h; RIFF (WAV, AVI with the
// RIFF/AVIX chain of OpenDML, CorelDRAW) by the RIFF size; PDF after its
// last "%%EOF" and that line's end (its streams followed beside it); ZIP
// and the formats built on it by the end-of-central-directory record and its
// comment (its local headers followed beside it); OLE compound files (DOC,
// XLS, PPT) by the highest sector their allocation tables use; MP3 by its
// ID3v2 tag, its MPEG audio frames, an APE and an ID3v1 tag; CAB, SWF, DOS EPS,
// PSD and ASF (WMV, WMA) by the lengths their headers state; ISO base media
// movies (MOV, MP4, 3GP) by their top-level boxes (isomedia.h), MPEG
// program streams by their packs and packets (mpegstream.h), RAR block by
// block (rarwalk.h). Empty space:
// sectors whose bytes are all zero or all 0xFF, as a quick-formatted card
// or erased flash reads.
//
// Plain C++ without Qt or windows. The bytes are a found file's and so
// untrusted: every length and offset is checked against the bytes at hand,
// nothing is allocated by a count the file states beyond a fixed bound, and
// every walk ends after a bounded number of steps per byte.
#pragma once

#include "scan/picturewalk.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

enum class StructureFormat { None, Jpeg, Png, Gif, Bmp, Pcx, Tiff, Riff, Pdf, Zip, Ole, Mp3, Cab, Swf, Eps, Psd, Asf,
                             Iso, Mpeg, Rar };

// The walk that a found file's first bytes call for. BMP and PCX (weak
// headers) only when the name says so, and MPEG audio frames without an
// ID3 tag only for an MP3 name.
StructureFormat StructureFormatOfHeader(const unsigned char *p, size_t n, bool bmpName, bool pcxName, bool mp3Name);
// The picture walk of a picture format; None for the others.
PictureFormat PictureFormatOf(StructureFormat format);

// Found files begin on a sector boundary of the medium, so the file's
// 512-byte blocks are the medium's sectors or lie inside them: those are
// the sectors judged empty or not.
constexpr int64_t kWalkSectorBytes = 512;

// How long a run of empty sectors ends a found file (0: never).
struct EmptyRunLimits {
    int64_t walking = 0;          // while its structure walk goes on
    int64_t fallback = 1 << 20;   // without a walk, or once its walk failed or gave up
};

// How a found file ends.
struct FileEnd {
    PictureExtent extent;          // the structure walk; walk None: no walk
    int64_t emptyFrom = -1;        // the file ends at this sector: its data ran into empty space
    bool structureCut = false;     // ... where its structure still held data: it is cut short
    // The file lacks part of what its structure holds.
    bool cutShort() const { return structureCut || extent.walk == PictureExtent::Walk::Incomplete; }
};

class FormatWalk;

// Follows a found file's bytes in order, in pieces of any size, through the
// walk of its format and its empty sectors. The file ends (wantsMore false)
// when its walk is complete; when a whole empty sector comes where the walk
// expects data, or right after the walk failed (the file is cut short at
// that sector); or when a run of empty sectors reaches the limit (the file
// ends where the run began). Sectors read as zeros because they could not
// be read are data, never empty space.
class StructureWalker {
public:
    StructureWalker();
    // readBack reads bytes of the file that were fed already (an OLE
    // file's allocation sectors that its DIFAT lists behind the position);
    // without it such a file is walked as far as its bytes in order go.
    StructureWalker(StructureFormat format, EmptyRunLimits limits, const ReadBytesAt &readBack = {});
    ~StructureWalker();
    StructureWalker(StructureWalker &&) noexcept;
    StructureWalker &operator=(StructureWalker &&) noexcept;

    // Feeds the next bytes; false once the file has ended.
    bool feed(const unsigned char *p, size_t n, bool unreadable = false);
    bool wantsMore() const { return !done_; }
    StructureFormat format() const { return format_; }
    // The structure walk goes on.
    bool walking() const;
    // The last whole sector taken was empty.
    bool endsInEmptySector() const { return runBytes_ > 0; }
    // A picture's size as its header states it, once read.
    int64_t width() const { return picture_.width(); }
    int64_t height() const { return picture_.height(); }
    FileEnd result() const;
    // Whether the next bytes, p[0, n) as far as they are at hand, lie where
    // the file's structure read so far places a part of the file itself: a
    // JPEG's segment before its picture data, its entropy-coded data or the
    // pictures its multi-picture index lists; the data of a chunk of an
    // AVI's lists whose header was just read; an MP3's ID3v2 tag and its
    // next frame; a ZIP entry's data and the next local header; the next
    // box or pack at the place its structure names. A signature there
    // starts no new file.
    // mediumLeft: the bytes from there to the medium's end.
    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const;
    // Whether the next byte lies inside a stretch whose length the structure
    // states but whose content its walk does not look into (a box, a RIFF
    // chunk's data, a packet, a PDF stream's data): a signature there may
    // begin another file.
    bool claimsNext(int64_t mediumLeft) const;
    // The position before which every length the structure stated was borne
    // out where it pointed; everything once the walk is complete.
    int64_t confirmed() const;
    // The structure broke off: its walk failed or met what it cannot
    // follow, or the data ran into empty space where the structure went on.
    bool brokeOff() const;
    // The most the file can hold (from its start to the medium's end), for
    // the walks that check their lengths against the medium.
    void setRoom(int64_t bytes);

private:
    bool innerWants() const;
    bool innerExpectsData() const;
    bool innerFailed() const;
    bool innerComplete() const;
    void innerFeed(const unsigned char *p, size_t n);
    void sectorDone(int64_t start, bool empty);
    void takeData(const unsigned char *p, size_t n);

    StructureFormat format_ = StructureFormat::None;
    EmptyRunLimits limits_;
    PictureWalker picture_;
    bool pictureWalk_ = false;
    std::unique_ptr<FormatWalk> other_;
    int64_t pos_ = 0;
    int64_t sectorFill_ = 0;         // bytes of the sector that began at pos_ - sectorFill_
    bool sectorEmpty_ = false;       // ... all alike and empty so far
    unsigned char sectorByte_ = 0;
    bool sectorExpectsData_ = false;   // the walk expected data where it began
    int64_t failedAt_ = -1;          // where the walk failed
    bool failChecked_ = false;       // the sector after the failure was judged
    int64_t runStart_ = -1, runBytes_ = 0;
    bool done_ = false;
    bool structureCut_ = false;
    int64_t emptyFrom_ = -1;
};

// Feeds a walker a file's bytes, read through `read` from its start in
// blocks of `block`, for as long as it wants them.
void FeedWalker(StructureWalker &walker, const ReadBytesAt &read, int64_t length, std::vector<unsigned char> &block,
                bool unreadable = false);

// A whole found file read through `read`: its walk (TIFF and the RAW formats
// built on it by their IFDs) and its empty sectors, read once at most, in
// blocks of `block`. `format` as StructureFormatOfHeader gives it.
FileEnd WalkFoundFile(const ReadBytesAt &read, int64_t length, StructureFormat format, EmptyRunLimits limits,
                      std::vector<unsigned char> &block);
