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

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
void frmRecover::CmdSaveAll_Click() {}         // waits for Save All
void frmRecover::CmdSaveAs_Click() {}          // waits for Save Selected

// --- quick undelete ---------------------------------------------------------------
void frmRecover::CmdQuickUndelete_Click() {}   // waits for Quick Undelete
void frmRecover::List2_Click() {}              // waits for the entry list events
int frmRecover::DeletedEntriesUpperBound() const { return 0; }   // waits for the entry list
std::vector<ScanDeletedEntry> frmRecover::DeletedEntriesForScan() const { return {}; }   // waits for the entry list
void frmRecover::SearchDeletedEntries(const QString &) {}   // waits for the FAT walk and NTFS listing
void frmRecover::ResetDeletedEntries() {}      // waits for the entry list
void frmRecover::SortDeletedEntries() {}       // waits for the entry list
void frmRecover::CheckDeletedChain(int) {}     // waits for the recoverable-size check
void frmRecover::CloseMft() {}                 // waits for the NTFS volume of quick undelete
void frmRecover::LoadDeletedEntriesFromIndex(const QByteArray &, int) {}   // waits for the entry records

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
void frmRecover::DrawThumbnail(const QString &, plat::PictureBox &, int, int) {}   // waits for the picture operations
