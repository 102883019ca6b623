// The Scan command on a medium that changes while the program runs: a card
// pulled during a scan and put back is resumed to its real end, another card
// in the drive is never resumed into, and a card formatted anew is scanned as
// the new card (its own names, no sizes from the old card's entries).
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/frmsearchdrives.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/scanengine.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;
using scan_images::cacheInternal;

namespace {

// Three photos far apart on a 48 MiB FAT16 card: at its start, in its middle
// and near its end, each deleted, with filler files between them.
struct PhotoCard {
    QString dir, image;
    QList<QByteArray> photos;
    QByteArray bytes;   // the whole image as made
};

QByteArray photo(const QString &dir, int seed)
{
    return imageMagickPicture(dir, QStringLiteral("p%1.jpg").arg(seed),
                              {"-size", "320x240", "-seed", QString::number(seed), "plasma:fractal", "-quality", "90"});
}

PhotoCard makePhotoCard(const QString &serial)
{
    PhotoCard c;
    c.dir = makeTempDir("photocard");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 48 * 1024;
    spec.sectorsPerCluster = 8;
    spec.serial = serial;
    const QString image = makeFatImage(c.dir, "card.img", spec);
    for (int i = 0; i < 3; ++i)
        c.photos << photo(c.dir, 11 + i);
    if (image.isEmpty() || c.photos.contains(QByteArray()))
        return c;
    const QList<QPair<QString, QByteArray>> order = {
        {"/A.JPG", c.photos[0]}, {"/FILL1.BIN", QByteArray(20 << 20, '\x5A')}, {"/B.JPG", c.photos[1]},
        {"/FILL2.BIN", QByteArray(20 << 20, '\x5A')}, {"/C.JPG", c.photos[2]}};
    for (const auto &[name, data] : order)
        if (!mcopyData(image, name, data))
            return c;
    for (const char *name : {"/A.JPG", "/B.JPG", "/C.JPG"})
        if (!mdel(image, name))
            return c;
    c.bytes = readFileBytes(image);
    c.image = image;
    return c;
}

class MediumChange : public scan_images::ScanWindowTest {
protected:
    void SetUp() override
    {
        UnloadSearchDrives();
        ScanWindowTest::SetUp();
        w->CmdEnd.setToolTipText("End");   // start-up has set the tool tips
        w->FillTypeList();
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemText(i) == QLatin1String("JPG"))
                w->LvwTypes.setItemChecked(i, true);
        cache = useNewCache();
    }
    void TearDown() override
    {
        ScanWindowTest::TearDown();
        UnloadSearchDrives();
        plat::setScreenMousePointer(0);
    }
    void attach(const QString &image)
    {
        plat::VirtualDriveOptions o;
        o.typeCode = plat::DriveTypeRemovable;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', image, o));
        w->SourceName = QStringLiteral("E:");
    }
    // The found files' bytes, in the order found.
    QList<QByteArray> found() const
    {
        QList<QByteArray> out;
        for (const QString &name : w->FoundFiles.FoundFileNames)
            out << readFileBytes(cache + QLatin1Char('/') + name);
        return out;
    }

    QString cache;
    QStringList scanMessages;
};

} // namespace

TEST_F(MediumChange, ACardPulledDuringTheScanIsResumedToItsRealEnd)
{
    const PhotoCard card = makePhotoCard(QStringLiteral("5EED0001"));
    if (card.image.isEmpty())
        GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing";
    attach(card.image);
    // The card is pulled as the scan begins to read: the image ends after
    // 12 MiB, as a reader that lost its card reports it.
    bool pulled = false;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        cb.message = [this](const QString &, const QString &text) { scanMessages << text; };
        if (!pulled) {
            pulled = true;
            QFile::resize(card.image, 12 << 20);
        }
    };
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        w->CmdScan_Click();
    }
    ASSERT_TRUE(pulled);
    ASSERT_GT(w->ScanResumeUnit(), 0) << scanMessages.join(" | ").toStdString();
    EXPECT_EQ(w->FoundFiles.FoundFileNames.size(), 1) << "the first photo, still open";

    // Put back: the resume reads the whole card and finds the rest.
    ASSERT_TRUE(writeFileBytes(card.image, card.bytes));
    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "The last scan of disk E: was interrupted.");
        w->CmdScan_Click();
    }
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished) << scanMessages.join(" | ").toStdString();
    EXPECT_EQ(found(), card.photos);
    EXPECT_EQ(w->ScanResumeUnit(), 0);
}

TEST_F(MediumChange, AnotherCardIsNeverResumedInto)
{
    const PhotoCard card = makePhotoCard(QStringLiteral("5EED0002"));
    const PhotoCard other = makePhotoCard(QStringLiteral("5EED0003"));
    if (card.image.isEmpty() || other.image.isEmpty())
        GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing";
    attach(card.image);
    // The user stops the scan at its first found file.
    bool pressed = false;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        cb.message = [this](const QString &, const QString &text) { scanMessages << text; };
        scan_images::pressAtFirstFoundFile(cb, pressed, [this] { w->CmdScan_Click(); });
    };
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        w->CmdScan_Click();
    }
    ASSERT_GT(w->ScanResumeUnit(), 0);

    // Another card in the reader: no resume into it; a new scan of it.
    ASSERT_TRUE(writeFileBytes(card.image, other.bytes));
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "The interrupted scan of disk E: cannot be resumed");
        boxes.expect(plat::id::Yes, "A new scan will delete all unsaved cached files");
        boxes.expect(plat::id::No, "SmartScan");
        w->CmdScan_Click();
        ASSERT_GE(boxes.boxes().size(), 1u);
        EXPECT_TRUE(boxes.boxes()[0].text.contains("serial 5EED0002")) << boxes.boxes()[0].text.toStdString();
        EXPECT_TRUE(boxes.boxes()[0].text.contains("serial 5EED0003, 48.0 MB, FAT16"));
    }
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(found(), other.photos);
}

TEST_F(MediumChange, ACardFormattedAnewIsScannedAsTheNewCard)
{
    const QString dir = makeTempDir("reformat");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16 * 1024;
    spec.serial = QStringLiteral("5EED0004");
    const QString image = makeFatImage(dir, "card.img", spec);
    const QByteArray old = photo(dir, 21);
    const QByteArray fresh = imageMagickPicture(dir, "big.jpg", {"-size", "640x480", "-seed", "22", "plasma:fractal"});
    if (image.isEmpty() || old.isEmpty() || fresh.size() < old.size())
        GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing";
    ASSERT_TRUE(mcopyData(image, "/HOLIDAY.JPG", old) && mdel(image, "/HOLIDAY.JPG"));
    attach(image);
    {
        MessageScript none;
        w->CmdQuickUndelete_Click();
    }
    ASSERT_GE(w->DeletedEntriesUpperBound(), 1);

    // Used anew while the program runs (formatted, a larger picture written
    // where the deleted one lay, formatted again: same serial, same label).
    const QStringList format = {"-F", "16", "-s", "4", "-i", "5EED0004", "-n", "CARD", "--invariant", image};
    ASSERT_EQ(runTool("mkfs.fat", format), 0);
    ASSERT_TRUE(mcopyData(image, "/NEWPIC.JPG", fresh));
    ASSERT_EQ(runTool("mkfs.fat", format), 0);
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        w->CmdScan_Click();
    }
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    ASSERT_EQ(w->FoundFiles.FoundFileNames.size(), 1);
    EXPECT_TRUE(w->FoundFiles.FoundFileNames[0].startsWith("R#")) << w->FoundFiles.FoundFileNames[0].toStdString();
    EXPECT_EQ(found().value(0), fresh) << "whole, not cut to the old entry's size";
}
