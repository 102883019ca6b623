#include "platform/os.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace plat {

namespace {
OsIdentity &identity()
{
    static OsIdentity id;
    return id;
}
std::function<bool()> &inputHook()
{
    static std::function<bool()> hook;
    return hook;
}
} // namespace

OsIdentity osIdentity() { return identity(); }
void setOsIdentity(const OsIdentity &id) { identity() = id; }
void resetOsIdentity() { identity() = OsIdentity{}; }

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

void pumpEvents()
{
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < 20)
        return;
    since.restart();
    pumpEventsNow();
}

} // namespace plat
