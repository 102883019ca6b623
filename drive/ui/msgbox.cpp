#include "drive/ui/msgbox.h"

#include "drive/strings.h"
#include "platform/ui/controls.h"
#include "platform/ui/msgbox.h"

#include <algorithm>

namespace {

bool &plainMode()
{
    static bool on = false;
    return on;
}

constexpr qint64 kQuickAnswerMs = 1000;

// The information icon joins a style that names no icon; a style with an
// icon of its own keeps it (adding 64 to it would name no icon at all).
int withInformationIcon(int style)
{
    if ((style & plat::mb::IconMask) == 0)
        style |= plat::mb::IconInformation;
    return style;
}

int ownerHandleOf(const QString &owner) { return plat::handleOf(plat::widgetOf(owner)); }

int showPlain(int ownerHandle, const QString &text, short style, const QString &title)
{
    plat::MessageRequest request;
    request.text = text;
    request.title = title;
    request.style = withInformationIcon(int(quint16(style)));
    request.ownerHandle = ownerHandle;
    return plat::showMessage(request);
}

} // namespace

int MsgBoxTimeoutMs(short style) { return (int(style) / 259) * 6000 + 4000; }

bool MsgBoxPlainMode() { return plainMode(); }
void SetMsgBoxPlainMode(bool on) { plainMode() = on; }

int MsgBoxTimed(const QString &owner, const QString &text, short &style, const QString &title)
{
    int ownerHandle = ownerHandleOf(owner);
    if (plainMode())
        return showPlain(ownerHandle, text, style, title);

    int timeout = MsgBoxTimeoutMs(style);
    if (style == 1) {
        style = 0;   // OK alone, and longer
        timeout += 6000;
    }

    plat::MessageRequest request;
    request.text = text;
    request.title = title;
    request.style = withInformationIcon(int(quint16(style))) | plat::mb::TaskModal;
    request.timeoutMs = std::max(0, timeout);
    request.ownerHandle = ownerHandle;
    request.okLabel = GetString(1323, QStringLiteral("SelfClosing"));
    request.centred = true;

    const qint64 start = plat::monotonicMs();
    int answer = plat::showMessage(request);
    const qint64 elapsed = plat::monotonicMs() - start;

    if (answer == 0) {
        // The box could not be shown: the plain box asks instead, from now on.
        plainMode() = true;
        return showPlain(ownerHandle, text, style, title);
    }
    // A quick answer is the user's answer: it is kept, and later notices come
    // as plain boxes, which the user evidently reads at once.
    if (elapsed < kQuickAnswerMs)
        plainMode() = true;
    return answer;
}

int MsgBoxTimed(const QString &owner, const QString &text, int style, const QString &title)
{
    short copy = short(style);
    return MsgBoxTimed(owner, text, copy, title);
}

int MsgBox(const QString &text, int style, const QString &title)
{
    plat::MessageRequest request;
    request.text = text;
    request.title = title;
    request.style = style;
    return plat::showMessage(request);
}

int MsgBoxPositioned(int owner, const QString &text, int style, const QString &title)
{
    plat::MessageRequest request;
    request.text = text;
    request.title = title;
    request.style = style | plat::mb::TaskModal;
    request.ownerHandle = plat::handleOf(plat::widgetOf(owner));
    request.centred = true;
    return plat::showMessage(request);
}
