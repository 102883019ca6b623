// The dialog service: the common Open and Save dialogs and the folder
// browser, with internal (drive-letter) paths in and out.
//
// The real dialogs are QFileDialogs. Tests install a responder instead: it is
// handed every dialog the program would show and gives the answer.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace plat {

enum class DialogKind {
    Open,             // choose an existing file
    Save,             // choose a file name to write
    Folder,           // choose a folder
    FolderOrFile,     // choose a folder or a file
};

// Flags of the Open and Save dialogs, as the program passes them.
namespace ofn {
constexpr int ReadOnly = 0x1;
constexpr int OverwritePrompt = 0x2;
constexpr int HideReadOnly = 0x4;
constexpr int NoChangeDir = 0x8;
constexpr int AllowMultiSelect = 0x200;
constexpr int PathMustExist = 0x800;
constexpr int FileMustExist = 0x1000;
constexpr int CreatePrompt = 0x2000;
} // namespace ofn

struct DialogRequest {
    DialogKind kind = DialogKind::Open;
    QString title;
    int ownerHandle = 0;      // handleOf() of the owner window, 0 for none
    QString startFolder;      // internal path; empty: the dialog's own choice
    QString fileName;         // proposed file name (Open and Save)
    // Descriptions and patterns separated by "|", e.g.
    // "Pictures|*.jpg;*.png|All files|*.*"; empty: every file.
    QString filter;
    int filterIndex = 1;      // the pattern pair shown first, from 1
    QString defaultExtension; // added to a typed name without one (Save)
    int flags = 0;            // ofn:: flags, or the folder browser's flags
};

struct DialogAnswer {
    QString path;             // internal path; empty: cancelled
    int filterIndex = 1;      // the pattern pair in use when confirmed
};

// Shows the dialog (or hands it to the responder). Once the program is
// closing (plat::closing()) no dialog is shown and an open one is cancelled.
DialogAnswer showDialog(const DialogRequest &request);

// Tests: every dialog goes to the responder, which answers with an internal
// path (empty for Cancel).
using DialogResponder = std::function<DialogAnswer(const DialogRequest &)>;
void setDialogResponder(DialogResponder responder);   // empty: real dialogs
bool hasDialogResponder();

// A "|"-separated filter as Qt name filters ("Pictures (*.jpg *.png)").
QStringList nameFiltersOf(const QString &filter);

} // namespace plat
