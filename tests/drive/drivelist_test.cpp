// Drive lists by type, space in MB and the interface of a drive's disk.
#include "drive/drivelist.h"
#include "tests/drive/drive_test_util.h"

using namespace testing_support;
using namespace drive_tests;

namespace {

TEST(DriveList, DrivesOfATypeSpaceAndInterface)
{
    const QString dir = makeTempDir("dl");
    const QString e = makeFatImage(dir, "e.img", FatImageSpec{});
    FatImageSpec big;
    big.fatBits = 16;
    big.sizeKiB = 16384;
    const QString f = makeFatImage(dir, "f.img", big);
    ASSERT_TRUE(attachRemovable('E', e));
    ASSERT_TRUE(attachRemovable('F', f));

    QString list;
    ListDrivesOfType(list, 2);
    EXPECT_EQ(list, "E:\\ F:\\ ");
    list = "X ";
    ListDrivesOfType(list, 0);
    EXPECT_EQ(list, "X C:\\ E:\\ F:\\ ");

    int32_t total = 0;
    const int32_t freeMB = GetDiskSpaceMB("F:\\", total);
    EXPECT_EQ(total, 16);
    EXPECT_EQ(freeMB, int32_t(RoundHalfEven(mdirBytesFree(f) / 1048576.0)));
    EXPECT_EQ(GetDiskSpaceMB("Q:", total), 0);
    EXPECT_EQ(total, 0);

    DiskTable table;
    QueryDiskDrives(table);
    ASSERT_EQ(table.size(), 6u);
    EXPECT_TRUE(table[1].contains(e));
    const qsizetype row = table[1].indexOf(f);
    ASSERT_GE(row, 0);
    EXPECT_EQ(table[2][row], "File");
    EXPECT_EQ(table[3][row], "Removable Media");
    EXPECT_EQ(table[4][row], "512");
    EXPECT_EQ(table[5][row], "32768");

    GetDriveInfo("F:");
    QString iface = "stale";
    GetDriveInterfaceType(iface);
    EXPECT_EQ(iface, "File");
    detachDrive('E');
    detachDrive('F');
}

TEST(DriveList, RemoveArrayItem)
{
    QStringList a{"a", "b", "c"};
    RemoveArrayItem(a, 1);
    EXPECT_EQ(a, (QStringList{"a", "c"}));
    RemoveArrayItem(a, 1);
    EXPECT_EQ(a, QStringList{"a"});
    RemoveArrayItem(a, 5);
    EXPECT_EQ(a, QStringList{"a"});
}

} // namespace
