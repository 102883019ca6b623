#include "scan/prefixindex.h"

#include <algorithm>
#include <cstring>

void SignaturePrefixIndex::build(const SignatureRows &table)
{
    rows_.clear();
    text_.clear();
    bucketStart_.assign(65537, 0);
    bucketRows_.clear();
    shortRows_.clear();
    n_ = 0;
    if (table.empty() || table.size() > 65535)
        return;

    int n = 32;
    for (const SignatureRecord &r : table)
        n = std::min<int>(n, int(r.Sig1.size() / 2));
    n_ = n;
    for (const SignatureRecord &r : table) {
        Row row;
        row.sig1 = r.Sig1;
        row.sig2 = r.Sig2;
        const size_t l = size_t(r.Sig1.size() / 2);
        row.sig2From = l > 0 ? l - 1 : 0;
        rows_.push_back(row);
        text_ += r.Sig1.left(2 * n);
    }

    // Rows by the first two bytes of their Sig1; one-byte Sig1 rows are kept
    // apart and tried with every bucket of their byte.
    std::vector<std::vector<uint16_t>> buckets(65536);
    for (size_t i = 0; i < rows_.size(); ++i) {
        const QByteArray &s = rows_[i].sig1;
        if (s.size() >= 2)
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

bool SignaturePrefixIndex::passes(const Row &r, const unsigned char *head, size_t headLength,
                                  const unsigned char *window, size_t windowLength) const
{
    const size_t l1 = size_t(r.sig1.size());
    if (l1 == 0 || l1 > headLength || std::memcmp(head, r.sig1.constData(), l1) != 0)
        return false;
    const size_t l2 = size_t(r.sig2.size());
    if (l2 == 0)
        return true;
    if (r.sig2From >= windowLength || windowLength - r.sig2From < l2)
        return false;
    return memmem(window + r.sig2From, windowLength - r.sig2From, r.sig2.constData(), l2) != nullptr;
}

int SignaturePrefixIndex::match(const unsigned char *head, size_t headLength, const unsigned char *window,
                                size_t windowLength) const
{
    if (headLength >= 2) {
        const unsigned k = (unsigned(head[0]) << 8) | head[1];
        for (uint32_t j = bucketStart_[k], e = bucketStart_[k + 1]; j < e; ++j) {
            const Row &r = rows_[bucketRows_[j]];
            if (passes(r, head, headLength, window, windowLength))
                return bucketRows_[j];
        }
        return -1;
    }
    if (headLength == 1)
        for (uint16_t i : shortRows_)
            if (passes(rows_[i], head, headLength, window, windowLength))
                return i;
    return -1;
}

int SignaturePrefixIndex::matchByPrefixText(const QByteArray &head, const QByteArray &window) const
{
    auto h = reinterpret_cast<const unsigned char *>(head.constData());
    auto w = reinterpret_cast<const unsigned char *>(window.constData());
    if (n_ == 0) {
        // No prefix to look up: every row in order.
        for (size_t i = 0; i < rows_.size(); ++i)
            if (passes(rows_[i], h, size_t(head.size()), w, size_t(window.size())))
                return int(i);
        return -1;
    }
    if (head.size() < 2 * n_)
        return -1;
    const qsizetype at = text_.indexOf(head.left(2 * n_));
    if (at < 0)
        return -1;
    const size_t p = size_t(at) + 1;   // 1-based
    for (size_t i = (p / size_t(n_)) / 2; i < rows_.size(); ++i)
        if (passes(rows_[i], h, size_t(head.size()), w, size_t(window.size())))
            return int(i);
    return -1;
}
