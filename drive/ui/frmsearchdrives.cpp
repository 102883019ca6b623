#include "drive/ui/frmsearchdrives.h"

#include "drive/files.h"
#include "drive/ui/chooser.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace {

frmSearchDrives *&programWindow()
{
    static frmSearchDrives *window = nullptr;
    return window;
}

const QString kCrLf = QStringLiteral("\r\n");
constexpr int kEscape = 27;
constexpr int kHourglass = 11;

struct WalkEntry {
    QString name;
    bool folder = false;       // a real folder
    bool folderLink = false;   // a link to a folder
    bool file = false;         // a regular file, or a link to one
    dev_t dev = 0;
};

QMenuBar *makeMenuBar(plat::Form *form) { return new QMenuBar(form->widget()); }

// The letters that name drives in the part of a typed token before its last
// "\": each letter standing before a ":"; a part without any colon names a
// drive with every letter in it.
QString drivesOfPart(const QString &part)
{
    QString letters;
    for (int i = 0; i + 1 < part.size(); ++i)
        if (part[i + 1] == QLatin1Char(':') && part[i].isLetter())
            letters += part[i];
    return letters.isEmpty() ? part : letters;
}

} // namespace

// Counts the handlers of a window on the stack; a released window is
// destroyed only after the last of them has returned.
class SearchBusy {
public:
    explicit SearchBusy(frmSearchDrives *window) : window_(window) { ++window_->busy_; }
    ~SearchBusy()
    {
        if (--window_->busy_ == 0)
            window_->handlerLeft();
    }
    SearchBusy(const SearchBusy &) = delete;
    SearchBusy &operator=(const SearchBusy &) = delete;

private:
    frmSearchDrives *window_;
};

// ---- MenuItem -------------------------------------------------------------------

MenuItem::MenuItem(QMenuBar *bar, const QString &caption) : caption_(caption)
{
    if (!bar)
        return;
    action_ = bar->addAction(caption);
    QObject::connect(action_, &QAction::triggered, action_, [this] { Click(); });
}

MenuItem::~MenuItem()
{
    if (action_)
        QObject::disconnect(action_, nullptr, nullptr, nullptr);
}

void MenuItem::setCaption(const QString &caption)
{
    caption_ = caption;
    if (action_)
        action_->setText(caption);
}

void MenuItem::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (action_)
        action_->setEnabled(enabled);
}

// ---- the window ----------------------------------------------------------------------

frmSearchDrives::frmSearchDrives()
    : menuBar_(makeMenuBar(this)), List1(this), Picture1(this), Command1(this, QStringLiteral("Search Files")),
      Command3(this, QStringLiteral("Done")), mnuFindFiles(menuBar_, QStringLiteral("Find File(s)...")),
      mnuFolderInfo(menuBar_, QStringLiteral("Folder &Info..."))
{
    setCaption(QStringLiteral("Quilvane  Search"));
    Move(0, 0, 9600, 6600);
    Picture1.Move(0, 5400, 9600, 390);
    Picture1.setBorderStyle(0);
    Command1.Move(0, 0, 1260, 300);
    Command3.Move(0, 0, 1260, 300);

    Picture1.Paint = [this](QPainter &painter) {
        if (QWidget *w = Picture1.widget())
            painter.drawText(w->rect().adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, stripText_);
    };
    mnuFindFiles.Click = [this] { mnuFindFiles_Click(); };
    mnuFolderInfo.Click = [this] { mnuFolderInfo_Click(); };
    Command1.Click = [this] { Command1_Click(); };
    Command3.Click = [this] { Command3_Click(); };
    // Esc reaches the window from whichever of its controls has the focus.
    auto key = [this](int &keyCode, int shift) { Form_KeyDown(keyCode, shift); };
    KeyDown = key;
    List1.KeyDown = key;
    Command1.KeyDown = key;
    Command3.KeyDown = key;
    Resize = [this] { Form_Resize(); };
    UnloadEvent = [this](int &cancel) { Form_Unload(cancel); };
    QueryUnload = [this](int &cancel, int mode) { Form_QueryUnload(cancel, mode); };

    Form_Load();
}

frmSearchDrives::~frmSearchDrives()
{
    if (programWindow() == this)
        programWindow() = nullptr;
}

void frmSearchDrives::setYieldHook(std::function<void()> hook) { yieldHook_ = std::move(hook); }

void frmSearchDrives::yield()
{
    if (yieldHook_) {
        auto hook = yieldHook_;
        hook();
    } else {
        plat::pumpEvents();
    }
}

void frmSearchDrives::setStrip(const QString &text)
{
    stripText_ = text;
    Picture1.Refresh();
}

void frmSearchDrives::scrollToEnd()
{
    auto *list = qobject_cast<QListWidget *>(List1.widget());
    if (!list || list->count() == 0)
        return;
    list->setUpdatesEnabled(false);
    list->scrollToBottom();
    list->setUpdatesEnabled(true);
}

void frmSearchDrives::releaseProgramReference()
{
    running_ = false;
    released_ = true;
    if (programWindow() != this)
        return;
    programWindow() = nullptr;
    deleteWhenIdle_ = true;
    if (busy_ == 0)
        handlerLeft();
}

void frmSearchDrives::handlerLeft()
{
    if (!deleteWhenIdle_)
        return;
    deleteWhenIdle_ = false;
    // Not now: the code that called the handler may still touch the window
    // on its way out.
    frmSearchDrives *self = this;
    QTimer::singleShot(0, qApp, [self] { delete self; });
}

void frmSearchDrives::Form_Load()
{
    stripHeight_ = plat::twipsToPixels(Picture1.Height());
    Move((plat::screenWidthTwips() - Width()) * 0.5, (plat::screenHeightTwips() - Height()) * 0.25);
    Form_Resize();
}

void frmSearchDrives::Form_Resize()
{
    const int width = plat::twipsToPixels(ScaleWidth());
    int height = plat::twipsToPixels(ScaleHeight());
    int menu = 0;
    if (menuBar_) {
        menu = menuBar_->sizeHint().height();
        menuBar_->setGeometry(0, 0, width, menu);
    }
    height = std::max(0, height - menu);
    auto tw = [](int pixels) { return double(plat::pixelsToTwips(pixels)); };
    List1.Move(0, tw(menu), tw(width), tw(std::max(0, height - stripHeight_)));
    Picture1.Move(0, tw(menu + std::max(0, height - stripHeight_)), tw(width), tw(stripHeight_));
    Command1.Move(tw(width - 182), tw(menu + height - 22));
    Command3.Move(tw(width - 94), tw(menu + height - 22));
}

void frmSearchDrives::SetSearchDrives(const QString &letters)
{
    QStringList chosen;
    for (QChar c : letters.toUpper())
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            chosen << QString(c) + QStringLiteral(":\\");
    // Every drive the search walks can be excluded, whatever its type.
    QString rest;
    for (QChar letter : plat::logicalDrives()) {
        const QString root = QString(letter) + QStringLiteral(":\\");
        if (!chosen.contains(root))
            rest += root;
    }
    excludedDrives_ = rest;
}

void frmSearchDrives::Zoekfiles(const QString &pattern, const QString &letters)
{
    SearchBusy busy(this);
    if (!letters.isEmpty())
        SetSearchDrives(letters);
    // Letters that name every drive leave nothing excluded: that must not
    // read as a search started by the user, who would be asked.
    if (letters.isEmpty() || excludedDrives_.isEmpty())
        excludedDrives_ = QStringLiteral(" ");
    pattern_ = pattern;
    mnuFindFiles_Click();
    excludedDrives_.clear();
}

QString frmSearchDrives::NormalizeSpecification(const QString &spec)
{
    QString s = spec;
    int i = 0;
    while (i < s.size() - 1) {
        if (s[i] == QLatin1Char(':') && s[i + 1] != QLatin1Char('\\'))
            s.insert(i + 1, QLatin1Char('\\'));
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size() && s[i + 1] == QLatin1Char(' ')) {
            s.remove(i + 1, 1);
            continue;   // the same place again
        }
        if (i >= 5 && s[i] == QLatin1Char(':') && s[i - 3] != QLatin1Char(':') && s[i - 2] != QLatin1Char(' ')) {
            s.insert(i - 1, QLatin1Char(' '));
            ++i;   // the colon moved one on
        }
        ++i;
    }
    return s;
}

void frmSearchDrives::Command1_Click() { mnuFindFiles_Click(); }

void frmSearchDrives::mnuFindFiles_Click()
{
    SearchBusy busy(this);
    if (running_) {
        running_ = false;
        Command1.setCaption(QStringLiteral("Search"));
        return;
    }
    if (excludedDrives_.isEmpty()) {
        const QString prompt = kCrLf + QStringLiteral("Extensive search. Default on all drives.") + kCrLf + kCrLf
            + QStringLiteral("Wildcards * and ? can be used.") + kCrLf + QStringLiteral("Enter a search specification:");
        pattern_ = ShowInputBox(prompt, QStringLiteral("Parlow Find File(s)"), previousPattern_, hWnd()).trimmed().toLower();
        if (pattern_.isEmpty()) {
            Command3_Click();
            return;
        }
    }
    const QString typed = pattern_.trimmed();
    const QString spec = NormalizeSpecification(pattern_);
    List1.Clear();
    hitCount_ = 0;

    QString rest = spec.trimmed() + QLatin1Char(' ');
    bool stopped = false;
    while (!rest.trimmed().isEmpty() && !stopped && !released_) {
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        const QString token = blank < 0 ? rest : rest.left(blank + 1);
        rest = blank < 0 ? QString() : rest.mid(blank + 1).trimmed();
        if (token.contains(QLatin1Char('\\'))) {
            const qsizetype last = token.lastIndexOf(QLatin1Char('\\'));
            SetSearchDrives(drivesOfPart(token.left(last + 1)));
            pattern_ = token.mid(last + 1).trimmed();
        } else {
            pattern_ = token.trimmed();
        }
        if (pattern_.isEmpty())
            continue;   // a bare drive names no file

        Command1.setCaption(QStringLiteral("Stop"));
        setMousePointer(kHourglass);
        running_ = true;
        searchMode_ = true;
        mnuFindFiles.setCaption(QStringLiteral("&Stop!"));
        mnuFolderInfo.setEnabled(false);

        quint32 mask = 0;
        for (QChar letter : plat::logicalDrives())
            if (letter >= QLatin1Char('A') && letter <= QLatin1Char('Z'))
                mask |= 1u << (letter.unicode() - 'A');
        if (mask != 0) {
            const int highest = std::bit_width(mask) - 1;
            for (int j = 0; j <= highest && running_; ++j) {
                const QString root = QString(QChar('A' + j)) + QStringLiteral(":\\");
                if ((mask & (1u << j)) && !excludedDrives_.contains(root, Qt::CaseInsensitive))
                    SearchFolderTree(root);
            }
        }
        // A stop ends the whole search, not only this token's part of it.
        stopped = !running_;
    }

    previousPattern_ = pattern_;
    running_ = false;
    searchMode_ = false;
    mnuFindFiles.setCaption(QStringLiteral("&Find File(s)..."));
    mnuFolderInfo.setEnabled(true);
    setMousePointer(0);
    Command1.setCaption(QStringLiteral("Search"));
    setStrip(QStringLiteral(" ") + QString::number(List1.ListCount()) + QStringLiteral(" files found matching \"")
             + typed + QLatin1Char('"'));
    folderCount_ = 0;
    fileCount_ = 0;
    excludedDrives_.clear();
}

namespace {

// The entries of a native folder in case-insensitive order; the walk's
// yield runs at every entry, and a stop ends the listing early.
bool listWalkFolder(const QString &native, std::vector<WalkEntry> &out, const std::function<bool()> &goOn)
{
    DIR *d = native.isEmpty() ? nullptr : ::opendir(QFile::encodeName(native).constData());
    if (!d)
        return false;
    while (dirent *e = ::readdir(d)) {
        if (!goOn())
            break;
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QByteArray full = QFile::encodeName(native + QLatin1Char('/') + name);
        struct stat st;
        if (::lstat(full.constData(), &st) != 0)
            continue;
        WalkEntry en;
        en.name = name;
        en.dev = st.st_dev;
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            if (::stat(full.constData(), &target) == 0) {
                en.folderLink = S_ISDIR(target.st_mode);
                en.file = S_ISREG(target.st_mode);
            }
        } else {
            en.folder = S_ISDIR(st.st_mode);
            en.file = S_ISREG(st.st_mode);
        }
        out.push_back(std::move(en));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const WalkEntry &a, const WalkEntry &b) {
        const int c = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return true;
}

QString internalRootOf(const QString &folder) { return folder.left(3); }

} // namespace

void frmSearchDrives::SearchFolderTree(const QString &folder)
{
    setStrip(QStringLiteral("Searching ") + folder);
    yield();
    if (!running_)
        return;

    const QString native = plat::toNative(folder);
    struct stat rootStat;
    const QString rootNative = plat::toNative(internalRootOf(folder));
    if (native.isEmpty() || rootNative.isEmpty() || ::stat(QFile::encodeName(rootNative).constData(), &rootStat) != 0)
        return;

    std::vector<WalkEntry> entries;
    listWalkFolder(native, entries, [this] {
        yield();
        return running_;
    });
    if (!running_)
        return;
    QStringList subfolders;
    for (const WalkEntry &e : entries) {
        if (e.folder || e.folderLink) {
            ++folderCount_;
            // Hidden folders, links to folders and other file systems mounted
            // inside the drive are not entered.
            if (e.folder && !e.name.startsWith(QLatin1Char('.')) && e.dev == rootStat.st_dev)
                subfolders << e.name;
        } else if (!searchMode_) {
            ++fileCount_;
        }
    }
    if (searchMode_)
        FindInFolder(folder);
    for (const QString &name : subfolders) {
        if (!running_)
            break;
        SearchFolderTree(folder + name + QLatin1Char('\\'));
        if (List1.ListCount() >= kMaxHits)
            break;
    }
    scrollToEnd();
}

void frmSearchDrives::FindInFolder(const QString &folder)
{
    std::vector<WalkEntry> entries;
    if (!listWalkFolder(plat::toNative(folder), entries, [this] {
            yield();
            return running_;
        }))
        return;
    for (const WalkEntry &e : entries) {
        if (!running_ || hitCount_ >= kMaxHits)
            break;
        yield();
        if (!running_)
            break;
        // Files only: a folder of any attributes, a link to one or a device
        // is never a found file.
        if (!e.file || !plat::wildcardMatch(pattern_, e.name))
            continue;
        List1.AddItem(folder + e.name);
        if (++hitCount_ >= kMaxHits)
            break;
    }
}

void frmSearchDrives::mnuFolderInfo_Click()
{
    SearchBusy busy(this);
    if (running_) {
        running_ = false;
        return;
    }
    QString path = ShowInputBox(QStringLiteral("Enter a valid explicit path:"), QStringLiteral("Folder Info"),
                                QStringLiteral("C:\\"), hWnd())
                       .trimmed();
    if (path.size() < 2 || path[1] != QLatin1Char(':'))
        return;
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    if (!FolderExists(path)) {
        plat::MessageRequest box;
        box.text = path;
        box.title = QStringLiteral("Path is invalid");
        box.style = plat::mb::IconInformation;
        box.ownerHandle = hWnd();
        plat::showMessage(box);
        return;
    }

    setMousePointer(kHourglass);
    running_ = true;
    mnuFolderInfo.setCaption(QStringLiteral("&Stop!"));
    mnuFindFiles.setEnabled(false);
    List1.Clear();
    folderCount_ = 0;
    fileCount_ = 0;
    searchMode_ = false;
    SearchFolderTree(path);

    running_ = false;
    mnuFolderInfo.setCaption(QStringLiteral("&Folder Info..."));
    mnuFindFiles.setEnabled(true);
    setStrip(QString());
    setMousePointer(0);
    if (released_)
        return;   // the window was closed meanwhile
    plat::MessageRequest box;
    box.text = QStringLiteral("Total folders: \t") + QString::number(folderCount_) + kCrLf
        + QStringLiteral("Total files: \t") + QString::number(fileCount_);
    box.title = QStringLiteral("Folder Info for: ") + path;
    box.ownerHandle = hWnd();
    plat::showMessage(box);
}

void frmSearchDrives::Command3_Click()
{
    SearchBusy busy(this);
    running_ = false;
    List1.Clear();
    Hide();
    releaseProgramReference();
}

void frmSearchDrives::Form_KeyDown(int &keyCode, int shift)
{
    if (keyCode == kEscape && running_)
        running_ = false;
}

void frmSearchDrives::Form_Unload(int &cancel)
{
    SearchBusy busy(this);
    running_ = false;
    List1.Clear();
    releaseProgramReference();
}

void frmSearchDrives::Form_QueryUnload(int &cancel, int unloadMode) {}

frmSearchDrives &SearchDrives()
{
    if (!programWindow())
        programWindow() = new frmSearchDrives;
    return *programWindow();
}

bool SearchDrivesLoaded() { return programWindow() != nullptr; }

void UnloadSearchDrives()
{
    if (frmSearchDrives *window = programWindow())
        window->Unload();
}
