#include "platform/os.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <map>
#include <sys/utsname.h>

namespace plat {

namespace {
OsIdentity &identity()
{
    static OsIdentity id;
    return id;
}
std::optional<KernelFacts> &kernelOverride()
{
    static std::optional<KernelFacts> facts;
    return facts;
}
std::function<bool()> &inputHook()
{
    static std::function<bool()> hook;
    return hook;
}
bool g_closing = false;
std::map<int, std::function<void()>> &closingListeners()
{
    static std::map<int, std::function<void()>> listeners;
    return listeners;
}
} // namespace

OsIdentity osIdentity() { return identity(); }
void setOsIdentity(const OsIdentity &id) { identity() = id; }
void resetOsIdentity() { identity() = OsIdentity{}; }

KernelFacts kernelFacts()
{
    if (kernelOverride())
        return *kernelOverride();
    struct utsname u {};
    if (::uname(&u) != 0)
        return {};
    KernelFacts k{QString::fromLocal8Bit(u.sysname), QString::fromLocal8Bit(u.release), QString::fromLocal8Bit(u.machine),
                  QString::fromLocal8Bit(u.version), QString()};
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile f(QString::fromLatin1(path));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.read(64 * 1024).split('\n')) {
            if (!line.startsWith("PRETTY_NAME="))
                continue;
            QString value = QString::fromUtf8(line.mid(12)).trimmed();
            if (value.size() >= 2 && (value.startsWith(u'"') || value.startsWith(u'\'')) && value.endsWith(value[0]))
                value = value.mid(1, value.size() - 2);
            k.distribution = value.left(200);
        }
        break;
    }
    return k;
}

void setKernelFacts(std::optional<KernelFacts> facts) { kernelOverride() = std::move(facts); }

bool inputPending()
{
    if (inputHook())
        return inputHook()();
    // Qt does not tell whether input waits; the pump itself is cheap and
    // throttled, so a loop that asks is answered "yes" at most every 20 ms.
    static QElapsedTimer since;
    if (!since.isValid() || since.elapsed() >= 20) {
        since.restart();
        return QCoreApplication::instance() != nullptr;
    }
    return false;
}

void setInputPendingHook(std::function<bool()> hook) { inputHook() = std::move(hook); }

void pumpEventsNow()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void beginClosing()
{
    if (g_closing)
        return;
    g_closing = true;
    // A listener may remove itself (its box closes): a copy is walked.
    const auto listeners = closingListeners();
    for (const auto &[id, listener] : listeners)
        if (closingListeners().count(id))
            listener();
}

bool closing() { return g_closing; }
void resetClosing() { g_closing = false; }

int addClosingListener(std::function<void()> listener)
{
    static int next = 0;
    closingListeners()[++next] = std::move(listener);
    return next;
}

void removeClosingListener(int id) { closingListeners().erase(id); }

void pumpEvents()
{
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < 20)
        return;
    since.restart();
    pumpEventsNow();
}

} // namespace plat
