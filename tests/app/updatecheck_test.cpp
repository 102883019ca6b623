// The update check against a local server: when it is due, the version rule,
// the offer and the manual update through the desktop, the re-install
// question, and every way the server can fail.
#include "tests/app/update_fixture.h"

#include "drive/ui/msgbox.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QLocale>

using namespace app_tests;
using testing_support::LocalHttpServer;
using testing_support::MessageScript;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

const QStringList kVersionOnly{QStringLiteral("/version.txt")};

class UpdateCheck : public UpdateHome {
protected:
    // Makes the system's own browser the default, which offers the archive's
    // download instead of a message.
    static void systemBrowserIsDefault()
    {
        RegSetValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\http\\shell\\open\\command"),
                    QString(), QStringLiteral("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"));
    }
};

} // namespace

TEST(UpdateRules, VersionsCompareNumberByNumberWithinOneMajor)
{
    const struct {
        const char *running, *server;
        bool offered;
    } cases[] = {
        {"5.2.17", "5.2.18", true},  {"5.2.17", "5.2.17", false}, {"5.2.17", "5.2.9", true},
        {"5.2.17", "6.0", false},    {"5.2.1", "5.2.10", true},   {"5.2.2", "5.2.20", true},
        {"5.3", "5.3.0", false},     {"5.2.17", "52.17", false},  {"5.2.17", "5.2.17.1", true},
        // Malformed, huge or hostile texts never compare.
        {"5.2.17", "5.2.x", false},  {"5.2.17", "", false},       {"5.2.17", "5..2", false},
        {"5.2.17", "5.2.99999999999", false}, {"5.2.17", "<html>", false}, {"5.2.17", "5.2.18 beta", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UpdateOffered(c.running, c.server), c.offered) << c.running << " / " << c.server;

    EXPECT_EQ(FirstVersionItem("\"5.3.1\",9f86d081884c7d65\r\nmore"), "5.3.1");
    EXPECT_EQ(FirstVersionItem("  5.3.2\n"), "5.3.2");
    EXPECT_EQ(FirstVersionItem(QByteArray(5000, '7')).size(), 256);
}

TEST(UpdateRules, ServerAddressIsAHostWithAnOptionalPortAndScheme)
{
    EXPECT_EQ(ParseUpdateServer("127.0.0.1:8080").url("/version.txt"), "http://127.0.0.1:8080/version.txt");
    EXPECT_EQ(ParseUpdateServer("https://updates.example.com/").url("/x"), "https://updates.example.com/x");
    EXPECT_EQ(ParseUpdateServer("http://updates.example.com").host, "updates.example.com");
    for (const char *bad : {"", "   ", "ftp://host", "file:///etc", "http://user@host", "http://host/path",
                            "http://host?x=1", "http://"})
        EXPECT_FALSE(ParseUpdateServer(bad).valid()) << bad;
}

TEST(UpdateRules, CheckDatesAreStoredInIsoFormAndReadInTheLocaleToo)
{
    const QDate today(2026, 3, 10);
    EXPECT_EQ(CheckDateText(QDate(2025, 1, 5)), "2025-01-05");
    EXPECT_EQ(ReadCheckDate("2025-01-05", today), QDate(2025, 1, 5));
    // Not a date counts as today: with the default "0" nothing is due.
    EXPECT_EQ(ReadCheckDate("0", today), today);
    EXPECT_EQ(ReadCheckDate("", today), today);
    // A short date of the locale, even with a two-digit year, is this century's.
    const QLocale locale = QLocale::system();
    const QString shortForm = locale.toString(QDate(2025, 1, 5), locale.dateFormat(QLocale::ShortFormat));
    EXPECT_EQ(ReadCheckDate(shortForm, today), QDate(2025, 1, 5)) << shortForm.toStdString();
}

TEST_F(UpdateCheck, RunsWhenFifteenDaysHavePassedOrWhenForced)
{
    server.serve("/version.txt", "5.2.17\r\n");
    MessageScript none;

    setLastCheck(CheckDateText(today.addDays(-14)));
    w->CheckForUpdate(false);
    EXPECT_TRUE(server.requests().isEmpty());

    setLastCheck("0");
    w->CheckForUpdate(false);
    EXPECT_TRUE(server.requests().isEmpty());

    setLastCheck(CheckDateText(today.addDays(-15)));
    w->CheckForUpdate(false);
    EXPECT_EQ(server.requests(), kVersionOnly);
    EXPECT_EQ(lastCheck(), "2026-03-10");
    // Nothing newer: the version files are tidied away.
    EXPECT_FALSE(QFileInfo::exists(programFile("versie.txt")));
}

TEST_F(UpdateCheck, ForcedWithNothingNewerAsksToReinstall)
{
    server.serve("/version.txt", "5.2.17");
    ASSERT_TRUE(writeFileBytes(programFile("version.txt"), "left by an earlier version"));
    {
        MessageScript script;
        script.expect(plat::id::No, "You are running the latest version.\r\n\r\nRe-install?");
        w->CheckForUpdate(true);
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].title, "Quilvane Check Updates");
        EXPECT_EQ(script.boxes()[0].style & plat::mb::ButtonMask, plat::mb::YesNo);
    }
    EXPECT_FALSE(QFileInfo::exists(programFile("versie.txt")));
    EXPECT_FALSE(QFileInfo::exists(programFile("version.txt")));

    // A newer major version is never offered either.
    server.serve("/version.txt", "6.0");
    MessageScript script;
    script.expect(plat::id::Yes, "You are running the latest version.");
    script.expect(plat::id::OK, "Please download the update from " + server.host() + ".");
    w->CheckForUpdate(true);
    // A re-install is a manual update: no package is fetched, nothing is run.
    EXPECT_EQ(server.requests(), QStringList({"/version.txt", "/version.txt", "/updatebrowser.txt"}));
    EXPECT_TRUE(launched.isEmpty());
}

TEST_F(UpdateCheck, ANewerVersionIsOfferedAndDownloadedByTheUser)
{
    server.serve("/version.txt", "\"5.2.18\",notused\r\n");
    server.serve("/updatebrowser.txt", "noted");
    {
        MessageScript script;
        script.expect(plat::id::Yes);
        script.expect(plat::id::OK);
        w->CheckForUpdate(true);
        ASSERT_EQ(script.boxes().size(), 2u);
        const plat::MessageRequest &offer = script.boxes()[0];
        EXPECT_EQ(offer.text, "Quilvane update available.\r\n\r\nDownload and install the update 5.2.18?");
        EXPECT_EQ(offer.title, "Quilvane update");
        EXPECT_EQ(offer.style, plat::mb::YesNoCancel + plat::mb::IconInformation);
        EXPECT_EQ(script.boxes()[1].text, "Please download the update from " + server.host() + ".");
        EXPECT_EQ(script.boxes()[1].title, "Update available.");
    }
    EXPECT_EQ(server.requests(), QStringList({"/version.txt", "/updatebrowser.txt"}));
    EXPECT_EQ(readFileBytes(programFile("updatebrowser.txt")), QByteArray("noted"));
    EXPECT_TRUE(QFileInfo::exists(programFile("versie.txt")));   // the manual path keeps it

    // With the system's browser as the default, OK hands the archive to the
    // desktop, which downloads it.
    systemBrowserIsDefault();
    {
        MessageScript script;
        script.expect(plat::id::No);   // "No" leads to the manual update too
        script.expect(plat::id::OK, "or use your browser for downloading the update from " + server.host());
        w->CheckForUpdate(true);
        EXPECT_EQ(script.boxes()[1].title, "Quilvane update");
        EXPECT_EQ(script.boxes()[1].style, plat::mb::OKCancel + plat::mb::IconStop);
    }
    EXPECT_EQ(server.requests().mid(2), QStringList({"/version.txt", "/updatemanually.txt"}));
    EXPECT_EQ(launched, QStringList{"xdg-open " + server.url("/quilvane.zip")});

    // Cancel ends at once.
    MessageScript script;
    script.expect(plat::id::Cancel);
    w->CheckForUpdate(true);
    EXPECT_EQ(launched.size(), 1);
    EXPECT_FALSE(server.requests().contains("/quilvane.msi"));
    EXPECT_EQ(lastCheck(), "2026-03-10");
}

TEST_F(UpdateCheck, AnAnswerThatIsNoVersionIsIgnoredQuietly)
{
    setLastCheck(CheckDateText(today.addDays(-40)));
    for (const QByteArray &answer : {QByteArray("<html><body>Welcome</body></html>"), QByteArray("0"),
                                     QByteArray("5.2.18\x01\x02"), QByteArray(200000, 'x')}) {
        server.serve("/version.txt", answer);
        MessageScript none;
        w->CheckForUpdate(true);
        EXPECT_EQ(lastCheck(), "2026-03-10");
        EXPECT_TRUE(QFileInfo::exists(programFile("versie.txt")));
    }
    // An answer too large for a version file is not taken at all.
    QFile::remove(programFile("versie.txt"));
    server.serve("/version.txt", QByteArray(3 << 20, '5'));
    setLastCheck("2026-01-01");
    MessageScript none;
    w->CheckForUpdate(false);
    EXPECT_EQ(lastCheck(), "2026-02-08");
    EXPECT_FALSE(QFileInfo::exists(programFile("versie.txt")));
    EXPECT_EQ(QDir(home).entryList({"versie*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(UpdateCheck, AFailedFetchTellsTheAboutBoxAndRetriesSoonAtStartUp)
{
    // 404 from the start-up check: nothing shown, and the next start checks
    // again; the About box is not made on the way.
    setLastCheck("2026-01-01");
    {
        MessageScript none;
        w->CheckForUpdate(false);
    }
    EXPECT_EQ(lastCheck(), "2026-02-08");
    EXPECT_EQ(AboutBoxInstances(), 0);
    EXPECT_FALSE(QFileInfo::exists(programFile("versie.txt")));

    // The same failure from the About box's button is told.
    ShowAboutBox();
    ASSERT_TRUE(AboutBoxIfLoaded());
    {
        MessageScript script;
        script.expect(plat::id::OK, "Not able to retrieve version info.\r\nBe sure to be connected to the internet and try again later.");
        AboutBoxIfLoaded()->CmdCheckUpdate.Click();
        EXPECT_EQ(script.boxes().at(0).title, "Update");
    }
    EXPECT_EQ(lastCheck(), "2026-03-10");
}

TEST_F(UpdateCheck, AServerThatNeverAnswersOrIsNotThereEndsTheCheck)
{
    server.route("/version.txt", LocalHttpServer::Route::never());
    MessageScript none;
    setLastCheck("2026-01-01");
    w->CheckForUpdate(false);   // the stall limit ends the download
    EXPECT_EQ(lastCheck(), "2026-02-08");
    EXPECT_EQ(server.requests(), kVersionOnly);

    useServer(QStringLiteral("127.0.0.1:%1").arg(LocalHttpServer::closedPort()));
    setLastCheck("2026-01-01");
    w->CheckForUpdate(false);
    EXPECT_EQ(lastCheck(), "2026-02-08");
    EXPECT_EQ(server.requests(), kVersionOnly);
}

TEST_F(UpdateCheck, ASlowServerIsCutOffAtTheDeadlineAndEndStopsTheDownload)
{
    server.route("/version.txt", LocalHttpServer::Route::trickle("5.2.18\r\n" + QByteArray(4000, ' '), 2));
    w->setEnabled(true);
    SetDownloadDeadlineMs(1500);
    setLastCheck("2026-01-01");
    {
        // The window runs during the download, but a command is refused.
        MessageScript script;
        script.expect(plat::id::OK, "Still busy");
        QTimer::singleShot(300, [this] { w->CmdScan_Click(); });
        w->CheckForUpdate(false);
        EXPECT_EQ(script.pending(), 0);
    }
    EXPECT_FALSE(w->OperationBusy);
    EXPECT_FALSE(w->OperationRunning);
    EXPECT_EQ(lastCheck(), "2026-02-08") << "a failed fetch: checked again at the next start";
    EXPECT_EQ(QDir(home).entryList({"*vers*"}, QDir::Files | QDir::Hidden), QStringList());

    // End during the download (the deadline long again): the download stops
    // at once, and the program ends on the next pass.
    SetDownloadDeadlineMs(0);
    setLastCheck("2026-01-01");
    QElapsedTimer clock;
    clock.start();
    {
        MessageScript script;
        script.expect(plat::id::OK, "Still busy. Finishing");
        QTimer::singleShot(300, [this] { w->CmdEnd_Click(); });
        w->CheckForUpdate(false);
    }
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(QDir(home).entryList({"*vers*"}, QDir::Files | QDir::Hidden), QStringList());
    EXPECT_EQ(exits, 0);
    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
}

TEST_F(UpdateCheck, WithoutAConnectionOrAServerNothingIsFetched)
{
    connected = false;
    setLastCheck("2026-01-01");
    {
        MessageScript none;
        w->CheckForUpdate(false);
    }
    {
        MessageScript script;
        script.expect(plat::id::OK, "No Internet connection detected.");
        w->CheckForUpdate(true);
        EXPECT_EQ(script.boxes().at(0).title, "");
        EXPECT_GT(script.boxes().at(0).timeoutMs, 0);
    }
    // No server (the program's default, or a setting that names none): the
    // check is off and says so, connected or not.
    for (const char *address : {"", "ftp://host"}) {
        connected = !connected;
        useServer(address);
        SetMsgBoxPlainMode(false);   // a quick answer made notices plain boxes
        MessageScript script;
        script.expect(plat::id::OK, "The update check is off: no update server is set.");
        w->CheckForUpdate(true);
        EXPECT_GT(script.boxes().at(0).timeoutMs, 0);
    }
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(lastCheck(), "2026-01-01");
}
