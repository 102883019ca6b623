#include "app/mainlayout.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kScreenRatio = 1.24;      // the picture view's width per screen height
constexpr double kPanelOffset = 3942;      // Frame1 left = window width - this
constexpr double kSpecsShift = 2245;       // the specifications area above the window when CheckSpecs is set
constexpr double kSmallScreenWidth = 17800;
constexpr double kTallScreen = 11520;

double nonNegative(double v) { return std::max(0.0, v); }

} // namespace

long long VbIntDiv(double a, double b)
{
    const long long x = std::llrint(a), y = std::llrint(b);
    return y == 0 ? 0 : x / y;
}

void PictureViewSize(double windowWidth, double screenHeight, double &width, double &height)
{
    const double cap = screenHeight * kScreenRatio;
    if (cap >= windowWidth) {
        width = windowWidth - 3971;
        height = double(VbIntDiv(2 * (windowWidth - 3950), 3)) - 8;
    } else {
        width = cap - 3962;
        height = double(VbIntDiv(2 * (cap - 3950), 3)) - 8;
    }
}

MainLayout ComputeMainLayout(const MainLayoutInput &in)
{
    MainLayout out;
    const double w = in.windowWidth, sw = in.screenWidth, sh = in.screenHeight;

    out.specsVisible = !in.specsChecked;
    out.panelTop = in.specsChecked ? -kSpecsShift : 0;
    out.linkTop = std::fabs(out.panelTop) + 45;

    // Picture view and entry lists.
    double pw = 0, ph = 0;
    PictureViewSize(w, sh, pw, ph);
    pw = nonNegative(pw);   // a screen too small for the panel leaves no picture view
    ph = nonNegative(ph);
    out.picture = {8, 8, pw, ph};
    out.list1 = {0, 0, pw + 12, ph + 8};
    // A height that came to nothing (laid out while the window system had
    // not given the window its size yet) is not kept.
    out.list2 = {0, ph + 28, 0, in.list2Height > 0 ? in.list2Height : kListHeight};
    if (ph + 8 < in.panelHeight) {
        out.list2.width = w - 3950;
        out.list2.height = kListHeight;
    } else {
        out.list2.width = w - 232;
    }
    if (w >= sw && sw < kSmallScreenWidth) {
        // The window fills a small screen: the picture view beside the panel.
        pw = sw - 2 * in.panelWidth + 540;
        ph = double(VbIntDiv(std::nearbyint(2 * pw), 3));
        if (ph > in.panelHeight) {
            ph = in.panelHeight;
            pw = ph / 2 * 3;
        }
        out.picture = {0, 0, pw, ph};
        const double h = sh >= kTallScreen ? in.panelHeight : ph;
        out.list2.top = h + 50;
        out.list2.height = sh - h - 820;
        out.list1 = out.picture;
    }
    if (ph + out.list2.height > sh - 820)
        out.list2.height = sh - ph - 821;
    out.list2.height = nonNegative(out.list2.height);
    // Maximized, the lists reach the window's bottom edge: from the window's
    // own inside at every layout, never from a height kept from another state.
    if (in.maximized && in.clientHeight > 0)
        out.list2.height = nonNegative(in.clientHeight - out.list2.top);
    out.windowHeight = out.list2.top + out.list2.height + 495;

    // The window's inside: what no control may leave.
    const double clientWidth = in.clientWidth > 0 ? in.clientWidth : w;
    const double clientHeight =
        in.maximized ? in.clientHeight : out.windowHeight - std::max(0.0, in.frameExtraHeight);
    auto fitBottom = [&](TwipsRect &r) {
        if (clientHeight > 0 && r.bottom() > clientHeight)
            r.height = nonNegative(clientHeight - r.top);
    };
    auto fitRight = [&](TwipsRect &r) {
        if (clientWidth > 0 && r.right() > clientWidth)
            r.width = nonNegative(clientWidth - r.left);
    };
    fitBottom(out.list2);
    fitRight(out.list2);
    fitRight(out.list1);
    fitBottom(out.list1);
    out.picture.width = nonNegative(out.picture.width);
    out.picture.height = nonNegative(out.picture.height);
    out.list1.width = nonNegative(out.list1.width);
    out.list2.width = nonNegative(out.list2.width);

    out.entryColumns1 = int(VbIntDiv(out.list1.width, 2000));
    out.entryColumns2 = int(VbIntDiv(out.list2.width, 2000));

    // Command panel.
    out.panelLeft = w - kPanelOffset;
    out.panelWidth = in.panelWidth;
    if (clientWidth > 0 && out.panelLeft + out.panelWidth > clientWidth)
        out.panelWidth = nonNegative(clientWidth - out.panelLeft);

    // Found-file list and the Get Started panel over it.
    // It takes the deleted-entry list's height too, so that it reaches the
    // window's bottom edge as that list does, in every state.
    out.list3 = {0, out.list2.top, out.list2.width, out.list2.height};
    fitBottom(out.list3);
    out.foundColumns = int(VbIntDiv(out.list3.width, 1500));
    out.getStartedTop = out.list3.top + 90;
    out.getStartedHeight = nonNegative(out.list3.height - 160);

    // Preset list in the picture view's lower right corner.
    out.comboLeft = pw - in.comboWidth - 30;
    out.comboTop = ph - 350;

    // EXIF text in the gap between the picture view and the panel.
    const double gap = out.panelLeft - pw;
    out.exifFits = gap > 1950;
    if (out.exifFits) {
        out.exif.left = out.picture.right() + 20;
        out.exif.width = nonNegative(out.panelLeft - out.exif.left - 54);
        out.exif.top = std::max(out.picture.top, out.panelTop + out.specsTop);
        const double bottom = std::min(out.panelTop + in.panelHeight - 54, out.list2.top - 20);
        out.exif.height = nonNegative(bottom - out.exif.top);
        fitBottom(out.exif);
        out.exifFontSize = (out.exif.width - 2400) / 900 + 6.25;
    }
    return out;
}
