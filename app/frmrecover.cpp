// The main window's controls at their design state, its event wiring and the
// one instance of the program.
#include "app/frmrecover.h"

#include "drive/ui/chooser.h"

#include "drive/strings.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"

#include <QWidget>
#include <memory>

namespace {
std::unique_ptr<frmRecover> g_main;
}

frmRecover &MainWindow()
{
    if (!g_main)
        g_main = std::make_unique<frmRecover>();
    return *g_main;
}

frmRecover *MainWindowIfMade() { return g_main.get(); }

frmRecover &CreateMainWindow()
{
    g_main.reset();
    g_main = std::make_unique<frmRecover>();
    return *g_main;
}

void DestroyMainWindow() { g_main.reset(); }

frmRecover::frmRecover()
{
    setCaption(ProgramTitle);
    setFontSize(8.25);   // the window's design font; its controls take it over
    // The folder chooser stands beside the picture view.
    SetChooserPlacementSource([this]() -> std::optional<ChooserPlacement> {
        return ChooserPlacement{Left(), Top(), Picture1.Width(), Picture1.Top()};
    });
    WorkFolder = plat::programFolder() + kWorkSub;

    // The command panel's design font size; its controls inherit it, so
    // that the captions of every language fit their buttons.
    Frame1.setFontSize(8);
    // The width box covers the right end of its button: the caption starts
    // at the left, its closing blanks run under the box.
    if (QWidget *b = CmdRenderWidth.widget())
        b->setStyleSheet(QStringLiteral("text-align: left; padding-left: 6px;"));
    // Design captions: those of the language in use (English until start-up
    // has chosen one).
    SetLanguageCaptions();
    TxtWidth.setText(QStringLiteral("72"));

    // The found files in white on the greys the colour schemes give the lists.
    List3.setForeColor(0xFFFFFF);
    LvwFiles.setForeColor(0xFFFFFF);
    ProgressBar1.setMin(0);
    ProgressBar1.setMax(100);
    LvwTypes.setView(plat::ListView::lvwReport);
    LvwTypes.setCheckboxes(true);
    LvwFiles.setView(plat::ListView::lvwIcon);
    LvwFiles.setMultiSelect(true);
    List3.setMultiSelect(2);
    List1.setMultiSelect(2);
    List2.setMultiSelect(2);
    Picture1.setBorderStyle(0);
    Picture4.setBorderStyle(0);
    Picture3.setBorderStyle(0);
    Frame1.setBorderStyle(0);
    lblAbout.setAutoSize(true);
    lblHelp.setAutoSize(true);
    lblSpecs.setScrollable(true);   // drive facts and EXIF lines taller than the area

    // Hidden at design: what the command bar's layout makes visible, and what
    // the program shows when it is needed.
    for (plat::Control *c : std::initializer_list<plat::Control *>{
             &ChkDeep, &CmdBackup, &CmdScanBackup, &CmdLearn, &CmdOpen, &CmdSaveAs, &CmdRenderWidth,
             &TxtWidth, &CmdShowFolder, &CmdShowScanTypes, &CmdBrowse, &ChkDamaged, &CheckSpecs,
             &ListColors, &ListFilters, &Drive2, &Picture7, &List1, &List2, &LvwFiles, &LvwTypes,
             &CmbTypeSelect})
        c->setVisible(false);

    ArrangeDefaultLayout();
    wireEvents();
    wireViewerEvents();
}

frmRecover::~frmRecover()
{
    SetChooserPlacementSource({});
}

void frmRecover::wireEvents()
{
    Timer1.Tick = [this] { Timer1_Timer(); };
    Timer2.Tick = [this] { Timer2_Timer(); };
    Timer5.Tick = [this] { Timer5_Timer(); };
    Drive1.Change = [this] { Drive1_Change(); };
    ListColors.Click = [this] { ListColors_Click(); };
    CmbTypeSelect.Click = [this] { CmbTypeSelect_Click(); };
    List1.Click = [this] { List1_Click(); };
    List2.Click = [this] { List2_Click(); };
    List3.Click = [this] { List3_Click(); };

    CmdScan.Click = [this] { CmdScan_Click(); };
    CmdQuickUndelete.Click = [this] { CmdQuickUndelete_Click(); };
    CmdSaveAll.Click = [this] { CmdSaveAll_Click(); };
    CmdSaveAs.Click = [this] { CmdSaveAs_Click(); };
    CmdShowThumbs.Click = [this] { CmdShowThumbs_Click(); };
    CmdShowScanTypes.Click = [this] { CmdShowScanTypes_Click(); };
    CmdLearn.Click = [this] { CmdLearn_Click(); };
    CmdBackup.Click = [this] { CmdBackup_Click(); };
    CmdBackup.KeyPress = [this](int &key) { CmdBackup_KeyPress(key); };
    Drive1.KeyPress = [this](int &key) { Drive1_KeyPress(key); };
    CmdScanBackup.Click = [this] { CmdScanBackup_Click(); };
    CmdOpen.Click = [this] { CmdOpen_Click(); };
    CmdShowFolder.Click = [this] { CmdShowFolder_Click(); };
    CmdRenderWidth.Click = [this] { CmdRenderWidth_Click(); };
    CmdBrowse.Click = [this] { CmdBrowse_Click(); };
    CmdMaxSpeed.Click = [this] { CmdMaxSpeed_Click(); };
    CmdEnd.Click = [this] { CmdEnd_Click(); };

    // The close box: refused while an operation runs (and turned into a stop
    // request while a scan runs); otherwise the shutdown.
    QueryUnload = [this](int &cancel, int mode) { Form_QueryUnload(cancel, mode); };
    UnloadEvent = [this](int &cancel) { Form_Unload(cancel); };
    WireBehaviourEvents();
}
