// The folder browser and the dialog service.
#include "drive/ui/dialogs.h"

#include "platform/paths.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

TEST(BrowseForFolder, ModesThroughTheResponder)
{
    plat::Form owner;
    testing_support::DialogScript script;
    script.expect("C:\\tmp\\Pictures");
    script.expect("C:\\tmp\\Pictures\\IMG_0001.JPG");
    script.expectCancel();

    // Mode 0 behaves as mode 1 and is written back.
    int mode = 0;
    EXPECT_EQ(BrowseForFolder(mode, "C:\\tmp\\", owner.hWnd(), "Extended Browse"), "C:\\tmp\\Pictures");
    EXPECT_EQ(mode, 1);
    const plat::DialogRequest &first = script.dialogs()[0];
    EXPECT_EQ(first.kind, plat::DialogKind::Folder);
    EXPECT_EQ(first.flags, 0x71);
    EXPECT_EQ(first.startFolder, "C:\\tmp\\");
    EXPECT_EQ(first.title, "Extended Browse");
    EXPECT_EQ(first.ownerHandle, owner.hWnd());

    // Mode 2: a folder or a file.
    mode = 2;
    EXPECT_EQ(BrowseForFolder(mode, "C:\\tmp\\Pictures", 0, "Browse"), "C:\\tmp\\Pictures\\IMG_0001.JPG");
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(script.dialogs()[1].kind, plat::DialogKind::FolderOrFile);
    EXPECT_EQ(script.dialogs()[1].flags, 0x4071);
    EXPECT_EQ(script.dialogs()[1].ownerHandle, 0);

    // Cancel gives an empty text; a literal mode works as well.
    EXPECT_EQ(BrowseForFolder(1, "", 0, ""), "");
    EXPECT_TRUE(script.dialogs()[2].startFolder.isEmpty());

    // Computers and printers: no path to choose, no dialog.
    mode = 3;
    EXPECT_EQ(BrowseForFolder(mode, "", 0, "x"), "");
    EXPECT_EQ(BrowseForFolder(7, "", 0, "x"), "");
    EXPECT_EQ(script.dialogs().size(), 3u);
    EXPECT_EQ(BrowseFlagsOfMode(3), 0x1020);
    EXPECT_EQ(BrowseFlagsOfMode(9), 0x2020);
}

TEST(DialogService, FiltersInTheProgramsForm)
{
    EXPECT_EQ(plat::nameFiltersOf("Pictures|*.jpg;*.png|All files|*.*"),
              QStringList({"Pictures (*.jpg *.png)", "All files (*.*)"}));
    EXPECT_EQ(plat::nameFiltersOf("bmp"), QStringList({"*.bmp (*.bmp)"}));
    EXPECT_EQ(plat::nameFiltersOf("Image|*.img|"), QStringList({"Image (*.img)"}));
    EXPECT_TRUE(plat::nameFiltersOf("").isEmpty());
}

TEST(DialogService, RealFolderDialogGivesAnInternalPath)
{
    ASSERT_FALSE(plat::hasDialogResponder());
    const QString dir = testing_support::makeTempDir("browse");
    ASSERT_TRUE(QDir(dir).mkdir("Sub"));
    const QString start = plat::toInternal(dir + "/");
    QString shownAt;
    bool accepted = false;
    // The "user": confirms the folder the dialog opened on, or gives up.
    QTimer user;
    user.setInterval(20);
    int tries = 0;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!d) {
            if (++tries > 150)
                user.stop();
            return;
        }
        shownAt = d->directory().absolutePath();
        if (!accepted) {
            accepted = true;
            static_cast<QDialog *>(d)->accept();
        } else {
            d->reject();   // never hang on a dialog that would not take it
        }
    });
    user.start();
    int mode = 1;
    QString chosen = BrowseForFolder(mode, start, 0, "Browse");
    user.stop();
    EXPECT_EQ(QDir(shownAt).canonicalPath(), QDir(dir).canonicalPath());
    EXPECT_EQ(plat::toNative(chosen), QDir(dir).canonicalPath());
    EXPECT_FALSE(chosen.endsWith('\\'));
    EXPECT_EQ(chosen.mid(1, 2), ":\\");
}

#include "drive/ui/filedialog.h"
#include "platform/paths.h"

namespace {

TEST(FileDialogWrapper, ModesFolderAndAnswers)
{
    testing_support::DialogScript script;
    script.expect("E:\\Images\\card.dat", 2).expectCancel();
    QString mode = "Open", name = "card.dat", title = "Scan Backup", folder, filter = "Index|*.dat|All|*.*",
            ext = "dat";
    int owner = 0, flags = 0x1000, index = 1;
    EXPECT_EQ(FileDialog(mode, owner, name, title, folder, flags, filter, index, ext), "E:\\Images\\card.dat");
    EXPECT_EQ(folder, plat::programFolder());   // an empty start folder is the program folder, written back
    EXPECT_EQ(index, 2);
    ASSERT_EQ(script.dialogs().size(), 1u);
    EXPECT_EQ(script.dialogs()[0].kind, plat::DialogKind::Open);
    EXPECT_EQ(script.dialogs()[0].filter, filter);
    mode = "Save";
    EXPECT_EQ(FileDialog(mode, owner, name, title, folder, flags, filter, index, ext), "");
    EXPECT_EQ(script.dialogs()[1].kind, plat::DialogKind::Save);
    mode = "Print";
    EXPECT_EQ(FileDialog(mode, owner, name, title, folder, flags, filter, index, ext), "");
    EXPECT_EQ(script.dialogs().size(), 2u);
}

} // namespace
