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
void frmRecover::CmdBackup_Click() {}          // waits for the disk image backup
void frmRecover::CmdScanBackup_Click() {}      // waits for Scan Backup
void frmRecover::CmdMaxSpeed_Click() {}        // waits for the read-speed test

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

// --- application shell (layout and result lists) ------------------------------------
void frmRecover::Form_Resize() {}              // waits for the window's layout
void frmRecover::RemoveRecoveredFile(int, bool, bool &removed) { removed = false; }   // waits for the result lists
void frmRecover::PrintGlowText(PictureCanvas &, const QString &, double, double, quint32, double) {}   // waits for the logo drawing
void frmRecover::DrawLogoPattern(PictureCanvas &, int, int, int, quint32 &) {}   // waits for the logo drawing
void frmRecover::CmdShowFolder_Click() {}      // waits for the smaller handlers (Explore)
void frmRecover::CmdOpen_Click() {}            // waits for the smaller handlers (Open With)
void frmRecover::SyncListSelections(int) {}    // waits for the list interactions
void frmRecover::ShowBrowsingStatus() {}       // waits for the list interactions
// Until the result lists exist: the current item drawn again.
void frmRecover::ApplyToSelectedItems() { List3_Click(); }
void frmRecover::OpenRecoveredFile(QString &) {}   // waits for the result lists
