// The information texts beside the preview and the drive information panel.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class InfoText : public ::testing::Test {
protected:
    void SetUp() override { w = &CreateMainWindow(); }
    void TearDown() override
    {
        DestroyMainWindow();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }
    QStringList lines(const QString &text) const { return text.split("\r\n"); }
    frmRecover *w = nullptr;
};

TEST_F(InfoText, FormatInfoWrapsAtFolderSeparatorsThenInPieces)
{
    QString t;
    const QString path = "E:\\DCIM\\100CANON\\Holidays\\2026\\x\\IMG_0001.JPG";   // 42 characters
    w->FormatInfo(path, t);
    EXPECT_EQ(lines(t), (QStringList{"E:\\DCIM\\100CANON\\Holidays\\2026\\x\\", "IMG_0001.JPG", ""}));
    t.clear();
    w->FormatInfo(QString(50, 'a'), t);
    EXPECT_EQ(lines(t), (QStringList{QString(35, 'a'), QString(15, 'a'), ""}));
    t.clear();
    w->FormatInfo(QString(36, 'b'), t);
    EXPECT_EQ(lines(t), (QStringList{QString(35, 'b'), "b", ""}));
    t.clear();
    w->FormatInfo("  short  ", t);
    EXPECT_EQ(t, "short\r\n");
}

TEST_F(InfoText, TruncateInfoKeepsElevenLines)
{
    QString empty;
    w->TruncateInfo(empty);
    EXPECT_EQ(empty, "");
    QString eleven;
    for (int i = 0; i < 11; ++i)
        eleven += QString::number(i) + "\r\n";
    QString t = eleven;
    w->TruncateInfo(t);
    EXPECT_EQ(t, eleven.left(eleven.size() - 2));
    QString twelve = eleven + "11\r\n";
    w->TruncateInfo(twelve);
    EXPECT_EQ(twelve, eleven.left(eleven.size() - 2));
    QString ten;
    for (int i = 0; i < 10; ++i)
        ten += "x\r\n";
    t = ten;
    w->TruncateInfo(t);
    EXPECT_EQ(t, ten);
}

TEST_F(InfoText, DriveInformationOfACardAndOfAnImage)
{
    const QString dir = makeTempDir("info");
    const QString img = makeFatImage(dir, "card.img", FatImageSpec{});
    ASSERT_TRUE(attachRemovable('E', img));
    w->SourceName = "e:";
    w->ShowDriveInfo();
    const QStringList l = lines(w->lblSpecs.Caption());
    ASSERT_GE(l.size(), 10);
    EXPECT_EQ(l[1], "Drive E:\\ Type: Removable");
    EXPECT_EQ(l[2], "Volume Label: CARD");
    EXPECT_EQ(l[3], "");   // no read speed measured
    EXPECT_EQ(l[4], "Interface: File");
    EXPECT_EQ(l[5], "Serial Number: &&HDEADBEEF");
    EXPECT_EQ(l[6], "Free Space: 1.4 MB");
    EXPECT_EQ(l[7], "Total Space: 1.4 MB");
    EXPECT_EQ(l[8], "File System: FAT12");
    EXPECT_EQ(l[9], "Bytes/sector: 512");
    EXPECT_EQ(l[10], "Sectors/cluster: 4");

    // A speed measured on this medium is shown; one of another medium is not.
    w->MeasuredSpeedMBps = 12.345;
    w->MeasuredSpeedSerial = 0xDEADBEEF;
    w->ShowDriveInfo();
    EXPECT_EQ(lines(w->lblSpecs.Caption())[3], "Read speed: 12.35 MB/sec");
    w->MeasuredSpeedSerial = 1;
    w->ShowDriveInfo();
    EXPECT_EQ(lines(w->lblSpecs.Caption())[3], "");

    // The label is rebuilt only when it is stale.
    w->DriveInfoText = "\r\nDrive E:\\ kept\r\n";
    w->UpdateDriveInfoLabel();
    EXPECT_EQ(w->lblSpecs.Caption(), "\r\nDrive E:\\ kept\r\n");
    w->SourceName = "e:";
    w->DriveInfoText = "\r\nsomething else\r\n";
    w->UpdateDriveInfoLabel();
    EXPECT_EQ(lines(w->lblSpecs.Caption())[1], "Drive E:\\ Type: Removable");

    // A disk image: its file name, "File", no interface, serial or free space.
    w->SourceName = plat::toInternal(dir) + "\\DiskImages\\card.img";
    w->ShowDriveInfo();
    const QStringList li = lines(w->lblSpecs.Caption());
    EXPECT_EQ(li[1], "card.img");
    EXPECT_TRUE(li[3].startsWith("Total Space:"));
    EXPECT_EQ(li[4], "File System: File");
    EXPECT_FALSE(w->lblSpecs.Caption().contains("Serial Number"));
}

} // namespace
