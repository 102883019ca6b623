// The questions and the progress of the shell's file operations, shown with
// the program's message boxes. Installed once at start-up.
#pragma once

void InstallFileOperationUi();
