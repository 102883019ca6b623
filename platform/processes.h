// Processes as the program sees them: the facts of one process (its user,
// executable and start time), ending a process by its id, the lock that
// marks the one running instance of the program, and the record of the
// helper programs it started.
//
// The program never looks processes up by name. It ends a process only
// when it has a reason to know it: the instance named in the lock file
// (same executable, same user), or a helper it recorded starting (same id
// and start time, same user). A process is asked to end with SIGTERM,
// never killed outright.
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace plat {

struct ProcessFacts {
    qint64 pid = 0;
    uint uid = 0;
    QString exe;              // the resolved executable path; empty when it cannot be read
    quint64 startTicks = 0;   // start time in clock ticks after boot
    bool zombie = false;
};

// The facts of a running process; empty when there is none.
std::optional<ProcessFacts> processFacts(qint64 pid);
qint64 ownPid();
ProcessFacts ownProcessFacts();
// Sends SIGTERM; true when the signal was delivered.
bool terminateProcess(qint64 pid);

// Tests replace the process table and the signal.
struct ProcessHooks {
    std::function<std::optional<ProcessFacts>(qint64 pid)> facts;
    std::function<bool(qint64 pid)> terminate;
};
void setProcessHooks(const ProcessHooks &hooks);   // empty members: the system's

// ---- the running instance -----------------------------------------------------

// The lock of the running instance: a file (native path) locked with flock
// while the instance lives, holding its id and start time. The kernel drops
// the lock when the process ends, however it ends, so a lock is never stale.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock: true when this object holds it now. False when another
    // process (or another InstanceLock of this process) holds it, or the file
    // cannot be made.
    bool tryAcquire(const QString &nativePath);
    bool held() const { return fd_ >= 0; }
    void release();

    // The process named in a lock file; 0 when none is named.
    static qint64 holderPid(const QString &nativePath);
    // Whether some process holds the lock of the file now.
    static bool isHeld(const QString &nativePath);

private:
    int fd_ = -1;
};

// ---- helpers the program started ----------------------------------------------

// A helper program started and waited for by this program, kept in a small
// file of the program folder while it runs, so that a later start can end
// one that outlived a crash.
struct RecordedChild {
    qint64 pid = 0;
    quint64 startTicks = 0;
    uint uid = 0;
    QString exe;
    qint64 parentPid = 0;          // the instance of the program that started it
    quint64 parentStartTicks = 0;
};
void recordChild(qint64 pid);
void forgetChild(qint64 pid);
QList<RecordedChild> recordedChildren();
// Rewrites the record with the given children (those still worth keeping).
void setRecordedChildren(const QList<RecordedChild> &children);
// The record still describes a running process: same id, start time and
// user, not a zombie.
bool childStillRuns(const RecordedChild &child);
// The instance that started it still runs (then the helper is not left over).
bool childParentRuns(const RecordedChild &child);

} // namespace plat
