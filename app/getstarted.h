// The instructions of the Get Started panel, in the current language.
#pragma once

#include <QStringList>

// The twenty lines the panel prints: the title line (one blank, "Get
// Started", blanks to 79 characters, "Press Help for the manual."; at least
// one blank between the two when a translation is long), the instructions
// with their leads of one or three blanks, and the empty lines between them.
QStringList GetStartedLines();
