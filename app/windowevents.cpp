// The events of the window's lists, panels, option boxes and links, wired to
// their handlers once.
#include "app/frmrecover.h"

#include <QCheckBox>
#include <QWidget>
#include <utility>

namespace {
constexpr int kKeyA = 65;
}

void frmRecover::WireBehaviourEvents()
{
    // Each control's widget carries the control's name (tests and
    // accessibility tools find them by it).
    const std::pair<plat::Control *, const char *> named[] = {
        {this, "frmRecover"}, {&Picture1, "Picture1"}, {&Picture5, "Picture5"}, {&Picture7, "Picture7"},
        {&txtExif, "txtExif"}, {&List1, "List1"}, {&List2, "List2"}, {&List3, "List3"}, {&LvwFiles, "LvwFiles"},
        {&LvwTypes, "LvwTypes"}, {&CmbTypeSelect, "CmbTypeSelect"}, {&ListColors, "ListColors"},
        {&ListFilters, "ListFilters"}, {&Frame1, "Frame1"}, {&txtSpecs, "txtSpecs"}, {&lblSpecs, "lblSpecs"},
        {&lblAbout, "lblAbout"}, {&lblHelp, "lblHelp"}, {&CheckSpecs, "CheckSpecs"}, {&ProgressBar1, "ProgressBar1"},
        {&Picture3, "Picture3"}, {&lblStatus, "lblStatus"}, {&Picture4, "Picture4"}, {&Drive1, "Drive1"},
        {&ChkDeep, "ChkDeep"}, {&ChkDamaged, "ChkDamaged"}, {&CmdBackup, "CmdBackup"},
        {&CmdScanBackup, "CmdScanBackup"}, {&CmdQuickUndelete, "CmdQuickUndelete"}, {&CmdScan, "CmdScan"},
        {&CmdSaveAll, "CmdSaveAll"}, {&CmdSaveAs, "CmdSaveAs"}, {&CmdShowFolder, "CmdShowFolder"},
        {&CmdShowThumbs, "CmdShowThumbs"}, {&CmdLearn, "CmdLearn"}, {&CmdShowScanTypes, "CmdShowScanTypes"},
        {&CmdOpen, "CmdOpen"}, {&CmdRenderWidth, "CmdRenderWidth"}, {&TxtWidth, "TxtWidth"},
        {&CmdMaxSpeed, "CmdMaxSpeed"}, {&CmdBrowse, "CmdBrowse"}, {&CmdEnd, "CmdEnd"},
    };
    for (const auto &[control, name] : named)
        if (QWidget *w = control->widget())
            w->setObjectName(QLatin1String(name));

    Resize = [this] { Form_Resize(); };
    MouseDown = [this](int b, int s, double x, double y) { Form_MouseDown(b, s, x, y); };
    Frame1.MouseDown = [this](int b, int s, double x, double y) { Frame1_MouseDown(b, s, x, y); };
    lblSpecs.MouseDown = [this](int b, int s, double x, double y) { lblSpecs_MouseDown(b, s, x, y); };
    Picture4.MouseDown = [this](int b, int s, double x, double y) { Picture4_MouseDown(b, s, x, y); };
    Picture5.MouseDown = [this](int b, int s, double x, double y) { Picture5_MouseDown(b, s, x, y); };
    Picture1.MouseDown = [this](int b, int s, double x, double y) { Picture1_MouseDown(b, s, x, y); };
    lblAbout.Click = [this] { lblAbout_Click(); };
    lblHelp.Click = [this] { lblHelp_Click(); };

    CheckSpecs.Click = [this] { CheckSpecs_Click(); };
    ChkDeep.MouseDown = [this](int b, int s, double x, double y) { ChkDeep_MouseDown(b, s, x, y); };
    ChkDamaged.MouseDown = [this](int b, int s, double x, double y) { ChkDamaged_MouseDown(b, s, x, y); };
    // The option boxes answer the user's click (mouse or Space) only: the
    // scan sets them by code as its reads require.
    for (plat::CheckBox *box : {&ChkDeep, &ChkDamaged}) {
        if (auto *check = qobject_cast<QCheckBox *>(box->widget()))
            QObject::connect(check, &QCheckBox::clicked, widget(), [this, box] { OptionBox_UserClick(*box); });
    }
    ListFilters.LostFocus = [this] { ListFilters_LostFocus(); };
    ListFilters.MouseUp = [this](int b, int s, double x, double y) { ListFilters_MouseUp(b, s, x, y); };

    // The entry lists select all on the release of Ctrl+A, not the press.
    auto holdSelectAll = [](int &keyCode, int shift) {
        if (keyCode == kKeyA && shift == plat::vbCtrlMask)
            keyCode = 0;
    };
    List1.KeyDown = holdSelectAll;
    List2.KeyDown = holdSelectAll;
    List1.KeyUp = [this](int &k, int s) { List1_KeyUp(k, s); };
    List2.KeyUp = [this](int &k, int s) { List2_KeyUp(k, s); };
    // While the full picture window's picture is decoded, a press or a double
    // click on the lists gets "Still busy" (a selection the press moved is
    // not shown meanwhile: List3_Click, openFullPicture).
    const auto unlessDecoding = [this](auto handler) {
        return [this, handler](auto... args) {
            if (!RefuseWhileFullPictureDecodes())
                (this->*handler)(args...);
        };
    };
    List1.MouseDown = unlessDecoding(&frmRecover::List1_MouseDown);
    List2.MouseDown = unlessDecoding(&frmRecover::List2_MouseDown);
    List1.DblClick = unlessDecoding(&frmRecover::List1_DblClick);
    List2.DblClick = unlessDecoding(&frmRecover::List2_DblClick);

    List3.KeyDown = [this](int &k, int s) { List3_KeyDown(k, s); };
    List3.KeyUp = [this](int &k, int s) { List3_KeyUp(k, s); };
    List3.MouseDown = unlessDecoding(&frmRecover::List3_MouseDown);
    List3.DblClick = unlessDecoding(&frmRecover::List3_DblClick);

    LvwFiles.DblClick = unlessDecoding(&frmRecover::LvwFiles_DblClick);
    LvwFiles.ItemClick = [this](int item) { LvwFiles_ItemClick(item); };
    LvwFiles.KeyDown = [this](int &k, int s) { LvwFiles_KeyDown(k, s); };
    LvwFiles.KeyUp = [this](int &k, int s) { LvwFiles_KeyUp(k, s); };
    LvwFiles.MouseDown = unlessDecoding(&frmRecover::LvwFiles_MouseDown);
}
