// The command panel's layout, the result commands' states, the progress
// panel and the emptied thumbnail view.
#include "app/frmrecover.h"

#include "drive/files.h"
#include "drive/strings.h"
#include "recovery/cachenames.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLocale>
#include <QWidget>
#include <algorithm>

namespace {

// Design places (twips, relative to the container) of the command panel's
// controls. LayoutCommandBar sets only some of them; the others stay here.
struct Place {
    double left, top, width, height;
};

struct CommandBarDesign {
    double frameWidth = 3900;
    Place txtSpecs{30, 0, 3840, 2230};
    Place lblSpecs{75, 270, 3750, 1950};
    Place lblHelp{2700, 45, 500, 225};
    Place lblAbout{3250, 45, 600, 225};
    Place checkSpecs{75, 2250, 1500, 240};
    Place progressBar{30, 2530, 3840, 225};
    Place picture3{30, 2790, 3840, 240};
    Place lblStatus{45, 0, 3780, 225};
    Place picture4{30, 3030, 3840, 3855};
    // Inside Picture4, in rows of 480 twips.
    Place drive1{105, 60, 2450, 315};
    Place chkDeep{2640, 60, 1150, 285};
    Place chkDamaged{2640, 285, 1150, 210};   // between DeepScan and the caption below it
    Place cmdBackup{105, 420, 1700, 420};
    Place cmdScanBackup{1890, 420, 1700, 420};
    Place cmdQuickUndelete{105, 900, 1700, 420};
    Place cmdScan{1890, 900, 1700, 420};
    Place cmdSaveAll{105, 1380, 1700, 420};
    Place cmdSaveAs{1890, 1380, 1700, 420};
    Place cmdShowFolder{105, 1860, 1700, 420};
    Place cmdShowThumbs{1890, 1860, 1700, 420};
    Place cmdLearn{105, 2340, 1700, 420};
    Place cmdShowScanTypes{1890, 2340, 1700, 420};
    Place cmdOpen{105, 2820, 1165, 420};
    // The thumbnail width box stands on the right end of its button, whose
    // caption ends in blanks to leave room for it.
    Place cmdRenderWidth{1335, 2820, 2305, 420};
    Place txtWidth{2955, 2865, 600, 330};
    Place cmdMaxSpeed{105, 3300, 1165, 420};
    Place cmdBrowse{1335, 3300, 1120, 420};
    Place cmdEnd{2520, 3300, 1120, 420};
};

const CommandBarDesign kDesign;

// A folder in the room given (pixels): whole when it fits, else its start
// and its last name with "…" for what lies between; a last name too long
// for that gives up its own middle.
QString ShortenFolder(const QString &folder, const QFontMetrics &metrics, int room)
{
    if (metrics.horizontalAdvance(folder) <= room)
        return folder;
    const QString dots(QChar(0x2026));
    const qsizetype cut = folder.chopped(folder.endsWith(QLatin1Char('\\')) ? 1 : 0).lastIndexOf(QLatin1Char('\\'));
    if (cut > 0) {
        const QString tail = folder.mid(cut);
        for (qsizetype keep = cut; keep >= std::min<qsizetype>(3, cut); --keep) {
            const QString shown = folder.left(keep) + dots + tail;
            if (metrics.horizontalAdvance(shown) <= room)
                return shown;
        }
    }
    return metrics.elidedText(folder, Qt::ElideMiddle, room);
}

void place(plat::Control &c, const Place &p) { c.Move(p.left, p.top, p.width, p.height); }

void drawNow() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

} // namespace

void frmRecover::ArrangeDefaultLayout()
{
    const CommandBarDesign &d = kDesign;
    place(txtSpecs, d.txtSpecs);
    place(lblSpecs, d.lblSpecs);
    place(lblHelp, d.lblHelp);
    place(lblAbout, d.lblAbout);
    place(CheckSpecs, d.checkSpecs);
    place(ProgressBar1, d.progressBar);
    place(Picture3, d.picture3);
    place(lblStatus, d.lblStatus);
    place(Picture4, d.picture4);
    place(Drive1, d.drive1);
    place(ChkDeep, d.chkDeep);
    place(ChkDamaged, d.chkDamaged);
    place(CmdBackup, d.cmdBackup);
    place(CmdScanBackup, d.cmdScanBackup);
    place(CmdQuickUndelete, d.cmdQuickUndelete);
    place(CmdScan, d.cmdScan);
    place(CmdSaveAll, d.cmdSaveAll);
    place(CmdSaveAs, d.cmdSaveAs);
    place(CmdShowFolder, d.cmdShowFolder);
    place(CmdShowThumbs, d.cmdShowThumbs);
    place(CmdLearn, d.cmdLearn);
    place(CmdShowScanTypes, d.cmdShowScanTypes);
    place(CmdOpen, d.cmdOpen);
    place(CmdRenderWidth, d.cmdRenderWidth);
    place(TxtWidth, d.txtWidth);
    place(CmdMaxSpeed, d.cmdMaxSpeed);
    place(CmdBrowse, d.cmdBrowse);
    place(CmdEnd, d.cmdEnd);

    // The window's design state: the default width and the design sizes of
    // the lists and popups; Form_Resize places everything for the screen.
    Move(Left(), Top(), 10335);
    Frame1.Move(10335 - 3942, 0, d.frameWidth, d.picture4.top + d.picture4.height);
    List2.setHeight(4205);
    List3.setHeight(4205);
    LvwFiles.setHeight(4205);
    CmbTypeSelect.Move(0, 0, 2700, 315);
    ListColors.Move(0, 0, 1800, 1000);
    ListFilters.Move(0, 0, 1800, 2400);
    Picture7.Move(75, 0, 6325, 4045);
    txtExif.setVisible(false);
    Form_Resize();
}

void frmRecover::LayoutCommandBar(double specsTop)
{
    const CommandBarDesign &d = kDesign;
    txtSpecs.setTop(0);
    lblSpecs.setTop(specsTop);
    ProgressBar1.setTop(lblSpecs.Top() + 2260);
    Picture3.setTop(lblSpecs.Top() + 2520);
    Picture4.setTop(Picture3.Top() + 240);
    if (plat::screenHeightTwips() < 12000)
        txtExif.setFontSize(8);
    Picture3.setTop(2790);
    Picture4.setTop(3030);
    Drive1.setWidth(2450);
    Picture4.setHeight(3855);
    // The status line is as tall as its text in the font the desktop gives
    // it; the button panel below moves down by what it needs beyond 240.
    if (const QWidget *l = lblStatus.widget()) {
        const double text = plat::pixelsToTwips(QFontMetrics(l->font()).height() + 1);
        lblStatus.setHeight(std::max(d.lblStatus.height, text));
        Picture3.setHeight(std::max(d.picture3.height, lblStatus.Top() + lblStatus.Height()));
        Picture4.setTop(Picture3.Top() + Picture3.Height());
    }

    for (plat::Control *c : std::initializer_list<plat::Control *>{
             &ChkDeep, &CmdBackup, &CmdScanBackup, &CmdLearn, &CmdOpen, &CmdSaveAs, &CmdRenderWidth,
             &TxtWidth, &CmdShowFolder, &CmdShowScanTypes, &CmdBrowse})
        c->setVisible(true);

    CmdQuickUndelete.Move(105, 900);
    CmdScan.Move(1890, 900);
    CmdSaveAll.setTop(1380);
    CmdSaveAs.setTop(CmdSaveAll.Top());
    CmdShowThumbs.Move(1890, 1860);
    CmdShowScanTypes.Move(CmdScan.Left(), d.cmdLearn.top);
    CmdEnd.Move(2520, 3300, d.cmdBrowse.width);
    CmdMaxSpeed.setTop(3300);
    CmdMaxSpeed.setWidth(1165);

    Frame1.setHeight(Picture4.Top() + Picture4.Height());
}

void frmRecover::EnableButtons()
{
    const bool hasFiles = CountFolderFiles(CacheRoot) >= 1;
    for (plat::Control *c : std::initializer_list<plat::Control *>{
             &CmdSaveAll, &CmdSaveAs, &CmdShowFolder, &CmdShowThumbs, &CmdOpen, &CmdRenderWidth})
        c->setEnabled(hasFiles);
    if (!hasFiles && !ChooserStartPath.isEmpty()) {
        QString saveFolder = ChooserStartPath;
        if (!saveFolder.endsWith(QLatin1Char('\\')))
            saveFolder += QLatin1Char('\\');
        if (FileExists(saveFolder)) {
            CmdShowFolder.setEnabled(true);
            CmdShowFolder.setCaption(GetString(1635, QStringLiteral("Explore Folder")));
        }
    }
    drawNow();
}

void frmRecover::ShowProgressPanel(const QString &caption, double count)
{
    if (!(count > 0))
        return;
    ProgressBar1.setMin(0);
    ProgressBar1.setMax(count);
    ProgressBar1.setValue(0);
    Picture3.setVisible(true);
    lblStatus.setVisible(true);
    ProgressBar1.setVisible(false);
    ProgressBar1.setVisible(true);
    lblStatus.setVisible(true);
    lblStatus.setCaption(caption);
}

void frmRecover::ShowSaveReport(int count, const QString &folder)
{
    const QString text = GetString(2160, QStringLiteral("%0 file(s) saved in %1"));
    const QString number = QLocale().toString(count);
    QString shownFolder = folder;
    if (const QWidget *l = lblStatus.widget()) {
        // The words stay whole; the folder gives up its middle, never its end.
        const QFontMetrics metrics(l->font());
        const int words = metrics.horizontalAdvance(FormatString(text, {number, QString()}));
        const int room = std::max(metrics.horizontalAdvance(QStringLiteral("X...\\X")), l->width() - 4 - words);
        shownFolder = ShortenFolder(folder, metrics, room);
    }
    Picture3.setVisible(true);
    lblStatus.setVisible(true);
    QString caption = FormatString(text, {number, shownFolder});
    lblStatus.setCaption(caption.replace(QLatin1Char('&'), QLatin1String("&&")));
}

void frmRecover::ClearFileView()
{
    PictureOrientation = 0;
    LvwFiles.Clear();
    LvwFiles.setIcons(nullptr);
    LvwFiles.setSmallIcons(nullptr);
    ImageList1.Clear();
    ImageList1.setImageWidth(ThumbWidth);
    ImageList1.setImageHeight(ThumbHeight);
    SetThumbIconSpacing(std::max(ThumbWidth, 48));
}
