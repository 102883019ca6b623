// Files found again: photos of one encoder (alike in their first bytes), the
// same photos cut short or run on past their end, and the judgement of
// which later find repeats which earlier file.
#include "scan/foundagain.h"
#include "tests/support/fixtures.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

QByteArray photo(int seed)
{
    QImage img(320, 240, QImage::Format_RGB888);
    QRandomGenerator rng{quint32(seed)};
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(int(rng.bounded(256)), (y + seed) & 255, (x ^ y) & 255));
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "JPEG", 90);
    return out;
}

} // namespace

TEST(FoundAgain, LaterFindsAreJudgedByTheWholeOfTheirBytes)
{
    const QString dir = makeTempDir("again");
    const QByteArray a = photo(3), b = photo(5);
    ASSERT_EQ(a.left(64), b.left(64)) << "one encoder: the first bytes alike";
    const QByteArray junk = patternBytes(3000, 9);
    const QList<QPair<QString, QByteArray>> files{
        {"R#0000.jpg", a},                        // whole
        {"R#0001.jpg", b.left(5000)},             // cut short where the scan was ended
        {"R#0002.jpg", a + junk},                 // a found again, run on past its end
        {"R#0003.jpg", b + junk},                 // more of the one cut short
        {"R#0004.jpg", a.left(8192)},             // a found again, cut where a stage was ended
        {"R#0005.jpg", b.left(4000) + junk},      // alike at first, then another file
        {"R#0006.txt", "short"},                  // too short to judge: never taken for another
        {"R#0007.txt", "short"},
    };
    QStringList names;
    for (const auto &[name, bytes] : files) {
        ASSERT_TRUE(writeFileBytes(dir + "/" + name, bytes));
        names << name;
    }
    const std::vector<bool> cutShort{false, true, false, false, false, false, false, false};

    EXPECT_EQ(CompareFoundAgain(dir + "/R#0000.jpg", false, dir + "/R#0002.jpg"), FoundAgain::Drop);
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0001.jpg", true, dir + "/R#0003.jpg"), FoundAgain::Replace);
    // A picture cut short says so by its structure, listed so or not; a type
    // without a walk only by its mark.
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0001.jpg", false, dir + "/R#0003.jpg"), FoundAgain::Replace);
    const QByteArray data = patternBytes(20000, 4);
    ASSERT_TRUE(writeFileBytes(dir + "/x.dat", data.left(9000)));
    ASSERT_TRUE(writeFileBytes(dir + "/y.dat", data));
    EXPECT_EQ(CompareFoundAgain(dir + "/x.dat", false, dir + "/y.dat"), FoundAgain::Drop);
    EXPECT_EQ(CompareFoundAgain(dir + "/x.dat", true, dir + "/y.dat"), FoundAgain::Replace);
    // Sectors one read could not get are zeros in its find: a find holding
    // them takes the place of one without; holes in both keep both.
    QByteArray holeEarly = a, holeLate = a;
    ASSERT_GT(a.size(), 24 * 512);
    holeEarly.replace(12 * 512, 3 * 512, QByteArray(3 * 512, '\0'));
    holeLate.replace(20 * 512, 512, QByteArray(512, '\0'));
    ASSERT_TRUE(writeFileBytes(dir + "/hole1.jpg", holeEarly));
    ASSERT_TRUE(writeFileBytes(dir + "/hole2.jpg", holeLate));
    EXPECT_EQ(CompareFoundAgain(dir + "/hole1.jpg", false, dir + "/R#0000.jpg"), FoundAgain::Replace);
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0000.jpg", false, dir + "/hole1.jpg"), FoundAgain::Drop);
    EXPECT_EQ(CompareFoundAgain(dir + "/hole1.jpg", false, dir + "/hole2.jpg"), FoundAgain::Other);
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0000.jpg", false, dir + "/R#0004.jpg"), FoundAgain::Drop);
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0001.jpg", true, dir + "/R#0005.jpg"), FoundAgain::Other);
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0000.jpg", false, dir + "/missing.jpg"), FoundAgain::Other);

    const std::vector<FoundAgainMatch> m = FindFoundAgain(dir, names, cutShort);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ((std::tuple{m[0].later, m[0].earlier, m[0].verdict}), (std::tuple{2, 0, FoundAgain::Drop}));
    EXPECT_EQ((std::tuple{m[1].later, m[1].earlier, m[1].verdict}), (std::tuple{3, 1, FoundAgain::Replace}));
    EXPECT_EQ((std::tuple{m[2].later, m[2].earlier, m[2].verdict}), (std::tuple{4, 0, FoundAgain::Drop}));
    // A list that names one file twice: the file is no find of itself.
    EXPECT_EQ(CompareFoundAgain(dir + "/R#0000.jpg", false, dir + "/R#0000.jpg"), FoundAgain::Other);
    EXPECT_TRUE(FindFoundAgain(dir, {"R#0000.jpg", "R#0000.jpg"}, {false, false}).empty());

    EXPECT_TRUE(FoundLineMarked("007! JPEG File"));
    EXPECT_TRUE(FoundLineMarked("12345! PNG"));
    EXPECT_TRUE(FoundLineMarked("0003.jpg!"));
    EXPECT_FALSE(FoundLineMarked("007 JPEG File!"));
    EXPECT_FALSE(FoundLineMarked("! JPEG"));
}
