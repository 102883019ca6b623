// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------
void frmRecover::frmAboutRecvr_Show() {}       // waits for the About box
void frmRecover::StartupSystemChecks() {}      // waits for the start-up checks
void frmRecover::CheckVbRuntime() {}           // waits for the start-up checks
void frmRecover::RecordVersion() {}            // waits for the version record
void frmRecover::CheckForUpdate(bool) {}       // waits for the update check

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
void frmRecover::ResumeDamagedMediaRecovery() {}   // waits for the staged recovery
void frmRecover::ListDiskImages(QString &list) { list.clear(); }   // waits for the disk image indexes
void frmRecover::CmdBackup_Click() {}          // waits for the disk image backup
void frmRecover::CmdScanBackup_Click() {}      // waits for Scan Backup
void frmRecover::CmdMaxSpeed_Click() {}        // waits for the read-speed test

// --- picture viewer -----------------------------------------------------------------
void frmRecover::RenderThumbnails() {}         // waits for the thumbnail grid
void frmRecover::UpdateThumbsCaption() {}      // waits for the thumbnail grid
int frmRecover::GetBitsPerPixel(plat::PictureBox &box)   // waits for the picture filters
{
    return box.Picture().isNull() ? 32 : box.Picture().depth();
}
void frmRecover::AddRandomNoise(plat::PictureBox &) {}   // waits for the picture filters
void frmRecover::List3_Click() {}              // waits for the preview pipeline
void frmRecover::CmdShowThumbs_Click() {}      // waits for the thumbnail grid
void frmRecover::CmdRenderWidth_Click() {}     // waits for the thumbnail grid
void frmRecover::CmdBrowse_Click() {}          // waits for Browse
void frmRecover::SetThumbIconSpacing(int) {}   // waits for the thumbnail grid
void frmRecover::List3_DblClick() {}           // waits for the found-file double click
void frmRecover::Picture1_MouseDown(int, int, double, double) {}   // waits for the preview pane mouse
void frmRecover::ShowExifSummary() {}          // waits for the EXIF summary
void frmRecover::FitThumbWidth(bool) {}        // waits for the thumbnail grid
std::optional<ExifQuickFacts> frmRecover::ReadExifQuick(const unsigned char *, size_t) { return std::nullopt; }   // waits for the EXIF reader
void frmRecover::RunRawPreview(const QString &) {}   // waits for the RAW converter
bool frmRecover::DrawThumbnail(const QString &, plat::PictureBox &, int, int) { return false; }   // waits for the picture operations
bool frmRecover::MakeRawPreview(const QString &, const QString &) { return false; }   // waits for the RAW converter
bool frmRecover::HasShellThumbnailHandler(const QString &) { return false; }   // waits for the file-type thumbnails
bool frmRecover::DrawSystemThumbnail(const QString &, plat::PictureBox &) { return false; }   // waits for the shell thumbnails
void frmRecover::FindWhiteBand() {}            // waits for the picture filters
void frmRecover::SetPopupText(int, const QString &) {}   // waits for the preview popup
void frmRecover::ResetPreviewRotation() {}     // waits for the picture operations and the popup
void frmRecover::SetShownFile(const QString &) {}   // waits for the preview pipeline
