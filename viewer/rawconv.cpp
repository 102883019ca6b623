#include "viewer/rawconv.h"

#include "platform/paths.h"
#include "platform/process.h"
#include "viewer/pictureops.h"

#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

bool ConverterFailed = false;

namespace {

QString &converterProgram()
{
    static QString program = QStringLiteral("dcraw");
    return program;
}

QString quoted(const QString &s) { return '"' + s + '"'; }

} // namespace

QString ConverterProgram() { return converterProgram(); }
void SetConverterProgram(const QString &program)
{
    converterProgram() = program.isEmpty() ? QStringLiteral("dcraw") : program;
}

QStringList ConverterOptions(ConvertKind kind)
{
    if (kind == ConvertKind::Identify)
        return {QStringLiteral("-i"), QStringLiteral("-v")};
    QStringList options{QStringLiteral("-c"), QStringLiteral("-T")};
    if (kind == ConvertKind::EmbeddedThumb)
        options << QStringLiteral("-e");
    else if (kind == ConvertKind::HalfSize)
        options << QStringLiteral("-h");
    options << QStringLiteral("-w");
    return options;
}

QString ConverterOutputName(const QString &foundName, ConvertKind kind)
{
    const QString name = FileNamePart(foundName);
    const qsizetype dot = name.indexOf('.');
    QString base = dot < 0 ? name + '.' : name.left(dot + 1);
    base.remove(QStringLiteral("R#"));
    switch (kind) {
    case ConvertKind::EmbeddedThumb:
        return base + QStringLiteral("thc");
    case ConvertKind::HalfSize:
        return base + QStringLiteral("rpc");
    case ConvertKind::FullSize:
        base.chop(1);
        return base + '_' + (dot < 0 ? QString() : name.mid(dot + 1)) + QStringLiteral(".tif");
    case ConvertKind::Identify:
        return base + QStringLiteral("inf");
    }
    return base;
}

QString ConverterCommand::displayText() const
{
    return ConverterProgram() + ' ' + ConverterOptions(kind).join(' ') + ' ' + quoted(plat::toNative(input))
        + QStringLiteral(" >") + quoted(plat::toNative(output));
}

bool RunConverter(const ConverterCommand &command, int limitMs, const std::function<void()> &whileWaiting)
{
    // An absolute path: a found file named "-x.cr2" is never taken for an option.
    const QString input = plat::toNative(command.input).isEmpty()
        ? QString()
        : QFileInfo(plat::toNative(command.input)).absoluteFilePath();
    const QString output = plat::toNative(command.output);
    if (input.isEmpty() || output.isEmpty()) {
        ConverterFailed = true;
        return false;
    }
    plat::ChildRun run;
    run.program = ConverterProgram();
    run.args = ConverterOptions(command.kind);
    run.args << input;
    run.stdoutFile = output;
    run.timeoutMs = limitMs;
    run.whileWaiting = whileWaiting;
    const plat::ChildResult r = plat::runChild(run);
    const bool ok = r.started && !r.timedOut && !r.crashed && r.exitCode == 0 && QFileInfo(output).size() > 0;
    if (!ok) {
        if (r.started && (r.timedOut || r.crashed || r.exitCode != 0))
            ConverterFailed = true;
        QFile::remove(output);
    }
    return ok;
}

QSize ConverterImageSize(const QByteArray &identification)
{
    static const QRegularExpression line(QStringLiteral("^Image size:\\s*(\\d{1,6})\\s*x\\s*(\\d{1,6})\\s*$"),
                                         QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(QString::fromLatin1(identification));
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

bool IsHalfSizeConversion(QSize converted, QSize raw)
{
    if (converted.isEmpty() || raw.isEmpty())
        return false;
    // Four times the pixels, give or take the margins a converter crops.
    const double ratio = double(raw.width()) * raw.height() / (double(converted.width()) * converted.height());
    return ratio >= 3.0 && ratio <= 5.5;
}

void DropEmptyConverterValues(QStringList &lines)
{
    static const QRegularExpression zero(QStringLiteral("^-?0+(\\.0*)?(/\\d+)?$"));
    const QString epochUtc = QStringLiteral("1970:01:01 00:00:00");
    const QString epochLocal = QDateTime::fromSecsSinceEpoch(0).toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    for (qsizetype i = lines.size() - 1; i >= 5; --i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.indexOf(' ');
        const QString value = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        bool empty = value.isEmpty() || value == epochUtc || value == epochLocal
            || value.startsWith(QLatin1String("0000:00:00"));
        if (!empty) {
            empty = true;
            for (const QString &part : value.split(','))
                empty = empty && zero.match(part.trimmed()).hasMatch();
        }
        if (empty)
            lines.removeAt(i);
    }
}
