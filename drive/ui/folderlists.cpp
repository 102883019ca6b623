#include "drive/ui/folderlists.h"

#include "platform/drives.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr int kEnter = 13;

// The folders directly inside a native folder: real folders only (no links),
// hidden ones (".name") left out, in case-insensitive order.
QStringList subfolderNames(const QString &native)
{
    QStringList names;
    DIR *d = ::opendir(QFile::encodeName(native).constData());
    if (!d)
        return names;
    while (dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name.startsWith(QLatin1Char('.')))
            continue;
        struct stat st;
        const QByteArray full = QFile::encodeName(native + QLatin1Char('/') + name);
        if (::lstat(full.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            names << name;
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool isFolderNative(const QString &native)
{
    struct stat st;
    return !native.isEmpty() && ::stat(QFile::encodeName(native).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString rootOf(QChar letter) { return QString(letter) + QStringLiteral(":\\"); }

} // namespace

// ---- DriveList -------------------------------------------------------------

DriveList::DriveList(plat::Control *container) : combo_(container, 2)
{
    combo_.Click = [this] { selectionMade(); };
    combo_.GotFocus = [this] { GotFocus(); };
    combo_.KeyDown = [this](int &key, int shift) { KeyDown(key, shift); };
}

void DriveList::Refresh()
{
    const QString before = driveName();
    combo_.Clear();
    shown_ = -1;
    int keep = -1;
    for (QChar letter : plat::logicalDrives()) {
        QString text = QString(letter.toLower()) + QLatin1Char(':');
        if (plat::isDriveReady(letter) == true) {
            if (auto info = plat::volumeInformation(letter); info && !info->label.trimmed().isEmpty())
                text += QStringLiteral(" [") + info->label.trimmed() + QLatin1Char(']');
        }
        combo_.AddItem(text);
        if (!before.isEmpty() && letter == before[0])
            keep = combo_.ListCount() - 1;
    }
    if (keep >= 0) {
        shown_ = keep;   // the same drive: no Change
        combo_.setListIndex(keep);
    }
}

void DriveList::setListIndex(int index) { combo_.setListIndex(index); }

bool DriveList::setDrive(const QString &drive)
{
    const QString d = drive.trimmed();
    if (d.isEmpty())
        return false;
    for (int i = 0; i < combo_.ListCount(); ++i) {
        if (combo_.List(i).left(1).compare(d.left(1), Qt::CaseInsensitive) == 0) {
            setListIndex(i);
            return true;
        }
    }
    return false;
}

QString DriveList::driveName() const
{
    const QString d = Drive();
    return d.size() >= 2 ? d.left(2).toUpper() : QString();
}

void DriveList::selectionMade()
{
    const int index = combo_.ListIndex();
    if (index == shown_)
        return;
    shown_ = index;
    Change();
}

// ---- DirListBox -----------------------------------------------------------------

DirListBox::DirListBox(plat::Control *container) : list_(container)
{
    list_.Click = [this] {
        if (!building_)
            Click();
    };
    list_.DblClick = [this] { open(ListIndex()); };
    list_.KeyDown = [this](int &key, int shift) {
        KeyDown(key, shift);
        if (key == kEnter)
            open(ListIndex());
    };
    list_.KeyUp = [this](int &key, int shift) { KeyUp(key, shift); };
    list_.GotFocus = [this] { GotFocus(); };
    // The press reaches the list before the list moves its selection; the
    // program wants to see the entry pressed, so the event follows the move.
    list_.MouseDown = [this](int button, int shift, double x, double y) {
        if (QWidget *w = list_.widget())
            QTimer::singleShot(0, w, [this, button, shift, x, y] { MouseDown(button, shift, x, y); });
    };
}

QString DirListBox::canonicalFolder(const QString &path)
{
    const QString p = path.trimmed();
    if (p.size() < 2 || p[1] != QLatin1Char(':') || !p[0].isLetter())
        return {};
    const QChar letter = p[0].toUpper();
    QString rest = p.mid(2);
    if (!rest.isEmpty() && rest[0] != QLatin1Char('\\'))
        return {};
    const QString native = plat::toNative(rootOf(letter) + rest.mid(1));
    const QString rootNative = plat::toNative(rootOf(letter));
    if (!isFolderNative(native) || rootNative.isEmpty())
        return {};
    const QString relative = QDir(QDir::cleanPath(rootNative)).relativeFilePath(QDir::cleanPath(native));
    if (relative.isEmpty() || relative == QLatin1String("."))
        return rootOf(letter);
    if (relative.startsWith(QLatin1String("..")))
        return {};
    QString internal = rootOf(letter) + relative;
    internal.replace(QLatin1Char('/'), QLatin1Char('\\'));
    while (internal.endsWith(QLatin1Char('\\')) && internal.size() > 3)
        internal.chop(1);
    return internal;
}

bool DirListBox::setPath(const QString &path)
{
    const QString folder = canonicalFolder(path);
    if (folder.isEmpty())
        return false;
    if (folder == path_)
        return true;
    path_ = folder;
    rebuild();
    Change();
    return true;
}

void DirListBox::Refresh()
{
    if (path_.isEmpty())
        return;
    if (canonicalFolder(path_).isEmpty()) {
        // The folder has gone: its nearest existing ancestor takes its place.
        QString up = path_;
        while (up.size() > 3 && canonicalFolder(up).isEmpty())
            up = up.left(std::max<qsizetype>(up.lastIndexOf(QLatin1Char('\\')), 3));
        const QString folder = canonicalFolder(up);
        path_ = folder;
        rebuild();
        if (!folder.isEmpty())
            Change();
        return;
    }
    rebuild();
}

QString DirListBox::List(int index) const
{
    if (index < 0) {
        const int k = ancestorCount() + index;
        return k >= 0 && k < ancestorCount() ? ancestors_[k] : QString();
    }
    return index < ListCount() ? subfolders_[index] : QString();
}

int DirListBox::ListIndex() const
{
    const int row = list_.ListIndex();
    return row < 0 ? -1 : row - ancestorCount();
}

void DirListBox::setListIndex(int index)
{
    const int row = index + ancestorCount();
    if (row >= 0 && row < list_.ListCount())
        list_.setListIndex(row);
}

void DirListBox::open(int index)
{
    const QString target = List(index);
    if (!target.isEmpty())
        setPath(target);
}

void DirListBox::rebuild()
{
    ++building_;
    ancestors_.clear();
    subfolders_.clear();
    list_.Clear();
    if (!path_.isEmpty()) {
        const QChar letter = path_[0];
        ancestors_ << rootOf(letter);
        const QStringList names = path_.mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        QString at = rootOf(letter);
        for (const QString &name : names) {
            at += (at.endsWith(QLatin1Char('\\')) ? QString() : QStringLiteral("\\")) + name;
            ancestors_ << at;
        }
        list_.AddItem(QString(letter.toLower()) + QStringLiteral(":\\"));
        for (int i = 0; i < names.size(); ++i)
            list_.AddItem(QString(2 * (i + 1), QLatin1Char(' ')) + names[i]);
        const QString indent(2 * (names.size() + 1), QLatin1Char(' '));
        const QString base = path_.endsWith(QLatin1Char('\\')) ? path_ : path_ + QLatin1Char('\\');
        for (const QString &name : subfolderNames(plat::toNative(path_))) {
            subfolders_ << base + name;
            list_.AddItem(indent + name);
        }
        list_.setListIndex(ancestorCount() - 1);   // the current folder
    }
    --building_;
}
