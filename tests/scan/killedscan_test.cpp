// A scan killed while it waits on a slow unreadable stretch, as the system
// ends a hung program: what it had read before the stretch is in the cache
// by then, and the finishing pass of the next start cuts those files whole
// and marks the file that was open; on the window, that pass fills the
// found-file list before it is shown.
#include "drive/registry.h"
#include "recovery/scanlist.h"
#include "scan/foundfiles.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/child.h"
#include "tests/support/fixtures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QThread>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

constexpr int kSlowMs = 2000;

QByteArray photo(int i)
{
    QImage img(300 + 20 * i, 200, QImage::Format_RGB888);
    QRandomGenerator rng(40 + i);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(int(rng.bounded(256)), (x + y) & 255, int(rng.bounded(256))));
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "JPEG", 90);
    return out;
}

struct SlowCard {
    QString image;
    QList<QByteArray> photos;
    qint64 badFirst = -1, badLast = -1;   // inside the third photo
};

// Four photos on a quick-formatted card; a few sectors of the third one do
// not read.
const SlowCard &slowCard()
{
    static SlowCard c = [] {
        SlowCard k;
        const QString dir = makeTempDir("slowcard");
        FatImageSpec spec;
        spec.fatBits = 16;
        spec.sizeKiB = 16384;
        spec.sectorsPerCluster = 4;
        const QString image = makeFatImage(dir, "card.img", spec);
        QList<QPair<QString, QByteArray>> files;
        for (int i = 0; i < 4; ++i) {
            k.photos << photo(i);
            files.append({QStringLiteral("IMG_%1.JPG").arg(i), k.photos.last()});
        }
        if (image.isEmpty() || !mcopyFiles(image, "/", files)
            || runTool("mkfs.fat", {"--invariant", "-F", "16", "-s", "4", "-i", "DEADBEEF", image}) != 0)
            return k;
        const qint64 third = readFileBytes(image).indexOf(k.photos[2].left(2048));
        if (third <= 0 || third % 512)
            return k;
        k.badFirst = third / 512 + 12;
        k.badLast = k.badFirst + 3;
        k.image = image;
        return k;
    }();
    return c;
}

// The child's part: the card (args: image, cache, first bad sector) as a
// removable drive whose bad sectors take kSlowMs a read, scanned into the
// cache the parent names.
int scanAsChild(const QStringList &args)
{
    const QString image = args.value(0);
    const qint64 bad = args.value(2).toLongLong();
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.badSectors = {{bad, bad + 3}};
    o.slowMs = kSlowMs;
    if (!plat::DriveTable::instance().attachImage('E', image, o))
        return 2;
    ScanSource s;
    s.name = QStringLiteral("E:");
    s.driveType = QStringLiteral("Removable");
    s.geometry = GeometryOfImageFile(image);
    ScanOptions opt;
    opt.cacheFolder = cacheInternal(args.value(1));
    opt.freeMemoryMB = 0;
    FoundFileList found;
    SignatureRows table = programTable({"JPG"});
    ScanEngine(s, table, opt, quietCallbacks(), found).run();
    return 3;   // killed by the parent while it waits on the stretch
}
const bool registered = registerChild("killedscan", scanAsChild);

// Whether the process's main thread sleeps (the slow read), -1 unknown.
int sleeping(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/syscall").arg(pid));
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray call = f.readAll().split(' ').value(0).trimmed();
        if (!call.isEmpty() && call != "running")
            return call == "230" || call == "35" ? 1 : 0;
        if (call == "running")
            return 0;
    }
    QFile w(QStringLiteral("/proc/%1/wchan").arg(pid));
    if (w.open(QIODevice::ReadOnly)) {
        const QByteArray chan = w.readAll();
        if (chan != "0" && !chan.isEmpty())
            return chan.contains("nanosleep") ? 1 : 0;
    }
    return -1;
}

} // namespace

TEST(KilledScan, WhatWasReadBeforeASlowBadStretchIsThereAndFinishedAtTheNextStart)
{
    if (slowCard().image.isEmpty())
        GTEST_SKIP() << "mkfs.fat or mtools missing";
    const QString cache = makeTempDir("killedcache");
    ChildProcess child("killedscan", {slowCard().image, cache, QString::number(slowCard().badFirst)});
    const qint64 pid = child.processId();
    ASSERT_GT(pid, 0);

    // The first slow read brings the bytes before the stretch; half way
    // through the second, the read of the stretch itself, the child is killed.
    int state = 0;
    for (int waited = 0; waited < 60000 && (state = sleeping(pid)) == 0; waited += 5)
        QThread::msleep(5);
    if (state < 0) {
        child.kill();
        GTEST_SKIP() << "the process's wait cannot be seen in /proc";
    }
    ASSERT_EQ(state, 1) << "the scan never waited on the stretch";
    QThread::msleep(kSlowMs * 3 / 2);
    EXPECT_EQ(sleeping(pid), 1);
    child.kill();

    // The two photos before the stretch were written whole, the third one up to it.
    const QList<QByteArray> &photos = slowCard().photos;
    const QStringList names = QDir(cache).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3) << names.join(' ').toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(readFileBytes(cache + '/' + names[i]).startsWith(photos[i])) << i;
    const QByteArray open = readFileBytes(cache + '/' + names[2]);
    EXPECT_TRUE(photos[2].startsWith(open.left(4096)));

    // The next start's finishing pass: the photos whole, the open one marked.
    const std::vector<FinishedFile> files = FinishInterruptedScan(cache);
    ASSERT_EQ(files.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(readFileBytes(cache + '/' + files[size_t(i)].name), photos[i]) << i;
        EXPECT_FALSE(files[size_t(i)].cutShort) << i;
    }
    EXPECT_TRUE(files[2].cutShort);
    EXPECT_TRUE(photos[2].startsWith(readFileBytes(cache + '/' + files[2].name)));
}

// The start of the program after a kill: the cache root's files are cut to
// their true ends and the list, as it is filled, marks the one that was open.
TEST_F(ScanWindowTest, TheStartFinishesTheFilesOfAKilledScanBeforeTheListShowsThem)
{
    const QString cache = useNewCache();
    const QByteArray a = photo(0), b = photo(1), c = photo(2);
    const QByteArray pdf = "%PDF-1.4\n1 0 obj << >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
    // As the scan wrote them: whole units, the slack of the last behind each.
    writeFileBytes(cache + "/R#0000.jpg", a + patternBytes(4096 - a.size() % 4096, 1));
    writeFileBytes(cache + "/R#0001.pdf", pdf + QByteArray(4096 - pdf.size(), '\0'));
    QThread::msleep(20);
    writeFileBytes(cache + "/R#0002.jpg", c.left(8192));   // open when the scan was killed
    writeFileBytes(cache + "/R#0003.jpg", b + QByteArray(4096 - b.size() % 4096, '\0'));
    DateFoundFile(cache + "/R#0003.jpg", QDateTime(QDate(2020, 1, 2), QTime(3, 4)));   // kept with its photo's date

    // Without the marker nothing is touched.
    SaveSetting("Zentarix", "Quilvane", "LastCluster", "0");
    w->FinishInterruptedScanFiles();
    EXPECT_EQ(QFileInfo(cache + "/R#0001.pdf").size(), 4096);

    SaveSetting("Zentarix", "Quilvane", "LastCluster", "33");
    w->FinishInterruptedScanFiles();
    w->RefillFoundFileList();
    EXPECT_EQ(readFileBytes(cache + "/R#0000.jpg"), a);
    EXPECT_EQ(readFileBytes(cache + "/R#0001.pdf"), pdf);
    EXPECT_EQ(readFileBytes(cache + "/R#0002.jpg"), c.left(8192));
    EXPECT_EQ(readFileBytes(cache + "/R#0003.jpg"), b);
    ASSERT_EQ(w->List3.ListCount(), 4);
    EXPECT_EQ(w->List3.List(0), "0000.jpg");
    EXPECT_EQ(w->List3.List(1), "0001.pdf");
    EXPECT_EQ(w->List3.List(2), "0002.jpg!");
    EXPECT_EQ(w->FoundFilePaths.value(2), "R#0002.jpg");
    ScanListData d;
    ASSERT_EQ(ReadScanListFile(w->ScanListFile(), 4, d), ScanListStatus::Loaded);
    EXPECT_EQ(d.items[2].displayText, "0002.jpg!");
    SaveSetting("Zentarix", "Quilvane", "LastCluster", "0");
}
