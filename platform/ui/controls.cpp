#include "platform/ui/controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QEventLoop>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <QSet>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <limits>

namespace plat {

// ---- Units ------------------------------------------------------------------------

int twipsToPixels(double twips)
{
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    double px = std::nearbyint(twips / kTwipsPerPixel);
    if (px > 1e9)
        return 1000000000;
    if (px < -1e9)
        return -1000000000;
    return int(px);
}

int pixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

// ---- Window handles ------------------------------------------------------------------

namespace {
struct HandleRegistry {
    QHash<const QWidget *, int> byWidget;
    QHash<int, QWidget *> byHandle;
    int next = 1;
};
HandleRegistry &handles()
{
    static HandleRegistry registry;
    return registry;
}
} // namespace

int handleOf(const QWidget *widget)
{
    if (!widget)
        return 0;
    HandleRegistry &r = handles();
    auto it = r.byWidget.constFind(widget);
    if (it != r.byWidget.constEnd())
        return it.value();
    int handle = r.next++;
    r.byWidget.insert(widget, handle);
    r.byHandle.insert(handle, const_cast<QWidget *>(widget));
    QObject::connect(widget, &QObject::destroyed, [widget, handle] {
        handles().byWidget.remove(widget);
        handles().byHandle.remove(handle);
    });
    return handle;
}

QWidget *widgetOf(int handle)
{
    if (handle <= 0)
        return nullptr;
    return handles().byHandle.value(handle, nullptr);
}

QWidget *widgetOf(const QString &decimalHandle)
{
    bool ok = false;
    qlonglong n = decimalHandle.trimmed().toLongLong(&ok);
    if (!ok || n <= 0 || n > 0x7fffffff)
        return nullptr;
    return widgetOf(int(n));
}

// ---- Screen -------------------------------------------------------------------

namespace {
QSize &screenOverride()
{
    static QSize size;
    return size;
}
int &screenPointer()
{
    static int pointer = 0;
    return pointer;
}

std::optional<Qt::CursorShape> cursorShapeOf(int pointer)
{
    switch (pointer) {
    case 0: return std::nullopt;
    case 2: return Qt::CrossCursor;
    case 3: return Qt::IBeamCursor;
    case 5: case 15: return Qt::SizeAllCursor;
    case 6: return Qt::SizeBDiagCursor;
    case 7: return Qt::SizeVerCursor;
    case 8: return Qt::SizeFDiagCursor;
    case 9: return Qt::SizeHorCursor;
    case 10: return Qt::UpArrowCursor;
    case 11: return Qt::WaitCursor;
    case 12: return Qt::ForbiddenCursor;
    case 13: return Qt::BusyCursor;
    case 14: return Qt::WhatsThisCursor;
    default: return Qt::ArrowCursor;   // 1 arrow, 4 icon, 99 custom
    }
}
} // namespace

QRect screenRectPixels(const QWidget *near)
{
    if (screenOverride().isValid() && !screenOverride().isEmpty())
        return QRect(QPoint(0, 0), screenOverride());
    QScreen *screen = near ? near->screen() : nullptr;
    if (!screen && qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QRect(0, 0, 1024, 768);
    return screen->geometry();
}

void setScreenSizeOverride(const QSize &pixels) { screenOverride() = pixels; }

double screenWidthTwips() { return pixelsToTwips(screenRectPixels().width()); }
double screenHeightTwips() { return pixelsToTwips(screenRectPixels().height()); }

int screenMousePointer() { return screenPointer(); }

void setScreenMousePointer(int pointer)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    if (screenPointer() == pointer)
        return;
    if (screenPointer() != 0)
        QApplication::restoreOverrideCursor();
    if (auto shape = cursorShapeOf(pointer))
        QApplication::setOverrideCursor(QCursor(*shape));
    screenPointer() = pointer;
}

// ---- Boxes in front ---------------------------------------------------------------

namespace {
// Raises a box and gives it the focus as it shows.
class BoxRaiser : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *box = static_cast<QWidget *>(watched);
            box->raise();
            box->activateWindow();
        }
        return false;
    }
};

bool staysOnTop(const QWindow *window) { return window && (window->flags() & Qt::WindowStaysOnTopHint); }
} // namespace

InFrontOfOthers::InFrontOfOthers(QWidget *box) : raiser_(std::make_unique<BoxRaiser>())
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    // The window system is told at once (the window's state, not only its
    // flags): a window kept above all others would hide the box however
    // often the box is raised.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w == box || !w->isVisible() || !staysOnTop(w->windowHandle()))
            continue;
        w->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, false);
        w->lower();
        stepped_.emplace_back(w);
    }
    if (box)
        box->installEventFilter(raiser_.get());
}

InFrontOfOthers::~InFrontOfOthers()
{
    for (const QPointer<QWidget> &w : stepped_)
        if (w && w->isVisible() && w->windowHandle())
            w->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, true);
}

// ---- Colours ------------------------------------------------------------------

namespace {
struct SystemColor {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};
std::optional<SystemColor> systemColor(int index)
{
    using P = QPalette;
    switch (index) {
    case 1: case 12: return SystemColor{P::Active, P::Dark};           // desktop, app workspace
    case 2: case 13: return SystemColor{P::Active, P::Highlight};      // active caption, highlight
    case 3: return SystemColor{P::Inactive, P::Highlight};
    case 4: case 5: return SystemColor{P::Active, P::Base};           // menu, window
    case 6: case 21: return SystemColor{P::Active, P::Shadow};        // frame, 3D dark shadow
    case 7: case 8: return SystemColor{P::Active, P::Text};           // menu text, window text
    case 9: case 14: return SystemColor{P::Active, P::HighlightedText};
    case 10: case 11: return SystemColor{P::Active, P::Mid};
    case 15: case 22: return SystemColor{P::Active, P::Button};       // button face, 3D light
    case 16: return SystemColor{P::Active, P::Mid};                   // button shadow
    case 17: return SystemColor{P::Disabled, P::Text};                // gray text
    case 18: return SystemColor{P::Active, P::ButtonText};
    case 19: return SystemColor{P::Inactive, P::Text};
    case 20: return SystemColor{P::Active, P::Light};                 // 3D highlight
    case 23: return SystemColor{P::Active, P::ToolTipText};
    case 24: return SystemColor{P::Active, P::ToolTipBase};
    default: return std::nullopt;
    }
}
} // namespace

QColor colorFromVb(quint32 vbColor)
{
    if (vbColor & 0x80000000u) {
        auto sys = systemColor(int(vbColor & 0xFF));
        QPalette pal = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                           ? QGuiApplication::palette()
                           : QPalette();
        if (sys)
            return pal.color(sys->group, sys->role);
        return pal.color(QPalette::Window);
    }
    return QColor(int(vbColor & 0xFF), int((vbColor >> 8) & 0xFF), int((vbColor >> 16) & 0xFF));
}

quint32 vbFromColor(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

int keyCodeOf(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 65 + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return 48 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Print: return 42;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Help: return 47;
    case Qt::Key_Menu: return 93;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    default: return 0;
    }
}

namespace {
int shiftOf(Qt::KeyboardModifiers m)
{
    int shift = 0;
    if (m & Qt::ShiftModifier)
        shift |= vbShiftMask;
    if (m & Qt::ControlModifier)
        shift |= vbCtrlMask;
    if (m & Qt::AltModifier)
        shift |= vbAltMask;
    return shift;
}
int buttonOf(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton: return vbLeftButton;
    case Qt::RightButton: return vbRightButton;
    case Qt::MiddleButton: return vbMiddleButton;
    default: return 0;
    }
}
int buttonsOf(Qt::MouseButtons b)
{
    int r = 0;
    if (b & Qt::LeftButton)
        r |= vbLeftButton;
    if (b & Qt::RightButton)
        r |= vbRightButton;
    if (b & Qt::MiddleButton)
        r |= vbMiddleButton;
    return r;
}

QWidget *parentOf(Control *container) { return container ? container->widget() : nullptr; }

// Code that changes a list: the list's own signals are not the user's doing.
struct CodeChange {
    explicit CodeChange(int &depth) : depth(depth) { ++depth; }
    ~CodeChange() { --depth; }
    int &depth;
};

QString withLineFeeds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// ---- Windows that take no input --------------------------------------------------

class InputBlocker : public QObject {
public:
    static InputBlocker *instance()
    {
        static QPointer<InputBlocker> blocker;
        if (!blocker && QCoreApplication::instance()) {
            blocker = new InputBlocker(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(blocker);
        }
        return blocker;
    }
    void setBlocked(QWidget *window, bool blocked)
    {
        if (blocked) {
            if (!windows_.contains(window)) {
                windows_.insert(window);
                QObject::connect(window, &QObject::destroyed, this,
                                 [this, window] { windows_.remove(window); });
            }
        } else {
            windows_.remove(window);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (windows_.isEmpty() || !watched->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::InputMethod:
            break;
        case QEvent::Close:
            // Nobody closes a disabled window from outside; the program
            // still unloads it (Form::Unload does not go through a close).
            break;
        default:
            return false;
        }
        QWidget *window = static_cast<QWidget *>(watched)->window();
        if (!windows_.contains(window))
            return false;
        event->ignore();
        return true;
    }

private:
    using QObject::QObject;
    QSet<QWidget *> windows_;
};
} // namespace

// ---- Control -----------------------------------------------------------------

class Control::Bridge : public QObject {
public:
    explicit Bridge(Control *control) : control_(control) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        return control_->filterEvent(watched, event);
    }

private:
    Control *control_;
};

Control::~Control()
{
    QWidget *w = widget_.data();
    bridge_.reset();   // ends every connection and the event filter first
    delete w;
}

QObject *Control::context() const { return bridge_.get(); }

QWidget *Control::widget() const { return widget_.data(); }

void Control::attach(QWidget *widget, Control *container)
{
    widget_ = widget;
    bridge_ = std::make_unique<Bridge>(this);
    widget->installEventFilter(bridge_.get());
    widget->setMouseTracking(true);
    QSize hint = widget->sizeHint();
    if (!hint.isValid() || hint.isEmpty())
        hint = QSize(80, 25);
    width_ = pixelsToTwips(hint.width());
    height_ = pixelsToTwips(hint.height());
    applyGeometry();
    if (container)
        widget->show();   // shown with its container
}

void Control::listenTo(QObject *object)
{
    if (object && bridge_) {
        object->installEventFilter(bridge_.get());
        if (object->isWidgetType())
            static_cast<QWidget *>(object)->setMouseTracking(true);
    }
}

void Control::applyGeometry()
{
    if (QWidget *w = widget())
        w->setGeometry(twipsToPixels(left_), twipsToPixels(top_), std::max(0, twipsToPixels(width_)),
                       std::max(0, twipsToPixels(height_)));
}

void Control::setLeft(double twips) { Move(twips, top_, width_, height_); }
void Control::setTop(double twips) { Move(left_, twips, width_, height_); }
void Control::setWidth(double twips) { Move(left_, top_, twips, height_); }
void Control::setHeight(double twips) { Move(left_, top_, width_, twips); }

void Control::Move(double left, std::optional<double> top, std::optional<double> width,
                   std::optional<double> height)
{
    left_ = left;
    if (top)
        top_ = *top;
    if (width)
        width_ = std::max(0.0, *width);
    if (height)
        height_ = std::max(0.0, *height);
    applyGeometry();
}

void Control::setVisible(bool visible)
{
    visible_ = visible;
    if (QWidget *w = widget())
        w->setVisible(visible);
}

void Control::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (QWidget *w = widget())
        w->setEnabled(enabled);
}

void Control::setMousePointer(int pointer)
{
    mousePointer_ = pointer;
    QWidget *w = widget();
    if (!w)
        return;
    if (auto shape = cursorShapeOf(pointer))
        w->setCursor(*shape);
    else
        w->unsetCursor();
}

void Control::setForeColor(quint32 vbColor)
{
    foreColor_ = vbColor;
    colorsSet_ = true;
    applyColors();
}

void Control::setBackColor(quint32 vbColor)
{
    backColor_ = vbColor;
    colorsSet_ = true;
    applyColors();
}

void Control::applyColors()
{
    QWidget *w = widget();
    if (!w || !colorsSet_)
        return;
    QPalette pal = w->palette();
    QColor fore = colorFromVb(foreColor_);
    QColor back = colorFromVb(backColor_);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        pal.setColor(role, fore);
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        pal.setColor(role, back);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

double Control::FontSize() const
{
    QWidget *w = widget();
    return w ? w->font().pointSizeF() : 8.25;
}

void Control::setFontSize(double points)
{
    QWidget *w = widget();
    if (!w || points <= 0)
        return;
    QFont f = w->font();
    f.setPointSizeF(points);
    w->setFont(f);
}

bool Control::FontBold() const
{
    QWidget *w = widget();
    return w && w->font().bold();
}

void Control::setFontBold(bool bold)
{
    if (QWidget *w = widget()) {
        QFont f = w->font();
        f.setBold(bold);
        w->setFont(f);
    }
}

void Control::setToolTipText(const QString &text)
{
    toolTip_ = text;
    if (QWidget *w = widget())
        w->setToolTip(text);
}

void Control::SetFocus()
{
    if (QWidget *w = widget())
        w->setFocus(Qt::OtherFocusReason);
}

void Control::Refresh()
{
    if (QWidget *w = widget())
        w->repaint();
}

void Control::ZOrder(int position)
{
    if (QWidget *w = widget()) {
        if (position == 0)
            w->raise();
        else
            w->lower();
    }
}

bool Control::mouseEvent(QObject *watched, QEvent *event)
{
    auto *me = static_cast<QMouseEvent *>(event);
    QPointF pos = me->position();
    double x = pos.x() * kTwipsPerPixel, y = pos.y() * kTwipsPerPixel;
    int shift = shiftOf(me->modifiers());
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        pressInside_ = true;
        MouseDown(buttonOf(me->button()), shift, x, y);
        return mouseClicks_;
    case QEvent::MouseButtonRelease: {
        MouseUp(buttonOf(me->button()), shift, x, y);
        bool inside = false;
        if (watched->isWidgetType())
            inside = static_cast<QWidget *>(watched)->rect().contains(pos.toPoint());
        if (mouseClicks_ && me->button() == Qt::LeftButton && pressInside_ && inside)
            Click();
        pressInside_ = false;
        return mouseClicks_;
    }
    case QEvent::MouseButtonDblClick:
        if (mouseClicks_ && me->button() == Qt::LeftButton)
            DblClick();
        return mouseClicks_;
    case QEvent::MouseMove:
        MouseMove(buttonsOf(me->buttons()), shift, x, y);
        return false;
    default:
        return false;
    }
}

bool Control::keyEvent(QEvent *event)
{
    auto *ke = static_cast<QKeyEvent *>(event);
    int shift = shiftOf(ke->modifiers());
    int code = keyCodeOf(ke->key());
    if (event->type() == QEvent::KeyRelease) {
        if (code == 0)
            return false;
        KeyUp(code, shift);
        return code == 0;
    }
    if (code != 0) {
        KeyDown(code, shift);
        if (code == 0)
            return true;
    }
    QString text = ke->text();
    if (!text.isEmpty() && text.at(0).unicode() >= 1 && text.at(0).unicode() < 256) {
        int ascii = text.at(0).unicode();
        KeyPress(ascii);
        if (ascii == 0)
            return true;
    }
    return false;
}

bool Control::filterEvent(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return mouseEvent(watched, event);
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return keyEvent(event);
    case QEvent::FocusIn:
        GotFocus();
        return false;
    case QEvent::FocusOut:
        LostFocus();
        return false;
    default:
        return false;
    }
}

// ---- Form -----------------------------------------------------------------------

Form::Form()
{
    auto *w = new QWidget(nullptr, Qt::Window);
    visible_ = false;
    mouseClicks_ = true;
    attach(w, nullptr);
    Move(0, 0, 4800, 3600);
}

Form::~Form()
{
    *alive_ = false;
    if (modalLoop_)
        modalLoop_->quit();
    if (QWidget *w = widget()) {
        if (InputBlocker *b = InputBlocker::instance())
            b->setBlocked(w, false);
    }
}

void Form::setCaption(const QString &caption)
{
    caption_ = caption;
    if (QWidget *w = widget())
        w->setWindowTitle(caption);
}

void Form::setVisible(bool visible)
{
    if (visible)
        Show();
    else
        Hide();
}

void Form::setEnabled(bool enabled)
{
    enabled_ = enabled;
    QWidget *w = widget();
    if (!w)
        return;
    if (InputBlocker *b = InputBlocker::instance())
        b->setBlocked(w, !enabled);
}

int Form::WindowState() const
{
    QWidget *w = widget();
    if (!w)
        return 0;
    if (w->windowState() & Qt::WindowMinimized)
        return 1;
    if (w->windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

void Form::setWindowState(int state)
{
    QWidget *w = widget();
    if (!w)
        return;
    Qt::WindowStates s = w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == 1)
        s |= Qt::WindowMinimized;
    else if (state == 2)
        s |= Qt::WindowMaximized;
    w->setWindowState(s);
    if (state == 0)
        applyGeometry();
}

double Form::ScaleWidth() const
{
    QWidget *w = widget();
    int extra = w ? w->frameGeometry().width() - w->geometry().width() : 0;
    if (WindowState() != 0 && w)
        return pixelsToTwips(w->width());
    return pixelsToTwips(std::max(0, twipsToPixels(width_) - extra));
}

double Form::ScaleHeight() const
{
    QWidget *w = widget();
    int extra = w ? w->frameGeometry().height() - w->geometry().height() : 0;
    if (WindowState() != 0 && w)
        return pixelsToTwips(w->height());
    return pixelsToTwips(std::max(0, twipsToPixels(height_) - extra));
}

void Form::applyGeometry()
{
    QWidget *w = widget();
    if (!w || WindowState() != 0 || applying_)
        return;
    applying_ = true;
    // The outer size is what the program sets: the frame the window system
    // adds comes off the client area.
    int extraW = w->frameGeometry().width() - w->geometry().width();
    int extraH = w->frameGeometry().height() - w->geometry().height();
    requestedPos_ = QPoint(twipsToPixels(left_), twipsToPixels(top_));
    requestedClient_ = QSize(std::max(1, twipsToPixels(width_) - extraW), std::max(1, twipsToPixels(height_) - extraH));
    w->move(requestedPos_);
    w->resize(requestedClient_);
    applying_ = false;
}

void Form::Show(int modal, Form *owner)
{
    QWidget *w = widget();
    if (!w)
        return;
    if (owner && owner->widget() && owner != this && w->parentWidget() != owner->widget() && !w->isVisible())
        w->setParent(owner->widget(), w->windowFlags() | Qt::Window);
    visible_ = true;
    if (modal == 0 || modalLoop_) {
        w->show();
        w->raise();
        return;
    }
    QEventLoop loop;
    modalLoop_ = &loop;
    std::shared_ptr<bool> alive = alive_;   // a handler may end the form itself
    QPointer<QWidget> guard(w);
    QObject::connect(w, &QObject::destroyed, &loop, &QEventLoop::quit);
    w->setWindowModality(Qt::ApplicationModal);
    std::optional<InFrontOfOthers> front(std::in_place, w);
    w->show();
    w->raise();
    if (w->isVisible())
        loop.exec(QEventLoop::DialogExec);
    front.reset();
    if (!*alive)
        return;
    modalLoop_ = nullptr;
    if (guard) {
        if (guard->isVisible())
            guard->hide();
        guard->setWindowModality(Qt::NonModal);
    }
}

void Form::Hide()
{
    visible_ = false;
    if (QWidget *w = widget())
        w->hide();
    if (modalLoop_)
        modalLoop_->quit();
}

bool Form::closeRequested(int mode)
{
    int cancel = 0;
    QueryUnload(cancel, mode);
    if (cancel != 0)
        return false;
    UnloadEvent(cancel);
    return cancel == 0;
}

bool Form::Unload()
{
    if (!closeRequested(1))
        return false;
    Hide();
    return true;
}

bool Form::filterEvent(QObject *watched, QEvent *event)
{
    QWidget *w = widget();
    if (watched == w && w) {
        switch (event->type()) {
        case QEvent::Resize:
            // Only the window system's own events tell of a change by the
            // user; the ones Qt sends when a window is first shown do not.
            if (event->spontaneous() && !applying_ && WindowState() == 0) {
                const QRect frame = w->frameGeometry();
                if (w->size() != requestedClient_) {
                    width_ = pixelsToTwips(frame.width());   // the user's size
                    height_ = pixelsToTwips(frame.height());
                    requestedClient_ = w->size();
                } else if (frame.size() != QSize(twipsToPixels(width_), twipsToPixels(height_))) {
                    applyGeometry();   // our size, but the frame changed since
                }
            }
            Resize();
            return false;
        case QEvent::Move:
            if (event->spontaneous() && !applying_ && WindowState() == 0) {
                const QPoint at = w->frameGeometry().topLeft();
                if (at != requestedPos_) {
                    if (twipsToPixels(left_) != at.x())
                        left_ = pixelsToTwips(at.x());
                    if (twipsToPixels(top_) != at.y())
                        top_ = pixelsToTwips(at.y());
                    requestedPos_ = at;
                }
            }
            return false;
        case QEvent::Show:
            // The window system's frame is known now.
            if (!event->spontaneous())
                applyGeometry();
            return false;
        case QEvent::WindowStateChange:
            // A minimized window gets no resize, but the program looks.
            if (w->windowState() & Qt::WindowMinimized)
                Resize();
            return false;
        case QEvent::Close:
            if (!closeRequested(0)) {
                event->ignore();
                return true;
            }
            visible_ = false;
            return false;
        case QEvent::Hide:
            if (!event->spontaneous()) {
                visible_ = false;
                if (modalLoop_)
                    modalLoop_->quit();
            }
            return false;
        case QEvent::WindowActivate:
            Activate();
            return false;
        case QEvent::WindowDeactivate:
            Deactivate();
            return false;
        default:
            break;
        }
    }
    return Control::filterEvent(watched, event);
}

// ---- CommandButton ------------------------------------------------------------------

CommandButton::CommandButton(Control *container, const QString &caption)
{
    auto *b = new QPushButton(caption, parentOf(container));
    b->setAutoDefault(false);
    caption_ = caption;
    attach(b, container);
    QObject::connect(b, &QPushButton::clicked, context(), [this] { Click(); });
}

QPushButton *CommandButton::button() const { return static_cast<QPushButton *>(widget()); }

void CommandButton::setCaption(const QString &caption)
{
    caption_ = caption;
    // Blanks at the end of a caption only push the centred text aside.
    QString shown = caption;
    while (shown.endsWith(QLatin1Char(' ')))
        shown.chop(1);
    if (auto *b = button())
        b->setText(shown);
    fitCaption();
}

void CommandButton::applyGeometry()
{
    Control::applyGeometry();
    fitCaption();
}

void CommandButton::fitCaption()
{
    auto *b = button();
    if (!b || b->text().isEmpty() || b->width() <= 0)
        return;
    QFont f = b->font();
    if (fittedPoints_ > 0 && f.pointSizeF() == fittedPoints_)
        f.setPointSizeF(designPoints_);   // start again from the font before the fit
    else
        designPoints_ = f.pointSizeF();
    if (designPoints_ <= 0)
        return;
    const double room = b->width() - 6;
    double points = designPoints_;
    while (points > 6 && QFontMetricsF(f).horizontalAdvance(b->text()) > room) {
        points -= 0.25;
        f.setPointSizeF(points);
    }
    if (points < designPoints_) {
        fittedPoints_ = points;
        b->setFont(f);
    } else if (fittedPoints_ > 0) {
        fittedPoints_ = 0;
        f.setPointSizeF(designPoints_);
        b->setFont(f);
    }
}

void CommandButton::setValue(bool pressed)
{
    if (pressed)
        Click();
}

bool CommandButton::Default() const { return button() && button()->isDefault(); }

void CommandButton::setDefault(bool isDefault)
{
    if (auto *b = button())
        b->setDefault(isDefault);
}

// ---- Label ----------------------------------------------------------------------

Label::Label(Control *container, const QString &caption)
{
    auto *l = new QLabel(parentOf(container));
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    mouseClicks_ = true;
    attach(l, container);
    setCaption(caption);
}

QLabel *Label::label() const { return static_cast<QLabel *>(widget()); }

QString Label::shownText() const
{
    QString text = withLineFeeds(caption_);
    if (!useMnemonic_)
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;   // "&&" shows one "&"; "&x" shows x
        }
        out += text.at(i);
    }
    return out;
}

void Label::setCaption(const QString &caption)
{
    caption_ = caption;
    if (scrollable_) {
        firstLine_ = 0;
        showLines();
    } else if (auto *l = label()) {
        l->setText(shownText());
    }
    if (autoSize_)
        fit();
}

void Label::setScrollable(bool scrollable)
{
    scrollable_ = scrollable;
    auto *l = label();
    if (!l)
        return;
    if (scrollable && !bar_) {
        bar_ = new QScrollBar(Qt::Vertical, l);
        bar_->hide();
        QObject::connect(bar_, &QScrollBar::valueChanged, context(), [this](int value) {
            if (value != firstLine_)
                setFirstShownLine(value);
        });
    }
    l->setFocusPolicy(scrollable ? Qt::ClickFocus : Qt::NoFocus);
    firstLine_ = 0;
    showLines();
}

int Label::visibleLines() const
{
    const auto *l = label();
    if (!l)
        return 1;
    return std::max(1, l->height() / std::max(1, l->fontMetrics().lineSpacing()));
}

void Label::setFirstShownLine(int line)
{
    firstLine_ = std::max(0, line);
    showLines();
}

void Label::showLines()
{
    auto *l = label();
    if (!l)
        return;
    if (!scrollable_) {
        l->setText(shownText());
        return;
    }
    const QStringList lines = shownText().split(QLatin1Char('\n'));
    const int shown = visibleLines();
    const int last = std::max(0, int(lines.size()) - shown);
    firstLine_ = std::clamp(firstLine_, 0, last);
    l->setText(lines.mid(firstLine_).join(QLatin1Char('\n')));
    if (!bar_)
        return;
    const QSignalBlocker block(bar_);
    bar_->setRange(0, last);
    bar_->setPageStep(shown);
    bar_->setValue(firstLine_);
    const int barWidth = bar_->sizeHint().width();
    bar_->setGeometry(l->width() - barWidth, 0, barWidth, l->height());
    bar_->setVisible(last > 0);
    l->setContentsMargins(0, 0, last > 0 ? barWidth : 0, 0);
}

void Label::applyGeometry()
{
    Control::applyGeometry();
    if (scrollable_)
        showLines();
}

bool Label::filterEvent(QObject *watched, QEvent *event)
{
    if (scrollable_ && watched == widget()) {
        if (event->type() == QEvent::Wheel) {
            const auto *wheel = static_cast<QWheelEvent *>(event);
            const int notches = wheel->angleDelta().y() / 120;
            if (notches != 0)
                setFirstShownLine(firstLine_ - 3 * notches);
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            const int page = std::max(1, visibleLines() - 1);
            switch (static_cast<QKeyEvent *>(event)->key()) {
            case Qt::Key_Up: setFirstShownLine(firstLine_ - 1); return true;
            case Qt::Key_Down: setFirstShownLine(firstLine_ + 1); return true;
            case Qt::Key_PageUp: setFirstShownLine(firstLine_ - page); return true;
            case Qt::Key_PageDown: setFirstShownLine(firstLine_ + page); return true;
            case Qt::Key_Home: setFirstShownLine(0); return true;
            case Qt::Key_End: setFirstShownLine(std::numeric_limits<int>::max() / 2); return true;
            default: break;
            }
        }
    }
    return Control::filterEvent(watched, event);
}

void Label::setAlignment(int alignment)
{
    alignment_ = alignment;
    Qt::Alignment h = alignment == 1 ? Qt::AlignRight : alignment == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
    if (auto *l = label())
        l->setAlignment(h | Qt::AlignTop);
}

bool Label::WordWrap() const { return label() && label()->wordWrap(); }

void Label::setWordWrap(bool wrap)
{
    if (auto *l = label())
        l->setWordWrap(wrap);
    if (autoSize_)
        fit();
}

void Label::setAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    if (autoSize)
        fit();
}

void Label::setUseMnemonic(bool use)
{
    useMnemonic_ = use;
    setCaption(caption_);
}

void Label::fit()
{
    auto *l = label();
    if (!l)
        return;
    QSize s = l->sizeHint();
    if (l->wordWrap())
        s.setHeight(l->heightForWidth(l->width()));
    width_ = l->wordWrap() ? width_ : pixelsToTwips(s.width());
    height_ = pixelsToTwips(std::max(0, s.height()));
    applyGeometry();
}

// ---- TextBox --------------------------------------------------------------------------

TextBox::TextBox(Control *container, bool multiLine) : multiLine_(multiLine)
{
    if (multiLine) {
        auto *p = new QPlainTextEdit(parentOf(container));
        attach(p, container);
        listenTo(p->viewport());
        QObject::connect(p, &QPlainTextEdit::textChanged, context(), [this] { Change(); });
    } else {
        auto *l = new QLineEdit(parentOf(container));
        attach(l, container);
        QObject::connect(l, &QLineEdit::textChanged, context(), [this] { Change(); });
    }
}

QLineEdit *TextBox::line() const { return multiLine_ ? nullptr : static_cast<QLineEdit *>(widget()); }
QPlainTextEdit *TextBox::plain() const
{
    return multiLine_ ? static_cast<QPlainTextEdit *>(widget()) : nullptr;
}

QString TextBox::Text() const
{
    if (auto *l = line())
        return l->text();
    if (auto *p = plain()) {
        QString t = p->toPlainText();
        t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        return t;
    }
    return {};
}

void TextBox::setText(const QString &text)
{
    QString t = maxLength_ > 0 ? text.left(maxLength_) : text;
    if (auto *l = line()) {
        if (l->text() != t)
            l->setText(t);   // textChanged raises Change
    } else if (auto *p = plain()) {
        QString shown = withLineFeeds(t);
        if (p->toPlainText() != shown)
            p->setPlainText(shown);
    }
}

void TextBox::setLocked(bool locked)
{
    locked_ = locked;
    if (auto *l = line())
        l->setReadOnly(locked);
    if (auto *p = plain())
        p->setReadOnly(locked);
}

void TextBox::setMaxLength(int length)
{
    maxLength_ = std::max(0, length);
    if (auto *l = line())
        l->setMaxLength(maxLength_ > 0 ? maxLength_ : 32767);
}

int TextBox::SelStart() const
{
    if (auto *l = line())
        return l->hasSelectedText() ? l->selectionStart() : l->cursorPosition();
    if (auto *p = plain())
        return p->textCursor().selectionStart();
    return 0;
}

void TextBox::setSelStart(int start)
{
    if (auto *l = line())
        l->setCursorPosition(std::clamp(start, 0, int(l->text().size())));
    if (auto *p = plain()) {
        QTextCursor c = p->textCursor();
        c.setPosition(std::clamp(start, 0, p->document()->characterCount() - 1));
        p->setTextCursor(c);
    }
}

int TextBox::SelLength() const
{
    if (auto *l = line())
        return int(l->selectedText().size());
    if (auto *p = plain())
        return p->textCursor().selectionEnd() - p->textCursor().selectionStart();
    return 0;
}

void TextBox::setSelLength(int length)
{
    int start = SelStart();
    if (auto *l = line())
        l->setSelection(start, std::clamp(length, 0, int(l->text().size()) - start));
    if (auto *p = plain()) {
        QTextCursor c = p->textCursor();
        c.setPosition(start);
        c.setPosition(std::clamp(start + length, start, p->document()->characterCount() - 1),
                      QTextCursor::KeepAnchor);
        p->setTextCursor(c);
    }
}

QString TextBox::SelText() const
{
    if (auto *l = line())
        return l->selectedText();
    if (auto *p = plain()) {
        QString t = p->textCursor().selectedText();
        t.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
        return t;
    }
    return {};
}

// ---- CheckBox --------------------------------------------------------------------

CheckBox::CheckBox(Control *container, const QString &caption)
{
    auto *b = new QCheckBox(caption, parentOf(container));
    caption_ = caption;
    attach(b, container);
    QObject::connect(b, &QCheckBox::clicked, context(), [this] {
        auto *cb = box();
        if (!cb)
            return;
        Qt::CheckState s = cb->checkState();
        value_ = s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0;
        if (value_ != 2)
            cb->setTristate(false);
        Click();
    });
}

QCheckBox *CheckBox::box() const { return static_cast<QCheckBox *>(widget()); }

void CheckBox::setCaption(const QString &caption)
{
    caption_ = caption;
    if (auto *b = box())
        b->setText(caption);
}

void CheckBox::show(int value)
{
    if (auto *b = box()) {
        b->setTristate(value == 2);
        b->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
    }
}

void CheckBox::setValue(int value)
{
    value = std::clamp(value, 0, 2);
    if (value == value_)
        return;
    value_ = value;
    show(value);
    Click();
}

// ---- ListBox ------------------------------------------------------------------------

namespace {

// Selects or clears the rows first to last of a multi-selection list. Rows
// selected next to selected rows join their range: the selection model keeps
// the ranges it is given as they are, and each of its operations walks all of
// them, so rows selected one by one would cost a walk over thousands of
// one-row ranges each (minutes for a Save All that picks 20,000 lines).
// Clearing rows only ever splits a range, which keeps them few.
void selectRows(QListWidget *l, int first, int last, bool selected)
{
    QItemSelectionModel *model = l->selectionModel();
    if (!model)
        return;
    if (selected) {
        for (const QItemSelectionRange &r : model->selection()) {
            if (r.bottom() == first - 1)
                first = std::min(first, r.top());
            else if (r.top() == last + 1)
                last = std::max(last, r.bottom());
        }
    }
    model->select(QItemSelection(l->model()->index(first, 0), l->model()->index(last, 0)),
                  selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

} // namespace

ListBox::ListBox(Control *container)
{
    auto *l = new QListWidget(parentOf(container));
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setUniformItemSizes(true);
    l->setEditTriggers(QAbstractItemView::NoEditTriggers);
    attach(l, container);
    listenTo(l->viewport());
    QObject::connect(l, &QListWidget::itemSelectionChanged, context(), [this] {
        if (codeDepth_)
            return;
        clickSincePress_ = true;
        Click();
    });
    QObject::connect(l, &QListWidget::itemClicked, context(), [this] {
        if (codeDepth_)
            return;
        if (!clickSincePress_)
            Click();   // a click on the item that was already selected
        clickSincePress_ = true;
    });
    QObject::connect(l, &QListWidget::itemDoubleClicked, context(), [this] {
        if (!codeDepth_)
            DblClick();
    });
}

QListWidget *ListBox::list() const { return static_cast<QListWidget *>(widget()); }

void ListBox::setMultiSelect(int mode)
{
    multiSelect_ = std::clamp(mode, 0, 2);
    if (auto *l = list()) {
        CodeChange c(codeDepth_);
        l->setSelectionMode(multiSelect_ == 0   ? QAbstractItemView::SingleSelection
                            : multiSelect_ == 1 ? QAbstractItemView::MultiSelection
                                                : QAbstractItemView::ExtendedSelection);
    }
}

void ListBox::setColumns(int columns)
{
    columns_ = std::max(0, columns);
    layoutColumns();
}

void ListBox::layoutColumns()
{
    auto *l = list();
    if (!l)
        return;
    if (columns_ == 0) {
        l->setWrapping(false);
        l->setFlow(QListView::TopToBottom);
        l->setGridSize(QSize());
        return;
    }
    l->setFlow(QListView::TopToBottom);
    l->setWrapping(true);
    l->setResizeMode(QListView::Adjust);
    int rowHeight = l->fontMetrics().height() + 2;
    int width = std::max(1, l->viewport()->width() / columns_);
    l->setGridSize(QSize(width, rowHeight));
}

void ListBox::applyGeometry()
{
    Control::applyGeometry();
    if (columns_ > 0)
        layoutColumns();
}

void ListBox::setSorted(bool sorted) { sorted_ = sorted; }

void ListBox::AddItem(const QString &text, int index)
{
    auto *l = list();
    if (!l)
        return;
    CodeChange c(codeDepth_);
    int count = l->count();
    int at = index;
    if (at < 0 || at > count) {
        at = count;
        if (sorted_) {
            at = 0;
            while (at < count && QString::compare(l->item(at)->text(), text, Qt::CaseInsensitive) <= 0)
                ++at;
        }
    }
    auto *item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, 0);
    l->insertItem(at, item);
    newIndex_ = at;
}

void ListBox::RemoveItem(int index)
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return;
    CodeChange c(codeDepth_);
    delete l->takeItem(index);
}

void ListBox::Clear()
{
    if (auto *l = list()) {
        CodeChange c(codeDepth_);
        l->clear();
    }
    newIndex_ = -1;
}

int ListBox::ListCount() const { return list() ? list()->count() : 0; }

QString ListBox::List(int index) const
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return {};
    return l->item(index)->text();
}

void ListBox::setList(int index, const QString &text)
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return;
    CodeChange c(codeDepth_);
    l->item(index)->setText(text);
}

int ListBox::ItemData(int index) const
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return 0;
    return l->item(index)->data(Qt::UserRole).toInt();
}

void ListBox::setItemData(int index, int data)
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return;
    CodeChange c(codeDepth_);
    l->item(index)->setData(Qt::UserRole, data);
}

int ListBox::ListIndex() const
{
    auto *l = list();
    if (!l)
        return -1;
    if (multiSelect_ == 0) {
        const auto sel = l->selectedItems();
        return sel.isEmpty() ? -1 : l->row(sel.first());
    }
    return l->currentRow();
}

void ListBox::setListIndex(int index)
{
    auto *l = list();
    if (!l || index < -1 || index >= l->count())
        return;
    if (index == -1) {
        CodeChange c(codeDepth_);
        l->clearSelection();
        l->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        return;
    }
    {
        CodeChange c(codeDepth_);
        if (multiSelect_ == 0)
            l->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
        else
            l->setCurrentRow(index, QItemSelectionModel::NoUpdate);
    }
    Click();
}

bool ListBox::Selected(int index) const
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return false;
    return l->item(index)->isSelected();
}

void ListBox::setSelected(int index, bool selected)
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return;
    {
        CodeChange c(codeDepth_);
        if (multiSelect_ == 0) {
            if (selected)
                l->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
            else if (l->item(index)->isSelected())
                l->clearSelection();
        } else {
            selectRows(l, index, index, selected);
            if (selected)   // the selected item becomes the current one, as by a click
                l->setCurrentRow(index, QItemSelectionModel::NoUpdate);
        }
    }
    Click();
}

void ListBox::setSelectedRange(int first, int last, bool selected)
{
    auto *l = list();
    first = std::max(first, 0);
    if (!l || first > last || first >= l->count())
        return;
    last = std::min(last, l->count() - 1);
    if (multiSelect_ == 0) {
        setSelected(last, selected);
        return;
    }
    {
        CodeChange c(codeDepth_);
        selectRows(l, first, last, selected);
        if (selected)
            l->setCurrentRow(last, QItemSelectionModel::NoUpdate);
    }
    Click();
}

int ListBox::SelCount() const
{
    auto *l = list();
    if (!l)
        return 0;
    // Counted over the selection's ranges (which never overlap), not item by
    // item: a long save asks after every line. Every item is selectable.
    int count = 0;
    for (const QItemSelectionRange &r : l->selectionModel()->selection())
        if (r.isValid())
            count += r.height();
    return count;
}

QString ListBox::Text() const { return List(ListIndex()); }

int ListBox::TopIndex() const
{
    auto *l = list();
    if (!l || l->count() == 0)
        return 0;
    QModelIndex i = l->indexAt(QPoint(2, 2));
    return i.isValid() ? i.row() : 0;
}

void ListBox::setTopIndex(int index)
{
    auto *l = list();
    if (!l || index < 0 || index >= l->count())
        return;
    l->scrollToItem(l->item(index), QAbstractItemView::PositionAtTop);
}

bool ListBox::filterEvent(QObject *watched, QEvent *event)
{
    auto *l = list();
    if (l && watched == l->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            clickSincePress_ = false;
        else if (event->type() == QEvent::Resize && columns_ > 0)
            QTimer::singleShot(0, context(), [this] { layoutColumns(); });
    }
    return Control::filterEvent(watched, event);
}

// ---- ComboBox ------------------------------------------------------------------------

ComboBox::ComboBox(Control *container, int style) : style_(style == 0 ? 0 : 2)
{
    auto *c = new QComboBox(parentOf(container));
    c->setEditable(style_ == 0);
    if (style_ == 0)
        c->setInsertPolicy(QComboBox::NoInsert);
    attach(c, container);
    QObject::connect(c, &QComboBox::activated, context(), [this] {
        if (!codeDepth_)
            Click();
    });
    if (QLineEdit *edit = c->lineEdit())
        QObject::connect(edit, &QLineEdit::textEdited, context(), [this] { Change(); });
}

QComboBox *ComboBox::combo() const { return static_cast<QComboBox *>(widget()); }

void ComboBox::AddItem(const QString &text, int index)
{
    auto *c = combo();
    if (!c)
        return;
    CodeChange g(codeDepth_);
    int at = (index < 0 || index > c->count()) ? c->count() : index;
    c->insertItem(at, text, 0);
    if (style_ == 2 && c->count() == 1)
        c->setCurrentIndex(-1);   // adding selects nothing
}

void ComboBox::RemoveItem(int index)
{
    auto *c = combo();
    if (!c || index < 0 || index >= c->count())
        return;
    CodeChange g(codeDepth_);
    c->removeItem(index);
}

void ComboBox::Clear()
{
    if (auto *c = combo()) {
        CodeChange g(codeDepth_);
        c->clear();
    }
}

int ComboBox::ListCount() const { return combo() ? combo()->count() : 0; }

QString ComboBox::List(int index) const
{
    auto *c = combo();
    if (!c || index < 0 || index >= c->count())
        return {};
    return c->itemText(index);
}

void ComboBox::setList(int index, const QString &text)
{
    auto *c = combo();
    if (!c || index < 0 || index >= c->count())
        return;
    CodeChange g(codeDepth_);
    c->setItemText(index, text);
}

int ComboBox::ItemData(int index) const
{
    auto *c = combo();
    if (!c || index < 0 || index >= c->count())
        return 0;
    return c->itemData(index).toInt();
}

void ComboBox::setItemData(int index, int data)
{
    auto *c = combo();
    if (!c || index < 0 || index >= c->count())
        return;
    c->setItemData(index, data);
}

int ComboBox::ListIndex() const { return combo() ? combo()->currentIndex() : -1; }

void ComboBox::setListIndex(int index)
{
    auto *c = combo();
    if (!c || index < -1 || index >= c->count())
        return;
    {
        CodeChange g(codeDepth_);
        c->setCurrentIndex(index);
    }
    if (index >= 0)
        Click();
}

QString ComboBox::Text() const
{
    auto *c = combo();
    if (!c)
        return {};
    if (style_ == 0)
        return c->currentText();
    return c->currentIndex() >= 0 ? c->itemText(c->currentIndex()) : QString();
}

void ComboBox::setText(const QString &text)
{
    auto *c = combo();
    if (!c)
        return;
    CodeChange g(codeDepth_);
    if (style_ == 0) {
        c->setEditText(text);
    } else {
        int i = c->findText(text, Qt::MatchFixedString);
        if (i >= 0)
            c->setCurrentIndex(i);
    }
}

// ---- PictureBox --------------------------------------------------------------------

class PictureBox::Surface : public QFrame {
public:
    Surface(PictureBox *owner, QWidget *parent) : QFrame(parent), owner_(owner) {}

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter p(this);
            if (!owner_->picture_.isNull())
                p.drawImage(QPoint(0, 0), owner_->picture_);
            owner_->Paint(p);
        }
        QFrame::paintEvent(event);
    }

private:
    PictureBox *owner_;
};

PictureBox::PictureBox(Control *container)
{
    auto *s = new Surface(this, parentOf(container));
    s->setFrameShape(QFrame::Box);
    mouseClicks_ = true;
    attach(s, container);
}

void PictureBox::setPicture(const QImage &picture)
{
    picture_ = picture;
    if (QWidget *w = widget())
        w->update();
}

void PictureBox::Cls() { setPicture(QImage()); }

double PictureBox::ScaleWidth() const
{
    auto *f = static_cast<QFrame *>(widget());
    return f ? pixelsToTwips(f->contentsRect().width()) : width_;
}

double PictureBox::ScaleHeight() const
{
    auto *f = static_cast<QFrame *>(widget());
    return f ? pixelsToTwips(f->contentsRect().height()) : height_;
}

void PictureBox::setBorderStyle(int style)
{
    borderStyle_ = style;
    if (auto *f = static_cast<QFrame *>(widget()))
        f->setFrameShape(style == 0 ? QFrame::NoFrame : QFrame::Box);
}

bool PictureBox::filterEvent(QObject *watched, QEvent *event)
{
    if (watched == widget() && event->type() == QEvent::Resize)
        Resize();
    return Control::filterEvent(watched, event);
}

// ---- Frame -------------------------------------------------------------------------

Frame::Frame(Control *container, const QString &caption)
{
    auto *g = new QGroupBox(caption, parentOf(container));
    caption_ = caption;
    mouseClicks_ = true;
    attach(g, container);
}

QGroupBox *Frame::group() const { return static_cast<QGroupBox *>(widget()); }

void Frame::setCaption(const QString &caption)
{
    caption_ = caption;
    if (auto *g = group())
        g->setTitle(borderStyle_ == 0 ? QString() : caption);
}

void Frame::setBorderStyle(int style)
{
    borderStyle_ = style;
    if (auto *g = group()) {
        g->setFlat(style == 0);
        g->setTitle(style == 0 ? QString() : caption_);
    }
}

// ---- ProgressBar ---------------------------------------------------------------------

namespace {
constexpr int kProgressSteps = 10000;
}

ProgressBar::ProgressBar(Control *container)
{
    auto *p = new QProgressBar(parentOf(container));
    p->setRange(0, kProgressSteps);
    p->setTextVisible(false);
    attach(p, container);
    show();
}

void ProgressBar::show()
{
    auto *p = static_cast<QProgressBar *>(widget());
    if (!p)
        return;
    int pos = 0;
    if (max_ > min_)
        pos = int(std::lround((value_ - min_) / (max_ - min_) * kProgressSteps));
    p->setValue(std::clamp(pos, 0, kProgressSteps));
}

void ProgressBar::setMin(double value)
{
    min_ = value;
    value_ = std::max(value_, min_);
    show();
}

void ProgressBar::setMax(double value)
{
    max_ = value;
    value_ = std::min(value_, max_);
    value_ = std::max(value_, min_);
    show();
}

void ProgressBar::setValue(double value)
{
    value_ = std::max(min_, std::min(value, max_));
    show();
}

// ---- Timer -------------------------------------------------------------------------

Timer::Timer(Control *owner, int interval, bool enabled)
    : enabled_(enabled), interval_(std::max(0, interval))
{
    timer_ = new QTimer(owner ? owner->widget() : nullptr);
    timer_->setSingleShot(false);
    timer_->setTimerType(Qt::PreciseTimer);
    auto *t = timer_.data();
    QObject::connect(t, &QTimer::timeout, t, [this] {
        static thread_local QSet<const Timer *> ticking;
        if (ticking.contains(this))
            return;   // no second tick while the first one waits
        ticking.insert(this);
        Tick();
        ticking.remove(this);
    });
    update(true);
}

Timer::~Timer() { delete timer_.data(); }

void Timer::update(bool restart)
{
    QTimer *t = timer_.data();
    if (!t)
        return;
    if (!enabled_ || interval_ <= 0) {
        t->stop();
        return;
    }
    if (restart || !t->isActive())
        t->start(interval_);
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    update(false);
}

void Timer::setInterval(int ms)
{
    interval_ = std::max(0, ms);
    update(true);
}

bool Timer::running() const { return timer_ && timer_->isActive(); }

int Timer::remainingMs() const { return running() ? timer_->remainingTime() : -1; }

// ---- ImageList --------------------------------------------------------------------

int ImageList::Add(const QImage &image)
{
    QImage scaled = image;
    if (!image.isNull() && (image.width() != width_ || image.height() != height_))
        scaled = image.scaled(width_, height_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    images_.push_back(scaled);
    return int(images_.size());
}

QImage ImageList::image(int index) const
{
    if (index < 1 || index > int(images_.size()))
        return {};
    return images_[size_t(index - 1)];
}

void ImageList::Clear() { images_.clear(); }

// ---- ListView ----------------------------------------------------------------------

namespace {
constexpr int kIconRole = Qt::UserRole + 1;
constexpr int kTagRole = Qt::UserRole + 2;
} // namespace

ListView::ListView(Control *container)
{
    stack_ = new QStackedWidget(parentOf(container));
    model_ = new QStandardItemModel(stack_);
    model_->setColumnCount(1);
    icons_ = new QListView(stack_);
    icons_->setModel(model_);
    icons_->setViewMode(QListView::IconMode);
    icons_->setMovement(QListView::Static);
    icons_->setResizeMode(QListView::Adjust);
    icons_->setWrapping(true);
    icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_ = new QTreeView(stack_);
    report_->setModel(model_);
    QItemSelectionModel *old = report_->selectionModel();
    report_->setSelectionModel(icons_->selectionModel());
    delete old;
    report_->setRootIsDecorated(false);
    report_->setItemsExpandable(false);
    report_->setUniformRowHeights(true);
    report_->setAllColumnsShowFocus(true);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_->header()->setStretchLastSection(false);
    report_->header()->setSectionsClickable(true);
    stack_->addWidget(icons_);
    stack_->addWidget(report_);
    attach(stack_, container);
    for (QAbstractItemView *v : {static_cast<QAbstractItemView *>(icons_), static_cast<QAbstractItemView *>(report_)}) {
        listenTo(v);
        listenTo(v->viewport());
        v->setSelectionMode(QAbstractItemView::SingleSelection);
        QObject::connect(v, &QAbstractItemView::clicked, context(), [this](const QModelIndex &i) {
            if (codeDepth_ || !i.isValid())
                return;
            ItemClick(i.row() + 1);
            Click();
        });
        QObject::connect(v, &QAbstractItemView::doubleClicked, context(), [this] {
            if (!codeDepth_)
                DblClick();
        });
    }
    QObject::connect(report_->header(), &QHeaderView::sectionClicked, context(),
                     [this](int section) { ColumnClick(section + 1); });
    QObject::connect(report_->header(), &QHeaderView::sectionResized, context(),
                     [this](int section, int, int size) {
                         if (section >= 0 && section < int(columnWidths_.size()) &&
                             twipsToPixels(columnWidths_[size_t(section)]) != size)
                             columnWidths_[size_t(section)] = pixelsToTwips(size);
                     });
    QObject::connect(model_, &QStandardItemModel::itemChanged, context(), [this](QStandardItem *it) {
        if (codeDepth_ || !it || it->column() != 0 || !checkboxes_)
            return;
        ItemCheck(it->row() + 1);
    });
    setView(lvwIcon);
}

ListView::~ListView() = default;

QStandardItem *ListView::item(int index, int column) const
{
    if (!model_ || index < 1 || index > model_->rowCount())
        return nullptr;
    return model_->item(index - 1, column);
}

void ListView::setView(int view)
{
    view_ = std::clamp(view, 0, 3);
    if (!stack_)
        return;
    if (view_ == lvwReport) {
        stack_->setCurrentWidget(report_);
    } else {
        icons_->setViewMode(view_ == lvwIcon ? QListView::IconMode : QListView::ListMode);
        icons_->setFlow(view_ == lvwList ? QListView::TopToBottom : QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setResizeMode(QListView::Adjust);
        stack_->setCurrentWidget(icons_);
    }
    refreshIcons();
}

void ListView::setCheckboxes(bool on)
{
    checkboxes_ = on;
    if (!model_)
        return;
    CodeChange c(codeDepth_);
    for (int r = 0; r < model_->rowCount(); ++r)
        if (QStandardItem *it = model_->item(r, 0))
            it->setCheckable(on);
}

void ListView::setMultiSelect(bool on)
{
    multiSelect_ = on;
    auto mode = on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    if (icons_)
        icons_->setSelectionMode(mode);
    if (report_)
        report_->setSelectionMode(mode);
}

void ListView::setHideColumnHeaders(bool hide)
{
    hideHeaders_ = hide;
    if (report_)
        report_->setHeaderHidden(hide);
}

int ListView::AddColumn(const QString &text, double widthTwips)
{
    if (!model_)
        return 0;
    int n = int(columnWidths_.size());
    columnWidths_.push_back(widthTwips);
    if (model_->columnCount() < n + 1)
        model_->setColumnCount(n + 1);
    model_->setHorizontalHeaderItem(n, new QStandardItem(text));
    report_->setColumnWidth(n, std::max(0, twipsToPixels(widthTwips)));
    return n + 1;
}

int ListView::ColumnCount() const { return int(columnWidths_.size()); }

QString ListView::ColumnText(int column) const
{
    if (!model_ || column < 1 || column > ColumnCount())
        return {};
    QStandardItem *h = model_->horizontalHeaderItem(column - 1);
    return h ? h->text() : QString();
}

double ListView::ColumnWidth(int column) const
{
    if (column < 1 || column > ColumnCount())
        return 0;
    return columnWidths_[size_t(column - 1)];
}

void ListView::setColumnWidth(int column, double widthTwips)
{
    if (column < 1 || column > ColumnCount())
        return;
    columnWidths_[size_t(column - 1)] = widthTwips;
    if (report_)
        report_->setColumnWidth(column - 1, std::max(0, twipsToPixels(widthTwips)));
}

void ListView::ClearColumns()
{
    columnWidths_.clear();
    if (model_) {
        CodeChange c(codeDepth_);
        model_->setHorizontalHeaderLabels({});
        model_->setColumnCount(1);
    }
}

int ListView::AddItem(const QString &text, int icon)
{
    if (!model_)
        return 0;
    CodeChange c(codeDepth_);
    auto *it = new QStandardItem(text);
    it->setEditable(false);
    it->setCheckable(checkboxes_);
    it->setData(icon, kIconRole);
    model_->appendRow(it);
    int index = model_->rowCount();
    if (icon > 0)
        refreshIcon(it);
    return index;
}

void ListView::RemoveItem(int index)
{
    if (!item(index))
        return;
    CodeChange c(codeDepth_);
    model_->removeRow(index - 1);
}

void ListView::Clear()
{
    if (!model_)
        return;
    CodeChange c(codeDepth_);
    model_->removeRows(0, model_->rowCount());
}

int ListView::ItemCount() const { return model_ ? model_->rowCount() : 0; }

QString ListView::ItemText(int index) const
{
    QStandardItem *it = item(index);
    return it ? it->text() : QString();
}

void ListView::setItemText(int index, const QString &text)
{
    if (QStandardItem *it = item(index)) {
        CodeChange c(codeDepth_);
        it->setText(text);
    }
}

QString ListView::SubItem(int index, int subItem) const
{
    if (subItem < 1)
        return subItem == 0 ? ItemText(index) : QString();
    QStandardItem *it = item(index, subItem);
    return it ? it->text() : QString();
}

void ListView::setSubItem(int index, int subItem, const QString &text)
{
    if (subItem == 0) {
        setItemText(index, text);
        return;
    }
    if (subItem < 1 || !item(index))
        return;
    CodeChange c(codeDepth_);
    if (model_->columnCount() < subItem + 1)
        model_->setColumnCount(subItem + 1);
    QStandardItem *it = model_->item(index - 1, subItem);
    if (!it) {
        it = new QStandardItem(text);
        it->setEditable(false);
        model_->setItem(index - 1, subItem, it);
    } else {
        it->setText(text);
    }
}

bool ListView::ItemChecked(int index) const
{
    QStandardItem *it = item(index);
    return it && it->checkState() == Qt::Checked;
}

void ListView::setItemChecked(int index, bool checked)
{
    if (QStandardItem *it = item(index)) {
        CodeChange c(codeDepth_);
        it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

bool ListView::ItemSelected(int index) const
{
    QStandardItem *it = item(index);
    return it && icons_->selectionModel()->isRowSelected(index - 1, QModelIndex());
}

void ListView::setItemSelected(int index, bool selected)
{
    QStandardItem *it = item(index);
    if (!it)
        return;
    CodeChange c(codeDepth_);
    QItemSelectionModel *sel = icons_->selectionModel();
    QModelIndex mi = it->index();
    if (selected && !multiSelect_) {
        sel->setCurrentIndex(mi, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        sel->select(mi, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                            QItemSelectionModel::Rows);
        if (selected)   // the selected item becomes the current one
            sel->setCurrentIndex(mi, QItemSelectionModel::NoUpdate);
    }
}

QString ListView::ItemTag(int index) const
{
    QStandardItem *it = item(index);
    return it ? it->data(kTagRole).toString() : QString();
}

void ListView::setItemTag(int index, const QString &tag)
{
    if (QStandardItem *it = item(index)) {
        CodeChange c(codeDepth_);
        it->setData(tag, kTagRole);
    }
}

QString ListView::ItemToolTip(int index) const
{
    QStandardItem *it = item(index);
    return it ? it->toolTip() : QString();
}

void ListView::setItemToolTip(int index, const QString &text)
{
    if (QStandardItem *it = item(index)) {
        CodeChange c(codeDepth_);
        it->setToolTip(text);
    }
}

int ListView::ItemIcon(int index) const
{
    QStandardItem *it = item(index);
    return it ? it->data(kIconRole).toInt() : 0;
}

void ListView::setItemIcon(int index, int icon)
{
    if (QStandardItem *it = item(index)) {
        {
            CodeChange c(codeDepth_);
            it->setData(icon, kIconRole);
        }
        refreshIcon(it);
    }
}

int ListView::SelectedItem() const
{
    if (!icons_)
        return 0;
    QModelIndex current = icons_->selectionModel()->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void ListView::setSelectedItem(int index)
{
    if (!icons_)
        return;
    CodeChange c(codeDepth_);
    QItemSelectionModel *sel = icons_->selectionModel();
    if (QStandardItem *it = item(index))
        sel->setCurrentIndex(it->index(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else if (index == 0)
        sel->clear();
}

void ListView::EnsureVisible(int index)
{
    if (QStandardItem *it = item(index)) {
        icons_->scrollTo(it->index());
        report_->scrollTo(it->index());
    }
}

void ListView::setIcons(ImageList *images)
{
    largeImages_ = images;
    refreshIcons();
}

void ListView::setSmallIcons(ImageList *images)
{
    smallImages_ = images;
    refreshIcons();
}

void ListView::setIconSpacing(int cx, int cy)
{
    if (icons_)
        icons_->setGridSize(QSize(std::max(1, cx), std::max(1, cy)));
}

void ListView::refreshIcons()
{
    if (!model_)
        return;
    ImageList *images = view_ == lvwIcon ? largeImages_ : smallImages_;
    if (images) {
        icons_->setIconSize(QSize(images->ImageWidth(), images->ImageHeight()));
        report_->setIconSize(QSize(images->ImageWidth(), images->ImageHeight()));
    }
    CodeChange c(codeDepth_);
    for (int r = 0; r < model_->rowCount(); ++r) {
        QStandardItem *it = model_->item(r, 0);
        if (!it)
            continue;
        int icon = it->data(kIconRole).toInt();
        QImage img = images ? images->image(icon) : QImage();
        if (img.isNull())
            it->setData(QVariant(), Qt::DecorationRole);
        else
            it->setData(QPixmap::fromImage(img), Qt::DecorationRole);
    }
}

void ListView::refreshIcon(QStandardItem *it)
{
    if (!model_ || !it)
        return;
    ImageList *images = view_ == lvwIcon ? largeImages_ : smallImages_;
    if (images) {
        const QSize size(images->ImageWidth(), images->ImageHeight());
        if (icons_->iconSize() != size)
            icons_->setIconSize(size);
        if (report_->iconSize() != size)
            report_->setIconSize(size);
    }
    CodeChange c(codeDepth_);
    const QImage img = images ? images->image(it->data(kIconRole).toInt()) : QImage();
    if (img.isNull())
        it->setData(QVariant(), Qt::DecorationRole);
    else
        it->setData(QPixmap::fromImage(img), Qt::DecorationRole);
}

bool ListView::filterEvent(QObject *watched, QEvent *event)
{
    return Control::filterEvent(watched, event);
}

} // namespace plat
