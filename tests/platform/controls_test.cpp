// The control layer: twips, own Visible/Enabled, input-disabled windows,
// code-raised clicks, timers and window handles.
#include "platform/ui/controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

void sendClick(QWidget *w)
{
    QPointF p(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, p, w->mapToGlobal(p), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, w->mapToGlobal(p), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

void sendKey(QWidget *w, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// Processes events until the condition holds or the limit passes.
template <typename F>
bool processUntil(F condition, int limitMs = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!condition() && t.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

void processFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

TEST(Twips, RoundHalfToEvenAndRoundTrip)
{
    EXPECT_EQ(plat::twipsToPixels(15), 1);
    EXPECT_EQ(plat::twipsToPixels(7.5), 0);     // 0.5 px -> 0
    EXPECT_EQ(plat::twipsToPixels(22.5), 2);    // 1.5 px -> 2
    EXPECT_EQ(plat::twipsToPixels(37.5), 2);    // 2.5 px -> 2
    EXPECT_EQ(plat::twipsToPixels(-22.5), -2);
    EXPECT_EQ(plat::twipsToPixels(10322.8), 688);
    EXPECT_EQ(plat::twipsToPixels(8510), 567);
    for (int px = -50; px <= 3000; ++px)
        ASSERT_EQ(plat::twipsToPixels(plat::pixelsToTwips(px)), px);
}

TEST(Controls, GeometryKeepsTheTwipsTheProgramSet)
{
    plat::Form form;
    plat::PictureBox pic(&form);
    pic.Move(8, 8, 10322.8, 6882);
    EXPECT_DOUBLE_EQ(pic.Width(), 10322.8);   // not rounded through pixels
    EXPECT_EQ(pic.widget()->width(), 688);
    EXPECT_EQ(pic.widget()->height(), 459);
    EXPECT_EQ(pic.widget()->x(), 1);

    plat::Frame frame(&form);
    frame.setTop(-2245);
    EXPECT_DOUBLE_EQ(frame.Top(), -2245);
    EXPECT_EQ(frame.widget()->y(), -150);   // -149.67 px

    // The outer window size as set; a window resized by the user reports
    // its new size.
    form.Move(0, 0, 8510, 6000);
    EXPECT_DOUBLE_EQ(form.Width(), 8510);
    EXPECT_EQ(form.widget()->frameGeometry().width(), 567);
    form.Show();
    processUntil([&] { return form.widget()->isVisible(); });
    EXPECT_DOUBLE_EQ(form.Width(), 8510);
    EXPECT_EQ(form.widget()->frameGeometry().width(), 567);   // the frame comes off the client
    // The user drags the window larger (the window system's resize).
    ASSERT_NE(form.widget()->windowHandle(), nullptr);
    form.widget()->windowHandle()->resize(QSize(600, form.widget()->height()));
    processUntil([&] { return form.Width() != 8510; });
    EXPECT_DOUBLE_EQ(form.Width(), plat::pixelsToTwips(form.widget()->frameGeometry().width()));
    EXPECT_DOUBLE_EQ(form.Height(), 6000);
    EXPECT_GT(form.Width(), 9000);
    form.Hide();
}

TEST(Controls, OwnVisibleAndEnabledAreNotQtsEffectiveState)
{
    plat::Form form;
    plat::Frame frame(&form);
    plat::CommandButton button(&frame, "Scan");

    // The window is hidden: the button is not visible on screen, but its
    // own Visible is what the program set.
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(button.Visible());
    EXPECT_FALSE(button.widget()->isVisible());

    form.Show();
    EXPECT_TRUE(form.Visible());
    EXPECT_TRUE(button.widget()->isVisible());
    frame.setVisible(false);
    EXPECT_FALSE(frame.Visible());
    EXPECT_TRUE(button.Visible());
    EXPECT_FALSE(button.widget()->isVisible());
    button.setVisible(false);
    frame.setVisible(true);
    EXPECT_FALSE(button.Visible());
    EXPECT_FALSE(button.widget()->isVisible());
    button.setVisible(true);
    EXPECT_TRUE(button.widget()->isVisible());

    frame.setEnabled(false);
    EXPECT_FALSE(frame.Enabled());
    EXPECT_TRUE(button.Enabled());
    EXPECT_FALSE(button.widget()->isEnabled());
    frame.setEnabled(true);
    button.setEnabled(false);
    EXPECT_FALSE(button.Enabled());
    EXPECT_FALSE(button.widget()->isEnabled());
    form.Hide();
    EXPECT_FALSE(form.Visible());
}

TEST(Controls, DisabledWindowTakesNoInputButKeepsItsLook)
{
    plat::Form form;
    plat::CommandButton button(&form, "Scan");
    button.Move(100, 100, 1200, 400);
    plat::TextBox text(&form);
    text.Move(100, 600, 1500, 300);
    int clicks = 0;
    button.Click = [&] { ++clicks; };
    form.Show();

    sendClick(button.widget());
    EXPECT_EQ(clicks, 1);

    form.setEnabled(false);
    EXPECT_FALSE(form.Enabled());
    EXPECT_TRUE(button.Enabled());
    EXPECT_TRUE(button.widget()->isEnabled());   // not greyed
    EXPECT_TRUE(text.widget()->isEnabled());
    sendClick(button.widget());
    sendKey(text.widget(), Qt::Key_A, "a");
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(text.Text(), "");
    // Code still works while the user is locked out.
    button.setValue(true);
    EXPECT_EQ(clicks, 2);

    form.setEnabled(true);
    sendClick(button.widget());
    sendKey(text.widget(), Qt::Key_A, "a");
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(text.Text(), "a");
    form.Hide();
}

TEST(Controls, ClosingAskFirstAndModalShowWaits)
{
    plat::Form form;
    int asked = 0, cancel = 1;
    form.QueryUnload = [&](int &c, int mode) {
        ++asked;
        EXPECT_EQ(mode, 0);   // the user
        c = cancel;
    };
    form.Show();
    QWindow *window = form.widget()->windowHandle();
    ASSERT_NE(window, nullptr);

    // A disabled window cannot be closed by the user.
    form.setEnabled(false);
    window->close();
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(form.widget()->isVisible());
    form.setEnabled(true);

    window->close();   // refused by the window's own handler
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(form.widget()->isVisible());
    EXPECT_TRUE(form.Visible());
    cancel = 0;
    window->close();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(form.widget()->isVisible());
    EXPECT_FALSE(form.Visible());

    // Show(1) returns once the form is hidden; Unload by code asks with mode 1.
    form.QueryUnload = [&](int &, int mode) { EXPECT_EQ(mode, 1); };
    int unloads = 0;
    form.UnloadEvent = [&](int &) { ++unloads; };
    QTimer::singleShot(20, form.widget(), [&] { form.Unload(); });
    QTimer::singleShot(3000, form.widget(), [&] { form.Hide(); });   // never hang
    QElapsedTimer t;
    t.start();
    form.Show(1);
    EXPECT_LT(t.elapsed(), 2500);
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(form.Visible());
}

TEST(Controls, SelectionsOfManyItemsByCodeAreExact)
{
    // Items selected and cleared one by one and in stretches, in a random
    // order: the list agrees with a plain record of them at every step.
    plat::Form form;
    plat::ListBox list(&form);
    list.setMultiSelect(2);
    constexpr int kItems = 400;
    for (int i = 0; i < kItems; ++i)
        list.AddItem(QString::number(i));
    int clicks = 0;
    list.Click = [&] { ++clicks; };
    std::vector<bool> expected(kItems, false);
    std::mt19937 random(7);
    for (int step = 0; step < 3000; ++step) {
        const int a = int(random() % kItems);
        if (step % 5 == 0) {
            const int b = std::min(kItems - 1, a + int(random() % 30));
            const bool on = random() % 2;
            list.setSelectedRange(a, b, on);
            std::fill(expected.begin() + a, expected.begin() + b + 1, on);
        } else {
            const bool on = random() % 3 != 0;
            list.setSelected(a, on);
            expected[size_t(a)] = on;
        }
        ASSERT_EQ(list.SelCount(), int(std::count(expected.begin(), expected.end(), true))) << step;
    }
    for (int i = 0; i < kItems; ++i)
        EXPECT_EQ(list.Selected(i), expected[size_t(i)]) << i;
    EXPECT_EQ(clicks, 3000);   // one Click for each call
    list.setSelectedRange(5, 2, true);   // an empty stretch: nothing
    EXPECT_EQ(clicks, 3000);
}

TEST(Controls, SelectionSetByCodeRaisesClick)
{
    plat::Form form;
    plat::ListBox list(&form);
    int clicks = 0;
    list.Click = [&] { ++clicks; };
    list.AddItem("a");
    list.AddItem("b");
    list.AddItem("c");
    list.setItemData(2, 77);
    EXPECT_EQ(list.NewIndex(), 2);
    EXPECT_EQ(clicks, 0);   // adding raises nothing
    EXPECT_EQ(list.ListIndex(), -1);

    list.setListIndex(1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(list.ListIndex(), 1);
    EXPECT_EQ(list.Text(), "b");
    list.setListIndex(1);   // the same index again
    EXPECT_EQ(clicks, 2);
    list.setListIndex(7);   // beyond the list: ignored
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(list.ListIndex(), 1);
    list.setListIndex(-1);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(list.ListIndex(), -1);
    EXPECT_EQ(list.ItemData(2), 77);
    EXPECT_EQ(list.List(2), "c");

    // A multi-selection list: Selected by code raises Click too.
    list.setMultiSelect(2);
    list.setSelected(0, true);
    list.setSelected(2, true);
    EXPECT_EQ(clicks, 4);
    EXPECT_TRUE(list.Selected(0));
    EXPECT_FALSE(list.Selected(1));
    EXPECT_EQ(list.SelCount(), 2);
    list.Clear();
    EXPECT_EQ(clicks, 4);
    EXPECT_EQ(list.ListCount(), 0);

    // Sorted lists insert in place, without regard to case.
    list.setSorted(true);
    list.AddItem("delta");
    list.AddItem("Alpha");
    list.AddItem("charlie");
    EXPECT_EQ(list.NewIndex(), 1);
    EXPECT_EQ(list.List(0), "Alpha");
    EXPECT_EQ(list.List(2), "delta");

    plat::ComboBox combo(&form);
    int comboClicks = 0;
    combo.Click = [&] { ++comboClicks; };
    combo.AddItem("Canon");
    combo.AddItem("Nikon");
    combo.setListIndex(1);
    EXPECT_EQ(comboClicks, 1);
    EXPECT_EQ(combo.Text(), "Nikon");
    combo.setListIndex(1);
    EXPECT_EQ(comboClicks, 2);

    plat::CheckBox check(&form, "DeepScan");
    int checkClicks = 0;
    check.Click = [&] { ++checkClicks; };
    check.setValue(1);
    check.setValue(1);
    EXPECT_EQ(checkClicks, 1);
    EXPECT_EQ(check.Value(), 1);
    check.setValue(2);
    EXPECT_EQ(static_cast<QCheckBox *>(check.widget())->checkState(), Qt::PartiallyChecked);
    check.setValue(0);
    EXPECT_EQ(checkClicks, 3);
    form.Show();
    sendClick(check.widget());   // the user ticks it
    EXPECT_EQ(check.Value(), 1);
    EXPECT_EQ(checkClicks, 4);
    form.Hide();
}

TEST(Controls, TimerIntervalAndEnabled)
{
    auto form = std::make_unique<plat::Form>();
    plat::Timer timer(form.get(), 10, false);
    int ticks = 0;
    timer.Tick = [&] { ++ticks; };
    EXPECT_FALSE(timer.running());

    timer.setEnabled(true);
    EXPECT_TRUE(processUntil([&] { return ticks >= 3; }));

    timer.setEnabled(false);
    int seen = ticks;
    processFor(40);
    EXPECT_EQ(ticks, seen);

    // Interval 0 stops the ticks; Enabled stays as set.
    timer.setEnabled(true);
    timer.setInterval(0);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.running());
    seen = ticks;
    processFor(40);
    EXPECT_EQ(ticks, seen);

    // Setting Interval restarts the countdown; enabling a running timer does not.
    timer.setInterval(1000);
    EXPECT_TRUE(timer.running());
    processFor(60);
    int before = timer.remainingMs();
    EXPECT_LT(before, 960);
    timer.setEnabled(true);
    EXPECT_LE(timer.remainingMs(), before);
    timer.setInterval(1000);
    EXPECT_GT(timer.remainingMs(), 970);

    // A tick does not start again while its handler still runs.
    int depth = 0, maxDepth = 0;
    timer.Tick = [&] {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        ++ticks;
        processFor(30);
        --depth;
    };
    timer.setInterval(5);
    seen = ticks;
    processUntil([&] { return ticks >= seen + 2; });
    EXPECT_EQ(maxDepth, 1);

    // The timer dies with its window.
    form.reset();
    EXPECT_FALSE(timer.running());
    timer.setInterval(10);
    EXPECT_FALSE(timer.running());
}

TEST(Controls, WindowHandlesAreSmallDecimalNumbers)
{
    auto form = std::make_unique<plat::Form>();
    int h = form->hWnd();
    EXPECT_GT(h, 0);
    EXPECT_EQ(form->hWnd(), h);
    EXPECT_EQ(plat::widgetOf(h), form->widget());
    EXPECT_EQ(plat::widgetOf(QString::number(h)), form->widget());
    EXPECT_EQ(plat::widgetOf(" " + QString::number(h) + " "), form->widget());
    EXPECT_EQ(plat::widgetOf(QString("abc")), nullptr);
    EXPECT_EQ(plat::widgetOf(QString("0")), nullptr);
    EXPECT_EQ(plat::handleOf(nullptr), 0);
    plat::Form other;
    EXPECT_NE(other.hWnd(), h);
    form.reset();
    EXPECT_EQ(plat::widgetOf(h), nullptr);
}

TEST(Controls, CaptionsTextsAndPointer)
{
    plat::Form form;
    form.setCaption("Quilvane");
    EXPECT_EQ(form.widget()->windowTitle(), "Quilvane");

    plat::Label label(&form);
    label.setCaption("Serial Number: &&H1F\r\nFree");
    EXPECT_EQ(label.Caption(), "Serial Number: &&H1F\r\nFree");
    EXPECT_EQ(static_cast<QLabel *>(label.widget())->text(), "Serial Number: &H1F\nFree");
    label.setCaption("<b>x</b>");
    EXPECT_EQ(static_cast<QLabel *>(label.widget())->textFormat(), Qt::PlainText);

    plat::TextBox specs(&form, true);
    int changes = 0;
    specs.Change = [&] { ++changes; };
    specs.setText("Drive E:\\\r\nType: Removable");
    EXPECT_EQ(specs.Text(), "Drive E:\\\r\nType: Removable");
    specs.setText("Drive E:\\\r\nType: Removable");
    EXPECT_EQ(changes, 1);

    plat::CommandButton button(&form, "Scan");
    button.setMousePointer(11);
    EXPECT_EQ(button.MousePointer(), 11);
    EXPECT_EQ(button.widget()->cursor().shape(), Qt::WaitCursor);
    button.setMousePointer(0);
    EXPECT_FALSE(button.widget()->testAttribute(Qt::WA_SetCursor));

    button.setBackColor(0x0000FF);   // red in the program's BGR order
    EXPECT_EQ(plat::colorFromVb(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(plat::vbFromColor(QColor(0, 0, 255)), 0xFF0000u);
    EXPECT_EQ(button.BackColor(), 0x0000FFu);

    plat::ProgressBar bar(&form);
    bar.setMax(3e9);   // more steps than an int holds
    bar.setValue(1.5e9);
    EXPECT_DOUBLE_EQ(bar.Value(), 1.5e9);
    bar.setValue(5e9);
    EXPECT_DOUBLE_EQ(bar.Value(), 3e9);
}

TEST(Controls, ListViewItemsColumnsAndChecks)
{
    plat::Form form;
    plat::ListView view(&form);
    view.setView(plat::ListView::lvwReport);
    view.setCheckboxes(true);
    EXPECT_EQ(view.AddColumn("Type", 1500), 1);
    EXPECT_EQ(view.AddColumn("Description", 3000), 2);
    EXPECT_DOUBLE_EQ(view.ColumnWidth(2), 3000);
    int checks = 0, lastChecked = 0;
    view.ItemCheck = [&](int i) {
        ++checks;
        lastChecked = i;
    };
    EXPECT_EQ(view.AddItem("JPG"), 1);
    EXPECT_EQ(view.AddItem("CR2"), 2);
    view.setSubItem(2, 1, "Canon RAW");
    EXPECT_EQ(view.SubItem(2, 1), "Canon RAW");
    EXPECT_EQ(view.SubItem(1, 1), "");
    view.setItemChecked(2, true);
    EXPECT_TRUE(view.ItemChecked(2));
    EXPECT_FALSE(view.ItemChecked(1));
    EXPECT_EQ(checks, 0);   // code raises no ItemCheck

    // The user ticks item 1.
    auto *tree = view.widget()->findChild<QTreeView *>();
    ASSERT_NE(tree, nullptr);
    tree->model()->setData(tree->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(lastChecked, 1);
    EXPECT_TRUE(view.ItemChecked(1));

    view.setSelectedItem(2);
    EXPECT_EQ(view.SelectedItem(), 2);
    EXPECT_TRUE(view.ItemSelected(2));
    view.RemoveItem(1);
    EXPECT_EQ(view.ItemCount(), 1);
    EXPECT_EQ(view.ItemText(1), "CR2");
    view.Clear();
    EXPECT_EQ(view.ItemCount(), 0);
    EXPECT_EQ(view.ColumnCount(), 2);

    plat::ImageList images;
    images.setImageWidth(32);
    images.setImageHeight(21);
    QImage big(64, 64, QImage::Format_RGB32);
    big.fill(Qt::red);
    EXPECT_EQ(images.Add(big), 1);
    EXPECT_EQ(images.image(1).size(), QSize(32, 21));
    view.setView(plat::ListView::lvwIcon);
    view.setIcons(&images);
    view.AddItem("R#0001.JPG", 1);
    EXPECT_EQ(view.ItemIcon(1), 1);
    view.setIcons(nullptr);
    images.Clear();
    EXPECT_EQ(images.Count(), 0);
}
