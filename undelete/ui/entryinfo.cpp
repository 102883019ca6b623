// The recovery information of one entry: drive, name, path, attributes,
// dates, sizes, the verdict, the first cluster and whether it is in use.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/sectors.h"
#include "drive/strings.h"

#include <QLocale>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString grouped(int64_t value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(qlonglong(value));
}

QString dateText(double oleDate)
{
    const QDateTime t = OleDateToDateTime(oleDate);
    return QLocale().toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') + t.time().toString(QStringLiteral("hh:mm:ss"));
}

// Lines of text the information label shows below its first, empty line
// (where its title stands).
constexpr int kLabelLines = 9;

// Removes the text's last line break (the end of the line FormatInfo added).
void chopLineBreak(QString &text)
{
    if (text.endsWith(kCrLf))
        text.chop(2);
}

// The lines of an entry's path in the information text, at most room of
// them: the whole path, else with its outer folders given way to "...".
QString pathLinesWithin(const frmRecover &w, const QString &path, int room)
{
    auto within = [&](const QString &shown, QString &lines) {
        lines.clear();
        w.FormatInfo(shown, lines);
        return lines.count(kCrLf) <= room;
    };
    QString lines;
    if (room <= 0)
        return {};
    if (within(path, lines))
        return lines;
    // Outer folders give way to "...": the entry with its nearest folders,
    // else (a long name) the nearest folders alone.
    const QStringList parts = path.split(QLatin1Char('\\'));
    const QString dots = QStringLiteral("...\\");
    for (qsizetype drop = 1; drop < parts.size(); ++drop)
        if (within(dots + parts.mid(drop).join(QLatin1Char('\\')), lines))
            return lines;
    const QStringList folders = parts.mid(0, parts.size() - 1);
    for (qsizetype drop = 0; drop < folders.size(); ++drop)
        if (within((drop ? dots : QString()) + folders.mid(drop).join(QLatin1Char('\\')) + QLatin1Char('\\'), lines))
            return lines;
    return {};
}

} // namespace

void frmRecover::ShowEntryInformation(int index)
{
    if (index < 0 || index >= int(DeletedEntries.size()))
        return;
    if (DeletedEntries[size_t(index)].Recoverable == 0)
        CheckDeletedChain(index);
    DeletedEntryRecord &r = DeletedEntries[size_t(index)];
    const DriveInfoRecord &d = DriveInfo();
    const QString probable = GetString(650, QStringLiteral("Recovery: probable"));

    // The drive and name lines; the path follows them once the lines after
    // it are known (it gets the room they leave in the label).
    QString head = kCrLf;
    FormatInfo(GetString(1415, QStringLiteral("Drive:")) + QLatin1Char(' ') + SourceName.toUpper() + QLatin1Char('\\')
                   + d.VolumeLabel,
               head);
    const QString fileWord = GetString(1416, QStringLiteral("File:"));
    FormatInfo(fileWord + QLatin1Char(' ') + (r.LongName.size() <= 25 ? r.LongName : r.Name), head);
    if (r.IsDirectory())
        head.replace(fileWord, GetString(2157, QStringLiteral("Dir:")));
    QString rest = r.Path;
    rest.remove(r.Name);
    if (!r.LongName.isEmpty())
        rest.remove(r.LongName);
    const bool hasPath = !rest.isEmpty();

    QString text;
    if (!List2.Visible())
        text += kCrLf;
    if (r.MftIndex == 0)
        FormatInfo(GetString(1417, QStringLiteral("Attributes:")) + QLatin1Char(' ') + AttributesText(r.AttributeByte()),
                   text);
    FormatInfo(GetString(1418, QStringLiteral("Date created:")) + QLatin1Char(' ') + dateText(r.Created), text);
    FormatInfo(GetString(1419, QStringLiteral("Last modified:")) + QLatin1Char(' ') + dateText(r.Modified), text);

    const QString bytesWord = QLatin1Char(' ') + GetString(2158, QStringLiteral("bytes"));
    if (r.IsDirectory()) {
        if (r.IsDeleted()) {
            // A deleted folder is still there while its first cluster begins
            // with its own "." and ".." entries.
            const int64_t cluster = int64_t(uint32_t(r.FirstCluster));
            if (!IsDataCluster(d, cluster)) {
                r.Recoverable = 0;
            } else {
                int64_t got = 0;
                const QByteArray probe =
                    ReadSectors(SourceName, (cluster - 2) * int64_t(d.SectorsPerCluster) + d.FirstDataSector, 0, 34, got);
                if (probe.size() >= 34 && got > 0
                    && !(probe[0] == '.' && probe[1] == ' ' && probe[32] == '.' && probe[33] == '.'))
                    r.Recoverable = 0;
            }
        }
    } else {
        FormatInfo(GetString(1422, QStringLiteral("File size:")) + QLatin1Char(' ') + grouped(r.Size) + bytesWord, text);
        if (r.IsDeleted()) {
            FormatInfo(GetString(1423, QStringLiteral("Recoverable:")) + QLatin1Char(' ') + grouped(r.Recoverable)
                           + bytesWord,
                       text);
            if (r.Recoverable != 0)
                FormatInfo(r.RecoverableInPart() ? GetString(1424, QStringLiteral("Recovery: probable partly"))
                                                 : probable,
                           text);
            else
                FormatInfo(GetString(652, QStringLiteral("Recovery: impossible")), text);
        }
    }
    if (r.FirstCluster != 0)
        FormatInfo(GetString(1425, QStringLiteral("First cluster:")) + QLatin1Char(' ') + grouped(uint32_t(r.FirstCluster)),
                   text);

    const QString occupiedWord = GetString(654, QStringLiteral("=occupied"));
    if (r.Recoverable < 1) {
        if (r.Occupied) {
            chopLineBreak(text);
            text += occupiedWord;
        }
    } else if (r.IsDeleted()) {
        if (r.Occupied == 0 && r.FirstCluster != 0)
            r.Occupied = SourceClusterUse(SourceName, uint32_t(r.FirstCluster), true) == ClusterUse::Used ? -1 : 0;
        // Bytes in clusters another file uses are never "probable".
        if (r.Occupied) {
            chopLineBreak(text);
            text += occupiedWord + kCrLf;
            FormatInfo(GetString(2156, QStringLiteral("Cross referenced")), text);
            text.replace(probable, GetString(1421, QStringLiteral("Recovery:")) + QLatin1Char(' ')
                                       + GetString(644, QStringLiteral("Might be possible")));
        }
    }
    // The label shows the first lines of the text; the path takes what the
    // other lines leave, and one line at least, so that it pushes out no
    // more than the first-cluster lines after the verdict.
    QString pathLines;
    if (hasPath) {
        const int used = int(head.count(kCrLf)) - 1 + int(text.count(kCrLf)) + (text.endsWith(kCrLf) ? 0 : 1);
        pathLines = pathLinesWithin(*this, r.Path, std::max(1, kLabelLines - used));
    }
    text = head + pathLines + text + QChar(1);

    const int at = List2.ListCount() + 1;
    while (EntryInfoTexts.size() <= at)
        EntryInfoTexts.append(QString());
    EntryInfoTexts[at] = text;
    TruncateInfo(text);
    lblSpecs.setCaption(text);
}
