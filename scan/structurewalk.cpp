#include "scan/structurewalk.h"

#include "scan/formatwalk.h"
#include "scan/isomedia.h"
#include "scan/mpegstream.h"
#include "scan/rarwalk.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char *p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
uint64_t le64(const unsigned char *p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }
uint16_t be16(const unsigned char *p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t be32(const unsigned char *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint64_t be64(const unsigned char *p) { return (uint64_t(be32(p)) << 32) | be32(p + 4); }

constexpr int64_t kMaxLength = kMaxWalkLength;

bool printable(const unsigned char *p, size_t n)
{
    return std::all_of(p, p + n, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// A whole sector of zero or of 0xFF bytes.
bool emptySector(const unsigned char *s)
{
    uint64_t first;
    std::memcpy(&first, s, 8);
    if (first != 0 && first != ~uint64_t(0))
        return false;
    for (int i = 8; i < kWalkSectorBytes; i += 8) {
        uint64_t w;
        std::memcpy(&w, s + i, 8);
        if (w != first)
            return false;
    }
    return true;
}

bool allEqual(const unsigned char *p, size_t n, unsigned char c)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != c)
            return false;
    return true;
}

int64_t roundUpToSector(int64_t v) { return (v + kWalkSectorBytes - 1) / kWalkSectorBytes * kWalkSectorBytes; }

const unsigned char kOleMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// The top-level objects that may follow the data: the simple index, the
// index, the media object index and the timecode index.
const unsigned char kAsfIndexes[4][16] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};

// --- MPEG audio frames --------------------------------------------------------------

struct MpegFrame {
    int version = 0;   // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;     // 3 layer I, 2 layer II, 1 layer III (the header's bits)
    int rateIndex = 0;
    bool mono = false;
    int64_t length = 0;
};

bool mpegFrame(const unsigned char *h, MpegFrame &f)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    f.version = (h[1] >> 3) & 3;
    f.layer = (h[1] >> 1) & 3;
    const int bitrate = h[2] >> 4;
    f.rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    f.mono = (h[3] >> 6) == 3;
    if (f.version == 1 || f.layer == 0 || bitrate == 0 || bitrate == 15 || f.rateIndex == 3 || (h[3] & 3) == 2)
        return false;
    static const int kbps[2][3][15] = {
        {   // MPEG-1: layer III, II, I
            {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
            {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
            {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        },
        {   // MPEG-2 and 2.5
            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
            {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        },
    };
    static const int rates[3] = {44100, 48000, 32000};
    const bool one = f.version == 3;
    const int rate = rates[f.rateIndex] >> (one ? 0 : f.version == 2 ? 1 : 2);
    const int64_t bps = int64_t(kbps[one ? 0 : 1][f.layer - 1][bitrate]) * 1000;
    if (f.layer == 3)
        f.length = (12 * bps / rate + padding) * 4;
    else if (f.layer == 1 && !one)
        f.length = 72 * bps / rate + padding;
    else
        f.length = 144 * bps / rate + padding;
    return f.length >= 4;
}

// --- the walks of formats other than pictures ---------------------------------------

// RIFF: the form's size, its chunks passed over by their sizes; an AVI goes
// on through the RIFF/AVIX lists that OpenDML files append, and its lists
// (the movie list and its records) are walked chunk by chunk, so that the
// walk knows where each frame begins.
class RiffWalk : public HeaderWalk {
public:
    RiffWalk() { next(0, 12); }

    // The data of a chunk whose header was just read inside a list (a frame
    // of the movie list), or the RIFF/AVIX list that goes on an AVI.
    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const override
    {
        if (!going())
            return false;
        if (stage_ == Follow)
            return atHeader() && n >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "AVIX", 4) == 0
                   && WithinMedium(8 + int64_t(le32(p + 4)), mediumLeft);
        return stage_ == Passed && depth_ > 0 && pos_ == dataAt_ && passingWithin(mediumLeft);
    }

    // Inside a chunk's data.
    bool claimsNext(int64_t mediumLeft) const override
    {
        return going() && stage_ == Passed && passingWithin(mediumLeft);
    }

private:
    enum Stage { Form, Chunk, ListType, Passed, Follow } stage_ = Form;
    static constexpr int kDepth = 4;   // lists inside lists that are followed
    int64_t riffEnd_ = 0;
    int64_t listEnd_[kDepth] = {};
    int depth_ = 0;
    int64_t dataAt_ = -1;              // where the data of the chunk passed over begins
    bool avi_ = false;

    // Where the chunks at this depth end.
    int64_t end() const { return depth_ > 0 ? listEnd_[depth_ - 1] : riffEnd_; }

    void nextChunk()
    {
        while (depth_ > 0 && pos_ >= listEnd_[depth_ - 1])
            --depth_;
        if (depth_ > 0 && listEnd_[depth_ - 1] - pos_ < 8) {
            // Bytes too few for a chunk at the end of a list: passed over.
            dataAt_ = -1;
            stage_ = Passed;
            return next(listEnd_[depth_ - 1] - pos_, 0);
        }
        if (pos_ >= riffEnd_) {
            if (!avi_)
                return finish(riffEnd_);
            mayEndAt(riffEnd_);
            stage_ = Follow;
            return next(0, 12);
        }
        stage_ = Chunk;
        next(0, 8);
    }

    void header(const unsigned char *h, size_t, int64_t at) override
    {
        switch (stage_) {
        case Form: {
            const uint32_t size = le32(h + 4);
            if (std::memcmp(h, "RIFF", 4) != 0 || size < 4 || size == 0xFFFFFFFFu || !printable(h + 8, 4))
                return giveUp();
            avi_ = std::memcmp(h + 8, "AVI ", 4) == 0;
            riffEnd_ = at + 8 + int64_t(size);
            held_ = at + 12;
            return nextChunk();
        }
        case Follow: {
            const uint32_t size = le32(h + 4);
            if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "AVIX", 4) != 0 || size < 4
                || size == 0xFFFFFFFFu)
                return finish(riffEnd_);
            riffEnd_ = at + 8 + int64_t(size);
            held_ = at + 12;
            return nextChunk();
        }
        case Chunk: {
            if (!printable(h, 4))
                return fail();
            const int64_t size = le32(h + 4);
            const int64_t chunkEnd = at + 8 + size;
            if (chunkEnd > end()) {
                if (depth_ > 0)
                    return fail();   // a chunk across its list's end
                return giveUp();     // the chunks do not fit the form's size: neither is believed
            }
            held_ = at;
            if (avi_ && depth_ < kDepth && size >= 4 && std::memcmp(h, "LIST", 4) == 0) {
                listEnd_[depth_] = std::min(chunkEnd + (size & 1), end());
                ++depth_;
                stage_ = ListType;
                return next(0, 4);
            }
            dataAt_ = at + 8;
            stage_ = Passed;
            return next(std::min(chunkEnd + (size & 1), end()) - pos_, 0);
        }
        case ListType:
            if (!printable(h, 4))
                return fail();
            held_ = pos_;
            return nextChunk();
        case Passed:
            held_ = pos_;
            return nextChunk();
        }
    }
};

// PDF: after the last "%%EOF" and the end of its line. The walk never
// knows that no update follows; the bytes end it.
//
// Beside that the walk follows the objects' streams, whose data it covers
// (claimsNext): a picture stored whole in a PDF (a DCTDecode stream is a
// JPEG) may begin a unit, and it is the PDF's as well as a file of its own.
// A stream's data begins on the line after "stream"; its dictionary's
// /Length, when a plain number that fits the medium, says where it ends,
// and "endstream" must stand there (after white space). A length given by
// reference ("/Length 9 0 R", as ImageMagick and many writers give it) is
// not known before the data: such data runs to the next "endstream", and is
// covered for kMaxSearched bytes at most. Only stream data is covered, not
// what lies before the "%%EOF" still to come: the text between the streams
// is short, and a PDF cut short, followed by photos, covers no more than
// its last stream states. A stated length that "endstream" does not bear
// out, and a stream by reference longer than kMaxSearched, break the
// structure off; the walk then follows no more streams, and still finds the
// end by "%%EOF".
class PdfWalk : public FormatWalk {
public:
    void feed(const unsigned char *p, size_t n) override
    {
        size_t i = 0;
        while (head_ < 5 && i < n) {
            if (p[i] != "%PDF-"[head_])
                return giveUp();
            ++head_, ++i;
        }
        findEnd(p, n, i);
        follow(p, n);
        pos_ += int64_t(n);
    }

    PictureExtent result() const override
    {
        PictureExtent r = FormatWalk::result();
        if (going() && lastEnd_ > 0) {
            r.walk = PictureExtent::Walk::Complete;
            r.end = lastEnd_;
        }
        return r;
    }

    bool claimsNext(int64_t mediumLeft) const override
    {
        if (!going() || broken_)
            return false;
        if (mode_ == Data)
            return WithinMedium(dataEnd_ - pos_, mediumLeft);
        return mode_ == Search && byReference_ && pos_ - dataAt_ < kMaxSearched;
    }

    bool brokeOff() const override { return broken_ || FormatWalk::brokeOff(); }

private:
    static constexpr int64_t kMaxSearched = int64_t(64) << 20;
    static constexpr size_t kMaxToken = 16;
    static constexpr int kMaxSpace = 64;   // white space between the data and "endstream"
    static constexpr char kEndStream[] = "endstream";
    enum Mode { Text, Comment, String, Eol, Data, After, Search, Off };
    enum Length { None, Stated, ByReference };

    int head_ = 0;
    int match_ = 0;
    int eol_ = 0;
    int64_t lastEnd_ = 0;

    Mode mode_ = Text;
    bool broken_ = false;
    unsigned char token_[kMaxToken];
    size_t tokenLength_ = 0;     // kMaxToken + 1: longer than any word looked for
    int depth_ = 0;              // of a string's parentheses
    bool escaped_ = false;
    int lengthWords_ = 0;        // the words after "/Length" read so far (1 to 3), 0: none pending
    int64_t lengthValue_ = -1;
    Length length_ = None;       // the /Length of the object read so far
    bool byReference_ = false;   // the data searched for "endstream" has its length by reference
    int64_t dataAt_ = 0, dataEnd_ = 0;
    int matched_ = 0;            // of "endstream"
    int spaces_ = 0;

    // "%%EOF" and its line's end, from p[i].
    void findEnd(const unsigned char *p, size_t n, size_t i)
    {
        while (i < n) {
            const unsigned char c = p[i];
            if (eol_ == 1) {   // right after "%%EOF"
                eol_ = 0;
                if (c == '\r' || c == '\n') {
                    lastEnd_ = pos_ + int64_t(i) + 1;
                    eol_ = c == '\r' ? 2 : 0;
                    ++i;
                }
                continue;
            }
            if (eol_ == 2) {   // after its CR
                eol_ = 0;
                if (c == '\n') {
                    lastEnd_ = pos_ + int64_t(i) + 1;
                    ++i;
                }
                continue;
            }
            if (match_ == 0) {
                const void *q = std::memchr(p + i, '%', n - i);
                if (!q)
                    break;
                i = size_t(static_cast<const unsigned char *>(q) - p);
            }
            static const char kEof[] = "%%EOF";
            if (p[i] == static_cast<unsigned char>(kEof[match_])) {
                if (++match_ == 5) {
                    match_ = 0;
                    lastEnd_ = pos_ + int64_t(i) + 1;
                    eol_ = 1;
                }
            } else {
                match_ = p[i] == '%' ? (match_ == 2 ? 2 : 1) : 0;
            }
            ++i;
        }
    }

    static bool space(unsigned char c)
    {
        return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
    }
    static bool delimiter(unsigned char c) { return std::strchr("()<>[]{}/%", c) != nullptr && c != 0; }

    bool tokenIs(const char *word) const
    {
        const size_t k = std::strlen(word);
        return tokenLength_ == k && std::memcmp(token_, word, k) == 0;
    }
    // The word read is a whole number (its value), or -1.
    int64_t tokenNumber() const
    {
        if (tokenLength_ == 0 || tokenLength_ > 12)
            return -1;
        int64_t v = 0;
        for (size_t k = 0; k < tokenLength_; ++k) {
            if (token_[k] < '0' || token_[k] > '9')
                return -1;
            v = v * 10 + (token_[k] - '0');
        }
        return v;
    }

    // A word of the text ended; `by` is the byte after it. True when the
    // word was "stream" and its data begins.
    bool word(unsigned char by)
    {
        if (tokenLength_ == 0)
            return false;
        // "/Length N" or "/Length N G R".
        if (lengthWords_ == 1) {
            lengthValue_ = tokenNumber();
            lengthWords_ = lengthValue_ >= 0 ? 2 : 0;
            length_ = None;
            if (lengthWords_)
                return false;
        } else if (lengthWords_ == 2) {
            lengthWords_ = 0;
            length_ = Stated;
            if (tokenNumber() >= 0) {
                lengthWords_ = 3;
                return false;
            }
        } else if (lengthWords_ == 3) {
            lengthWords_ = 0;
            length_ = tokenIs("R") ? ByReference : None;
            if (length_ == ByReference)
                return false;
        }
        if (tokenIs("/Length")) {
            lengthWords_ = 1;
        } else if (tokenIs("obj")) {
            length_ = None;   // an object begins: its own dictionary states its length
        } else if (tokenIs("stream")) {
            if (by == '\n')
                return true;
            if (by == '\r') {
                mode_ = Eol;   // a LF may follow
                return false;
            }
            // Not a stream's start as written: its end is searched for, nothing covered.
            mode_ = Search;
            byReference_ = false;
            matched_ = 0;
            length_ = None;
        }
        return false;
    }

    // The stream's data begins at `at`.
    void streamAt(int64_t at)
    {
        dataAt_ = at;
        matched_ = 0;
        if (length_ == Stated && lengthValue_ <= kMaxWalkLength) {
            dataEnd_ = at + lengthValue_;
            mode_ = Data;
        } else {
            byReference_ = length_ == ByReference;
            mode_ = Search;
        }
        length_ = None;
    }

    // Matches one byte of "endstream"; true once it is whole.
    bool endStream(unsigned char c)
    {
        if (c == static_cast<unsigned char>(kEndStream[matched_]))
            return ++matched_ == 9;
        // Only "e" begins again inside the word: "endstre" then "n" is "en".
        matched_ = matched_ == 7 && c == 'n' ? 2 : c == 'e' ? 1 : 0;
        return false;
    }

    void follow(const unsigned char *p, size_t n)
    {
        size_t i = 0;
        while (i < n && mode_ != Off) {
            const int64_t at = pos_ + int64_t(i);
            const unsigned char c = p[i];
            switch (mode_) {
            case Text:
                if (space(c) || delimiter(c)) {
                    const bool data = word(c);
                    tokenLength_ = 0;
                    ++i;
                    if (data) {
                        streamAt(at + 1);
                    } else if (c == '%') {
                        mode_ = Comment;
                    } else if (c == '(') {
                        mode_ = String;
                        depth_ = 1;
                        escaped_ = false;
                    } else if (c == '/') {
                        token_[0] = c;
                        tokenLength_ = 1;
                    }
                    continue;
                }
                if (tokenLength_ < kMaxToken)
                    token_[tokenLength_++] = c;
                else
                    tokenLength_ = kMaxToken + 1;
                ++i;
                continue;
            case Comment:
                if (c == '\r' || c == '\n')
                    mode_ = Text;
                ++i;
                continue;
            case String:
                if (escaped_)
                    escaped_ = false;
                else if (c == '\\')
                    escaped_ = true;
                else if (c == '(')
                    depth_ = std::min(depth_ + 1, 1 << 20);
                else if (c == ')' && --depth_ == 0)
                    mode_ = Text;
                ++i;
                continue;
            case Eol:   // "stream" and a CR: a LF may follow
                if (c == '\n')
                    ++i;
                streamAt(pos_ + int64_t(i));
                continue;
            case Data: {
                const int64_t k = std::min<int64_t>(dataEnd_ - at, int64_t(n - i));
                i += size_t(k);
                if (pos_ + int64_t(i) == dataEnd_) {
                    mode_ = After;
                    spaces_ = 0;
                }
                continue;
            }
            case After:
                ++i;
                if (matched_ == 0 && space(c) && ++spaces_ <= kMaxSpace)
                    continue;
                if (c != static_cast<unsigned char>(kEndStream[matched_])) {
                    broken_ = true;   // the stated length does not lead to the stream's end
                    mode_ = Off;
                    continue;
                }
                if (++matched_ == 9) {
                    confirmed_ = pos_ + int64_t(i);
                    mode_ = Text;
                }
                continue;
            case Search: {
                if (byReference_ && at - dataAt_ >= kMaxSearched) {
                    broken_ = true;
                    mode_ = Off;
                    continue;
                }
                size_t to = n;
                if (byReference_)
                    to = size_t(std::min<int64_t>(int64_t(n), int64_t(i) + (dataAt_ + kMaxSearched - at)));
                if (matched_ == 0) {
                    const void *q = std::memchr(p + i, 'e', to - i);
                    if (!q) {
                        i = to;
                        continue;
                    }
                    i = size_t(static_cast<const unsigned char *>(q) - p);
                }
                if (endStream(p[i]))
                    mode_ = Text;
                ++i;
                continue;
            }
            case Off:
                break;
            }
        }
        if (mode_ == Search && byReference_ && pos_ + int64_t(n) - dataAt_ >= kMaxSearched) {
            broken_ = true;   // no "endstream" where any stream of a card's PDF ends
            mode_ = Off;
        }
    }
};

// The local headers of a ZIP archive in order, from the first one up to the
// central directory: each header's sizes lead past its name, extra field
// and data (and a data descriptor when bit 3 of its flags is set) to the
// next. The chain places what the headers state (holdsNext): an entry's
// data, stored or compressed, and the next local header. An entry whose
// sizes only its data descriptor holds (bit 3 with sizes of zero, as a
// writer that streams leaves them), and a ZIP64 entry without its sizes in
// a short extra field, cannot be passed over: the chain gives up there and
// places nothing more. Where the lengths lead to no record of the archive,
// the chain fails.
class ZipEntries : public HeaderWalk {
public:
    ZipEntries() { next(0, 4); }

    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const override
    {
        if (!going() || pos_ == 0)
            return false;
        if (stage_ != Signature && stage_ != Local && passingWithin(mediumLeft))
            return true;   // the entry's name, extra field or data
        if (!atHeader() || (stage_ != Signature && stage_ != Data) || n < 30 || std::memcmp(p, "PK\3\4", 4) != 0)
            return false;
        const uint32_t size = le32(p + 18);
        return WithinMedium(30 + int64_t(le16(p + 26)) + le16(p + 28) + (size == 0xFFFFFFFFu ? 0 : size), mediumLeft);
    }

private:
    static constexpr size_t kMaxExtra = 4096;   // a ZIP64 entry's extra field, read whole
    enum Stage { Signature, Local, Name, Extra, Data, Descriptor } stage_ = Signature;
    int64_t size_ = 0;   // the entry's compressed size
    bool descriptor_ = false, zip64_ = false;
    bool plainUnknown_ = false, sizeUnknown_ = false;

    // The signature of the record at `at`: a local header, or one of the
    // records that follow the entries (the central directory, the ends of
    // ZIP64 and of the archive, a digital signature, the archive's extra
    // data record).
    void record(const unsigned char *h, int64_t at)
    {
        static const char kAfter[][5] = {"PK\1\2", "PK\5\6", "PK\6\6", "PK\5\5", "PK\6\x08"};
        if (std::memcmp(h, "PK\3\4", 4) == 0) {
            stage_ = Local;
            return next(0, 26);
        }
        for (const char *r : kAfter)
            if (at > 0 && std::memcmp(h, r, 4) == 0)
                return finish(at);
        if (at == 0)
            return giveUp();
        fail();
    }

    // The entry's data follows, then its descriptor or the next record.
    void data()
    {
        stage_ = descriptor_ ? Descriptor : Data;
        // A descriptor: PK\7\8 or not, the CRC and the two sizes; and the
        // signature of the record after one without PK\7\8.
        next(size_, descriptor_ ? (zip64_ ? 24 : 16) : 4);
    }

    void header(const unsigned char *h, size_t n, int64_t at) override
    {
        switch (stage_) {
        case Signature:
        case Data:
            return record(h, at);
        case Local: {
            // Version, flags, method, time, date, CRC, sizes, name and extra lengths.
            const uint32_t size = le32(h + 14), plain = le32(h + 18);
            const int64_t name = le16(h + 22), extra = le16(h + 24);
            descriptor_ = le16(h + 2) & 8;
            if (descriptor_ && size == 0)
                return giveUp();   // its sizes follow its data
            size_ = size;
            zip64_ = size == 0xFFFFFFFFu || plain == 0xFFFFFFFFu;
            if (!zip64_) {
                stage_ = Name;
                return next(name + extra, 0);
            }
            if (extra < 4 || size_t(extra) > kMaxExtra)
                return giveUp();
            plainUnknown_ = plain == 0xFFFFFFFFu;
            sizeUnknown_ = size == 0xFFFFFFFFu;
            stage_ = Extra;
            return next(name, size_t(extra));
        }
        case Name:
            return data();
        case Extra:
            // The ZIP64 field (0x0001): the original size, then the
            // compressed size, each where its header field is 0xFFFFFFFF.
            for (size_t k = 0; k + 4 <= n;) {
                const uint16_t id = le16(h + k), len = le16(h + k + 2);
                if (k + 4 + len > n)
                    break;
                if (id == 1) {
                    const size_t at64 = k + 4 + (plainUnknown_ ? 8 : 0);
                    if (sizeUnknown_ && at64 + 8 <= k + 4 + len)
                        size_ = int64_t(std::min<uint64_t>(le64(h + at64), uint64_t(kMaxWalkLength) + 1));
                    if (size_ == 0xFFFFFFFFu || size_ > kMaxWalkLength || (descriptor_ && size_ == 0))
                        break;
                    return data();
                }
                k += 4 + len;
            }
            return giveUp();   // no ZIP64 sizes to follow
        case Descriptor: {
            const bool signature = std::memcmp(h, "PK\7\x08", 4) == 0;
            const unsigned char *sizes = h + (signature ? 8 : 4);
            if ((zip64_ ? le64(sizes) : le32(sizes)) != uint64_t(size_))
                return fail();   // no descriptor where the entry's size leads
            if (!signature)
                return record(h + n - 4, at + int64_t(n) - 4);
            stage_ = Signature;
            return next(0, 4);
        }
        }
    }
};

// ZIP: the end-of-central-directory record whose directory lies right
// before it (or, for ZIP64, whose locator does), and its comment. The
// local headers are followed beside it (ZipEntries) for what they place; a
// chain that fails breaks the structure off, although the end is still
// found by the record.
class ZipWalk : public FormatWalk {
public:
    void feed(const unsigned char *p, size_t n) override
    {
        if (entries_.going()) {
            entries_.feed(p, n);
            confirmed_ = std::max(confirmed_, entries_.complete() ? entries_.result().end : entries_.confirmed());
        }
        const int64_t base = pos_;
        if (head_ < 4) {
            for (size_t i = 0; head_ < 4 && i < n; ++i, ++head_)
                if (p[i] != "PK\3\4"[head_])
                    return giveUp();
        }
        if (end_ > 0) {
            pos_ += int64_t(n);
            if (pos_ >= end_)
                finish(end_);
            return;
        }
        // Records that began in the bytes kept from before.
        const int64_t keptFrom = base - int64_t(kept_.size());
        for (int64_t c = std::max(from_, keptFrom); c < base && end_ == 0; ++c) {
            if (!fits(c, 22, p, n, base)) {
                from_ = c;
                keep(p, n);
                pos_ += int64_t(n);
                return;
            }
            judge(c, p, n, base);
        }
        if (end_ == 0) {
            // Records inside the new bytes.
            size_t i = size_t(std::max<int64_t>(0, from_ - base));
            while (i < n) {
                const void *q = std::memchr(p + i, 'P', n - i);
                if (!q) {
                    i = n;
                    break;
                }
                const size_t c = size_t(static_cast<const unsigned char *>(q) - p);
                if (c + 22 > n) {
                    i = c;   // it needs bytes still to come
                    break;
                }
                if (judge(base + int64_t(c), p, n, base))
                    break;
                i = c + 1;
            }
            from_ = base + int64_t(i);
        }
        keep(p, n);
        pos_ += int64_t(n);
        if (end_ > 0 && pos_ >= end_)
            finish(end_);
    }

    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const override
    {
        return going() && entries_.holdsNext(p, n, mediumLeft);
    }

    bool brokeOff() const override { return entries_.failed() || FormatWalk::brokeOff(); }

private:
    static constexpr size_t kKeep = 96;
    ZipEntries entries_;
    size_t head_ = 0;
    int64_t from_ = 0;    // where the search goes on
    std::vector<unsigned char> kept_;   // the last bytes before the new ones

    void keep(const unsigned char *p, size_t n)
    {
        if (n >= kKeep) {
            kept_.assign(p + n - kKeep, p + n);
            return;
        }
        kept_.insert(kept_.end(), p, p + n);
        if (kept_.size() > kKeep)
            kept_.erase(kept_.begin(), kept_.end() - kKeep);
    }
    bool fits(int64_t at, size_t len, const unsigned char *, size_t n, int64_t base) const
    {
        return at >= base - int64_t(kept_.size()) && at + int64_t(len) <= base + int64_t(n);
    }
    // The bytes [at, at + len) of the kept bytes and the new ones.
    bool bytes(int64_t at, size_t len, unsigned char *into, const unsigned char *p, size_t n, int64_t base) const
    {
        if (!fits(at, len, p, n, base))
            return false;
        for (size_t k = 0; k < len; ++k) {
            const int64_t a = at + int64_t(k);
            into[k] = a >= base ? p[a - base] : kept_[size_t(a - (base - int64_t(kept_.size())))];
        }
        return true;
    }
    bool judge(int64_t at, const unsigned char *p, size_t n, int64_t base)
    {
        unsigned char r[22];
        if (!bytes(at, sizeof r, r, p, n, base) || std::memcmp(r, "PK\5\6", 4) != 0)
            return false;
        const uint16_t disk = le16(r + 4), cdDisk = le16(r + 6), onDisk = le16(r + 8), entries = le16(r + 10);
        const uint32_t cdSize = le32(r + 12), cdOffset = le32(r + 16);
        if (disk != 0 || cdDisk != 0 || onDisk != entries)
            return false;
        if (cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu || entries == 0xFFFF) {
            // ZIP64: its locator lies right before the record.
            unsigned char l[20];
            if (!bytes(at - 20, sizeof l, l, p, n, base) || std::memcmp(l, "PK\6\7", 4) != 0
                || le64(l + 8) >= uint64_t(at - 20))
                return false;
        } else if (int64_t(cdOffset) + int64_t(cdSize) != at) {
            return false;
        }
        end_ = at + 22 + le16(r + 20);
        held_ = at;
        return true;
    }
};

// OLE compound files: the allocation table's sectors, found through the
// header's list and the DIFAT sectors, give the highest sector in use. The
// sectors are taken as the bytes pass; one that a DIFAT sector lists behind
// the position (as writers put the DIFAT after the table) is read back from
// the file.
class OleWalk : public HeaderWalk {
public:
    explicit OleWalk(ReadBytesAt readBack) : readBack_(std::move(readBack)) { next(0, 512); }

private:
    static constexpr uint32_t kMaxFatSectors = 65536;
    enum Stage { Head, Sector, End } stage_ = Head;
    int64_t sectorBytes_ = 512;
    uint32_t fatSectors_ = 0, fatSeen_ = 0;
    int64_t maxUsed_ = -1;    // the highest sector the table uses
    int64_t reached_ = 0;     // the end of the table's own sectors
    // Sector -> its place: a table sector's index (>= 0), or -1 - n for the nth DIFAT sector.
    std::map<uint32_t, int64_t> pending_;
    std::set<uint32_t> listed_;   // every sector listed so far: none is listed twice
    ReadBytesAt readBack_;
    std::vector<unsigned char> back_;

    bool want(uint32_t sector, int64_t role)
    {
        if (sector >= 0xFFFFFFFAu || !listed_.insert(sector).second)
            return false;
        pending_.emplace(sector, role);
        return true;
    }
    int64_t offsetOf(uint32_t sector) const { return (int64_t(sector) + 1) * sectorBytes_; }

    void advance()
    {
        while (!pending_.empty() && offsetOf(pending_.begin()->first) < pos_) {
            const int64_t at = offsetOf(pending_.begin()->first);
            back_.resize(size_t(sectorBytes_));
            if (!readBack_ || readBack_(at, back_.data(), back_.size()) != back_.size())
                return giveUp();   // it passed already and cannot be read again
            if (!sector(back_.data(), at))
                return;
        }
        if (pending_.empty()) {
            if (fatSeen_ != fatSectors_)
                return giveUp();
            const int64_t end = std::max(reached_, (maxUsed_ + 2) * sectorBytes_);
            if (end <= pos_)
                return finish(end);
            stage_ = End;
            return next(end - pos_, 0);
        }
        stage_ = Sector;
        next(offsetOf(pending_.begin()->first) - pos_, size_t(sectorBytes_));
    }

    // A sector of the table or of its DIFAT, the first one pending; false
    // when the walk gave up.
    bool sector(const unsigned char *h, int64_t at)
    {
        const int64_t role = pending_.begin()->second;
        pending_.erase(pending_.begin());
        reached_ = std::max(reached_, at + sectorBytes_);
        held_ = std::max(held_, reached_);
        const uint32_t entries = uint32_t(sectorBytes_ / 4);
        if (role >= 0) {
            for (uint32_t j = 0; j < entries; ++j)
                if (le32(h + 4 * j) != 0xFFFFFFFFu)
                    maxUsed_ = std::max(maxUsed_, role * entries + j);
            ++fatSeen_;
            return true;
        }
        const int64_t n = -1 - role;
        const int64_t first = 109 + n * (entries - 1);
        for (uint32_t j = 0; j + 1 < entries && first + j < fatSectors_; ++j)
            if (!want(le32(h + 4 * j), first + j))
                return giveUp(), false;
        if (first + entries - 1 < fatSectors_ && !want(le32(h + sectorBytes_ - 4), -2 - n))
            return giveUp(), false;
        return true;
    }

    void header(const unsigned char *h, size_t, int64_t at) override
    {
        if (stage_ == End)
            return finish(at);
        if (stage_ == Head) {
            const uint16_t major = le16(h + 0x1A), shift = le16(h + 0x1E);
            if (std::memcmp(h, kOleMagic, 8) != 0 || le16(h + 0x1C) != 0xFFFE || le16(h + 0x20) != 6
                || !((major == 3 && shift == 9) || (major == 4 && shift == 12)))
                return giveUp();
            sectorBytes_ = int64_t(1) << shift;
            fatSectors_ = le32(h + 0x2C);
            const uint32_t difStart = le32(h + 0x44), difCount = le32(h + 0x48);
            const uint32_t perDifat = uint32_t(sectorBytes_ / 4 - 1);
            if (fatSectors_ == 0 || fatSectors_ > kMaxFatSectors || difCount > fatSectors_ / perDifat + 1)
                return giveUp();
            for (uint32_t k = 0; k < std::min<uint32_t>(fatSectors_, 109); ++k)
                if (!want(le32(h + 0x4C + 4 * k), k))
                    return giveUp();
            if (fatSectors_ > 109 && (difCount == 0 || !want(difStart, -1)))
                return giveUp();
            held_ = 512;
            return advance();
        }
        if (sector(h, at))
            advance();
    }
};

// MP3: an ID3v2 tag by its size, the MPEG audio frames by their headers
// (each like the first), then an APE tag with its header and an ID3v1 tag.
// The frame count of a Xing or Info frame says how many frames a whole
// stream holds. The walk places the tag's content (a cover picture) and
// the next frame where the last one's length leads. The tag's size is
// borne out by two frames in a row behind it, not by one: four bytes of a
// picture read as a frame header now and then.
class Mp3Walk : public HeaderWalk {
public:
    Mp3Walk() { next(0, 4); }

    void feed(const unsigned char *p, size_t n) override
    {
        HeaderWalk::feed(p, n);
        if (frames_ < 2)
            confirmed_ = std::min<int64_t>(confirmed_, id3Version_ ? 10 : 0);
    }

    bool holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const override
    {
        if (!going() || stage_ != Frame)
            return false;
        if (frames_ == 0 && !atHeader())
            return passingWithin(mediumLeft);   // inside the ID3v2 tag
        MpegFrame f;
        return atHeader() && n >= 4 && mpegFrame(p, f) && (frames_ == 0 || like(f))
               && WithinMedium(f.length, mediumLeft);
    }

    PictureExtent result() const override
    {
        PictureExtent r = FormatWalk::result();
        if (going() && r.walk == PictureExtent::Walk::Complete && !counted()) {
            r.walk = PictureExtent::Walk::Incomplete;   // fewer frames than the stream states
            r.end = pos_;
        }
        return r;
    }

private:
    enum Stage { Start, Id3, Frame, FirstBody, Ape, AfterApe, Tag } stage_ = Start;
    static constexpr int64_t kMaxTag = int64_t(16) << 20;
    MpegFrame first_;
    int64_t frames_ = 0;
    int64_t stated_ = 0;    // the frames a Xing or Info frame counts (with itself or without)
    int64_t frameEnd_ = 0;
    int id3Version_ = 0;

    bool counted() const { return stated_ == 0 || frames_ + 1 >= stated_; }
    bool like(const MpegFrame &f) const
    {
        return f.version == first_.version && f.layer == first_.layer && f.rateIndex == first_.rateIndex;
    }

    static int sideInfo(const MpegFrame &f) { return f.version == 3 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17); }

    void frameAt(const unsigned char *h, int64_t at)
    {
        MpegFrame f;
        const bool isFrame = mpegFrame(h, f);
        if (isFrame && frames_ == 0) {
            first_ = f;
            frames_ = 1;
            frameEnd_ = at + f.length;
            held_ = at;
            // Its side information, then perhaps "Xing" or "Info" and the counts.
            stage_ = FirstBody;
            return next(0, size_t(std::min<int64_t>(f.length - 4, sideInfo(f) + 12)));
        }
        if (isFrame && like(f)) {
            ++frames_;
            held_ = at;
            frameEnd_ = at + f.length;
            mayEndAt(frameEnd_);
            stage_ = Frame;
            return next(f.length - 4, 4);
        }
        if (frames_ == 0)
            return giveUp();
        if (std::memcmp(h, "TAG", 3) == 0 && counted()) {
            stage_ = Tag;
            return next(124, 0);
        }
        if (std::memcmp(h, "APET", 4) == 0 && counted()) {
            stage_ = Ape;   // an APE tag's header, perhaps an ID3v1 tag behind it
            return next(0, 28);
        }
        if (stated_ > 0)
            return counted() ? finish(at) : fail();
        if (allEqual(h, 4, 0) || allEqual(h, 4, 0xFF))
            return finish(at);   // the frames run into empty bytes
        giveUp();   // neither a frame nor an end that can be told
    }

    void header(const unsigned char *h, size_t n, int64_t at) override
    {
        switch (stage_) {
        case Start:
            if (std::memcmp(h, "ID3", 3) == 0) {
                if (h[3] < 2 || h[3] > 4)
                    return giveUp();
                id3Version_ = h[3];
                stage_ = Id3;
                return next(0, 6);
            }
            return frameAt(h, at);
        case Id3: {
            // Revision, flags, and the size in four bytes of seven bits.
            if (h[0] == 0xFF || ((h[2] | h[3] | h[4] | h[5]) & 0x80))
                return giveUp();
            int64_t size = (int64_t(h[2]) << 21) | (int64_t(h[3]) << 14) | (int64_t(h[4]) << 7) | h[5];
            size += 10;
            if (id3Version_ == 4 && (h[1] & 0x10))
                size += 10;   // a footer
            held_ = size;
            stage_ = Frame;
            return next(size - pos_, 4);
        }
        case FirstBody: {
            const int side = sideInfo(first_);
            if (size_t(side) + 12 <= n && (std::memcmp(h + side, "Xing", 4) == 0 || std::memcmp(h + side, "Info", 4) == 0)
                && (be32(h + side + 4) & 1))
                stated_ = be32(h + side + 8);
            stage_ = Frame;
            mayEndAt(frameEnd_);
            return next(frameEnd_ - pos_, 4);
        }
        case Frame:
            return frameAt(h, at);
        case Ape: {
            // "APETAGEX", version, the size of the items and the footer.
            const int64_t size = le32(h + 8);
            if (std::memcmp(h, "AGEX", 4) != 0 || size < 32 || size > kMaxTag)
                return finish(at - 4);
            stage_ = AfterApe;
            mayEndAt(at - 4 + 32 + size);
            return next(size, 4);
        }
        case AfterApe:
            if (std::memcmp(h, "TAG", 3) == 0) {
                stage_ = Tag;
                return next(124, 0);
            }
            return finish(at);
        case Tag:
            return finish(at);
        }
    }
};

// Headers that state the whole length: CAB (the cabinet's size), SWF (the
// file's length, its last tag the end tag), DOS EPS (its sections).
class StatedLengthWalk : public HeaderWalk {
public:
    explicit StatedLengthWalk(StructureFormat f) : format_(f)
    {
        next(0, f == StructureFormat::Cab ? 36 : f == StructureFormat::Swf ? 8 : 30);
    }

private:
    StructureFormat format_;
    int stage_ = 0;
    int64_t stated_ = 0;

    void header(const unsigned char *h, size_t, int64_t at) override
    {
        if (stage_ == 1) {
            if (format_ == StructureFormat::Swf && (h[0] != 0 || h[1] != 0))
                return giveUp();   // its last tag is not the end tag: the length is not believed
            return finish(stated_);
        }
        stage_ = 1;
        if (format_ == StructureFormat::Cab) {
            stated_ = le32(h + 8);
            if (std::memcmp(h, "MSCF", 4) != 0 || le32(h + 4) != 0 || le32(h + 12) != 0 || le32(h + 20) != 0
                || h[24] != 3 || h[25] != 1 || le16(h + 26) == 0 || stated_ < 36 || le32(h + 16) >= stated_)
                return giveUp();
            held_ = 36;
            return next(stated_ - pos_, 0);
        }
        if (format_ == StructureFormat::Swf) {
            stated_ = le32(h + 4);
            if (std::memcmp(h, "FWS", 3) != 0 || h[3] == 0 || stated_ < 15)
                return giveUp();
            held_ = 8;
            return next(stated_ - 2 - pos_, 2);
        }
        // DOS EPS: PostScript, then perhaps a WMF and a TIFF preview.
        if (std::memcmp(h, "\xC5\xD0\xD3\xC6", 4) != 0 || le32(h + 4) < 30 || le32(h + 8) == 0)
            return giveUp();
        for (int s = 0; s < 3; ++s) {
            const int64_t from = le32(h + 4 + 8 * s), len = le32(h + 8 + 8 * s);
            if (len == 0)
                continue;
            if (from < 30)
                return giveUp();
            stated_ = std::max(stated_, from + len);
        }
        held_ = 30;
        (void)at;
        next(stated_ - pos_, 0);
    }
};

// PSD: the header, the colour data, resources and layers by their lengths,
// then the merged picture (raw by its size, run-length by its line counts).
class PsdWalk : public HeaderWalk {
public:
    PsdWalk() { next(0, 26); }

private:
    enum Stage { Head, ModeLength, ResourceLength, LayerLength, Compression, Counts, End } stage_ = Head;
    bool big_ = false;
    int64_t channels_ = 0, height_ = 0, width_ = 0, depth_ = 0;
    int64_t countsLeft_ = 0, sum_ = 0;

    void counts()
    {
        if (countsLeft_ == 0) {
            stage_ = End;
            return next(sum_, 0);
        }
        const int64_t k = std::min<int64_t>(countsLeft_, 1024);
        stage_ = Counts;
        next(0, size_t(k * (big_ ? 4 : 2)));
    }

    void header(const unsigned char *h, size_t n, int64_t at) override
    {
        switch (stage_) {
        case Head: {
            const uint16_t version = be16(h + 4);
            channels_ = be16(h + 12);
            height_ = be32(h + 14);
            width_ = be32(h + 18);
            depth_ = be16(h + 22);
            const int64_t most = version == 2 ? 300000 : 30000;
            if (std::memcmp(h, "8BPS", 4) != 0 || (version != 1 && version != 2) || !allEqual(h + 6, 6, 0)
                || channels_ < 1 || channels_ > 56 || height_ < 1 || height_ > most || width_ < 1 || width_ > most
                || (depth_ != 1 && depth_ != 8 && depth_ != 16 && depth_ != 32))
                return giveUp();
            big_ = version == 2;
            held_ = 26;
            stage_ = ModeLength;
            return next(0, 4);
        }
        case ModeLength:
            held_ = pos_;
            stage_ = ResourceLength;
            return next(be32(h), 4);
        case ResourceLength:
            held_ = pos_;
            stage_ = LayerLength;
            return next(be32(h), big_ ? 8 : 4);
        case LayerLength: {
            held_ = pos_;
            const int64_t len = big_ ? int64_t(std::min<uint64_t>(be64(h), uint64_t(kMaxLength) + 1)) : be32(h);
            stage_ = Compression;
            return next(len, 2);
        }
        case Compression: {
            held_ = pos_;
            const uint16_t c = be16(h);
            if (c == 0) {
                stage_ = End;
                return next(channels_ * height_ * ((width_ * depth_ + 7) / 8), 0);
            }
            if (c != 1)
                return giveUp();
            countsLeft_ = channels_ * height_;
            return counts();
        }
        case Counts:
            for (size_t k = 0; k < n; k += big_ ? 4 : 2)
                sum_ += big_ ? be32(h + k) : be16(h + k);
            countsLeft_ -= int64_t(n / (big_ ? 4 : 2));
            if (sum_ > kMaxLength)
                return giveUp();
            return counts();
        case End:
            return finish(at);
        }
    }
};

// ASF (WMV, WMA): the header object, the data object and the index
// objects, each by its size.
class AsfWalk : public HeaderWalk {
public:
    AsfWalk() { next(0, 24); }

private:
    bool first_ = true, data_ = false;

    void header(const unsigned char *h, size_t, int64_t at) override
    {
        const uint64_t size = le64(h + 16);
        if (first_) {
            if (std::memcmp(h, kAsfHeader, 16) != 0 || size < 30 || size > uint64_t(kMaxLength))
                return giveUp();
            first_ = false;
            held_ = at + 24;
            return next(int64_t(size) - 24, 24);
        }
        bool known = std::memcmp(h, kAsfData, 16) == 0;
        for (const auto &g : kAsfIndexes)
            known = known || (data_ && std::memcmp(h, g, 16) == 0);
        if (!known || size < 24 || size > uint64_t(kMaxLength)) {
            if (!data_)
                return fail();
            return finish(at);
        }
        data_ = true;
        held_ = at;
        mayEndAt(at + int64_t(size));
        next(int64_t(size) - 24, 24);
    }
};

// RAR 4 and RAR 5 archives, block by block (scan/rarwalk.h).
class RarWalk : public HeaderWalk {
public:
    RarWalk() { take(RarBlocks::first()); }

private:
    RarBlocks blocks_;

    void take(const RarStep &s)
    {
        switch (s.kind) {
        case RarStep::Kind::Gather:
            held_ = s.held;
            return next(s.skip, s.want);
        case RarStep::Kind::End:
            return finish(s.at);
        case RarStep::Kind::Broken:
            held_ = s.at;
            return fail();
        case RarStep::Kind::Unknown:
            return giveUp();
        }
    }
    void header(const unsigned char *h, size_t n, int64_t at) override { take(blocks_.next(h, n, at)); }
};

std::unique_ptr<FormatWalk> makeWalk(StructureFormat f, const ReadBytesAt &readBack)
{
    switch (f) {
    case StructureFormat::Riff:
        return std::make_unique<RiffWalk>();
    case StructureFormat::Pdf:
        return std::make_unique<PdfWalk>();
    case StructureFormat::Zip:
        return std::make_unique<ZipWalk>();
    case StructureFormat::Ole:
        return std::make_unique<OleWalk>(readBack);
    case StructureFormat::Mp3:
        return std::make_unique<Mp3Walk>();
    case StructureFormat::Cab:
    case StructureFormat::Swf:
    case StructureFormat::Eps:
        return std::make_unique<StatedLengthWalk>(f);
    case StructureFormat::Psd:
        return std::make_unique<PsdWalk>();
    case StructureFormat::Asf:
        return std::make_unique<AsfWalk>();
    case StructureFormat::Iso:
        return MakeIsoBoxWalk();
    case StructureFormat::Mpeg:
        return MakeProgramStreamWalk();
    case StructureFormat::Rar:
        return std::make_unique<RarWalk>();
    default:
        return nullptr;
    }
}

} // namespace

StructureFormat StructureFormatOfHeader(const unsigned char *p, size_t n, bool bmpName, bool pcxName, bool mp3Name)
{
    switch (PictureFormatOfHeader(p, n, bmpName, pcxName)) {
    case PictureFormat::Jpeg: return StructureFormat::Jpeg;
    case PictureFormat::Png: return StructureFormat::Png;
    case PictureFormat::Gif: return StructureFormat::Gif;
    case PictureFormat::Bmp: return StructureFormat::Bmp;
    case PictureFormat::Pcx: return StructureFormat::Pcx;
    case PictureFormat::Tiff: return StructureFormat::Tiff;
    case PictureFormat::None: break;
    }
    static const struct {
        const void *signature;
        size_t length;
        StructureFormat format;
    } kSignatures[] = {
        {"RIFF", 4, StructureFormat::Riff},
        {"%PDF-", 5, StructureFormat::Pdf},
        {"PK\3\4", 4, StructureFormat::Zip},
        {kOleMagic, 8, StructureFormat::Ole},
        {"ID3", 3, StructureFormat::Mp3},
        {"MSCF", 4, StructureFormat::Cab},
        {"FWS", 3, StructureFormat::Swf},
        {"\xC5\xD0\xD3\xC6", 4, StructureFormat::Eps},
        {"8BPS", 4, StructureFormat::Psd},
        {kAsfHeader, 16, StructureFormat::Asf},
        {"Rar!\x1A\x07\x00", 7, StructureFormat::Rar},
        {"Rar!\x1A\x07\x01\x00", 8, StructureFormat::Rar},
    };
    for (const auto &s : kSignatures)
        if (n >= s.length && std::memcmp(p, s.signature, s.length) == 0)
            return s.format;
    if (IsIsoBoxStart(p, n))
        return StructureFormat::Iso;
    if (IsProgramStreamPack(p, n))
        return StructureFormat::Mpeg;
    // No signature above begins with an MPEG frame's 0xFF.
    MpegFrame f;
    if (mp3Name && n >= 4 && mpegFrame(p, f))
        return StructureFormat::Mp3;
    return StructureFormat::None;
}

PictureFormat PictureFormatOf(StructureFormat format)
{
    switch (format) {
    case StructureFormat::Jpeg: return PictureFormat::Jpeg;
    case StructureFormat::Png: return PictureFormat::Png;
    case StructureFormat::Gif: return PictureFormat::Gif;
    case StructureFormat::Bmp: return PictureFormat::Bmp;
    case StructureFormat::Pcx: return PictureFormat::Pcx;
    case StructureFormat::Tiff: return PictureFormat::Tiff;
    default: return PictureFormat::None;
    }
}

// --- the walker of a found file ---------------------------------------------------------

StructureWalker::StructureWalker() = default;
StructureWalker::~StructureWalker() = default;
StructureWalker::StructureWalker(StructureWalker &&) noexcept = default;
StructureWalker &StructureWalker::operator=(StructureWalker &&) noexcept = default;

StructureWalker::StructureWalker(StructureFormat format, EmptyRunLimits limits, const ReadBytesAt &readBack)
    : format_(format), limits_(limits)
{
    const PictureFormat picture = PictureFormatOf(format);
    // TIFF is walked by its offsets once the file is whole.
    if (picture != PictureFormat::None && picture != PictureFormat::Tiff) {
        picture_ = PictureWalker(picture);
        pictureWalk_ = true;
    } else {
        other_ = makeWalk(format, readBack);
    }
}

bool StructureWalker::innerWants() const
{
    return other_ ? other_->going() : pictureWalk_ && picture_.wantsMore();
}

bool StructureWalker::walking() const { return !done_ && innerWants(); }

// Only the picture walks know bytes that an empty sector never is.
bool StructureWalker::innerExpectsData() const { return pictureWalk_ && picture_.expectsData(); }

bool StructureWalker::innerComplete() const
{
    if (other_)
        return other_->complete();
    return pictureWalk_ && picture_.result().walk == PictureExtent::Walk::Complete;
}

bool StructureWalker::innerFailed() const
{
    if (other_)
        return other_->failed();
    return pictureWalk_ && !picture_.wantsMore() && picture_.result().walk == PictureExtent::Walk::Incomplete;
}

void StructureWalker::innerFeed(const unsigned char *p, size_t n)
{
    if (other_)
        other_->feed(p, n);
    else
        picture_.feed(p, n);
    if (innerWants())
        return;
    if (innerComplete())
        done_ = true;
    else if (innerFailed() && failedAt_ < 0)
        failedAt_ = other_ ? other_->taken() : picture_.fed();
}

void StructureWalker::takeData(const unsigned char *p, size_t n)
{
    if (innerWants())
        innerFeed(p, n);
    pos_ += int64_t(n);
    runStart_ = -1;
    runBytes_ = 0;
    // The sector after a failure held data.
    if (failedAt_ >= 0 && !failChecked_ && roundUpToSector(failedAt_) < pos_)
        failChecked_ = true;
}

void StructureWalker::sectorDone(int64_t start, bool empty)
{
    if (empty && sectorExpectsData_) {
        structureCut_ = true;
        emptyFrom_ = start;
        done_ = true;
        return;
    }
    if (failedAt_ >= 0 && !failChecked_ && start >= roundUpToSector(failedAt_)) {
        failChecked_ = true;
        if (empty && start == roundUpToSector(failedAt_)) {
            // The structure broke off where the data ended: the file ends
            // with the empty run this sector belongs to, never below what
            // the structure held.
            structureCut_ = true;
            emptyFrom_ = start;
            if (runStart_ >= 0) {
                const int64_t held = other_ ? other_->result().end : picture_.result().end;
                emptyFrom_ = std::min(start, std::max(runStart_, roundUpToSector(held)));
            }
            done_ = true;
            return;
        }
    }
    if (!empty) {
        runStart_ = -1;
        runBytes_ = 0;
        return;
    }
    if (runStart_ < 0)
        runStart_ = start;
    runBytes_ += kWalkSectorBytes;
    const int64_t limit = innerWants() ? limits_.walking : limits_.fallback;
    if (limit > 0 && runBytes_ >= limit) {
        emptyFrom_ = runStart_;
        done_ = true;
    }
}

bool StructureWalker::feed(const unsigned char *p, size_t n, bool unreadable)
{
    while (n > 0 && !done_) {
        if (sectorFill_ == 0) {
            sectorExpectsData_ = innerWants() && innerExpectsData();
            // Whole sectors that hold data go on in one piece.
            size_t k = 0;
            if (unreadable)
                k = n / size_t(kWalkSectorBytes) * size_t(kWalkSectorBytes);
            else
                while (k + size_t(kWalkSectorBytes) <= n && !emptySector(p + k))
                    k += size_t(kWalkSectorBytes);
            if (k > 0) {
                takeData(p, k);
                p += k;
                n -= k;
                continue;
            }
            sectorEmpty_ = !unreadable && (p[0] == 0 || p[0] == 0xFF);
            sectorByte_ = p[0];
        }
        const size_t k = std::min<size_t>(n, size_t(kWalkSectorBytes - sectorFill_));
        if (unreadable)
            sectorEmpty_ = false;
        if (sectorEmpty_)
            sectorEmpty_ = allEqual(p, k, sectorByte_);
        if (innerWants())
            innerFeed(p, k);
        pos_ += int64_t(k);
        sectorFill_ += int64_t(k);
        p += k;
        n -= k;
        if (done_)
            break;
        if (sectorFill_ == kWalkSectorBytes) {
            sectorFill_ = 0;
            sectorDone(pos_ - kWalkSectorBytes, sectorEmpty_);
        }
    }
    return !done_;
}

bool StructureWalker::holdsNext(const unsigned char *p, size_t n, int64_t mediumLeft) const
{
    if (done_ || !innerWants())
        return false;
    return other_ ? other_->holdsNext(p, n, mediumLeft) : picture_.holdsNext(p, n, mediumLeft);
}

bool StructureWalker::claimsNext(int64_t mediumLeft) const
{
    return !done_ && other_ && other_->going() && other_->claimsNext(mediumLeft);
}

int64_t StructureWalker::confirmed() const
{
    if (innerComplete())
        return INT64_MAX;
    return other_ ? other_->confirmed() : pictureWalk_ ? picture_.confirmed() : 0;
}

bool StructureWalker::brokeOff() const
{
    if (innerComplete())
        return false;
    return done_ || (other_ ? other_->brokeOff() : innerFailed());
}

void StructureWalker::setRoom(int64_t bytes)
{
    if (other_)
        other_->setRoom(bytes);
}

FileEnd StructureWalker::result() const
{
    FileEnd r;
    if (other_)
        r.extent = other_->result();
    else if (pictureWalk_)
        r.extent = picture_.result();
    r.emptyFrom = emptyFrom_;
    r.structureCut = structureCut_;
    if (structureCut_) {
        r.extent.walk = PictureExtent::Walk::Incomplete;
        r.extent.end = std::min(r.extent.end, emptyFrom_);
    }
    return r;
}

void FeedWalker(StructureWalker &walker, const ReadBytesAt &read, int64_t length, std::vector<unsigned char> &block,
                bool unreadable)
{
    constexpr size_t kBlock = 1 << 20;
    if (block.size() < kBlock)
        block.resize(kBlock);
    for (int64_t at = 0; at < length && walker.wantsMore();) {
        const size_t got = read(at, block.data(), size_t(std::min<int64_t>(int64_t(kBlock), length - at)));
        if (got == 0)
            break;
        walker.feed(block.data(), got, unreadable);
        at += int64_t(got);
    }
}

FileEnd WalkFoundFile(const ReadBytesAt &read, int64_t length, StructureFormat format, EmptyRunLimits limits,
                      std::vector<unsigned char> &block)
{
    PictureExtent tiff;
    if (format == StructureFormat::Tiff) {
        tiff = WalkTiff(read, length);
        if (tiff.walk == PictureExtent::Walk::Complete) {
            FileEnd r;
            r.extent = tiff;
            return r;
        }
    }
    StructureWalker w(format, limits, read);
    FeedWalker(w, read, length, block);
    FileEnd r = w.result();
    if (format == StructureFormat::Tiff)
        r.extent = tiff;
    return r;
}
