#include "scan/scantable.h"

#include "drive/strings.h"
#include "scan/learnedtypes.h"

#include <QStringList>
#include <algorithm>

QByteArray ScanTypeFilter;

namespace {

void appendEntries(QByteArray &filter, const TypeListRows &rows, const QString &origin)
{
    for (const TypeListRow &row : rows)
        if (row.Checked && row.Origin == origin)
            filter += '.' + row.Text.toLower() + row.Desc;
    filter += '|';
}

// The learned rows named by the learned part of a filter, in the order of
// the folder listing and, within a file, of the variants.
void appendLearnedRows(SignatureRows &work, const QByteArray &learnedPart, const TypeListRows &rows)
{
    const QByteArray named = learnedPart.toLower();
    for (const QString &name : ListLearnedTypeFiles()) {
        const QByteArray type = LearnedTypeFromFileName(name);
        if (!named.contains('.' + type))
            continue;
        LearnedTypeRecord record;
        if (ConvertLearnedTypeRecord(name, true, record) != LearnedTypeStatus::Ok)
            continue;
        const QByteArray ext = record.Ext.mid(1);
        for (int j = 0; j < LearnedVariants; ++j) {
            const auto v = size_t(j);
            if (!IsUsableFirstSignature(record.Sig1[v]))
                continue;   // too short, or the start of empty stretches
            const auto listed = std::find_if(rows.begin(), rows.end(), [&](const TypeListRow &row) {
                return row.Text.toLower() == ext && row.Origin == AdaptiveOrigin() && row.Checked
                    && row.Variant == j;
            });
            if (listed == rows.end())
                continue;
            SignatureRecord &slot = work.back();
            slot.Ext = record.Ext;
            slot.Desc = FixedDescription(record.Desc);
            slot.Sig1 = record.Sig1[v];
            slot.Sig2 = record.Sig2[v];
            slot.SizeFieldOffset = record.SizeFieldOffset[v];
            slot.SizeFieldOrder = record.SizeFieldOrder[v];
            work.emplace_back();
        }
    }
}

} // namespace

QString AdaptiveOrigin()
{
    return QStringLiteral("Adaptive");
}

QString ProgramOrigin()
{
    return GetString(364, QStringLiteral("Program"));
}

TypeListRows BuiltInTypeRows(const QStringList &types)
{
    SignatureRows all;
    BuildSignatureTable("all", all);
    TypeListRows rows;
    QByteArrayList listed;
    for (const SignatureRecord &r : all) {
        if (r.Ext.size() < 2 || listed.contains(r.Ext + r.Desc))
            continue;
        listed << r.Ext + r.Desc;
        const QByteArray text = r.Ext.mid(1).toUpper();
        const bool ticked = types.isEmpty() || types.contains(QString::fromLatin1(text), Qt::CaseInsensitive);
        rows.push_back({text, r.Desc, ProgramOrigin(), 0, ticked});
    }
    return rows;
}

QByteArray MakeScanFilter(const TypeListRows &rows)
{
    QByteArray filter;
    appendEntries(filter, rows, AdaptiveOrigin());
    appendEntries(filter, rows, ProgramOrigin());
    return filter;
}

void BuildScanFilter(const TypeListRows &rows, QByteArray &filter, SignatureRows &table)
{
    filter = MakeScanFilter(rows);
    LoadScanTypes(filter, rows, table);
}

void BuildScanFilter(const TypeListRows &rows)
{
    BuildScanFilter(rows, ScanTypeFilter, SignatureTable);
}

void OrderSignatureRows(SignatureRows &rows, size_t first, size_t end)
{
    end = std::min(end, rows.size());
    for (size_t i = first + 1; i < end; ++i) {
        for (size_t k = first; k < i; ++k) {
            const SignatureRecord &a = rows[i];
            const SignatureRecord &b = rows[k];
            if (a.Sig1.startsWith(b.Sig1) && (a.Sig1.size() > b.Sig1.size() || a.Sig2.size() > b.Sig2.size()))
                std::rotate(rows.begin() + qsizetype(k), rows.begin() + qsizetype(i),
                            rows.begin() + qsizetype(i) + 1);
        }
    }
}

void LoadScanTypes(QByteArray &filter, const TypeListRows &rows, SignatureRows &table)
{
    QByteArray learnedPart = filter;
    QByteArray builtInPart;
    const qsizetype bar = filter.indexOf('|');
    if (bar >= 0) {
        learnedPart = filter.left(bar);
        builtInPart = filter.mid(bar);
        builtInPart.replace('|', QByteArray());
    }
    filter = builtInPart;
    ClearSignatureTable(table);
    if (learnedPart.isEmpty() && builtInPart.isEmpty())
        return;

    SignatureRows work(1);
    if (!learnedPart.isEmpty())
        appendLearnedRows(work, learnedPart, rows);
    const size_t learnedRows = work.size() - 1;
    OrderSignatureRows(work, 0, work.size());

    if (!builtInPart.isEmpty()) {
        SignatureRows builtIn;
        BuildSignatureTable(builtInPart, builtIn);
        for (const SignatureRecord &row : builtIn) {
            if (!builtInPart.contains(row.Ext.mid(1).toLower()))
                continue;
            work.back() = row;
            work.emplace_back();
        }
        work.pop_back();
        OrderSignatureRows(work, learnedRows, work.size());
    }

    table.clear();
    for (const SignatureRecord &row : work)
        if (!row.Sig1.isEmpty())
            table.push_back(row);
    if (table.empty())
        ClearSignatureTable(table);
}

void LoadScanTypes(QByteArray &filter, const TypeListRows &rows)
{
    LoadScanTypes(filter, rows, SignatureTable);
}

void CheckSelectedTypes(SignatureRows &aux, const TypeListRows &rows,
                        const std::vector<DeletedEntryFacts> &entries)
{
    ClearSignatureTable(aux);
    QString allTypes;
    QString tickedTypes;
    for (const TypeListRow &row : rows) {
        const QString text = QString::fromLatin1(row.Text) + u' ';
        allTypes += text;
        if (row.Checked)
            tickedTypes += text;
    }
    QStringList wanted;
    QString wantedText;
    for (const DeletedEntryFacts &entry : entries) {
        const qsizetype dot = entry.Name.indexOf(u'.');
        if (entry.Attributes == 16 || dot < 0 || entry.Size == 0)
            continue;
        const QString ext = entry.Name.mid(dot + 1).trimmed();
        if (tickedTypes.contains(ext, Qt::CaseInsensitive) || wantedText.contains(ext, Qt::CaseInsensitive)
            || !allTypes.contains(ext, Qt::CaseInsensitive) || entry.Recoverable == 0)
            continue;
        wantedText += ext + u' ';
        wanted.append(ext);
    }
    if (wanted.isEmpty())
        return;

    // The filter of the list rows of those types, as the table builder reads it.
    TypeListRows chosen = rows;
    for (TypeListRow &row : chosen)
        row.Checked = wanted.contains(QString::fromLatin1(row.Text), Qt::CaseInsensitive);
    QByteArray filter = MakeScanFilter(chosen);
    LoadScanTypes(filter, chosen, aux);
}
