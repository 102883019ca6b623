// Child processes that read untrusted data (the RAW converter, thumbnailers):
// started with an argument vector, never through a shell, in a process group
// of their own, with CPU and memory limits, ended with the program, and
// waited for with a time limit. A child still running at its limit is ended
// together with its own descendants, by its id: nothing else is ever ended.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace plat {

struct ChildLimits {
    int cpuSeconds = 60;               // RLIMIT_CPU; 0 none
    int64_t addressSpaceMB = 2048;     // RLIMIT_AS; 0 none
    int64_t fileSizeMB = 1024;         // RLIMIT_FSIZE; 0 none
};

struct ChildRun {
    QString program;                   // a path, or a name looked up on the PATH
    QStringList args;
    QString stdoutFile;                // native path: standard output goes there (truncated); empty: discarded
    int timeoutMs = 15000;
    ChildLimits limits;
    // Called while waiting (about every 20 ms); empty: nothing.
    std::function<void()> whileWaiting;
};

struct ChildResult {
    bool started = false;
    bool timedOut = false;             // ended at its limit
    bool crashed = false;              // ended by a signal
    int exitCode = -1;                 // the exit code when it exited normally
    int64_t pid = 0;                   // the child's id (for tests)
};

// Runs the child and waits for it; standard input is closed, standard error
// is discarded.
ChildResult runChild(const ChildRun &run);

} // namespace plat
