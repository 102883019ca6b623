// Quick undelete on NTFS through Fennick: the committed ntfs-3g images, an
// image made by mkntfs and ntfscp with a record's in-use flag cleared, The
// Sleuth Kit as the oracle, the filters, damaged tables, a deleted file
// whose clusters a later file took, a record claiming more than its runs;
// and whole-disk images (sfdisk) holding NTFS and FAT volumes.
#include "tests/ntfs/ntfs_images.h"
#include "tests/support/chooser_script.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/sectors.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/imageindex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

QByteArray saved(frmRecover &w, const DeletedEntryRecord &e, NtfsWrite *result = nullptr)
{
    QTemporaryFile out;
    if (!out.open())
        return {};
    const NtfsWrite r = w.RecoverNtfsEntry("E:", e.MftIndex, out);
    if (result)
        *result = r;
    out.flush();
    return readFileBytes(out.fileName());
}

const DeletedEntryRecord *byIndex(const std::vector<DeletedEntryRecord> &entries, int32_t mftIndex)
{
    for (const DeletedEntryRecord &r : entries)
        if (r.MftIndex == mftIndex)
            return &r;
    return nullptr;
}

uint64_t le64(const QByteArray &b, int at)
{
    uint64_t v = 0;
    std::memcpy(&v, b.constData() + at, 8);
    return v;
}

// The byte offset of MFT record `record` in an image made by mkntfs (its
// table starts contiguous).
qint64 recordOffset(const QString &image, uint32_t record)
{
    const QByteArray boot = readFileBytes(image, 0, 512);
    const qint64 bps = uchar(boot[11]) | uchar(boot[12]) << 8;
    const qint64 cluster = bps * uchar(boot[13]);
    const int8_t raw = int8_t(boot[0x40]);
    const qint64 recordSize = raw > 0 ? raw * cluster : qint64(1) << -raw;
    return qint64(le64(boot, 0x30)) * cluster + qint64(record) * recordSize;
}

// An NTFS image with the files copied in by ntfscp (no mount needed); the
// records of those named in `deleted` get their in-use flag cleared.
QString makeNtfsImage(const QString &dir, const QList<QPair<QString, QByteArray>> &files, const QStringList &deleted,
                      QString *skip, qint64 sizeMiB = 16)
{
    if (!haveTool("mkntfs") || !haveTool("ntfscp")) {
        *skip = "mkntfs and ntfscp are needed";
        return {};
    }
    const QString image = dir + "/ntfs.img";
    QFile f(image);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(sizeMiB << 20))
        return {};
    f.close();
    if (runTool("mkntfs", {"-F", "-f", "-q", image}) != 0)
        return {};
    for (const auto &file : files) {
        const QString src = dir + "/src.bin";
        writeFileBytes(src, file.second);
        if (runTool("ntfscp", {"-f", image, src, file.first}) != 0)
            return {};
    }
    ntfs_test::Loaded v;
    if (!v.load(image))
        return {};
    // Where $Bitmap (record 6) keeps its bits.
    const QByteArray boot = readFileBytes(image, 0, 512);
    const qint64 cluster = qint64(uchar(boot[11]) | uchar(boot[12]) << 8) * uchar(boot[13]);
    uint64_t vcn = 0, bitmapLcn = 0, run = 0;
    if (!MapVCN2LCN(GetFileRecordAttribute(v.block, 6, FENNICK_ATTR_DATA), &vcn, &bitmapLcn, &run))
        return {};
    for (const ntfs_test::Record &r : ntfs_test::namedRecords(v))
        if (deleted.contains(r.name)) {
            // The record's in-use flag, and its clusters in the bitmap.
            const qint64 at = recordOffset(image, r.index);
            QByteArray flags = readFileBytes(image, at + 0x16, 2);
            flags[0] = char(uchar(flags[0]) & ~1);
            if (readFileBytes(image, at, 4) != "FILE" || !patchFile(image, at + 0x16, flags))
                return {};
            const void *data = GetFileRecordAttribute(v.block, r.index, FENNICK_ATTR_DATA);
            uint64_t first = 0, lcn = 0, length = 0;
            for (; data && static_cast<const uint8_t *>(data)[8] != 0 && MapVCN2LCN(data, &first, &lcn, &length);
                 first += length)
                for (uint64_t c = lcn; c < lcn + length; ++c) {
                    const qint64 byteAt = qint64(bitmapLcn) * cluster + qint64(c / 8);
                    QByteArray b = readFileBytes(image, byteAt, 1);
                    b[0] = char(uchar(b[0]) & ~(1u << (c % 8)));
                    patchFile(image, byteAt, b);
                }
        }
    return image;
}

// A new volume of sizeMiB made by mkntfs and mounted through ntfs-3g;
// false where this machine cannot.
bool mountNewNtfs(const QString &image, const QString &mount, int sizeMiB)
{
    QFile f(image);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(sizeMiB) << 20))
        return false;
    f.close();
    QDir().mkpath(mount);
    return haveTool("ntfs-3g") && runTool("mkntfs", {"-F", "-f", "-q", image}) == 0
           && runTool("ntfs-3g", {image, mount}) == 0;
}

// Whether a file of `size` bytes holds the pieces (offset, bytes) and zeros
// elsewhere; read 8 MiB at a time.
bool holdsPieces(const QString &path, qint64 size, const QList<QPair<qint64, QByteArray>> &pieces)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() != size)
        return false;
    for (qint64 at = 0; at < size; at += 8 << 20) {
        QByteArray want(std::min<qint64>(8 << 20, size - at), '\0');
        for (const auto &[off, bytes] : pieces) {
            const qint64 from = std::max(off, at), to = std::min(off + bytes.size(), at + want.size());
            if (from < to)
                want.replace(from - at, to - from, bytes.mid(from - off, to - from));
        }
        if (f.read(want.size()) != want)
            return false;
    }
    return true;
}

} // namespace

TEST(NtfsUndelete, CommittedImageListsAndSavesEveryDeletedFile)
{
    const QString image = ntfs_test::committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    const auto manifest = ntfs_test::readManifest(image);
    WindowOnImage on(image);
    ASSERT_EQ(DriveInfo().FileSystem, "NTFS");
    on.w.SearchDeletedEntries("E:");
    const auto &entries = on.w.DeletedEntries;
    EXPECT_TRUE(entries[0].IsEmpty());
    EXPECT_FALSE(entries[1].IsEmpty()) << "the first entry lands in slot 1";

    int checked = 0;
    for (const ntfs_test::ManifestEntry &m : manifest) {
        if (m.state != "deleted")
            continue;
        SCOPED_TRACE(m.path.toStdString());
        const DeletedEntryRecord *r = byPath(entries, m.path);
        ASSERT_NE(r, nullptr);
        const QString ownName = m.path.mid(m.path.lastIndexOf('\\') + 1);
        EXPECT_EQ(r->LongName, ownName.toLower());
        EXPECT_EQ(r->Size, m.size);
        EXPECT_EQ(r->Recoverable, m.size);
        EXPECT_GT(r->MftIndex, 15);
        EXPECT_GT(r->Modified, OleDateSerial(2000, 1, 1));
        NtfsWrite how;
        EXPECT_TRUE(saved(on.w, *r, &how) == m.expected());
        EXPECT_EQ(how, NtfsWrite::Complete);
        if (m.size < 600) {
            EXPECT_EQ(r->FirstCluster, 0) << "resident data has no cluster";
        }
        ++checked;
    }
    EXPECT_GE(checked, 9);
    // Every deleted file The Sleuth Kit knows is listed, with the same data.
    const QMap<uint32_t, QString> tsk = ntfs_test::tskDeletedFiles(image);
    for (auto it = tsk.cbegin(); it != tsk.cend(); ++it) {
        const DeletedEntryRecord *r = byIndex(entries, int32_t(it.key()));
        if (!r) {
            // Only the program's own rule on "temp" paths may leave one out.
            EXPECT_TRUE(it.value().contains("temp", Qt::CaseInsensitive)) << it.value().toStdString();
            continue;
        }
        EXPECT_EQ(r->Path, it.value());
        EXPECT_TRUE(saved(on.w, *r) == ntfs_test::tskData(image, it.key())) << it.value().toStdString();
    }
}

TEST(NtfsUndelete, AnImageShortOfItsLastSectorsIsStillListed)
{
    // The volume states one sector less than its image (the backup boot
    // sector lies after it); an image that lost the last three sectors has
    // lost nothing but part of the last, partial cluster.
    const QString image = ntfs_test::committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(QFile::resize(image, QFile(image).size() - 3 * 512));
    WindowOnImage on(image);
    ASSERT_EQ(DriveInfo().FileSystem, "NTFS");
    on.w.SearchDeletedEntries("E:");
    const DeletedEntryRecord *r = byPath(on.w.DeletedEntries, "frag.bin");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(saved(on.w, *r) == ntfs_test::findEntry(ntfs_test::readManifest(image), "frag.bin")->expected());
}

TEST(NtfsUndelete, FragmentedFileSavedExactFromItsRuns)
{
    const QString image = ntfs_test::committedImage("fragmented");
    ASSERT_FALSE(image.isEmpty());
    const auto manifest = ntfs_test::readManifest(image);
    const ntfs_test::ManifestEntry *big = ntfs_test::findEntry(manifest, "big.bin");
    ASSERT_NE(big, nullptr);
    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    const DeletedEntryRecord *r = byPath(on.w.DeletedEntries, "big.bin");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(saved(on.w, *r) == big->expected());
}

TEST(NtfsUndelete, ClearedInUseFlagFiltersAndTheLists)
{
    QString skip;
    const QString dir = makeTempDir("ntfs");
    const QByteArray photo = patternBytes(30000, 1);
    const QString image = makeNtfsImage(dir,
                                        {{"/photo.jpg", photo},
                                         {"/tiny.txt", QByteArray("resid\n")},
                                         {"/Temp.jpg", patternBytes(5000, 2)},
                                         {"/-%inuse.jpg", patternBytes(3000, 3)},
                                         {"/kept.doc", patternBytes(4000, 4)}},
                                        {"photo.jpg", "tiny.txt", "Temp.jpg"}, &skip);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_FALSE(image.isEmpty());
    WindowOnImage on(image, false);
    frmRecover &w = on.w;

    std::vector<DeletedEntryRecord> all(1);
    ASSERT_TRUE(w.QuickUndeleteNtfs("E:", all, "all", 0, 0));
    const DeletedEntryRecord *p = byPath(all, "photo.jpg");
    const DeletedEntryRecord *t = byPath(all, "tiny.txt");
    ASSERT_TRUE(p && t);
    EXPECT_EQ(saved(w, *p), photo);
    EXPECT_EQ(saved(w, *t), "resid\n");
    EXPECT_EQ(t->FirstCluster, 0);
    EXPECT_EQ(byPath(all, "Temp.jpg"), nullptr) << "paths holding Temp are the program's own";
    EXPECT_NE(byPath(all, "-%inuse.jpg"), nullptr) << "a \"-%\" name is listed while in use";
    EXPECT_EQ(byPath(all, "kept.doc"), nullptr) << "records in use are not deleted";

    std::vector<DeletedEntryRecord> jpg(1);
    w.QuickUndeleteNtfs("E:", jpg, ".jpg.png", 0, 0);
    EXPECT_NE(byPath(jpg, "photo.jpg"), nullptr);
    EXPECT_EQ(byPath(jpg, "tiny.txt"), nullptr);
    std::vector<DeletedEntryRecord> big(1);
    w.QuickUndeleteNtfs("E:", big, "all", 1, 0);
    EXPECT_EQ(big.size(), 1u) << "nothing reaches 1 MB";

    // The command: the long names, the information with its path.
    MessageScript boxes;
    w.CmdQuickUndelete_Click();
    bool listed = false;
    for (int i = 0; i < w.List2.ListCount(); ++i)
        if (w.List2.List(i).endsWith("  photo.jpg")) {
            listed = true;
            w.ShowEntryInformation(w.EntryIndexOfLine(w.List2, i));
        }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(w.lblSpecs.Caption().contains("Recovery: probable"));
    EXPECT_FALSE(w.lblSpecs.Caption().contains("Attributes:"));
}

TEST(NtfsUndelete, DamagedTablesListWithoutHarm)
{
    const QString image = ntfs_test::committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    const QByteArray pristine = readFileBytes(image);
    const qint64 mft = recordOffset(image, 0);
    // Attribute lengths and parent references made absurd in every user
    // record, then the table cut short.
    for (int round = 0; round < 3; ++round) {
        writeFileBytes(image, pristine);
        for (uint32_t rec = 16; rec < 120; ++rec) {
            const qint64 at = mft + qint64(rec) * 1024;
            const QByteArray r = readFileBytes(image, at, 1024);
            if (!r.startsWith("FILE"))
                continue;
            const int first = uchar(r[0x14]) | uchar(r[0x15]) << 8;
            if (round == 0)
                patchFile(image, at + first + 4, QByteArray::fromHex("ff7f0000"));
            else if (round == 1)
                patchFile(image, at + first + 0x40, QByteArray::fromHex("00ca9a3b00000000"));   // 10^9
        }
        if (round == 2)
            QFile::resize(image, mft + 40 * 1024);
        WindowOnImage on(image);
        // A table that cannot be loaded is refused with its message.
        int refused = 0;
        plat::setMessageResponder([&](const plat::MessageRequest &r) {
            refused += r.text.contains("MFT");
            return plat::id::OK;
        });
        std::vector<DeletedEntryRecord> entries(1);
        on.w.QuickUndeleteNtfs("E:", entries, "all", 0, 0);
        plat::setMessageResponder({});
        EXPECT_LE(refused, 1);
        for (const DeletedEntryRecord &e : entries)
            if (!e.IsEmpty())
                saved(on.w, e);
    }
}

TEST(NtfsUndelete, ClustersInUseAgainAreNeverSavedAsWhole)
{
    // Made by mkntfs and ntfs-3g: reused.jpg deleted, then all its clusters
    // but the first written by a later file; intact.jpg and .hidden.txt
    // deleted with their clusters free.
    QString skip, error;
    const QString image = ntfs_test::liveImage("reused", 8, {}, &skip, &error);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    const auto manifest = ntfs_test::readManifest(image);
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    int reused = -1;
    for (int i = 0; i < w.List2.ListCount(); ++i)
        if (w.List2.List(i).endsWith("  reused.jpg"))
            reused = i;
    ASSERT_GT(reused, 1) << "its first cluster is free: it is listed among the recoverable ones";

    // Save Selected: written, with the notice that it may be damaged.
    const QString one = makeTempDir("ntfsone");
    ChooserStartPath = plat::toInternal(one) + '\\';
    w.List2.setSelected(reused, true);
    boxes.expect(plat::id::OK, "it may be damaged");
    {
        DialogScript dialogs;
        dialogs.expect(plat::toInternal(one) + "\\reused.jpg");
        w.CmdSaveAs_Click();
    }
    EXPECT_EQ(boxes.pending(), 0);
    EXPECT_EQ(w.LastSaveTally.partial, 1);
    EXPECT_EQ(w.LastSaveTally.saved, 0);
    EXPECT_TRUE(QFile::exists(one + "/reused.jpg"));

    // Save All passes it over; the intact files beside it come out as The
    // Sleuth Kit reads them, the dot-file under its own name.
    const QString all = makeTempDir("ntfsall");
    ChooserStartPath = plat::toInternal(all) + '\\';
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    EXPECT_FALSE(QFile::exists(all + "/reused.jpg"));
    const QMap<uint32_t, QString> tsk = ntfs_test::tskDeletedFiles(image);
    for (const QString name : {"intact.jpg", ".hidden.txt"}) {
        SCOPED_TRACE(name.toStdString());
        const uint32_t rec = tsk.key(name);
        ASSERT_GT(rec, 15u);
        EXPECT_EQ(readFileBytes(all + "/" + name), ntfs_test::tskData(image, rec));
        EXPECT_EQ(readFileBytes(all + "/" + name), ntfs_test::findEntry(manifest, name)->expected());
    }
    EXPECT_EQ(w.LastSaveTally.partial + w.LastSaveTally.notSaved, 0);
}

TEST(NtfsUndelete, ARecordClaimingMoreThanItsRunsIsSavedAsFarAsTheyGoAndAStopLeavesNoFile)
{
    QString skip;
    // The large file takes a dozen pieces, so that the save yields to the
    // window (at most every 20 ms) while it writes, however fast the machine.
    const QByteArray photo = patternBytes(300000, 1), big = patternBytes(96 << 20, 2);
    const QString image =
        makeNtfsImage(makeTempDir("claim"), {{"/claim.jpg", photo}, {"/big.bin", big}}, {"claim.jpg", "big.bin"}, &skip, 128);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_FALSE(image.isEmpty());
    {
        // The record's allocated, data and initialized sizes made 3 GiB.
        ntfs_test::Loaded v;
        ASSERT_TRUE(v.load(image));
        uint32_t claim = 0;
        for (const ntfs_test::Record &r : ntfs_test::namedRecords(v))
            claim = r.name == "claim.jpg" ? r.index : claim;
        const auto *data = static_cast<const char *>(GetFileRecordAttribute(v.block, claim, FENNICK_ATTR_DATA));
        const qint64 at = recordOffset(image, claim) + (data - static_cast<const char *>(GetFileRecordFromBuffer(v.block, claim)));
        ASSERT_LE(at % 512 + 0x40, 510) << "the sizes lie clear of the sector's fix-up";
        ASSERT_TRUE(patchFile(image, at + 0x28, QByteArray::fromHex("000000c000000000").repeated(3)));
    }
    const qint64 volume = QFile(image).size();
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    QMap<QString, int> lines;
    for (int i = 2; i < w.List2.ListCount(); ++i)
        lines.insert(EntryLineText(w.List2.List(i)), i);
    ASSERT_TRUE(lines.contains("claim.jpg") && lines.contains("big.bin"));
    const int claim = w.EntryIndexOfLine(w.List2, lines["claim.jpg"]);
    const DeletedEntryRecord &e = w.DeletedEntries[size_t(claim)];
    EXPECT_EQ(e.Size, 3LL << 30) << "its own size";
    EXPECT_TRUE(e.Recoverable >= photo.size() && e.Recoverable < volume && e.RecoverableInPart());
    w.ShowEntryInformation(claim);
    EXPECT_TRUE(w.lblSpecs.Caption().contains("Recovery: probable partly"));

    auto saveSelected = [&](const QString &name, const QString &hint) {
        const QString folder = makeTempDir(hint);
        ChooserStartPath = plat::toInternal(folder) + '\\';
        w.List2.setSelected(lines[name], true);
        DialogScript dialogs;
        dialogs.expect(plat::toInternal(folder) + '\\' + name);
        w.CmdSaveAs_Click();
        return folder;
    };
    // Save Selected and Save All write the runs' bytes, say so, and end.
    boxes.expect(plat::id::Yes, "not complete").expect(plat::id::OK, "may be damaged");
    const QString one = saveSelected("claim.jpg", "claimone");
    boxes.expect(plat::id::OK, "possibly damaged");
    const QString all = saveAllInto(w, "claimall");
    EXPECT_EQ(boxes.pending(), 0);
    for (const QString &folder : {one, all}) {
        const QByteArray saved = readFileBytes(folder + "/claim.jpg");
        EXPECT_TRUE(saved.size() <= volume && saved.startsWith(photo)) << saved.size();
    }
    EXPECT_TRUE(readFileBytes(all + "/big.bin") == big);
    EXPECT_EQ(w.LastSaveTally.partial, 1);

    // A stop while the large file is written leaves no file behind.
    bool stopped = false;
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (QFile::exists(plat::toNative(ChooserStartPath) + ".big.bin.part")) {
            w.OperationRunning = false;
            stopped = true;
        }
    });
    stop.start(0);
    const QString none = saveSelected("big.bin", "claimstop");
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(QDir(none).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(NtfsUndelete, ASparseFileIsSavedWithItsHolesAsHoles)
{
    // 24 MiB of which two stretches hold data, written through an ntfs-3g
    // mount (skipped where FUSE is not at hand) and deleted there; the
    // volume of 32 MiB could hold it whole.
    const QString dir = makeTempDir("sparse"), image = dir + "/ntfs.img", mount = dir + "/mnt";
    QByteArray original(24 << 20, '\0');
    const QByteArray data = patternBytes(100000, 3);
    original.replace(0, data.size(), data).replace(16 << 20, data.size(), data);
    if (!mountNewNtfs(image, mount, 32))
        GTEST_SKIP() << "mkntfs and an ntfs-3g mount are needed";
    QFile out(mount + "/sparse.bin");
    const bool written = out.open(QIODevice::WriteOnly) && out.write(data) == data.size() && out.seek(16 << 20)
        && out.write(data) == data.size() && out.resize(original.size());
    out.close();
    const bool removed = QFile::remove(mount + "/sparse.bin");
    ASSERT_EQ(runTool("umount", {mount}), 0);
    ASSERT_TRUE(written && removed);

    MessageScript boxes;
    WindowOnImage on(image);
    on.w.CmdQuickUndelete_Click();
    const QString saved = saveAllInto(on.w, "sparseall") + "/sparse.bin";
    EXPECT_EQ(boxes.pending(), 0);
    EXPECT_TRUE(readFileBytes(saved) == original);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(saved).constData(), &st), 0);
    EXPECT_LT(qint64(st.st_blocks) * 512, 8 << 20) << "the holes take no room on the target";
}

TEST(NtfsUndelete, SparseFilesLargerThanTheirVolumeAreSavedWholeWithTheirHoles)
{
    // Written through an ntfs-3g mount on a 64 MiB volume and deleted there:
    // 64 MiB + 4 KiB with data at 0 and at 64 MiB, and 200 MiB with three
    // pieces of data (the start, after a hole, the end).
    struct Sparse {
        QString name;
        qint64 size;
        QList<QPair<qint64, QByteArray>> pieces;
    };
    const QList<Sparse> files{
        {"edge.bin", (64 << 20) + 4096, {{0, patternBytes(4096, 1)}, {64 << 20, patternBytes(4096, 2)}}},
        {"three.bin",
         200 << 20,
         {{0, patternBytes(100000, 3)},
          {100 << 20, patternBytes(100000, 4)},
          {(200 << 20) - 100000, patternBytes(100000, 5)}}}};
    const QString dir = makeTempDir("sparsebig"), image = dir + "/ntfs.img", mount = dir + "/mnt";
    if (!mountNewNtfs(image, mount, 64))
        GTEST_SKIP() << "mkntfs and an ntfs-3g mount are needed";
    bool written = true;
    for (const Sparse &s : files) {
        QFile out(mount + '/' + s.name);
        written = written && out.open(QIODevice::WriteOnly) && out.resize(s.size);
        for (const auto &[at, bytes] : s.pieces)
            written = written && out.seek(at) && out.write(bytes) == bytes.size();
        out.close();
    }
    for (const Sparse &s : files)   // deleted after all are written
        written = QFile::remove(mount + '/' + s.name) && written;
    ASSERT_EQ(runTool("umount", {mount}), 0);
    ASSERT_TRUE(written);

    MessageScript boxes;   // none: nothing is counted damaged
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    for (const DeletedEntryRecord &e : w.DeletedEntries)
        if (!e.IsEmpty()) {
            EXPECT_EQ(e.Size, e.LongName == "edge.bin" ? files[0].size : files[1].size);
            EXPECT_TRUE(e.Recoverable == e.Size && !e.RecoverableInPart()) << e.LongName.toStdString();
        }
    const QString all = saveAllInto(w, "sparsebigall");
    EXPECT_EQ(boxes.pending(), 0);
    EXPECT_EQ(w.LastSaveTally.saved, 2);
    for (const Sparse &s : files) {
        SCOPED_TRACE(s.name.toStdString());
        const QString saved = all + '/' + s.name;
        EXPECT_TRUE(holdsPieces(saved, s.size, s.pieces));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(saved).constData(), &st), 0);
        EXPECT_LT(qint64(st.st_blocks) * 512, 2 << 20) << "the holes take no room on the target";
    }
    // The Sleuth Kit reads the first whole (the second's runs pass its
    // volume, which it refuses).
    const QMap<uint32_t, QString> tsk = ntfs_test::tskDeletedFiles(image);
    ASSERT_GT(tsk.key("edge.bin"), 15u);
    EXPECT_TRUE(readFileBytes(all + "/edge.bin") == ntfs_test::tskData(image, tsk.key("edge.bin")));
}

TEST(NtfsUndelete, RunsThatCannotBeTrueAreSavedAsFarAsTheyCanBeAndCountedDamaged)
{
    // Deleted files of 300,000 bytes (one run of 74 clusters) on a 32 MiB
    // volume by mkntfs and ntfscp, not sparse; their runs then followed by a
    // hole of 2^30 clusters, by a hole of 16 clusters and a cluster after it,
    // by the first run named 39 times more, or put after a hole of 2^30
    // clusters: the mapping pairs and sizes rewritten in the record, its
    // update-sequence fix-up undone and made again.
    QString skip;
    const QStringList names{"hole.jpg", "between.jpg", "twice.jpg", "first.jpg"};
    const QByteArray bigHole = QByteArray::fromHex("0400000040"), smallHole = QByteArray::fromHex("0110");
    auto runsOf = [&](int n, const QByteArray &own) -> QPair<QByteArray, uint64_t> {
        if (n == 0)
            return {own + bigHole, 74 + (1ull << 30)};
        if (n == 1)
            return {own + smallHole + QByteArray::fromHex("110164"), 74 + 16 + 1};
        if (n == 2)
            return {own + QByteArray::fromHex("114a00").repeated(39), 40 * 74};
        return {bigHole + own, (1ull << 30) + 74};
    };
    QList<QPair<QString, QByteArray>> files;
    for (const QString &name : names)
        files.append({'/' + name, patternBytes(300000, uint32_t(files.size() + 1))});
    const QString image = makeNtfsImage(makeTempDir("untrue"), files, names, &skip, 32);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_FALSE(image.isEmpty());
    QMap<QString, uint64_t> clusters;
    ntfs_test::Loaded v;
    ASSERT_TRUE(v.load(image));
    for (const ntfs_test::Record &r : ntfs_test::namedRecords(v)) {
        const int n = int(names.indexOf(r.name));
        if (n < 0)
            continue;
        const qint64 at = recordOffset(image, r.index);
        QByteArray rec = readFileBytes(image, at, 1024);
        const int attr = int(static_cast<const char *>(GetFileRecordAttribute(v.block, r.index, FENNICK_ATTR_DATA))
                             - static_cast<const char *>(GetFileRecordFromBuffer(v.block, r.index)));
        auto put = [&](int o, uint64_t value, int bytes) { rec.replace(o, bytes, QByteArray((const char *)&value, bytes)); };
        // The update sequence at 0x30: its number, then the words it stands for.
        ASSERT_TRUE(rec.mid(4, 4) == QByteArray::fromHex("30000300"));
        for (const int sector : {1, 2})
            rec.replace(sector * 512 - 2, 2, rec.mid(0x30 + 2 * sector, 2));
        // One pair (21 4a and two bytes of LCN), $DATA the last attribute.
        const int pairs = attr + 0x40;
        ASSERT_TRUE(rec.mid(attr + 0x20, 2) == QByteArray("\x40\0", 2) && rec.mid(pairs, 2) == "\x21\x4a"
                    && rec[pairs + 4] == 0 && rec.mid(attr + 0x48, 4) == "\xff\xff\xff\xff"
                    && rec.mid(attr + 0x0C, 2) == QByteArray(2, '\0'));
        const auto [runs, count] = runsOf(n, rec.mid(pairs, 4));
        clusters[r.name] = count;
        const int length = (0x40 + int(runs.size()) + 1 + 7) / 8 * 8;
        rec.replace(pairs, length - 0x40, (runs + QByteArray(length, '\0')).left(length - 0x40));
        put(attr + 4, length, 4);
        put(attr + length, 0xffffffff, 8);
        put(0x18, attr + length + 8, 4);
        put(attr + 0x18, count - 1, 8);
        for (const int field : {0x28, 0x30, 0x38})
            put(attr + field, count * 4096, 8);
        for (const int sector : {1, 2})
            rec.replace(0x30 + 2 * sector, 2, rec.mid(sector * 512 - 2, 2)).replace(sector * 512 - 2, 2, rec.mid(0x30, 2));
        ASSERT_TRUE(patchFile(image, at, rec));
    }
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    int listed = 0;
    for (int i = 2; i < w.List2.ListCount(); ++i)
        listed += names.contains(EntryLineText(w.List2.List(i)));
    EXPECT_EQ(listed, 4);
    // The list through an image's index: each entry keeps its own size (the
    // first over 4 GiB) and is recoverable in part, as far as its first run
    // or not at all where a hole comes first.
    DiskImageIndex index;
    index.imagePath = "/images/untrue.img";
    index.bytesPerSector = 512;
    index.sectorsPerCluster = 8;
    index.lastEntryIndex = w.DeletedEntriesUpperBound();
    index.entryRecords = w.DeletedEntriesFileForm();
    const QString indexPath = plat::toInternal(makeTempDir("untrueindex")) + "\\untrue.img.dat";
    ASSERT_TRUE(WriteDiskImageIndex(indexPath, index) && ReadDiskImageIndex(indexPath, index));
    const std::vector<DeletedEntryRecord> listedEntries = w.DeletedEntries;
    w.LoadDeletedEntriesFromIndex(index.entryRecords, index.lastEntryIndex);
    EXPECT_EQ(w.DeletedEntries, listedEntries);
    int seen = 0;
    for (size_t k = 1; k < w.DeletedEntries.size(); ++k) {
        const DeletedEntryRecord &e = w.DeletedEntries[k];
        if (!names.contains(e.LongName))
            continue;
        SCOPED_TRACE(e.LongName.toStdString());
        ++seen;
        EXPECT_EQ(e.Size, int64_t(clusters[e.LongName] * 4096));
        EXPECT_TRUE(e.RecoverableInPart());
        EXPECT_EQ(e.Recoverable, e.LongName == "first.jpg" ? 0 : 74 * 4096);
        if (e.LongName == "twice.jpg") {   // the others The Sleuth Kit refuses
            EXPECT_EQ(e.Size, ntfs_test::tskDataSize(image, uint32_t(e.MftIndex))) << "as The Sleuth Kit reads it";
        }
        w.ShowEntryInformation(int(k));
        const QString info = w.lblSpecs.Caption();
        EXPECT_TRUE(info.contains(e.LongName == "first.jpg" ? "Recovery: impossible" : "Recovery: probable partly"));
        if (e.LongName == "hole.jpg") {
            EXPECT_TRUE(info.contains("File size: 4,398,046,814,208 bytes"));
        }
    }
    EXPECT_EQ(seen, 4);

    // Save All: three written as far as their runs go, one not at all.
    boxes.expect(plat::id::OK, "Saved whole: 0. Saved, but possibly damaged (incomplete, or from clusters another "
                               "file uses now): 3. Not saved: 1.");
    const QString folder = saveAllInto(w, "untrueall");
    EXPECT_EQ(boxes.pending(), 0);
    for (const auto &[path, bytes] : files) {
        const QByteArray saved = readFileBytes(folder + path);
        if (path == "/first.jpg")
            EXPECT_FALSE(QFile::exists(folder + path));
        else
            EXPECT_TRUE(saved.startsWith(bytes) && saved.size() == 74 * 4096) << path.toStdString();
    }
}

namespace {

// A whole-disk image made by sfdisk, its partitions (MBR or GPT type) from
// sector 2048 on holding copies of the volumes given; with `extended`, an MBR
// whose only entry is an extended partition holding them as logical ones.
QString wholeDisk(const QString &label, const QList<QPair<QString, QString>> &volumes, bool extended = false)
{
    const QString disk = makeTempDir("disk") + "/disk.img";
    QByteArray script;
    QList<qint64> starts{extended ? 4096 : 2048};
    for (const auto &v : volumes) {
        const qint64 sectors = QFile(v.first).size() / 512;
        script += QStringLiteral("start=%1, size=%2, type=%3\n").arg(starts.last()).arg(sectors).arg(v.second).toLatin1();
        starts << starts.last() + (sectors + 2047) / 2048 * 2048 + (extended ? 2048 : 0);
    }
    if (extended)
        script.prepend(QStringLiteral("start=2048, size=%1, type=5\n").arg(starts.last() - 2048).toLatin1());
    if (!writeFileBytes(disk, {}) || !QFile::resize(disk, (starts.last() + 2048) * 512)
        || runTool("sfdisk", {"-q", disk}, nullptr, "label: " + label.toLatin1() + "\n" + script) != 0)
        return {};
    for (int i = 0; i < volumes.size(); ++i)
        if (!patchFile(disk, starts[i] * 512, readFileBytes(volumes[i].first)))
            return {};
    return disk;
}

// The contents of the files in a folder, sorted.
QByteArrayList fileContents(const QString &folder)
{
    QByteArrayList out;
    for (const QString &name : QDir(folder).entryList(QDir::Files))
        out << readFileBytes(folder + "/" + name);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(WholeDiskImage, IsReadFromItsFirstVolumeOrThePartitionNamed)
{
    QString skip;
    const QByteArray photo = photoBytes(70000, 1), other = photoBytes(9000, 2);
    const QString ntfs = makeNtfsImage(makeTempDir("whole"), {{"/photo.jpg", photo}}, {"photo.jpg"}, &skip);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    const QString fat32 = makeCard(32, "whole32"), fat16 = makeCard(16, "whole16");   // 40 MiB, 16 MiB
    ASSERT_TRUE(!ntfs.isEmpty() && mcopyData(fat32, "/PHOTO.JPG", photo) && mdel(fat32, "/PHOTO.JPG")
                && mcopyData(fat16, "/OTHER.JPG", other) && mdel(fat16, "/OTHER.JPG"));
    struct Case {
        QString label;
        QList<QPair<QString, QString>> volumes;
        int partition;   // named in the drive file; 0: none
        qint64 start;    // the volume's first sector
        QString saved;   // the deleted photo's name when saved
    };
    const QString basicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
    for (const Case &c : QList<Case>{{"dos", {{fat32, "c"}}, 0, 2048, "%HOTO.JPG"},
                                     {"dos", {{ntfs, "7"}}, 0, 2048, "photo.jpg"},
                                     {"gpt", {{fat32, basicData}}, 0, 2048, "%HOTO.JPG"},
                                     {"dos", {{fat32, "c"}, {fat16, "6"}}, 2, 2048 + 81920, "%THER.JPG"}}) {
        SCOPED_TRACE((c.label + c.saved).toStdString());
        const QString disk = wholeDisk(c.label, c.volumes);
        ASSERT_FALSE(disk.isEmpty());
        MessageScript boxes;
        WindowOnImage on(disk, true, c.partition);
        // Quick Undelete reads the volume; a scan of the image without a
        // partition named still reads all of it.
        EXPECT_EQ(MediumBytes("E:"), QFile(c.volumes[std::max(c.partition, 1) - 1].first).size());
        EXPECT_EQ(WholeMediumBytes("E:"), c.partition ? -1 : QFile(disk).size());
        on.w.CmdQuickUndelete_Click();
        const QByteArray saved = readFileBytes(saveAllInto(on.w, "wholesaved") + "/" + c.saved);
        EXPECT_TRUE(saved == (c.partition ? other : photo));
        const DeletedEntryRecord *e = byPath(on.w.DeletedEntries, QString(c.saved).replace('%', '?'));
        ASSERT_NE(e, nullptr);
        const qint64 address = e->MftIndex > 0 ? e->MftIndex : flsDeleted(disk, c.start).value("_" + c.saved.mid(1), -1);
        EXPECT_TRUE(saved == icat(disk, address, c.start)) << "as The Sleuth Kit reads it";
    }
}

TEST(WholeDiskImage, ALogicalVolumeIsFollowedAndAnEfiSystemPartitionPassedOver)
{
    if (!haveTool("tsk_recover"))
        GTEST_SKIP() << "tsk_recover is needed";
    const QByteArray photo = photoBytes(70000, 3), loader = photoBytes(9000, 4);
    const QString fat32 = makeCard(32, "logical32"), esp = makeCard(16, "esp16");   // 40 MiB, 16 MiB
    ASSERT_TRUE(mcopyData(fat32, "/PHOTO.JPG", photo) && mdel(fat32, "/PHOTO.JPG")
                && mcopyData(esp, "/LOADER.JPG", loader) && mdel(esp, "/LOADER.JPG"));
    const QString efi = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", basicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
    const QString logical = wholeDisk("dos", {{fat32, "c"}}, true);
    const QString gpt = wholeDisk("gpt", {{esp, efi}, {fat32, basicData}});
    const QString mbr = wholeDisk("dos", {{esp, "ef"}, {fat32, "c"}});
    ASSERT_FALSE(logical.isEmpty() || gpt.isEmpty() || mbr.isEmpty());
    struct Case {
        QString disk;
        int partition;   // named in the drive file; 0: none
        qint64 start;    // the first sector of the volume read
        QString volume;  // the image copied there
    };
    for (const Case &c : QList<Case>{{logical, 0, 4096, fat32}, {logical, 5, 4096, fat32},
                                     {gpt, 0, 2048 + 32768, fat32}, {gpt, 1, 2048, esp},
                                     {mbr, 0, 2048 + 32768, fat32}, {mbr, 1, 2048, esp}}) {
        SCOPED_TRACE(QStringLiteral("%1 partition=%2")
                         .arg(c.disk == logical ? "logical" : c.disk == gpt ? "gpt" : "mbr")
                         .arg(c.partition)
                         .toStdString());
        MessageScript boxes;
        WindowOnImage on(c.disk, true, c.partition);
        EXPECT_EQ(MediumBytes("E:"), QFile(c.volume).size());
        on.w.CmdQuickUndelete_Click();
        const QByteArrayList saved = fileContents(saveAllInto(on.w, "wholesaved"));
        const QString oracle = makeTempDir("tsk");
        ASSERT_EQ(runTool("tsk_recover", {"-o", QString::number(c.start), c.disk, oracle}), 0);
        EXPECT_TRUE(saved.contains(c.volume == fat32 ? photo : loader));
        EXPECT_TRUE(saved == fileContents(oracle)) << "as tsk_recover -o saves them";
    }
}
