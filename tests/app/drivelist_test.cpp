// The drive list box: "e: [LABEL]" entries, the Drive property, Change when
// the current drive changes, and a label-free list that reads no volume.
#include "platform/ui/drivelist.h"

#include "platform/drives.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(DriveListBox, ListsDrivesAndRaisesChange)
{
    plat::DriveTable::instance().resetVirtual();
    plat::DriveTable::instance().setExclusive(true);
    const QString dir = makeTempDir("img");
    FatImageSpec spec;
    spec.label = "CARD";
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(attachRemovable('E', image));

    plat::Form form;
    plat::DriveListBox list(&form);
    plat::DriveListBox counter(&form, false);
    int changes = 0;
    list.Change = [&] { ++changes; };
    ASSERT_EQ(list.ListCount(), 2);
    EXPECT_EQ(list.List(1), "e: [CARD]");
    EXPECT_EQ(counter.List(1), "e:");
    EXPECT_EQ(list.Drive().left(2), "c:");

    EXPECT_TRUE(list.setDrive("E:\\"));
    EXPECT_EQ(list.Drive(), "e: [CARD]");
    EXPECT_EQ(list.ListIndex(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(list.setDrive("e:"));
    EXPECT_EQ(changes, 1) << "the same drive is no change";
    EXPECT_FALSE(list.setDrive("q:"));
    EXPECT_FALSE(list.setDrive(""));

    list.Refresh();
    EXPECT_EQ(changes, 1) << "a refresh keeps a listed drive";
    detachDrive('E');
    list.Refresh();
    EXPECT_EQ(list.ListCount(), 1);
    EXPECT_EQ(list.Drive().left(2), "c:");
    EXPECT_EQ(changes, 2);
    plat::DriveTable::instance().resetVirtual();
    plat::DriveTable::instance().setExclusive(true);
}
