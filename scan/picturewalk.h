// How long a picture is by its own structure: walks of JPEG (baseline,
// progressive, restart markers, multi-picture files), PNG, GIF, BMP, PCX and
// TIFF with the RAW formats built on it, in either byte order.
//
// Plain C++ without Qt or windows. The bytes are a found file's and so
// untrusted: every length and offset is checked against the bytes at hand,
// nothing is allocated by a count the file states beyond what the file can
// hold, and every walk ends after a bounded number of steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class PictureFormat { None, Jpeg, Png, Gif, Bmp, Pcx, Tiff };

// The format a file's first bytes show. JPEG, PNG, GIF and TIFF (II or MM
// with 42, and the RAW variants "RO", "RS" and 0x55) are told by their
// signatures; BMP and PCX, whose headers are weak, only when the file's name
// says so.
PictureFormat PictureFormatOfHeader(const unsigned char *p, size_t n, bool bmpName, bool pcxName);

struct PictureExtent {
    enum class Walk {
        None,         // no walk: not a format that is walked
        Complete,     // the structure ends at `end`, inside the bytes walked
        Incomplete,   // cut short, damaged or not followable; `end` is how far it held
    };
    Walk walk = Walk::None;
    int64_t end = 0;
    // The picture's size as its header states it (0: unknown).
    int64_t width = 0, height = 0;
    int bitsPerPixel = 0;
};

// The walk of a format whose structure runs from the start to the end
// (JPEG, PNG, GIF, BMP, PCX), fed the file's bytes in order in pieces of any
// size. JPEG's entropy-coded data is searched for FF bytes with memchr.
class PictureWalker {
public:
    PictureWalker() = default;
    explicit PictureWalker(PictureFormat format);

    // Feeds the next bytes; false once no more bytes are needed (the end was
    // found or the walk failed). Bytes fed after that are not looked at.
    bool feed(const unsigned char *p, size_t n);
    bool wantsMore() const { return state_ != Done && state_ != Failed; }
    // Bytes taken so far.
    int64_t fed() const { return pos_; }
    PictureFormat format() const { return format_; }
    // The result for a file of fed() bytes.
    PictureExtent result() const;
    // The header's size, as soon as it has been read.
    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    int bitsPerPixel() const { return bits_; }
    // Whether the bytes the walk expects next are of a kind that a whole
    // empty sector (all zero or all 0xFF bytes) never is: JPEG's markers and
    // entropy-coded data, GIF's blocks and sub-blocks, PNG's chunk headers.
    bool expectsData() const;
    // Whether the bytes it takes next, p[0, n) as far as they are at hand,
    // lie where a JPEG's structure read so far places its own: a segment
    // before the picture data (the APP1 block that holds the EXIF thumbnail,
    // say), the pictures a multi-picture index places behind it, or its
    // entropy-coded data, which the bytes then go on: every FF among them
    // stuffed or a restart marker, up to the end of the picture if that lies
    // there, and at least one of them to show it. A segment met after the
    // picture data began holds nothing: tables between scans are small, and
    // a marker there may be slack behind a picture cut short. mediumLeft:
    // the bytes from there to the medium's end (negative: not known); a
    // segment that runs past it is not believed. Other formats: false.
    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const;
    // The position before which a JPEG's segment lengths were borne out by
    // a marker where they pointed; everything once its end is known.
    int64_t confirmed() const { return state_ == Done ? INT64_MAX : confirmed_; }

private:
    enum State {
        Idle, Header, Skip, Done, Failed,
        // JPEG
        JMarkerFF, JMarkerCode, JLength, JSegment, JEntropy, JEntropyFF, JTrailer,
        // PNG
        PChunkHead, PChunkData, PCrc,
        // GIF
        GBlock, GImageDesc, GCodeSize, GExtLabel, GSubLen,
        // PCX
        XData, XRunValue, XPaletteMark,
    };
    void fail();
    void finish(int64_t end);
    bool header(const unsigned char *&p, size_t &n);
    void jpegMarker(unsigned char code);
    void jpegSegmentDone();
    void jpegTrailerChecks(const unsigned char *p, size_t n);
    void pngChunkHead();
    void gifAfterScreen();
    void bmpHeader();
    void pcxHeader();
    // Takes up to `want` bytes into acc_; true once it holds them.
    bool gather(const unsigned char *&p, size_t &n, size_t want);

    PictureFormat format_ = PictureFormat::None;
    State state_ = Idle;
    State afterSkip_ = Idle;
    int64_t pos_ = 0;        // bytes taken
    int64_t skip_ = 0;       // bytes to pass over in Skip
    int64_t end_ = 0;        // the end, once known
    int64_t held_ = 0;       // how far the structure held (for a failed walk)
    int64_t confirmed_ = 0;  // where the last marker was taken
    int64_t width_ = 0, height_ = 0;
    int bits_ = 0;
    std::vector<unsigned char> acc_;   // header or segment bytes being gathered
    size_t want_ = 0;
    // JPEG
    unsigned char code_ = 0;
    bool sawFrame_ = false, sawScan_ = false;
    int64_t segmentStart_ = 0;
    struct Expect { int64_t at; unsigned char byte; };
    std::vector<Expect> expect_;       // bytes the multi-picture index says lie ahead
    int64_t trailerEnd_ = 0;           // end of the pictures the index lists
    // PNG
    uint32_t chunkType_ = 0;
    bool sawHeaderChunk_ = false;
    // GIF
    unsigned char gifLabel_ = 0;
    // PCX
    int64_t pcxLeft_ = 0;              // decoded bytes still to come
    bool pcxNeedsPalette_ = false;
};

// Reads n bytes at an offset of the file into `into`; returns the bytes read.
using ReadBytesAt = std::function<size_t(int64_t offset, unsigned char *into, size_t n)>;

// TIFF and the RAW formats built on it: the largest end among the IFD chain,
// SubIFDs, EXIF, GPS and interoperability IFDs, every value stored outside
// its entry, every strip and tile, and the JPEG data an IFD points to. An
// offset or length outside the file, a loop or a malformed IFD makes the
// walk Incomplete with the largest end that was read inside the file.
PictureExtent WalkTiff(const ReadBytesAt &read, int64_t length);

// The walk of a whole file held in memory.
PictureExtent WalkPicture(PictureFormat format, const unsigned char *p, size_t n);
