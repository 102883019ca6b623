// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------
void frmRecover::Drive1_Change() {}            // waits for the drive change handler
void frmRecover::RefreshDriveList() {}         // waits for the drive list refresh and choice
void frmRecover::RememberListIndex() {}        // waits for the found-file list selection
void frmRecover::SelectListItem() {}           // waits for the found-file list selection
void frmRecover::ShowGetStarted() {}           // waits for the Get Started panel
void frmRecover::ListColors_Click() {}         // waits for the colour schemes
void frmRecover::Form_QueryUnload(int &, int) {}   // waits for the close request and shutdown
void frmRecover::CmdEnd_Click() {}             // waits for the End command and shutdown
void frmRecover::OpenRecoveredFile(QString &) {}   // waits for the result lists
void frmRecover::RemoveRecoveredFile(int32_t &, bool &, bool &removed) { removed = false; }   // waits for the result lists
void frmRecover::SyncListSelections(int) {}    // waits for the found-file list selection

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
void frmRecover::CmdBackup_Click() {}          // waits for the disk image backup
void frmRecover::CmdScanBackup_Click() {}      // waits for Scan Backup
void frmRecover::CmdMaxSpeed_Click() {}        // waits for the read-speed test

// --- quick undelete ---------------------------------------------------------------

// --- picture viewer -----------------------------------------------------------------
void frmRecover::List3_Click() {}              // waits for the preview pipeline
void frmRecover::CmdShowThumbs_Click() {}      // waits for the thumbnail grid
void frmRecover::CmdRenderWidth_Click() {}     // waits for the thumbnail grid
void frmRecover::CmdShowFolder_Click() {}      // waits for the folder view
void frmRecover::CmdOpen_Click() {}            // waits for Open With
void frmRecover::CmdBrowse_Click() {}          // waits for Browse
void frmRecover::SetThumbIconSpacing(int) {}   // waits for the thumbnail grid
void frmRecover::FitThumbWidth(bool) {}        // waits for the thumbnail grid
std::optional<ExifQuickFacts> frmRecover::ReadExifQuick(const unsigned char *, size_t) { return std::nullopt; }   // waits for the EXIF reader
void frmRecover::RunRawPreview(const QString &) {}   // waits for the RAW converter
bool frmRecover::DrawThumbnail(const QString &, plat::PictureBox &, int, int) { return false; }   // waits for the picture operations
bool frmRecover::MakeRawPreview(const QString &, const QString &) { return false; }   // waits for the RAW converter
bool frmRecover::HasShellThumbnailHandler(const QString &) { return false; }   // waits for the file-type thumbnails
bool frmRecover::DrawSystemThumbnail(const QString &, plat::PictureBox &) { return false; }   // waits for the shell thumbnails
void frmRecover::FindWhiteBand() {}            // waits for the picture filters
void frmRecover::ShowExifSummary() {}          // waits for the EXIF summary
void frmRecover::SetPopupText(int, const QString &) {}   // waits for the preview popup
void frmRecover::ResetPreviewRotation() {}     // waits for the picture operations and the popup
void frmRecover::SetShownFile(const QString &) {}   // waits for the preview pipeline
void frmRecover::UpdateThumbsCaption() {}      // waits for the thumbnail grid
void frmRecover::RenderThumbnails() {}         // waits for the thumbnail grid
