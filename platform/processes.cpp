#include "platform/processes.h"

#include "platform/paths.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

ProcessHooks &hooks()
{
    static ProcessHooks h;
    return h;
}

std::optional<ProcessFacts> systemFacts(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    QFile stat(dir + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The name in parentheses may itself hold blanks and parentheses.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    ProcessFacts f;
    f.pid = pid;
    f.zombie = fields[0] == "Z";
    f.startTicks = fields[19].toULongLong();
    struct stat st;
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0)
        return std::nullopt;
    f.uid = st.st_uid;
    f.exe = QFileInfo(dir + QStringLiteral("/exe")).symLinkTarget();
    return f;
}

QString childRecordPath() { return programFolderNative() + QStringLiteral("/helpers.run"); }

} // namespace

std::optional<ProcessFacts> processFacts(qint64 pid)
{
    if (hooks().facts)
        return hooks().facts(pid);
    return systemFacts(pid);
}

qint64 ownPid() { return qint64(::getpid()); }

ProcessFacts ownProcessFacts()
{
    if (auto f = processFacts(ownPid()))
        return *f;
    ProcessFacts f;
    f.pid = ownPid();
    f.uid = ::geteuid();
    return f;
}

bool terminateProcess(qint64 pid)
{
    if (hooks().terminate)
        return hooks().terminate(pid);
    if (pid <= 0 || pid == ownPid())
        return false;
    return ::kill(pid_t(pid), SIGTERM) == 0;
}

void setProcessHooks(const ProcessHooks &h) { hooks() = h; }

// ---- instance lock ---------------------------------------------------------------

InstanceLock::~InstanceLock() { release(); }

bool InstanceLock::tryAcquire(const QString &nativePath)
{
    if (fd_ >= 0)
        return true;
    const QByteArray path = QFile::encodeName(nativePath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    const ProcessFacts self = ownProcessFacts();
    const QByteArray text = QByteArray::number(self.pid) + '\n' + QByteArray::number(self.startTicks) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        ssize_t written = ::pwrite(fd, text.constData(), size_t(text.size()), 0);
        (void)written;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::release()
{
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

qint64 InstanceLock::holderPid(const QString &nativePath)
{
    QFile f(nativePath);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray first = f.readLine(64).trimmed();
    bool ok = false;
    const qint64 pid = first.toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool InstanceLock::isHeld(const QString &nativePath)
{
    const int fd = ::open(QFile::encodeName(nativePath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

// ---- recorded helpers ---------------------------------------------------------------

QList<RecordedChild> recordedChildren()
{
    QList<RecordedChild> list;
    QFile f(childRecordPath());
    if (!f.open(QIODevice::ReadOnly))
        return list;
    // One helper a line: pid, start ticks, uid, executable; at most a few
    // hundred lines are read, whatever the file holds.
    for (int n = 0; n < 256 && !f.atEnd(); ++n) {
        const QList<QByteArray> parts = f.readLine(4096).trimmed().split('\t');
        if (parts.size() < 6)
            continue;
        RecordedChild c;
        c.pid = parts[0].toLongLong();
        c.startTicks = parts[1].toULongLong();
        c.uid = parts[2].toUInt();
        c.parentPid = parts[3].toLongLong();
        c.parentStartTicks = parts[4].toULongLong();
        c.exe = QFile::decodeName(parts[5]);
        if (c.pid > 0 && c.startTicks > 0)
            list << c;
    }
    return list;
}

void setRecordedChildren(const QList<RecordedChild> &children)
{
    if (children.isEmpty()) {
        QFile::remove(childRecordPath());
        return;
    }
    QSaveFile f(childRecordPath());
    if (!f.open(QIODevice::WriteOnly))
        return;
    for (const RecordedChild &c : children)
        f.write(QByteArray::number(c.pid) + '\t' + QByteArray::number(c.startTicks) + '\t'
                + QByteArray::number(c.uid) + '\t' + QByteArray::number(c.parentPid) + '\t'
                + QByteArray::number(c.parentStartTicks) + '\t' + QFile::encodeName(c.exe) + '\n');
    f.commit();
}

void recordChild(qint64 pid)
{
    const std::optional<ProcessFacts> f = processFacts(pid);
    if (!f || f->startTicks == 0)
        return;
    const ProcessFacts self = ownProcessFacts();
    QList<RecordedChild> list = recordedChildren();
    list << RecordedChild{f->pid, f->startTicks, f->uid, f->exe, self.pid, self.startTicks};
    setRecordedChildren(list);
}

void forgetChild(qint64 pid)
{
    QList<RecordedChild> list = recordedChildren();
    const qsizetype before = list.size();
    list.removeIf([pid](const RecordedChild &c) { return c.pid == pid; });
    if (list.size() != before)
        setRecordedChildren(list);
}

bool childStillRuns(const RecordedChild &child)
{
    const std::optional<ProcessFacts> f = processFacts(child.pid);
    return f && !f->zombie && f->startTicks == child.startTicks && f->uid == child.uid;
}

bool childParentRuns(const RecordedChild &child)
{
    const std::optional<ProcessFacts> f = processFacts(child.parentPid);
    return f && !f->zombie && f->startTicks == child.parentStartTicks;
}

} // namespace plat
