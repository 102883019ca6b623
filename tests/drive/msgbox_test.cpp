// The self-closing and the positioned message box, answered by a script.
#include "drive/ui/msgbox.h"

#include "drive/strings.h"
#include "platform/ui/controls.h"
#include "platform/ui/msgbox.h"
#include "tests/support/responder.h"

#include <gtest/gtest.h>

namespace {

using plat::MessageRequest;

class MsgBoxTimedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::setClockHook([this] { return now; });
    }
    void TearDown() override
    {
        plat::setClockHook({});
        SetMsgBoxPlainMode(false);
    }
    // The user takes this long to answer.
    std::function<void(const MessageRequest &)> takes(qint64 ms)
    {
        return [this, ms](const MessageRequest &) { now += ms; };
    }
    QString ownerText() const { return QString::number(owner.hWnd()); }

    qint64 now = 1000000;
    plat::Form owner;
};

} // namespace

TEST_F(MsgBoxTimedTest, TimeoutFromTheStyle)
{
    EXPECT_EQ(MsgBoxTimeoutMs(0), 4000);
    EXPECT_EQ(MsgBoxTimeoutMs(258), 4000);
    EXPECT_EQ(MsgBoxTimeoutMs(259), 10000);
    EXPECT_EQ(MsgBoxTimeoutMs(518), 16000);
    EXPECT_EQ(MsgBoxTimeoutMs(-1), 4000);        // truncated toward zero
    EXPECT_EQ(MsgBoxTimeoutMs(-259), -2000);

    testing_support::MessageScript script;
    for (int i = 0; i < 9; ++i)
        script.expect(plat::id::OK).then(takes(5000));

    for (short style : {short(0), short(16), short(48), short(64)}) {
        short s = style;
        EXPECT_EQ(MsgBoxTimed(ownerText(), "Still busy....  ", s, "Quilvane"), plat::id::OK);
        EXPECT_EQ(s, style);
    }
    EXPECT_EQ(script.boxes()[0].timeoutMs, 4000);
    EXPECT_EQ(script.boxes()[3].timeoutMs, 4000);

    short okCancel = 1;
    MsgBoxTimed(ownerText(), "x", okCancel, "Quilvane");
    EXPECT_EQ(okCancel, 0);   // the caller's variable: OK alone
    EXPECT_EQ(script.boxes()[4].timeoutMs, 10000);
    EXPECT_EQ(script.boxes()[4].style & plat::mb::ButtonMask, plat::mb::OK);

    short s259 = 259, s518 = 518;
    MsgBoxTimed(ownerText(), "x", s259, "Quilvane");
    MsgBoxTimed(ownerText(), "x", s518, "Quilvane");
    EXPECT_EQ(script.boxes()[5].timeoutMs, 10000);
    EXPECT_EQ(script.boxes()[6].timeoutMs, 16000);

    // A literal style 1 is changed the same way, only not written back.
    MsgBoxTimed(ownerText(), "x", 1, "Quilvane");
    EXPECT_EQ(script.boxes()[7].timeoutMs, 10000);
    EXPECT_EQ(script.boxes()[7].style & plat::mb::ButtonMask, plat::mb::OK);

    // A style whose time-out is not positive gets none.
    MsgBoxTimed(ownerText(), "x", -259, "Quilvane");
    EXPECT_EQ(script.boxes()[8].timeoutMs, 0);
    EXPECT_FALSE(MsgBoxPlainMode());
}

TEST_F(MsgBoxTimedTest, StyleIconLabelAndOwner)
{
    testing_support::MessageScript script;
    for (int i = 0; i < 5; ++i)
        script.expect(plat::id::OK).then(takes(4000));

    MsgBoxTimed(ownerText(), "Please select a file and try again.   ", 0, "Quilvane");
    const MessageRequest &box = script.boxes()[0];
    EXPECT_EQ(box.style, plat::mb::IconInformation | plat::mb::TaskModal);
    EXPECT_EQ(box.text, "Please select a file and try again.   ");
    EXPECT_EQ(box.title, "Quilvane");
    EXPECT_EQ(box.ownerHandle, owner.hWnd());
    EXPECT_TRUE(box.centred);
    EXPECT_EQ(box.okLabel, GetString(1323, "SelfClosing"));

    // A style with an icon of its own keeps it (48 + 64 would name none).
    MsgBoxTimed(ownerText(), "x", 48, "Quilvane");
    EXPECT_EQ(script.boxes()[1].style & plat::mb::IconMask, plat::mb::IconExclamation);
    MsgBoxTimed(ownerText(), "x", 64, "Quilvane");
    EXPECT_EQ(script.boxes()[2].style & plat::mb::IconMask, plat::mb::IconInformation);

    // The label in the current language.
    const int language = CurrentLanguageId();
    SetCurrentLanguageId(9);
    MsgBoxTimed(ownerText(), "x", 0, "Quilvane");
    EXPECT_EQ(script.boxes()[3].okLabel, "SelfClosing");
    SetCurrentLanguageId(1031);
    MsgBoxTimed("not a handle", "x", 0, "Quilvane");
    EXPECT_EQ(script.boxes()[4].okLabel, GetString(1323, "SelfClosing"));
    EXPECT_EQ(script.boxes()[4].ownerHandle, 0);
    SetCurrentLanguageId(language);
}

TEST_F(MsgBoxTimedTest, YesNoBoxWaitsForTheUser)
{
    testing_support::MessageScript script;
    script.expect(plat::id::No).then(takes(20000));
    short style = plat::mb::YesNo;
    EXPECT_EQ(MsgBoxTimed(ownerText(), "Save this file anyway?", style, "Warning!   "), plat::id::No);
    const MessageRequest &box = script.boxes()[0];
    EXPECT_EQ(box.style & plat::mb::ButtonMask, plat::mb::YesNo);
    // The time-out is handed on, but a Yes/No box has no close answer, so
    // the service never closes it.
    EXPECT_EQ(plat::closeAnswer(box.style), 0);
}

TEST_F(MsgBoxTimedTest, QuickAnswerIsKeptAndLaterBoxesArePlain)
{
    testing_support::MessageScript script;
    script.expect(plat::id::No, "first").then(takes(200));
    script.expect(plat::id::Yes, "second").then(takes(50));
    script.expect(plat::id::OK, "third").then(takes(9000));

    short style = plat::mb::YesNo;
    EXPECT_EQ(MsgBoxTimed(ownerText(), "first", style, "Quilvane"), plat::id::No);
    // One box only: the quick answer was not thrown away and asked again.
    EXPECT_EQ(script.boxes().size(), 1u);
    EXPECT_TRUE(MsgBoxPlainMode());

    // From now on the plain box: no time-out, no centring, no relabelling,
    // the same buttons and the information icon.
    EXPECT_EQ(MsgBoxTimed(ownerText(), "second", style, "Quilvane"), plat::id::Yes);
    const MessageRequest &plain = script.boxes()[1];
    EXPECT_EQ(plain.timeoutMs, 0);
    EXPECT_TRUE(plain.okLabel.isEmpty());
    EXPECT_FALSE(plain.centred);
    EXPECT_EQ(plain.style, plat::mb::YesNo | plat::mb::IconInformation);

    short okCancel = 1;   // in plain mode style 1 is left as it is
    EXPECT_EQ(MsgBoxTimed(ownerText(), "third", okCancel, "Quilvane"), plat::id::OK);
    EXPECT_EQ(okCancel, 1);
    EXPECT_EQ(script.boxes()[2].style & plat::mb::ButtonMask, plat::mb::OKCancel);
    EXPECT_TRUE(MsgBoxPlainMode());
}

TEST_F(MsgBoxTimedTest, SlowAnswerKeepsTheSelfClosingBox)
{
    testing_support::MessageScript script;
    script.expect(plat::id::OK).then(takes(1000));   // exactly one second: not quick
    script.expect(plat::id::OK).then(takes(4000));
    MsgBoxTimed(ownerText(), "a", 0, "Quilvane");
    EXPECT_FALSE(MsgBoxPlainMode());
    MsgBoxTimed(ownerText(), "b", 0, "Quilvane");
    EXPECT_EQ(script.boxes()[1].timeoutMs, 4000);
    EXPECT_FALSE(MsgBoxPlainMode());
}

TEST_F(MsgBoxTimedTest, BoxThatCouldNotBeShownFallsBackToThePlainBox)
{
    testing_support::MessageScript script;
    script.expect(0);                  // nothing shown
    script.expect(plat::id::Cancel);   // the plain box asks
    short style = plat::mb::YesNoCancel;
    EXPECT_EQ(MsgBoxTimed(ownerText(), "Continue?", style, "Quilvane"), plat::id::Cancel);
    ASSERT_EQ(script.boxes().size(), 2u);
    EXPECT_EQ(script.boxes()[1].text, "Continue?");
    EXPECT_EQ(script.boxes()[1].timeoutMs, 0);
    EXPECT_TRUE(MsgBoxPlainMode());
}

TEST_F(MsgBoxTimedTest, PositionedBoxIsCentredAndWaits)
{
    SetMsgBoxPlainMode(true);   // the positioned box does not look at it
    testing_support::MessageScript script;
    script.expect(plat::id::OK, "Cannot delete the root of disk E:\\");
    EXPECT_EQ(MsgBoxPositioned(owner.hWnd(), "Cannot delete the root of disk E:\\\r\n\r\nPlease select a folder.",
                               16, "Delete Folder"),
              plat::id::OK);
    const MessageRequest &box = script.boxes()[0];
    EXPECT_EQ(box.style, 16 | plat::mb::TaskModal);
    EXPECT_EQ(box.timeoutMs, 0);
    EXPECT_TRUE(box.okLabel.isEmpty());
    EXPECT_TRUE(box.centred);
    EXPECT_EQ(box.ownerHandle, owner.hWnd());
    EXPECT_EQ(box.title, "Delete Folder");
}
