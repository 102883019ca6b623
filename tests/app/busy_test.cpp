// The busy guard and its notices, the shutdown guard, Timer1 noticing drives
// that come and go, and Timer5.
#include "app/frmrecover.h"

#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <gtest/gtest.h>

using testing_support::makeTempDir;
using testing_support::MessageScript;

namespace {

class MainWindowBusy : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        folder = makeTempDir("drive");
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        plat::setInputPendingHook({});
        DestroyMainWindow();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        SetMsgBoxPlainMode(false);
    }
    frmRecover *w = nullptr;
    QString folder;
};

} // namespace

TEST_F(MainWindowBusy, CommandsAreRefusedWithStillBusyWhileAnOperationRuns)
{
    {
        MessageScript none;
        EXPECT_FALSE(w->RefuseWhileBusy());
    }
    for (int flag = 0; flag < 2; ++flag) {
        w->OperationRunning = flag == 0;
        w->OperationBusy = flag == 1;
        SetMsgBoxPlainMode(false);
        MessageScript script;
        script.expect(plat::id::OK);
        EXPECT_TRUE(w->RefuseWhileBusy());
        ASSERT_EQ(script.boxes().size(), 1u);
        const plat::MessageRequest &r = script.boxes()[0];
        EXPECT_EQ(r.text, "Still busy....  ");
        EXPECT_EQ(r.title, "Quilvane");
        EXPECT_EQ(r.style & plat::mb::IconMask, plat::mb::IconInformation);
        EXPECT_EQ(r.timeoutMs, 4000);
        EXPECT_EQ(r.ownerHandle, w->hWnd());
        EXPECT_EQ(w->OperationRunning, flag == 0) << "the operation goes on";
    }

    // While the window still loads (input disabled) the guard stops the
    // running operation and shows nothing.
    w->OperationBusy = false;
    w->OperationRunning = true;
    w->setEnabled(false);
    {
        MessageScript none;
        EXPECT_TRUE(w->RefuseWhileBusy());
    }
    EXPECT_FALSE(w->OperationRunning);
    w->setEnabled(true);

    w->ProgramTitle = "Quilvane Pro";
    SetMsgBoxPlainMode(false);
    MessageScript notices;
    notices.expect(plat::id::OK).expect(plat::id::OK);
    w->ShowSelectFileNotice();
    SetMsgBoxPlainMode(false);
    w->ShowNoFilesNotice();
    ASSERT_EQ(notices.boxes().size(), 2u);
    EXPECT_EQ(notices.boxes()[0].text, "Please select a file and try again.   ");
    EXPECT_EQ(notices.boxes()[1].text, "No recoverable files detected yet.   ");
    EXPECT_EQ(notices.boxes()[1].title, "Quilvane Pro");
    EXPECT_EQ(notices.boxes()[1].timeoutMs, 4000);
}

TEST_F(MainWindowBusy, TheShutdownWaitsForTheOperationAndHappensOnce)
{
    {
        frmRecover::OperationScope op(*w);
        EXPECT_EQ(w->ActiveOperations, 1);
        EXPECT_FALSE(w->CanShutDown());
        EXPECT_FALSE(w->BeginShutdown());
        EXPECT_FALSE(w->Unload()) << "the close box does not end a running operation";
        {
            frmRecover::OperationScope nested(*w);
            EXPECT_EQ(w->ActiveOperations, 2);
        }
        EXPECT_FALSE(w->CanShutDown());
    }
    w->OperationBusy = true;
    EXPECT_FALSE(w->BeginShutdown());
    w->OperationBusy = false;
    EXPECT_TRUE(w->BeginShutdown());
    EXPECT_FALSE(w->BeginShutdown()) << "only once";
    EXPECT_FALSE(w->Unload());

    // Timer ticks during the shutdown do nothing.
    w->Timer1.setInterval(1234);
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', folder));
    w->Timer1_Timer();
    EXPECT_EQ(w->Timer1.Interval(), 1234);
    EXPECT_EQ(w->Drive2.ListCount(), 1);
}

TEST_F(MainWindowBusy, Timer1NoticesDrivesThatComeAndGo)
{
    ASSERT_EQ(w->Drive1.ListCount(), 1);   // C:
    w->Timer1.setInterval(2000);
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', folder));

    // A new drive gets one tick to settle, then shows up.
    w->Timer1_Timer();
    EXPECT_EQ(w->Timer1.Interval(), 3000);
    EXPECT_TRUE(w->Timer1.Enabled());
    EXPECT_EQ(w->Drive1.ListCount(), 1);
    w->Timer1_Timer();
    EXPECT_EQ(w->Drive1.ListCount(), 2);
    EXPECT_EQ(w->Drive1.List(1).left(2), "e:");
    EXPECT_EQ(w->Timer1.Interval(), 2000);
    EXPECT_TRUE(w->Timer1.Enabled());

    // A drive that went away is gone at the next tick.
    plat::DriveTable::instance().detach('E');
    w->Timer1_Timer();
    EXPECT_EQ(w->Drive1.ListCount(), 1);
    EXPECT_EQ(w->Timer1.Interval(), 2000);

    // While an operation runs nothing is compared, every 10 s.
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', folder));
    w->OperationRunning = true;
    w->Timer1_Timer();
    EXPECT_EQ(w->Timer1.Interval(), 10000);
    EXPECT_EQ(w->Drive1.ListCount(), 1);
    w->OperationRunning = false;

    // A disabled drive list is not compared.
    w->Drive1.setEnabled(false);
    w->Timer1_Timer();
    w->Timer1_Timer();
    EXPECT_EQ(w->Drive1.ListCount(), 1);
    EXPECT_EQ(w->Timer1.Interval(), 2000);
    w->Drive1.setEnabled(true);

    // Input pending delays the work until the user is idle.
    int asked = 0;
    plat::setInputPendingHook([&] { return ++asked <= 3; });
    w->Timer1.setInterval(3000);
    w->Timer1_Timer();
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(w->Drive1.ListCount(), 2);
    plat::setInputPendingHook({});

    // A pending click with the entry list shown but the picture hidden:
    // nothing is replayed, the flag is cleared and the interval kept.
    w->List2.setVisible(true);
    w->List2.AddItem("entry");
    w->Picture1.setVisible(false);
    w->ListClickPending = true;
    w->Timer1.setInterval(25);
    w->Timer1_Timer();
    EXPECT_FALSE(w->ListClickPending);
    EXPECT_EQ(w->Timer1.Interval(), 25);
    EXPECT_TRUE(w->Timer1.Enabled());
    w->Timer1.setEnabled(false);
}

TEST_F(MainWindowBusy, Timer5EndsTheFileListsBusyPeriod)
{
    w->FileListBusy = true;
    w->Timer5.setEnabled(true);
    EXPECT_EQ(w->Timer5.Interval(), 100);
    w->Timer5_Timer();
    EXPECT_FALSE(w->FileListBusy);
    EXPECT_FALSE(w->Timer5.Enabled());
}
