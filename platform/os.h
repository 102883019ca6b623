// What the program asks of the operating system about itself: its identity
// (injectable, so the Windows 9x and restricted-rights branches can be
// reached in tests), the input-pending query and the message pump.
#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace plat {

struct OsIdentity {
    int platformId = 2;      // 1 = Windows 9x family, 2 = NT family
    int major = 6;
    int minor = 1;
    int build = 7601;
    QString servicePack;     // the CSD text
};

OsIdentity osIdentity();
void setOsIdentity(const OsIdentity &id);   // tests
void resetOsIdentity();

// The running system as uname(2) and os-release name it; only reports to
// people (the support report) use it, never a decision of the program.
// Injectable.
struct KernelFacts {
    QString sysname;        // "Linux"
    QString release;        // "6.1.0-18-amd64"
    QString machine;        // "x86_64"
    QString version;        // the kernel's build: "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"
    QString distribution;   // PRETTY_NAME of os-release: "Debian GNU/Linux 12 (bookworm)"; empty when none
};
KernelFacts kernelFacts();
void setKernelFacts(std::optional<KernelFacts> facts);   // tests; nullopt: uname

// True when the window system has input waiting (GetInputState). Injectable.
bool inputPending();
void setInputPendingHook(std::function<bool()> hook);   // empty: default

// Lets the window process pending events (DoEvents); throttled to about once
// every 20 ms so that tight loops do not spend their time in the pump.
// Does nothing without an application object.
void pumpEvents();
// Pumps without the throttle.
void pumpEventsNow();

// The end of the program was asked for (End, the close box, a termination
// signal). From then on nothing waits for the user: message boxes and
// dialogs close themselves and downloads stop. The listeners run when it is
// first set, on the calling thread; a listener is removed by its id.
void beginClosing();
bool closing();
void resetClosing();   // tests
int addClosingListener(std::function<void()> listener);
void removeClosingListener(int id);

} // namespace plat
