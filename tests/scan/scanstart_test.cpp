// The Scan command's decisions on a fake table of drives: the best other
// drive, the folder the chooser proposes, the refusals of a cache root, the
// resume conditions, the types seen on the medium, the question texts and
// the bytes of Searched.dat.
#include "scan/scanstart.h"

#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

struct FakeDrive {
    int type = plat::DriveTypeFixed;
    int32_t freeMB = 0;
    QString disk;   // drives with the same text share a physical disk
};

// Drives by letter (list order = letter order), folders by path with their
// file counts.
struct FakeWorld {
    QMap<QChar, FakeDrive> drives;
    QMap<QString, int> folders;

    static QString key(QString path)
    {
        if (!path.endsWith('\\'))
            path += '\\';
        return path.toUpper();
    }
    void drive(QChar letter, int type, int32_t freeMB, const QString &disk = {})
    {
        drives[letter] = FakeDrive{type, freeMB, disk.isEmpty() ? QString(letter) : disk};
    }
    void folder(const QString &path, int files = 0) { folders[key(path)] = files; }

    DriveFacts facts() const
    {
        DriveFacts f;
        f.fixedDrives = [this] {
            QStringList out;
            for (auto it = drives.cbegin(); it != drives.cend(); ++it)
                if (it->type == plat::DriveTypeFixed)
                    out << QString(it.key()) + ":\\";
            return out;
        };
        f.freeMB = [this](const QString &d) { return d.isEmpty() ? 0 : drives.value(d[0].toUpper()).freeMB; };
        f.folderExists = [this](const QString &p) {
            if (p.size() == 3 && p.endsWith(":\\"))
                return drives.contains(p[0].toUpper());
            return folders.contains(key(p));
        };
        f.fileCount = [this](const QString &p) { return folders.value(key(p), 0); };
        f.driveType = [this](QChar l) { return drives.contains(l.toUpper()) ? drives[l.toUpper()].type : 1; };
        f.sameDisk = [this](QChar a, QChar b) {
            return a.toUpper() == b.toUpper()
                || (drives.contains(a.toUpper()) && drives.contains(b.toUpper())
                    && drives[a.toUpper()].disk == drives[b.toUpper()].disk);
        };
        return f;
    }
};

// A machine with the system drive C:, two data disks D: and F:, a card E:.
FakeWorld typicalWorld()
{
    FakeWorld w;
    w.drive('C', plat::DriveTypeFixed, 90000);
    w.drive('D', plat::DriveTypeFixed, 50000);
    w.drive('E', plat::DriveTypeRemovable, 100, "card");
    w.drive('F', plat::DriveTypeFixed, 70000);
    return w;
}

ProposalFacts cardSource(const QString &best)
{
    ProposalFacts p;
    p.source = "E:";
    p.systemDrive = 'C';
    p.bestDrive = best;
    p.fallback = "C:\\tmp\\RIVozud\\";
    return p;
}

} // namespace

TEST(ScanStartDrives, BestOtherDriveHasTheMostFreeSpaceAwayFromSystemAndCache)
{
    FakeWorld w = typicalWorld();
    const DriveFacts f = w.facts();
    // C: has the most space but is the system drive.
    EXPECT_EQ(BestOtherDrive(f, 'C', "E:\\RIVozud\\"), "F:\\");
    // The drive that holds the cache root is not "other".
    EXPECT_EQ(BestOtherDrive(f, 'C', "f:\\RIVozud\\"), "D:\\");
    // A later drive wins only with strictly more.
    w.drive('F', plat::DriveTypeFixed, 50000);
    EXPECT_EQ(BestOtherDrive(w.facts(), 'C', "E:\\RIVozud\\"), "D:\\");
    // The system drive letter counts in any case; full drives never win.
    w.drive('D', plat::DriveTypeFixed, 0);
    w.drive('F', plat::DriveTypeFixed, 0);
    EXPECT_EQ(BestOtherDrive(w.facts(), 'c', "E:\\RIVozud\\"), "");
    // A fixed source and its other partitions are never the other drive.
    FakeWorld disks = typicalWorld();
    disks.drive('G', plat::DriveTypeFixed, 99000, "usbdisk");
    disks.drive('H', plat::DriveTypeFixed, 98000, "usbdisk");
    EXPECT_EQ(BestOtherDrive(disks.facts(), 'C', "C:\\RIVozud\\"), "G:\\");
    EXPECT_EQ(BestOtherDrive(disks.facts(), 'C', "C:\\RIVozud\\", "G:"), "F:\\");
    EXPECT_EQ(BestOtherDrive(disks.facts(), 'C', "C:\\RIVozud\\", "D:\\images\\card.img"), "G:\\");
    FakeWorld single;
    single.drive('C', plat::DriveTypeFixed, 1000);
    EXPECT_EQ(BestOtherDrive(single.facts(), 'C', "C:\\RIVozud\\"), "");
}

TEST(ScanStartDrives, AnEmptyPreviousRootChangesPlacesWithAFullOlderOne)
{
    FakeWorld w = typicalWorld();
    w.folder("D:\\old\\RIVozud\\", 0);
    w.folder("F:\\older\\RIVozud\\", 12);
    CacheRoots r{"D:\\RIVozud\\", "D:\\old\\RIVozud\\", "F:\\older\\RIVozud\\"};
    EXPECT_TRUE(SwapEmptyPreviousRoot(r, w.facts()));
    EXPECT_EQ(r.previous, "F:\\older\\RIVozud\\");
    EXPECT_EQ(r.older, "D:\\old\\RIVozud\\");
    // Now the previous one holds files: nothing changes.
    EXPECT_FALSE(SwapEmptyPreviousRoot(r, w.facts()));
    EXPECT_EQ(r.previous, "F:\\older\\RIVozud\\");
}

TEST(ScanStartDrives, ProposalForACacheOnTheSource)
{
    FakeWorld w = typicalWorld();
    const QString onCard = "E:\\RIVozud\\";
    w.folder("D:\\prev\\RIVozud\\");
    w.folder("F:\\older\\RIVozud\\");

    // The cache root already lies on the best drive: kept (the source is the system drive).
    {
        ProposalFacts p = cardSource("F:\\");
        p.source = "C:";
        EXPECT_EQ(ProposeCacheFolder({"F:\\x\\RIVozud\\", "", ""}, p, w.facts()), "F:\\x\\RIVozud\\");
    }
    // The previous root exists away from the source.
    EXPECT_EQ(ProposeCacheFolder({onCard, "D:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, cardSource("F:\\"), w.facts()),
              "D:\\prev\\RIVozud\\");
    // A previous root on the source is passed over for the older one.
    EXPECT_EQ(ProposeCacheFolder({onCard, "e:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, cardSource("F:\\"), w.facts()),
              "F:\\older\\RIVozud\\");
    // Neither exists: the one on the best drive.
    EXPECT_EQ(ProposeCacheFolder({onCard, "F:\\gone\\RIVozud\\", "D:\\gone\\RIVozud\\"}, cardSource("F:\\"), w.facts()),
              "F:\\gone\\RIVozud\\");
    EXPECT_EQ(ProposeCacheFolder({onCard, "D:\\gone\\RIVozud\\", "F:\\gone2\\RIVozud\\"}, cardSource("F:\\"), w.facts()),
              "F:\\gone2\\RIVozud\\");
    // Nothing fits: the best drive itself, or without one the fallback.
    EXPECT_EQ(ProposeCacheFolder({onCard, "", ""}, cardSource("F:\\"), w.facts()), "F:\\");
    EXPECT_EQ(ProposeCacheFolder({onCard, "", ""}, cardSource(""), w.facts()), "C:\\tmp\\RIVozud\\");
}

TEST(ScanStartDrives, ProposalCountsTheSourcesWholeDiskAsTheSource)
{
    // G: is another partition of the card: a cache there is on the source.
    FakeWorld w = typicalWorld();
    w.drive('G', plat::DriveTypeFixed, 500, "card");
    w.folder("G:\\RIVozud\\");
    w.folder("D:\\prev\\RIVozud\\");
    EXPECT_EQ(ProposeCacheFolder({"G:\\RIVozud\\", "D:\\prev\\RIVozud\\", ""}, cardSource("F:\\"), w.facts()),
              "D:\\prev\\RIVozud\\");
    // ... and never offered as a previous root either.
    EXPECT_EQ(ProposeCacheFolder({"E:\\RIVozud\\", "G:\\RIVozud\\", ""}, cardSource("F:\\"), w.facts()), "F:\\");
}

TEST(ScanStartDrives, ProposalForACacheAwayFromTheSource)
{
    FakeWorld w = typicalWorld();
    w.folder("D:\\RIVozud\\", 40);
    w.folder("F:\\prev\\RIVozud\\", 0);
    w.folder("F:\\older\\RIVozud\\", 3);
    ProposalFacts p = cardSource("F:\\");

    // The medium of the last scan: the cache root.
    p.sameMedium = true;
    EXPECT_EQ(ProposeCacheFolder({"D:\\RIVozud\\", "F:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, p, w.facts()),
              "D:\\RIVozud\\");
    // Another medium: an empty previous root keeps the cached files of the last one.
    p.sameMedium = false;
    EXPECT_EQ(ProposeCacheFolder({"D:\\RIVozud\\", "F:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, p, w.facts()),
              "F:\\prev\\RIVozud\\");
    // Every root holds files: the cache root is used again.
    w.folder("F:\\prev\\RIVozud\\", 5);
    EXPECT_EQ(ProposeCacheFolder({"D:\\RIVozud\\", "F:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, p, w.facts()),
              "D:\\RIVozud\\");
    // Only the older root is empty.
    w.folder("F:\\older\\RIVozud\\", 0);
    EXPECT_EQ(ProposeCacheFolder({"D:\\RIVozud\\", "F:\\prev\\RIVozud\\", "F:\\older\\RIVozud\\"}, p, w.facts()),
              "F:\\older\\RIVozud\\");
    // An empty setting is no root to propose.
    EXPECT_EQ(ProposeCacheFolder({"D:\\RIVozud\\", "", ""}, p, w.facts()), "D:\\RIVozud\\");
}

TEST(ScanStartDrives, ProposalLeavesTheSystemDriveAndRefusedDrives)
{
    FakeWorld w = typicalWorld();
    w.folder("C:\\RIVozud\\", 9);
    ProposalFacts p = cardSource("F:\\");
    p.sameMedium = true;
    // On the system drive: the previous root elsewhere, on a drive whose root exists.
    EXPECT_EQ(ProposeCacheFolder({"C:\\RIVozud\\", "D:\\p\\RIVozud\\", "F:\\o\\RIVozud\\"}, p, w.facts()),
              "D:\\p\\RIVozud\\");
    EXPECT_EQ(ProposeCacheFolder({"C:\\RIVozud\\", "Q:\\p\\RIVozud\\", "F:\\o\\RIVozud\\"}, p, w.facts()),
              "F:\\o\\RIVozud\\");
    EXPECT_EQ(ProposeCacheFolder({"C:\\RIVozud\\", "c:\\p\\RIVozud\\", "Q:\\o\\RIVozud\\"}, p, w.facts()),
              "C:\\RIVozud\\");
    // A root on a USB stick (removable) would be refused: the best drive instead.
    w.drive('H', plat::DriveTypeRemovable, 4000);
    EXPECT_EQ(ProposeCacheFolder({"H:\\RIVozud\\", "", ""}, p, w.facts()), "F:\\");
    // With no best drive, the fallback.
    EXPECT_EQ(ProposeCacheFolder({"H:\\RIVozud\\", "", ""}, cardSource(""), w.facts()), "C:\\tmp\\RIVozud\\");
}

TEST(ScanStartRefusal, TheSourceDiskIsRefusedWhateverItsType)
{
    FakeWorld w = typicalWorld();
    w.drive('G', plat::DriveTypeFixed, 500, "card");      // a second partition of the card
    w.drive('S', plat::DriveTypeFixed, 9000, "usbdisk");  // a fixed USB disk, the source
    w.drive('T', plat::DriveTypeFixed, 9000, "usbdisk");
    const DriveFacts f = w.facts();
    EXPECT_EQ(RefuseCacheRoot("E:\\RIVozud\\", "E:", false, true, f), CacheRefusal::SourceDisk);
    EXPECT_EQ(RefuseCacheRoot("e:\\RIVozud\\", "E:", false, true, f), CacheRefusal::SourceDisk);
    EXPECT_EQ(RefuseCacheRoot("G:\\RIVozud\\", "E:", false, true, f), CacheRefusal::SourceDisk);
    // A fixed source is refused just the same, on its letter and on its disk.
    EXPECT_EQ(RefuseCacheRoot("S:\\RIVozud\\", "S:", false, true, f), CacheRefusal::SourceDisk);
    EXPECT_EQ(RefuseCacheRoot("T:\\RIVozud\\", "S:", false, true, f), CacheRefusal::SourceDisk);
    // Also in the staged recovery, where the drive type is not asked.
    EXPECT_EQ(RefuseCacheRoot("T:\\RIVozud\\", "S:", false, false, f), CacheRefusal::SourceDisk);
    EXPECT_EQ(RefuseCacheRoot("D:\\RIVozud\\", "S:", false, true, f), CacheRefusal::None);
    // A disk image is a file: a cache beside it is fine.
    EXPECT_EQ(RefuseCacheRoot("D:\\RIVozud\\", "D:\\DiskImages\\card.img", true, true, f), CacheRefusal::None);
}

TEST(ScanStartRefusal, OnlyFixedRemoteOrUnknownDrivesTakeACache)
{
    FakeWorld w = typicalWorld();
    w.drive('H', plat::DriveTypeRemovable, 4000);
    w.drive('N', plat::DriveTypeRemote, 4000);
    w.drive('U', plat::DriveTypeUnknown, 4000);
    w.drive('R', plat::DriveTypeCdRom, 4000);
    w.drive('M', plat::DriveTypeRamDisk, 4000);
    const DriveFacts f = w.facts();
    EXPECT_EQ(RefuseCacheRoot("D:\\RIVozud\\", "E:", false, true, f), CacheRefusal::None);
    EXPECT_EQ(RefuseCacheRoot("N:\\RIVozud\\", "E:", false, true, f), CacheRefusal::None);
    EXPECT_EQ(RefuseCacheRoot("U:\\RIVozud\\", "E:", false, true, f), CacheRefusal::None);
    EXPECT_EQ(RefuseCacheRoot("H:\\RIVozud\\", "E:", false, true, f), CacheRefusal::DriveType);
    EXPECT_EQ(RefuseCacheRoot("R:\\RIVozud\\", "E:", false, true, f), CacheRefusal::DriveType);
    EXPECT_EQ(RefuseCacheRoot("M:\\RIVozud\\", "E:", false, true, f), CacheRefusal::DriveType);
    EXPECT_EQ(RefuseCacheRoot("Q:\\RIVozud\\", "E:", false, true, f), CacheRefusal::DriveType);   // no such drive
    EXPECT_EQ(RefuseCacheRoot("H:\\RIVozud\\", "E:", false, false, f), CacheRefusal::None);
    EXPECT_EQ(DriveTypeRefusalText("H:\\RIVozud\\"), "Cannot use disk H: for saving.\r\nPlease select another drive.");
    EXPECT_EQ(SourceDiskRefusalText(), "Cannot use the same disk for saving.\r\nPlease select another drive.");
}

TEST(ScanStartResume, ThePositionHoldsForTheSameSourceListAndMedium)
{
    EXPECT_EQ(HeldResumePosition("E:", "E:", "123", "123", 4711), 4711);
    EXPECT_EQ(HeldResumePosition("F:", "E:", "123", "123", 4711), 0);    // another source
    EXPECT_EQ(HeldResumePosition("E:", "E:", "124", "123", 4711), 0);    // another cache list
    EXPECT_EQ(HeldResumePosition("E:", "E:", "123", "123", 0), 0);
    EXPECT_EQ(HeldResumePosition("", "", "123", "123", 5), 0);
    EXPECT_TRUE(ResumeStillApplies("123", "123", 0x1234ABCD, 0x1234ABCD));
    EXPECT_FALSE(ResumeStillApplies("123", "123", 0x1234ABCD, 0x1234ABCE));   // another medium, same letter
    EXPECT_FALSE(ResumeStillApplies("123", "999", 0x1234ABCD, 0x1234ABCD));
}

TEST(ScanStartSmartScan, ListedEntriesComeFromTheEntryListOrTheRootFolder)
{
    auto entry = [](const char *name, uint8_t attributes) {
        FatDirEntry e{};
        std::memcpy(e.Name, name, 8);
        std::memcpy(e.Ext, "JPG", 3);
        e.Attributes = attributes;
        return e;
    };
    std::vector<FatDirEntry> root{entry("CARD    ", 0x08), entry("\xE5MG_0001", 0x20), entry("A\0\0\0\0\0\0\0", 0x0F)};
    root.push_back(FatDirEntry{});   // the end marker
    EXPECT_FALSE(ListsDirectoryEntries(0, root));
    EXPECT_TRUE(ListsDirectoryEntries(1, root));
    root.insert(root.begin() + 1, entry("IMG_0002", 0x20));
    EXPECT_TRUE(ListsDirectoryEntries(0, root));
    EXPECT_FALSE(ListsDirectoryEntries(0, {}));
}

TEST(ScanStartMediaScan, ExtensionsOfEntriesAndFiles)
{
    EXPECT_EQ(NameExtension("E:\\DCIM\\IMG_0001.JPG"), ".JPG");
    EXPECT_EQ(NameExtension("E:\\a.folder\\README"), "");   // the folder's dot is no extension
    EXPECT_EQ(NameExtension("E:\\x\\archive.tar.gz"), ".gz");
    EXPECT_EQ(NameExtension("E:\\x\\name." + QString(17, 'a')), "");
    QString list;
    AddEntryExtension(list, "?MG_0001.JPG");
    AddEntryExtension(list, "IMG_0002.jpg");   // already there, any case
    AddEntryExtension(list, "DCIM");
    AddEntryExtension(list, "NOTE.");
    EXPECT_EQ(list, ".JPG");
    AddFoundFileExtension(list, "E:\\DCIM\\a.png");
    AddFoundFileExtension(list, "E:\\DCIM\\b.PNG");   // exact case: added
    AddFoundFileExtension(list, "E:\\DCIM\\c.png");
    EXPECT_EQ(list, ".JPG.png.PNG");
}

TEST(ScanStartMediaScan, TickedAndCandidateListsFollowTheRows)
{
    auto row = [](const char *text, bool checked) {
        TypeListRow r;
        r.Text = text;
        r.Checked = checked;
        return r;
    };
    // A learned JPG variant that is not ticked comes before the ticked
    // built-in row; TIF occurs in ".tiff"; ZIP is not on the medium.
    TypeListRows rows{row("JPG", false), row("CR2", false), row("JPG", true), row("PNG", true),
                      row("TIF", false), row("ZIP", false),  row("CR2", false), row("", false)};
    const MediaScanLists lists = MediaScanTypes(rows, ".jpg.cr2.tiff.PNG");
    EXPECT_EQ(lists.ticked, "JPG PNG ");
    EXPECT_EQ(lists.candidates, "CR2 TIF ");
    EXPECT_TRUE(InWordList(lists.candidates, "tif"));
    EXPECT_FALSE(InWordList(lists.candidates, "TI"));
    EXPECT_EQ(TickCandidateRows(rows, lists.candidates), 3);   // both CR2 rows and TIF
    EXPECT_TRUE(rows[1].Checked && rows[4].Checked && rows[6].Checked);
    EXPECT_FALSE(rows[0].Checked || rows[5].Checked);
    // Nothing unticked on the medium: no candidates.
    EXPECT_EQ(MediaScanTypes(rows, ".jpg").candidates, "");
    // The MOV row finds MP4, M4V, 3GP and 3G2 movies too; ".mp" names none.
    for (const char *movie : {".mp4", ".M4V", ".3gp", ".3G2"})
        EXPECT_EQ(MediaScanTypes({row("JPG", true), row("MOV", false)}, QString(".jpg") + movie).candidates, "MOV ");
    EXPECT_EQ(MediaScanTypes({row("MOV", false)}, ".mp.3g").candidates, "");

    EXPECT_EQ(MediaScanQuestion(lists, "e:"),
              "File types selected for recovering: JPG PNG \r\n\r\nPossibly also present on E: CR2 TIF \r\n\r\n"
              "Do you want to retrieve as well the types CR2 TIF ?");
    EXPECT_EQ(MediaScanTitle("Quilvane"), "Quilvane  MediaScan");
}

TEST(ScanStartTexts, SmartScanAndScanBoxes)
{
    EXPECT_EQ(SmartScanQuestion(),
              "SmartScan recommanded:\r\n\r\nScan for missing files only, skipping listed existing files?");
    EXPECT_EQ(SmartScanTitle("Quilvane", "E:"), "Quilvane SmartScan E:");
    EXPECT_EQ(SmartScanNoticeTitle("Quilvane"), "Quilvane  SmartScan");
    EXPECT_EQ(CacheOnSourceText("e:"), "Drive E: is also the cache drive!\r\nCannot use the same disk for saving.");
    EXPECT_EQ(ScanBoxTitle("Quilvane"), "Quilvane  Scan");
}

TEST(ScanStartSearched, TheFileHoldsTheSourceAndTheSerialLittleEndian)
{
    const QByteArray six = SearchedFileBytes("E:", 0x1234ABCD);
    EXPECT_EQ(six, QByteArray("E:\xCD\xAB\x34\x12", 6));
    // A disk image's path, one byte a character (Windows-1252).
    EXPECT_EQ(SearchedFileBytes(QString::fromUtf8("C:\\B\xC3\xA4nder\\card.img"), 1),
              QByteArray("C:\\B\xE4nder\\card.img\x01\0\0\0", 22));

    const QString dir = plat::toInternal(makeTempDir("searched")) + "\\";
    const QString file = dir + "ZTRecdt\\Searched.dat";   // the folder is made when missing
    ASSERT_TRUE(WriteSearchedFile(file, "C:\\images\\a-long-image-name.img", 7));
    ASSERT_TRUE(WriteSearchedFile(file, "E:", 0x1234ABCD));
    // Written anew: nothing of the longer text stays behind.
    EXPECT_EQ(readFileBytes(plat::toNative(file)), six);

    QString source;
    uint32_t serial = 0;
    ASSERT_TRUE(ReadSearchedFile(file, -1, source, serial));
    EXPECT_EQ(source, "E:");
    EXPECT_EQ(serial, 0x1234ABCDu);
    // A reader that holds a source text reads that many bytes, then the serial,
    // and ignores anything after them.
    ASSERT_TRUE(writeFileBytes(plat::toNative(file), six + "trailing"));
    ASSERT_TRUE(ReadSearchedFile(file, 2, source, serial));
    EXPECT_EQ(source, "E:");
    EXPECT_EQ(serial, 0x1234ABCDu);
    // Too short for what the reader holds, or for any serial.
    EXPECT_FALSE(ReadSearchedFile(file, 20, source, serial));
    ASSERT_TRUE(writeFileBytes(plat::toNative(file), "E:"));
    EXPECT_FALSE(ReadSearchedFile(file, -1, source, serial));
    EXPECT_FALSE(ReadSearchedFile(dir + "missing.dat", -1, source, serial));
}

TEST(ScanStartSearched, AFileThatCannotBeWrittenIsReported)
{
    const QString native = makeTempDir("searched");
    const QString dir = plat::toInternal(native) + "\\";
    ASSERT_TRUE(QDir(native).mkpath("Searched.dat"));   // a folder in its place
    EXPECT_FALSE(WriteSearchedFile(dir + "Searched.dat", "E:", 1));
    EXPECT_FALSE(WriteSearchedFile("Q:\\nowhere\\Searched.dat", "E:", 1));   // no such drive
    // A file that is there stays as it was when the new one fails.
    ASSERT_TRUE(writeFileBytes(native + "/old.dat", "old"));
    ASSERT_TRUE(QFile::setPermissions(native, QFile::ReadOwner | QFile::ExeOwner));
    if (::access(QFile::encodeName(native).constData(), W_OK) != 0) {   // not as root
        EXPECT_FALSE(WriteSearchedFile(dir + "old.dat", "E:", 1));
        EXPECT_EQ(readFileBytes(native + "/old.dat"), "old");
    }
    QFile::setPermissions(native, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
