#include "tests/scan/learn_samples.h"

#include "tests/support/fixtures.h"

#include <QFile>

using namespace testing_support;

namespace learn_samples {

QString imageMagick()
{
    for (const QString &p : {QStringLiteral("/usr/bin/convert-im6.q16"), QStringLiteral("/usr/bin/convert")})
        if (QFile::exists(p))
            return p;
    return QStringLiteral("convert");
}

QByteArray makeAu(const QString &dir, const QString &name, int bytes, int frequency)
{
    constexpr int kHeader = 44;   // 24 bytes of header and sox's 20-byte annotation
    if (bytes < kHeader + 2 || (bytes - kHeader) % 2 != 0)
        return {};
    const QString path = dir + '/' + name;
    const QString samples = QString::number((bytes - kHeader) / 2) + 's';
    // No dither: the same samples every time.
    if (runTool("sox", {"-D", "-r", "8000", "-n", "-c", "1", "-b", "16", "-e", "signed", "-t", "au", path, "synth", samples,
                        "sine", QString::number(frequency), "vol", "0.5"})
        != 0)
        return {};
    const QByteArray data = readFileBytes(path);
    if (data.size() != bytes || !data.startsWith(".snd"))
        return {};
    return data;
}

QList<QPair<QString, QByteArray>> makeAuSamples(const QString &folder, int count, const QList<int> &lengths,
                                                int firstFrequency)
{
    QList<QPair<QString, QByteArray>> out;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("s%1.au").arg(i + 1, 2, 10, QLatin1Char('0'));
        const QByteArray data = makeAu(folder, name, lengths[i % lengths.size()], firstFrequency + 37 * i);
        if (data.isEmpty())
            return {};
        out.append({name, data});
    }
    return out;
}

} // namespace learn_samples
