// The About box: the program's name, version and date, its description and
// disclaimer, and the commands to check for an update, to ask for support by
// mail, to copy the program data and to close. One box at a time, held by
// the program while it is open and released when it closes.
#pragma once

#include "app/startupchecks.h"
#include "platform/ui/controls.h"

#include <QString>

class frmAboutRecvr : public plat::Form {
public:
    frmAboutRecvr();
    ~frmAboutRecvr() override;

    plat::PictureBox picIcon{this};
    plat::Label lblTitle{this};
    plat::Label lblVersion{this};
    plat::Label lblDescription{this};
    plat::PictureBox Line1[2]{plat::PictureBox{this}, plat::PictureBox{this}};
    plat::Label lblDisclaimer{this};
    plat::Label Label6{this};   // the maker's line
    plat::CommandButton CmdCheckUpdate{this};
    plat::CommandButton Command1{this};   // support mail
    plat::CommandButton cmdSysInfo{this};
    plat::CommandButton CmdOK{this};

    void Form_Load();
    void Form_Activate();
    void LayoutAboutForm();
    void UpdateAboutButtons();
    void SetAboutCaptions();
    void CmdCheckUpdate_Click();
    // The support mail: with the program data when the user wants it, and
    // the program's last error.
    void Command1_Click();
    // The program data to the clipboard and in a box, then the system
    // information tool.
    void cmdSysInfo_Click();
    void StartSysInfo();
    QString GetProgramData();
    void CmdOK_Click();
    void Form_QueryUnload(int &cancel, int mode);
};

// "Version 5.2.3   revision #7   date:  2026-12-08": the major and minor
// numbers, the revision's first digit, the rest of the revision when it is
// not 0 (as written: 105 shows "revision #05"), and the date.
QString AboutVersionLine(const VersionNumbers &version, const QString &dateText);

// The box while it is loaded; nullptr otherwise. Never creates it.
frmAboutRecvr *AboutBoxIfLoaded();
// Unloads a loaded box, loads a new one, shows it without making it modal
// over the main window and brings it to the front.
void ShowAboutBox();
// Unloads the box when it is loaded.
void UnloadAboutBox();
// The box is open and shows its update button.
bool AboutUpdateButtonShown();
// About boxes that exist (the one loaded and any still being released).
int AboutBoxInstances();
