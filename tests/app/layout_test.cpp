// The main window's layout: the two columns worked out from the window and
// screen sizes, the window's states, the nesting guard, and every view laid
// out at three screen sizes without a control outside the window or two
// visible controls on top of each other.
#include "app/mainlayout.h"
#include "app/startup.h"

#include "tests/app/window_test_util.h"

#include <QScreen>
#include <QLabel>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <set>

namespace {

MainLayoutInput screen(double sw, double sh, double width)
{
    MainLayoutInput in;
    in.windowWidth = width;
    in.screenWidth = sw;
    in.screenHeight = sh;
    return in;
}

class WindowLayout : public ::testing::Test {
protected:
    void TearDown() override
    {
        DestroyMainWindow();
        plat::setScreenSizeOverride(QSize());
        ChooserStartPath.clear();
    }
};

// Controls that lie on top of others by design: a panel and what it covers.
bool overlayPair(const QString &a, const QString &b)
{
    static const std::set<std::pair<QString, QString>> pairs = {
        {"Picture7", "List3"},      {"Picture7", "LvwFiles"},  {"CmbTypeSelect", "LvwTypes"},
        {"LvwTypes", "Picture1"},   {"CmbTypeSelect", "Picture1"}, {"LvwFiles", "List3"},
        {"lblSpecs", "txtSpecs"},   {"lblHelp", "txtSpecs"},   {"lblAbout", "txtSpecs"},
        {"CmdRenderWidth", "TxtWidth"},   // the width box covers the end of its button
    };
    return pairs.count({a, b}) || pairs.count({b, a});
}

// The shown controls of the window (containers and the background panel
// left out), in window pixels.
std::vector<std::pair<QString, QRect>> shownControls(frmRecover &w)
{
    static const std::set<QString> skip = {"frmRecover", "Frame1", "Picture4", "Picture3", "Picture5"};
    std::vector<std::pair<QString, QRect>> out;
    QWidget *window = w.widget();
    for (QWidget *child : window->findChildren<QWidget *>()) {
        const QString name = child->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || skip.count(name)
            || !child->isVisibleTo(window))
            continue;
        out.push_back({name, QRect(child->mapTo(window, QPoint(0, 0)), child->size())});
    }
    return out;
}

void expectTidy(frmRecover &w, const std::string &where)
{
    const QRect client = w.widget()->rect();
    const auto shown = shownControls(w);
    ASSERT_FALSE(shown.empty()) << where;
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto &[name, r] = shown[i];
        EXPECT_TRUE(client.contains(r)) << where << ": " << name.toStdString() << " at " << r.x() << "," << r.y()
                                        << " " << r.width() << "x" << r.height() << " outside " << client.width()
                                        << "x" << client.height();
        EXPECT_GE(r.width(), 0) << where << ": " << name.toStdString();
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const auto &[other, o] = shown[j];
            if (overlayPair(name, other))
                continue;
            EXPECT_FALSE(r.intersects(o)) << where << ": " << name.toStdString() << " overlaps "
                                          << other.toStdString();
        }
    }
}

// The window's views as the program shows them.
void showView(frmRecover &w, const std::string &view)
{
    for (plat::Control *c : std::initializer_list<plat::Control *>{&w.List1, &w.List2, &w.List3, &w.LvwFiles,
                                                                    &w.LvwTypes, &w.CmbTypeSelect, &w.Picture7})
        c->setVisible(false);
    w.Picture1.setVisible(true);
    if (view == "list") {
        w.List3.setVisible(true);
    } else if (view == "thumbs") {
        w.LvwFiles.setVisible(true);
    } else if (view == "undelete") {
        w.Picture1.setVisible(false);
        w.List1.setVisible(true);
        w.List2.setVisible(true);
    } else if (view == "types") {
        w.List3.setVisible(true);
        w.LvwTypes.setVisible(true);
        w.CmbTypeSelect.setVisible(true);
    } else if (view == "getstarted") {
        w.ShowGetStarted();
    }
}

} // namespace

TEST(MainLayoutMath, PictureViewFollowsTheWindowUpToTheScreenHeight)
{
    // Screen 11520 twips high: a wide window is capped by the screen's height.
    MainLayout l = ComputeMainLayout(screen(25600, 11520, 20000));
    EXPECT_NEAR(l.picture.width, 10322.8, 1e-6);
    EXPECT_EQ(l.picture.height, 6882);
    l = ComputeMainLayout(screen(25600, 11520, 12000));
    EXPECT_EQ(l.picture.width, 8029);
    EXPECT_EQ(l.picture.height, 5358);
    EXPECT_EQ(l.picture.left, 8);
    EXPECT_EQ(l.list1.width, 8029 + 12);
    EXPECT_EQ(l.list1.height, 5358 + 8);
    // Shorter than the panel: the deleted-entry list spans to the panel, 4205 high.
    EXPECT_EQ(l.list2.top, 5358 + 28);
    EXPECT_EQ(l.list2.width, 12000 - 3950);
    EXPECT_EQ(l.list2.height, 4205);
    EXPECT_EQ(l.windowHeight, 5386 + 4205 + 495);
    EXPECT_EQ(l.list3.top, l.list2.top);
    EXPECT_EQ(l.list3.width, l.list2.width);
    EXPECT_EQ(l.getStartedTop, l.list3.top + 90);
    EXPECT_EQ(l.getStartedHeight, l.list3.height - 160);
    EXPECT_EQ(l.entryColumns2, 8050 / 2000);
    EXPECT_EQ(l.entryColumns1, 8041 / 2000);
    EXPECT_EQ(l.foundColumns, 8050 / 1500);
    EXPECT_EQ(l.panelLeft, 12000 - 3942);
    EXPECT_EQ(l.comboLeft, 8029 - 2700 - 30);
    EXPECT_EQ(l.comboTop, 5358 - 350);
    // VB's integer division rounds its operands half to even first.
    EXPECT_EQ(VbIntDiv(20669.6, 3), 6890);
    EXPECT_EQ(VbIntDiv(2.5, 1), 2);
    EXPECT_EQ(VbIntDiv(3.5, 1), 4);
}

TEST(MainLayoutMath, ATallPictureViewKeepsTheListHeightUnderTheScreenCap)
{
    MainLayoutInput in = screen(25600, 11520, 20000);
    in.list2Height = 3000;
    MainLayout l = ComputeMainLayout(in);
    EXPECT_EQ(l.list2.width, 20000 - 232);
    EXPECT_EQ(l.list2.height, 3000);   // kept
    in.list2Height = 9000;             // would end below the screen
    l = ComputeMainLayout(in);
    EXPECT_EQ(l.list2.height, 11520 - 6882 - 821);
    EXPECT_LE(l.windowHeight, 11520);
    // Small screens never give a negative size or place.
    for (const double sh : {600.0, 900.0, 2000.0, 4000.0}) {
        l = ComputeMainLayout(screen(9000, sh, 10100));
        for (const TwipsRect &r : {l.picture, l.list1, l.list2, l.list3}) {
            EXPECT_GE(r.width, 0) << sh;
            EXPECT_GE(r.height, 0) << sh;
            EXPECT_GE(r.top, 0) << sh;
        }
    }
}

TEST(MainLayoutMath, AWindowFillingASmallScreenPutsThePictureBesideThePanel)
{
    // 1024 x 768 pixels: 15360 x 11520 twips, narrower than 17800.
    MainLayout l = ComputeMainLayout(screen(15360, 11520, 15360));
    EXPECT_EQ(l.picture.left, 0);
    EXPECT_EQ(l.picture.width, 15360 - 2 * 3900 + 540);
    EXPECT_EQ(l.picture.height, 5400);
    EXPECT_EQ(l.list1.width, l.picture.width);
    EXPECT_EQ(l.list2.top, 6885 + 50);   // below the panel on a screen this tall
    EXPECT_EQ(l.list2.height, 11520 - 6885 - 820);
    // A picture view taller than the panel is cut to the panel's height.
    MainLayoutInput in = screen(16500, 11000, 16500);
    in.panelHeight = 5000;
    l = ComputeMainLayout(in);
    EXPECT_EQ(l.picture.height, 5000);
    EXPECT_EQ(l.picture.width, 7500);
    EXPECT_EQ(l.list2.top, 5000 + 50);   // the picture's height on a screen below 11520
}

TEST(MainLayoutMath, SpecificationsAreaAndExifText)
{
    MainLayoutInput in = screen(25600, 11520, 20000);
    in.specsChecked = true;
    MainLayout l = ComputeMainLayout(in);
    EXPECT_EQ(l.panelTop, -2245);
    EXPECT_FALSE(l.specsVisible);
    EXPECT_EQ(l.linkTop, 2245 + 45);   // 45 below the window's top edge inside the shifted panel
    in.specsChecked = false;
    l = ComputeMainLayout(in);
    EXPECT_EQ(l.panelTop, 0);
    EXPECT_TRUE(l.specsVisible);
    EXPECT_EQ(l.linkTop, 45);

    // The gap of a wide window holds the EXIF text, its font from its width.
    ASSERT_TRUE(l.exifFits);
    EXPECT_NEAR(l.exif.left, 8 + 10322.8 + 20, 1e-6);
    EXPECT_NEAR(l.exif.right(), 20000 - 3942 - 54, 1e-6);
    EXPECT_NEAR(l.exifFontSize, (l.exif.width - 2400) / 900 + 6.25, 1e-9);
    EXPECT_LE(l.exif.bottom(), l.list2.top);
    // A narrow window has no room for it.
    EXPECT_FALSE(ComputeMainLayout(screen(25600, 11520, 12000)).exifFits);
}

TEST(MainLayoutMath, NothingLeavesTheInsideOfAMaximizedWindow)
{
    for (const QSize px : {QSize(1024, 768), QSize(1366, 768), QSize(1920, 1080), QSize(800, 600)}) {
        MainLayoutInput in = screen(px.width() * 15.0, px.height() * 15.0, px.width() * 15.0);
        in.maximized = true;
        in.clientWidth = in.windowWidth;
        in.clientHeight = (px.height() - 60) * 15.0;   // caption and a panel of the desktop
        in.list2Height = 9000;
        const MainLayout l = ComputeMainLayout(in);
        for (const TwipsRect &r : {l.picture, l.list1, l.list2, l.list3}) {
            EXPECT_LE(r.bottom(), in.clientHeight) << px.width();
            EXPECT_LE(r.right(), in.clientWidth) << px.width();
            EXPECT_GE(r.width, 0);
            EXPECT_GE(r.height, 0);
        }
        EXPECT_LE(l.panelLeft + l.panelWidth, in.clientWidth);
        // The lists reach the bottom edge, whatever height was kept.
        EXPECT_EQ(l.list2.bottom(), in.clientHeight) << px.width();
        EXPECT_EQ(l.list3.bottom(), in.clientHeight) << px.width();
    }
    // A list laid out to nothing (the window not yet at its size) gets its
    // height back in the normal state.
    MainLayoutInput in = screen(28800, 16200, 20000);
    in.list2Height = 0;
    EXPECT_EQ(ComputeMainLayout(in).list3.height, 4205);
}

TEST_F(WindowLayout, EveryViewFitsTheWindowAtEveryScreenSize)
{
    for (const QSize px : {QSize(1024, 768), QSize(1366, 768), QSize(1920, 1080)}) {
        plat::setScreenSizeOverride(px);
        frmRecover &w = CreateMainWindow();
        w.LayoutCommandBar(270);
        window_test::makeCache(w, {});
        for (const double width : {8000.0, 10335.0, 14000.0, px.width() * 15.0}) {
            for (const std::string view : {"list", "thumbs", "undelete", "types", "getstarted"}) {
                w.Picture7.setVisible(false);
                showView(w, view);
                w.setWidth(width);
                w.Form_Resize();
                const std::string where = std::to_string(px.width()) + "x" + std::to_string(px.height()) + " width "
                    + std::to_string(int(width)) + " " + view;
                expectTidy(w, where);
                EXPECT_GE(w.Width(), view == "getstarted" ? 10600 : 10100) << where;
                EXPECT_EQ(w.ResizeDepth, 0) << where;
                EXPECT_EQ(w.LvwFiles.Top(), w.List3.Top());
                EXPECT_EQ(w.LvwFiles.Width(), w.List3.Width());
            }
        }
    }
}

TEST_F(WindowLayout, NarrowWindowsSnapToTheMinimumWidths)
{
    plat::setScreenSizeOverride(QSize(1366, 768));
    frmRecover &w = CreateMainWindow();
    w.setWidth(8000);
    w.Form_Resize();
    EXPECT_EQ(w.Width(), 10100);
    window_test::makeCache(w, {});
    w.ShowGetStarted();
    ASSERT_TRUE(w.Picture7.Visible());
    w.setWidth(10300);
    w.Form_Resize();
    EXPECT_EQ(w.Width(), 10600);
    // Checking the specifications box lays the window out with the panel shifted.
    w.CheckSpecs.setValue(1);
    EXPECT_EQ(w.Frame1.Top(), -2245);
    EXPECT_FALSE(w.lblSpecs.Visible());
    EXPECT_EQ(w.lblHelp.Top(), 2245 + 45);
    w.CheckSpecs.setValue(0);
    EXPECT_EQ(w.Frame1.Top(), 0);
    EXPECT_TRUE(w.lblSpecs.Visible());
    EXPECT_EQ(w.lblAbout.Top(), 45);
}

TEST_F(WindowLayout, MaximizedOnceTheWindowReturnsToMaximized)
{
    // The offscreen screen itself, so that the window really maximizes.
    const QSize px = QGuiApplication::primaryScreen()->geometry().size();
    plat::setScreenSizeOverride(px);
    frmRecover &w = CreateMainWindow();
    w.LayoutCommandBar(270);
    window_test::makeCache(w, {"R#0001.jpg", "R#0002.jpg"});
    showView(w, "thumbs");
    w.Show();
    QCoreApplication::processEvents();
    w.setWindowState(2);
    for (int i = 0; i < 20 && !(w.StayMaximized && w.WindowState() == 2); ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(w.StayMaximized);
    EXPECT_EQ(w.WindowState(), 2);
    // The normal bounds: the top-left corner, 1.24 screen heights wide.
    EXPECT_EQ(w.Left(), 0);
    EXPECT_EQ(w.Top(), 0);
    EXPECT_NEAR(w.Width(), px.height() * 15.0 * 1.24 + 10, 1e-6);

    // Twenty layouts in a row each lay the window out and end the nesting.
    for (int i = 0; i < 20; ++i) {
        w.List3.setWidth(100);
        w.Form_Resize();
        EXPECT_EQ(w.ResizeDepth, 0);
        EXPECT_GT(w.List3.Width(), 100);
    }
    // The thumbnail view follows the found-file list while maximized too.
    EXPECT_EQ(w.LvwFiles.Width(), w.List3.Width());
    expectTidy(w, "maximized");

    // Restored, it is maximized again.
    w.setWindowState(0);
    w.Form_Resize();
    for (int i = 0; i < 20 && w.WindowState() != 2; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(w.WindowState(), 2);
    // The found list inside the window, down to its bottom edge.
    const QRect list = w.LvwFiles.widget()->geometry();
    EXPECT_TRUE(w.widget()->rect().contains(list));
    EXPECT_GT(list.height(), w.widget()->height() / 5);
    EXPECT_GE(list.bottom(), w.widget()->rect().bottom() - 1);

    // While an operation is busy a maximized window stays normal.
    w.OperationBusy = true;
    w.Form_Resize();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(w.WindowState(), 0);
    EXPECT_NEAR(w.Width(), px.height() * 15.0 * 1.24 + 10, 1e-6);
    w.OperationBusy = false;
}

TEST_F(WindowLayout, APictureViewOfANewWidthIsDrawnAgainWhenIdle)
{
    plat::setScreenSizeOverride(QSize(1920, 1080));
    frmRecover &w = CreateMainWindow();
    w.Show();
    QCoreApplication::processEvents();
    w.Timer1.setInterval(2000);
    w.ListClickPending = false;
    w.Form_Resize();   // same width: nothing to draw again
    EXPECT_FALSE(w.ListClickPending);
    EXPECT_EQ(w.Timer1.Interval(), 2000);
    w.setWidth(w.Width() + 1500);
    w.Form_Resize();
    EXPECT_TRUE(w.ListClickPending);
    EXPECT_EQ(w.Timer1.Interval(), 25);
}

TEST_F(WindowLayout, TheViewsPanelsAndTextsFollowAWiderWindow)
{
    plat::setScreenSizeOverride(QSize(1920, 1080));
    frmRecover &w = CreateMainWindow();
    w.LayoutCommandBar(270);
    w.WorkFolder = plat::toInternal(testing_support::makeTempDir("layoutwork")) + '\\';
    InstallShippedBackground(w.WorkFolder);
    window_test::makeCache(w, {});
    w.Show();
    w.ShowGetStarted();
    w.DrawStartPicture();
    QCoreApplication::processEvents();
    const auto pixels = [](double twips) { return plat::twipsToPixels(twips); };
    for (const double width : {10600.0, 15000.0, 19000.0}) {
        w.setWidth(width);
        w.Form_Resize();
        w.Timer1_Timer();   // the view drawn again at its new size
        const std::string where = std::to_string(int(width));
        // The background fills the picture view, the panel spans the list.
        EXPECT_EQ(w.Picture1.Picture().size(), QSize(pixels(w.Picture1.Width()), pixels(w.Picture1.Height()))) << where;
        EXPECT_EQ(w.Picture7.Width(), w.List3.Width() - 150) << where;
        EXPECT_EQ(w.Picture7.Picture().width(), pixels(w.Picture7.Width())) << where;
        EXPECT_GE(w.Picture7.Picture().height(), pixels(w.Picture7.Height())) << where;
        expectTidy(w, where);
    }

    // The status line has room for its text; the buttons start below it.
    const QWidget *status = window_test::byName(w, "lblStatus");
    ASSERT_NE(status, nullptr);
    EXPECT_GE(status->height(), status->fontMetrics().height());
    EXPECT_GE(w.Picture3.Height(), w.lblStatus.Top() + w.lblStatus.Height());
    EXPECT_GE(w.Picture4.Top(), w.Picture3.Top() + w.Picture3.Height());
    EXPECT_EQ(w.Frame1.Height(), w.Picture4.Top() + w.Picture4.Height());

    // A specifications text taller than its area scrolls by wheel and keys.
    QStringList lines;
    for (int i = 1; i <= 30; ++i)
        lines << QStringLiteral("Line %1").arg(i);
    w.lblSpecs.setCaption(lines.join("\r\n"));
    QWidget *specs = window_test::byName(w, "lblSpecs");
    ASSERT_NE(specs, nullptr);
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), 0);
    QWheelEvent down(QPointF(5, 5), specs->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(specs, &down);
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), 3);
    EXPECT_TRUE(static_cast<QLabel *>(specs)->text().startsWith("Line 4\n"));
    window_test::pressKey(specs, Qt::Key_End);
    const int last = w.lblSpecs.FirstShownLine();
    EXPECT_GT(last, 3);
    EXPECT_TRUE(static_cast<QLabel *>(specs)->text().endsWith("Line 30"));
    window_test::pressKey(specs, Qt::Key_Down);
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), last);   // no further than the last line
    window_test::pressKey(specs, Qt::Key_Up);
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), last - 1);
    window_test::pressKey(specs, Qt::Key_Home);
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), 0);
    // A new text starts at its top; the caption is kept whole.
    window_test::pressKey(specs, Qt::Key_PageDown);
    EXPECT_GT(w.lblSpecs.FirstShownLine(), 0);
    w.lblSpecs.setCaption(lines.mid(0, 20).join("\r\n"));
    EXPECT_EQ(w.lblSpecs.FirstShownLine(), 0);
    EXPECT_TRUE(w.lblSpecs.Caption().endsWith("Line 20"));
}
