// The free-space arithmetic before a scan: the four cases of the cache drive
// against the source, the unknown free space and the resumed scan.
#include "recovery/freespace.h"

#include <gtest/gtest.h>

namespace {
FreeSpaceOutcome run(int32_t c, int32_t s, int32_t resume = 0, double total = 0)
{
    FreeSpaceFacts f;
    f.cacheFreeMB = c;
    f.sourceFreeMB = s;
    f.sourceTotalMB = total;
    f.cacheFolder = QStringLiteral("d:\\RIVozud\\");
    f.resumePosition = resume;
    return EvaluateFreeSpace(f);
}
} // namespace

TEST(FreeSpace, CacheDriveAgainstSource)
{
    FreeSpaceOutcome o = run(10000, 7000);
    EXPECT_TRUE(o.resultSet);
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.room);
    EXPECT_FALSE(o.showBox);
    EXPECT_EQ(o.cacheFreeMB, 10000);

    o = run(8000, 7000);
    EXPECT_FALSE(o.room);
    EXPECT_FALSE(o.resultSet);
    EXPECT_TRUE(o.showBox);
    EXPECT_FALSE(o.okOnly);
    EXPECT_EQ(o.cacheFreeMB, 8000);
    EXPECT_EQ(o.message, "Free Space: 8 GB.\r\nThere is only room for saving 6 GB.\r\n");

    o = run(3000, 7000);
    EXPECT_EQ(o.cacheFreeMB, 1000);
    EXPECT_FALSE(o.resultSet);
    EXPECT_TRUE(o.message.contains("running out of disk space on the target drive D:.\r\n\r\n"));
    EXPECT_TRUE(o.message.endsWith("2 GB of free space is left.     "));
    EXPECT_TRUE(o.showBox);

    // A negative budget: too little room, and the box only informs.
    o = run(1500, 7000);
    EXPECT_EQ(o.cacheFreeMB, -500);
    EXPECT_TRUE(o.resultSet);
    EXPECT_EQ(o.result, 2);
    EXPECT_FALSE(o.message.contains("running out"));
    EXPECT_TRUE(o.message.contains("room for saving 0 GB"));
    EXPECT_TRUE(o.showBox);
    EXPECT_TRUE(o.okOnly);
}

TEST(FreeSpace, UnknownSpaceAndResume)
{
    FreeSpaceOutcome o = run(0, 500, 0, 1000);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.cacheFreeMB, 1100);
    EXPECT_FALSE(o.showBox);

    // While resuming no box is shown, and an unset result stays the caller's.
    o = run(3000, 7000, 12345);
    EXPECT_FALSE(o.showBox);
    EXPECT_FALSE(o.resultSet);
    EXPECT_FALSE(o.message.isEmpty());

    EXPECT_EQ(GigabyteText(100), "0");
    EXPECT_EQ(GigabyteText(-548), "0");
    EXPECT_EQ(GigabyteText(5952), "6");
}
