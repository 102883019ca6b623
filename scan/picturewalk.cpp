#include "scan/picturewalk.h"

#include "scan/formatwalk.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

uint16_t be16(const unsigned char *p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t be32(const unsigned char *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

bool isTiffHeader(const unsigned char *p, size_t n)
{
    if (n < 8)
        return false;
    if (p[0] == 'I' && p[1] == 'I')
        return (p[2] == 42 && p[3] == 0) || (p[2] == 0x55 && p[3] == 0) || (p[2] == 'R' && (p[3] == 'O' || p[3] == 'S'));
    if (p[0] == 'M' && p[1] == 'M')
        return (p[2] == 0 && p[3] == 42) || (p[2] == 'O' && p[3] == 'R');
    return false;
}

bool isJpegFrameMarker(unsigned char code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// The longest multi-picture index (one APP2 segment) that is read.
constexpr size_t kMaxSegment = 65535;
// PCX and BMP headers.
constexpr size_t kPcxHeader = 128;
constexpr size_t kBmpFileHeader = 14;

} // namespace

PictureFormat PictureFormatOfHeader(const unsigned char *p, size_t n, bool bmpName, bool pcxName)
{
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return PictureFormat::Jpeg;
    if (n >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0)
        return PictureFormat::Png;
    if (n >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0))
        return PictureFormat::Gif;
    if (isTiffHeader(p, n))
        return PictureFormat::Tiff;
    if (bmpName && n >= 2 && p[0] == 'B' && p[1] == 'M')
        return PictureFormat::Bmp;
    if (pcxName && n >= 4 && p[0] == 0x0A && p[2] == 1)
        return PictureFormat::Pcx;
    return PictureFormat::None;
}

// --- the walker of formats read in order --------------------------------------

PictureWalker::PictureWalker(PictureFormat format) : format_(format)
{
    switch (format) {
    case PictureFormat::Jpeg:
        want_ = 2;
        break;
    case PictureFormat::Png:
        want_ = 8;
        break;
    case PictureFormat::Gif:
        want_ = 13;
        break;
    case PictureFormat::Bmp:
        want_ = kBmpFileHeader + 4;
        break;
    case PictureFormat::Pcx:
        want_ = kPcxHeader;
        break;
    default:
        return;   // Idle: no walk
    }
    state_ = Header;
}

void PictureWalker::fail()
{
    state_ = Failed;
    acc_.clear();
}

void PictureWalker::finish(int64_t end)
{
    end_ = end;
    held_ = end;
    state_ = Done;
    acc_.clear();
}

bool PictureWalker::gather(const unsigned char *&p, size_t &n, size_t want)
{
    const size_t k = std::min(n, want - acc_.size());
    acc_.insert(acc_.end(), p, p + k);
    p += k;
    n -= k;
    pos_ += int64_t(k);
    return acc_.size() == want;
}

// The header of each format, once gathered.
bool PictureWalker::header(const unsigned char *&p, size_t &n)
{
    if (!gather(p, n, want_))
        return false;
    const unsigned char *h = acc_.data();
    switch (format_) {
    case PictureFormat::Jpeg:
        if (h[0] != 0xFF || h[1] != 0xD8)
            return fail(), true;
        held_ = pos_;
        state_ = JMarkerFF;
        break;
    case PictureFormat::Png:
        if (std::memcmp(h, "\x89PNG\r\n\x1a\n", 8) != 0)
            return fail(), true;
        held_ = pos_;
        state_ = PChunkHead;
        want_ = 8;
        break;
    case PictureFormat::Gif:
        gifAfterScreen();
        break;
    case PictureFormat::Bmp:
        if (acc_.size() == kBmpFileHeader + 4) {
            const uint32_t dib = le32(h + 14);
            // Core (12), OS/2 2.x (16 to 64), info (40) and its V2 to V5 (52 to 124).
            if (h[0] != 'B' || h[1] != 'M' || dib < 12 || dib > 124)
                return fail(), true;
            want_ = kBmpFileHeader + dib;
            return true;   // gather the rest of the header
        }
        bmpHeader();
        break;
    case PictureFormat::Pcx:
        pcxHeader();
        break;
    default:
        fail();
        break;
    }
    acc_.clear();
    return true;
}

void PictureWalker::gifAfterScreen()
{
    const unsigned char *h = acc_.data();
    if (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0)
        return fail();
    width_ = le16(h + 6);
    height_ = le16(h + 8);
    bits_ = 8;
    held_ = pos_;
    if (h[10] & 0x80) {
        skip_ = 3 * (int64_t(2) << (h[10] & 7));
        afterSkip_ = GBlock;
        state_ = Skip;
    } else {
        state_ = GBlock;
    }
}

void PictureWalker::bmpHeader()
{
    const unsigned char *h = acc_.data();
    const uint32_t stated = le32(h + 2);
    const uint32_t dataOffset = le32(h + 10);
    const uint32_t dib = le32(h + 14);
    int64_t w = 0, ht = 0;
    int bpp = 0;
    uint32_t compression = 0, imageSize = 0;
    if (dib == 12) {
        w = le16(h + 18);
        ht = le16(h + 20);
        bpp = le16(h + 24);
    } else {
        w = int32_t(le32(h + 18));
        ht = int32_t(le32(h + 22));
        bpp = le16(h + 28);
        if (dib >= 20)
            compression = le32(h + 30);
        if (dib >= 24)
            imageSize = le32(h + 34);
    }
    ht = ht < 0 ? -ht : ht;
    held_ = kBmpFileHeader + dib;
    if (w <= 0 || ht <= 0 || bpp <= 0 || bpp > 64 || dataOffset < kBmpFileHeader + dib)
        return fail();
    width_ = w;
    height_ = ht;
    bits_ = bpp;
    int64_t pixels = 0;
    if (compression == 0 || compression == 3 || compression == 6) {
        const int64_t stride = ((w * bpp + 31) / 32) * 4;
        if (ht > (int64_t(1) << 34) / stride)
            return fail();   // more than a BMP's 32-bit size field can state
        pixels = stride * ht;
    } else {
        pixels = imageSize;   // run-length, JPEG or PNG data: the header's size
    }
    int64_t need = int64_t(dataOffset) + pixels;
    // An embedded colour profile (V5 header) may follow the pixels.
    if (dib >= 124 && le32(h + 70) == 0x4D424544 /* "MBED" */) {
        const int64_t profileEnd = int64_t(kBmpFileHeader) + le32(h + 126) + le32(h + 130);
        need = std::max(need, profileEnd);
    }
    // The palette lies between the header and the data offset; the pixels
    // are known: never less than they need.
    held_ = pixels > 0 ? need : int64_t(dataOffset);
    if (pixels <= 0 || int64_t(stated) < need || int64_t(stated) - need > 4)
        return fail();   // the size field does not agree with the header: not trusted
    // Confirm the bytes are there.
    if (int64_t(stated) <= pos_)
        return finish(stated);
    skip_ = int64_t(stated) - pos_;
    afterSkip_ = Done;
    state_ = Skip;
}

void PictureWalker::pcxHeader()
{
    const unsigned char *h = acc_.data();
    const int version = h[1], encoding = h[2], bpp = h[3];
    const int64_t xmin = le16(h + 4), ymin = le16(h + 6), xmax = le16(h + 8), ymax = le16(h + 10);
    const int planes = h[65];
    const int64_t bytesPerLine = le16(h + 66);
    const bool versionOk = version == 0 || version == 2 || version == 3 || version == 4 || version == 5;
    if (h[0] != 0x0A || !versionOk || encoding != 1 || (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) || planes < 1
        || planes > 4 || xmax < xmin || ymax < ymin || bytesPerLine == 0 || bytesPerLine * 8 < (xmax - xmin + 1) * bpp)
        return fail();
    width_ = xmax - xmin + 1;
    height_ = ymax - ymin + 1;
    bits_ = bpp * planes;
    pcxLeft_ = height_ * planes * bytesPerLine;
    pcxNeedsPalette_ = bpp == 8 && planes == 1;
    held_ = pos_;
    state_ = XData;
}

void PictureWalker::pngChunkHead()
{
    const unsigned char *h = acc_.data();
    const uint32_t length = be32(h);
    chunkType_ = be32(h + 4);
    for (int i = 4; i < 8; ++i)
        if (!((h[i] >= 'A' && h[i] <= 'Z') || (h[i] >= 'a' && h[i] <= 'z')))
            return fail();
    if (length > 0x7FFFFFFFu)
        return fail();
    const bool ihdr = chunkType_ == 0x49484452;   // IHDR
    if (!sawHeaderChunk_ && (!ihdr || length != 13))
        return fail();
    acc_.clear();
    if (ihdr && !sawHeaderChunk_) {
        sawHeaderChunk_ = true;
        state_ = PChunkData;
        want_ = 13;
        return;
    }
    skip_ = int64_t(length) + 4;
    afterSkip_ = PCrc;
    state_ = Skip;
}

void PictureWalker::jpegMarker(unsigned char code)
{
    if (code == 0xD8 || code == 0x00)
        return fail();
    confirmed_ = std::max(confirmed_, pos_ - 2);
    if (code == 0xD9) {
        if (!sawScan_)
            return fail();
        held_ = pos_;
        // Pictures that a multi-picture index places behind this one.
        bool inconsistent = false;
        std::vector<Expect> ahead;
        for (const Expect &e : expect_) {
            if (e.at >= pos_)
                ahead.push_back(e);
            else
                inconsistent = true;
        }
        if (trailerEnd_ > pos_ && !ahead.empty()) {
            if (inconsistent)
                return fail();   // the index lists a picture across this one's end
            expect_ = std::move(ahead);
            state_ = JTrailer;
            return;
        }
        return finish(pos_);
    }
    if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) {
        held_ = pos_;
        state_ = JMarkerFF;
        return;
    }
    code_ = code;
    state_ = JLength;
    want_ = 2;
}

void PictureWalker::jpegSegmentDone()
{
    const unsigned char *s = acc_.data();
    const size_t m = acc_.size();
    if (isJpegFrameMarker(code_) && m >= 6 && !sawFrame_) {
        sawFrame_ = true;
        height_ = be16(s + 1);
        width_ = be16(s + 3);
        bits_ = s[0] * s[5];
    } else if (isJpegFrameMarker(code_)) {
        sawFrame_ = true;
    }
    // The multi-picture index: "MPF\0", a TIFF header and one IFD whose
    // entry B002 lists the pictures (attribute, size, offset from the TIFF
    // header; the first picture, this one, at offset 0).
    if (code_ == 0xE2 && m >= 16 && std::memcmp(s, "MPF\0", 4) == 0) {
        const unsigned char *t = s + 4;
        const size_t tn = m - 4;
        const bool le = t[0] == 'I' && t[1] == 'I';
        const bool be = t[0] == 'M' && t[1] == 'M';
        auto u16 = [&](const unsigned char *q) { return le ? le16(q) : be16(q); };
        auto u32 = [&](const unsigned char *q) { return le ? le32(q) : be32(q); };
        const int64_t base = segmentStart_ + 4;
        if ((le || be) && u16(t + 2) == 42) {
            const uint32_t ifd = u32(t + 4);
            if (ifd >= 8 && uint64_t(ifd) + 2 <= tn) {
                const uint32_t count = u16(t + ifd);
                for (uint32_t k = 0; k < count && uint64_t(ifd) + 2 + 12 * (k + 1) <= tn; ++k) {
                    const unsigned char *e = t + ifd + 2 + 12 * k;
                    if (u16(e) != 0xB002)
                        continue;
                    const uint32_t bytes = u32(e + 4);
                    const uint32_t at = u32(e + 8);
                    if (bytes % 16 != 0 || uint64_t(at) + bytes > tn)
                        break;
                    for (uint32_t i = 0; i < bytes / 16; ++i) {
                        const unsigned char *mp = t + at + 16 * i;
                        const int64_t size = u32(mp + 4);
                        const int64_t offset = u32(mp + 8);
                        if (offset == 0 || size < 4)
                            continue;
                        const int64_t start = base + offset;
                        expect_.push_back({start, 0xFF});
                        expect_.push_back({start + 1, 0xD8});
                        trailerEnd_ = std::max(trailerEnd_, start + size);
                    }
                    break;
                }
            }
        }
    }
    acc_.clear();
}

void PictureWalker::jpegTrailerChecks(const unsigned char *p, size_t n)
{
    for (const Expect &e : expect_)
        if (e.at >= pos_ && e.at < pos_ + int64_t(n) && p[e.at - pos_] != e.byte) {
            fail();   // held_ stays at the end of the first picture
            return;
        }
}

bool PictureWalker::feed(const unsigned char *p, size_t n)
{
    while (n > 0 && wantsMore()) {
        switch (state_) {
        case Header:
            header(p, n);
            break;

        case Skip: {
            const int64_t k = std::min<int64_t>(skip_, int64_t(n));
            p += k;
            n -= size_t(k);
            pos_ += k;
            skip_ -= k;
            if (skip_ > 0)
                break;
            switch (afterSkip_) {
            case Done:
                finish(pos_);
                break;
            case PCrc:   // a PNG chunk ended
                held_ = pos_;
                if (chunkType_ == 0x49454E44)   // IEND
                    finish(pos_);
                else
                    state_ = PChunkHead, want_ = 8;
                break;
            case JEntropy:
            case JMarkerFF:
            case GBlock:
            case GSubLen:
                held_ = pos_;
                state_ = afterSkip_;
                break;
            default:
                state_ = afterSkip_;
                break;
            }
            break;
        }

        // JPEG
        case JMarkerFF:
            if (*p != 0xFF)
                return fail(), false;
            ++p, --n, ++pos_;
            state_ = JMarkerCode;
            break;
        case JMarkerCode:
        case JEntropyFF: {
            const unsigned char b = *p;
            ++p, --n, ++pos_;
            if (b == 0xFF)
                break;   // fill byte
            if (state_ == JEntropyFF && (b == 0x00 || (b >= 0xD0 && b <= 0xD7))) {
                state_ = JEntropy;   // stuffed byte or restart marker: still data
                held_ = pos_;
                break;
            }
            jpegMarker(b);
            break;
        }
        case JLength: {
            if (!gather(p, n, want_))
                break;
            const uint16_t length = be16(acc_.data());
            acc_.clear();
            if (length < 2)
                return fail(), false;
            if (code_ == 0xDA) {
                if (!sawFrame_)
                    return fail(), false;
                sawScan_ = true;
            }
            segmentStart_ = pos_;
            skip_ = length - 2;
            want_ = 0;
            if (isJpegFrameMarker(code_))
                want_ = std::min<size_t>(size_t(skip_), 6);
            else if (code_ == 0xE2)
                want_ = std::min<size_t>(size_t(skip_), kMaxSegment);
            state_ = JSegment;
            if (want_ == 0) {
                jpegSegmentDone();
                afterSkip_ = code_ == 0xDA ? JEntropy : JMarkerFF;
                state_ = Skip;
                if (skip_ == 0)
                    held_ = pos_, state_ = afterSkip_;
            }
            break;
        }
        case JSegment:
            if (!gather(p, n, want_))
                break;
            skip_ -= int64_t(want_);
            jpegSegmentDone();
            afterSkip_ = code_ == 0xDA ? JEntropy : JMarkerFF;
            state_ = Skip;
            if (skip_ == 0)
                held_ = pos_, state_ = afterSkip_;
            break;
        case JEntropy: {
            const void *ff = std::memchr(p, 0xFF, n);
            const size_t k = ff ? size_t(static_cast<const unsigned char *>(ff) - p) + 1 : n;
            p += k;
            n -= k;
            pos_ += int64_t(k);
            held_ = ff ? pos_ - 1 : pos_;   // the data before the FF holds
            if (ff)
                state_ = JEntropyFF;
            break;
        }
        case JTrailer: {
            const size_t k = size_t(std::min<int64_t>(trailerEnd_ - pos_, int64_t(n)));
            jpegTrailerChecks(p, k);
            if (state_ == Failed)
                return false;
            p += k;
            n -= k;
            pos_ += int64_t(k);
            if (pos_ >= trailerEnd_)
                finish(trailerEnd_);
            break;
        }

        // PNG
        case PChunkHead:
            if (gather(p, n, want_))
                pngChunkHead();
            break;
        case PChunkData: {
            if (!gather(p, n, want_))
                break;
            const unsigned char *h = acc_.data();
            width_ = be32(h);
            height_ = be32(h + 4);
            static const int channels[] = {1, 0, 3, 1, 2, 0, 4};
            const int type = h[9];
            bits_ = h[8] * (type <= 6 ? channels[type] : 0);
            acc_.clear();
            skip_ = 4;   // the CRC
            afterSkip_ = PCrc;
            state_ = Skip;
            break;
        }

        // GIF
        case GBlock: {
            const unsigned char b = *p;
            ++p, --n, ++pos_;
            if (b == 0x2C)
                state_ = GImageDesc, want_ = 9;
            else if (b == 0x21)
                state_ = GExtLabel;
            else if (b == 0x3B)
                finish(pos_);
            else
                return fail(), false;
            break;
        }
        case GImageDesc:
            if (!gather(p, n, want_))
                break;
            if (acc_[8] & 0x80) {
                skip_ = 3 * (int64_t(2) << (acc_[8] & 7));
                afterSkip_ = GCodeSize;
                state_ = Skip;
            } else {
                state_ = GCodeSize;
            }
            acc_.clear();
            break;
        case GCodeSize: {
            const unsigned char b = *p;
            ++p, --n, ++pos_;
            if (b < 1 || b > 11)
                return fail(), false;
            state_ = GSubLen;
            break;
        }
        case GExtLabel:
            ++p, --n, ++pos_;
            state_ = GSubLen;
            break;
        case GSubLen: {
            const unsigned char b = *p;
            ++p, --n, ++pos_;
            if (b == 0) {
                held_ = pos_;
                state_ = GBlock;
            } else {
                skip_ = b;
                afterSkip_ = GSubLen;
                state_ = Skip;
            }
            break;
        }

        // PCX: run-length lines, then perhaps the 256-colour palette.
        case XData: {
            size_t i = 0;
            while (i < n && pcxLeft_ > 0) {
                const unsigned char c = p[i++];
                if (c >= 0xC0) {
                    if (i == n) {
                        pcxLeft_ -= c & 0x3F;   // its value byte comes with the next bytes
                        state_ = XRunValue;
                        break;
                    }
                    ++i;
                    pcxLeft_ -= c & 0x3F;
                } else {
                    --pcxLeft_;
                }
            }
            p += i;
            n -= i;
            pos_ += int64_t(i);
            if (state_ == XData) {
                held_ = pos_;
                if (pcxLeft_ <= 0)
                    state_ = XPaletteMark;
            }
            break;
        }
        case XRunValue:
            ++p, --n, ++pos_;
            held_ = pos_;
            state_ = pcxLeft_ > 0 ? XData : XPaletteMark;
            break;
        case XPaletteMark:
            if (*p == 0x0C) {
                ++p, --n, ++pos_;
                skip_ = 768;
                afterSkip_ = Done;
                state_ = Skip;
            } else if (pcxNeedsPalette_) {
                return fail(), false;   // a 256-colour picture without its palette behind the lines
            } else {
                finish(pos_);
            }
            break;

        default:
            return false;
        }
    }
    return wantsMore();
}

bool PictureWalker::expectsData() const
{
    switch (state_) {
    case JMarkerFF:
    case JMarkerCode:
    case JEntropy:
    case JEntropyFF:
    case PChunkHead:
    case GBlock:
    case GImageDesc:
    case GCodeSize:
    case GExtLabel:
    case GSubLen:
        return true;
    case Skip:
        return afterSkip_ == GSubLen;   // the bytes of a GIF sub-block
    default:
        return false;
    }
}

namespace {

bool entropyGoesOn(const unsigned char *p, size_t n, bool afterFF)
{
    const auto goesOn = [](unsigned char c) { return c == 0x00 || (c >= 0xD0 && c <= 0xD7); };
    size_t i = 0;
    if (afterFF) {
        if (n == 0 || !(goesOn(p[0]) || p[0] == 0xD9))
            return false;
        if (p[0] == 0xD9)
            return true;
        i = 1;
    }
    bool shown = afterFF;
    while (i < n) {
        const void *ff = std::memchr(p + i, 0xFF, n - i);
        if (!ff)
            break;
        const size_t at = size_t(static_cast<const unsigned char *>(ff) - p);
        if (at + 1 >= n)
            break;   // the byte after it is not at hand
        const unsigned char c = p[at + 1];
        if (c == 0xD9)
            return true;
        if (!goesOn(c))
            return false;
        shown = true;
        i = at + 2;
    }
    return shown;
}

} // namespace

bool PictureWalker::holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const
{
    if (format_ != PictureFormat::Jpeg)
        return false;
    const auto fits = [mediumLeft](int64_t bytes) { return WithinMedium(bytes, mediumLeft); };
    switch (state_) {
    case Skip:
        return afterSkip_ == JMarkerFF && !sawScan_ && skip_ > 0 && fits(skip_);
    case JSegment:
        return !sawScan_ && skip_ > int64_t(acc_.size()) && fits(skip_ - int64_t(acc_.size()));
    case JTrailer:
        for (const Expect &e : expect_)
            if (e.at >= pos_ && e.at < pos_ + int64_t(n) && p[e.at - pos_] != e.byte)
                return false;
        return trailerEnd_ > pos_ && fits(trailerEnd_ - pos_);
    case JEntropy:
    case JEntropyFF:
        return entropyGoesOn(p, n, state_ == JEntropyFF);
    default:
        return false;
    }
}

PictureExtent PictureWalker::result() const
{
    PictureExtent r;
    r.width = width_;
    r.height = height_;
    r.bitsPerPixel = bits_;
    switch (state_) {
    case Idle:
        return r;
    case Done:
        r.walk = end_ <= pos_ ? PictureExtent::Walk::Complete : PictureExtent::Walk::Incomplete;
        r.end = std::min(end_, pos_);
        return r;
    case Failed:
        r.walk = PictureExtent::Walk::Incomplete;
        r.end = std::min(held_, pos_);
        return r;
    case XPaletteMark:
        // The lines ended with the bytes: a 16-colour picture is whole.
        r.walk = pcxNeedsPalette_ ? PictureExtent::Walk::Incomplete : PictureExtent::Walk::Complete;
        r.end = pos_;
        return r;
    default:
        // The bytes ended inside the structure: all of them belong to it.
        r.walk = PictureExtent::Walk::Incomplete;
        r.end = pos_;
        return r;
    }
}

// --- TIFF ---------------------------------------------------------------------------

namespace {

int tiffTypeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7:
        return 1;
    case 3: case 8:
        return 2;
    case 4: case 9: case 11: case 13:
        return 4;
    case 5: case 10: case 12: case 16: case 17: case 18:
        return 8;
    default:
        return 0;
    }
}

class TiffWalk {
public:
    TiffWalk(const ReadBytesAt &read, int64_t length) : read_(read), length_(length) {}

    PictureExtent run()
    {
        PictureExtent r;
        unsigned char h[8];
        if (length_ < 8 || read_(0, h, 8) != 8 || !isTiffHeader(h, 8))
            return r;
        le_ = h[0] == 'I';
        extent_ = 8;
        todo_.push_back({u32(h + 4), true});
        int ifds = 0;
        while (!todo_.empty()) {
            const Pending t = todo_.back();
            todo_.pop_back();
            if (t.offset == 0)
                continue;   // the end of a chain
            if (std::find(seen_.begin(), seen_.end(), t.offset) != seen_.end()) {
                if (t.chain)
                    ok_ = false;   // a chain that runs in a circle
                continue;
            }
            if (++ifds > kMaxIfds) {
                ok_ = false;
                break;
            }
            seen_.push_back(t.offset);
            ifd(t.offset, t.chain, ifds == 1, r);
        }
        // Values begin on word boundaries: a writer whose last value ends on
        // an odd byte pads the file with a zero byte.
        unsigned char pad = 1;
        if (ok_ && (extent_ & 1) && extent_ < length_ && read_(extent_, &pad, 1) == 1 && pad == 0)
            ++extent_;
        r.walk = ok_ ? PictureExtent::Walk::Complete : PictureExtent::Walk::Incomplete;
        r.end = extent_;
        return r;
    }

private:
    static constexpr int kMaxIfds = 256;
    static constexpr uint32_t kMaxEntries = 4096;
    static constexpr uint64_t kMaxValues = uint64_t(1) << 22;

    struct Pending {
        int64_t offset;
        bool chain;   // its next-IFD pointer is followed
    };
    struct Entry {
        uint16_t tag = 0, type = 0;
        uint32_t count = 0;
        unsigned char value[4] = {};
    };

    static int64_t clamped(uint64_t v) { return int64_t(std::min<uint64_t>(v, uint64_t(INT64_MAX / 4))); }
    uint16_t u16(const unsigned char *p) const { return le_ ? le16(p) : be16(p); }
    uint32_t u32(const unsigned char *p) const { return le_ ? le32(p) : be32(p); }

    bool within(int64_t offset, int64_t size) const
    {
        return offset >= 0 && size >= 0 && offset <= length_ && size <= length_ - offset;
    }
    // Takes a stretch into the picture's extent; false (and the walk
    // incomplete) when it lies outside the file.
    bool reach(int64_t offset, int64_t size)
    {
        if (!within(offset, size)) {
            ok_ = false;
            if (offset >= 0 && offset < length_ && size > 0)
                extent_ = length_;   // it begins inside: the rest of the file is its start
            return false;
        }
        extent_ = std::max(extent_, offset + size);
        return true;
    }
    bool bytes(int64_t offset, size_t n, unsigned char *into) const
    {
        return within(offset, int64_t(n)) && read_(offset, into, n) == n;
    }

    // The values of an entry as whole numbers (SHORT, LONG, LONG8, IFD).
    bool values(const Entry &e, std::vector<uint64_t> &out)
    {
        out.clear();
        const int size = tiffTypeSize(e.type);
        if (e.type != 3 && e.type != 4 && e.type != 13 && e.type != 16 && e.type != 18)
            return false;
        if (e.count > kMaxValues)
            return false;
        const int64_t total = int64_t(e.count) * size;
        if (total == 0)
            return true;
        if (total > 4 && !within(u32(e.value), total))
            return false;
        std::vector<unsigned char> raw(static_cast<size_t>(total));
        if (total <= 4)
            std::memcpy(raw.data(), e.value, size_t(total));
        else if (!bytes(u32(e.value), size_t(total), raw.data()))
            return false;
        out.reserve(e.count);
        for (uint32_t i = 0; i < e.count; ++i) {
            const unsigned char *q = raw.data() + size_t(i) * size_t(size);
            if (size == 2)
                out.push_back(u16(q));
            else if (size == 4)
                out.push_back(u32(q));
            else
                out.push_back(le_ ? (uint64_t(le32(q + 4)) << 32) | le32(q) : (uint64_t(be32(q)) << 32) | be32(q + 4));
        }
        return true;
    }

    // Offsets paired with byte counts (strips, tiles).
    void pieces(const Entry *offsets, const Entry *counts)
    {
        if (!offsets)
            return;
        std::vector<uint64_t> at, size;
        if (!values(*offsets, at)) {
            ok_ = false;
            return;
        }
        if (!counts || !values(*counts, size) || size.size() != at.size())
            ok_ = false;
        for (size_t i = 0; i < at.size(); ++i) {
            const uint64_t len = i < size.size() ? size[i] : 0;
            if (at[i] == 0 && len == 0)
                continue;   // a piece that was never written
            if (len == 0)
                ok_ = false;   // its length is unknown
            reach(clamped(at[i]), clamped(len));
        }
    }

    void ifd(int64_t offset, bool chain, bool first, PictureExtent &r)
    {
        unsigned char c[2];
        if (!bytes(offset, 2, c)) {
            ok_ = false;
            return;
        }
        const uint32_t n = u16(c);
        const int64_t size = 2 + 12 * int64_t(n) + 4;
        if (n == 0 || n > kMaxEntries || !within(offset, size)) {
            ok_ = false;
            reach(offset, std::min<int64_t>(2, length_ - offset));
            return;
        }
        std::vector<unsigned char> raw(static_cast<size_t>(size));
        if (!bytes(offset, raw.size(), raw.data())) {
            ok_ = false;
            return;
        }
        reach(offset, size);
        std::vector<Entry> entries(n);
        const Entry *stripAt = nullptr, *stripLen = nullptr, *tileAt = nullptr, *tileLen = nullptr,
                    *freeAt = nullptr, *freeLen = nullptr, *jpegAt = nullptr, *jpegLen = nullptr;
        uint64_t bitsPerSample = 0, samples = 1;
        for (uint32_t i = 0; i < n; ++i) {
            const unsigned char *q = raw.data() + 2 + 12 * i;
            Entry &e = entries[i];
            e.tag = u16(q);
            e.type = u16(q + 2);
            e.count = u32(q + 4);
            std::memcpy(e.value, q + 8, 4);
            const int typeSize = tiffTypeSize(e.type);
            const int64_t total = int64_t(e.count) * typeSize;
            if (total > 4)
                reach(u32(e.value), total);   // a value stored outside the entry
            std::vector<uint64_t> v;
            switch (e.tag) {
            case 0x0111: stripAt = &e; break;
            case 0x0117: stripLen = &e; break;
            case 0x0144: tileAt = &e; break;
            case 0x0145: tileLen = &e; break;
            case 0x0120: freeAt = &e; break;
            case 0x0121: freeLen = &e; break;
            case 0x0201: jpegAt = &e; break;
            case 0x0202: jpegLen = &e; break;
            case 0x014A:   // SubIFDs
                if (values(e, v))
                    for (uint64_t o : v)
                        todo_.push_back({int64_t(std::min<uint64_t>(o, uint64_t(INT64_MAX))), true});
                else if (e.type != 7 && e.type != 1)
                    ok_ = false;
                break;
            case 0x8769:   // EXIF
            case 0x8825:   // GPS
            case 0xA005:   // interoperability
                if (values(e, v) && !v.empty())
                    todo_.push_back({int64_t(v[0]), false});
                else
                    ok_ = false;
                break;
            case 0x0100:
                if (first && values(e, v) && !v.empty())
                    r.width = int64_t(std::min<uint64_t>(v[0], uint64_t(INT32_MAX)));
                break;
            case 0x0101:
                if (first && values(e, v) && !v.empty())
                    r.height = int64_t(std::min<uint64_t>(v[0], uint64_t(INT32_MAX)));
                break;
            case 0x0102:
                if (first && e.count <= 16 && values(e, v) && !v.empty())
                    bitsPerSample = v[0];
                break;
            case 0x0115:
                if (first && values(e, v) && !v.empty())
                    samples = v[0];
                break;
            default:
                break;
            }
        }
        if (first && bitsPerSample > 0 && bitsPerSample <= 64 && samples <= 16)
            r.bitsPerPixel = int(bitsPerSample * samples);
        pieces(stripAt, stripLen);
        pieces(tileAt, tileLen);
        pieces(freeAt, freeLen);
        if (jpegAt) {
            std::vector<uint64_t> at, len;
            if (values(*jpegAt, at) && !at.empty() && jpegLen && values(*jpegLen, len) && !len.empty()) {
                reach(clamped(at[0]), clamped(len[0]));
            } else {
                ok_ = false;
            }
        }
        if (chain) {
            const uint32_t next = u32(raw.data() + 2 + 12 * n);
            if (next != 0)
                todo_.push_back({int64_t(next), true});
        }
    }

    const ReadBytesAt &read_;
    int64_t length_;
    bool le_ = true;
    bool ok_ = true;
    int64_t extent_ = 0;
    std::vector<Pending> todo_;
    std::vector<int64_t> seen_;
};

} // namespace

PictureExtent WalkTiff(const ReadBytesAt &read, int64_t length)
{
    if (!read || length < 8)
        return {};
    return TiffWalk(read, length).run();
}

PictureExtent WalkPicture(PictureFormat format, const unsigned char *p, size_t n)
{
    if (format == PictureFormat::Tiff) {
        const ReadBytesAt read = [p, n](int64_t offset, unsigned char *into, size_t k) -> size_t {
            if (offset < 0 || uint64_t(offset) > n)
                return 0;
            const size_t m = std::min(k, n - size_t(offset));
            if (m > 0)
                std::memcpy(into, p + offset, m);
            return m;
        };
        return WalkTiff(read, int64_t(n));
    }
    PictureWalker w(format);
    w.feed(p, n);
    return w.result();
}
