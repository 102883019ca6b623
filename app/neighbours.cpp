// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
void frmRecover::CmdSaveAll_Click() {}         // waits for Save All
void frmRecover::CmdSaveAs_Click() {}          // waits for Save Selected
void frmRecover::SaveUndeleteEntries(plat::ListBox &, int, bool, bool) {}   // waits for saving entries

// --- quick undelete ---------------------------------------------------------------
void frmRecover::List1_DblClick() {}           // waits for the entry list events
void frmRecover::List2_DblClick() {}           // waits for the entry list events
QString frmRecover::SelectedEntryFileName() const { return {}; }   // waits for the entry list events
void frmRecover::CmdQuickUndelete_Click() {}   // waits for Quick Undelete
void frmRecover::List2_Click() {}              // waits for the entry list events
void frmRecover::SearchDeletedEntries(const QString &) {}   // waits for the FAT walk and NTFS listing
void frmRecover::CheckDeletedChain(int) {}     // waits for the recoverable-size check
void frmRecover::CloseMft() {}                 // waits for the NTFS volume of quick undelete
