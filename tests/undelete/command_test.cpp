// The Quick Undelete command on the headless main window: the two lists and
// their lines, the occupied group, the entry information, and DirEnt.dat.
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "undelete/direntcache.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

QStringList lines(const plat::ListBox &list)
{
    QStringList out;
    for (int i = 0; i < list.ListCount(); ++i)
        out << list.List(i);
    return out;
}

int indexOfPath(const frmRecover &w, const QString &path)
{
    for (size_t i = 0; i < w.DeletedEntries.size(); ++i)
        if (w.DeletedEntries[i].Path == path)
            return int(i);
    return -1;
}

// A FAT16 card: files with long names of 12 and 13 characters, a .TMP
// file, a file whose clusters a later file took, and one whose single
// cluster a later file took; all deleted. README.TXT and SUB stay.
QString makeListingCard(const QString &dir)
{
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;
    const QString image = makeFatImage(dir, "card.img", spec);
    if (image.isEmpty())
        return {};
    const bool ok = mmd(image, "/SUB") && mcopyData(image, "/README.TXT", "a card\r\n")
        && mcopyData(image, "/OLD.JPG", photoBytes(8000, 1)) && mcopyData(image, "/ONE.JPG", photoBytes(1000, 2))
        && mcopyData(image, "/ab cdefg.jpg", photoBytes(3000, 3)) && mcopyData(image, "/ab cdefgh.jpg", photoBytes(3000, 4, false))
        && mcopyData(image, "/X.TMP", patternBytes(3000, 5))
        && mcopyData(image, "/Twenty-five characters.jp", patternBytes(10, 6))
        && mcopyData(image, "/Twenty-six characters.jpeg", patternBytes(10, 7)) && mdel(image, "/OLD.JPG")
        && mdel(image, "/ONE.JPG") && mdel(image, "/ab cdefg.jpg") && mdel(image, "/ab cdefgh.jpg")
        && mdel(image, "/X.TMP") && mcopyData(image, "/SUB/NEW.JPG", photoBytes(9000, 8));
    return ok ? image : QString();
}

} // namespace

TEST(QuickUndeleteCommand, FillsBothListsWithTheirGroups)
{
    const QString image = makeListingCard(makeTempDir("list"));
    ASSERT_FALSE(image.isEmpty());
    MessageScript boxes;   // no box is expected
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();

    const int twelve = indexOfPath(w, "ab cdefg.jpg"), thirteen = indexOfPath(w, "ab cdefgh.jpg");
    const int old = indexOfPath(w, "?LD.JPG"), one = indexOfPath(w, "?NE.JPG"), readme = indexOfPath(w, "README.TXT");
    const int newer = indexOfPath(w, "SUB\\NEW.JPG");
    ASSERT_GT(twelve, 0);
    ASSERT_GT(thirteen, 0);
    ASSERT_GT(old, 0);
    ASSERT_GT(one, 0);
    const QStringList l2 = lines(w.List2);
    ASSERT_GE(l2.size(), 4);
    EXPECT_EQ(l2[0], " Deleted on E:");
    EXPECT_EQ(l2[1], "");
    EXPECT_TRUE(l2.contains(EntryLine(twelve, false, "ab cdefg.jpg")));
    // 13 characters and more: the long name whole, never its 8.3 name.
    ASSERT_TRUE(w.DeletedEntries[size_t(thirteen)].Name.startsWith("?BCDEF~"));
    EXPECT_TRUE(l2.contains(EntryLine(thirteen, false, "ab cdefgh.jpg"))) << l2.join('|').toStdString();
    for (const QString &l : l2)
        EXPECT_FALSE(l.contains("tmp", Qt::CaseInsensitive)) << l.toStdString();
    // The taken ones come after the heading, never before it.
    const qsizetype heading = l2.indexOf(" @=Recovery impossible:");
    ASSERT_GT(heading, 2);
    EXPECT_EQ(l2.indexOf(EntryLine(old, true, "?ld.jpg")), -1) << "OLD.JPG's clusters are in use and it is larger";
    EXPECT_GT(l2.indexOf(EntryLine(one, true, "?ne.jpg")), heading);
    for (int i = 2; i < heading; ++i)
        EXPECT_FALSE(l2[i].contains("?ne.jpg")) << l2[i].toStdString();
    // Entry lines carry their index as item data.
    const qsizetype at = l2.indexOf(EntryLine(twelve, false, "ab cdefg.jpg"));
    EXPECT_EQ(w.EntryIndexOfLine(w.List2, int(at)), twelve);
    EXPECT_EQ(w.EntryIndexOfLine(w.List2, 0), -1);

    const QStringList l1 = lines(w.List1);
    EXPECT_EQ(l1[0], " Listed on E:");
    EXPECT_TRUE(l1.contains(EntryLine(readme, false, "readme.txt")));
    EXPECT_TRUE(l1.contains(EntryLine(newer, false, "new.jpg")));
    const int six = indexOfPath(w, "Twenty-six characters.jpeg");
    EXPECT_TRUE(l1.contains(EntryLine(six, false, "Twenty-six characters.jpeg"))) << l1.join('|').toStdString();
    EXPECT_TRUE(w.CmdSaveAll.Enabled());
    EXPECT_TRUE(w.List2.Visible());
    EXPECT_FALSE(w.OperationBusy || w.OperationRunning || w.UndeleteListing);
    EXPECT_EQ(w.CmdQuickUndelete.Caption(), "Quick Undelete");
    EXPECT_FALSE(QFile::exists(plat::toNative(w.DirEntFilePath("E:")))) << "short lists are not cached";
}

TEST(QuickUndeleteCommand, EntryInformationTellsTheVerdict)
{
    const QString image = makeListingCard(makeTempDir("info"));
    ASSERT_FALSE(image.isEmpty());
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();

    w.ShowEntryInformation(indexOfPath(w, "ab cdefg.jpg"));
    QString text = w.lblSpecs.Caption();
    EXPECT_TRUE(text.contains("File: ab cdefg.jpg"));
    EXPECT_TRUE(text.contains("Attributes: Archive"));
    EXPECT_TRUE(text.contains("Recoverable: 3,000 bytes"));
    EXPECT_TRUE(text.contains("Recovery: probable\r\n"));
    EXPECT_FALSE(text.contains("occupied"));
    EXPECT_TRUE(text.endsWith(QChar(1)));

    // One cluster, now taken by another file: never "probable".
    const int one = indexOfPath(w, "?NE.JPG");
    w.ShowEntryInformation(one);
    text = w.lblSpecs.Caption();
    const QString cluster = QString::number(w.DeletedEntries[size_t(one)].FirstCluster);
    EXPECT_TRUE(text.contains("First cluster: " + cluster + "=occupied")) << text.toStdString();
    EXPECT_TRUE(text.contains("Cross referenced"));
    EXPECT_TRUE(text.contains("Recovery: Might be possible"));
    EXPECT_FALSE(text.contains("probable"));

    // Larger than its taken cluster: impossible.
    w.ShowEntryInformation(indexOfPath(w, "?LD.JPG"));
    text = w.lblSpecs.Caption();
    EXPECT_TRUE(text.contains("Recovery: impossible"));
    EXPECT_TRUE(text.contains("=occupied"));

    // Names of 25 characters show whole; of 26, the 8.3 name.
    w.ShowEntryInformation(indexOfPath(w, "Twenty-five characters.jp"));
    EXPECT_TRUE(w.lblSpecs.Caption().contains("File: Twenty-five characters.jp"));
    const int six = indexOfPath(w, "Twenty-six characters.jpeg");
    w.ShowEntryInformation(six);
    EXPECT_TRUE(w.lblSpecs.Caption().contains("File: " + w.DeletedEntries[size_t(six)].Name + "\r\n"));
    EXPECT_TRUE(w.DeletedEntries[size_t(six)].Name.startsWith("TWENTY~"));
    EXPECT_FALSE(w.lblSpecs.Caption().contains("Recoverable:")) << "an existing file has no verdict";
}

TEST(QuickUndeleteCommand, TheVerdictStaysInTheLabelBelowADeepPath)
{
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    const QString image = makeFatImage(makeTempDir("deep"), "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    const QString folder = "/Pictures 2009/Summer holiday/On the beach/Day one/Evening";
    const QString name = QString("Sunset over the bay with the whole family and dog.jpg").leftJustified(56, 'x') + ".jpg";
    ASSERT_EQ(name.size(), 60);
    QString made;
    for (const QString &part : folder.mid(1).split('/')) {
        made += '/' + part;
        ASSERT_TRUE(mmd(image, made));
    }
    ASSERT_TRUE(mcopyData(image, folder + '/' + name, photoBytes(20000, 1)) && mdel(image, folder + '/' + name));
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    const QString path = QString(folder.mid(1) + '/' + name).replace('/', '\\');
    const int index = indexOfPath(w, path);
    ASSERT_GT(index, 0);

    w.ShowEntryInformation(index);
    // Nothing is cut: the path gives way to the lines after it, its outer
    // folders shown as "...".
    const QStringList shown = w.lblSpecs.Caption().split("\r\n");
    ASSERT_EQ(shown.size(), 12) << w.lblSpecs.Caption().toStdString();
    EXPECT_EQ(shown.last(), QString(QChar(1)));
    EXPECT_TRUE(shown[2].startsWith("File: "));
    EXPECT_EQ(shown[3], "...\\On the beach\\Day one\\Evening\\");
    EXPECT_EQ(shown[4], "Attributes: Archive");
    EXPECT_EQ(shown[9], "Recovery: probable");
    EXPECT_TRUE(shown[10].startsWith("First cluster: "));

    // A shallow path shows whole, in its place.
    ASSERT_TRUE(mcopyData(image, "/Pictures 2009/IMG_0001.JPG", photoBytes(3000, 2))
                && mdel(image, "/Pictures 2009/IMG_0001.JPG"));
    w.CmdQuickUndelete_Click();
    w.ShowEntryInformation(indexOfPath(w, "Pictures 2009\\?MG_0001.JPG"));
    EXPECT_TRUE(w.lblSpecs.Caption().contains("File: ?MG_0001.JPG\r\nPictures 2009\\?MG_0001.JPG\r\nAttributes:"))
        << w.lblSpecs.Caption().toStdString();
}

TEST(QuickUndeleteCommand, DeletedFolderKeepsItsClusterUntilAFileTakesIt)
{
    const QString dir = makeTempDir("dirinfo");
    FatImageSpec spec;
    spec.fatBits = 12;
    spec.sizeKiB = 1440;
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(mmd(image, "/KEEP") && mmd(image, "/EMPTY") && mdeltree(image, "/EMPTY"));
    {
        WindowOnImage on(image);
        on.w.SearchDeletedEntries("E:");
        const int folder = indexOfPath(on.w, "?MPTY");
        ASSERT_GT(folder, 0);
        on.w.ShowEntryInformation(folder);
        EXPECT_GT(on.w.DeletedEntries[size_t(folder)].Recoverable, 0);
        EXPECT_TRUE(on.w.lblSpecs.Caption().contains("Dir: ?MPTY"));
    }
    ASSERT_TRUE(mcopyData(image, "/KEEP/TAKER.BIN", patternBytes(400, 9)));   // onto the folder's cluster
    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    const int folder = indexOfPath(on.w, "?MPTY");
    ASSERT_GT(folder, 0);
    on.w.ShowEntryInformation(folder);
    EXPECT_EQ(on.w.DeletedEntries[size_t(folder)].Recoverable, 0);
}

TEST(DirEntCache, LongListingIsCachedReusedAndRefusedForAnotherMedium)
{
    const QString dir = makeTempDir("dirent");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;
    spec.serial = "1234ABCD";
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 2100; ++i)
        files.append({QStringLiteral("E%1.TXT").arg(i, 5, 10, QChar('0')), QByteArray()});
    ASSERT_TRUE(mmd(image, "/MANY") && mcopyFiles(image, "/MANY", files));
    const QString cjk = QStringLiteral("夏休みの写真と動画のバックアップ.jpg");
    ASSERT_TRUE(mcopyUtf8(image, "/" + cjk, photoBytes(3000, 1)) && mdelUtf8(image, "/" + cjk));

    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    ASSERT_GE(w.DeletedEntriesUpperBound(), 2001);
    const QString cache = plat::toNative(w.DirEntFilePath("E:"));
    ASSERT_TRUE(QFile::exists(cache));
    EXPECT_EQ(QFileInfo(cache).fileName(), "EDirEnt.dat");
    const QByteArray bytes = readFileBytes(cache);
    int32_t upper;
    uint32_t fingerprint, serial;
    std::memcpy(&upper, bytes.constData(), 4);
    std::memcpy(&fingerprint, bytes.constData() + 4, 4);
    std::memcpy(&serial, bytes.constData() + 8, 4);
    EXPECT_EQ(upper, w.DeletedEntriesUpperBound());
    EXPECT_EQ(fingerprint, DriveInfo().Fingerprint);
    EXPECT_EQ(serial, 0x1234ABCDu);
    std::vector<DeletedEntryRecord> back;
    ASSERT_TRUE(ReadEntryRecords(bytes.mid(12), upper, back));
    EXPECT_EQ(back, w.DeletedEntries);

    // The same medium with a folder's bytes changed: the cached names come.
    const qint64 first = findShortEntry(image, indexOfPath(w, "MANY") > 0
                                                   ? w.DeletedEntries[size_t(indexOfPath(w, "MANY"))].FirstCluster
                                                   : 0,
                                        "E00000  TXT", false);
    ASSERT_GT(first, 0);
    ASSERT_TRUE(patchFile(image, first, "Z"));
    w.SearchDeletedEntries("E:");
    EXPECT_TRUE(w.LastSearchReusedCache);
    EXPECT_EQ(countPath(w.DeletedEntries, "MANY\\E00000.TXT"), 1);
    // The command lists the cached entries by their long names; a single
    // deleted entry is a result that can be saved.
    w.CmdQuickUndelete_Click();
    EXPECT_TRUE(w.LastSearchReusedCache);
    EXPECT_EQ(lines(w.List2).indexOf(EntryLine(indexOfPath(w, cjk), false, cjk)), 2)
        << lines(w.List2).join('|').toStdString();
    EXPECT_TRUE(w.CmdSaveAll.Enabled() && w.CmdSaveAs.Enabled());
    EXPECT_TRUE(w.List1.Visible());

    // A cache cut short is refused, deleted, and the medium walked.
    QFile::resize(cache, bytes.size() - 10);
    w.SearchDeletedEntries("E:");
    EXPECT_FALSE(w.LastSearchReusedCache);
    EXPECT_FALSE(QFile::exists(cache));
    EXPECT_EQ(countPath(w.DeletedEntries, "MANY\\Z00000.TXT"), 1);

    // Another volume serial: refused and deleted.
    ASSERT_TRUE(WriteDirEntFile(cache, DriveInfo().Fingerprint, DriveInfo().VolumeSerial, w.DeletedEntries));
    ASSERT_TRUE(patchFile(image, 0x27, QByteArray::fromHex("EFBEADDE")));
    plat::DriveTable::instance().refresh();
    GetDriveInfo("E:");
    ASSERT_EQ(DriveInfo().VolumeSerial, 0xDEADBEEFu);
    w.SearchDeletedEntries("E:");
    EXPECT_FALSE(w.LastSearchReusedCache);
    EXPECT_FALSE(QFile::exists(cache));

    // Names per source: an image path never shares a drive's file.
    EXPECT_NE(DirEntFileName("C:\\images\\card.img"), DirEntFileName("C:\\images\\other.img"));
    EXPECT_TRUE(DirEntFileName("C:\\images\\card.img").endsWith("DirEnt.dat"));
    EXPECT_EQ(DirEntFileName("e:\\"), "eDirEnt.dat");
    EXPECT_EQ(DeleteDirEntFiles(plat::toNative(w.WorkFolder)), 0);
    ASSERT_TRUE(WriteDirEntFile(cache, 1, 2, w.DeletedEntries));
    const QString work = plat::toNative(w.WorkFolder);
    const QString imageCache = work + "/" + DirEntFileName("C:\\images\\card.img");
    ASSERT_TRUE(writeFileBytes(imageCache, "x") && writeFileBytes(work + "/xyDirEnt.dat", "x"));
    EXPECT_EQ(DeleteDirEntFiles(work), 2);
    EXPECT_FALSE(QFile::exists(imageCache));
    EXPECT_TRUE(QFile::exists(work + "/xyDirEnt.dat")) << "only the program's own names go";
}
