// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------
void frmRecover::RememberListIndex() {}        // waits for the found-file list selection
void frmRecover::SelectListItem() {}           // waits for the found-file list selection
void frmRecover::ShowBrowsingStatus() {}       // waits for the found-file list selection
void frmRecover::ShowGetStarted() {}           // waits for the Get Started panel
void frmRecover::ListColors_Click() {}         // waits for the colour schemes
void frmRecover::Form_Resize() {}              // waits for the main window layout
void frmRecover::DelProgramTrees() {}          // waits for the uninstall clean-up

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
void frmRecover::ResumeDamagedMediaRecovery() {}   // waits for the staged recovery
void frmRecover::ListDiskImages(QString &list) { list.clear(); }   // waits for the disk image indexes
void frmRecover::CmdSaveAll_Click() {}         // waits for Save All
void frmRecover::CmdSaveAs_Click() {}          // waits for Save Selected
void frmRecover::CmdBackup_Click() {}          // waits for the disk image backup
void frmRecover::CmdScanBackup_Click() {}      // waits for Scan Backup
void frmRecover::CmdMaxSpeed_Click() {}        // waits for the read-speed test

// --- quick undelete ---------------------------------------------------------------
void frmRecover::CmdQuickUndelete_Click() {}   // waits for Quick Undelete
void frmRecover::List2_Click() {}              // waits for the entry list events
void frmRecover::SearchDeletedEntries(const QString &) {}   // waits for the FAT walk and NTFS listing
void frmRecover::CheckDeletedChain(int) {}     // waits for the recoverable-size check
void frmRecover::CloseMft() {}                 // waits for the NTFS volume of quick undelete

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
void frmRecover::CmdShowFolder_Click() {}      // waits for the folder view
void frmRecover::CmdOpen_Click() {}            // waits for Open With
void frmRecover::CmdBrowse_Click() {}          // waits for Browse
void frmRecover::SetThumbIconSpacing(int) {}   // waits for the thumbnail grid
void frmRecover::FitThumbWidth(bool) {}        // waits for the thumbnail grid
std::optional<ExifQuickFacts> frmRecover::ReadExifQuick(const unsigned char *, size_t) { return std::nullopt; }   // waits for the EXIF reader
void frmRecover::RunRawPreview(const QString &) {}   // waits for the RAW converter
void frmRecover::DrawThumbnail(const QString &, plat::PictureBox &, int, int) {}   // waits for the picture operations
