// Test Speed: the measurement on a fake medium and a fake clock (a steady
// medium stops soon after 5 seconds, one that keeps changing at 15, a pass
// the clock cannot time is passed over, the end of the medium stops it), and
// real runs on an image-backed drive and a read-only loop device that leave
// the source as it was.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "recovery/speedtest.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace media_test;

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kMiB = 1048576;

// A medium of `blocks` MiB (-1: no end) whose n-th read takes nsOfRead(n).
struct FakeMedium {
    int64_t now = 0;
    int64_t reads = 0;
    int64_t blocks = -1;
    std::function<int64_t(int64_t)> nsOfRead;

    SpeedTestIo io()
    {
        SpeedTestIo io;
        io.readBlock = [this] {
            if (blocks >= 0 && reads >= blocks)
                return int64_t(0);
            now += nsOfRead(reads++);
            return kMiB;
        };
        io.clockNs = [this] { return now; };
        return io;
    }
};

} // namespace

TEST(SpeedTest, ASteadyMediumStopsJustAfterFiveSecondsWithItsRate)
{
    FakeMedium m;
    m.nsOfRead = [](int64_t) { return 10 * kMs; };   // 100 MB/s
    const double v = MeasureReadSpeed(m.io());
    EXPECT_NEAR(v, 100.0, 0.005);
    EXPECT_GE(m.now, 5000 * kMs);
    EXPECT_LE(m.now, 5000 * kMs + 4 * 10 * kMs);   // the pass that crossed 5 s, at most
}

TEST(SpeedTest, AMediumThatKeepsChangingStopsAtFifteenSeconds)
{
    FakeMedium m;
    // Every pass a little faster: the average never catches up.
    m.nsOfRead = [](int64_t n) { return std::max<int64_t>(kMs, 20 * kMs - n * 5000); };
    const double v = MeasureReadSpeed(m.io());
    EXPECT_GT(v, 50.0);
    EXPECT_GE(m.now, 15000 * kMs);
    EXPECT_LE(m.now, 15000 * kMs + 3 * 20 * kMs);
}

TEST(SpeedTest, PassesTheClockCannotTimeAndTheMediumsEndAreHandled)
{
    // The clock stands still for the first passes: they are timed with the
    // first pass it can time, never divided by zero.
    FakeMedium frozen;
    frozen.nsOfRead = [](int64_t n) { return n < 30 ? 0 : 10 * kMs; };
    const double v = MeasureReadSpeed(frozen.io());
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 100.0);

    // A medium of 5 MiB ends within the second pass: what was read counts.
    FakeMedium small;
    small.blocks = 5;
    small.nsOfRead = [](int64_t) { return 10 * kMs; };
    const double s = MeasureReadSpeed(small.io());
    EXPECT_GT(s, 0.0);
    EXPECT_EQ(small.reads, 5);
    EXPECT_LT(small.now, 100 * kMs);

    // Nothing readable at all.
    FakeMedium none;
    none.blocks = 0;
    none.nsOfRead = [](int64_t) { return kMs; };
    EXPECT_EQ(MeasureReadSpeed(none.io()), 0.0);
}

TEST(SpeedTest, ARealRunMeasuresTheDriveAndLeavesItAsItWas)
{
    const Card c = makeCard();
    if (!c.ok())
        GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing";
    plat::DriveTable::instance().resetVirtual();
    ASSERT_TRUE(attachCard('E', c.image));
    const QByteArray sha = sha256(c.image);
    frmRecover &w = CreateMainWindow();
    w.SourceName = "E:";
    GetDriveInfo("E:");
    {
        MessageScript boxes;
        w.CmdMaxSpeed_Click();
    }
    EXPECT_GT(w.MeasuredSpeedMBps, 0.0);
    EXPECT_EQ(w.MeasuredSpeedSerial, 0x1234ABCDu);
    EXPECT_EQ(w.CmdMaxSpeed.Caption(), "Test Speed");
    EXPECT_TRUE(w.lblSpecs.Caption().contains("Read speed:")) << w.lblSpecs.Caption().toStdString();
    EXPECT_FALSE(w.OperationBusy);
    // A press while a test runs does nothing.
    w.CmdMaxSpeed.setCaption("Busy..");
    const double before = w.MeasuredSpeedMBps;
    w.MeasuredSpeedMBps = -1;
    w.CmdMaxSpeed_Click();
    EXPECT_EQ(w.MeasuredSpeedMBps, -1);
    w.MeasuredSpeedMBps = before;
    EXPECT_EQ(sha256(c.image), sha);

    // Past the page cache on a read-only loop device.
    if (auto loop = LoopDevice::attach(c.image, true)) {
        plat::VirtualDriveOptions o;
        o.typeCode = plat::DriveTypeRemovable;
        o.readOnly = true;
        ASSERT_TRUE(plat::DriveTable::instance().attachDevice('F', loop->device, o));
        double mbps = 0;
        EXPECT_GT(DriveSpeedTest("F:", mbps), 0.0);
        EXPECT_EQ(sha256(c.image), sha);
    }
    // A drive that cannot be read: the notice, and 0.
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Drive not readable or damaged.");
        ResetDriveInfo();
        double mbps = 5;
        EXPECT_EQ(DriveSpeedTest("Q:", mbps), 0.0);
        EXPECT_EQ(mbps, 0.0);
    }
    DestroyMainWindow();
    plat::DriveTable::instance().resetVirtual();
    plat::DriveTable::instance().setExclusive(true);
}
