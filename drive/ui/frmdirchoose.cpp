#include "drive/ui/frmdirchoose.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/dialogs.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

struct FolderEntry {
    QString name;
    bool folder = false;   // a real folder, not a link to one
    bool file = false;     // a regular file, or a link to one
};

std::vector<FolderEntry> entriesOf(const QString &native)
{
    std::vector<FolderEntry> out;
    DIR *d = native.isEmpty() ? nullptr : ::opendir(QFile::encodeName(native).constData());
    if (!d)
        return out;
    while (dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QByteArray full = QFile::encodeName(native + QLatin1Char('/') + name);
        struct stat st;
        if (::lstat(full.constData(), &st) != 0)
            continue;
        FolderEntry en{name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode)};
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            en.file = ::stat(full.constData(), &target) == 0 && S_ISREG(target.st_mode);
        }
        out.push_back(en);
    }
    ::closedir(d);
    return out;
}

QString withBackslash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
}

// The folder's normal files (neither hidden nor folders), as internal paths.
QStringList normalFilesOf(const QString &folder)
{
    QStringList files;
    for (const FolderEntry &e : entriesOf(plat::toNative(withBackslash(folder))))
        if (e.file && !e.name.startsWith(QLatin1Char('.')))
            files << withBackslash(folder) + e.name;
    return files;
}

bool folderIsEmpty(const QString &folder) { return entriesOf(plat::toNative(folder)).empty(); }

} // namespace

frmDirChoose::frmDirChoose()
    : Drive1(this), Dir1(this), TxtPath(this), CmdOK(this), CmdCancel(this), CmdCreate(this), CmdDelete(this),
      CmndExtend(this)
{
    Move(0, 0, 6300, 5400);
    Drive1.Move(120, 120, 3960, 315);
    Dir1.Move(120, 540, 3960, 3480);
    TxtPath.Move(120, 4140, 3960, 315);
    CmdOK.Move(4260, 120, 1800, 375);
    CmdCancel.Move(4260, 600, 1800, 375);
    CmdCreate.Move(4260, 1260, 1800, 375);
    CmdDelete.Move(4260, 1740, 1800, 375);
    CmndExtend.Move(4260, 2400, 1800, 375);
    CmdOK.setDefault(true);

    Drive1.Change = [this] { Drive1_Change(); };
    Drive1.GotFocus = [this] { Drive1_GotFocus(); };
    Drive1.KeyDown = [this](int &key, int shift) { Drive1_KeyDown(key, shift); };
    Dir1.Change = [this] { Dir1_Change(); };
    Dir1.KeyUp = [this](int &key, int shift) { Dir1_KeyUp(key, shift); };
    Dir1.MouseDown = [this](int button, int shift, double x, double y) { Dir1_MouseDown(button, shift, x, y); };
    GotFocus = [this] { Form_GotFocus(); };
    QueryUnload = [this](int &cancel, int mode) { Form_QueryUnload(cancel, mode); };
    CmdOK.Click = [this] { CmdOK_Click(); };
    CmdCancel.Click = [this] { CmdCancel_Click(); };
    CmdCreate.Click = [this] { CmdCreate_Click(); };
    CmdDelete.Click = [this] { CmdDelete_Click(); };
    CmndExtend.Click = [this] { CmndExtend_Click(); };

    Form_Load();
}

QString frmDirChoose::ownerText() const { return QString::number(hWnd()); }

void frmDirChoose::SetCaptions()
{
    setCaption(GetString(19, QStringLiteral(" Quilvane        Select a folder......")));
    CmndExtend.setCaption(GetString(20, QStringLiteral("Extend")));
    CmdDelete.setCaption(GetString(21, QStringLiteral("Delete")));
    TxtPath.setText(GetString(22, QStringLiteral("Path")));
    CmdCreate.setCaption(GetString(23, QStringLiteral("Create new")));
    CmdCancel.setCaption(GetString(24, QStringLiteral("Cancel")));
    CmdOK.setCaption(GetString(1573, QStringLiteral("OK")));
}

void frmDirChoose::SyncPathText()
{
    QString text = Dir1.List(Dir1.ListIndex()) + QLatin1Char('\\');
    if (!text.endsWith(QLatin1Char('\\')))
        text += QLatin1Char('\\');
    if (text.endsWith(QLatin1String("\\\\")))
        text.chop(1);
    TxtPath.setText(text);
}

void frmDirChoose::Form_Load()
{
    SetCaptions();
    QString &start = ChooserStartPath;
    if (!start.endsWith(QLatin1Char('\\')))
        start += QLatin1Char('\\');

    Drive1.Refresh();
    for (int i = 0; i < Drive1.ListCount(); ++i)
        if (!start.isEmpty() && Drive1.List(i).left(1).compare(start.left(1), Qt::CaseInsensitive) == 0)
            Drive1.setListIndex(i);

    if (FolderExists(start) || start.size() < 4) {
        Dir1.setPath(start);
        SyncPathText();
    } else {
        TxtPath.setText(start.left(2));
    }

    double left, top;
    if (auto place = ChooserPlacementNow()) {
        left = place->pictureWidth > Width() ? place->mainLeft + place->pictureWidth - Width() : place->mainLeft + 100;
        top = place->mainTop + place->pictureTop + 400;
    } else {
        left = (plat::screenWidthTwips() - Width()) / 2;
        top = (plat::screenHeightTwips() - Height()) / 2;
    }
    Move(left, top);
}

// The drive list shows the drive of the path without asking the folder list
// to follow.
void frmDirChoose::selectDriveQuietly(const QString &path)
{
    quietDrive_ = true;
    Drive1.setDrive(path);
    quietDrive_ = false;
}

void frmDirChoose::showDrive()
{
    const QString drive = Drive1.driveName();
    if (drive.isEmpty())
        return;
    if (IsDriveReady(drive) == true) {
        Dir1.setPath(drive + QLatin1Char('\\'));
        return;
    }
    MsgBoxTimed(ownerText(), FormatString(GetString(1406, QStringLiteral("Drive %0 not ready.")), {Drive1.Drive()}),
                0, GetString(408, QStringLiteral("Select drive")));
    // Back to the start folder's drive as well, or the list would keep the
    // drive that is not ready and ask again at its next focus.
    selectDriveQuietly(ChooserStartPath);
    Dir1.setPath(ChooserStartPath);
}

void frmDirChoose::Drive1_Change()
{
    if (!quietDrive_)
        showDrive();
}

void frmDirChoose::Drive1_GotFocus()
{
    // Only a drive other than the one shown needs the readiness test.
    const QString drive = Drive1.driveName();
    if (quietDrive_ || drive.isEmpty() || Dir1.Path().left(2).compare(drive, Qt::CaseInsensitive) == 0)
        return;
    showDrive();
}

void frmDirChoose::Drive1_KeyDown(int &keyCode, int shift)
{
    const QString drive = Drive1.driveName();
    if (!drive.isEmpty())
        Dir1.setPath(drive + QLatin1Char('\\'));
}

void frmDirChoose::Dir1_Change()
{
    SyncPathText();
    Dir1.setPath(TxtPath.Text());
    Dir1.Refresh();
}

void frmDirChoose::Dir1_KeyUp(int &keyCode, int shift) { SyncPathText(); }

void frmDirChoose::Dir1_MouseDown(int button, int shift, double x, double y)
{
    if (button != plat::vbLeftButton)
        return;
    TxtPath.setText(Dir1.List(Dir1.ListIndex()) + QLatin1Char('\\'));
    SyncPathText();
}

void frmDirChoose::Form_GotFocus()
{
    Dir1.setPath(ChosenPath);
    TxtPath.setText(Dir1.List(Dir1.ListIndex()) + QLatin1Char('\\'));
    SyncPathText();
}

void frmDirChoose::Form_QueryUnload(int &cancel, int unloadMode)
{
    // Closed by the user without OK or Cancel: that is a Cancel too, or the
    // caller would take the folder it offered for the user's choice.
    if (unloadMode == 0 && !answered_)
        ChosenPath = GetString(24, QStringLiteral("Cancel"));
}

void frmDirChoose::CmdOK_Click()
{
    TxtPath.setText(Dir1.List(Dir1.ListIndex()) + QLatin1Char('\\'));
    SyncPathText();
    ChosenPath = TxtPath.Text();
    answered_ = true;
    Unload();
}

void frmDirChoose::CmdCancel_Click()
{
    ChosenPath = GetString(24, QStringLiteral("Cancel"));
    answered_ = true;
    Unload();
}

bool frmDirChoose::ValidFolderName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")))
        return false;
    if (ReplaceInvalidFileChars(name) != name || name.contains(QLatin1Char('*')))
        return false;
    for (QChar c : name)
        if (c.unicode() < 32)
            return false;
    return true;
}

void frmDirChoose::CmdCreate_Click()
{
    const QString answer = ShowInputBox(GetString(208, QStringLiteral("Enter foldername:")),
                                        GetString(209, QStringLiteral("Create new (sub)folder")), QString(), hWnd())
                               .trimmed();
    if (answer.isEmpty())
        return;
    // Only a name, and only inside the folder shown.
    if (!ValidFolderName(answer)) {
        MsgBoxTimed(ownerText(), QLatin1Char('"') + answer + QLatin1Char('"') + kCrLf + kCrLf + QStringLiteral("Path is invalid"),
                    0, GetString(209, QStringLiteral("Create new (sub)folder")));
        return;
    }
    const QString base = Dir1.Path();
    if (base.isEmpty())
        return;
    const QString newPath = withBackslash(base) + answer;
    if (!FolderExists(newPath)) {
        const QString native = plat::toNative(newPath);
        if (!native.isEmpty())
            QDir().mkdir(native);
    }
    plat::pumpEvents();
    Dir1.Refresh();
    plat::pumpEvents();
    Dir1.setPath(newPath);
}

void frmDirChoose::CmndExtend_Click()
{
    const QString chosen = BrowseForFolder(1, Dir1.Path().left(2), 0, GetString(217, QStringLiteral("Extended Browse")));
    if (chosen.isEmpty())
        return;
    if (!Dir1.setPath(chosen))
        return;
    // The drive list follows; its change must not send the folder list back
    // to the drive's root.
    selectDriveQuietly(Dir1.Path());
    SyncPathText();
}

void frmDirChoose::CmdDelete_Click()
{
    const QString title = GetString(212, QStringLiteral("Delete Folder"));
    const QString path = TxtPath.Text();
    if (path.size() <= 4) {
        MsgBoxPositioned(hWnd(),
                         GetString(210, QStringLiteral("Cannot delete the root of disk ")) + path + kCrLf + kCrLf
                             + GetString(211, QStringLiteral("Please select a folder.")),
                         16, title);
        return;
    }
    const QString question = GetString(213, QStringLiteral("Do you really want to delete the folder")) + kCrLf + kCrLf
        + path + QString(9, QLatin1Char(' ')) + kCrLf + kCrLf + GetString(214, QStringLiteral("and all its contents?"));
    if (MsgBoxPositioned(hWnd(), question, 65, title) != plat::id::OK)
        return;

    for (const QString &file : normalFilesOf(path))
        RecycleFile(file);
    const QStringList left = normalFilesOf(path);
    // A folder of the cache goes with all it holds, under the cache's own
    // delete rules.
    DeleteCacheTree(path);
    // A folder that is empty now goes as well; one that still holds
    // something (protected or hidden files, sub-folders) stays and is shown.
    if (left.isEmpty() && FolderExists(path) && folderIsEmpty(path)) {
        const QString native = plat::toNative(path);
        if (!native.isEmpty())
            QDir().rmdir(native);
    }
    if (!left.isEmpty() || FolderExists(path)) {
        MsgBoxTimed(ownerText(), GetString(215, QStringLiteral("Folder with protected files: not deleted.")), 0,
                    GetString(216, QStringLiteral("Remove Folder")));
        Dir1.Refresh();
        selectEntry(path);
        return;
    }

    QString parent = path;
    while (parent.endsWith(QLatin1Char('\\')))
        parent.chop(1);
    parent = parent.left(parent.lastIndexOf(QLatin1Char('\\')) + 1);
    if (parent.size() < 2)
        parent = Dir1.Path().left(2);
    TxtPath.setText(parent);
    Dir1.setPath(TxtPath.Text());
    Dir1.Refresh();   // the list may still show the folder that went
    SyncPathText();
    if (FolderExists(TxtPath.Text())) {
        Dir1.setPath(TxtPath.Text());
        Dir1.Refresh();
    }
}

void frmDirChoose::selectEntry(const QString &path)
{
    QString wanted = path;
    while (wanted.endsWith(QLatin1Char('\\')) && wanted.size() > 3)
        wanted.chop(1);
    for (int i = -1; !Dir1.List(i).isEmpty(); --i)
        if (Dir1.List(i).compare(wanted, Qt::CaseInsensitive) == 0) {
            Dir1.setListIndex(i);
            return;
        }
    for (int i = 0; i < Dir1.ListCount(); ++i)
        if (Dir1.List(i).compare(wanted, Qt::CaseInsensitive) == 0) {
            Dir1.setListIndex(i);
            return;
        }
}

QString ChooseFolder(const QString &caption, plat::Form *owner)
{
    // A program that is closing chooses nothing: the chooser is cancelled.
    if (plat::closing()) {
        ChosenPath = GetString(24, QStringLiteral("Cancel"));
        return ChosenPath;
    }
    frmDirChoose chooser;
    if (!caption.isEmpty())
        chooser.setCaption(caption);
    const int listener = plat::addClosingListener([&chooser] { chooser.CmdCancel_Click(); });
    chooser.Show(1, owner);
    plat::removeClosingListener(listener);
    return ChosenPath;
}
