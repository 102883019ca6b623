// The drive list and the folder list of the folder chooser, on the list
// controls of the control layer, with the behaviour the chooser's code
// relies on. Paths are internal (drive-letter form).
//
// DriveList: one entry per drive of the drive table, "e: [LABEL]" (the
// label only when the drive is ready and has one). Drive is the selected
// entry's text; a change of the selection, by the user or by code, raises
// Change.
//
// DirListBox: the folder tree of its Path: the root, each ancestor and the
// current folder, indented, then the current folder's sub-folders in
// case-insensitive order (hidden ones, starting with ".", and links left
// out). Indices as the program counts them: the current folder is -1, its
// parent -2 and so on up to the root; the sub-folders are 0 to ListCount - 1.
// List(i) is the full path of entry i (a root as "E:\", other folders without
// a trailing "\"). Setting Path to another existing folder raises Change;
// setting it to the folder it shows, or to a folder that does not exist,
// changes nothing (the latter reports false). A double click or Enter on an
// entry opens it.
#pragma once

#include "platform/ui/controls.h"

#include <QString>
#include <QStringList>

class DriveList {
public:
    explicit DriveList(plat::Control *container);

    plat::ComboBox &combo() { return combo_; }
    void Move(double left, double top, double width, double height) { combo_.Move(left, top, width, height); }

    // Reads the drive table again; the selection stays on its drive when that
    // drive is still there (no Change).
    void Refresh();
    int ListCount() const { return combo_.ListCount(); }
    QString List(int index) const { return combo_.List(index); }
    int ListIndex() const { return combo_.ListIndex(); }
    // Selects the entry; raises Change when the selected drive changes.
    void setListIndex(int index);
    // The selected entry's text ("e: [LABEL]"), empty for none.
    QString Drive() const { return combo_.Text(); }
    // Selects the entry of the drive named by the first character of the text;
    // false when there is none.
    bool setDrive(const QString &drive);
    // The selected drive as "E:", empty for none.
    QString driveName() const;

    plat::Event<> Change;
    plat::Event<> GotFocus;
    plat::Event<int &, int> KeyDown;

private:
    void selectionMade();
    plat::ComboBox combo_;
    int shown_ = -1;   // the entry Change was last raised (or set) for
};

class DirListBox {
public:
    explicit DirListBox(plat::Control *container);

    plat::ListBox &list() { return list_; }
    void Move(double left, double top, double width, double height) { list_.Move(left, top, width, height); }

    QString Path() const { return path_; }
    // True when the folder is now shown (also when it already was).
    bool setPath(const QString &path);
    // Lists the folder again from the disk; a folder that has gone gives way
    // to its nearest existing ancestor (raising Change).
    void Refresh();

    int ListCount() const { return int(subfolders_.size()); }
    QString List(int index) const;
    int ListIndex() const;
    void setListIndex(int index);

    // The canonical form of a folder path: the letter in upper case, the
    // names with their case on the disk, a root as "E:\", other folders
    // without a trailing "\". Empty when the folder does not exist.
    static QString canonicalFolder(const QString &path);

    plat::Event<> Change;
    plat::Event<> Click;
    plat::Event<int &, int> KeyDown;
    plat::Event<int &, int> KeyUp;
    // Raised once the press has moved the selection.
    plat::Event<int, int, double, double> MouseDown;
    plat::Event<> GotFocus;

private:
    void rebuild();
    void open(int index);
    int ancestorCount() const { return int(ancestors_.size()); }

    plat::ListBox list_;
    QString path_;
    QStringList ancestors_;    // root first, the current folder last
    QStringList subfolders_;   // full paths
    int building_ = 0;
};
