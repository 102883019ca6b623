// Quick Undelete with the card in the reader replaced while the window stays
// open: the second listing reads the new card (never the old listing or its
// DirEnt.dat), an entry of the old card is never saved, and DirEnt.dat keeps
// the entries of the medium whose identity it records.
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "platform/paths.h"
#include "undelete/direntcache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

// A FAT32 card with a folder of 2,100 files (a listing long enough to be
// cached) and two deleted pictures. Both cards of a test carry one serial:
// only their contents tell them apart.
struct Card {
    QString image;
    QList<QPair<QString, QByteArray>> deleted;
};

Card makeCard(const QString &dir, const QString &prefix, const QStringList &names, quint32 seed)
{
    Card c;
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40000;
    spec.sectorsPerCluster = 1;
    spec.serial = QStringLiteral("5A5A0001");
    const QString image = makeFatImage(dir, "card.img", spec);
    if (image.isEmpty())
        return c;
    QList<QPair<QString, QByteArray>> many;
    for (int i = 0; i < 2100; ++i)
        many.append({prefix + QStringLiteral("%1.TXT").arg(i, 5, 10, QChar('0')), QByteArray()});
    if (!mmd(image, "/MANY") || !mcopyFiles(image, "/MANY", many))
        return c;
    for (const QString &name : names) {
        const QByteArray data = photoBytes(6000 + 3000 * c.deleted.size(), seed++);
        if (!mcopyData(image, "/" + name, data))
            return c;
        c.deleted.append({name, data});
    }
    for (const auto &d : c.deleted)
        if (!mdel(image, "/" + d.first))
            return c;
    c.image = image;
    return c;
}

QStringList lines(const plat::ListBox &list)
{
    QStringList out;
    for (int i = 0; i < list.ListCount(); ++i)
        out << list.List(i);
    return out;
}

int lineEndingWith(const plat::ListBox &list, const QString &ending)
{
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i).endsWith(ending))
            return i;
    return -1;
}

// The deleted names are listed with "?" for their lost first letter (and
// saved with "%" there).

// The header of DirEnt.dat: fingerprint and serial.
QPair<uint32_t, uint32_t> direntKeys(const QString &path)
{
    const QByteArray bytes = readFileBytes(path);
    uint32_t fingerprint = 0, serial = 0;
    if (bytes.size() >= 12) {
        std::memcpy(&fingerprint, bytes.constData() + 4, 4);
        std::memcpy(&serial, bytes.constData() + 8, 4);
    }
    return {fingerprint, serial};
}

} // namespace

TEST(CardChange, QuickUndeleteListsAndSavesOnlyTheCardInTheReader)
{
    const Card a = makeCard(makeTempDir("carda"), "A", {"alpha.jpg", "bravo.jpg"}, 1);
    const Card b = makeCard(makeTempDir("cardb"), "B", {"charlie.jpg", "delta.jpg"}, 7);
    ASSERT_FALSE(a.image.isEmpty());
    ASSERT_FALSE(b.image.isEmpty());
    QTemporaryDir target(QFileInfo::exists("/dev/shm") ? "/dev/shm/cardchange-XXXXXX" : QString());
    ASSERT_TRUE(target.isValid());

    WindowOnImage on(a.image);
    frmRecover &w = on.w;
    const QString cache = plat::toNative(w.DirEntFilePath("E:"));
    {
        MessageScript none;
        w.CmdQuickUndelete_Click();
    }
    ASSERT_GT(lineEndingWith(w.List2, "?lpha.jpg"), 1) << lines(w.List2).mid(0, 8).join("|").toStdString();
    ASSERT_GE(w.DeletedEntriesUpperBound(), 2001);
    const uint32_t fingerprintA = DriveInfo().Fingerprint;
    EXPECT_EQ(direntKeys(cache), qMakePair(fingerprintA, 0x5A5A0001u));

    // Card B goes into the reader (same serial, other contents).
    const QByteArray cardA = readFileBytes(a.image);
    ASSERT_TRUE(writeFileBytes(a.image, readFileBytes(b.image)));

    // An entry of card A is not saved from card B's clusters.
    w.List2.setSelected(lineEndingWith(w.List2, "?lpha.jpg"), true);
    ChooserStartPath = plat::toInternal(target.path() + "/");
    const auto saveSelected = [&w] {
        // As Save All saves after its folder choice: no names asked.
        w.AskSaveName = false;
        w.BatchSave = true;
        DialogScript noDialog;
        w.SaveUndeleteEntries(w.List2, 0, false, true);
    };
    {
        MessageScript script;
        script.expect(plat::id::OK, "The medium in drive E: is not the one listed: nothing was saved.");
        saveSelected();
    }
    EXPECT_TRUE(QDir(target.path()).entryList(QDir::Files).isEmpty());

    // Listed again, with no tick changed: card B's entries, none of card A's.
    {
        MessageScript none;
        w.CmdQuickUndelete_Click();
    }
    const QString shown = lines(w.List2).join('\n') + lines(w.List1).join('\n');
    EXPECT_FALSE(shown.contains("lpha") || shown.contains("ravo") || shown.contains("A00000"))
        << shown.left(400).toStdString();
    ASSERT_GT(lineEndingWith(w.List2, "?harlie.jpg"), 1);
    ASSERT_GT(lineEndingWith(w.List2, "?elta.jpg"), 1);
    // Formatted alike with files of the same sizes, the two cards share their
    // serial and the fingerprint of FAT and root: the contents told them apart.
    EXPECT_EQ(DriveInfo().Fingerprint, fingerprintA);

    // DirEnt.dat: card B's identity and card B's entries.
    EXPECT_EQ(direntKeys(cache), qMakePair(DriveInfo().Fingerprint, 0x5A5A0001u));
    std::vector<DeletedEntryRecord> cached;
    EXPECT_EQ(ReadDirEntFile(cache, DriveInfo().Fingerprint, 0x5A5A0001u, cached), DirEntRead::Accepted);
    EXPECT_EQ(cached, w.DeletedEntries);

    // Card B's entries are saved byte for byte.
    for (const auto &d : b.deleted)
        w.List2.setSelected(lineEndingWith(w.List2, "?" + d.first.mid(1)), true);
    {
        MessageScript none;
        saveSelected();
    }
    for (const auto &d : b.deleted)
        EXPECT_EQ(readFileBytes(target.path() + "/%" + d.first.mid(1)), d.second) << d.first.toStdString();
    EXPECT_EQ(QDir(target.path()).entryList(QDir::Files).size(), 2);

    // A new search of the same card (a tick changed) takes the cache it wrote.
    w.TypeSelectionChanged = true;
    {
        MessageScript none;
        w.CmdQuickUndelete_Click();
    }
    EXPECT_TRUE(w.LastSearchReusedCache);
    EXPECT_GT(lineEndingWith(w.List2, "?harlie.jpg"), 1);

    // A save refused for a card change reports nothing saved, not what the
    // save before it gave.
    EXPECT_EQ(w.LastSaveTally.saved, 2);
    ASSERT_TRUE(writeFileBytes(a.image, cardA));
    w.List2.setSelected(lineEndingWith(w.List2, "?harlie.jpg"), true);
    {
        MessageScript script;
        script.expect(plat::id::OK, "is not the one listed: nothing was saved.");
        saveSelected();
    }
    EXPECT_EQ(w.LastSaveTally.saved + w.LastSaveTally.partial + w.LastSaveTally.notSaved, 0);
}
