// Files and folders for the whole program: existence tests, listing and
// counting the files of a folder tree, the temporary and system folders,
// path and file-name clean-up, file dates, and the shell's file operations
// (delete, recycle, move, copy, the Properties dialog). Paths are internal
// (drive-letter form); nothing here shows a message.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// --- listing and tests -------------------------------------------------------

// True exactly when the path (with or without a trailing "\") names a folder
// that can be listed; false for a file, a missing path or a drive without
// files.
bool FolderExists(const QString &path);

// A search for the path finds a file that is neither hidden nor a folder.
// The last component may hold the wildcards "*" and "?"; a path ending in "\"
// asks whether the folder holds such a file. Names beginning with "." are
// hidden for a wildcard search; a file named exactly is found. False, never
// an error, for a drive that is not ready.
bool FileExists(const QString &path);

// The number of files directly in the folder (hidden ones included); 0 when
// the folder does not exist.
int CountFolderFiles(const QString &folder);

// Appends the full path of every file of the folder and of all its
// sub-folders: the folder's own files first, then each sub-folder (depth
// first), names in case-insensitive order. The list keeps one empty last
// element: each path is written into the last element and an empty one is
// added (an empty list is given that element first). Folders reached through
// symbolic links and other file systems mounted inside the tree are not
// entered. A folder that cannot be listed adds nothing.
void ListFolderFiles(const QString &folder, QStringList &list);
// The recursive half: for each sub-folder, its files, then its sub-folders.
// Lets pending input be processed between sub-folders.
void ListSubfolderFiles(const QString &folder, QStringList &list);

// The first listed path below the folder that contains the text without
// regard to case; an empty text matches the first path; empty when none.
// The walk stops at the first match and lets pending input be processed
// between sub-folders.
QString FindFileInTree(const QString &folder, const QString &text);

// --- paths and names -----------------------------------------------------------

// The program's private temporary folder (created, mode 0700), ending in "\".
QString GetTempFolder();
// The folder of the system's libraries, without a trailing "\".
QString GetSystemFolder();
// Trimmed of blanks, then without one trailing "\".
QString StripTrailingBackslash(const QString &path);
// Linux file systems give no short (8.3) names: the path unchanged.
QString ShortPath(const QString &path);
// Each of \ / : ? " < > | replaced by "-"; the asterisk stays.
QString ReplaceInvalidFileChars(const QString &text);
// The text up to its first blank cleaned with ReplaceInvalidFileChars, the
// rest unchanged; the whole trimmed.
QString MakeValidFileName(const QString &text);

// --- dates ---------------------------------------------------------------------

struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;   // Sunday = 0
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// "yyyy-mm-dd hh:nn:ss" (day of week and milliseconds ignored).
QString SystemTimeToText(const SystemTime &t);
// A file time (100 ns units since 1601, UTC) as a local date and time, to the
// second.
QDateTime FileTimeToDate(uint32_t low, uint32_t high);
// The file's last-write time as "yyyy-mm-dd hh:nn:ss", local; empty when the
// file cannot be dated.
QString GetFileModifiedText(const QString &path);
// Moves a file's last-write time back to the given local date ("yyyy-mm-dd
// hh:nn:ss", ISO forms or the locale's date forms). Acts only when the file
// exists and the date lies in an earlier minute than the file's; true only
// when the time was set. The access time is left as it is; Linux offers no
// way to set a file's creation time.
bool SetFileDates(const QString &path, const QString &dateText);

// --- the shell's file operations -----------------------------------------------

enum ShellFileOp { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3 };
enum ShellFileOpFlags {
    FOF_SILENT = 0x4,
    FOF_NOCONFIRMATION = 0x10,
    FOF_ALLOWUNDO = 0x40,
    FOF_FILESONLY = 0x80,
    FOF_SIMPLEPROGRESS = 0x100,
};

// The file operation: sources separated by NUL characters, each may end in a
// wildcard name (with FOF_FILESONLY a wildcard names files only). Move and
// copy go into the target when it is an existing folder, ends in "\" or the
// sources are several; otherwise the target is the new path. An existing
// target file is replaced only after the new copy is complete. Returns 0 on
// success, else an error code (1223 when the user cancelled).
int ShellFileOperation(int operation, const QString &sources, const QString &target, int flags);

// Removal "to the recycle bin" uses the desktop's trash only for files on the
// file system of the user's home folder; a file on a removable drive or on
// any other volume is never trashed there, because its trash would be written
// onto that medium. Such a removal deletes permanently (as on Windows for
// removable media), or fails when set so.
enum class TrashFallback { Delete, Fail };
void SetTrashFallback(TrashFallback fallback);
TrashFallback trashFallback();

// The questions and the progress of the file operations, given by the user
// interface. Unset questions answer yes (as the shell does with its
// questions switched off); an unset progress shows nothing.
struct FileOperationUi {
    // Before a deletion that asks: the operation's items; false cancels.
    std::function<bool(const QStringList &items, bool toTrash)> confirmDelete;
    // Before replacing an existing target of a move or copy that asks.
    std::function<bool(const QString &existingTarget)> confirmReplace;
    // The simple progress: items done, items in all, the current item;
    // false cancels.
    std::function<bool(int done, int total, const QString &current)> progress;
};
void SetFileOperationUi(const FileOperationUi &ui);

// Deletes what the text names (wildcards allowed), files only, silently; to
// the recycle bin when asked; asks first when confirm is true.
bool DeleteFiles(const QString &files, bool toRecycleBin, bool confirm);
// Deletes a whole folder; refused (false) for paths of 4 characters or
// fewer, drive roots, mount points, the home folder and the system's top
// folders.
bool DeleteFolder(const QString &folder, bool toRecycleBin, bool confirm);
// Into the recycle bin without question or progress (paths longer than 4
// characters).
bool RecycleFile(const QString &path);
// Into the desktop's trash only: when the trash cannot take the file (it lies
// on a removable or other volume, or the trash refuses), the file stays where
// it is and the result is false, whatever SetTrashFallback says.
bool TrashFile(const QString &path);
// Move with the simple progress; silently when the target contains
// "\RIVozud"; silently and without questions when silent is true.
bool MoveFiles(const QString &source, const QString &target, bool silent);
// Copy with the simple progress (sources longer than 4 characters).
bool CopyFiles(const QString &source, const QString &target);

// Asks the desktop's file manager to show the file's properties; nothing
// happens for a missing file.
void ShowFileProperties(const QString &path);
