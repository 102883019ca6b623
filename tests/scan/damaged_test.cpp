// Damaged media, read through the layer's fault injection: a 64 MiB FAT32
// card made by mkfs.fat and mcopy holding 24 deleted files of known content.
// Every block of every found file is checked against the medium: it is the
// medium's sector at that place, or zero where a read of that sector failed;
// every file lying in readable sectors is found whole. Long bad stretches,
// a bad start, scattered single bad sectors, a card mostly unreadable, short
// and cut images, a card that stops answering; the end messages, the marks
// in the found-file list, the rights end and the status line.
#include "app/frmrecover.h"

#include "app/rightsadvice.h"
#include "drive/driveinfo.h"
#include "drive/registry.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/rawio.h"
#include "recovery/scanlist.h"
#include "scan/scanengine.h"
#include "scan/signatures.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

// Readable failure output for texts.
static void PrintTo(const QString &s, std::ostream *os) { *os << s.toStdString(); }
static void PrintTo(const QStringList &l, std::ostream *os) { *os << l.join("\n").toStdString(); }

using namespace testing_support;
using scan_images::cacheInternal;
using scan_images::quietCallbacks;

namespace {

using Ranges = QList<QPair<qint64, qint64>>;   // first and last sector, inclusive

struct CardFile {
    QString name;
    QByteArray data;
    qint64 sector = -1;   // where it lies on the card
};

struct Card {
    QString dir, image;
    QByteArray bytes;
    QList<CardFile> files;
    UnitGeometry geometry;
};

QByteArray encoded(const QImage &img, const char *format)
{
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, format, 90);
    return out;
}

QImage noise(int w, int h, quint32 seed)
{
    QImage img(w, h, QImage::Format_RGB888);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(int(rng.bounded(256)), (x + y) & 255, int(rng.bounded(256))));
    return img;
}

// A JPEG with a comment naming it right after its first segment, so that
// its first sector is its own.
QByteArray namedJpeg(int i)
{
    const QByteArray jpeg = encoded(noise(260 + 24 * i, 190 + 9 * i, 100 + i), "JPEG");
    const int first = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    const QByteArray text = "card file " + QByteArray::number(i);
    QByteArray com("\xFF\xFE", 2);
    com += char((text.size() + 2) >> 8);
    com += char((text.size() + 2) & 255);
    return jpeg.left(first) + com + text + jpeg.mid(first);
}

QByteArray pdf(int i)
{
    QByteArray body = "%PDF-1.4\n% card file " + QByteArray::number(i) + "\n";
    body += "1 0 obj << /Length 40000 >> stream\n" + patternBytes(40000, 700 + i) + "\nendstream endobj\n";
    body += "trailer << /Root 1 0 R >>\n%%EOF\n";
    return body;
}

// One card for the binary: the tools run once.
const Card &card()
{
    static Card c = [] {
        Card k;
        k.dir = makeTempDir("damaged");
        FatImageSpec spec;
        spec.fatBits = 32;
        spec.sizeKiB = 65536;
        spec.sectorsPerCluster = 1;
        k.image = makeFatImage(k.dir, "card.img", spec);
        if (k.image.isEmpty())
            return Card{};
        QList<QPair<QString, QByteArray>> list;
        for (int i = 0; i < 24; ++i) {
            CardFile f;
            if (i % 8 == 5) {
                f.name = QStringLiteral("DOC%1.PDF").arg(i, 2, 10, QLatin1Char('0'));
                f.data = pdf(i);
            } else if (i % 4 == 2) {
                f.name = QStringLiteral("PIC%1.PNG").arg(i, 2, 10, QLatin1Char('0'));
                f.data = encoded(noise(150 + 10 * i, 120, 300 + i), "PNG");
            } else {
                f.name = QStringLiteral("IMG%1.JPG").arg(i, 2, 10, QLatin1Char('0'));
                f.data = namedJpeg(i);
            }
            list.append({f.name, f.data});
            k.files << f;
        }
        if (!mcopyFiles(k.image, "/", list) || runTool("mdel", {"-i", k.image, "::/*"}) != 0)
            return Card{};
        k.bytes = readFileBytes(k.image);
        qint64 from = 0;
        for (CardFile &f : k.files) {
            qint64 at = k.bytes.indexOf(f.data.left(1024), from);
            while (at >= 0 && at % 512)
                at = k.bytes.indexOf(f.data.left(1024), at + 1);
            if (at < 0)
                return Card{};
            f.sector = at / 512;
            from = at + 512;
        }
        k.geometry = GeometryOfImageFile(k.image);
        return k;
    }();
    return c;
}

#define REQUIRE_CARD()                                                                                    \
    if (card().image.isEmpty())                                                                           \
    GTEST_SKIP() << "mkfs.fat or mtools missing"

bool isBad(const Ranges &bad, qint64 sector)
{
    for (const auto &r : bad)
        if (sector >= r.first && sector <= r.second)
            return true;
    return false;
}

// Bad sectors among [first, end).
qint64 badCount(const Ranges &bad, qint64 first, qint64 end)
{
    qint64 n = 0;
    for (const auto &r : bad)
        n += std::max<qint64>(0, std::min(end - 1, r.second) - std::max(first, r.first) + 1);
    return n;
}

struct CardScan {
    ScanResult result;
    FoundFileList found;
    QString cache;
    QStringList messages;
    std::vector<ScanMode> modes;
    QStringList lines;   // the found-file lines as the list shows them
};

plat::VirtualDriveOptions faults(const Ranges &bad)
{
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.badSectors = bad;
    return o;
}

ScanSource cardSource(const UnitGeometry &g)
{
    ScanSource s;
    s.name = QStringLiteral("E:");
    s.driveType = QStringLiteral("Removable");
    s.geometry = g;
    return s;
}

// The engine on the card (or another image) attached as E: with bad sectors.
CardScan scanCard(const Ranges &bad, ScanCallbacks cb = quietCallbacks(), ScanOptions opt = {},
             const QString &image = card().image, const QString &cache = makeTempDir("cache"))
{
    CardScan r;
    r.cache = cache;
    EXPECT_TRUE(plat::DriveTable::instance().attachImage('E', image, faults(bad)));
    opt.cacheFolder = cacheInternal(cache);
    opt.freeMemoryMB = 0;
    cb.message = [&r](const QString &t, const QString &x) { r.messages << t + "|" + x; };
    cb.modeChanged = [&r](ScanMode m) { r.modes.push_back(m); };
    auto kept = cb.fileKept;
    cb.fileKept = [&r, kept](const FoundFileEvent &e) {
        if (kept)
            kept(e);
        while (r.lines.size() <= e.index)
            r.lines << QString();
        r.lines[int(e.index)] = e.displayLine;
    };
    SignatureRows table;
    BuildSignatureTable("all", table);
    ScanEngine engine(cardSource(card().geometry), table, opt, cb, r.found);
    r.result = engine.run();
    plat::DriveTable::instance().detach('E');
    return r;
}

// The sector of the card where a found file begins: where its first sector is.
qint64 startOf(const QByteArray &data)
{
    const QByteArray head = data.left(512);
    for (qint64 at = card().bytes.indexOf(head); at >= 0; at = card().bytes.indexOf(head, at + 1))
        if (at % 512 == 0)
            return at / 512;
    return -1;
}

// Every block of every found file is the card's sector at its place, or zero
// where that sector is bad; every card file that lies wholly in readable
// sectors (and that the scan read) is found whole. With lines: a found file
// is marked in its line when it holds a zero-filled sector, and only when a
// bad sector lies between its start and the next found file (it may have
// been cut before the bad sectors, which is why it may be damaged).
QStringList checkFound(const QString &cacheNative, const FoundFileList &found, const Ranges &bad,
                       qint64 scannedEnd = INT64_MAX, const QStringList *lines = nullptr)
{
    QStringList problems;
    QList<qint64> starts;
    const QByteArray zero(512, '\0');
    for (const QString &name : found.FoundFileNames) {
        const QByteArray data = readFileBytes(cacheNative + '/' + name);
        const qint64 start = startOf(data);
        starts << start;
        if (start < 0) {
            problems << name + ": its first sector is nowhere on the card";
            continue;
        }
        bool zeroed = false;
        for (qint64 k = 0; k * 512 < data.size(); ++k) {
            const QByteArray got = data.mid(k * 512, 512);
            const bool badSector = isBad(bad, start + k);
            const QByteArray want = badSector ? zero.left(got.size()) : card().bytes.mid((start + k) * 512, got.size());
            zeroed = zeroed || badSector;
            if (got != want) {
                problems << QStringLiteral("%1: block %2 (sector %3%4) differs")
                                .arg(name)
                                .arg(k)
                                .arg(start + k)
                                .arg(badSector ? ", bad" : "");
                break;
            }
        }
        if (lines) {
            const int i = int(starts.size()) - 1;
            const bool marked = lines->value(i).section(' ', 0, 0).endsWith('!');
            if (zeroed && !marked)
                problems << name + " holds zero-filled sectors but is not marked: " + lines->value(i);
            qint64 next = INT64_MAX;
            for (const CardFile &f : card().files)
                if (f.sector > start)
                    next = std::min(next, f.sector);
            if (marked && badCount(bad, start, std::min(next, scannedEnd)) == 0)
                problems << name + " is marked but no bad sector lies in its stretch: " + lines->value(i);
        }
    }
    for (const CardFile &f : card().files) {
        const qint64 sectors = (f.data.size() + 511) / 512;
        if (f.sector + sectors > scannedEnd || badCount(bad, f.sector, f.sector + sectors) > 0)
            continue;
        const qsizetype i = starts.indexOf(f.sector);
        if (i < 0 || !readFileBytes(cacheNative + '/' + found.FoundFileNames[int(i)]).startsWith(f.data))
            problems << f.name + " lies in readable sectors but was not found whole";
    }
    return problems;
}

std::string joined(const QStringList &l) { return l.join("\n").toStdString(); }

} // namespace

TEST(DamagedMedia, BadStretchesLongerThanOneReadLoseNoReadableSector)
{
    REQUIRE_CARD();
    const qint64 first = card().geometry.offsetOfUnit(card().geometry.firstUnit) / 512;
    for (const Ranges &bad : {Ranges{{2100, 4400}}, Ranges{{2500, 4720}}, Ranges{{3000, 7150}}, Ranges{{3900, 3990}}}) {
        const CardScan r = scanCard(bad);
        const std::string which = QStringLiteral("bad %1-%2").arg(bad[0].first).arg(bad[0].second).toStdString();
        EXPECT_EQ(r.result.end, ScanEnd::Finished) << which;
        const QStringList problems = checkFound(r.cache, r.found, bad, INT64_MAX, &r.lines);
        EXPECT_TRUE(problems.isEmpty()) << which << "\n" << joined(problems);
        EXPECT_EQ(r.result.unreadable.count(), badCount(bad, first, INT64_MAX)) << which;
        EXPECT_EQ(r.result.unreadable.text(),
                  QStringLiteral("%1-%2").arg(std::max(first, bad[0].first)).arg(bad[0].second))
            << which;
        // DeepScan, then damaged mode; unticked again by the finishing pass.
        ASSERT_GE(r.modes.size(), 2u) << which;
        EXPECT_EQ(r.modes[0], ScanMode::DeepScan);
        EXPECT_EQ(r.modes.back(), ScanMode::Normal);
        // The end says how many sectors and where, and names the damaged files.
        ASSERT_EQ(r.messages.size(), 1) << which;
        EXPECT_TRUE(r.messages[0].contains(QStringLiteral("Sectors that could not be read: %1.")
                                               .arg(r.result.unreadable.count())))
            << r.messages[0].toStdString();
        EXPECT_TRUE(r.messages[0].contains("Unreadable sectors of the medium: " + r.result.unreadable.text()));
        EXPECT_EQ(r.result.damagedFiles, r.lines.filter(QRegularExpression("^\\d+! ")).size()) << which;
        EXPECT_GT(r.result.damagedFiles, 0) << which;
        EXPECT_TRUE(r.result.statusText.contains(
            QStringLiteral("Unreadable sectors: %1").arg(r.result.unreadable.count())));
    }
}

TEST(DamagedMedia, ScatteredSingleSectorsAndACardMostlyUnreadable)
{
    REQUIRE_CARD();
    const UnitGeometry &g = card().geometry;
    const qint64 first = g.offsetOfUnit(g.firstUnit) / 512, end = g.offsetOfUnit(g.endUnit()) / 512;

    // 61 single bad sectors across the files.
    Ranges singles;
    for (int k = 0; k < 61; ++k)
        singles << qMakePair(qint64(2200 + 157 * k), qint64(2200 + 157 * k));
    const CardScan s = scanCard(singles);
    EXPECT_EQ(s.result.end, ScanEnd::Finished);
    QStringList problems = checkFound(s.cache, s.found, singles, INT64_MAX, &s.lines);
    EXPECT_TRUE(problems.isEmpty()) << joined(problems);
    EXPECT_EQ(s.result.unreadable.count(), 61);
    EXPECT_EQ(s.result.unreadable.runs(), 61);
    EXPECT_EQ(s.result.unreadable.text(), "2200, 2357, 2514 ... 11306, 11463, 11620");

    // 94 % of the card unreadable, to its end: the files before are found,
    // and the end says how much could not be read.
    const qint64 from = first + (end - first) * 6 / 100;
    const Ranges tail{{from, end + 100}};
    const CardScan t = scanCard(tail);
    EXPECT_EQ(t.result.end, ScanEnd::Finished);
    problems = checkFound(t.cache, t.found, tail, INT64_MAX, &t.lines);
    EXPECT_TRUE(problems.isEmpty()) << joined(problems);
    EXPECT_GE(t.found.FoundFileNames.size(), 10);
    EXPECT_EQ(t.result.unreadable.count(), end - from);
    EXPECT_EQ(t.result.unreadable.text(), QStringLiteral("%1-%2").arg(from).arg(end - 1));
    ASSERT_EQ(t.messages.size(), 1);
    EXPECT_TRUE(t.messages[0].contains(QStringLiteral("Sectors that could not be read: %1.").arg(end - from)));
    EXPECT_TRUE(t.result.resume.offset < 0);   // read to its end
}

TEST(DamagedMedia, MediaThatEndOrStopAnsweringStopTheScanWithTheirResumePoint)
{
    REQUIRE_CARD();
    const UnitGeometry &g = card().geometry;
    const CardScan whole = scanCard({});
    ASSERT_EQ(whole.result.end, ScanEnd::Finished);
    ASSERT_TRUE(whole.messages.isEmpty()) << joined(whole.messages);
    const QString dir = makeTempDir("short");
    const qint64 MiB = 1 << 20;

    // The scan goes on from its resume point once the whole card is back,
    // and gives what one scan gives.
    const auto resumeOnTheWholeCard = [&](const CardScan &first, const QString &image) {
        ASSERT_TRUE(writeFileBytes(image, card().bytes));
        ScanOptions more;
        more.resume = first.result.resume;
        FoundFileList found = first.found;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', image, faults({})));
        more.cacheFolder = cacheInternal(first.cache);
        more.freeMemoryMB = 0;
        SignatureRows table;
        BuildSignatureTable("all", table);
        ScanEngine engine(cardSource(g), table, more, quietCallbacks(), found);
        EXPECT_EQ(engine.run().end, ScanEnd::Finished);
        plat::DriveTable::instance().detach('E');
        EXPECT_EQ(found.FoundFileNames, whole.found.FoundFileNames);
        EXPECT_EQ(scan_images::folderDigest(first.cache), scan_images::folderDigest(whole.cache));
    };

    // An image shorter than its boot sector says: 20 MiB of the 64.
    const QString shortImage = dir + "/short.img";
    ASSERT_TRUE(writeFileBytes(shortImage, card().bytes.left(20 * MiB)));
    CardScan s = scanCard({}, quietCallbacks(), {}, shortImage);
    EXPECT_EQ(s.result.end, ScanEnd::MediumEnded);
    const int percent = int(100 * (g.unitAtOffset(20 * MiB) - g.firstUnit) / g.unitCount);
    EXPECT_EQ(s.result.stoppedAtPercent, percent);
    ASSERT_EQ(s.messages.size(), 1);
    EXPECT_TRUE(s.messages[0].contains(
        QStringLiteral("Scan stopped at %1 %: the medium ended after 20 MB, before its stated size of 64 MB.").arg(percent)))
        << s.messages[0].toStdString();
    EXPECT_TRUE(s.result.statusText.startsWith(QStringLiteral("Scan stopped at %1 %").arg(percent)));
    EXPECT_EQ(s.result.resume.offset, 20 * MiB);
    QStringList problems = checkFound(s.cache, s.found, {}, 20 * MiB / 512);
    EXPECT_TRUE(problems.isEmpty()) << joined(problems);
    resumeOnTheWholeCard(s, shortImage);

    // A card taken out during the scan: its image cut to 30 MiB after the first read.
    const QString cutImage = dir + "/cut.img";
    ASSERT_TRUE(writeFileBytes(cutImage, card().bytes));
    ScanCallbacks cb = quietCallbacks();
    cb.yield = [cutImage] {
        QFile f(cutImage);
        if (f.size() > 30 * MiB)
            f.resize(30 * MiB);
    };
    CardScan c = scanCard({}, cb, {}, cutImage);
    EXPECT_EQ(c.result.end, ScanEnd::MediumEnded);
    EXPECT_EQ(c.result.resume.offset, 30 * MiB);
    EXPECT_TRUE(c.result.resume.fileOpen);   // the file being written goes on at the resume
    problems = checkFound(c.cache, c.found, {}, 30 * MiB / 512);
    EXPECT_TRUE(problems.isEmpty()) << joined(problems);
    resumeOnTheWholeCard(c, cutImage);

    // A card that stops answering after its first read: every read fails.
    auto dying = std::make_shared<plat::FaultSpec>();
    cb = quietCallbacks();
    cb.openSource = [dying](const ScanSource &) {
        plat::Handle h = plat::openVolume('E', plat::Access::Read);
        h.faults = dying;
        return h;
    };
    cb.yield = [dying] { dying->badSectors = {{0, qint64(1) << 40}}; };
    CardScan d = scanCard({}, cb);
    EXPECT_EQ(d.result.end, ScanEnd::MediumLost);
    ASSERT_EQ(d.messages.size(), 1);
    EXPECT_TRUE(d.messages[0].contains(QStringLiteral("the medium stopped answering at sector %1.")
                                           .arg(d.result.resume.offset / 512)))
        << d.messages[0].toStdString();
    EXPECT_GT(d.result.resume.offset, 0);
    EXPECT_EQ(d.result.unreadable.count(), 0);   // a card that went away is not a damaged card
}

namespace {

class DamagedWindow : public scan_images::ScanWindowTest {
protected:
    void SetUp() override
    {
        ScanWindowTest::SetUp();
        BuildSignatureTable("all", SignatureTable);
        cache = useNewCache();
    }

    // ScanDisk on the card attached as E: with bad sectors. The status line
    // is watched from the first read on.
    void scan(const Ranges &bad, const QString &image = card().image, bool readOnly = false)
    {
        plat::VirtualDriveOptions o = faults(bad);
        o.readOnly = readOnly;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', image, o));
        w->SourceName = QStringLiteral("E:");
        GetDriveInfo(w->SourceName);
        w->OperationRunning = true;
        auto adjust = w->AdjustScanCallbacks;
        w->AdjustScanCallbacks = [this, adjust](ScanCallbacks &cb) {
            if (adjust)
                adjust(cb);
            auto phase = cb.phase;
            cb.phase = [this, phase](ScanPhase p) {
                statusLines << w->lblStatus.Caption();
                phase(p);
            };
            auto progress = cb.progress;
            cb.progress = [this, progress](const ScanProgress &p) {
                progress(p);
                statusLines << w->lblStatus.Caption();
            };
        };
        w->ScanDisk();
        statusLines << w->lblStatus.Caption();
    }

    QStringList lines() const
    {
        QStringList l;
        for (int i = 0; i < w->List3.ListCount(); ++i)
            l << w->List3.List(i);
        return l;
    }

    QString cache;
    QStringList statusLines;
};

} // namespace

TEST_F(DamagedWindow, ABadStartGoesOnInCarefulMode)
{
    REQUIRE_CARD();
    // The boot sector, the FATs and the first files unreadable; then the
    // FATs and the start of the data area.
    for (const Ranges &bad : {Ranges{{0, 2400}}, Ranges{{2051, 6400}}}) {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Sectors that could not be read:");
        scan(bad);
        const ScanResult &r = w->LastScanResult;
        EXPECT_EQ(r.end, ScanEnd::Finished) << r.messageText.toStdString();
        const QStringList l = lines();
        const QStringList problems = checkFound(cache, w->FoundFiles, bad, INT64_MAX, &l);
        EXPECT_TRUE(problems.isEmpty()) << joined(problems);
        const UnitGeometry g = GeometryOfDrive(DriveInfo(), false);
        const qint64 first = g.offsetOfUnit(g.firstUnit) / 512;
        EXPECT_EQ(r.unreadable.count(), badCount(bad, first, INT64_MAX));
        // The status line shows figures from the start and never a template.
        ASSERT_FALSE(statusLines.isEmpty());
        EXPECT_TRUE(statusLines.first().startsWith("Elapsed: 0 & to go: ")) << statusLines.first().toStdString();
        for (const QString &line : statusLines)
            EXPECT_FALSE(line.contains('%')) << line.toStdString();
        EXPECT_TRUE(statusLines.last().contains(QStringLiteral("Unreadable sectors: %1").arg(r.unreadable.count())));
        plat::DriveTable::instance().detach('E');
        statusLines.clear();
    }

    // Nothing readable at all: the card is taken out and put in once, then
    // the scan says it cannot read it.
    MessageScript boxes;
    boxes.expect(plat::id::OK, "Cannot read the disk.");
    scan({{0, qint64(1) << 30}});
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Unreadable);
    EXPECT_EQ(statusLines.last(), "Cannot read the disk.");
}

TEST_F(DamagedWindow, EndsSayWhatCouldNotBeReadAndWhatWasSearched)
{
    REQUIRE_CARD();
    // Damaged files are marked in the list, and the list file keeps the mark.
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "They are marked with ! in the list and may be damaged.");
        scan({{3000, 7150}});
        const QStringList marked = lines().filter(QRegularExpression("^\\d{3}! "));
        EXPECT_EQ(marked.size(), w->LastScanResult.damagedFiles);
        ASSERT_FALSE(marked.isEmpty());
        ScanListData list;
        ASSERT_EQ(ReadScanListFile(w->ScanListFile(), int(QDir(cache).entryList(QDir::Files).size()), list),
                  ScanListStatus::Loaded);
        QStringList stored;
        for (const ScanListItem &item : list.items)
            stored << item.displayText;
        EXPECT_EQ(stored, lines());
        plat::DriveTable::instance().detach('E');
    }

    // Free clusters only: the end speaks of the free space, not of a wiped disk.
    {
        const QString image = makeFatImage(makeTempDir("smart"), "six.img", FatImageSpec{32, 40960, 512, 1});
        ASSERT_FALSE(image.isEmpty());
        QList<QPair<QString, QByteArray>> six;
        for (int i = 0; i < 6; ++i)
            six.append({QStringLiteral("KEEP%1.JPG").arg(i), namedJpeg(i)});
        ASSERT_TRUE(mcopyFiles(image, "/", six));
        MessageScript boxes;
        boxes.expect(plat::id::OK, "No lost files were found in the free space of disk E:.");
        w->SmartScanActive = true;
        scan({}, image);
        EXPECT_EQ(w->LastScanResult.end, ScanEnd::NoFiles);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_FALSE(boxes.boxes()[0].text.contains("wiped"));
        plat::DriveTable::instance().detach('E');
    }

    // No right to read the device, the advice answered No before: the scan
    // says so itself, with how the right is granted.
    {
        SaveSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("VShown"), QStringLiteral("-1"));
        w->AdjustScanCallbacks = [](ScanCallbacks &cb) {
            // Writing to a read-only drive is refused for want of rights.
            cb.openSource = [](const ScanSource &) { return plat::openVolume('E', plat::Access::ReadWrite); };
        };
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Cannot open E: for reading: the program lacks the right to read the device.");
        scan({}, card().image, true);
        EXPECT_EQ(w->LastScanResult.end, ScanEnd::RightsMissing);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_TRUE(boxes.boxes()[0].text.contains("sudo usermod -aG disk"));
        EXPECT_EQ(statusLines.last(), "No right to read E:");
    }
}
