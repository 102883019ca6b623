// The message-box service: the Windows styles and answer codes over one box.
//
// The real box is a QMessageBox. Tests install a responder instead: it is
// handed every box the program would show and gives the answer, so that no
// test ever waits on a real box.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>

namespace plat {

// Styles, combined by addition or bitwise or as the program does.
namespace mb {
constexpr int OK = 0;
constexpr int OKCancel = 1;
constexpr int AbortRetryIgnore = 2;
constexpr int YesNoCancel = 3;
constexpr int YesNo = 4;
constexpr int RetryCancel = 5;
constexpr int ButtonMask = 0x0F;

constexpr int IconStop = 16;          // critical
constexpr int IconQuestion = 32;
constexpr int IconExclamation = 48;   // warning
constexpr int IconInformation = 64;
constexpr int IconMask = 0xF0;

constexpr int DefButton1 = 0;
constexpr int DefButton2 = 256;
constexpr int DefButton3 = 512;
constexpr int DefButtonMask = 0xF00;

constexpr int ApplModal = 0;
constexpr int SystemModal = 4096;
constexpr int TaskModal = 8192;
} // namespace mb

// Answers (the button pressed); 0: no box could be shown.
namespace id {
constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Abort = 3;
constexpr int Retry = 4;
constexpr int Ignore = 5;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace id

// One box the program asks for.
struct MessageRequest {
    QString text;             // as the program wrote it, CR LF line breaks
    QString title;
    int style = 0;            // buttons + icon + default button + modality
    int timeoutMs = 0;        // > 0: the box closes itself after this time
    int timeoutAnswer = 0;    // a box without a close answer gives this one at its time-out (0: it waits)
    int ownerHandle = 0;      // handleOf() of the owner window, 0 for none
    QString okLabel;          // not empty: the text of the OK button
    bool centred = false;     // centred over the owner (clamped to its screen)
};

// The answer a closing box gives without a button press: Cancel when the box
// has a Cancel button, OK when OK is its only button, 0 when it cannot be
// closed that way (Yes/No, Abort/Retry/Ignore: they wait for the user).
int closeAnswer(int style);

// The answer a box gives that closes itself while the program is closing:
// its closeAnswer, No for Yes/No, Abort for Abort/Retry/Ignore (the answers
// that act on nothing).
int closingAnswer(int style);
// The longest a box stays up once the program is closing (plat::closing()).
constexpr int kClosingBoxMs = 4000;

// Shows the box (or hands it to the responder) and returns the answer. A box
// with a time-out and a closeAnswer closes itself with that answer when the
// time is up; a box without one gives its timeoutAnswer then, or without
// that waits however long the time-out. Once the
// program is closing no box waits: each closes itself after at most
// kClosingBoxMs with its closingAnswer (the responder sees that time-out),
// and a box that is up when the closing begins does the same from then on.
int showMessage(const MessageRequest &request);

// Tests: every box goes to the responder, which returns the answer.
using MessageResponder = std::function<int(const MessageRequest &)>;
void setMessageResponder(MessageResponder responder);   // empty: real boxes
bool hasMessageResponder();

// Where a box of the given size stands centred over an owner: each half
// width truncated, a negative place moved to the screen's edge, a box that
// would leave the screen at the right or bottom pushed back inside.
QPoint centredBoxPosition(const QRect &owner, const QSize &box, const QRect &screen);

// The clock of elapsed-time decisions: monotonic milliseconds. Injectable.
using ClockHook = std::function<qint64()>;
qint64 monotonicMs();
void setClockHook(ClockHook hook);   // empty: the real clock

} // namespace plat
