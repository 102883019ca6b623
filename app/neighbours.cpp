// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------

// --- application shell (result lists) ------------------------------------------------

// --- picture viewer -----------------------------------------------------------------
void frmRecover::RenderThumbnails() {}         // waits for the thumbnail grid
void frmRecover::UpdateThumbsCaption() {}      // waits for the thumbnail grid
int frmRecover::GetBitsPerPixel(plat::PictureBox &box)   // waits for the picture filters
{
    return box.Picture().isNull() ? 32 : box.Picture().depth();
}
void frmRecover::AddRandomNoise(plat::PictureBox &) {}   // waits for the picture filters
void frmRecover::CmdShowThumbs_Click() {}      // waits for the thumbnail grid
void frmRecover::CmdRenderWidth_Click() {}     // waits for the thumbnail grid
void frmRecover::CmdBrowse_Click() {}          // waits for Browse
void frmRecover::SetThumbIconSpacing(int) {}   // waits for the thumbnail grid
void frmRecover::List3_DblClick() {}           // waits for the found-file double click
void frmRecover::Picture1_MouseDown(int, int, double, double) {}   // waits for the preview pane mouse
bool frmRecover::DrawSystemThumbnail(PictureCanvas &, double, double, const QString &) { return false; }   // waits for the shell thumbnails
void frmRecover::SoftenPicture(PictureCanvas &) {}   // waits for the picture filters
void frmRecover::FindWhiteBand(PictureCanvas &) {}   // waits for the picture filters
void frmRecover::ApplyPictureFilter(PictureCanvas &, QString &) {}   // waits for the picture filters
