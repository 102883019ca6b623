#include "scan/derivation.h"

#include "scan/signatures.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr int kSlots = LearnedVariants;
// A slot walk starts with this as the lowest match count seen.
constexpr int32_t kLowestStart = 1000000;
// Lowered from a slot's matches for every slot a conflicting sample passes.
constexpr int32_t kConflictPenalty = 10;
// Variants keep at this reliability and this many matches.
constexpr double kKeepReliability = 0.5;
constexpr int32_t kKeepMatches = 5;
// Merge partners need more matches than this and a reliability above 0.75.
constexpr int32_t kMergeMatches = 10;
constexpr double kMergeReliability = 0.75;
constexpr qsizetype kMergeSig1 = 6;
// The size field is looked for while a variant has fewer matches than this.
constexpr int32_t kSizeFieldMatches = 10;

int32_t saturated(int64_t v)
{
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Mid(text, start, length) with a 1-based start, never out of bounds.
QByteArray slice(const QByteArray &text, int64_t start1, int64_t length)
{
    if (length <= 0)
        return {};
    const int64_t from = std::max<int64_t>(start1, 1) - 1;
    if (from >= text.size())
        return {};
    return text.mid(qsizetype(from), qsizetype(std::min<int64_t>(length, text.size() - from)));
}

bool usable(const QByteArray &sig1)
{
    return IsUsableFirstSignature(sig1);
}

// The texts of a slot that is no longer in use: nothing of a sample is kept.
void clearSlot(LearnedTypeRecord &r, size_t k)
{
    r.Sig1[k].clear();
    r.Sig2[k].clear();
    r.TailPrefix[k].clear();
    r.TailRun[k].clear();
}

} // namespace

SampleBytes SampleFromBytes(const QByteArray &head, const QByteArray &tail, int64_t length)
{
    SampleBytes s;
    s.length = length;
    if (length < SampleHeadBytes || head.size() < SampleHeadBytes || tail.size() < SampleSigBytes)
        return s;
    s.Header = head.left(SampleHeadBytes);
    s.Head16 = s.Header.left(SampleSigBytes);
    s.Tail = tail.right(SampleHeadBytes);
    s.TailRev = tail.right(SampleSigBytes);
    std::reverse(s.TailRev.begin(), s.TailRev.end());
    return s;
}

bool IsUniformHead(const QByteArray &head16)
{
    if (head16.isEmpty())
        return false;
    return std::all_of(head16.begin(), head16.end(), [&](char c) { return c == head16[0]; });
}

QByteArray CommonPrefix(const QByteArray &a, const QByteArray &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return b.left(i);
}

QByteArray LongestCommonSubstring(const QByteArray &a, const QByteArray &b, int32_t &start)
{
    if (a.isEmpty() || b.isEmpty())
        return {};
    // Two rows of the table: cell (i, j) = cell (i-1, j-1) + 1 on equal bytes.
    std::vector<int32_t> previous(size_t(b.size()) + 1, 0), current(size_t(b.size()) + 1, 0);
    int32_t best = 0;
    qsizetype end = 0;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = 0;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            if (a[i - 1] == b[j - 1]) {
                current[size_t(j)] = previous[size_t(j - 1)] + 1;
                if (current[size_t(j)] > best) {
                    best = current[size_t(j)];
                    end = i;
                }
            } else {
                current[size_t(j)] = 0;
            }
        }
        std::swap(previous, current);
    }
    start = int32_t(end - best + 1);
    return a.mid(end - best, best);
}

QByteArray LongestAlignedRun(const QByteArray &a, const QByteArray &b, int32_t &start)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype best = 0, end = 0, run = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        run = a[i - 1] == b[i - 1] ? run + 1 : 0;
        if (run > best) {
            best = run;
            end = i;
        }
    }
    if (best == 0) {
        start = saturated(int64_t(start) + 1);
        return {};
    }
    start = int32_t(end - best + 1);
    return a.mid(end - best, best);
}

int16_t FindSizeField(const QByteArray &header, int64_t fileLength, int16_t &order)
{
    auto byte = [&](qsizetype i) { return int64_t(uint8_t(header[i])); };
    int16_t offset = 0;
    for (qsizetype i = 0; i + 3 < header.size() && offset == 0; i += 2) {
        const int64_t w0u = byte(i) | (byte(i + 1) << 8);
        const int64_t w1u = byte(i + 2) | (byte(i + 3) << 8);
        const int64_t w0s = int16_t(uint16_t(w0u));
        const int64_t w1s = int16_t(uint16_t(w1u));
        const int64_t a = w1s * 65536 + w0u;   // the little-endian 32-bit value
        const int64_t b = w0s * 65536 + w1u;   // its 16-bit halves swapped
        if (a == fileLength || a == fileLength - i) {
            offset = int16_t(std::min<qsizetype>(i, std::numeric_limits<int16_t>::max()));
            order = 2;
        } else if (b == fileLength || b == fileLength - i) {
            offset = int16_t(std::min<qsizetype>(i, std::numeric_limits<int16_t>::max()));
            order = 1;
        }
    }
    return offset;
}

double VariantReliability(int32_t matches, int32_t analysed)
{
    if (analysed == 0)
        return 0;
    return double(matches) / double(analysed);
}

bool UpdateLearnedType(LearnedTypeRecord &r, const QByteArray &ext, const SampleBytes &s)
{
    if (s.Head16.isEmpty())
        return false;

    // 1. The current slot keeps its first signature only while it is usable.
    if (r.CurrentVariant < 0 || r.CurrentVariant >= kSlots)
        r.CurrentVariant = 0;
    if (!usable(r.Sig1[size_t(r.CurrentVariant)]))
        r.Sig1[size_t(r.CurrentVariant)].clear();

    // 2. The slot: the first free one, else the one sharing the longest start
    // (the later on ties); CurrentVariant meanwhile names the slot with the
    // fewest matches (the later on ties).
    int32_t lowest = kLowestStart;
    qsizetype best = 0;
    int v = 0;
    for (int k = 0; k < kSlots; ++k) {
        const auto slot = size_t(k);
        if (r.Sig1[slot].isEmpty()) {
            v = k;
            best = 1;
            break;
        }
        if (r.Matches[slot] <= lowest) {
            lowest = r.Matches[slot];
            r.CurrentVariant = int16_t(k);
        }
        const qsizetype shared = CommonPrefix(s.Head16, r.Sig1[slot]).size();
        if (shared >= best) {
            best = shared;
            v = k;
        }
    }
    if (best == 0) {
        // No slot shares a first byte and none is free: the weakest is set up anew.
        v = r.CurrentVariant;
        r.Ext.clear();
    }
    r.CurrentVariant = int16_t(v);
    auto slot = size_t(v);

    // 3. Setting up the slot.
    if (r.Ext != ext || r.Sig1[slot].isEmpty()) {
        r.Ext = ext;
        r.Desc = FixedDescription((ext.startsWith('.') ? ext.mid(1) : ext).toUpper().left(8));
        r.Sig1[slot] = s.Head16;
        r.Sig2[slot] = s.Header;
        r.TailPrefix[slot] = s.TailRev;
        r.TailRun[slot] = s.TailRev;
        r.Matches[slot] = -1;
        r.Analysed[slot] = 0;
        r.SizeFieldOffset[slot] = 0;
        r.SizeFieldOrder[slot] = 0;
        r.TailRunStart[slot] = 1;
        r.Enciphered = 0;
    }

    // 4. The record as it stands, to go back to.
    const LearnedTypeRecord before = r;

    // 5. The size field, while the variant is young.
    if (r.SizeFieldOffset[slot] == 0 && r.Matches[slot] < kSizeFieldMatches) {
        int16_t order = r.SizeFieldOrder[slot];
        r.SizeFieldOffset[slot] = FindSizeField(s.Header, s.length, order);
        r.SizeFieldOrder[slot] = order;
    }

    // 6, 7. The first signature narrows to the shared start; a sample that
    // does not share 4 bytes with it does not belong to the variant.
    r.Sig1[slot] = CommonPrefix(s.Head16, r.Sig1[slot]);
    if (!usable(r.Sig1[slot])) {
        r = before;
        return false;
    }

    // 8. The second signature; a narrowed first signature is a conflict unless
    // another slot already holds exactly that start.
    if (r.Sig1[slot] == before.Sig1[slot]) {
        if (!s.Header.contains(r.Sig2[slot])) {
            int32_t at = 0;
            r.Sig2[slot] = LongestCommonSubstring(s.Header.mid(r.Sig1[slot].size()), r.Sig2[slot], at);
        }
    } else {
        const size_t chosen = slot;
        for (int k = 0; k < kSlots; ++k) {
            if (k == int(chosen))
                continue;
            const auto other = size_t(k);
            if (r.Sig1[other] == r.Sig1[chosen] && s.Header.contains(r.Sig2[other])) {
                v = k;
                slot = other;
                int32_t at = 0;
                r.Sig2[slot] = LongestCommonSubstring(s.Header.mid(r.Sig1[slot].size()), r.Sig2[slot], at);
                break;
            }
            r.Matches[chosen] = saturated(int64_t(r.Matches[chosen]) - kConflictPenalty);
        }
        r.CurrentVariant = int16_t(v);
    }

    // 9, 10. The common ending and the run at which the endings agree.
    r.TailPrefix[slot] = CommonPrefix(s.TailRev, r.TailPrefix[slot]);
    if (!s.TailRev.contains(r.TailRun[slot])) {
        int32_t start = r.TailRunStart[slot];
        const QByteArray part = slice(s.TailRev, start, r.TailRun[slot].size());
        r.TailRun[slot] = LongestAlignedRun(part, r.TailRun[slot], start);
        r.TailRunStart[slot] = start;
    }

    // 11. Counted.
    r.Matches[slot] = std::max<int32_t>(0, saturated(int64_t(r.Matches[slot]) + 1));
    r.Analysed[slot] = saturated(int64_t(r.Analysed[slot]) + 1);
    return true;
}

void PruneLearnedType(LearnedTypeRecord &r, bool unattended)
{
    for (int i = 0; i < kSlots; ++i) {
        const auto a = size_t(i);
        const bool keep = usable(r.Sig1[a]) && r.Analysed[a] > 0
            && double(r.Matches[a]) / (double(r.Analysed[a]) + 0.0001) >= kKeepReliability
            && (r.Matches[a] >= kKeepMatches || unattended);
        if (!keep) {
            clearSlot(r, a);
            continue;
        }
        for (int k = 0; k < kSlots && r.Matches[a] > kMergeMatches; ++k) {
            const auto b = size_t(k);
            if (k == i || !usable(r.Sig1[b]))
                continue;
            if (VariantReliability(r.Matches[b], r.Analysed[b]) <= kMergeReliability) {
                clearSlot(r, b);
                continue;
            }
            const bool sameStart = r.Sig1[a] == r.Sig1[b]
                || (r.Sig1[a].size() >= kMergeSig1 && r.Sig1[b].size() >= kMergeSig1);
            if (r.Matches[b] <= kMergeMatches || !r.Sig1[a].startsWith(r.Sig1[b]) || !sameStart)
                continue;
            int32_t at = 0;
            const QByteArray sig2 = LongestCommonSubstring(r.Sig2[a], r.Sig2[b], at);
            if (sig2.isEmpty())
                continue;
            r.Sig1[a] = CommonPrefix(r.Sig1[a], r.Sig1[b]);
            r.Sig2[a] = sig2;
            r.TailPrefix[a] = CommonPrefix(r.TailPrefix[a], r.TailPrefix[b]);
            int32_t runStart = 1;
            r.TailRun[a] = LongestAlignedRun(r.TailRun[a], r.TailRun[b], runStart);
            r.Matches[a] = saturated(int64_t(r.Matches[a]) + r.Matches[b]);
            r.Analysed[a] = saturated(int64_t(r.Analysed[a]) + r.Analysed[b]);
            clearSlot(r, b);
            r.Matches[b] = 0;
        }
    }
}
