// Signature derivation: the byte-string helpers on hand-checked cases, the
// size field on real files, the slot choice (six seeds, the seventh sample,
// the conflict penalty), the narrowing of the signatures, pruning and
// merging, untrusted records, and the prefix property over many samples.
#include "scan/derivation.h"

#include "tests/scan/learn_samples.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

using namespace testing_support;

namespace {

QByteArray le32(int64_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((uint64_t(v) >> (8 * i)) & 0xFF);
    return b;
}

// A sample whose first 16 bytes are `head` (padded with `fill`), the rest of
// its first 1024 bytes `body`, ending in `ending` (file order).
SampleBytes sample(const QByteArray &head, const QByteArray &body = {}, const QByteArray &ending = {},
                   int64_t length = 4096, char fill = '#')
{
    QByteArray header = head.left(16);
    header += QByteArray(16 - header.size(), fill);
    header += body;
    header += QByteArray(1024 - qMin<qsizetype>(1024, header.size()), '.');
    header = header.left(1024);
    QByteArray tail = QByteArray(1024, '~');
    tail.replace(1024 - ending.size(), ending.size(), ending);
    return SampleFromBytes(header, tail, length);
}

} // namespace

TEST(Derivation, CommonPrefixSubstringAndAlignedRun)
{
    EXPECT_EQ(CommonPrefix("ABCD", "AB"), "AB");
    EXPECT_EQ(CommonPrefix("AB", "ABCD"), "AB");
    EXPECT_EQ(CommonPrefix("ABCD", ""), "");
    EXPECT_EQ(CommonPrefix("XBC", "ABC"), "");

    int32_t start = 0;
    EXPECT_EQ(LongestCommonSubstring("xxABCyy", "zABCz", start), "ABC");
    EXPECT_EQ(start, 3);
    // Two runs as long: the one that ends first in a.
    EXPECT_EQ(LongestCommonSubstring("abXcd", "cdYab", start), "ab");
    EXPECT_EQ(start, 1);
    // Nothing in common: empty, start 1; an empty side: start untouched.
    EXPECT_EQ(LongestCommonSubstring("abc", "xyz", start), "");
    EXPECT_EQ(start, 1);
    start = 77;
    EXPECT_EQ(LongestCommonSubstring("", "xyz", start), "");
    EXPECT_EQ(LongestCommonSubstring("abc", "", start), "");
    EXPECT_EQ(start, 77);
    // Bytes, not characters: zero bytes and high bytes take part.
    EXPECT_EQ(LongestCommonSubstring(QByteArray("a\0\xFE\xFFz", 5), QByteArray("q\0\xFE\xFF", 4), start),
              QByteArray("\0\xFE\xFF", 3));
    EXPECT_EQ(start, 2);

    start = 9;
    EXPECT_EQ(LongestAlignedRun("ABCD", "ABXD", start), "AB");
    EXPECT_EQ(start, 1);
    // Only the positions both have count; ties keep the earliest run.
    EXPECT_EQ(LongestAlignedRun("AxBB", "AyBBQQQ", start), "BB");
    EXPECT_EQ(start, 3);
    // No position agrees: empty, the start passed in plus one (saturating).
    start = 4;
    EXPECT_EQ(LongestAlignedRun("AB", "CD", start), "");
    EXPECT_EQ(start, 5);
    start = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(LongestAlignedRun("", "CD", start), "");
    EXPECT_EQ(start, std::numeric_limits<int32_t>::max());
}

TEST(Derivation, SizeFieldVariants)
{
    const int64_t length = 70000;
    QByteArray h(1024, char(0xEE));
    int16_t order = 0;
    EXPECT_EQ(FindSizeField(h, length, order), 0);
    EXPECT_EQ(order, 0);

    // Bytes 8 to 11: the length, little-endian.
    QByteArray a = h;
    a.replace(8, 4, le32(length));
    EXPECT_EQ(FindSizeField(a, length, order), 8);
    EXPECT_EQ(order, 2);
    // The length minus the offset reads the same.
    QByteArray b = h;
    b.replace(8, 4, le32(length - 8));
    order = 0;
    EXPECT_EQ(FindSizeField(b, length, order), 8);
    EXPECT_EQ(order, 2);
    // The two 16-bit halves swapped: high half first.
    QByteArray c = h;
    const QByteArray v = le32(length);
    c.replace(8, 4, v.mid(2, 2) + v.left(2));
    order = 0;
    EXPECT_EQ(FindSizeField(c, length, order), 8);
    EXPECT_EQ(order, 1);
    // A hit at offset 0 sets the order but is no offset; a later one replaces it.
    QByteArray d = h;
    d.replace(0, 4, le32(length));
    order = 0;
    EXPECT_EQ(FindSizeField(d, length, order), 0);
    EXPECT_EQ(order, 2);
    d.replace(20, 4, v.mid(2, 2) + v.left(2));
    EXPECT_EQ(FindSizeField(d, length, order), 20);
    EXPECT_EQ(order, 1);
    // Short and odd-sized headers are read within their bounds.
    EXPECT_EQ(FindSizeField(QByteArray("\x70\x11\x01", 3), length, order), 0);
    EXPECT_EQ(FindSizeField(QByteArray("\0\0\0\0\x70\x11\x01", 7), length, order), 0);
    // A file of 2 GiB or more never matches the 32-bit field.
    QByteArray g = h;
    g.replace(8, 4, le32(0x80000010LL));
    EXPECT_EQ(FindSizeField(g, 0x80000010LL, order), 0);
}

TEST(Derivation, SizeFieldOfRealFiles)
{
    const QString dir = makeTempDir("sizefield");
    // ImageMagick's BMP3: "BM" and the file length at offset 2.
    const QString bmp = dir + "/x.bmp";
    ASSERT_EQ(runTool(learn_samples::imageMagick(), {"-size", "40x30", "plasma:fractal", "BMP3:" + bmp}), 0);
    const QByteArray bmpBytes = readFileBytes(bmp);
    ASSERT_GT(bmpBytes.size(), 1024);
    int16_t order = 0;
    EXPECT_EQ(FindSizeField(bmpBytes.left(1024), bmpBytes.size(), order), 2);
    EXPECT_EQ(order, 2);
    // A WAV holds the length minus 8 at offset 4: neither rule.
    const QString wav = dir + "/x.wav";
    ASSERT_EQ(runTool("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", wav, "synth", "0.5", "sine", "440"}), 0);
    const QByteArray wavBytes = readFileBytes(wav);
    order = 0;
    EXPECT_EQ(FindSizeField(wavBytes.left(1024), wavBytes.size(), order), 0);
    // A PNG has no length field.
    const QString pngPath = dir + "/x.png";
    ASSERT_EQ(runTool(learn_samples::imageMagick(), {"-size", "60x40", "plasma:fractal", pngPath}), 0);
    const QByteArray png = readFileBytes(pngPath);
    ASSERT_GT(png.size(), 1024);
    order = 0;
    EXPECT_EQ(FindSizeField(png.left(1024), png.size(), order), 0);
}

TEST(Derivation, SixSeedsThenTheSeventhSample)
{
    LearnedTypeRecord r;
    const QByteArray heads[6] = {"MAGIaaaaaaaaaaaa", "MAGIbbbbbbbbbbbb", "MAGICccccccccccc",
                                 "MAGICddddddddddd", "MAGIeeeeeeeeeeee", "QRSTffffffffffff"};
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(UpdateLearnedType(r, ".xyz", sample(heads[i], "body", "END")));
        EXPECT_EQ(r.CurrentVariant, i);
    }
    EXPECT_EQ(r.Ext, ".xyz");
    EXPECT_EQ(r.Desc, "XYZ       ");
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(r.Sig1[i], heads[i]);
        EXPECT_EQ(r.Matches[i], 0);
        EXPECT_EQ(r.Analysed[i], 1);
        EXPECT_EQ(r.Sig2[i].size(), 1024);   // the whole first sample
        EXPECT_EQ(r.TailPrefix[i], "DNE~~~~~~~~~~~~~");
        EXPECT_EQ(r.TailRunStart[i], 1);
    }

    // The seventh goes to the slot sharing the longest start; on equal
    // lengths the later slot.
    ASSERT_TRUE(UpdateLearnedType(r, ".xyz", sample("MAGICzzzzzzzzzzz", "body", "END")));
    EXPECT_EQ(r.CurrentVariant, 3);
    EXPECT_EQ(r.Sig1[3], "MAGIC");
    EXPECT_EQ(r.Sig1[2], "MAGICccccccccccc");
    // The narrowed start of slot 3 is held by no other slot: every other slot
    // passed costs 10, and the sample's own +1 cannot leave it below 0.
    EXPECT_EQ(r.Matches[3], 0);
    EXPECT_EQ(r.Analysed[3], 2);

    // A sample that shares no first byte with any slot replaces the one with
    // the fewest matches (the later one on ties) and is set up there.
    r.Matches = {4, 3, 5, 6, 3, 7};
    ASSERT_TRUE(UpdateLearnedType(r, ".xyz", sample("Zebra-0123456789", "stripes", "END")));
    EXPECT_EQ(r.CurrentVariant, 4);
    EXPECT_EQ(r.Sig1[4], "Zebra-0123456789");
    EXPECT_EQ(r.Matches[4], 0);
    EXPECT_EQ(r.Analysed[4], 1);
    EXPECT_EQ(r.Sig1[1], heads[1]);
    EXPECT_EQ(r.Ext, ".xyz");

    // Sharing fewer than 4 bytes with the chosen slot: not counted, no
    // signature changes.
    const LearnedTypeRecord before = r;
    EXPECT_FALSE(UpdateLearnedType(r, ".xyz", sample("MAXxxxxxxxxxxxxx")));
    EXPECT_EQ(r.Sig1, before.Sig1);
    EXPECT_EQ(r.Sig2, before.Sig2);
    EXPECT_EQ(r.Matches, before.Matches);
    EXPECT_EQ(r.Analysed, before.Analysed);
}

TEST(Derivation, ANarrowedStartGoesToTheSlotThatHoldsIt)
{
    LearnedTypeRecord r;
    r.Ext = ".xyz";
    r.Desc = "XYZ       ";
    const QByteArray sig1[6] = {"WXYZ", "VUTS", "ABCDEFGHIJ", "ABCDEFGHIJKLMNOP", "UVWX", "TSRQ"};
    for (size_t i = 0; i < 6; ++i) {
        r.Sig1[i] = sig1[i];
        r.Sig2[i] = "nothing-like-it";
        r.Matches[i] = 8;
        r.Analysed[i] = 9;
        r.TailRunStart[i] = 1;
    }
    r.Sig2[2] = "xyz";
    r.Matches[3] = 25;
    r.Analysed[3] = 25;
    // Shares 10 bytes with slots 2 and 3: slot 3 is chosen (the later) and
    // narrowed to the start slot 2 already holds, with a second signature the
    // sample contains: the sample is counted for slot 2, and slot 3 pays 10
    // for each of the two slots passed before it.
    ASSERT_TRUE(UpdateLearnedType(r, ".xyz", sample("ABCDEFGHIJ999999", "..xyz..")));
    EXPECT_EQ(r.CurrentVariant, 2);
    EXPECT_EQ(r.Matches[2], 9);
    EXPECT_EQ(r.Analysed[2], 10);
    EXPECT_EQ(r.Sig2[2], "xyz");
    EXPECT_EQ(r.Sig1[3], "ABCDEFGHIJ");
    EXPECT_EQ(r.Matches[3], 5);
    EXPECT_EQ(r.Analysed[3], 25);
}

TEST(Derivation, SecondSignatureTailsAndSizeField)
{
    // Bytes 4 to 7 of the first bytes hold the length: offset 4, order 2.
    const QByteArray head1 = "RIF0" + le32(8192) + "WXYZ0000";
    const QByteArray head2 = "RIF0" + le32(12288) + "WXYZ0000";
    LearnedTypeRecord r;
    // The second signature: the longest run that the first kilobytes share
    // behind the first signature.
    ASSERT_TRUE(UpdateLearnedType(r, ".zz", sample(head1, "<<FORMAT-ONE>>" + patternBytes(994, 1), "", 8192)));
    EXPECT_EQ(r.SizeFieldOffset[0], 4);
    EXPECT_EQ(r.SizeFieldOrder[0], 2);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(UpdateLearnedType(r, ".zz", sample("other" + QByteArray::number(i), "x", "", 8192)));
    ASSERT_TRUE(UpdateLearnedType(r, ".zz", sample(head1, "[[FORMAT-ONE]]" + patternBytes(994, 2), "", 8192)));
    EXPECT_EQ(r.CurrentVariant, 0);
    EXPECT_EQ(r.Sig1[0], head1);
    EXPECT_EQ(r.Sig2[0], "FORMAT-ONE");
    EXPECT_EQ(r.Matches[0], 1);
    // Another length: the first signature narrows to the bytes before the
    // lengths differ; the second stays.
    ASSERT_TRUE(UpdateLearnedType(r, ".zz", sample(head2, "((FORMAT-ONE))" + patternBytes(994, 3), "", 12288)));
    EXPECT_EQ(r.CurrentVariant, 0);
    EXPECT_EQ(r.Sig1[0], QByteArray("RIF0\0", 5));
    EXPECT_EQ(r.Sig2[0], "FORMAT-ONE");
    EXPECT_EQ(r.SizeFieldOffset[0], 4);
    EXPECT_EQ(r.Matches[0], 0);   // the conflict's penalty, then its own +1, not below 0
    EXPECT_EQ(r.Analysed[0], 3);
    // A sample that contains the second signature leaves it as it is.
    ASSERT_TRUE(UpdateLearnedType(r, ".zz", sample(head1, "....FORMAT-ONE" + patternBytes(994, 4), "", 8192)));
    EXPECT_EQ(r.Sig2[0], "FORMAT-ONE");
    EXPECT_EQ(r.Matches[0], 1);

    // Endings: the common reversed ending, and the run of agreeing positions.
    LearnedTypeRecord t;
    ASSERT_TRUE(UpdateLearnedType(t, ".tl", sample("TAILTEST", "", "xxxxxxxABCDEFGH!")));
    EXPECT_EQ(t.TailPrefix[0], "!HGFEDCBAxxxxxxx");
    EXPECT_EQ(t.TailRun[0], "!HGFEDCBAxxxxxxx");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(UpdateLearnedType(t, ".tl", sample("fill" + QByteArray::number(i))));
    // Reversed: "!HG" shared, then 5 positions apart, then "Axxxxxxx" agree
    // from position 9: the longest aligned run starts there.
    ASSERT_TRUE(UpdateLearnedType(t, ".tl", sample("TAILTEST", "", "xxxxxxxA12345GH!")));
    EXPECT_EQ(t.CurrentVariant, 0);
    EXPECT_EQ(t.TailPrefix[0], "!HG");
    EXPECT_EQ(t.TailRun[0], "Axxxxxxx");
    EXPECT_EQ(t.TailRunStart[0], 9);
    EXPECT_EQ(t.Matches[0], 1);
    EXPECT_EQ(t.Analysed[0], 2);
}

TEST(Derivation, PruningAndMerging)
{
    auto variant = [](LearnedTypeRecord &r, size_t k, const QByteArray &sig1, const QByteArray &sig2, int m, int a) {
        r.Sig1[k] = sig1;
        r.Sig2[k] = sig2;
        r.TailPrefix[k] = "tp" + QByteArray::number(int(k));
        r.TailRun[k] = "ABCD";
        r.Matches[k] = m;
        r.Analysed[k] = a;
    };
    // 4 of 4: dropped in an interactive run, kept unattended.
    LearnedTypeRecord four;
    variant(four, 0, "SIG4", "x", 4, 4);
    LearnedTypeRecord kept = four;
    PruneLearnedType(four, false);
    EXPECT_TRUE(four.Sig1[0].isEmpty());
    EXPECT_TRUE(four.Sig2[0].isEmpty());   // nothing of the samples stays
    PruneLearnedType(kept, true);
    EXPECT_EQ(kept.Sig1[0], "SIG4");

    LearnedTypeRecord r;
    variant(r, 0, "ABCDEFGH", "xxCOMMONyy", 20, 20);   // strong: takes the others in
    variant(r, 1, "ABCDEF", "zzCOMMON", 12, 12);       // merged into 0
    variant(r, 2, "ABCDEFGHIJ", "q", 8, 10);            // 0.8 but too few matches: stays
    variant(r, 3, "ABCDXX", "COMMON", 7, 10);           // 0.7: dropped by slot 0
    variant(r, 4, "AB", "COMMON", 30, 30);              // too short: dropped
    variant(r, 5, "ZZZZZZ", "w", 6, 10);                // 0.6: dropped by slot 0
    r.TailRun[1] = "ABXD";
    PruneLearnedType(r, false);
    EXPECT_EQ(r.Sig1[0], "ABCDEF");
    EXPECT_EQ(r.Sig2[0], "COMMON");
    EXPECT_EQ(r.TailPrefix[0], "tp");
    EXPECT_EQ(r.TailRun[0], "AB");
    EXPECT_EQ(r.Matches[0], 32);
    EXPECT_EQ(r.Analysed[0], 32);
    EXPECT_TRUE(r.Sig1[1].isEmpty());
    EXPECT_EQ(r.Matches[1], 0);
    EXPECT_EQ(r.Sig1[2], "ABCDEFGHIJ");
    EXPECT_TRUE(r.Sig1[3].isEmpty());
    EXPECT_TRUE(r.Sig1[4].isEmpty());
    EXPECT_TRUE(r.Sig1[5].isEmpty());

    // A reliability of exactly 0.5 is below the mark by its margin.
    LearnedTypeRecord half;
    variant(half, 0, "HALF", "h", 5, 10);
    variant(half, 1, "MORE", "m", 6, 10);
    PruneLearnedType(half, false);
    EXPECT_TRUE(half.Sig1[0].isEmpty());
    EXPECT_EQ(half.Sig1[1], "MORE");

    // Records from disk: nothing analysed but matches claimed, negative and
    // extreme counts, a start far outside the tail. No division by zero, no
    // read out of bounds, no overflow.
    LearnedTypeRecord bad;
    variant(bad, 0, "GOODGOOD", "g", 40, 40);
    variant(bad, 1, "GOODGOOD", "g", 12, 0);
    variant(bad, 2, "GOODGOOD", "g", std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max());
    PruneLearnedType(bad, true);
    EXPECT_TRUE(bad.Sig1[1].isEmpty());
    EXPECT_TRUE(bad.Sig1[2].isEmpty());   // merged into slot 0, the counts saturating
    EXPECT_EQ(bad.Matches[0], std::numeric_limits<int32_t>::max());
    EXPECT_EQ(bad.Analysed[0], std::numeric_limits<int32_t>::max());
    EXPECT_EQ(VariantReliability(12, 0), 0.0);

    LearnedTypeRecord odd;
    odd.Ext = ".odd";
    odd.CurrentVariant = 99;
    for (size_t k = 0; k < 6; ++k) {
        odd.Sig1[k] = "ODDSODDS";
        odd.TailRun[k] = "never in any tail";
        odd.TailRunStart[k] = k % 2 ? std::numeric_limits<int32_t>::max() : -5;
        odd.Matches[k] = std::numeric_limits<int32_t>::min();
    }
    ASSERT_TRUE(UpdateLearnedType(odd, ".odd", sample("ODDSODDS12345678", "", "tail")));
    EXPECT_GE(odd.CurrentVariant, 0);
    EXPECT_LT(odd.CurrentVariant, 6);
    EXPECT_EQ(odd.Matches[size_t(odd.CurrentVariant)], 0);
}

// After every update, the first signature of every slot in use is a prefix
// of the first bytes of every sample counted for it since it was set up.
TEST(Derivation, FirstSignatureStaysAPrefixOfEveryCountedSample)
{
    auto check = [](const std::vector<SampleBytes> &samples) -> int {
        LearnedTypeRecord r;
        std::vector<std::vector<QByteArray>> counted(6);
        int n = 0;
        for (const SampleBytes &s : samples) {
            if (!UpdateLearnedType(r, ".p", s))
                continue;
            const auto v = size_t(r.CurrentVariant);
            if (r.Analysed[v] == 1)
                counted[v].clear();   // set up anew
            counted[v].push_back(s.Head16);
            ++n;
            for (size_t k = 0; k < 6; ++k) {
                if (r.Sig1[k].isEmpty())
                    continue;
                EXPECT_TRUE(IsUsableFirstSignature(r.Sig1[k])) << r.Sig1[k].toHex().toStdString();
                for (const QByteArray &h : counted[k])
                    if (!h.startsWith(r.Sig1[k])) {
                        ADD_FAILURE() << "slot " << k << " after " << n << " samples: "
                                      << r.Sig1[k].toHex().toStdString() << " vs " << h.toHex().toStdString();
                        return -1;
                    }
            }
        }
        return n;
    };

    // Synthetic: starts from a small alphabet, so that slots share, narrow,
    // conflict and are replaced.
    std::mt19937 rng(1234);
    std::vector<SampleBytes> synthetic;
    for (int i = 0; i < 3000; ++i) {
        QByteArray head(16, '\0');
        const int shared = int(rng() % 12);
        for (int b = 0; b < 16; ++b)
            head[b] = b < shared ? char('A' + b) : char('A' + rng() % 3);
        synthetic.push_back(sample(head, QByteArray::number(uint(rng() % 7)), QByteArray::number(uint(rng()))));
    }
    EXPECT_GT(check(synthetic), 1000);

    // Real files of several formats, all learned as one type.
    const QString dir = makeTempDir("prefix");
    std::vector<SampleBytes> real;
    const auto au = learn_samples::makeAuSamples(dir, 12, {4096, 8192, 12288, 4096 * 5});
    ASSERT_FALSE(au.isEmpty()) << "sox missing";
    for (const auto &[name, data] : au)
        real.push_back(SampleFromBytes(data.left(1024), data.right(1024), data.size()));
    for (int i = 0; i < 8; ++i) {
        const QString bmp = dir + QStringLiteral("/b%1.bmp").arg(i);
        ASSERT_EQ(runTool(learn_samples::imageMagick(),
                          {"-size", QStringLiteral("%1x%2").arg(30 + i).arg(20 + 3 * i), "plasma:fractal", "BMP3:" + bmp}),
                  0);
        const QByteArray data = readFileBytes(bmp);
        real.push_back(SampleFromBytes(data.left(1024), data.right(1024), data.size()));
    }
    // Interleaved, so that formats take each other's slots.
    std::vector<SampleBytes> mixed;
    for (size_t i = 0; i < real.size(); ++i)
        mixed.push_back(real[(i * 7) % real.size()]);
    EXPECT_GT(check(mixed), 10);
    EXPECT_GT(check(real), 10);
}

// Files that begin with the same few zero (or FF) bytes share nothing but
// what every empty stretch of a medium holds: no variant is learned from
// them, interactive or unattended, and a seeded slot never narrows to it.
TEST(Derivation, StartsOfEmptyStretchesAreNeverLearned)
{
    EXPECT_FALSE(IsUsableFirstSignature(QByteArray(4, '\0')));
    EXPECT_FALSE(IsUsableFirstSignature(QByteArray(16, '\xFF')));
    EXPECT_FALSE(IsUsableFirstSignature(QByteArray::fromHex("0000FFFF")));
    EXPECT_FALSE(IsUsableFirstSignature(QByteArray::fromHex("00000000000001")));
    EXPECT_FALSE(IsUsableFirstSignature(QByteArray::fromHex("4142")));
    EXPECT_TRUE(IsUsableFirstSignature(QByteArray::fromHex("000001BA")));   // MPEG: three values
    EXPECT_TRUE(IsUsableFirstSignature("%PDF"));

    for (const char lead : {'\0', '\xFF'}) {
        std::mt19937 rng(77);
        LearnedTypeRecord r;
        int counted = 0;
        for (int i = 0; i < 60; ++i) {
            QByteArray head(4, lead);
            for (int b = 4; b < 16; ++b)
                head += char(rng() % 251 + 1);
            counted += UpdateLearnedType(r, ".zz", sample(head, QByteArray::number(i)));
            for (size_t k = 0; k < 6; ++k) {
                if (!r.Sig1[k].isEmpty() && r.Matches[k] > 0) {
                    EXPECT_TRUE(IsUsableFirstSignature(r.Sig1[k])) << r.Sig1[k].toHex().toStdString();
                }
            }
        }
        EXPECT_LE(counted, 6);   // only the seeds, each counted once
        for (bool unattended : {false, true}) {
            LearnedTypeRecord pruned = r;
            PruneLearnedType(pruned, unattended);
            for (size_t k = 0; k < 6; ++k)
                EXPECT_TRUE(pruned.Sig1[k].isEmpty() || IsUsableFirstSignature(pruned.Sig1[k]))
                    << pruned.Sig1[k].toHex().toStdString();
            int reliable = 0;
            for (size_t k = 0; k < 6; ++k)
                reliable += !pruned.Sig1[k].isEmpty() && pruned.Matches[k] >= 5;
            EXPECT_EQ(reliable, 0);
        }
    }
}
