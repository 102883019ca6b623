// The online update check.
#include "app/updatecheck.h"

#include "app/frmabout.h"
#include "app/frmrecover.h"
#include "app/startup.h"
#include "app/startupchecks.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>

#ifndef QUILVANE_UPDATE_SERVER
#define QUILVANE_UPDATE_SERVER ""
#endif

namespace {

const QString kApp = QStringLiteral("VIDAVE");
const QString kSection = QStringLiteral("Startup");
const QString kLastCheck = QStringLiteral("LastCheck");
const QString kServerSetting = QStringLiteral("UpdateServer");
constexpr int kCheckIntervalDays = 15;
constexpr int kRetryAfterFailureDays = 30;

QString crlf() { return QStringLiteral("\r\n"); }

std::optional<QDate> &todayOverride()
{
    static std::optional<QDate> today;
    return today;
}

void saveCheckDate(const QDate &date) { SaveSetting(kApp, kSection, kLastCheck, CheckDateText(date)); }

QByteArray readFile(const QString &internalPath)
{
    QFile f(plat::toNative(internalPath));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(kDownloadTextLimit);
}

// The manual update: the browser message, or (where the desktop's browser is
// the system's own) the question whether to download the archive now.
void manualUpdate(const UpdateServer &server)
{
    const QString folder = plat::programFolder();
    if (!IsIeDefaultBrowser()) {
        DownloadReplaceFile(server.url(QStringLiteral("/updatebrowser.txt")), folder + QStringLiteral("updatebrowser.txt"));
        MsgBox(FormatString(GetString(1510, QStringLiteral("Please download the update from %0")), {server.host})
                   + QLatin1Char('.'),
               plat::mb::OK, GetString(1293, QStringLiteral("Update available.")));
        return;
    }
    // The reason is always the blank one: the automatic path, whose failure
    // the other reason tells, is never taken.
    const QString text = QStringLiteral(" ") + crlf()
        + GetString(1285, QStringLiteral("Press OK for downloading now with the Windows interface. Remove and install manually,"))
        + crlf() + FormatString(GetString(1509, QStringLiteral("or use your browser for downloading the update from %0")), {server.host});
    if (MsgBox(text, plat::mb::OKCancel + plat::mb::IconStop, GetString(1265, QStringLiteral("Quilvane update"))) != plat::id::OK)
        return;
    DownloadReplaceFile(server.url(QStringLiteral("/updatemanually.txt")), folder + QStringLiteral("updatemanually.txt"));
    DownloadWithBrowserDialog(server.url(QStringLiteral("/quilvane.zip")));
}

} // namespace

// ---- the server ------------------------------------------------------------------------------

QString UpdateServer::url(const QString &path) const { return scheme + QStringLiteral("://") + host + path; }

UpdateServer ParseUpdateServer(const QString &text)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    if (!t.contains(QLatin1String("://")))
        t.prepend(QStringLiteral("http://"));
    const QUrl u(t, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || u.host().isEmpty()
        || !u.userInfo().isEmpty() || (!u.path().isEmpty() && u.path() != QLatin1String("/")) || u.hasQuery()
        || u.hasFragment())
        return {};
    return {scheme, u.authority(QUrl::FullyEncoded)};
}

UpdateServer UpdateServerAddress()
{
    return ParseUpdateServer(GetSetting(kApp, kSection, kServerSetting, QStringLiteral(QUILVANE_UPDATE_SERVER)));
}

// ---- the version file --------------------------------------------------------------------------

QString FirstVersionItem(const QByteArray &fileBytes)
{
    qsizetype end = fileBytes.size();
    for (const char stop : {'\n', '\r', ','}) {
        const qsizetype at = fileBytes.indexOf(stop);
        if (at >= 0 && at < end)
            end = at;
    }
    QString item = QString::fromLatin1(fileBytes.left(std::min<qsizetype>(end, 256)));
    item.remove(QLatin1Char('"'));
    return TrimBlanks(item);
}

bool ParseVersionText(const QString &text, QList<int> &parts)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,3}$"));
    parts.clear();
    if (!form.match(text).hasMatch())
        return false;
    for (const QString &p : text.split(QLatin1Char('.')))
        parts << p.toInt();
    return true;
}

bool UpdateOffered(const QString &running, const QString &server)
{
    QList<int> mine, theirs;
    if (!ParseVersionText(running, mine) || !ParseVersionText(server, theirs) || mine[0] != theirs[0])
        return false;
    while (mine.size() < 4)
        mine << 0;
    while (theirs.size() < 4)
        theirs << 0;
    return mine != theirs;
}

// ---- the date of the last check -------------------------------------------------------------

QString CheckDateText(const QDate &date) { return date.toString(Qt::ISODate); }

QDate ReadCheckDate(const QString &stored, const QDate &today)
{
    const QString t = stored.trimmed();
    QDate d = QDate::fromString(t, Qt::ISODate);
    if (d.isValid())
        return d;
    const QLocale locale = QLocale::system();
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    d = locale.toDate(t, format);
    // Two-digit years are read as 19xx; the program wrote them this century.
    if (d.isValid() && !format.contains(QLatin1String("yyyy")) && d.year() < 2000)
        d = d.addYears(100);
    return d.isValid() ? d : today;
}

QDate UpdateCheckToday() { return todayOverride() ? *todayOverride() : QDate::currentDate(); }

void SetUpdateCheckToday(std::optional<QDate> today) { todayOverride() = today; }

void DownloadWithBrowserDialog(const QString &url) { ShellOpen(url, QStringLiteral("open"), QString(), QString(), 1); }

// ---- the check ----------------------------------------------------------------------------------

void frmRecover::CheckForUpdate(bool forced)
{
    // A check runs once at a time (its downloads let the window repaint).
    static bool running = false;
    if (running)
        return;
    running = true;
    const auto done = qScopeGuard([] { running = false; });

    const QDate today = UpdateCheckToday();
    const QDate last = ReadCheckDate(GetSetting(kApp, kSection, kLastCheck, QStringLiteral("0")), today);
    if (!forced && last.daysTo(today) < kCheckIntervalDays)
        return;
    const UpdateServer server = UpdateServerAddress();
    // Without a server (none built in, none set) the check is off, whatever
    // the connection.
    if (!server.valid()) {
        if (forced)
            MsgBoxTimed(QString::number(hWnd()),
                        GetString(2760, QStringLiteral("The update check is off: no update server is set.")), 0, QString());
        return;
    }
    int flags = 0;
    QString connection;
    if (!IsInternetConnected(flags, connection)) {
        if (forced)
            MsgBoxTimed(QString::number(hWnd()), GetString(94, QStringLiteral("No Internet connection detected.")), 0, QString());
        return;
    }
    saveCheckDate(today);
    // The window takes its events while the check downloads; its commands
    // refuse meanwhile, and End stops the download.
    const bool wasBusy = OperationBusy;
    OperationBusy = true;
    const auto idle = qScopeGuard([this, wasBusy] { OperationBusy = wasBusy; });
    const QString folder = plat::programFolder();
    const QString versionFile = folder + QStringLiteral("versie.txt");
    bool manual = false;
    bool tidy = true;
    if (!DownloadReplaceFile(server.url(QStringLiteral("/version.txt")), versionFile)) {
        if (AboutUpdateButtonShown())
            MsgBox(GetString(1281, QStringLiteral("Not able to retrieve version info.")) + crlf()
                       + GetString(1282, QStringLiteral("Be sure to be connected to the internet and try again later.")),
                   plat::mb::OK, GetString(1283, QStringLiteral("Update")));
        else
            saveCheckDate(today.addDays(-kRetryAfterFailureDays));
    } else {
        // Only a well-formed version compares; anything else the server
        // says ends the check without a word (the files stay).
        const QString offered = FirstVersionItem(readFile(versionFile));
        QList<int> parts;
        if (!ParseVersionText(offered, parts) || LeadingNumber(offered) == 0)
            return;
        saveCheckDate(today);
        const VersionNumbers v = ProgramVersionNumbers();
        const QString mine = QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
        if (UpdateOffered(mine, offered)) {
            const QString title = GetString(1265, QStringLiteral("Quilvane update"));
            const int answer = MsgBox(title + QLatin1Char(' ') + GetString(1270, QStringLiteral("available.")) + crlf() + crlf()
                                          + GetString(1271, QStringLiteral("Download and install the update"))
                                          + QLatin1Char(' ') + offered + QLatin1Char('?'),
                                      plat::mb::YesNoCancel + plat::mb::IconInformation, title);
            if (answer != plat::id::Yes && answer != plat::id::No)
                return;
            // Yes and No both lead to the manual update; the files stay.
            manual = true;
            tidy = false;
        } else if (forced) {
            const int answer = MsgBox(GetString(83, QStringLiteral("You are running the latest version.")) + crlf() + crlf()
                                          + GetString(1678, QStringLiteral("Re-install?")),
                                      plat::mb::YesNo, GetString(84, QStringLiteral("Quilvane Check Updates")));
            // A re-install is a manual update too: no installer is ever run.
            manual = answer == plat::id::Yes;
        }
    }
    if (tidy) {
        DeleteFiles(versionFile, false, false);
        DeleteFiles(folder + QStringLiteral("version.txt"), false, false);
    }
    if (manual)
        manualUpdate(server);
    plat::pumpEventsNow();
}
