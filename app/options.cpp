// The main window's smaller handlers: the specifications box, the scan
// option boxes, the right-click colour list and the window's own mouse, the
// picture popup's hiding, Explore, Open With and Help.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>
#include <algorithm>

namespace {

constexpr double kColorListMargin = 190;   // the colour list keeps this far from the right edge
constexpr qint64 kHelpRetryMs = 1000;

QString withBackslash(QString folder)
{
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    return folder;
}

// Lets the window draw while the program waits, taking no user input.
void waitDrawing(qint64 ms)
{
    const qint64 start = plat::monotonicMs();
    while (plat::monotonicMs() - start < ms)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

// A point of a control (twips) in the window's coordinates (twips).
QPointF toWindow(const plat::Control &control, const plat::Control &window, double x, double y)
{
    QWidget *from = control.widget();
    QWidget *to = window.widget();
    if (!from || !to)
        return {x, y};
    const QPoint at = from->mapTo(to, QPoint(plat::twipsToPixels(x), plat::twipsToPixels(y)));
    return {double(plat::pixelsToTwips(at.x())), double(plat::pixelsToTwips(at.y()))};
}

} // namespace

void frmRecover::CheckSpecs_Click() { Form_Resize(); }

void frmRecover::ChkDeep_MouseDown(int button, int, double, double)
{
    if (button == plat::vbRightButton && ChkDeep.Value() == 1) {
        ChkDamaged.setVisible(true);
        ChkDamaged.ZOrder(0);
    }
}

void frmRecover::ChkDamaged_MouseDown(int button, int, double, double)
{
    if (button == plat::vbRightButton)
        ChkDamaged.setVisible(false);
}

void frmRecover::ChkDamaged_Click() { ChkDeep.setValue(1); }

void frmRecover::OptionBox_UserClick(plat::CheckBox &box)
{
    // The box has taken its new value already. While an operation runs the
    // option keeps the value it had.
    if (OperationRunning) {
        box.setValue(box.Value() == 1 ? 0 : 1);
        return;
    }
    if (&box == &ChkDamaged)
        ChkDamaged_Click();
}

void frmRecover::Form_MouseDown(int button, int, double x, double y)
{
    if (button != plat::vbRightButton) {
        ShowGetStarted();
        return;
    }
    double left = x;
    const double width = LayoutWidth();
    if (left + ListColors.Width() > width - kColorListMargin)
        left = width - ListColors.Width() - kColorListMargin;
    ListColors.Move(std::max(0.0, left), y);
    ListColors.setVisible(true);
    ListColors.ZOrder(0);
}

void frmRecover::Frame1_MouseDown(int button, int shift, double x, double y)
{
    const QPointF at = toWindow(Frame1, *this, x, y);
    Form_MouseDown(button, shift, at.x(), at.y());
}

void frmRecover::lblSpecs_MouseDown(int button, int shift, double x, double y)
{
    const QPointF at = toWindow(lblSpecs, *this, x, y);
    Form_MouseDown(button, shift, at.x(), at.y());
}

void frmRecover::ListFilters_LostFocus() { ListFilters.setVisible(false); }

void frmRecover::ListFilters_MouseUp(int, int, double, double) { ListFilters.setVisible(false); }

void frmRecover::CmdShowFolder_Click()
{
    const QString exploreCache = GetString(36, QStringLiteral("Explore Cache"));
    QString caption = exploreCache;
    const QString saveFolder = withBackslash(ChooserStartPath);
    const bool saveHasFiles = !saveFolder.isEmpty() && FileExists(saveFolder);
    QString folder;
    if (ShownFolder != saveFolder && saveHasFiles && LastExploredFolder != saveFolder
        && CmdShowFolder.Caption() != exploreCache) {
        folder = saveFolder;
    } else if (!CacheRoot.isEmpty() && FileExists(withBackslash(CacheRoot))) {
        folder = withBackslash(CacheRoot);
        if (saveHasFiles)
            caption = GetString(1635, QStringLiteral("Explore Folder"));
    } else if (saveHasFiles) {
        folder = saveFolder;
    } else {
        MsgBoxTimed(QString::number(hWnd()), GetString(366, QStringLiteral("Folders are empty.")) + QStringLiteral("   "),
                    0, ProgramTitle + QStringLiteral("  ") + GetString(367, QStringLiteral("Explore")));
        EmptyCacheDir();
    }
    if (!folder.isEmpty() && FolderExists(folder) && FileExists(folder)) {
        LastExploredFolder = folder;
        ShellOpen(folder, QStringLiteral("explore"), QString(), QString(), 1);
    }
    CmdShowFolder.setCaption(caption);
    EnableButtons();
}

void frmRecover::CmdOpen_Click()
{
    if (RefuseWhileBusy())
        return;
    // Found files listed: the shown view's selection is opened, and without
    // one the user is asked to choose a file.
    if (List3.ListCount() > 0 && (List3.Visible() || LvwFiles.Visible())) {
        if (LvwFiles.Visible())
            SyncListSelections(0);
        if (List3.SelCount() > 0)
            List3.DblClick();
        else
            ShowSelectFileNotice();
        return;
    }
    if (List1.ListCount() <= 3 && List2.ListCount() <= 3) {
        ShowNoFilesNotice();
        return;
    }
    if (List1.Visible() && List1.SelCount() > 0)
        List1.DblClick();
    else if (List2.Visible() && List2.SelCount() > 0)
        List2.DblClick();
    else
        ShowSelectFileNotice();
}

void frmRecover::lblHelp_Click()
{
    if (RefuseWhileBusy())
        return;
    setMousePointer(13);
    lblHelp.setCaption(GetString(410, QStringLiteral("Loading")));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const QString manual = plat::programFolder() + QStringLiteral("Manual\\");
    const QString open = QStringLiteral("open");
    bool shown = ShellOpen(manual + QStringLiteral("Manual.htm"), open, QString(), manual, 4);
    if (!shown) {
        waitDrawing(kHelpRetryMs);
        shown = ShellOpen(manual + QStringLiteral("Manual.htm"), open, QString(), manual, 4);
    }
    if (!shown)
        shown = ShellOpen(manual + QStringLiteral("manual.txt"), open, QString(), manual, 4);
    if (!shown)
        MsgBoxTimed(QString::number(hWnd()), GetString(418, QStringLiteral("Browser not able to load htm file.")), 0,
                    GetString(419, QStringLiteral("Quilvane Help")));
    setMousePointer(0);
    lblHelp.setCaption(GetString(53, QStringLiteral("Help")));
}
