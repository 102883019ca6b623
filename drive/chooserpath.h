// The program-wide folder texts of the folder chooser: the folder it offers
// first, which is also the save folder (setting LUD), and the folder chosen.
#pragma once

#include <QString>

// Set by callers before the chooser is shown; ends in "\".
extern QString ChooserStartPath;
// The chooser's answer; text 24 ("Cancel") in the current language means cancelled.
extern QString ChosenPath;
