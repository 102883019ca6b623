// The file search window: files found by wildcard pattern on whole drives,
// one full (internal) path per line of List1, and the folder information
// (folders and files under a path). The learning and the scan start use it
// without showing it:
//
//   frmSearchDrives &search = SearchDrives();   // the program's window
//   search.Zoekfiles("*.jpg", "e");             // never asks anything
//   ... search.List1.ListCount(), search.List1.List(i) ...
//   UnloadSearchDrives();                       // the next use starts afresh
//
// The walk runs on the window's thread. It lets the window process its
// messages at every folder and every entry (through the yield hook, by
// default plat::pumpEvents), so Esc, the Stop command, Done and closing the
// window act during a search; each of them ends it. Only files are listed:
// folders, links to folders and special files never are. Folders reached
// through links and other file systems mounted inside a drive are not
// entered; hidden folders (".name") are skipped.
#pragma once

#include "platform/ui/controls.h"

#include <QPointer>
#include <QString>
#include <functional>

class QAction;
class QMenuBar;

// A command of the window's menu bar: a caption, an Enabled value of its own
// and a Click raised by the user or by code.
class MenuItem {
public:
    MenuItem(QMenuBar *bar, const QString &caption);
    ~MenuItem();
    MenuItem(const MenuItem &) = delete;
    MenuItem &operator=(const MenuItem &) = delete;

    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    plat::Event<> Click;

private:
    QPointer<QAction> action_;
    QString caption_;
    bool enabled_ = true;
};

class frmSearchDrives : public plat::Form {
    // Made first: the menu commands below are placed on it.
    QMenuBar *menuBar_ = nullptr;

public:
    frmSearchDrives();
    ~frmSearchDrives() override;

    static constexpr int kMaxHits = 32760;

    plat::ListBox List1;
    plat::PictureBox Picture1;
    plat::CommandButton Command1;
    plat::CommandButton Command3;
    MenuItem mnuFindFiles;
    MenuItem mnuFolderInfo;

    // Searches the pattern (tokens separated by blanks) on the drives named by
    // the letters (all drives when empty), without asking.
    void Zoekfiles(const QString &pattern, const QString &letters);
    // Only the drives named by the letters A to Z in the text are searched.
    void SetSearchDrives(const QString &letters);

    void mnuFindFiles_Click();
    void Command1_Click();
    void mnuFolderInfo_Click();
    void SearchFolderTree(const QString &folder);
    void FindInFolder(const QString &folder);
    void Command3_Click();
    void Form_KeyDown(int &keyCode, int shift);
    void Form_Load();
    void Form_Resize();
    void Form_Unload(int &cancel);
    void Form_QueryUnload(int &cancel, int unloadMode);

    // The state the handlers share.
    bool Running() const { return running_; }
    void setRunning(bool running) { running_ = running; }
    QString StripText() const { return stripText_; }
    QString ExcludedDrives() const { return excludedDrives_; }
    QString Pattern() const { return pattern_; }
    void setPattern(const QString &pattern) { pattern_ = pattern; }
    QString PreviousPattern() const { return previousPattern_; }
    int FolderCount() const { return folderCount_; }
    int FileCount() const { return fileCount_; }
    int HitCount() const { return hitCount_; }

    // The specification as the search reads it: "\" after a drive's colon,
    // no blanks after a "\", and drive roots written together taken apart.
    static QString NormalizeSpecification(const QString &spec);

    // Called at every folder and entry of a walk; by default plat::pumpEvents.
    // Tests count the calls or act in the middle of a search.
    void setYieldHook(std::function<void()> hook);

    // True once the window was released (Done, or closed): its program
    // reference is gone, and it is destroyed when no handler of it runs.
    bool Released() const { return released_; }

private:
    friend class SearchBusy;
    void yield();
    void setStrip(const QString &text);
    void scrollToEnd();
    void releaseProgramReference();
    void handlerLeft();

    QString pattern_;
    bool searchMode_ = false;
    int folderCount_ = 0;
    int fileCount_ = 0;
    bool running_ = false;
    int hitCount_ = 0;
    QString excludedDrives_;
    int stripHeight_ = 0;   // pixels
    QString previousPattern_;
    QString stripText_;
    std::function<void()> yieldHook_;
    int busy_ = 0;           // handlers of this window on the stack
    bool released_ = false;
    bool deleteWhenIdle_ = false;
};

// The program's search window, created on first use.
frmSearchDrives &SearchDrives();
// Whether the program holds a search window now.
bool SearchDrivesLoaded();
// Unloads the program's search window (if any): its list is cleared and its
// next use starts with a fresh window.
void UnloadSearchDrives();
