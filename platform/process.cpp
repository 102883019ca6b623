#include "platform/process.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace plat {

namespace {

void limit(int resource, int64_t value)
{
    if (value <= 0)
        return;
    struct rlimit r {};
    r.rlim_cur = r.rlim_max = rlim_t(value);
    setrlimit(resource, &r);
}

} // namespace

ChildResult runChild(const ChildRun &run)
{
    ChildResult result;
    QString program = run.program;
    if (!program.contains('/'))
        program = QStandardPaths::findExecutable(program);
    if (program.isEmpty())
        return result;

    QProcess p;
    p.setProgram(program);
    p.setArguments(run.args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.setStandardOutputFile(run.stdoutFile.isEmpty() ? QProcess::nullDevice() : run.stdoutFile,
                            QIODevice::Truncate);
    const ChildLimits limits = run.limits;
    const pid_t parent = getpid();
    // In the child, before the program starts: its own group (so that its
    // descendants end with it), death with the program, and the limits.
    p.setChildProcessModifier([limits, parent] {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        limit(RLIMIT_CPU, limits.cpuSeconds);
        limit(RLIMIT_AS, limits.addressSpaceMB * 1024 * 1024);
        limit(RLIMIT_FSIZE, limits.fileSizeMB * 1024 * 1024);
        limit(RLIMIT_CORE, 0);
    });
    p.start(QIODevice::NotOpen);
    if (!p.waitForStarted(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return result;
    }
    result.started = true;
    result.pid = p.processId();

    const QDeadlineTimer deadline(run.timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(run.timeoutMs));
    while (p.state() != QProcess::NotRunning) {
        if (p.waitForFinished(20))
            break;
        if (deadline.hasExpired()) {
            // Our child and the group it leads; nothing found by name.
            const pid_t pid = pid_t(result.pid);
            if (pid > 0)
                ::kill(-pid, SIGKILL);
            p.kill();
            p.waitForFinished(5000);
            result.timedOut = true;
            return result;
        }
        if (run.whileWaiting)
            run.whileWaiting();
    }
    if (p.exitStatus() == QProcess::NormalExit) {
        result.exitCode = p.exitCode();
    } else {
        result.crashed = true;
    }
    return result;
}

} // namespace plat
