// What the folder chooser shares with the rest of the program: the start
// folder and the answer (program-wide texts), where the chooser stands, and
// the one-line input box that the chooser and the file search ask with.
#pragma once

#include "drive/chooserpath.h"

#include <QString>
#include <functional>
#include <optional>

// True when the answer means "cancelled" (string 24 in the current language).
bool ChooserCancelled(const QString &answer);

// Where the chooser is placed: the main window's Left and Top and its picture
// view's Width and Top, all in twips. The main window installs the source;
// without one (or when it answers nothing) the chooser stands centred on the
// screen.
struct ChooserPlacement {
    double mainLeft = 0;
    double mainTop = 0;
    double pictureWidth = 0;
    double pictureTop = 0;
};
using ChooserPlacementSource = std::function<std::optional<ChooserPlacement>()>;
void SetChooserPlacementSource(ChooserPlacementSource source);   // empty: centred
std::optional<ChooserPlacement> ChooserPlacementNow();

// The input box: a prompt (CR LF line breaks), a title and a default answer.
// Returns the text entered, or an empty text when the user cancels or the
// program is closing.
struct InputBoxRequest {
    QString prompt;
    QString title;
    QString defaultText;
    int ownerHandle = 0;   // plat::handleOf() of the owner window, 0 for none
};
QString ShowInputBox(const QString &prompt, const QString &title, const QString &defaultText = {},
                     int ownerHandle = 0);
// Tests: every input box goes to the responder, which gives the answer.
using InputBoxResponder = std::function<QString(const InputBoxRequest &)>;
void SetInputBoxResponder(InputBoxResponder responder);   // empty: the real box
bool HasInputBoxResponder();
