// The colour schemes of the main window: "Layout Dark", "Layout Light" and
// "Windows Theme" from the right-click list ListColors. A scheme sets its own
// colours first, then the rules every scheme shares run in order; a rule
// that copies a colour copies what the other control holds at that moment,
// so what an earlier scheme left in ListColors carries on.
#include "app/colours.h"

#include "app/frmrecover.h"
#include "drive/strings.h"

#include <QProgressBar>
#include <QVariant>
#include <QWidget>

namespace {

constexpr quint32 rgb(int r, int g, int b) { return quint32(r) | (quint32(g) << 8) | (quint32(b) << 16); }
constexpr quint32 systemColour(int index) { return 0x80000000u | quint32(index); }

constexpr quint32 kSysActiveCaption = systemColour(2);
constexpr quint32 kSysMenu = systemColour(4);
constexpr quint32 kSysWindow = systemColour(5);
constexpr quint32 kSysMenuText = systemColour(7);
constexpr quint32 kSysWindowText = systemColour(8);

const char *const kBarProperty = "quilvaneBarColour";
const char *const kBackProperty = "quilvaneBackColour";

QString cssOf(quint32 colour)
{
    const QColor c = plat::colorFromVb(colour);
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The progress bar's style sheet from the colours it was given.
void applyProgressColours(QWidget *bar)
{
    QString sheet;
    const QVariant back = bar->property(kBackProperty), fill = bar->property(kBarProperty);
    if (back.isValid())
        sheet += QStringLiteral("QProgressBar{background-color:%1;border:0px;}").arg(cssOf(back.toUInt()));
    if (fill.isValid())
        sheet += QStringLiteral("QProgressBar::chunk{background-color:%1;}").arg(cssOf(fill.toUInt()));
    bar->setStyleSheet(sheet);
}

enum class Scheme { Hide, Dark, Light, Windows };

Scheme schemeOf(const QString &entry)
{
    if (entry.contains(GetString(420, QStringLiteral("Hide"))))
        return Scheme::Hide;
    if (entry.contains(GetString(421, QStringLiteral("Dark"))))
        return Scheme::Dark;
    if (entry.contains(GetString(422, QStringLiteral("Light"))))
        return Scheme::Light;
    return Scheme::Windows;
}

} // namespace

void SetProgressBarColor(int hWnd, quint32 colour)
{
    if (QWidget *bar = plat::widgetOf(hWnd)) {
        bar->setProperty(kBarProperty, colour);
        applyProgressColours(bar);
    }
}

void SetProgressBackColor(int hWnd, quint32 colour)
{
    if (QWidget *bar = plat::widgetOf(hWnd)) {
        bar->setProperty(kBackProperty, colour);
        applyProgressColours(bar);
    }
}

std::optional<quint32> ProgressBarColor(int hWnd)
{
    const QWidget *bar = plat::widgetOf(hWnd);
    const QVariant v = bar ? bar->property(kBarProperty) : QVariant();
    return v.isValid() ? std::optional<quint32>(v.toUInt()) : std::nullopt;
}

std::optional<quint32> ProgressBackColor(int hWnd)
{
    const QWidget *bar = plat::widgetOf(hWnd);
    const QVariant v = bar ? bar->property(kBackProperty) : QVariant();
    return v.isValid() ? std::optional<quint32>(v.toUInt()) : std::nullopt;
}

void frmRecover::ListColors_Click()
{
    QString entry = ListColors.Text();
    entry.remove(QLatin1Char('&'));
    const Scheme scheme = schemeOf(entry);
    if (scheme == Scheme::Hide) {
        ListColors.setVisible(false);
        return;
    }
    const int bar = ProgressBar1.hWnd();

    // The scheme's own colours.
    switch (scheme) {
    case Scheme::Dark:
        setBackColor(rgb(128, 128, 128));
        List3.setBackColor(BackColor());
        lblHelp.setForeColor(rgb(238, 238, 238));
        lblSpecs.setBackColor(List3.BackColor());
        lblSpecs.setForeColor(rgb(255, 255, 34));
        txtExif.setBackColor(List3.BackColor());
        txtExif.setForeColor(rgb(255, 255, 255));
        Picture4.setBackColor(BackColor());
        Picture5.setBackColor(BackColor());
        SetProgressBarColor(bar, rgb(80, 80, 80));
        SetProgressBackColor(bar, rgb(176, 176, 170));
        TxtWidth.setBackColor(rgb(176, 176, 170));
        break;
    case Scheme::Light:
        setBackColor(rgb(237, 234, 235));
        lblHelp.setForeColor(rgb(0, 0, 0));
        lblSpecs.setBackColor(rgb(228, 228, 223));
        lblSpecs.setForeColor(rgb(0, 0, 0));
        txtExif.setBackColor(rgb(228, 228, 223));
        txtExif.setForeColor(rgb(0, 0, 0));
        Picture4.setBackColor(BackColor());
        SetProgressBarColor(bar, rgb(64, 96, 144));
        SetProgressBackColor(bar, Picture4.BackColor());
        TxtWidth.setForeColor(rgb(0, 0, 0));
        List3.setBackColor(rgb(112, 112, 112));
        break;
    case Scheme::Windows:
    default:
        setBackColor(kSysActiveCaption);
        ListColors.setBackColor(kSysMenu);
        ListColors.setForeColor(kSysMenuText);
        lblSpecs.setBackColor(kSysWindow);
        lblSpecs.setForeColor(kSysWindowText);
        txtExif.setBackColor(lblSpecs.BackColor());
        txtExif.setForeColor(lblSpecs.ForeColor());
        Picture4.setBackColor(lblSpecs.BackColor());
        SetProgressBarColor(bar, rgb(153, 180, 209));
        List3.setBackColor(rgb(112, 112, 112));
        break;
    }

    // The rules every scheme shares, in this order.
    ListColors.setVisible(false);
    List1.setForeColor(List3.ForeColor());
    List2.setForeColor(List3.ForeColor());
    LvwTypes.setBackColor(ListColors.BackColor());
    LvwTypes.setForeColor(ListColors.ForeColor());
    ListFilters.setBackColor(ListColors.BackColor());
    ListFilters.setForeColor(ListColors.ForeColor());
    CmbTypeSelect.setBackColor(ListColors.BackColor());
    CmbTypeSelect.setForeColor(ListColors.ForeColor());
    List1.setBackColor(List3.BackColor());
    List2.setBackColor(List3.BackColor());
    LvwFiles.setBackColor(List3.BackColor());
    const quint32 frame2Back = Picture4.BackColor();   // the frame behind the option boxes
    TxtWidth.setBackColor(Picture4.BackColor());
    TxtWidth.setForeColor(txtExif.ForeColor());
    ChkDeep.setForeColor(lblSpecs.ForeColor());
    ChkDeep.setBackColor(frame2Back);
    ChkDamaged.setBackColor(ChkDeep.BackColor());
    ChkDamaged.setForeColor(ChkDeep.ForeColor());
    LvwTypes.setBackColor(lblSpecs.BackColor());
    LvwTypes.setForeColor(lblSpecs.ForeColor());
    CmbTypeSelect.setBackColor(LvwTypes.BackColor());
    CmbTypeSelect.setForeColor(LvwTypes.ForeColor());
    Frame1.setBackColor(BackColor());
    lblHelp.setBackColor(BackColor());
    lblAbout.setBackColor(BackColor());
    lblAbout.setForeColor(lblHelp.ForeColor());
    lblStatus.setBackColor(BackColor());
    lblStatus.setForeColor(txtExif.ForeColor());
    Drive1.setBackColor(Picture4.BackColor());
    Drive1.setForeColor(txtExif.ForeColor());
    for (plat::Control *button : std::initializer_list<plat::Control *>{
             &CmdBackup, &CmdScanBackup, &CmdQuickUndelete, &CmdScan, &CmdSaveAs, &CmdSaveAll, &CmdShowFolder,
             &CmdShowThumbs, &CmdLearn, &CmdShowScanTypes, &CmdRenderWidth, &CmdOpen, &CmdMaxSpeed, &CmdBrowse,
             &CmdEnd})
        button->setBackColor(Picture4.BackColor());
    Picture1.setBackColor(List3.BackColor());
    Picture5.setBackColor(List3.BackColor());

    // The new colours drawn, once the window is up (start-up lays out and
    // draws later itself).
    if (Visible()) {
        List3.Click();
        PrintPicture1Title();
        Form_Resize();
    }
}
