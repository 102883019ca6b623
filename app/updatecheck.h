// The online update check: the maker's update server, the version file and
// its comparison, the date of the last check, and the manual update through
// the browser. Nothing downloaded is ever run: updates are installed by the
// system's package manager or by the user from the archive.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <optional>

// The update server: the per-user setting "UpdateServer" (application
// "VIDAVE", section "Startup"), else the address the program was built with
// (none by default: then nothing is fetched, and a check the user asks for
// says that the check is off).
// The address is a host with an optional port, optionally preceded by
// "http://" or "https://"; anything else counts as none.
struct UpdateServer {
    QString scheme;   // "http" or "https"
    QString host;     // "updates.example.com" or "127.0.0.1:8080", as messages show it
    bool valid() const { return !host.isEmpty(); }
    // scheme + "://" + host + path ("/version.txt").
    QString url(const QString &path) const;
};
UpdateServer UpdateServerAddress();
UpdateServer ParseUpdateServer(const QString &text);

// The first item of a version file: its first line up to a comma, quotes
// removed, trimmed of blanks.
QString FirstVersionItem(const QByteArray &fileBytes);
// A well-formed version text: one to four numbers of at most nine digits
// each, joined by "."; parts gets them.
bool ParseVersionText(const QString &text, QList<int> &parts);
// The server's version is offered when both texts are well formed, their
// first numbers are equal and they differ at all (part by part, a missing
// part counting as 0: 5.2.10 differs from 5.2.1, 5.3 equals 5.3.0). An older
// version with the same first number is offered too.
bool UpdateOffered(const QString &running, const QString &server);

// The date of the last check as stored: ISO "yyyy-MM-dd", or a short date
// of the locale (a two-digit year read in the current century). Not a date:
// today.
QDate ReadCheckDate(const QString &stored, const QDate &today);
QString CheckDateText(const QDate &date);
// Today for the update check (tests fix it).
QDate UpdateCheckToday();
void SetUpdateCheckToday(std::optional<QDate> today);

// Hands the link to the desktop (the browser downloads it).
void DownloadWithBrowserDialog(const QString &url);
