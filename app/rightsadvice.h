// The advice on restricted rights: without the right to read a device the
// program cannot scan it; the advice says how to get that right.
#pragma once

#include <QString>
#include <functional>

// Shows the advice when due (force -1: always; 0: only when the raw volume
// of the program folder's drive cannot be opened; otherwise unless it was
// answered No before). Yes ends the program: at once when no operation runs,
// else the operation is stopped and the window closes the normal way.
// True when the advice was shown.
bool ShowVistaAdvice(const QString &programFolder, int &force);

// A source the program may not read: the advice above (unless answered No
// before), else a box of its own with the same ways to get the right. The
// box is titled title (the program's name when empty).
void ShowNoRightsAdvice(const QString &source, const QString &title = QString());

// How the program ends at once (EndProcess, app/startup.h); tests replace
// it. Setting it also clears an earlier end request.
void SetProgramExitHook(std::function<void()> hook);   // empty: the default
