#include "tests/support/child.h"

#include "tests/support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <cstdio>

namespace testing_support {

namespace {

const char *const kChildVariable = "QUILVANE_TEST_CHILD";
const char *const kArgsVariable = "QUILVANE_TEST_CHILD_ARGS";

QMap<QString, ChildMain> &children()
{
    static QMap<QString, ChildMain> map;
    return map;
}

} // namespace

bool registerChild(const QString &name, ChildMain main)
{
    children().insert(name, std::move(main));
    return true;
}

int runChildIfAsked()
{
    const QString name = qEnvironmentVariable(kChildVariable);
    if (name.isEmpty())
        return -1;
    const auto it = children().constFind(name);
    if (it == children().constEnd()) {
        std::fprintf(stderr, "no child %s\n", qPrintable(name));
        return 2;
    }
    const QStringList args = qEnvironmentVariable(kArgsVariable).split(QChar(0x1F), Qt::SkipEmptyParts);
    return it.value()(args);
}

void childSays(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

ChildProcess::ChildProcess(const QString &name, const QStringList &args, const QString &home)
    : process_(std::make_unique<QProcess>())
{
    // What a killed child leaves in its temporary folder stays in one of ours.
    tempDir_ = makeTempDir(QStringLiteral("child"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildVariable, name);
    env.insert(kArgsVariable, args.join(QChar(0x1F)));
    env.insert(QStringLiteral("TMPDIR"), tempDir_);
    env.insert(QStringLiteral("QUILVANE_HOME"), home.isEmpty() ? makeTempDir(QStringLiteral("childhome")) : home);
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(QCoreApplication::applicationFilePath(), {});
    process_->waitForStarted(30000);
}

ChildProcess::~ChildProcess()
{
    if (process_->state() != QProcess::NotRunning)
        kill();
}

bool ChildProcess::waitForLine(const QString &text, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (process_->canReadLine()) {
            const QString line = QString::fromLocal8Bit(process_->readLine());
            output_ += line;
            if (line.startsWith(text))
                return true;
        }
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0 || process_->state() == QProcess::NotRunning)
            return false;
        process_->waitForReadyRead(left);
    }
}

void ChildProcess::kill()
{
    process_->kill();   // SIGKILL to this child's id
    process_->waitForFinished(30000);
    output_ += QString::fromLocal8Bit(process_->readAll());
}

int ChildProcess::wait(int timeoutMs)
{
    if (!process_->waitForFinished(timeoutMs))
        return -1;
    output_ += QString::fromLocal8Bit(process_->readAll());
    return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

} // namespace testing_support
