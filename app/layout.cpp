// The main window's resize handler: window state, minimum widths, the
// nesting guard, and the placing of every control from ComputeMainLayout.
#include "app/frmrecover.h"

#include "app/mainlayout.h"

#include <QWidget>
#include <algorithm>

namespace {
constexpr double kSnapWidth = 8510;          // below 8509 the window snaps to this first
constexpr double kMinWidth = 10100;          // below 10099
constexpr double kMinWidthGetStarted = 10600;   // below 10599 while Get Started shows
constexpr int kReplayInterval = 25;          // ms until the preview is drawn again
} // namespace

double frmRecover::LayoutWidth() const
{
    if (WindowState() == 0)
        return Width();
    const QWidget *w = widget();
    return w ? plat::pixelsToTwips(w->frameGeometry().width()) : Width();
}

void frmRecover::Form_Resize()
{
    const int state = WindowState();
    if (state == 1)
        return;
    const double screenW = plat::screenWidthTwips(), screenH = plat::screenHeightTwips();
    const double normalWidth = screenH * 1.24 + 10;
    if (state == 2) {
        if (OperationBusy) {
            setWindowState(0);
            setWidth(normalWidth);
        } else if (!StayMaximized) {
            // The normal bounds become the screen's top-left corner, 1.24
            // screen heights wide; the window stays maximized meanwhile
            // (leaving and entering the state again would race the window
            // manager, which may then keep the window at the normal size).
            Move(0, 0, normalWidth);
            StayMaximized = true;
        }
    } else if (Width() < kSnapWidth - 1) {
        setWidth(kSnapWidth);
        Form_Resize();   // the width change lays the window out
        return;
    }

    if (++ResizeDepth >= 9) {
        ResizeDepth = 8;
        return;
    }
    const bool normal = WindowState() == 0;
    if (normal) {
        if (Width() < kMinWidthGetStarted - 1 && Picture7.Visible()) {
            setWidth(kMinWidthGetStarted);
        } else if (Width() < kMinWidth - 1) {
            setWidth(kMinWidth);
            Form_Resize();
            return;
        }
    }
    const double pictureWidthBefore = Picture1.Width();

    MainLayoutInput in;
    in.windowWidth = LayoutWidth();
    in.maximized = !normal;
    in.screenWidth = screenW;
    in.screenHeight = screenH;
    in.specsChecked = CheckSpecs.Value() == 1;
    in.panelWidth = 3900;
    in.panelHeight = Frame1.Height();
    in.list2Height = List2.Height();
    in.comboWidth = CmbTypeSelect.Width();
    if (const QWidget *w = widget()) {
        in.clientWidth = plat::pixelsToTwips(w->width());
        in.clientHeight = plat::pixelsToTwips(w->height());
        in.frameExtraHeight = plat::pixelsToTwips(w->frameGeometry().height() - w->height());
        if (normal)
            in.clientWidth = Width() - plat::pixelsToTwips(w->frameGeometry().width() - w->width());
    }
    const MainLayout l = ComputeMainLayout(in);

    lblSpecs.setVisible(l.specsVisible);
    lblHelp.setTop(l.linkTop);
    lblAbout.setTop(l.linkTop);
    if (lblSpecs.Top() != l.specsTop)
        lblSpecs.setTop(l.specsTop);

    Picture1.Move(l.picture.left, l.picture.top, l.picture.width, l.picture.height);
    Picture5.Move(0, 0, l.picture.right() + 8, l.picture.bottom() + 8);
    Picture5.ZOrder(1);
    LvwTypes.Move(l.picture.left, l.picture.top, l.picture.width, l.picture.height);
    List1.Move(l.list1.left, l.list1.top, l.list1.width, l.list1.height);
    List2.Move(l.list2.left, l.list2.top, l.list2.width, l.list2.height);
    if (normal && ResizeDepth < 6)
        setHeight(l.windowHeight);
    if (ResizeDepth >= 7) {
        ResizeDepth = 0;
        return;
    }
    List2.setColumns(l.entryColumns2);
    List1.setColumns(l.entryColumns1);

    Frame1.Move(l.panelLeft, l.panelTop, l.panelWidth, Frame1.Height());

    List3.Move(0, l.list3.top, l.list3.width, l.list3.height);
    List3.setColumns(l.foundColumns);
    List3.Refresh();

    Picture7.setTop(l.getStartedTop);
    Picture7.setHeight(l.getStartedHeight);
    if (Picture7.Visible())
        DrawGetStartedPanel();   // the panel spans the list at its new size

    CmbTypeSelect.Move(l.comboLeft, l.comboTop);
    if (l.exifFits) {
        txtExif.Move(l.exif.left, l.exif.top, l.exif.width, l.exif.height);
        txtExif.setFontSize(l.exifFontSize);
        txtExif.Refresh();
        if (txtExif.Visible()) {
            txtExif.setVisible(true);
            UpdateDriveInfoLabel();
        } else {
            // The gap holds the EXIF lines from now on; the specifications
            // area shows the drive again.
            txtExif.setVisible(true);
            ShowExifSummary();
        }
    } else if (txtExif.Visible()) {
        txtExif.setVisible(false);
        if (Picture7.Visible())
            ShowExifSummary();
    }

    // A maximized window was laid out; one that was maximized once returns
    // to that state (not while an operation is busy, which keeps it normal).
    if (WindowState() == 0 && StayMaximized && !OperationBusy)
        setWindowState(2);

    // The preview is drawn again at its new size once the user is idle (a
    // window not shown yet has no preview to redraw).
    if ((Visible() && Picture1.Visible() && Picture1.Width() != pictureWidthBefore) || ListClickPending) {
        ListClickPending = true;
        Timer1.setInterval(kReplayInterval);
        if (Enabled())
            Timer1.setEnabled(true);
    }
    Picture4.ZOrder(0);
    if (LvwTypes.View() == plat::ListView::lvwReport && LvwTypes.Visible())
        SetTypesColumnWidth();

    // The thumbnail view takes the found-file list's rectangle.
    LvwFiles.Move(List3.Left(), List3.Top(), List3.Width(), List3.Height());
    ResizeDepth = 0;
}
