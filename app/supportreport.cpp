// The support report and the support mail.
#include "app/supportreport.h"

#include "drive/drivelist.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/paths.h"

#include <QProcess>
#include <QUrl>
#include <cmath>

#ifndef QUILVANE_SUPPORT_ADDRESS
#define QUILVANE_SUPPORT_ADDRESS ""
#endif

namespace {

QString crlf() { return QStringLiteral("\r\n"); }

} // namespace

QString ReportNumberText(double value)
{
    if (!std::isfinite(value))
        value = 0;
    QString t = QString::number(value, 'f', 2);
    if (t.contains(QLatin1Char('.'))) {
        while (t.endsWith(QLatin1Char('0')))
            t.chop(1);
        if (t.endsWith(QLatin1Char('.')))
            t.chop(1);
    }
    if (t == QLatin1String("-0"))
        t = QStringLiteral("0");
    if (t.startsWith(QLatin1String("0.")))
        t.remove(0, 1);
    else if (t.startsWith(QLatin1String("-0.")))
        t.remove(1, 1);
    return t.startsWith(QLatin1Char('-')) ? t : QLatin1Char(' ') + t;
}

QString BrowserNameFromCommand(const QString &command)
{
    const QString c = command.trimmed();
    if (c.contains(QLatin1Char('\\'))) {
        QString name = c.mid(c.lastIndexOf(QLatin1Char('\\')) + 1);
        const qsizetype quote = name.indexOf(QLatin1Char('"'));
        return quote >= 0 ? name.left(quote) : name;
    }
    const QString program = QProcess::splitCommand(c).value(0);
    return program.mid(program.lastIndexOf(QLatin1Char('/')) + 1);
}

SupportFacts GatherSupportFacts(const QString &systemDriveSerial)
{
    SupportFacts f;
    f.utcTime = GetUtcTimeText();
    f.freeMemoryMB = BytesToMB(double(GetFreeMemoryBytes()));
    int32_t totalMB = 0;
    f.freeDiskMB = GetDiskSpaceMB(plat::toInternal(QStringLiteral("/")).left(2), totalMB);
    f.osLine = GetKernelVersionText();
    f.systemDriveSerial = systemDriveSerial;
    f.userName = GetWindowsUserName(QString());
    f.browserCommand = GetDefaultBrowserCommand();
    return f;
}

QString FormatProgramDataReport(const SupportFacts &f)
{
    return GetString(181, QStringLiteral("Please type your message here: ")) + crlf() + crlf() + crlf()
        + QStringLiteral("Date: ") + f.utcTime + crlf()
        + QStringLiteral("Free memory: ") + ReportNumberText(f.freeMemoryMB) + QStringLiteral("MB") + crlf()
        + QStringLiteral("Free disk space: ") + ReportNumberText(f.freeDiskMB) + QStringLiteral("MB") + crlf()
        + f.osLine + crlf()
        + QStringLiteral("System Drive: ") + f.systemDriveSerial + crlf()
        + QStringLiteral("Windows User: ") + f.userName + crlf()
        + QStringLiteral("Browser: ") + BrowserNameFromCommand(f.browserCommand) + crlf();
}

QString MakeProgramDataReport(const QString &systemDriveSerial)
{
    return FormatProgramDataReport(GatherSupportFacts(systemDriveSerial));
}

QString SupportMailAddress() { return QStringLiteral(QUILVANE_SUPPORT_ADDRESS); }

QString MailtoLink(const QString &address, const QString &subject, const QString &body)
{
    const QString head = QStringLiteral("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(address, "@"))
        + QStringLiteral("?Subject=") + QString::fromLatin1(QUrl::toPercentEncoding(subject)) + QStringLiteral("&Body=");
    const QString full = QString::fromLatin1(QUrl::toPercentEncoding(body));
    if (head.size() + full.size() <= kMailLinkLimit)
        return head + full;
    // Too long for some mail programs: the body's beginning, whole characters
    // only, and the note.
    const QString note = QString::fromLatin1(QUrl::toPercentEncoding(
        crlf() + QStringLiteral("...") + crlf()
        + GetString(2750, QStringLiteral("(Shortened: the System Info button copies the whole report to the clipboard.)"))));
    const qsizetype room = kMailLinkLimit - head.size() - note.size();
    QString kept;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const qsizetype n = body[i].isHighSurrogate() && i + 1 < body.size() ? 2 : 1;
        const QString piece = QString::fromLatin1(QUrl::toPercentEncoding(body.mid(i, n)));
        if (kept.size() + piece.size() > room)
            break;
        kept += piece;
        i += n - 1;
    }
    return head + kept + note;
}

bool OpenMailMessage(int, const QString &subject, const QString &body, const QString &address)
{
    if (GetDefaultMailCommand().isEmpty())
        return false;
    return ShellOpen(MailtoLink(address, subject, body), QStringLiteral("open"), QString(), QString(), 1);
}

QString MailMessageText(const QString &subject, const QString &body, const QString &address)
{
    return QStringLiteral("To: ") + address + crlf() + QStringLiteral("Subject: ") + subject + crlf() + crlf() + body;
}

QString &LastErrorText()
{
    static QString text;
    return text;
}
