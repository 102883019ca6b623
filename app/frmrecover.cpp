// The main window's controls at their design state, its event wiring and the
// one instance of the program.
#include "app/frmrecover.h"

#include "drive/ui/chooser.h"

#include "drive/strings.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"

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
    // The folder chooser stands beside the picture view.
    SetChooserPlacementSource([this]() -> std::optional<ChooserPlacement> {
        return ChooserPlacement{Left(), Top(), Picture1.Width(), Picture1.Top()};
    });
    WorkFolder = plat::programFolder() + kWorkSub;

    // Design captions; the language captions replace them at start-up.
    CmdBackup.setCaption(GetString(48, QStringLiteral("Backup Medium")));
    CmdScanBackup.setCaption(GetString(49, QStringLiteral("Scan Backup")));
    CmdQuickUndelete.setCaption(GetString(45, QStringLiteral("Quick Undelete")));
    CmdScan.setCaption(GetString(1652, QStringLiteral("Scan")));
    CmdSaveAll.setCaption(GetString(44, QStringLiteral("Save All")));
    CmdSaveAs.setCaption(GetString(43, QStringLiteral("Save Selected")));
    CmdShowFolder.setCaption(GetString(36, QStringLiteral("Explore Cache")));
    CmdShowThumbs.setCaption(GetString(37, QStringLiteral("Thumbs")));
    CmdLearn.setCaption(GetString(42, QStringLiteral("DO Vizorira")));
    CmdShowScanTypes.setCaption(GetString(46, QStringLiteral("SearchTypes")));
    CmdOpen.setCaption(GetString(41, QStringLiteral("Open With")));
    CmdRenderWidth.setCaption(GetString(47, QStringLiteral("Render Width")) + QStringLiteral("     "));
    CmdMaxSpeed.setCaption(GetString(39, QStringLiteral("Test Speed")));
    CmdBrowse.setCaption(GetString(1531, QStringLiteral("Browse")));
    CmdEnd.setCaption(GetString(40, QStringLiteral("End")));
    ChkDeep.setCaption(GetString(33, QStringLiteral("DeepScan")));
    ChkDamaged.setCaption(GetString(50, QStringLiteral("Damaged")));
    txtSpecs.setText(GetString(52, QStringLiteral("Specifications")));
    lblStatus.setCaption(GetString(51, QStringLiteral("Status")));
    lblAbout.setCaption(GetString(55, QStringLiteral("About")));
    lblHelp.setCaption(GetString(53, QStringLiteral("Help")));
    TxtWidth.setText(QStringLiteral("72"));
    txtExif.setText(GetString(32, QStringLiteral("ExifInfo")) + QStringLiteral("\r\n"));

    ListColors.AddItem(GetString(1495, QStringLiteral("Hide Me")));
    ListColors.AddItem(GetString(1498, QStringLiteral("Layout Dark")));
    ListColors.AddItem(GetString(1499, QStringLiteral("Layout Light")));
    ListColors.AddItem(GetString(1707, QStringLiteral("Windows Theme")));
    const std::pair<int, const char *> filters[] = {
        {1495, "Hide Me"}, {1501, "File Info"},  {1502, "Rotate 90  CW"}, {1503, "Rotate 90CCW"},
        {1504, "Rotate 180"}, {1409, "Reset Rotation"}, {1328, "Unsharp"}, {428, "Focus"},
        {1329, "Sharpen"}, {1330, "SharpenMore"}, {1408, "Reset Filter"}};
    for (const auto &f : filters)
        ListFilters.AddItem(GetString(f.first, QString::fromLatin1(f.second)));

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
}

frmRecover::~frmRecover()
{
    SetChooserPlacementSource({});
}

void frmRecover::wireEvents()
{
    Timer1.Tick = [this] { Timer1_Timer(); };
    Timer5.Tick = [this] { Timer5_Timer(); };
    Drive1.Change = [this] { Drive1_Change(); };
    ListColors.Click = [this] { ListColors_Click(); };
    CmbTypeSelect.Click = [this] { CmbTypeSelect_Click(); };
    List1.Click = [this] { List1_Click(); };
    List1.DblClick = [this] { List1_DblClick(); };
    List2.Click = [this] { List2_Click(); };
    List2.DblClick = [this] { List2_DblClick(); };
    List3.Click = [this] { List3_Click(); };

    CmdScan.Click = [this] { CmdScan_Click(); };
    CmdQuickUndelete.Click = [this] { CmdQuickUndelete_Click(); };
    CmdSaveAll.Click = [this] { CmdSaveAll_Click(); };
    CmdSaveAs.Click = [this] { CmdSaveAs_Click(); };
    CmdShowThumbs.Click = [this] { CmdShowThumbs_Click(); };
    CmdShowScanTypes.Click = [this] { CmdShowScanTypes_Click(); };
    CmdLearn.Click = [this] { CmdLearn_Click(); };
    CmdBackup.Click = [this] { CmdBackup_Click(); };
    CmdScanBackup.Click = [this] { CmdScanBackup_Click(); };
    CmdOpen.Click = [this] { CmdOpen_Click(); };
    CmdShowFolder.Click = [this] { CmdShowFolder_Click(); };
    CmdRenderWidth.Click = [this] { CmdRenderWidth_Click(); };
    CmdBrowse.Click = [this] { CmdBrowse_Click(); };
    CmdMaxSpeed.Click = [this] { CmdMaxSpeed_Click(); };
    CmdEnd.Click = [this] {
        if (!ShuttingDown)
            CmdEnd_Click();
    };

    // The close box never ends the program while an operation still runs or
    // once the shutdown has begun; the close request handler decides the rest.
    QueryUnload = [this](int &cancel, int mode) {
        if (ShuttingDown || !CanShutDown())
            cancel = 1;
        Form_QueryUnload(cancel, mode);
    };
}
