// The advice on restricted rights: when it is shown, what its answers do.
#include "app/rightsadvice.h"

#include "app/frmrecover.h"
#include "drive/registry.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class RightsAdvice : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSetting("VIDAVE", "Startup", "VShown");
        SetProgramExitHook([this] { ++exits; });
    }
    void TearDown() override
    {
        SetProgramExitHook({});
        DeleteSetting("VIDAVE", "Startup", "VShown");
        plat::resetOsIdentity();
        plat::DriveTable::instance().detach('Q');
    }
    int exits = 0;
};

TEST_F(RightsAdvice, WhenItIsShownAndWhatTheAnswersDo)
{
    // A folder on a drive without a raw volume: the advice is due.
    const QString dir = makeTempDir("rights");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('Q', dir));
    {
        MessageScript script;
        script.expect(plat::id::No, "udev");
        int force = 0;
        ShowVistaAdvice("Q:\\", force);
        EXPECT_EQ(force, -1);
        EXPECT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].title, "Vista Compatibility");
    }
    EXPECT_EQ(GetSetting("VIDAVE", "Startup", "VShown", "0"), "-1");
    EXPECT_EQ(exits, 0);
    {
        // Answered No before: nothing unless forced.
        MessageScript script;
        int force = 0;
        ShowVistaAdvice("Q:\\", force);
        int other = 1;
        ShowVistaAdvice("Q:\\", other);
        EXPECT_TRUE(script.boxes().empty());
        script.expect(plat::id::Yes);
        int always = -1;
        ShowVistaAdvice("Q:\\", always);
        EXPECT_EQ(exits, 1);   // no operation runs: the program ends at once
    }
    // A drive whose raw volume opens: nothing is shown.
    DeleteSetting("VIDAVE", "Startup", "VShown");
    const QString img = makeFatImage(dir, "c.img", FatImageSpec{});
    plat::DriveTable::instance().detach('Q');
    ASSERT_TRUE(attachRemovable('Q', img));
    {
        MessageScript script;
        int force = 0;
        ShowVistaAdvice("Q:\\", force);
        EXPECT_TRUE(script.boxes().empty());
        EXPECT_EQ(force, 0);
    }
    // Before Vista nothing at all.
    plat::OsIdentity xp;
    xp.major = 5;
    plat::setOsIdentity(xp);
    {
        MessageScript script;
        int always = -1;
        ShowVistaAdvice("Q:\\", always);
        EXPECT_TRUE(script.boxes().empty());
    }
}

TEST_F(RightsAdvice, YesDuringAnOperationStopsItInsteadOfEndingAtOnce)
{
    frmRecover &w = CreateMainWindow();
    w.OperationRunning = true;
    MessageScript script;
    script.expect(plat::id::Yes);
    int force = -1;
    ShowVistaAdvice("Q:\\", force);
    EXPECT_FALSE(w.OperationRunning);
    EXPECT_EQ(exits, 0);
    DestroyMainWindow();
}

} // namespace
