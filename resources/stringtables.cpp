#include "resources/stringtables.h"

#include <QFile>

namespace {

QString resourceName(int languageId)
{
    switch (languageId) {
    case 9: return QStringLiteral(":/strings/en.txt");
    case 1031: return QStringLiteral(":/strings/de.txt");
    case 1043: return QStringLiteral(":/strings/nl.txt");
    default: return {};
    }
}

QString unescape(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw.at(i + 1);
        switch (next.unicode()) {
        case 'n': out += QStringLiteral("\r\n"); break;
        case 't': out += u'\t'; break;
        case 's': out += u' '; break;
        case '\\': out += u'\\'; break;
        default: out += c; out += next; break;   // not an escape: keep both
        }
        ++i;
    }
    return out;
}

} // namespace

QList<int> StringTableLanguages()
{
    return {9, 1043, 1031};
}

QByteArray StringTableData(int languageId)
{
    const QString name = resourceName(languageId);
    if (name.isEmpty())
        return {};
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QHash<int, QString> ParseStringTable(const QByteArray &data)
{
    QHash<int, QString> table;
    const QString text = QString::fromUtf8(data);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0)
            continue;
        bool ok = false;
        const int number = line.left(tab).trimmed().toInt(&ok);
        if (!ok || number < 1)
            continue;
        table.insert(number, unescape(line.mid(tab + 1).toString()));
    }
    return table;
}
