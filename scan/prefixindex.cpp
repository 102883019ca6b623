#include "scan/prefixindex.h"

#include "scan/isomedia.h"
#include "scan/mpegstream.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

const QByteArray kPackStart("\x00\x00\x01\xBA", 4);

} // namespace

void SignaturePrefixIndex::build(const SignatureRows &table)
{
    rows_.clear();
    text_.clear();
    bucketStart_.assign(65537, 0);
    bucketRows_.clear();
    shortRows_.clear();
    movieRows_.clear();
    n_ = 0;
    if (table.empty() || table.size() > 65535)
        return;

    int n = 32;
    for (const SignatureRecord &r : table)
        n = std::min<int>(n, int(r.Sig1.size() / 2));
    n_ = n;
    for (const SignatureRecord &r : table) {
        rows_.push_back(rowOf(r));
        text_ += r.Sig1.left(2 * n);
    }

    // Rows by the first two bytes of their Sig1; one-byte Sig1 rows are kept
    // apart and tried with every bucket of their byte.
    std::vector<std::vector<uint16_t>> buckets(65536);
    for (size_t i = 0; i < rows_.size(); ++i) {
        const QByteArray &s = rows_[i].sig1;
        if (rows_[i].test == Test::Movie)
            movieRows_.push_back(uint16_t(i));
        else if (s.size() >= 2)
            buckets[(uint8_t(s[0]) << 8) | uint8_t(s[1])].push_back(uint16_t(i));
        else if (s.size() == 1)
            shortRows_.push_back(uint16_t(i));
    }
    for (uint16_t i : shortRows_) {
        const unsigned first = uint8_t(rows_[i].sig1[0]);
        for (unsigned second = 0; second < 256; ++second)
            buckets[(first << 8) | second].push_back(i);
    }
    for (size_t k = 0; k < 65536; ++k) {
        std::sort(buckets[k].begin(), buckets[k].end());
        bucketStart_[k] = uint32_t(bucketRows_.size());
        bucketRows_.insert(bucketRows_.end(), buckets[k].begin(), buckets[k].end());
    }
    bucketStart_[65536] = uint32_t(bucketRows_.size());
}

SignaturePrefixIndex::Row SignaturePrefixIndex::rowOf(const SignatureRecord &r)
{
    Row row;
    row.sig1 = r.Sig1;
    row.sig2 = r.Sig2;
    const size_t l = size_t(r.Sig1.size() / 2);
    row.sig2From = l > 0 ? l - 1 : 0;
    if (r.Ext == ".mov" && r.Sig2.isEmpty() && (r.Sig1 == "mdat" || r.Sig1 == "moov"))
        row.test = Test::Movie;
    else if (r.Ext == ".mpg" && r.Sig1 == kPackStart)
        row.test = Test::ProgramStream;
    return row;
}

bool SignaturePrefixIndex::RowMatches(const SignatureRecord &row, const unsigned char *head, size_t headLength,
                                      const unsigned char *window, size_t windowLength, const unsigned char *data,
                                      size_t dataLength, int64_t mediumLeft)
{
    return passes(rowOf(row), Unit{head, headLength, window, windowLength, data, dataLength, mediumLeft});
}

bool SignaturePrefixIndex::passes(const Row &r, const Unit &u)
{
    if (r.test == Test::Movie)
        return IsIsoMovieStart(u.data, u.dataLength, u.mediumLeft);
    const size_t l1 = size_t(r.sig1.size());
    if (l1 == 0 || l1 > u.headLength || std::memcmp(u.head, r.sig1.constData(), l1) != 0)
        return false;
    if (r.test == Test::ProgramStream)
        return IsProgramStreamPack(u.head, u.headLength);
    const size_t l2 = size_t(r.sig2.size());
    if (l2 == 0)
        return true;
    if (r.sig2From >= u.windowLength || u.windowLength - r.sig2From < l2)
        return false;
    return memmem(u.window + r.sig2From, u.windowLength - r.sig2From, r.sig2.constData(), l2) != nullptr;
}

int SignaturePrefixIndex::match(const unsigned char *head, size_t headLength, const unsigned char *window,
                                size_t windowLength) const
{
    return match(head, headLength, window, windowLength, window, windowLength, -1);
}

int SignaturePrefixIndex::match(const unsigned char *head, size_t headLength, const unsigned char *window,
                                size_t windowLength, const unsigned char *data, size_t dataLength,
                                int64_t mediumLeft) const
{
    const Unit u{head, headLength, window, windowLength, data, dataLength, mediumLeft};
    // Every movie row asks the unit the same question, so only the first of
    // them can win; it is asked once, and only when no row before it matched.
    const int movieRow = movieRows_.empty() ? -1 : int(movieRows_.front());
    bool movieAsked = movieRow < 0;
    const auto movieBefore = [&](int row) {
        if (movieAsked || row < movieRow)
            return false;
        movieAsked = true;
        return firstMovieRow(u) >= 0;
    };
    if (headLength >= 2) {
        const unsigned k = (unsigned(head[0]) << 8) | head[1];
        for (uint32_t j = bucketStart_[k], e = bucketStart_[k + 1]; j < e; ++j) {
            if (movieBefore(bucketRows_[j]))
                return movieRow;
            if (passes(rows_[bucketRows_[j]], u))
                return bucketRows_[j];
        }
    } else if (headLength == 1) {
        for (uint16_t i : shortRows_) {
            if (movieBefore(i))
                return movieRow;
            if (passes(rows_[i], u))
                return i;
        }
    }
    return movieBefore(INT_MAX) ? movieRow : -1;
}

int SignaturePrefixIndex::firstMovieRow(const Unit &u) const
{
    return !movieRows_.empty() && passes(rows_[movieRows_.front()], u) ? int(movieRows_.front()) : -1;
}

int SignaturePrefixIndex::matchByPrefixText(const QByteArray &head, const QByteArray &window) const
{
    auto h = reinterpret_cast<const unsigned char *>(head.constData());
    auto w = reinterpret_cast<const unsigned char *>(window.constData());
    const Unit u{h, size_t(head.size()), w, size_t(window.size()), w, size_t(window.size()), -1};
    // The rows that test a movie's boxes hold no prefix of the unit.
    const int movie = firstMovieRow(u);
    int literal = -1;
    if (n_ == 0) {
        // No prefix to look up: every row in order.
        for (size_t i = 0; i < rows_.size() && literal < 0; ++i)
            if (passes(rows_[i], u))
                literal = int(i);
    } else if (head.size() >= 2 * n_) {
        const qsizetype at = text_.indexOf(head.left(2 * n_));
        if (at >= 0) {
            const size_t p = size_t(at) + 1;   // 1-based
            for (size_t i = (p / size_t(n_)) / 2; i < rows_.size() && literal < 0; ++i)
                if (passes(rows_[i], u))
                    literal = int(i);
        }
    }
    if (literal < 0 || movie < 0)
        return std::max(literal, movie);
    return std::min(literal, movie);
}
