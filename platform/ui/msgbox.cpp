#include "platform/ui/msgbox.h"

#include "platform/os.h"
#include "platform/ui/controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace plat {

namespace {

MessageResponder &responder()
{
    static MessageResponder r;
    return r;
}

ClockHook &clockHook()
{
    static ClockHook hook;
    return hook;
}

struct ButtonSpec {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons of a style in the order Windows shows them.
std::vector<ButtonSpec> buttonsOf(int style)
{
    using B = QMessageBox;
    switch (style & mb::ButtonMask) {
    case mb::OKCancel: return {{B::Ok, id::OK}, {B::Cancel, id::Cancel}};
    case mb::AbortRetryIgnore: return {{B::Abort, id::Abort}, {B::Retry, id::Retry}, {B::Ignore, id::Ignore}};
    case mb::YesNoCancel: return {{B::Yes, id::Yes}, {B::No, id::No}, {B::Cancel, id::Cancel}};
    case mb::YesNo: return {{B::Yes, id::Yes}, {B::No, id::No}};
    case mb::RetryCancel: return {{B::Retry, id::Retry}, {B::Cancel, id::Cancel}};
    default: return {{B::Ok, id::OK}};
    }
}

QMessageBox::Icon iconOf(int style)
{
    switch (style & mb::IconMask) {
    case mb::IconStop: return QMessageBox::Critical;
    case mb::IconQuestion: return QMessageBox::Question;
    case mb::IconExclamation: return QMessageBox::Warning;
    case mb::IconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;   // includes values that name no icon
    }
}

// Places the box over its owner once it is laid out and shown; keeps a box
// that has no close answer (Yes/No, Abort/Retry/Ignore) from being closed
// with Escape or by the window's close button.
class BoxFilter : public QObject {
public:
    BoxFilter(QWidget *owner, bool centre, bool closable)
        : owner_(owner), centre_(centre), closable_(closable)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::Show:
            if (centre_ && owner_) {
                auto *box = static_cast<QWidget *>(watched);
                QPoint at = centredBoxPosition(owner_->frameGeometry(), box->frameGeometry().size(),
                                               screenRectPixels(owner_));
                box->move(at);
            }
            return false;
        case QEvent::KeyPress:
            if (!closable_ && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
                return true;
            return false;
        case QEvent::Close:
            if (!closable_) {   // a button press ends such a box, never a close
                event->ignore();
                return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    QPointer<QWidget> owner_;
    bool centre_;
    bool closable_;
};

QString shownText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

int closeAnswer(int style)
{
    switch (style & mb::ButtonMask) {
    case mb::OK: return id::OK;
    case mb::OKCancel:
    case mb::YesNoCancel:
    case mb::RetryCancel: return id::Cancel;
    case mb::AbortRetryIgnore:
    case mb::YesNo: return 0;
    default: return id::OK;   // other values show an OK button alone
    }
}

int closingAnswer(int style)
{
    if (const int answer = closeAnswer(style))
        return answer;
    return (style & mb::ButtonMask) == mb::AbortRetryIgnore ? id::Abort : id::No;
}

void setMessageResponder(MessageResponder r) { responder() = std::move(r); }
bool hasMessageResponder() { return static_cast<bool>(responder()); }

QPoint centredBoxPosition(const QRect &owner, const QSize &box, const QRect &screen)
{
    int x = owner.left() + (owner.width() / 2 - box.width() / 2);
    int y = owner.top() + (owner.height() / 2 - box.height() / 2);
    if (x < screen.left())
        x = screen.left();
    if (y < screen.top())
        y = screen.top();
    if (x + box.width() > screen.left() + screen.width())
        x = screen.left() + screen.width() - box.width();
    if (y + box.height() > screen.top() + screen.height())
        y = screen.top() + screen.height() - box.height();
    return {x, y};
}

qint64 monotonicMs()
{
    if (clockHook())
        return clockHook()();
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

void setClockHook(ClockHook hook) { clockHook() = std::move(hook); }

int showMessage(const MessageRequest &asked)
{
    MessageRequest request = asked;
    if (closing() && (request.timeoutMs <= 0 || request.timeoutMs > kClosingBoxMs))
        request.timeoutMs = kClosingBoxMs;
    if (responder()) {
        auto r = responder();   // the responder may replace itself
        return r(request);
    }
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return 0;

    QWidget *owner = widgetOf(request.ownerHandle);
    if (owner)
        owner = owner->window();
    QMessageBox box(owner);
    box.setWindowTitle(request.title);
    box.setTextFormat(Qt::PlainText);
    box.setText(shownText(request.text));
    box.setIcon(iconOf(request.style));
    box.setWindowModality(Qt::ApplicationModal);

    QHash<QAbstractButton *, int> answers;
    std::vector<QAbstractButton *> order;
    for (const ButtonSpec &spec : buttonsOf(request.style)) {
        QAbstractButton *b = box.addButton(spec.button);
        answers.insert(b, spec.answer);
        order.push_back(b);
    }
    int defIndex = (request.style & mb::DefButtonMask) >> 8;
    if (defIndex < 0 || defIndex >= int(order.size()))
        defIndex = 0;
    if (auto *def = qobject_cast<QPushButton *>(order[size_t(defIndex)]))
        box.setDefaultButton(def);

    if (!request.okLabel.isEmpty())
        if (QAbstractButton *ok = box.button(QMessageBox::Ok))
            ok->setText(request.okLabel);

    auto buttonFor = [&answers](int answer) -> QAbstractButton * {
        for (auto it = answers.constBegin(); it != answers.constEnd(); ++it)
            if (answer != 0 && it.value() == answer)
                return it.key();
        return nullptr;
    };
    // Escape and the close button act as the system's close does.
    const int onClose = closeAnswer(request.style);
    QAbstractButton *closer = buttonFor(onClose);
    if (closer)
        box.setEscapeButton(closer);
    BoxFilter filter(owner, request.centred, closer != nullptr);
    box.installEventFilter(&filter);

    // The close timer belongs to the box: it can never close another one.
    // A box without a close answer gives the request's time-out answer, and
    // while the program closes the answer that acts on nothing.
    QAbstractButton *timeoutButton = closer ? closer : buttonFor(request.timeoutAnswer);
    QAbstractButton *closingButton = closer ? closer : buttonFor(closingAnswer(request.style));
    auto *timer = new QTimer(&box);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, &box, [timeoutButton, closingButton] {
        if (QAbstractButton *b = closing() ? closingButton : timeoutButton)
            b->click();
    });
    if (request.timeoutMs > 0 && (timeoutButton || closing()))
        timer->start(request.timeoutMs);
    const int listener = addClosingListener([timer] {
        if (!timer->isActive() || timer->remainingTime() > kClosingBoxMs)
            timer->start(kClosingBoxMs);
    });

    {
        const InFrontOfOthers front(&box);
        box.exec();
    }
    removeClosingListener(listener);
    QAbstractButton *clicked = box.clickedButton();
    if (clicked && answers.contains(clicked))
        return answers.value(clicked);
    return onClose;
}

} // namespace plat
