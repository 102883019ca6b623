// The About box: its version line, its captions in each language, one box at
// a time, the support mail with and without the program data, and the
// program data on the clipboard.
#include "tests/app/update_fixture.h"

#include "app/supportreport.h"
#include "tests/support/responder.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QUrl>

using namespace app_tests;
using testing_support::MessageScript;

namespace {

class AboutBox : public UpdateHome {
protected:
    void SetUp() override
    {
        UpdateHome::SetUp();
        env.desktop({{"mailto", "/opt/mailer"}});
    }
    frmAboutRecvr &open()
    {
        w->ProgramTitle = "Quilvane Pro";   // as start-up sets it
        ShowAboutBox();
        return *AboutBoxIfLoaded();
    }
    // The body of the one mail link handed to the desktop.
    QString mailBody() const
    {
        EXPECT_EQ(launched.size(), 1);
        const QString link = launched.value(0);
        EXPECT_TRUE(link.startsWith("xdg-open mailto:support@")) << link.toStdString();
        EXPECT_TRUE(link.contains("?Subject=Quilvane%20Pro%20Support&Body=")) << link.toStdString();
        return QUrl::fromPercentEncoding(link.mid(link.indexOf("&Body=") + 6).toLatin1());
    }
    void TearDown() override
    {
        LastErrorText().clear();
        UpdateHome::TearDown();
    }
};

} // namespace

TEST(AboutVersion, TheRevisionsFirstDigitEndsTheVersionAndTheRestFollows)
{
    const QString date = "2026-12-08";
    EXPECT_EQ(AboutVersionLine({5, 2, 37}, date), "Version 5.2.3   revision #7   date:  2026-12-08");
    EXPECT_EQ(AboutVersionLine({5, 2, 30}, date), "Version 5.2.3   date:  2026-12-08");
    EXPECT_EQ(AboutVersionLine({5, 2, 5}, date), "Version 5.2.5   date:  2026-12-08");
    EXPECT_EQ(AboutVersionLine({5, 2, 105}, date), "Version 5.2.1   revision #05   date:  2026-12-08");
    EXPECT_EQ(AboutVersionLine({5, 2, 100}, ""), "Version 5.2.1   date:  ");
}

TEST_F(AboutBox, ShowsTheProgramInTheChosenLanguage)
{
    SetProgramVersionOverride(VersionNumbers{5, 2, 37});
    frmAboutRecvr &box = open();
    EXPECT_EQ(box.Caption(), " About Quilvane");
    EXPECT_TRUE(QRegularExpression("^Version 5\\.2\\.3   revision #7   date:  \\d{4}-\\d\\d-\\d\\d$")
                    .match(box.lblVersion.Caption())
                    .hasMatch())
        << box.lblVersion.Caption().toStdString();
    EXPECT_EQ(box.lblTitle.Caption(), "Quilvane Pro");
    EXPECT_EQ(box.lblDescription.shownText().split('\n').value(0), "File & Data Recovery Tool for Removable Media");
    EXPECT_EQ(box.CmdCheckUpdate.Caption(), "Check for update");
    EXPECT_EQ(box.Command1.Caption(), "Email Support");
    EXPECT_EQ(box.cmdSysInfo.Caption(), "&System Info..");
    EXPECT_EQ(box.CmdOK.Caption(), "OK");
    EXPECT_TRUE(box.Visible());
    EXPECT_TRUE(box.CmdCheckUpdate.Visible());
    EXPECT_TRUE(box.cmdSysInfo.Visible());
    EXPECT_TRUE(AboutUpdateButtonShown());

    // Opened again: a new box, its captions made anew (now in German).
    SetCurrentLanguageId(1031);
    frmAboutRecvr &again = open();
    QCoreApplication::processEvents();
    EXPECT_EQ(AboutBoxInstances(), 1);
    EXPECT_EQ(AboutBoxIfLoaded(), &again);
    EXPECT_EQ(again.Caption(), " Info über Quilvane");
    EXPECT_TRUE(again.lblVersion.Caption().startsWith("Version 5.2.3   Revision #7   Datum:  "));
    EXPECT_EQ(again.CmdCheckUpdate.Caption(), "Nach Updates suchen");

    // OK closes and releases it.
    again.CmdOK.Click();
    EXPECT_EQ(AboutBoxIfLoaded(), nullptr);
    EXPECT_FALSE(AboutUpdateButtonShown());
    QCoreApplication::processEvents();
    EXPECT_EQ(AboutBoxInstances(), 0);
}

TEST_F(AboutBox, TheSupportMailCarriesTheDataWhenWantedAndTheLastErrorOnce)
{
    frmAboutRecvr &box = open();
    {
        MessageScript script;
        script.expect(plat::id::No, "Please include the program data.\r\n\r\nDo you want to include the program data?   ");
        box.Command1.Click();
        EXPECT_EQ(script.boxes().at(0).title, "Request support");
        EXPECT_EQ(script.boxes().at(0).style & plat::mb::ButtonMask, plat::mb::YesNo);
    }
    EXPECT_EQ(mailBody(), "");

    launched.clear();
    LastErrorText() = "52: Bad file name or number";
    {
        MessageScript script;
        script.expect(plat::id::Yes);
        box.Command1.Click();
    }
    const QString body = mailBody();
    EXPECT_TRUE(body.startsWith("Please type your message here: \r\n\r\n\r\nDate: ")) << body.toStdString();
    EXPECT_TRUE(body.endsWith("\r\nLast error: 52: Bad file name or number\r\n")) << body.toStdString();

    // A last error already prefixed in the current language is not prefixed again.
    SetCurrentLanguageId(1031);
    launched.clear();
    LastErrorText() = "Letzter Fehler: x\r\n";
    {
        MessageScript script;
        script.expect(plat::id::No);
        box.Command1.Click();
    }
    EXPECT_EQ(mailBody(), "Letzter Fehler: x\r\n");
}

TEST_F(AboutBox, WithoutAMailProgramTheUserIsToldAndMayCopyTheMessage)
{
    env.desktop({});   // no program for mail links
    frmAboutRecvr &box = open();
    LastErrorText() = "52: Bad file name or number";
    QGuiApplication::clipboard()->setText("before");
    {
        MessageScript script;
        script.expect(plat::id::Yes, "Do you want to include the program data?");
        script.expect(plat::id::Yes, "No mail program opened. Copy the message to the clipboard, to paste it into a mail "
                                     "to support@zentarix.example?");
        box.Command1.Click();
        EXPECT_EQ(script.boxes().at(1).title, "Request support");
    }
    EXPECT_TRUE(launched.isEmpty());
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("To: support@zentarix.example\r\nSubject: Quilvane Pro Support\r\n\r\n"
                                  "Please type your message here: \r\n"))
        << copied.toStdString();
    EXPECT_TRUE(copied.endsWith("\r\nLast error: 52: Bad file name or number\r\n")) << copied.toStdString();

    // No: nothing is copied.
    QGuiApplication::clipboard()->setText("before");
    {
        MessageScript script;
        script.expect(plat::id::No).expect(plat::id::No, "No mail program opened.");
        box.Command1.Click();
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

TEST_F(AboutBox, SystemInfoPutsTheProgramDataOnTheClipboard)
{
    w->SystemVolumeSerialText = "-17";
    frmAboutRecvr &box = open();
    {
        MessageScript script;
        script.expect(plat::id::OK, "\r\n\r\n\r\nDate: ");
        script.expect(plat::id::OK, "System Information Is Unavailable At This Time");
        box.cmdSysInfo.Click();
        ASSERT_EQ(script.boxes().size(), 2u);
        EXPECT_EQ(script.boxes()[0].title, "Quilvane data");
        EXPECT_EQ(script.boxes()[0].style, plat::mb::OK);
        EXPECT_FALSE(script.boxes()[0].text.contains("Please type your message here"));
        EXPECT_TRUE(script.boxes()[0].text.contains("\r\nSystem Drive: -17\r\n"));
        EXPECT_EQ(script.boxes()[1].title, "Quilvane");
        EXPECT_EQ(script.boxes()[1].style & plat::mb::IconMask, plat::mb::IconInformation);
        EXPECT_EQ(script.boxes()[1].ownerHandle, box.hWnd());
    }
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Please type your message here: \r\n")) << copied.toStdString();
    EXPECT_TRUE(copied.contains("\r\nSystem Drive: -17\r\n"));
}

TEST_F(AboutBox, TheAboutLinkOpensOneFreshBoxAndNoneWhileBusy)
{
    w->OperationRunning = true;
    {
        MessageScript script;
        script.expect(plat::id::OK, "Still busy");
        w->lblAbout.Click();
    }
    EXPECT_EQ(AboutBoxIfLoaded(), nullptr);
    EXPECT_EQ(AboutBoxInstances(), 0);

    w->OperationRunning = false;
    w->lblAbout.Click();
    frmAboutRecvr *first = AboutBoxIfLoaded();
    ASSERT_NE(first, nullptr);
    first->setCaption("changed");
    w->lblAbout.Click();
    QCoreApplication::processEvents();
    EXPECT_EQ(AboutBoxInstances(), 1);
    ASSERT_NE(AboutBoxIfLoaded(), nullptr);
    EXPECT_EQ(AboutBoxIfLoaded()->Caption(), " About Quilvane");
    EXPECT_TRUE(AboutBoxIfLoaded()->Visible());
}
