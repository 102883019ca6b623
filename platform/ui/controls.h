// The control layer: the windows of the program are Qt widgets behind thin
// classes that keep the semantics the program's code relies on.
//
// - Geometry is in twips, 15 twips to a pixel, fixed. A control reports the
//   Left/Top/Width/Height the program set (fractions included) for as long as
//   its pixel geometry still matches; a window moved or resized by the user
//   reports its new outer size.
// - Visible and Enabled are a control's own values, not Qt's effective state:
//   a control hidden because its parent is hidden still reports Visible true.
// - A window disabled with setEnabled(false) takes no input, but its controls
//   keep their look and their own Enabled values.
// - Setting a list's selection by code raises its Click handler; so does
//   setting a check box's Value, as the program expects.
// - Event handlers are plat::Event members: assign a function, call it like
//   a function (an empty handler does nothing).
// - Window handles are small decimal numbers from a registry of our own
//   (handleOf / widgetOf), never the window system's ids.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;
class QObject;
class QEvent;
class QPainter;
class QTimer;
class QEventLoop;
class QListWidget;
class QComboBox;
class QLabel;
class QScrollBar;
class QPushButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QGroupBox;
class QStackedWidget;
class QTreeView;
class QListView;
class QStandardItemModel;
class QStandardItem;

namespace plat {

// ---- Units -----------------------------------------------------------------

constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounded half to even (22.5 twips = 1.5 px -> 2,
// 7.5 twips = 0.5 px -> 0).
int twipsToPixels(double twips);
int pixelsToTwips(int pixels);

// ---- Window handles ----------------------------------------------------------

// The handle of a widget: a small positive number, given on first request and
// kept for the widget's life; 0 for no widget. Numbers are never reused.
int handleOf(const QWidget *widget);
// The widget of a handle; nullptr for 0, an unknown or a gone widget.
QWidget *widgetOf(int handle);
// The same for a handle written as decimal text (surrounding blanks allowed);
// text that is no number gives nullptr.
QWidget *widgetOf(const QString &decimalHandle);

// ---- Screen -----------------------------------------------------------------

// The screen a widget stands on (its window's screen; the primary screen for
// nullptr), in pixels. Tests may fix the size for every widget.
QRect screenRectPixels(const QWidget *near = nullptr);
void setScreenSizeOverride(const QSize &pixels);   // empty size: the real screen
double screenWidthTwips();
double screenHeightTwips();

// The mouse pointer for the whole program (Screen.MousePointer): 0 default,
// 11 hourglass, ... as for controls.
int screenMousePointer();
void setScreenMousePointer(int pointer);

// ---- Boxes in front ---------------------------------------------------------------

// Held while a modal box or dialog of the program is up: every other shown
// window of the program that keeps itself above all others (the splash)
// gives that up and steps behind for that time, and the box is raised and
// given the focus as it shows. Every box and dialog of the layer holds one.
class InFrontOfOthers {
public:
    explicit InFrontOfOthers(QWidget *box);
    ~InFrontOfOthers();
    InFrontOfOthers(const InFrontOfOthers &) = delete;
    InFrontOfOthers &operator=(const InFrontOfOthers &) = delete;

private:
    std::unique_ptr<QObject> raiser_;
    std::vector<QPointer<QWidget>> stepped_;
};

// ---- Colours -------------------------------------------------------------------

// Colours as the program writes them: 0x00BBGGRR, or a system colour
// 0x800000nn (nn = the system colour index: 5 window, 8 window text,
// 15 button face, 18 button text, 13 highlight, ...).
QColor colorFromVb(quint32 vbColor);
quint32 vbFromColor(const QColor &color);

// Buttons and modifier keys as the event handlers see them.
enum MouseButtons { vbLeftButton = 1, vbRightButton = 2, vbMiddleButton = 4 };
enum ShiftMask { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };

// The key code of a Qt key (the program's key constants: 13 Return, 27 Escape,
// 46 Delete, 65-90 letters, 112 F1 ...); 0 for keys without one.
int keyCodeOf(int qtKey);

// ---- Event handlers -----------------------------------------------------------

template <typename... Args>
class Event {
public:
    Event() = default;
    template <typename F>
    Event &operator=(F &&fn)
    {
        fn_ = std::function<void(Args...)>(std::forward<F>(fn));
        return *this;
    }
    Event &operator=(std::nullptr_t)
    {
        fn_ = nullptr;
        return *this;
    }
    // Runs the handler; a copy runs, so a handler may replace itself.
    void operator()(Args... args) const
    {
        if (fn_) {
            auto fn = fn_;
            fn(std::forward<Args>(args)...);
        }
    }
    explicit operator bool() const { return static_cast<bool>(fn_); }

private:
    std::function<void(Args...)> fn_;
};

// ---- Controls ---------------------------------------------------------------------

class Form;

// What every control has. A control owns its widget; a widget deleted with its
// parent leaves the control inert (every property then reads its stored value
// and writes only that).
class Control {
public:
    virtual ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    QWidget *widget() const;
    int hWnd() const { return handleOf(widget()); }

    double Left() const { return left_; }
    double Top() const { return top_; }
    double Width() const { return width_; }
    double Height() const { return height_; }
    void setLeft(double twips);
    void setTop(double twips);
    void setWidth(double twips);
    void setHeight(double twips);
    void Move(double left, std::optional<double> top = {}, std::optional<double> width = {},
              std::optional<double> height = {});

    bool Visible() const { return visible_; }
    virtual void setVisible(bool visible);
    bool Enabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);

    int MousePointer() const { return mousePointer_; }
    void setMousePointer(int pointer);

    quint32 ForeColor() const { return foreColor_; }
    void setForeColor(quint32 vbColor);
    quint32 BackColor() const { return backColor_; }
    void setBackColor(quint32 vbColor);

    double FontSize() const;
    void setFontSize(double points);
    bool FontBold() const;
    void setFontBold(bool bold);

    QString ToolTipText() const { return toolTip_; }
    void setToolTipText(const QString &text);

    void SetFocus();
    void Refresh();
    // 0 brings the control to the front of its siblings, 1 sends it back.
    void ZOrder(int position = 0);

    Event<> Click;
    Event<> DblClick;
    Event<int, int, double, double> MouseDown;   // button, shift, x, y (twips)
    Event<int, int, double, double> MouseUp;
    Event<int, int, double, double> MouseMove;
    Event<int &, int> KeyDown;                     // key code (0: swallow), shift
    Event<int &, int> KeyUp;
    Event<int &> KeyPress;                         // character code (0: swallow)
    Event<> GotFocus;
    Event<> LostFocus;

protected:
    Control() = default;
    // Takes the widget (created with its container's widget as parent) and
    // starts delivering its events.
    void attach(QWidget *widget, Control *container);
    // Listens to another widget of the control too (a list's viewport).
    void listenTo(QObject *object);
    virtual bool filterEvent(QObject *watched, QEvent *event);
    virtual void applyGeometry();
    // The object that scopes the control's signal connections.
    QObject *context() const;
    // Click and DblClick from the mouse (controls without signals of their
    // own); such controls keep their mouse events from their container.
    bool mouseClicks_ = false;

    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;

private:
    class Bridge;
    void applyColors();
    bool mouseEvent(QObject *watched, QEvent *event);
    bool keyEvent(QEvent *event);

    QPointer<QWidget> widget_;
    std::unique_ptr<Bridge> bridge_;
    int mousePointer_ = 0;
    quint32 foreColor_ = 0x80000012;
    quint32 backColor_ = 0x8000000F;
    bool colorsSet_ = false;
    QString toolTip_;
    bool pressInside_ = false;
};

// A top-level window. Left/Top/Width/Height are the outer window; ScaleWidth
// and ScaleHeight the client area. A form starts hidden.
class Form : public Control {
public:
    Form();
    ~Form() override;

    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);

    void setVisible(bool visible) override;
    // Disabled: the window takes no mouse or key input (nor a close from the
    // user), while its controls keep their look and their own Enabled values.
    void setEnabled(bool enabled) override;

    // 0 normal, 1 minimized, 2 maximized.
    int WindowState() const;
    void setWindowState(int state);

    double ScaleWidth() const;
    double ScaleHeight() const;

    // Show(0): shown, returns at once. Show(1): modal; returns when the form
    // is hidden (Hide, Unload or closed by the user).
    void Show(int modal = 0, Form *owner = nullptr);
    void Hide();
    // Closes the window as code does: QueryUnload(mode 1), then Unload; either
    // may cancel. True when the window was closed.
    bool Unload();

    Event<> Resize;
    Event<> Activate;
    Event<> Deactivate;
    Event<int &, int> QueryUnload;   // cancel, mode (0 user, 1 code)
    Event<int &> UnloadEvent;        // cancel (the form's Unload event)

protected:
    bool filterEvent(QObject *watched, QEvent *event) override;
    void applyGeometry() override;

private:
    bool closeRequested(int mode);
    QString caption_;
    QEventLoop *modalLoop_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool applying_ = false;
    QSize requestedClient_;   // what applyGeometry last asked for (pixels)
    QPoint requestedPos_;
};

class CommandButton : public Control {
public:
    explicit CommandButton(Control *container, const QString &caption = {});
    // The caption as set; shown without blanks at its end.
    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    // Value = True presses the button from code: raises Click.
    void setValue(bool pressed);
    bool Default() const;
    void setDefault(bool isDefault);

protected:
    void applyGeometry() override;

private:
    QPushButton *button() const;
    // A caption wider than the button is shown in a smaller font (down to
    // 6 points) rather than cut off; the font returns when it fits again.
    void fitCaption();
    QString caption_;
    double designPoints_ = 0;   // the font before fitCaption made it smaller
    double fittedPoints_ = 0;   // the size fitCaption set; 0 none
};

class Label : public Control {
public:
    explicit Label(Control *container, const QString &caption = {});
    // The caption as set; shown with "&&" as "&" and a single "&" dropped
    // (UseMnemonic), CR LF as a line break.
    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    // 0 left, 1 right, 2 centre.
    int Alignment() const { return alignment_; }
    void setAlignment(int alignment);
    bool WordWrap() const;
    void setWordWrap(bool wrap);
    // Grows or shrinks the label to its text whenever the caption changes.
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool autoSize);
    bool UseMnemonic() const { return useMnemonic_; }
    void setUseMnemonic(bool use);
    // The text as shown.
    QString shownText() const;
    // A text taller than the label scrolls by lines: the wheel, a scroll bar
    // on the right, and (once clicked) the arrow, page, Home and End keys.
    // A new caption starts at its first line.
    bool Scrollable() const { return scrollable_; }
    void setScrollable(bool scrollable);
    int FirstShownLine() const { return firstLine_; }
    void setFirstShownLine(int line);

protected:
    bool filterEvent(QObject *watched, QEvent *event) override;
    void applyGeometry() override;

private:
    QLabel *label() const;
    void fit();
    void showLines();
    int visibleLines() const;
    QString caption_;
    int alignment_ = 0;
    bool autoSize_ = false;
    bool useMnemonic_ = true;
    bool scrollable_ = false;
    int firstLine_ = 0;
    QScrollBar *bar_ = nullptr;
};

// A one-line or, made multi-line, a multi-line text box. Text in and out has
// CR LF line breaks.
class TextBox : public Control {
public:
    explicit TextBox(Control *container, bool multiLine = false);
    bool MultiLine() const { return multiLine_; }
    QString Text() const;
    // Raises Change when the text differs.
    void setText(const QString &text);
    bool Locked() const { return locked_; }
    void setLocked(bool locked);
    int MaxLength() const { return maxLength_; }
    void setMaxLength(int length);   // 0: no limit
    int SelStart() const;
    void setSelStart(int start);
    int SelLength() const;
    void setSelLength(int length);
    QString SelText() const;

    Event<> Change;

private:
    QLineEdit *line() const;
    QPlainTextEdit *plain() const;
    bool multiLine_;
    bool locked_ = false;
    int maxLength_ = 0;
    bool settingByCode_ = false;
};

class CheckBox : public Control {
public:
    explicit CheckBox(Control *container, const QString &caption = {});
    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    // 0 unchecked, 1 checked, 2 grayed. Setting a different value raises Click.
    int Value() const { return value_; }
    void setValue(int value);

private:
    QCheckBox *box() const;
    void show(int value);
    QString caption_;
    int value_ = 0;
    bool settingByCode_ = false;
};

// A list box: items 0 to ListCount - 1, each with a 32-bit ItemData.
class ListBox : public Control {
public:
    explicit ListBox(Control *container);

    // 0 single selection, 1 simple multi-selection, 2 extended.
    int MultiSelect() const { return multiSelect_; }
    void setMultiSelect(int mode);
    // Items flow into this many columns (0: one column, vertical scrolling).
    int Columns() const { return columns_; }
    void setColumns(int columns);
    bool Sorted() const { return sorted_; }
    void setSorted(bool sorted);

    // Adds at the index (-1: at the end, or in sorted place); NewIndex tells where.
    void AddItem(const QString &text, int index = -1);
    void RemoveItem(int index);
    void Clear();
    int NewIndex() const { return newIndex_; }
    int ListCount() const;
    QString List(int index) const;
    void setList(int index, const QString &text);
    int ItemData(int index) const;
    void setItemData(int index, int data);

    // The current item (the selected one in a single-selection list, the one
    // with the focus in a multi-selection list); -1 for none. Setting a valid
    // index raises Click, also when it does not change; -1 clears the
    // selection without Click. An index beyond the list is ignored.
    int ListIndex() const;
    void setListIndex(int index);
    // Setting an item's selection by code raises Click; an item selected by
    // code becomes the current item (ListIndex) of a multi-selection list.
    bool Selected(int index) const;
    void setSelected(int index, bool selected);
    // The same for the items first to last of a multi-selection list, in one
    // step (one Click); a single-selection list takes the last one.
    void setSelectedRange(int first, int last, bool selected);
    int SelCount() const;
    // The text of the current item, empty for none.
    QString Text() const;
    int TopIndex() const;
    void setTopIndex(int index);

protected:
    bool filterEvent(QObject *watched, QEvent *event) override;
    void applyGeometry() override;

private:
    QListWidget *list() const;
    void layoutColumns();
    int multiSelect_ = 0;
    int columns_ = 0;
    bool sorted_ = false;
    int newIndex_ = -1;
    int codeDepth_ = 0;
    bool clickSincePress_ = false;
};

class ComboBox : public Control {
public:
    // Style 0: an editable drop-down, 2: a drop-down list.
    explicit ComboBox(Control *container, int style = 2);
    int Style() const { return style_; }
    void AddItem(const QString &text, int index = -1);
    void RemoveItem(int index);
    void Clear();
    int ListCount() const;
    QString List(int index) const;
    void setList(int index, const QString &text);
    int ItemData(int index) const;
    void setItemData(int index, int data);
    // Setting a valid index raises Click (also when it does not change).
    int ListIndex() const;
    void setListIndex(int index);
    QString Text() const;
    void setText(const QString &text);

    Event<> Change;   // the user edited the text of an editable combo box

private:
    QComboBox *combo() const;
    int style_;
    int codeDepth_ = 0;
};

// A container that shows a picture and lets the program draw on it.
class PictureBox : public Control {
public:
    explicit PictureBox(Control *container);
    const QImage &Picture() const { return picture_; }
    void setPicture(const QImage &picture);   // drawn at the top-left corner
    void Cls();                               // removes the picture
    double ScaleWidth() const;
    double ScaleHeight() const;
    // 0 none, 1 fixed single border.
    int BorderStyle() const { return borderStyle_; }
    void setBorderStyle(int style);

    Event<QPainter &> Paint;   // after the picture was drawn
    Event<> Resize;

protected:
    bool filterEvent(QObject *watched, QEvent *event) override;

private:
    class Surface;
    QImage picture_;
    int borderStyle_ = 1;
};

// A frame: a container with an optional caption.
class Frame : public Control {
public:
    explicit Frame(Control *container, const QString &caption = {});
    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    int BorderStyle() const { return borderStyle_; }
    void setBorderStyle(int style);   // 0 none, 1 single

private:
    QGroupBox *group() const;
    QString caption_;
    int borderStyle_ = 1;
};

class ProgressBar : public Control {
public:
    explicit ProgressBar(Control *container);
    double Min() const { return min_; }
    double Max() const { return max_; }
    double Value() const { return value_; }
    void setMin(double value);
    void setMax(double value);
    // Kept within Min and Max.
    void setValue(double value);

private:
    void show();
    double min_ = 0, max_ = 100, value_ = 0;
};

// A timer of a window: ticks every Interval ms while Enabled and Interval > 0.
// Setting Interval restarts a running countdown; Interval 0 stops the ticks
// (Enabled stays as set); Enabled false stops. A tick does not start again
// while its own handler still runs. The timer dies with its window.
class Timer {
public:
    explicit Timer(Control *owner, int interval = 0, bool enabled = false);
    ~Timer();
    Timer(const Timer &) = delete;
    Timer &operator=(const Timer &) = delete;

    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    int Interval() const { return interval_; }
    void setInterval(int ms);
    // True while ticks are due.
    bool running() const;
    // Milliseconds to the next tick, -1 when none is due.
    int remainingMs() const;

    Event<> Tick;

private:
    void update(bool restart);
    QPointer<QTimer> timer_;
    bool enabled_;
    int interval_;
};

// Pictures for list-view items, all of one size (pixels).
class ImageList {
public:
    int ImageWidth() const { return width_; }
    int ImageHeight() const { return height_; }
    void setImageWidth(int pixels) { width_ = pixels; }
    void setImageHeight(int pixels) { height_ = pixels; }
    // Adds a picture (scaled to the list's size); returns its index from 1.
    int Add(const QImage &image);
    int Count() const { return int(images_.size()); }
    QImage image(int index) const;   // from 1
    void Clear();

private:
    std::vector<QImage> images_;
    int width_ = 16, height_ = 16;
};

// A list view: items from 1, in an icon, list or report view, with optional
// check boxes, column headers and sub-items.
class ListView : public Control {
public:
    explicit ListView(Control *container);
    ~ListView() override;

    enum ViewMode { lvwIcon = 0, lvwSmallIcon = 1, lvwList = 2, lvwReport = 3 };
    int View() const { return view_; }
    void setView(int view);
    bool Checkboxes() const { return checkboxes_; }
    void setCheckboxes(bool on);
    bool MultiSelect() const { return multiSelect_; }
    void setMultiSelect(bool on);
    bool HideColumnHeaders() const { return hideHeaders_; }
    void setHideColumnHeaders(bool hide);

    // Columns from 1; the width in twips.
    int AddColumn(const QString &text, double widthTwips = 1440);
    int ColumnCount() const;
    QString ColumnText(int column) const;
    double ColumnWidth(int column) const;
    void setColumnWidth(int column, double widthTwips);
    void ClearColumns();

    // Items from 1; Add appends and returns the new index.
    int AddItem(const QString &text, int icon = 0);
    void RemoveItem(int index);
    void Clear();
    int ItemCount() const;
    QString ItemText(int index) const;
    void setItemText(int index, const QString &text);
    // Sub-items from 1 (the second column is sub-item 1).
    QString SubItem(int index, int subItem) const;
    void setSubItem(int index, int subItem, const QString &text);
    bool ItemChecked(int index) const;
    void setItemChecked(int index, bool checked);   // raises no event
    bool ItemSelected(int index) const;
    void setItemSelected(int index, bool selected);
    QString ItemTag(int index) const;
    void setItemTag(int index, const QString &tag);
    QString ItemToolTip(int index) const;
    void setItemToolTip(int index, const QString &text);
    int ItemIcon(int index) const;
    void setItemIcon(int index, int icon);
    // The current item, 0 for none.
    int SelectedItem() const;
    void setSelectedItem(int index);
    void EnsureVisible(int index);

    // The pictures of the icon view and of the other views (nullptr: none).
    void setIcons(ImageList *images);
    void setSmallIcons(ImageList *images);
    // Distance between icons in the icon view (pixels).
    void setIconSpacing(int cx, int cy);

    Event<int> ItemClick;     // index
    Event<int> ItemCheck;     // index; raised when the user ticks or unticks
    Event<int> ColumnClick;   // column from 1

protected:
    bool filterEvent(QObject *watched, QEvent *event) override;

private:
    QStandardItem *item(int index, int column = 0) const;
    void refreshIcons();
    // One item's picture (adding an item costs no pass over the others).
    void refreshIcon(QStandardItem *it);
    QStackedWidget *stack_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QTreeView *report_ = nullptr;
    QListView *icons_ = nullptr;
    ImageList *largeImages_ = nullptr;
    ImageList *smallImages_ = nullptr;
    std::vector<double> columnWidths_;
    int view_ = lvwIcon;
    bool checkboxes_ = false;
    bool multiSelect_ = false;
    bool hideHeaders_ = false;
    int codeDepth_ = 0;
};

} // namespace plat
