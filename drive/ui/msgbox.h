// The program's two message boxes: a notice that closes itself after a time
// taken from its style and stands centred over its owner, and a centred box
// that waits for the user. Both go through the message-box service of the
// layer (platform/ui/msgbox.h), so tests answer them with a responder.
#pragma once

#include <QString>

// A self-closing notice: the information icon (when the style names no icon
// of its own), task-modal, centred over the owner (its handle as decimal
// text), the OK button labelled with text 1323 "SelfClosing". It closes after
// (style \ 259) x 6000 + 4000 ms where it has an OK or Cancel button; a Yes/No
// or Abort/Retry/Ignore box waits for the user. Style 1 (OK and Cancel) is
// changed to 0 in the caller's variable and gets 10,000 ms. Returns the
// button code (1 OK, 2 Cancel, 6 Yes, 7 No ...).
//
// A box answered within one second switches every later call of the run to
// the plain box (no time-out, centring or relabelling); the quick answer
// itself is returned. A box that could not be shown at all is shown again
// at once as the plain box, whose answer is returned.
int MsgBoxTimed(const QString &owner, const QString &text, short &style, const QString &title);
// The same with a style that is not written back (a literal style).
int MsgBoxTimed(const QString &owner, const QString &text, int style, const QString &title);

// A task-modal box centred over its owner, without time-out; the answer.
int MsgBoxPositioned(int owner, const QString &text, int style, const QString &title);

// The plain box of the run time: application-modal, placed by the window
// system, no time-out; the answer.
int MsgBox(const QString &text, int style, const QString &title);

// The time-out of a self-closing box of this style, before style 1's change:
// the style as a signed 16-bit number divided by 259 (truncated toward
// zero), times 6000, plus 4000 ms. Not positive: the box has no time-out.
int MsgBoxTimeoutMs(short style);

// The plain-box mode of MsgBoxTimed: off at start, switched on for the rest
// of the run by the first quick answer. Tests set it back.
bool MsgBoxPlainMode();
void SetMsgBoxPlainMode(bool on);
