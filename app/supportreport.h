// The support report (the program data) and the support mail: a plain-text
// report about the system that starts with an invitation to type a message,
// and a new message in the user's mail program with it as the body.
//
// The report holds only what support needs: the time, free memory and disk
// space, the system, the system drive's serial, the login name and the
// browser's program name; no settings, no paths of the user's files.
#pragma once

#include <QString>

// The facts of one report.
struct SupportFacts {
    QString utcTime;            // "2026-12-08 02:58:17 UTC"
    double freeMemoryMB = 0;
    double freeDiskMB = 0;
    QString osLine;             // "OS: Debian GNU/Linux 12 (bookworm) x86_64  Win version: 6.1.0-18-amd64 Build: #1 SMP ..."
    QString systemDriveSerial;  // signed decimal
    QString userName;
    QString browserCommand;     // the default browser's command line
};

// The facts of this system now; the system drive's serial as the main window
// recorded it at start-up.
SupportFacts GatherSupportFacts(const QString &systemDriveSerial);
// The report: text 181 and three line breaks, then "Date: ", "Free memory: ",
// "Free disk space: ", the system line, "System Drive: ", "Windows User: "
// and "Browser: " lines, each ended by CR LF.
QString FormatProgramDataReport(const SupportFacts &facts);
QString MakeProgramDataReport(const QString &systemDriveSerial);

// A number as the report writes it: a blank before a number that is not
// negative, "." as the decimal point, no trailing zeros, no zero before the
// point (0.5 gives " .5").
QString ReportNumberText(double value);
// The browser's program name from its command line: the name after the
// last separator, cut before the first double quote (`"C:\IE\iexplore.exe"
// -nohome` gives iexplore.exe); for a command of the desktop, the file name
// of its program ("/usr/bin/firefox --new-window" gives firefox).
QString BrowserNameFromCommand(const QString &command);

// The maker's support address (set when the program is built).
QString SupportMailAddress();
// The longest mail link handed to the mail program; a longer body is cut
// short with a note that the System Info button copies the whole report.
constexpr int kMailLinkLimit = 2000;
// "mailto:" + address + "?Subject=" + subject + "&Body=" + body, subject
// and body percent-encoded as UTF-8 (all but letters, digits and "-._~", so
// a line break is "%0D%0A", a blank "%20", "&" "%26").
QString MailtoLink(const QString &address, const QString &subject, const QString &body);
// Opens a new message in the user's mail program. False when there is none
// (the desktop names no program for mail links) or it could not be started;
// the caller then says so.
bool OpenMailMessage(int owner, const QString &subject, const QString &body, const QString &address);
// The message as text to paste into a mail: "To: ", "Subject: ", an empty
// line and the body, with CR LF line breaks.
QString MailMessageText(const QString &subject, const QString &body, const QString &address);

// The program's last error, for support (the support mail sends it).
QString &LastErrorText();
