// The end of a scan on the main window and in the engine: a scan of 40,000
// found files keeps its list file (the first 32,760 lines) and says so; the
// window after the finishing pass (progress bar, Explore caption, file view,
// the Damaged box); the expected length of a large picture from its size,
// which never ends a picture whose structure goes on.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/scanlist.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

using ScanFinish = ScanWindowTest;

} // namespace

TEST_F(ScanFinish, FortyThousandFoundFilesKeepTheirListFile)
{
    // 40,000 units of 512 bytes, each the start of a PDF.
    const QString dir = makeTempDir("many");
    const int files = 40000;
    QByteArray image;
    image.reserve(files * 512);
    for (int i = 0; i < files; ++i) {
        QByteArray unit = "%PDF-1.4\n% " + QByteArray::number(i) + "\n";
        image += unit + QByteArray(512 - unit.size(), 'x');
    }
    ASSERT_TRUE(writeFileBytes(dir + "/many.img", image));
    const QString cache = useNewCache();
    // An older list file of the root: replaced by the scan's.
    ASSERT_TRUE(writeFileBytes(plat::toNative(w->ScanListFile()), "\"old\"\r\n"));

    MessageScript boxes;
    boxes.expect(plat::id::OK, "The found-file list shows the first 32760 of the 40000 files found");
    w->ScanningImage = true;
    w->SourceName = plat::toInternal(dir + "/many.img");
    w->OperationRunning = true;
    w->ScanDisk();
    ASSERT_EQ(w->LastScanResult.end, ScanEnd::Finished) << w->LastScanResult.messageText.toStdString();
    EXPECT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(w->FoundFiles.FoundFileNames.size(), files);
    EXPECT_EQ(w->FoundFilePaths.size(), files);
    EXPECT_EQ(w->List3.ListCount(), ScanListCapacity);
    EXPECT_EQ(QDir(cache).entryList(QDir::Files).size(), files);

    // The list file holds the lines the list shows, and is taken for the
    // folder of 40,000 files: the list comes back with the scan's lines and
    // every file in the arrays.
    ScanListData d;
    ASSERT_EQ(ReadScanListFile(w->ScanListFile(), files, d), ScanListStatus::Loaded);
    ASSERT_EQ(int(d.items.size()), ScanListCapacity);
    EXPECT_EQ(d.items[0].fileName, w->FoundFiles.FoundFileNames[0]);
    EXPECT_EQ(d.items.back().displayText, w->List3.List(ScanListCapacity - 1));

    w->List3.Clear();
    w->FoundFilePaths = QStringList{QString()};
    w->RefillFoundFileList();
    EXPECT_EQ(w->List3.ListCount(), ScanListCapacity);
    EXPECT_EQ(w->List3.List(0), d.items[0].displayText);
    EXPECT_EQ(w->FoundFilePaths.size(), files);
    EXPECT_EQ(int(w->ItemOrientations.size()), files);
    EXPECT_TRUE(w->FoundFilePaths.contains(w->FoundFiles.FoundFileNames.last()));
}

TEST_F(ScanFinish, TheWindowAfterTheFinishingPass)
{
    const QString dir = makeTempDir("damaged");
    const QList<CorpusFile> files = makeCorpus(dir);
    if (files.isEmpty())
        GTEST_SKIP() << "a picture tool is missing";
    const QString image = makeReformattedImage(dir, "card.img", files, 1, 40960);
    ASSERT_FALSE(image.isEmpty());
    // Two stretches that cannot be read: DeepScan, then Damaged.
    const qint64 bad = readFileBytes(image).indexOf(files[3].data.left(512)) / 512;
    ASSERT_GT(bad, 0);
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.badSectors = {{bad + 2, bad + 4}, {bad + 2000, bad + 2003}};
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', image, o));
    useNewCache();
    w->ChkDamaged.setVisible(false);
    w->CmdShowFolder.setCaption("Explore Folder");
    w->SizeLimitMax = 1;
    bool shownWhileDamaged = false;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        auto tick = cb.modeChanged;
        cb.modeChanged = [&, tick](ScanMode m) {
            tick(m);
            if (m == ScanMode::Damaged)
                shownWhileDamaged = w->ChkDamaged.Visible() && w->ChkDamaged.Value() == 1;
        };
    };
    QStringList told;   // the end messages of a damaged medium
    plat::setMessageResponder([&](const plat::MessageRequest &r) {
        told << r.text;
        return plat::id::OK;
    });
    w->SourceName = "E:";
    GetDriveInfo(w->SourceName);
    w->OperationRunning = true;
    w->ScanDisk();
    plat::setMessageResponder({});
    ASSERT_EQ(w->LastScanResult.finalMode, ScanMode::Damaged) << told.join("\n").toStdString();
    EXPECT_TRUE(shownWhileDamaged);
    // The finishing pass unticks both boxes and hides Damaged again.
    EXPECT_EQ(w->ChkDeep.Value(), 0);
    EXPECT_EQ(w->ChkDamaged.Value(), 0);
    EXPECT_FALSE(w->ChkDamaged.Visible());
    EXPECT_EQ(w->ProgressBar1.Value(), w->ProgressBar1.Min());
    EXPECT_EQ(w->CmdShowFolder.Caption(), "Explore Cache");
    EXPECT_EQ(w->LvwFiles.ItemCount(), 0);
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
    EXPECT_GE(w->List3.ListCount(), files.size() - 1);
}

// A picture at least 1001 pixels wide is expected to end within width x
// height x 6 bytes: behind it the scan writes no more than that (and no
// more than its structure holds, once that has ended). A picture whose
// structure needs more (16-bit RGBA) is written whole all the same.
TEST(ScanEstimate, ALargePictureEndsByItsSizeUnlessItsStructureGoesOn)
{
    const QString dir = makeTempDir("estimate");
    writeFileBytes(dir + "/big.ppm", "P6\n1200 20\n255\n" + patternBytes(1200 * 20 * 3, 3));
    QByteArray log;
    ASSERT_EQ(runTool("cjpeg", {"-outfile", dir + "/big.jpg", dir + "/big.ppm"}, &log), 0) << log.constData();
    const QByteArray jpeg = readFileBytes(dir + "/big.jpg");
    ASSERT_EQ(runTool(picture_cards::imageMagick(), {"-size", "1100x40", "xc:", "+noise", "Random", "-depth", "16",
                                                     "PNG64:" + dir + "/deep.png"}, &log),
              0)
        << log.constData();
    const QByteArray png = readFileBytes(dir + "/deep.png");
    ASSERT_GT(png.size(), 1100 * 40 * 6);

    // Each picture, then 1 MB of bytes of no known type, on 512-byte units.
    auto padded = [](const QByteArray &b) { return b + QByteArray((512 - b.size() % 512) % 512, '\x01'); };
    QByteArray medium = padded(jpeg) + picture_cards::nonZeroBytes(1 << 20, 4);
    medium = padded(medium) + padded(png) + picture_cards::nonZeroBytes(1 << 20, 5);
    writeFileBytes(dir + "/m.img", padded(medium));

    const QString cache = makeTempDir("cache");
    ScanOptions opt;
    opt.cacheFolder = cacheInternal(cache);
    opt.freeMemoryMB = 0;
    FoundFileList found;
    QList<uint64_t> written;
    ScanCallbacks cb = quietCallbacks();
    cb.fileKept = [&](const FoundFileEvent &e) { written << e.bytes; };
    SignatureRows table = programTable({"JPG", "PNG"});
    ScanEngine engine(imageSource(dir + "/m.img"), table, opt, cb, found);
    ASSERT_EQ(engine.run().end, ScanEnd::Finished);
    ASSERT_EQ(found.FoundFileNames.size(), 2);
    ASSERT_EQ(written.size(), 2);
    EXPECT_LE(written[0], uint64_t(1200 * 20 * 6));
    EXPECT_GE(written[1], uint64_t(png.size()));
    EXPECT_EQ(readFileBytes(cache + '/' + found.FoundFileNames[0]), jpeg);
    EXPECT_EQ(readFileBytes(cache + '/' + found.FoundFileNames[1]), png);
}
