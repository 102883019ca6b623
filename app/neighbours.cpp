// Members of the main window whose subsystems are not built yet. Each body
// is empty (or gives the neutral answer) until its subsystem defines the
// member in its own folder and removes it from here.
#include "app/frmrecover.h"

// --- application shell ------------------------------------------------------

// --- signature scan engine ----------------------------------------------------

// --- recovered-file cache, saving and disk images -------------------------------
