// Quick Undelete on FAT volumes as they come from the field: an image one
// sector shorter than the size its boot sector states, and folders whose
// ".." entry is wrong. The Sleuth Kit is the oracle of the deleted files.
#include "tests/support/chooser_script.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/sectors.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

quint32 le(const QByteArray &b, int at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uchar(b[at + i]);
    return v;
}

// Points a folder entry (its 32 bytes at `at`) at a cluster.
bool pointAt(const QString &image, qint64 at, quint32 cluster)
{
    QByteArray high(2, '\0'), low(2, '\0');
    high[0] = char((cluster >> 16) & 0xFF);
    high[1] = char(cluster >> 24);
    low[0] = char(cluster & 0xFF);
    low[1] = char((cluster >> 8) & 0xFF);
    return patchFile(image, at + 20, high) && patchFile(image, at + 26, low);
}

quint32 clusterOfEntry(const QString &image, qint64 at)
{
    const QByteArray e = readFileBytes(image, at, 32);
    return le(e, 20, 2) << 16 | le(e, 26, 2);
}

} // namespace

TEST(FieldMedia, AVolumeOneSectorShortIsListedAndSavedLikeTheSleuthKit)
{
    for (const int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        // Without alignment mkfs.fat states the image's whole size, which
        // leaves sectors after the last cluster, as Windows does.
        FatImageSpec spec;
        spec.fatBits = bits;
        spec.sizeKiB = bits == 16 ? 20001 : 70000;
        spec.sectorsPerCluster = bits == 16 ? 8 : 2;
        spec.reservedSectors = bits == 16 ? -1 : 33;
        spec.align = false;
        const QString image = makeFatImage(makeTempDir("short"), "card.img", spec);
        ASSERT_FALSE(image.isEmpty());
        const QByteArray photo = photoBytes(30000, 1), hidden = patternBytes(700, 2), last = patternBytes(8000, 3);
        ASSERT_TRUE(mmd(image, "/DCIM") && mcopyData(image, "/DCIM/PHOTO.JPG", photo)
                    && mcopyData(image, "/.hidden.txt", hidden) && mcopyData(image, "/KEEP.TXT", "kept\r\n"));
        // The rest of the volume but its last clusters, then a file there.
        ASSERT_TRUE(mcopyData(image, "/PAD.BIN", patternBytes(mdirBytesFree(image) - 8192, 4)));
        ASSERT_TRUE(mcopyData(image, "/LAST.BIN", last));
        ASSERT_TRUE(mdel(image, "/DCIM/PHOTO.JPG") && mdel(image, "/.hidden.txt") && mdel(image, "/LAST.BIN"));
        // The image loses its last sector, which lies after the last cluster.
        const QByteArray boot = readFileBytes(image, 0, 512);
        const qint64 total = le(boot, 19, 2) ? le(boot, 19, 2) : le(boot, 32, 4);
        const qint64 meta = le(boot, 14, 2) + qint64(boot[16]) * (le(boot, 22, 2) ? le(boot, 22, 2) : le(boot, 36, 4))
            + le(boot, 17, 2) * 32 / 512;
        ASSERT_GE((total - meta) % spec.sectorsPerCluster, 1) << "a sector must follow the last cluster";
        ASSERT_EQ(QFile(image).size(), total * 512);
        ASSERT_TRUE(QFile::resize(image, total * 512 - 512));

        MessageScript boxes;   // no "No directory information"
        WindowOnImage on(image);
        frmRecover &w = on.w;
        EXPECT_EQ(DriveInfo().FileSystem, bits == 16 ? "FAT16" : "FAT32");
        int64_t got = 0;
        EXPECT_TRUE(ReadSectors("E:", total - 1, 0, 512, got).isEmpty()) << "past the medium nothing is read";
        w.CmdQuickUndelete_Click();

        const QString target = makeTempDir("shortsaved");
        ChooserStartPath = plat::toInternal(target) + '\\';
        {
            ChooserScript chooser;
            chooser.ok();
            w.CmdSaveAll_Click();
        }
        // Each deleted file The Sleuth Kit lists is saved, byte for byte,
        // under its name: a dot-file keeps its dot.
        const QMap<QString, qint64> tsk = flsDeleted(image);
        const QMap<QString, QString> savedAs{
            {"DCIM/_HOTO.JPG", "%HOTO.JPG"}, {".hidden.txt", ".hidden.txt"}, {"_AST.BIN", "%AST.BIN"}};
        for (auto it = savedAs.cbegin(); it != savedAs.cend(); ++it) {
            ASSERT_TRUE(tsk.contains(it.key())) << it.key().toStdString();
            EXPECT_EQ(readFileBytes(target + "/" + it.value()), icat(image, tsk[it.key()])) << it.value().toStdString();
        }
        EXPECT_EQ(readFileBytes(target + "/%AST.BIN"), last);
        EXPECT_EQ(readFileBytes(target + "/.hidden.txt"), hidden);
        EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }
}

TEST(FieldMedia, ALiveFolderWithAWrongDotDotKeepsItsFilesADeletedOneDoesNot)
{
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40960;
    spec.sectorsPerCluster = 1;   // folders of several clusters
    const QString image = makeFatImage(makeTempDir("dotdot"), "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 40; ++i)
        files.append({QStringLiteral("F%1.JPG").arg(i, 3, 10, QChar('0')), patternBytes(600, quint32(i))});
    ASSERT_TRUE(mmd(image, "/LOOP") && mcopyFiles(image, "/LOOP", files) && mmd(image, "/LOOP/SUB")
                && mcopyData(image, "/LOOP/SUB/IN.TXT", "inside\r\n") && mdel(image, "/LOOP/F007.JPG"));
    ASSERT_TRUE(mmd(image, "/OTHER") && mmd(image, "/GONE") && mcopyData(image, "/GONE/LOST.TXT", patternBytes(900, 50))
                && mdeltree(image, "/GONE"));
    const qint64 rootCluster = le(readFileBytes(image, 0, 512), 44, 4);
    const quint32 loop = clusterOfEntry(image, findShortEntry(image, rootCluster, "LOOP       ", false));
    const quint32 other = clusterOfEntry(image, findShortEntry(image, rootCluster, "OTHER      ", false));
    const quint32 gone = clusterOfEntry(image, findShortEntry(image, rootCluster, "GONE       ", true));
    // The live folder's ".." names the folder itself, as on a published
    // image of directory loops; the deleted folder's names another folder.
    ASSERT_TRUE(pointAt(image, clusterOffset(image, loop) + 32, loop));
    ASSERT_TRUE(pointAt(image, clusterOffset(image, gone) + 32, other));

    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    const auto &entries = on.w.DeletedEntries;
    EXPECT_FALSE(on.w.LastFatWalk.timedOut);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(countPath(entries, QStringLiteral("LOOP\\%1%2.JPG").arg(i == 7 ? "?" : "F").arg(i, 3, 10, QChar('0'))),
                  1)
            << i;
    EXPECT_EQ(countPath(entries, "LOOP\\SUB\\IN.TXT"), 1);
    // The Sleuth Kit lists the deleted file inside the live folder too.
    EXPECT_TRUE(flsDeleted(image).contains("LOOP/_007.JPG"));
    // Nothing is put under the deleted folder whose ".." is not its parent.
    EXPECT_EQ(on.w.LastFatWalk.foldersRefused, 1);
    for (const DeletedEntryRecord &r : entries)
        EXPECT_FALSE(r.Path.startsWith("?ONE\\")) << r.Path.toStdString();
    EXPECT_LT(entries.size(), 60u);
}

TEST(FieldMedia, AFolderThatLostItsOwnEntryAndAPhotoInPiecesAroundLiveOnesComeBackAsTheSleuthKitReadsThem)
{
    for (const int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        const QString image = makeCard(bits, "lost");
        ASSERT_FALSE(image.isEmpty());
        const qint64 c = bits == 16 ? 2048 : 512;
        QList<QPair<QString, QByteArray>> photos;
        for (int i = 1; i <= 5; ++i)
            photos.append({QStringLiteral("IMG_000%1.JPG").arg(i), photoBytes(3 * c + 100 * i, quint32(i), i % 2)});
        ASSERT_TRUE(mmd(image, "/DCIM") && mmd(image, "/DCIM/100CAM") && mcopyFiles(image, "/DCIM/100CAM", photos)
                    && mmd(image, "/DCIM/LIVE") && mcopyData(image, "/DCIM/LIVE/KEEP.JPG", patternBytes(3000, 9)));
        const QByteArray boot = readFileBytes(image, 0, 512);
        // A photo deleted, a larger one filling its gap and running on past
        // the live photo after it, then one behind it; both deleted. (FAT32:
        // its hint of the next free cluster unknown, so mtools takes the first.)
        const QByteArray large = photoBytes(5 * c - 100, 6), small = photoBytes(2 * c - 50, 7);
        ASSERT_TRUE(mcopyData(image, "/P1.JPG", patternBytes(3 * c, 1)) && mcopyData(image, "/P2.JPG", patternBytes(3 * c, 2))
                    && mcopyData(image, "/P3.JPG", patternBytes(3 * c, 3)) && mdel(image, "/P2.JPG")
                    && (bits == 16 || patchFile(image, le(boot, 48, 2) * 512 + 492, "\xFF\xFF\xFF\xFF"))
                    && mcopyData(image, "/LARGE.JPG", large) && mcopyData(image, "/SMALL.JPG", small));
        QByteArray shown;
        ASSERT_EQ(runTool("mshowfat", {"-i", image, "::/LARGE.JPG"}, &shown), 0);
        ASSERT_TRUE(shown.contains("> <")) << "in pieces: " << shown.toStdString();
        ASSERT_TRUE(mdel(image, "/LARGE.JPG") && mdel(image, "/SMALL.JPG"));

        // The folder's own entry marked deleted, its chain and its photos'
        // (the clusters up to LIVE's) cleared in both FATs; the photos'
        // entries keep their first byte.
        const quint32 dcim = clusterOfEntry(image, findShortEntry(image, bits == 32 ? le(boot, 44, 4) : 0, "DCIM       ", false));
        const qint64 camAt = findShortEntry(image, dcim, "100CAM     ", false);
        const quint32 cam = clusterOfEntry(image, camAt), live = clusterOfEntry(image, findShortEntry(image, dcim, "LIVE       ", false));
        const qint64 fatBytes = qint64(le(boot, 11, 2)) * (bits == 16 ? le(boot, 22, 2) : le(boot, 36, 4));
        for (const qint64 fat : {0LL, fatBytes})
            ASSERT_TRUE(patchFile(image, fatEntryOffset(image, cam) + fat, QByteArray((live - cam) * bits / 8, '\0')));
        ASSERT_TRUE(patchFile(image, camAt, "\xE5"));

        MessageScript boxes;
        boxes.expect(plat::id::OK, "possibly damaged");   // LARGE.JPG lay around a live photo
        WindowOnImage on(image);
        frmRecover &w = on.w;
        w.CmdQuickUndelete_Click();
        auto listed = [](const plat::ListBox &list, const QString &text) {
            for (int i = 0; i < list.ListCount(); ++i)
                if (list.List(i).endsWith("  " + text))
                    return true;
            return false;
        };
        EXPECT_TRUE(listed(w.List1, "keep.jpg")) << "a live folder's file stays an existing one";
        for (const plat::ListBox *list : {&w.List1, &w.List2})
            EXPECT_FALSE(listed(*list, ".") || listed(*list, "..")) << "a folder's own entries are no files";
        // Saved as The Sleuth Kit reads them (it too takes a deleted file's
        // free clusters only) under the names listed (the occupied group's
        // in lower case).
        QList<std::tuple<QString, QString, QByteArray>> saved{{"%arge.jpg", "_ARGE.JPG", large}, {"%MALL.JPG", "_MALL.JPG", small}};
        for (const auto &[name, data] : photos) {
            EXPECT_TRUE(listed(w.List2, name) && !listed(w.List1, name.toLower())) << name.toStdString();
            saved.append({name, "DCIM/_00CAM/" + name, data});
        }
        const QString target = saveAllInto(w, "lostsaved");
        const QMap<QString, qint64> tsk = flsDeleted(image);
        for (const auto &[name, path, data] : saved) {
            ASSERT_TRUE(tsk.contains(path)) << path.toStdString();
            EXPECT_EQ(readFileBytes(target + "/" + name), icat(image, tsk[path])) << path.toStdString();
            EXPECT_EQ(readFileBytes(target + "/" + name), data) << path.toStdString();
        }
        EXPECT_EQ(w.LastSaveTally.saved, 6);
        EXPECT_EQ(w.LastSaveTally.partial, 1);
    }
}

TEST(FieldMedia, APhotoWhoseClustersInARowRunIntoAnotherDeletedPhotoIsSavedAsPossiblyDamaged)
{
    for (const int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        const QString image = makeCard(bits, "cross");
        ASSERT_FALSE(image.isEmpty());
        const qint64 c = bits == 16 ? 2048 : 512;
        const QByteArray boot = readFileBytes(image, 0, 512);
        // FRAG fills the gap of IMG2 and goes on after IMG4 (FAT32: mtools
        // takes the first free cluster); all deleted, its clusters in a row
        // run into IMG3's, the others' end where the next photo begins.
        const QByteArray one = photoBytes(2 * c - 10, 1), three = photoBytes(2 * c, 3, false), four = photoBytes(c + 1, 4),
                         frag = photoBytes(5 * c - 100, 6);
        ASSERT_TRUE(mcopyData(image, "/IMG1.JPG", one) && mcopyData(image, "/IMG2.JPG", photoBytes(3 * c, 2))
                    && mcopyData(image, "/IMG3.JPG", three) && mcopyData(image, "/IMG4.JPG", four)
                    && mdel(image, "/IMG2.JPG")
                    && (bits == 16 || patchFile(image, le(boot, 48, 2) * 512 + 492, "\xFF\xFF\xFF\xFF"))
                    && mcopyData(image, "/FRAG.JPG", frag));
        for (const char *name : {"/IMG1.JPG", "/IMG3.JPG", "/IMG4.JPG", "/FRAG.JPG"})
            ASSERT_TRUE(mdel(image, name));

        MessageScript boxes;
        boxes.expect(plat::id::OK, "possibly damaged");
        WindowOnImage on(image);
        frmRecover &w = on.w;
        w.CmdQuickUndelete_Click();
        bool fragOccupied = false;
        for (int i = 0; i < w.List2.ListCount(); ++i)
            fragOccupied |= w.List2.List(i).endsWith("@ ?rag.jpg");
        EXPECT_TRUE(fragOccupied) << "listed in the occupied group";
        const QString target = saveAllInto(w, "crosssaved");
        EXPECT_EQ(w.LastSaveTally.saved, 3);
        EXPECT_EQ(w.LastSaveTally.partial, 1);
        // The bytes are those The Sleuth Kit reads: whole photos, and FRAG
        // with IMG3's bytes from its fourth cluster on.
        const QMap<QString, qint64> tsk = flsDeleted(image);
        const QList<std::tuple<QString, QString, QByteArray>> saved{
            {"%MG1.JPG", "_MG1.JPG", one}, {"%MG3.JPG", "_MG3.JPG", three}, {"%MG4.JPG", "_MG4.JPG", four},
            {"%rag.jpg", "_RAG.JPG", frag.left(3 * c) + three.left(2 * c - 100)}};
        for (const auto &[name, path, data] : saved) {
            ASSERT_TRUE(tsk.contains(path)) << path.toStdString();
            EXPECT_EQ(readFileBytes(target + "/" + name), icat(image, tsk[path])) << path.toStdString();
            EXPECT_EQ(readFileBytes(target + "/" + name), data) << path.toStdString();
        }
    }
}

TEST(FieldMedia, APhotoWrittenOverDeletedEntriesIsSavedWholeAndTheEntriesItOverwroteAsPossiblyDamaged)
{
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder);
        // GAP (a type without a signature) and two photos, or a folder of
        // them, deleted; then NEWC takes all their clusters in one run, from
        // GAP's first on, and is deleted too.
        const QString image = makeCard(16, "over");
        const QByteArray photo = photoBytes((folder ? 9 : 8) * 2048 - 100, 3);
        ASSERT_TRUE(!image.isEmpty() && mmd(image, "/NEW") && (folder || mmd(image, "/OLD"))
                    && mcopyData(image, "/GAP.BIN", patternBytes(4096, 4)) && (!folder || mmd(image, "/OLD"))
                    && mcopyData(image, "/OLD/OLDA.JPG", photoBytes(6000, 1)) && mcopyData(image, "/OLD/OLDB.JPG", photoBytes(6144, 2, false))
                    && mdel(image, "/GAP.BIN") && (folder ? mdeltree(image, "/OLD") : mdel(image, "/OLD/OLD?.JPG"))
                    && mcopyData(image, "/NEW/NEWC.JPG", photo) && mdel(image, "/NEW/NEWC.JPG"));
        MessageScript boxes;
        if (!folder)
            boxes.expect(plat::id::OK, "possibly damaged");
        WindowOnImage on(image);
        on.w.CmdQuickUndelete_Click();
        // NEWC whole; the photos it overwrote in the occupied group (in the
        // folder's case their entries went with it).
        for (const auto &[path, occupied] : {std::pair{"NEW\\?EWC.JPG", 0}, {"OLD\\?LDA.JPG", -1}, {"OLD\\?LDB.JPG", -1}}) {
            const DeletedEntryRecord *e = byPath(on.w.DeletedEntries, path);
            EXPECT_EQ(e ? e->Occupied : 1, folder && occupied ? 1 : occupied) << path;
        }
        const QString target = saveAllInto(on.w, "oversaved");
        EXPECT_EQ(on.w.LastSaveTally.saved, 2);   // NEWC, and GAP as before (NEWC's bytes)
        EXPECT_EQ(on.w.LastSaveTally.partial, folder ? 0 : 2);
        EXPECT_EQ(readFileBytes(target + "/%EWC.JPG"), photo);
        EXPECT_EQ(icat(image, flsDeleted(image).value("NEW/_EWC.JPG")), photo);
    }
}

TEST(FieldMedia, OnACardAgedInRoundsOfShotsEveryWholePhotoInARowIsSavedWhole)
{
    // Five rounds, each into a folder of its own: nine photos (with EXIF or
    // JFIF only) and a memo of a type without a signature; then six of the
    // round's photos deleted (the last round's memo too), whose clusters the
    // next round takes first. The truth: who wrote each cluster last.
    const QString image = makeCard(16, "aged");
    ASSERT_TRUE(!image.isEmpty() && mmd(image, "/DCIM"));
    QStringList paths;
    QList<QByteArray> data;
    QList<QList<int>> clusters;
    QList<int> deleted;
    QHash<int, int> writer;
    QSet<int> firsts;
    for (int n = 0; n < 50; ++n) {
        const QString folder = QStringLiteral("/DCIM/%1CAM").arg(100 + n / 10);
        paths << QStringLiteral("%1/IMG_%2.%3").arg(folder).arg(n, 4, 10, QChar('0')).arg(n % 10 == 9 ? "AMR" : "JPG");
        data << (n % 10 == 9 ? patternBytes(5000, n) : photoBytes(2048 * (2 + n * 6 % 7) - n * 37 % 2000, n, n % 3));
        QByteArray shown;
        ASSERT_TRUE((n % 10 || mmd(image, folder)) && mcopyData(image, paths[n], data[n])
                    && runTool("mshowfat", {"-i", image, "::" + paths[n]}, &shown) == 0);
        clusters.append(QList<int>());
        for (auto m = QRegularExpression("<(\\d+)(-(\\d+))?>").globalMatch(shown); m.hasNext();) {
            const auto r = m.next();
            for (int cl = r.captured(1).toInt(), last = std::max(cl, r.captured(3).toInt()); cl <= last; ++cl)
                clusters[n] << cl, writer[cl] = n;
        }
        for (int k : {1, 2, 4, 5, 7, 8, n == 49 ? 9 : -1})
            if (n % 10 == 9 && k >= 0 && mdel(image, paths[n - 9 + k]))
                deleted << n - 9 + k, firsts << clusters[n - 9 + k][0];
    }
    MessageScript boxes;
    boxes.expect(plat::id::OK, "possibly damaged");
    WindowOnImage on(image);
    on.w.CmdQuickUndelete_Click();
    const QString target = saveAllInto(on.w, "agedsaved");
    const QMap<QString, qint64> tsk = flsDeleted(image);
    int whole = 0, overwritten = 0, acrossDeadStarts = 0;
    for (const int n : deleted) {
        SCOPED_TRACE(paths[n].toStdString());
        const QList<int> &cl = clusters[n];
        const QString name = paths[n].section('/', -1).mid(1), folder = paths[n].section('/', 1, -2);
        const DeletedEntryRecord *e = byPath(on.w.DeletedEntries, QString(folder).replace('/', '\\') + "\\?" + name);
        ASSERT_NE(e, nullptr);
        if (cl.last() - cl[0] == cl.size() - 1 && std::all_of(cl.begin(), cl.end(), [&](int c) { return writer[c] == n; })) {
            ++whole;   // whole, in a row: saved whole, as The Sleuth Kit reads it
            acrossDeadStarts += std::any_of(cl.begin() + 1, cl.end(), [&](int c) { return firsts.contains(c); });
            EXPECT_EQ(e->Occupied, 0);
            EXPECT_EQ(readFileBytes(target + "/%" + name), data[n]);
            EXPECT_EQ(icat(image, tsk.value(folder + "/_" + name)), data[n]);
        } else if (clusters[writer[cl[0]]][0] != cl[0]) {
            ++overwritten;   // its first cluster holds the middle of a later file
            EXPECT_EQ(e->Occupied, -1);
        }
    }
    EXPECT_GE(whole, 4);
    EXPECT_GE(overwritten, 8);
    EXPECT_GE(acrossDeadStarts, 1);
}
