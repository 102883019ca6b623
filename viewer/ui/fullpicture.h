// The full picture window: one picture as large as the screen allows, in a
// borderless window at the screen's top-left corner, with a small popup
// (hide the popup, close the window, save the screen copy as a bitmap). It
// is made on first use and kept (hidden) until the filter popup of the main
// window unloads it.
#pragma once

#include "platform/ui/controls.h"
#include "viewer/canvas.h"

#include <QString>

class FrmFullPicture : public plat::Form {
public:
    FrmFullPicture();

    plat::PictureBox Picture1{this};
    plat::ListBox List1{&Picture1};   // 0 Hide Me, 1 Close Full View, 2 Copy Screen

    QString ShownFileName;      // the file shown; the default name of a screen copy
    bool FilterOnFocus = false; // the chosen filter is applied when the picture gets the focus
    PictureCanvas Canvas;       // what Picture1 shows

    void Form_Load();
    void Form_Unload();
    void Picture1_GotFocus();
    void Picture1_KeyDown(int &keyCode, int shift);
    void Picture1_MouseDown(int button, int shift, double x, double y);
    void List1_MouseUp(int button, int shift, double x, double y);
    void List1_Click();
    void SetCaptions();

    // Empties the picture and draws the file into it at the window's full
    // size, turned by the orientation (0: the file's own). True when it drew.
    bool DrawPicture(const QString &file, int orientation);

private:
    bool filtered_ = false;     // the filter was applied to the picture shown
};

// The window when it is loaded; nullptr otherwise.
FrmFullPicture *FullPictureIfLoaded();
// The window, loaded (Form_Load) on first use.
FrmFullPicture &FullPictureWindow();
// Unloads the window: its picture emptied, the window gone.
void UnloadFullPicture();
