// The tools that write to a removable medium, on image-backed removable
// drives (and loop devices where the machine has them): restore, wipe,
// repair and format do what they say on the confirmed medium and nothing
// else, and each refuses a fixed disk, a mounted or busy volume, the
// system's disk and a medium that changed after the question. Results are
// checked with fsck.fat and minfo; sources keep their hashes.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/rawwrite.h"
#include "recovery/mediatools.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QApplication>
#include <QWidget>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace testing_support;
using namespace media_test;

namespace {

const Card &card() { return sharedCard(); }

bool allZero(const QByteArray &b) { return b.count('\0') == b.size(); }

int fsckFat(const QString &image)
{
    QByteArray out;
    return runTool("fsck.fat", {"-n", image}, &out);
}

class MediaTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        plat::setMediumFactsHook({});
        w = &CreateMainWindow();
        w->CmdEnd.setToolTipText("End");
    }
    void TearDown() override
    {
        plat::setMediumFactsHook({});
        DestroyMainWindow();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }

    // A copy of the card as the removable drive F:, chosen as the source.
    QString useTarget(const QString &files = {})
    {
        const QString copy = makeTempDir("target") + "/target.img";
        EXPECT_TRUE(QFile::copy(card().image, copy));
        QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(attachCard('F', copy, {}, files));
        choose("F:");
        return copy;
    }
    void choose(const QString &drive)
    {
        w->SourceName = drive;
        GetDriveInfo(drive);
    }
    void press(plat::Control &control, char key)
    {
        int k = key;
        control.KeyPress(k);
    }
    void expectIdle() const
    {
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_FALSE(w->OperationBusy);
        EXPECT_EQ(w->ActiveOperations, 0);
    }

    frmRecover *w = nullptr;
};

} // namespace

TEST_F(MediaTools, RestoreWritesTheImageBackAndOnlyTheImagesBytes)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();
    ASSERT_TRUE(mcopyData(target, "/NEW.TXT", patternBytes(50000, 3)));   // the card changed since
    const QString targetBefore = makeTempDir("before") + "/t.img";
    ASSERT_TRUE(QFile::copy(target, targetBefore));
    // An image with an odd tail: 1000 bytes short of the medium.
    const QString image = makeTempDir("restore") + "/E_CARD_2009-06-01_0.img";
    const QByteArray cardBytes = readFileBytes(card().image);
    ASSERT_TRUE(writeFileBytes(image, cardBytes.left(cardBytes.size() - 1000)));
    const QByteArray imageSha = sha256(image);
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "onto disk F:");
        DialogScript dialogs;
        dialogs.expect(plat::toInternal(image));
        press(w->CmdBackup, 'r');
        ASSERT_EQ(boxes.boxes().size(), 1u);
        const plat::MessageRequest &q = boxes.boxes()[0];
        // The question names the medium and leaves Cancel as the default.
        EXPECT_TRUE(q.text.contains("label \"CARD\", 16.0 MB, device " + target)) << q.text.toStdString();
        EXPECT_EQ(q.style & plat::mb::DefButtonMask, plat::mb::DefButton2);
    }
    EXPECT_EQ(w->lblStatus.Caption(), "Status: restoring drive F: Finished");
    const QByteArray after = readFileBytes(target);
    EXPECT_TRUE(after.left(cardBytes.size() - 1000) == cardBytes.left(cardBytes.size() - 1000));
    EXPECT_TRUE(after.right(1000) == readFileBytes(targetBefore).right(1000));
    EXPECT_EQ(sha256(image), imageSha);
    expectIdle();

    // An image of another card (its boot sector differs in the first 34
    // bytes) is refused and the medium keeps every byte.
    const Card other = makeCard(16, 32768, 4, "5555AAAA", "OTHER");
    ASSERT_TRUE(other.ok());
    const QByteArray sha = sha256(target);
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK);
        DialogScript dialogs;
        dialogs.expect(plat::toInternal(other.image));
        press(w->CmdBackup, 'R');
    }
    EXPECT_EQ(w->lblStatus.Caption(), "Restoring F: not possible. Wrong parameters.");
    EXPECT_EQ(sha256(target), sha);
    // Cancel at the question writes nothing either.
    {
        MessageScript boxes;
        boxes.expect(plat::id::Cancel);
        DialogScript dialogs;
        dialogs.expect(plat::toInternal(image));
        press(w->CmdBackup, 'r');
    }
    EXPECT_EQ(sha256(target), sha);
    expectIdle();
}

TEST_F(MediaTools, WipeAndRepairLeaveZerosFromTheFirstDataSectorAndASoundVolume)
{
    REQUIRE_MEDIA_CARD();
    for (const char key : {'w', 'R'}) {
        SCOPED_TRACE(key);
        const QString target = useTarget();
        const int64_t dataStart = DriveInfo().FirstDataSector * 512;
        ASSERT_GT(dataStart, 512);
        {
            MessageScript boxes;
            boxes.expect(plat::id::OK, key == 'w' ? "Do you really want to wipe disk F:" : "to repair disk F:");
            press(w->Drive1, key);
            EXPECT_EQ(boxes.boxes()[0].title, "Secured Wipe");
        }
        const WriteOutcome &out = w->LastWriteOutcome;
        EXPECT_TRUE(out.finished());
        EXPECT_EQ(out.bytesWritten, QFileInfo(target).size() - dataStart);
        const QByteArray after = readFileBytes(target);
        EXPECT_TRUE(allZero(after.mid(dataStart)));
        EXPECT_EQ(after.size(), readFileBytes(card().image).size());   // never grown
        // The format that follows, waited for: a volume fsck.fat accepts,
        // with the card's label and FAT type.
        EXPECT_EQ(w->LastFormatResult.exitCode, 0) << w->LastFormatResult.output.toStdString();
        EXPECT_EQ(w->lblStatus.Caption(), "Formatting disk finished");
        EXPECT_EQ(fsckFat(target), 0);
        EXPECT_EQ(minfoField(target, "disk label"), "\"CARD       \"");
        EXPECT_EQ(DriveInfo().FileSystem, "FAT16");
        expectIdle();
        detachDrive('F');
    }
}

TEST_F(MediaTools, AStoppedWipeSaysSoAndStartsNoFormat)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK).then([this](const plat::MessageRequest &) {
            QTimer::singleShot(0, [this] { w->OperationRunning = false; });
        });
        press(w->Drive1, 'W');
    }
    EXPECT_TRUE(w->LastWriteOutcome.stopped);
    EXPECT_LT(w->LastWriteOutcome.bytesWritten, w->LastWriteOutcome.bytesExpected);
    EXPECT_EQ(w->LastFormatResult.exitCode, -1);   // no format ran
    EXPECT_TRUE(w->lblStatus.Caption().endsWith("Stopped"));
    EXPECT_FALSE(w->lblStatus.Caption().contains("Finished"));
    expectIdle();
}

TEST_F(MediaTools, FormatKeepsTheFatTypeAndLabelAndWaitsForTheProgram)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Do you really want to format disk F:?");
        press(w->Drive1, 'f');
        EXPECT_EQ(boxes.boxes()[0].title, "Format Drive");
    }
    EXPECT_EQ(w->LastFormatResult.exitCode, 0);
    EXPECT_EQ(fsckFat(target), 0);
    EXPECT_EQ(minfoField(target, "disk label"), "\"CARD       \"");
    // The drive record describes the new volume: the card's files are gone.
    EXPECT_NE(DriveInfo().VolumeSerial, 0x1234ABCDu);
    EXPECT_TRUE(mtype(target, "/NOTES.TXT").isEmpty());
    expectIdle();
}

TEST_F(MediaTools, EveryWritingToolRefusesWhatItMustNotTouch)
{
    REQUIRE_MEDIA_CARD();
    // A fixed disk: the keys do nothing at all.
    {
        const QString copy = makeTempDir("fixed") + "/fixed.img";
        ASSERT_TRUE(QFile::copy(card().image, copy));
        plat::VirtualDriveOptions o;
        o.typeCode = plat::DriveTypeFixed;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('G', copy, o));
        choose("G:");
        const QByteArray sha = sha256(copy);
        MessageScript boxes;   // not one box
        for (char k : {'W', 'R', 'F'})
            press(w->Drive1, k);
        press(w->CmdBackup, 'R');
        EXPECT_EQ(sha256(copy), sha);
    }
    // A medium that is mounted, busy, on the system's disk, or not the one
    // confirmed: the layer refuses, the user is told, nothing is written.
    struct Case {
        const char *name;
        QString expectedText;
    };
    const QList<Case> cases{
        {"mounted", "F: is mounted."},
        {"busy", "F: is in use by another program."},
        {"system", "F: lies on the system's disk."},
        {"swapped", "The medium in F: is not the one you confirmed."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = c.name;
        const QString target = useTarget(name == "mounted" ? makeTempDir("tree") : QString());
        const QByteArray sha = sha256(target);
        int lockFd = -1;
        if (name == "busy") {
            lockFd = ::open(QFile::encodeName(target).constData(), O_RDONLY);
            ASSERT_EQ(::flock(lockFd, LOCK_EX | LOCK_NB), 0);
        }
        if (name == "system")
            plat::setMediumFactsHook([](plat::MediumFacts &f) { f.system = true; });
        const QString other = makeTempDir("other") + "/other.img";
        ASSERT_TRUE(QFile::copy(card().image, other));
        const QByteArray otherSha = sha256(other);
        for (const char key : {'W', 'F'}) {
            MessageScript boxes;
            if (name == "busy" || name == "swapped")
                boxes.expect(plat::id::OK, "F:").then([&](const plat::MessageRequest &) {
                    // Another card in the slot after the question.
                    if (name == "swapped")
                        attachCard('F', other);
                });
            boxes.expect(plat::id::OK, c.expectedText);
            press(w->Drive1, key);
            if (name == "swapped") {
                attachCard('F', target);
                choose("F:");
            }
        }
        EXPECT_EQ(sha256(target), sha);
        EXPECT_EQ(sha256(other), otherSha);
        if (lockFd >= 0)
            ::close(lockFd);
        plat::setMediumFactsHook({});
        expectIdle();
    }
}

TEST_F(MediaTools, ZeroFillAndRestoreStayInsideTheMedium)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();
    const auto facts = plat::mediumFacts('F');
    ASSERT_TRUE(facts);
    const QByteArray before = readFileBytes(target);
    {
        plat::RawWriteTarget t;
        ASSERT_EQ(t.open('F', plat::identityOf(*facts)), plat::WriteRefusal::None);
        // A second writer is refused while the first holds the medium.
        plat::RawWriteTarget second;
        EXPECT_EQ(second.open('F', plat::identityOf(*facts)), plat::WriteRefusal::Busy);
        // The tail smaller than a block is filled sector by sector; 3 sectors
        // before the end and 100 bytes into a sector.
        const int64_t start = t.size() - 3 * 512 - 100;
        const WriteOutcome out = ZeroFill(t, start, 65536, 512, {});
        EXPECT_TRUE(out.finished());
        EXPECT_EQ(out.bytesWritten, 3 * 512 + 100);
        EXPECT_EQ(t.writeAt(t.size(), "x", 1), 0);   // nothing past the end
        EXPECT_EQ(t.writeAt(t.size() - 1, "xy", 2), 1);
        EXPECT_TRUE(t.close());
    }
    const QByteArray after = readFileBytes(target);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after.left(after.size() - 3 * 512 - 100) == before.left(before.size() - 3 * 512 - 100));
    EXPECT_TRUE(allZero(after.mid(after.size() - 3 * 512 - 100, 3 * 512 + 99)));

    // An image longer than the medium fails where the medium ends.
    const QString longer = makeTempDir("longer") + "/long.img";
    ASSERT_TRUE(writeFileBytes(longer, before + QByteArray(4096, 'x')));
    plat::Handle image = plat::openNative(longer, plat::Access::Read);
    plat::RawWriteTarget t;
    ASSERT_EQ(t.open('F', plat::identityOf(*plat::mediumFacts('F'))), plat::WriteRefusal::None);
    const WriteOutcome out = RestoreImageOnto(image, t, 65536, {});
    EXPECT_TRUE(out.failed);
    EXPECT_FALSE(out.finished());
    EXPECT_EQ(out.bytesWritten, before.size());
    t.close();
    image.close();
    EXPECT_EQ(QFileInfo(target).size(), before.size());
}

TEST_F(MediaTools, OnALoopDeviceTheWipeAndFormatWorkAndAnExclusiveHolderBlocksThem)
{
    REQUIRE_MEDIA_CARD();
    const QString backing = makeTempDir("loopt") + "/loop.img";
    ASSERT_TRUE(QFile::copy(card().image, backing));
    QFile(backing).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    auto loop = LoopDevice::attach(backing, false);
    if (!loop)
        GTEST_SKIP() << "no loop devices here";
    // Loop devices report removable 0; the drive is declared removable, as
    // a virtual drive may be.
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    ASSERT_TRUE(plat::DriveTable::instance().attachDevice('F', loop->device, o));
    choose("F:");
    ASSERT_EQ(DriveInfo().FileSystem, "FAT16");

    // Held exclusively (as a mounted file system holds it): refused, unchanged.
    const QByteArray sha = sha256(backing);
    // No other way of the layer opens the device for writing.
    EXPECT_FALSE(plat::openNative(loop->device, plat::Access::ReadWrite).valid());
    EXPECT_FALSE(plat::openFile(plat::toInternal(loop->device), plat::Access::ReadWrite).valid());
    {
        const int holder = ::open(QFile::encodeName(loop->device).constData(), O_RDONLY | O_EXCL);
        ASSERT_GE(holder, 0);
        MessageScript boxes;
        boxes.expect(plat::id::OK, "F:");
        boxes.expect(plat::id::OK, "F: is in use by another program.");
        press(w->Drive1, 'W');
        ::close(holder);
    }
    EXPECT_EQ(sha256(backing), sha);

    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "device " + loop->device);
        press(w->Drive1, 'W');
    }
    EXPECT_TRUE(w->LastWriteOutcome.finished());
    EXPECT_EQ(w->LastFormatResult.exitCode, 0) << w->LastFormatResult.output.toStdString();
    ::sync();
    EXPECT_EQ(fsckFat(backing), 0);
    EXPECT_EQ(minfoField(backing, "disk label"), "\"CARD       \"");
    expectIdle();
}

namespace {

// Total sectors of a FAT boot sector set anew (the 32-bit field).
void stateVolumeSectors(const QString &image, quint32 sectors)
{
    QByteArray zero16(2, '\0'), le32(4, '\0');
    for (int i = 0; i < 4; ++i)
        le32[i] = char((sectors >> (8 * i)) & 0xFF);
    ASSERT_TRUE(patchFile(image, 0x13, zero16));
    ASSERT_TRUE(patchFile(image, 0x20, le32));
}

} // namespace

// A restore compares sizes before it asks: an image, or the volume it
// states, larger than the card is refused naming both sizes and writes
// nothing; the question names both sizes; a same-size image makes the card
// the image. On a card image and on a loop device.
TEST_F(MediaTools, RestoreComparesTheSizesBeforeItAsksAndWritesOnlyWhatFits)
{
    REQUIRE_MEDIA_CARD();
    const QString backing = makeTempDir("loopr") + "/loop.img";
    ASSERT_TRUE(QFile::copy(card().image, backing));
    QFile(backing).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    std::optional<LoopDevice> loop = LoopDevice::attach(backing, false);
    for (const bool onLoop : {false, true}) {
        SCOPED_TRACE(onLoop ? "loop device" : "card image");
        if (onLoop && !loop) {
            std::fprintf(stderr, "no loop devices here: the card image only\n");
            continue;
        }
        QString medium = backing;
        if (onLoop) {
            plat::VirtualDriveOptions o;
            o.typeCode = plat::DriveTypeRemovable;
            ASSERT_TRUE(plat::DriveTable::instance().attachDevice('F', loop->device, o));
            choose("F:");
        } else {
            medium = useTarget();
        }
        const qint64 size = QFileInfo(card().image).size();
        const QString sizes = "16.0 MB (" + QLocale().toString(size) + " bytes)";
        const QByteArray sha = sha256(medium);
        const QString dir = makeTempDir("restoresizes");

        // One sector longer than the card, and one of the card's length
        // whose volume states more: refused with both sizes, nothing asked.
        const QString longer = dir + "/longer.img";
        ASSERT_TRUE(writeFileBytes(longer, readFileBytes(card().image) + QByteArray(512, 'x')));
        const QString claims = dir + "/claims.img";
        ASSERT_TRUE(QFile::copy(card().image, claims));
        stateVolumeSectors(claims, quint32(size / 512 + 2048));
        for (const QString &image : {longer, claims}) {
            MessageScript boxes;
            boxes.expect(plat::id::OK, image == longer ? "holds 16.0 MB (" + QLocale().toString(size + 512) + " bytes);"
                                                       : "states 17.0 MB (");
            DialogScript dialogs;
            dialogs.expect(plat::toInternal(image));
            press(w->CmdBackup, 'R');
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_TRUE(boxes.boxes()[0].text.contains("disk F: holds only " + sizes + ".")) << boxes.boxes()[0].text.toStdString();
            EXPECT_TRUE(boxes.boxes()[0].text.endsWith("Nothing was written."));
            EXPECT_EQ(sha256(medium), sha);
        }
        // An empty image: refused before any question.
        const QString empty = dir + "/empty.img";
        ASSERT_TRUE(writeFileBytes(empty, QByteArray()));
        {
            MessageScript boxes;
            DialogScript dialogs;
            dialogs.expect(plat::toInternal(empty));
            press(w->CmdBackup, 'R');
            EXPECT_EQ(w->lblStatus.Caption(), "Restoring F: not possible. Wrong parameters.");
            EXPECT_EQ(sha256(medium), sha);
        }
        expectIdle();

        // The card as it was before a file was added: the question names
        // both sizes; the card becomes the image.
        const QString same = dir + "/same.img";
        ASSERT_TRUE(QFile::copy(card().image, same));
        ASSERT_TRUE(mcopyData(same, "/ADDED.TXT", patternBytes(70000, 9)));
        {
            MessageScript boxes;
            boxes.expect(plat::id::OK, "The image holds " + sizes + "; disk F: holds " + sizes + ".");
            DialogScript dialogs;
            dialogs.expect(plat::toInternal(same));
            press(w->CmdBackup, 'r');
        }
        EXPECT_EQ(w->lblStatus.Caption(), "Status: restoring drive F: Finished");
        ::sync();
        EXPECT_EQ(sha256(medium), sha256(same));
        EXPECT_EQ(fsckFat(medium), 0);
        expectIdle();

        // A write that fails part-way (the device ends before the size it
        // stated) says how much was written and that the card is damaged.
        if (onLoop) {
            plat::setMediumFactsHook([](plat::MediumFacts &f) { f.sizeBytes += 65536; });
            const QString over = dir + "/over.img";
            ASSERT_TRUE(writeFileBytes(over, readFileBytes(card().image) + QByteArray(65536, 'y')));
            MessageScript boxes;
            boxes.expect(plat::id::OK, "The image holds 16.1 MB");
            boxes.expect(plat::id::OK, "Restoring F: failed after " + sizes + " of 16.1 MB (")
                .then([](const plat::MessageRequest &r) {
                    EXPECT_TRUE(r.text.endsWith("The card's previous contents are damaged.")) << r.text.toStdString();
                });
            DialogScript dialogs;
            dialogs.expect(plat::toInternal(over));
            press(w->CmdBackup, 'R');
            EXPECT_TRUE(w->lblStatus.Caption().endsWith("Failed"));
            EXPECT_EQ(w->LastWriteOutcome.bytesWritten, size);
            plat::setMediumFactsHook({});
            expectIdle();
        }
        detachDrive('F');
    }
}

// The letters of the tools are taken by the drive list whether the tool
// runs or refuses: the list's letter search never moves the selection.
TEST_F(MediaTools, ToolKeysNeverMoveTheDriveListsSelection)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();   // the card, as F:
    const QString copy = makeTempDir("fixedkeys") + "/fixed.img";
    ASSERT_TRUE(QFile::copy(card().image, copy));
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeFixed;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('G', copy, o));
    w->Drive1.Refresh();
    ASSERT_GE(w->Drive1.indexOfLetter('F'), 0);
    ASSERT_TRUE(w->Drive1.setDrive("G:"));
    choose("G:");
    auto key = [this](char c) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (QChar(c).toUpper().unicode() - 'A'), Qt::NoModifier,
                        QString(QChar(c)));
        QCoreApplication::sendEvent(w->Drive1.widget(), &press);
    };
    const QByteArray sha = sha256(target);
    {
        MessageScript boxes;   // refused on a fixed disk: not a box
        for (char c : {'F', 'f', 'W', 'r'})
            key(c);
    }
    EXPECT_EQ(w->Drive1.letterAt(w->Drive1.ListIndex()), QChar('G'));
    // On the card the tool asks; Cancel, and the selection stays too.
    ASSERT_TRUE(w->Drive1.setDrive("F:"));
    choose("F:");
    {
        MessageScript boxes;
        boxes.expect(plat::id::Cancel, "format disk F:");
        key('f');
    }
    EXPECT_EQ(w->Drive1.letterAt(w->Drive1.ListIndex()), QChar('F'));
    EXPECT_EQ(sha256(target), sha);
    // Any other letter still searches the list.
    key('g');
    EXPECT_EQ(w->Drive1.letterAt(w->Drive1.ListIndex()), QChar('G'));
}

// An image file a loop device reads from is refused for what it is.
TEST_F(MediaTools, ALoopBackedImageIsRefusedWithItsRealReason)
{
    REQUIRE_MEDIA_CARD();
    const QString target = useTarget();
    auto loop = LoopDevice::attach(target, true);
    if (!loop)
        GTEST_SKIP() << "no loop devices here";
    const QByteArray sha = sha256(target);
    MessageScript boxes;
    boxes.expect(plat::id::OK, "The image file of F: is attached to the loop device " + loop->device
                                   + ". Please detach it first.\r\nNothing was written.");
    press(w->Drive1, 'W');
    EXPECT_EQ(sha256(target), sha);
    expectIdle();
}
