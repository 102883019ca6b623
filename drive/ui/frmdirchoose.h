// The program's own folder chooser: a drive list, a folder list and the path
// text, with OK, Cancel, Create new, Delete and Extend (the desktop's folder
// browser).
//
// How a caller uses it:
//   ChooserStartPath = folder;             // read when the window loads
//   ChosenPath = folder;
//   frmDirChoose chooser;                  // loads: captions, start folder, place
//   chooser.setCaption(request);           // after loading, over text 19
//   chooser.Show(1, owner);                // modal
//   if (ChooserCancelled(ChosenPath)) ... else the folder, ending in "\".
// ChooseFolder() does these steps in one call.
#pragma once

#include "drive/ui/chooser.h"
#include "drive/ui/folderlists.h"
#include "platform/ui/controls.h"

class frmDirChoose : public plat::Form {
public:
    // Loads the window (Form_Load): ChooserStartPath must be set before.
    frmDirChoose();

    DriveList Drive1;
    DirListBox Dir1;
    plat::TextBox TxtPath;
    plat::CommandButton CmdOK;
    plat::CommandButton CmdCancel;
    plat::CommandButton CmdCreate;
    plat::CommandButton CmdDelete;
    plat::CommandButton CmndExtend;

    void SetCaptions();
    void SyncPathText();

    void Form_Load();
    void Drive1_Change();
    void Drive1_GotFocus();
    void Drive1_KeyDown(int &keyCode, int shift);
    void Dir1_Change();
    void Dir1_KeyUp(int &keyCode, int shift);
    void Dir1_MouseDown(int button, int shift, double x, double y);
    void Form_GotFocus();
    void Form_QueryUnload(int &cancel, int unloadMode);
    void CmdOK_Click();
    void CmdCancel_Click();
    void CmdCreate_Click();
    void CmndExtend_Click();
    void CmdDelete_Click();

    // The folder-name test of Create new: no separators, no "..", none of
    // the characters a file name cannot hold.
    static bool ValidFolderName(const QString &name);

private:
    void selectDriveQuietly(const QString &path);
    void showDrive();
    void selectEntry(const QString &path);
    QString ownerText() const;
    bool quietDrive_ = false;
    bool answered_ = false;
};

// Shows the chooser modally over the owner with the caption (text 19 when
// empty), starting at ChooserStartPath; returns ChosenPath afterwards. Once
// the program is closing the chooser is cancelled (text 24).
QString ChooseFolder(const QString &caption, plat::Form *owner = nullptr);
