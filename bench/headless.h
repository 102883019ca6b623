// What the benchmarks of the headless main window share: a temporary home,
// a disk image attached as the removable drive E:, every message box answered
// as a user pressing Enter would (and noted), and the window's cache folders.
#pragma once

#include "app/frmrecover.h"
#include "platform/drives.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "scan/scantable.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/stat.h>

// The box's default button.
inline int defaultAnswer(const plat::MessageRequest &r)
{
    static const QList<QList<int>> buttons = {
        {plat::id::OK},
        {plat::id::OK, plat::id::Cancel},
        {plat::id::Abort, plat::id::Retry, plat::id::Ignore},
        {plat::id::Yes, plat::id::No, plat::id::Cancel},
        {plat::id::Yes, plat::id::No},
        {plat::id::Retry, plat::id::Cancel},
    };
    const int set = r.style & plat::mb::ButtonMask;
    const QList<int> &b = buttons.value(set, buttons[0]);
    const int def = (r.style & plat::mb::DefButtonMask) / plat::mb::DefButton2;
    return b.value(def, b[0]);
}

// The program's home in a temporary folder, removed at the end, and the
// offscreen platform unless another is asked for. Made before the QApplication.
class BenchHome {
public:
    explicit BenchHome(const char *tool)
        : dir_(QDir::tempPath() + QLatin1Char('/') + QLatin1String(tool) + QStringLiteral("-home-XXXXXX"))
    {
        if (dir_.isValid())
            qputenv("QUILVANE_HOME", dir_.path().toLocal8Bit());
        else
            std::fprintf(stderr, "cannot make a temporary home\n");
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    bool isValid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// A block device given in IMAGE's place (a loop device over a card image).
inline bool isBlockDevice(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

// IMAGE and OUTDIR of the command line as absolute paths, OUTDIR made;
// false (said on stderr) when IMAGE is neither a file nor a block device.
inline bool imageAndFolder(const QString &imageArg, const QString &folderArg, QString &image, QString &folder)
{
    image = QFileInfo(imageArg).absoluteFilePath();
    folder = QFileInfo(folderArg).absoluteFilePath();
    if (!QFileInfo(image).isFile() && !isBlockDevice(image)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(image));
        return false;
    }
    QDir().mkpath(folder);
    return true;
}

// A removable drive, read-only.
inline plat::VirtualDriveOptions removableReadOnly()
{
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    opts.readOnly = true;
    return opts;
}

// IMAGE as the drive E: of a drive table that shows the attached images only;
// false (said on stderr) when it cannot be attached.
inline bool attachAsE(const QString &image, const plat::VirtualDriveOptions &opts = removableReadOnly())
{
    plat::DriveTable &drives = plat::DriveTable::instance();
    drives.setExclusive(true);
    if (isBlockDevice(image) ? drives.attachDevice('E', image, opts) : drives.attachImage('E', image, opts))
        return true;
    std::fprintf(stderr, "cannot attach %s\n", qPrintable(image));
    return false;
}

// Every message box answered by its default button, its title and text kept
// in `asked`; every folder dialog by the folder it offers.
inline void answerByDefault(QStringList &asked)
{
    plat::setMessageResponder([&asked](const plat::MessageRequest &r) {
        asked << r.title + QStringLiteral(": ") + QString(r.text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return defaultAnswer(r);
    });
    plat::setDialogResponder([](const plat::DialogRequest &r) { return plat::DialogAnswer{r.startFolder, 1}; });
}

// OK on every folder chooser whose title holds the text, on the folder it
// offers, while the object lives.
class FolderChooserAnswers {
public:
    FolderChooserAnswers(const QString &titlePart, int intervalMs)
    {
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [titlePart] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->isVisible() && top->windowTitle().contains(titlePart))
                    for (QPushButton *b : top->findChildren<QPushButton *>())
                        if (b->text().remove('&') == QLatin1String("OK")) {
                            b->click();
                            return;
                        }
        });
        timer_.start();
    }
    void stop() { timer_.stop(); }

private:
    QTimer timer_;
};

inline void printAsked(const QStringList &asked)
{
    for (const QString &q : asked)
        std::printf("asked: %s\n", qPrintable(q));
}

// The window's cache at the internal path ROOT (ending in a backslash), its
// folders made.
inline void useCache(frmRecover &w, const QString &root)
{
    w.CacheRoot = root;
    w.MakeDirNames();
    w.CreateCacheFolders();
}

// The type list filled, every built-in type ticked that `wanted` names (all
// when it is empty), and start-up finished; the number of ticked rows.
inline int tickBuiltInTypes(frmRecover &w, const QStringList &wanted = {})
{
    w.SetUpTypeList();
    w.FillTypeList();
    w.SetToolTips();   // start-up is finished
    int ticked = 0;
    for (int i = 1; i <= w.LvwTypes.ItemCount(); ++i) {
        const bool builtIn = w.LvwTypes.SubItem(i, 2) == ProgramOrigin();
        const bool tick = builtIn && (wanted.isEmpty() || wanted.contains(w.LvwTypes.ItemText(i)));
        w.LvwTypes.setItemChecked(i, tick);
        ticked += tick;
    }
    return ticked;
}

// The responders taken back, the window gone and E: detached.
inline void closeBench()
{
    plat::setMessageResponder({});
    plat::setDialogResponder({});
    DestroyMainWindow();
    plat::DriveTable::instance().detach('E');
}
