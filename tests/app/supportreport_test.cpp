// The support report line by line, its facts on a fake system, the browser's
// name, and the mail link with its encoding and its length limit.
#include "app/supportreport.h"

#include "drive/driveinfo.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/os.h"
#include "tests/app/startup_fixture.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>

using namespace app_tests;

TEST(SupportReport, TheReportHasItsEightPartsLineByLine)
{
    SetCurrentLanguageId(9);
    SupportFacts f;
    f.utcTime = "2026-12-08 02:58:17 UTC";
    f.freeMemoryMB = 3071.5;
    f.freeDiskMB = 0.25;
    f.osLine = "OS: Linux  Win version: 6.1 Build:  0";
    f.systemDriveSerial = "-1234567890";
    f.userName = "anna";
    f.browserCommand = "\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" -osint -url \"%1\"";
    EXPECT_EQ(FormatProgramDataReport(f),
              "Please type your message here: \r\n\r\n\r\n"
              "Date: 2026-12-08 02:58:17 UTC\r\n"
              "Free memory:  3071.5MB\r\n"
              "Free disk space:  .25MB\r\n"
              "OS: Linux  Win version: 6.1 Build:  0\r\n"
              "System Drive: -1234567890\r\n"
              "Windows User: anna\r\n"
              "Browser: firefox.exe\r\n");

    SetCurrentLanguageId(1031);
    EXPECT_TRUE(FormatProgramDataReport(f).startsWith("Bitte geben Sie hier Ihre Nachricht ein: \r\n\r\n\r\nDate: "));
    SetCurrentLanguageId(9);

    for (const auto &[value, text] : std::vector<std::pair<double, QString>>{
             {0, " 0"}, {12, " 12"}, {0.5, " .5"}, {1234.56, " 1234.56"}, {2.1, " 2.1"}, {-1.25, "-1.25"}, {-0.5, "-.5"}})
        EXPECT_EQ(ReportNumberText(value), text) << value;
}

TEST(SupportReport, TheFactsComeFromTheSystem)
{
    plat::setKernelFacts(plat::KernelFacts{"Linux", "6.1.0-18-amd64", "x86_64",
                                           "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)",
                                           "Debian GNU/Linux 12 (bookworm)"});
    SetUtcClock([] { return QDateTime(QDate(2026, 12, 8), QTime(2, 58, 17), Qt::UTC); });
    const QString report = MakeProgramDataReport("-42");
    plat::setKernelFacts(std::nullopt);
    SetUtcClock({});

    const QStringList lines = report.split("\r\n");
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[3], "Date: 2026-12-08 02:58:17 UTC");
    EXPECT_TRUE(QRegularExpression("^Free memory:  [1-9][0-9]*(\\.[0-9]{1,2})?MB$").match(lines[4]).hasMatch()) << lines[4].toStdString();
    EXPECT_TRUE(QRegularExpression("^Free disk space:  [0-9]+MB$").match(lines[5]).hasMatch()) << lines[5].toStdString();
    EXPECT_EQ(lines[6], "OS: Debian GNU/Linux 12 (bookworm) x86_64  Win version: 6.1.0-18-amd64 Build: #1 SMP "
                        "PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)");
    EXPECT_EQ(lines[7], "System Drive: -42");
    EXPECT_TRUE(lines[8].startsWith("Windows User: "));
    EXPECT_TRUE(lines[9].startsWith("Browser: "));
    EXPECT_EQ(lines[10], "");
    // Nothing of the user's files or settings.
    EXPECT_FALSE(report.contains(QDir::homePath()));
}

TEST(SupportReport, TheSystemLinesAreThisSystemsOwn)
{
    // The kernel and the distribution as the system's own tools name them.
    QByteArray release, build;
    ASSERT_EQ(testing_support::runTool("uname", {"-r"}, &release), 0);
    ASSERT_EQ(testing_support::runTool("uname", {"-v"}, &build), 0);
    const QString os = GetKernelVersionText();
    EXPECT_TRUE(os.contains("  Win version: " + QString::fromLocal8Bit(release).trimmed() + " Build: "
                            + QString::fromLocal8Bit(build).simplified()))
        << os.toStdString();
    const QString osRelease = QString::fromUtf8(testing_support::readFileBytes("/etc/os-release"));
    const QRegularExpressionMatch pretty = QRegularExpression("^PRETTY_NAME=\"?([^\"\n]*)", QRegularExpression::MultilineOption).match(osRelease);
    if (pretty.hasMatch()) {
        EXPECT_TRUE(os.startsWith("OS: " + pretty.captured(1) + " ")) << os.toStdString();
    }
    // The system drive has an identity here, whatever its file system.
    EXPECT_NE(GetVolumeSerial("C:"), 0u);
}

TEST(SupportReport, TheBrowsersProgramNameIsTakenFromItsCommand)
{
    EXPECT_EQ(BrowserNameFromCommand("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"), "iexplore.exe");
    EXPECT_EQ(BrowserNameFromCommand("C:\\PROGRA~1\\Opera\\opera.exe"), "opera.exe");
    EXPECT_EQ(BrowserNameFromCommand("/usr/lib/firefox-esr/firefox-esr --new-window"), "firefox-esr");
    EXPECT_EQ(BrowserNameFromCommand("chromium"), "chromium");
    EXPECT_EQ(BrowserNameFromCommand(""), "");
}

TEST_F(FreshHome, SupportReportNamesTheDesktopsDefaultBrowser)
{
    env.desktop({{"http", "/opt/webby/bin/webby --new-window"}});
    EXPECT_EQ(GatherSupportFacts("1").browserCommand, "/opt/webby/bin/webby --new-window");
    EXPECT_TRUE(MakeProgramDataReport("1").contains("\r\nBrowser: webby\r\n"));
}

TEST(SupportMail, SubjectAndBodyAreEncodedSoTheMailProgramGetsThemWhole)
{
    const QString link = MailtoLink("support@zentarix.example", "Quilvane Support", "a\r\nb & c#d 100%");
    EXPECT_EQ(link, "mailto:support@zentarix.example?Subject=Quilvane%20Support&Body=a%0D%0Ab%20%26%20c%23d%20100%25");
    EXPECT_TRUE(MailtoLink("s@x", "s", "a\r\nb").endsWith("&Body=a%0D%0Ab"));
    EXPECT_TRUE(MailtoLink("s@x", "s", "x?y=z+1").endsWith("&Body=x%3Fy%3Dz%2B1"));
    EXPECT_TRUE(MailtoLink("s@x", "s", QString::fromUtf8("Grüße")).endsWith("&Body=Gr%C3%BC%C3%9Fe"));

    // A body too long for a link is cut at a whole character, with the note.
    QString longBody;
    for (int i = 0; i < 400; ++i)
        longBody += QString::fromUtf8("Zeile ü %1\r\n").arg(i);
    const QString cut = MailtoLink("s@x", "Quilvane Support", longBody);
    EXPECT_LE(cut.size(), kMailLinkLimit);
    EXPECT_TRUE(cut.startsWith("mailto:s@x?Subject=Quilvane%20Support&Body=Zeile%20%C3%BC%200%0D%0A"));
    const QString body = QUrl::fromPercentEncoding(cut.mid(cut.indexOf("&Body=") + 6).toLatin1());
    EXPECT_TRUE(longBody.startsWith(body.left(body.indexOf("\r\n...\r\n"))));
    EXPECT_TRUE(body.endsWith("(Shortened: the System Info button copies the whole report to the clipboard.)"));
}

TEST(SupportMail, TheLinkGoesToTheDesktopUnchanged)
{
    EnvironmentGuard env;
    env.desktop({{"mailto", "mailer"}});
    QStringList launched;
    SetLaunchHook([&](const QString &program, const QStringList &args, const QString &) {
        launched << QFileInfo(program).fileName() << args;
        return true;
    });
    EXPECT_TRUE(OpenMailMessage(0, "Quilvane Pro Support", "Last error: 5: x & y\r\n", "support@zentarix.example"));
    // Without a program for mail links nothing is started, and the caller is told.
    env.desktop({});
    EXPECT_FALSE(OpenMailMessage(0, "Quilvane Pro Support", "x", "support@zentarix.example"));
    SetLaunchHook({});
    EXPECT_EQ(launched, QStringList({"xdg-open", MailtoLink("support@zentarix.example", "Quilvane Pro Support",
                                                            "Last error: 5: x & y\r\n")}));
}
