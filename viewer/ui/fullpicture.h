// The full picture window: one picture as large as the screen allows, in a
// borderless window at the screen's top-left corner, with a small popup
// (hide the popup, close the window, save the screen copy as a bitmap). It
// is made on first use and kept (hidden) until the filter popup of the main
// window unloads it.
#pragma once

#include "platform/ui/controls.h"
#include "viewer/canvas.h"
#include "viewer/pictureops.h"

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

    // What DrawPicture decodes of the file: the picture at the size the
    // window shows it, within the full budget. It may be decoded on a worker
    // (DecodePicture) while the window's thread goes on.
    PictureDecodeRequest DecodeRequestFor(const QString &file, int orientation);
    // Empties the picture and draws the file into it at the window's full
    // size, turned by the orientation (0: the file's own): from `decoded`
    // (of DecodeRequestFor) when given, else decoded here. True when it drew.
    bool DrawPicture(const QString &file, int orientation, const DecodedPicture *decoded = nullptr);

private:
    DrawThumbnailCall pictureCall(const QString &file, int *orientation) const;

    bool filtered_ = false;     // the filter was applied to the picture shown
};

// Asks with the Save dialog where a picture copy goes: the proposed name in
// the folder, files of the kind (description, extension without its dot).
// The answer with its extension made the kind's: the file name cut at its
// last dot (never a folder's), the extension added; `asked` is the path the
// dialog returned. Empty when cancelled.
QString AskPictureTarget(int owner, const QString &title, QString folder, QString proposedName,
                         const QString &description, const QString &extension, int flags, QString *asked = nullptr);
// The target of a picture copy the user chose: never inside a cache folder
// (they are emptied by the program), never over an existing file without
// the user's yes. False, after saying why, when it must not be written.
bool ConfirmPictureTarget(int owner, const QString &target, const QString &title);

// The window when it is loaded; nullptr otherwise.
FrmFullPicture *FullPictureIfLoaded();
// The window, loaded (Form_Load) on first use.
FrmFullPicture &FullPictureWindow();
// Unloads the window: its picture emptied, the window gone.
void UnloadFullPicture();
