// The folder chooser: start folder, choosing, creating and deleting folders,
// a drive that is not ready, the desktop's browser, Cancel.
#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/frmdirchoose.h"
#include "platform/drives.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <gtest/gtest.h>

using testing_support::DialogScript;
using testing_support::makeTempDir;
using testing_support::MessageScript;

namespace {

// Scripted answers for the input box; a box nobody expected fails the test.
class InputScript {
public:
    InputScript()
    {
        SetInputBoxResponder([this](const InputBoxRequest &r) {
            asked.push_back(r);
            if (answers.empty()) {
                ADD_FAILURE() << "unexpected input box: " << r.title.toStdString();
                return QString();
            }
            QString a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    ~InputScript()
    {
        SetInputBoxResponder({});
        EXPECT_TRUE(answers.empty()) << "input boxes that never came: " << answers.size();
    }
    std::deque<QString> answers;
    std::vector<InputBoxRequest> asked;
};

void touch(const QString &native, const QByteArray &data = "x")
{
    QFile f(native);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << native.toStdString();
    f.write(data);
}

QStringList entriesOf(const QString &native)
{
    return QDir(native).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs a handler once the modal loop of the window runs; a window that is
// still shown after five seconds is hidden, so no test can hang.
void whenShown(plat::Form &window, std::function<void()> action)
{
    // Tied to the window's widget: nothing fires once the window is gone.
    QTimer::singleShot(0, window.widget(), [action] { action(); });
    QTimer::singleShot(5000, window.widget(), [&window] {
        if (window.Visible()) {
            ADD_FAILURE() << "the window stayed open";
            window.Hide();
        }
    });
}

class DirChooser : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldHome_ = qgetenv("HOME");
        oldData_ = qgetenv("XDG_DATA_HOME");
        home_ = makeTempDir("home");
        qputenv("HOME", home_.toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home_ + "/.local/share").toLocal8Bit());
        QDir().mkpath(home_ + "/.local/share");

        SetCurrentLanguageId(9);
        root_ = makeTempDir("chooser");
        ASSERT_TRUE(QDir(root_).mkpath("Pictures/Holiday"));
        ASSERT_TRUE(QDir(root_).mkpath("Pictures/Other"));
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('F', root_, plat::DriveTypeFixed));
        ChooserStartPath = "F:\\Pictures";
        ChosenPath = "F:\\Pictures\\";
        SetChooserPlacementSource({});
    }
    void TearDown() override
    {
        plat::DriveTable::instance().detach('F');
        plat::DriveTable::instance().detach('G');
        plat::DriveTable::instance().detach('H');
        SetChooserPlacementSource({});
        SetCurrentLanguageId(9);
        qputenv("HOME", oldHome_);
        if (oldData_.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData_);
    }
    QString trashFiles() const { return home_ + "/.local/share/Trash/files"; }

    QString root_, home_;
    QByteArray oldHome_, oldData_;
};

} // namespace

TEST_F(DirChooser, StartFolderShownAndChosen)
{
    MessageScript boxes;
    frmDirChoose w;
    // Loading gave the start folder its "\" and shows it with its drive.
    EXPECT_EQ(ChooserStartPath, "F:\\Pictures\\");
    EXPECT_EQ(w.Caption(), " Quilvane        Select a folder......");
    EXPECT_EQ(w.Drive1.driveName(), "F:");
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures");
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Pictures\\");
    // The tree: ancestors at -1, -2, then the sub-folders in order.
    EXPECT_EQ(w.Dir1.ListIndex(), -1);
    EXPECT_EQ(w.Dir1.List(-1), "F:\\Pictures");
    EXPECT_EQ(w.Dir1.List(-2), "F:\\");
    EXPECT_EQ(w.Dir1.List(-3), "");
    ASSERT_EQ(w.Dir1.ListCount(), 2);
    EXPECT_EQ(w.Dir1.List(0), "F:\\Pictures\\Holiday");
    EXPECT_EQ(w.Dir1.List(1), "F:\\Pictures\\Other");
    EXPECT_EQ(w.Dir1.list().ListCount(), 4);

    // A click on a sub-folder shows it in the path text.
    w.Dir1.setListIndex(0);
    w.Dir1_MouseDown(plat::vbLeftButton, 0, 0, 0);
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Pictures\\Holiday\\");
    // The root keeps a single backslash.
    w.Dir1.setListIndex(-2);
    w.SyncPathText();
    EXPECT_EQ(w.TxtPath.Text(), "F:\\");

    // Opening a folder (the list's Path) raises Change: path text follows.
    ASSERT_TRUE(w.Dir1.setPath("f:\\pictures\\other\\"));
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures\\Other");   // the case on the disk
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Pictures\\Other\\");
    EXPECT_FALSE(w.Dir1.setPath("F:\\Pictures\\Nowhere"));
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures\\Other");

    // OK in the modal window: the shown folder with one "\".
    w.setCaption("Backup. Please select a drive/folder for saving.");
    whenShown(w, [&] { w.CmdOK_Click(); });
    w.Show(1);
    EXPECT_EQ(ChosenPath, "F:\\Pictures\\Other\\");
    EXPECT_FALSE(ChooserCancelled(ChosenPath));
    EXPECT_FALSE(w.Visible());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DirChooser, MissingStartFolderAndPlacement)
{
    ChooserStartPath = "F:\\Gone\\Away";
    SetChooserPlacementSource([] { return std::optional<ChooserPlacement>({1500, 900, 12000, 600}); });
    frmDirChoose w;
    EXPECT_EQ(ChooserStartPath, "F:\\Gone\\Away\\");
    EXPECT_EQ(w.TxtPath.Text(), "F:");
    EXPECT_EQ(w.Dir1.Path(), "F:\\");
    // Right edge on the picture view's right edge, 400 twips below its top.
    EXPECT_DOUBLE_EQ(w.Left(), 1500 + 12000 - w.Width());
    EXPECT_DOUBLE_EQ(w.Top(), 900 + 600 + 400);
    w.CmdOK_Click();
    EXPECT_EQ(ChosenPath, "F:\\");

    // A picture view narrower than the chooser: 100 twips in.
    SetChooserPlacementSource([] { return std::optional<ChooserPlacement>({1500, 900, 2000, 600}); });
    frmDirChoose narrow;
    EXPECT_DOUBLE_EQ(narrow.Left(), 1600);
    // Without a main window: centred on the screen.
    SetChooserPlacementSource({});
    frmDirChoose centred;
    EXPECT_NEAR(centred.Left(), (plat::screenWidthTwips() - centred.Width()) / 2, 15);
}

TEST_F(DirChooser, CancelCloseAndTheCurrentLanguage)
{
    {
        frmDirChoose w;
        whenShown(w, [&] { w.CmdCancel_Click(); });
        w.Show(1);
        EXPECT_EQ(ChosenPath, "Cancel");
        EXPECT_TRUE(ChooserCancelled(ChosenPath));
    }
    {
        // Closed by the user: a Cancel as well, not the folder offered.
        ChosenPath = "F:\\Pictures\\";
        frmDirChoose w;
        whenShown(w, [&] { w.widget()->close(); });
        w.Show(1);
        EXPECT_TRUE(ChooserCancelled(ChosenPath));
    }
    {
        SetCurrentLanguageId(1031);
        ChooserStartPath = "F:\\Pictures";
        frmDirChoose w;
        EXPECT_EQ(w.CmdCancel.Caption(), "Abbrechen");
        w.CmdCancel_Click();
        EXPECT_EQ(ChosenPath, "Abbrechen");
        EXPECT_TRUE(ChooserCancelled(ChosenPath));
        SetCurrentLanguageId(9);
        EXPECT_FALSE(ChooserCancelled(ChosenPath));
    }
    {
        // The one-call form with the caller's caption.
        ChooserStartPath = "F:\\Pictures";
        auto closeIt = [] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (top->isVisible() && top->windowTitle() == "Please select a drive or folder for caching.")
                    top->close();
        };
        QTimer::singleShot(0, closeIt);
        QTimer::singleShot(5000, closeIt);   // never left waiting
        EXPECT_EQ(ChooseFolder("Please select a drive or folder for caching."), "Cancel");
    }
}

TEST_F(DirChooser, CreateNewFolderOnlyInsideTheShownOne)
{
    InputScript input;
    MessageScript boxes;
    frmDirChoose w;

    input.answers = {"New one"};
    w.CmdCreate_Click();
    ASSERT_EQ(input.asked.size(), 1u);
    EXPECT_EQ(input.asked[0].prompt, "Enter foldername:");
    EXPECT_EQ(input.asked[0].title, "Create new (sub)folder");
    EXPECT_TRUE(QFileInfo(root_ + "/Pictures/New one").isDir());
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures\\New one");
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Pictures\\New one\\");

    // An empty answer does nothing.
    input.answers = {""};
    w.CmdCreate_Click();
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures\\New one");

    // Paths, parent steps and characters a name cannot hold are refused.
    for (const QString &bad : {QString("..\\Escaped"), QString("a\\b"), QString("a/b"), QString("x:y"), QString("w*")}) {
        input.answers = {bad};
        boxes.expect(plat::id::OK, "Path is invalid");
        w.CmdCreate_Click();
    }
    EXPECT_EQ(boxes.pending(), 0);
    EXPECT_EQ(entriesOf(root_ + "/Pictures/New one"), QStringList());
    EXPECT_EQ(entriesOf(root_), QStringList({"Pictures"}));
    EXPECT_TRUE(frmDirChoose::ValidFolderName("Holiday 2024 (1)"));
}

TEST_F(DirChooser, DeleteFolder)
{
    MessageScript boxes;
    ASSERT_TRUE(QDir(root_).mkpath("Pictures/Old"));
    touch(root_ + "/Pictures/Old/a.jpg");
    touch(root_ + "/Pictures/Old/b.jpg");
    ChooserStartPath = "F:\\Pictures\\Old";
    frmDirChoose w;
    ASSERT_EQ(w.TxtPath.Text(), "F:\\Pictures\\Old\\");

    // Answered Cancel: nothing happens.
    boxes.expect(plat::id::Cancel, "Do you really want to delete the folder");
    w.CmdDelete_Click();
    EXPECT_EQ(entriesOf(root_ + "/Pictures/Old").size(), 2);

    // Answered OK: the files go to the trash, the empty folder goes, the
    // chooser moves to the parent.
    boxes.expect(plat::id::OK, "\r\n\r\nF:\\Pictures\\Old\\         \r\n\r\nand all its contents?");
    w.CmdDelete_Click();
    EXPECT_EQ(boxes.boxes().back().style & 0xFFF, 65);   // task-modal besides
    EXPECT_EQ(boxes.boxes().back().title, "Delete Folder");
    EXPECT_FALSE(QFileInfo::exists(root_ + "/Pictures/Old"));
    EXPECT_TRUE(QFileInfo::exists(trashFiles() + "/a.jpg"));
    EXPECT_TRUE(QFileInfo::exists(trashFiles() + "/b.jpg"));
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Pictures\\");
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures");
    EXPECT_EQ(w.Dir1.ListCount(), 2);   // the list no longer shows it

    // A drive root is refused.
    w.Dir1.setPath("F:\\");
    ASSERT_EQ(w.TxtPath.Text(), "F:\\");
    boxes.expect(plat::id::OK, "Cannot delete the root of disk F:\\\r\n\r\nPlease select a folder.");
    w.CmdDelete_Click();
    EXPECT_EQ(boxes.boxes().back().style & 0xFFF, 16);
    EXPECT_TRUE(QFileInfo(root_ + "/Pictures/Holiday").isDir());

    // A folder that keeps a hidden file and a sub-folder stays, with the notice.
    ASSERT_TRUE(QDir(root_).mkpath("Keep/Inner"));
    touch(root_ + "/Keep/c.jpg");
    touch(root_ + "/Keep/.hidden");
    w.Dir1.setPath("F:\\Keep");
    boxes.expect(plat::id::OK, "F:\\Keep\\");
    boxes.expect(plat::id::OK, "Folder with protected files: not deleted.");
    w.CmdDelete_Click();
    EXPECT_EQ(entriesOf(root_ + "/Keep"), QStringList({".hidden", "Inner"}));
    EXPECT_EQ(w.TxtPath.Text(), "F:\\Keep\\");
    EXPECT_EQ(w.Dir1.Path(), "F:\\Keep");

    // A folder of the program's cache goes with everything in it.
    ASSERT_TRUE(QDir(root_).mkpath("RIVozud/Temp/Deep"));
    touch(root_ + "/RIVozud/Temp/Deep/d.jpg");
    touch(root_ + "/RIVozud/Temp/.e");
    w.Dir1.setPath("F:\\RIVozud\\Temp");
    boxes.expect(plat::id::OK, "F:\\RIVozud\\Temp\\");
    w.CmdDelete_Click();
    EXPECT_FALSE(QFileInfo::exists(root_ + "/RIVozud/Temp"));
    EXPECT_EQ(w.TxtPath.Text(), "F:\\RIVozud\\");
    EXPECT_EQ(boxes.pending(), 0);
}

TEST_F(DirChooser, DriveNotReadyIsToldOnce)
{
    MessageScript boxes;
    const QString other = makeTempDir("absent");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('G', other, plat::DriveTypeRemovable));
    plat::DriveTable::instance().setMediumPresent('G', false);
    frmDirChoose w;
    ASSERT_TRUE(boxes.boxes().empty());

    boxes.expect(plat::id::OK, "Drive g: not ready.");
    ASSERT_TRUE(w.Drive1.setDrive("G"));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, "Select drive");
    // Back on the start folder and its drive: the focus asks nothing more.
    EXPECT_EQ(w.Drive1.driveName(), "F:");
    EXPECT_EQ(w.Dir1.Path(), "F:\\Pictures");
    w.Drive1_GotFocus();
    w.Drive1_GotFocus();
    EXPECT_EQ(boxes.boxes().size(), 1u);

    // Once the medium is in, choosing the drive shows it.
    plat::DriveTable::instance().setMediumPresent('G', true);
    ASSERT_TRUE(w.Drive1.setDrive("G"));
    EXPECT_EQ(w.Dir1.Path(), "G:\\");
    EXPECT_EQ(w.TxtPath.Text(), "G:\\");
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(DirChooser, ExtendedBrowse)
{
    DialogScript dialogs;
    const QString other = makeTempDir("other");
    ASSERT_TRUE(QDir(other).mkpath("Stuff/More"));
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('H', other, plat::DriveTypeFixed));
    frmDirChoose w;

    // A folder on another drive: the folder list shows it, the drive list
    // follows without sending it to that drive's root.
    dialogs.expect("H:\\Stuff\\More");
    w.CmndExtend_Click();
    ASSERT_EQ(dialogs.dialogs().size(), 1u);
    EXPECT_EQ(dialogs.dialogs()[0].startFolder, "F:");
    EXPECT_EQ(dialogs.dialogs()[0].title, "Extended Browse");
    EXPECT_EQ(w.Dir1.Path(), "H:\\Stuff\\More");
    EXPECT_EQ(w.Drive1.driveName(), "H:");
    EXPECT_EQ(w.TxtPath.Text(), "H:\\Stuff\\More\\");

    // Cancelled: nothing changes.
    dialogs.expectCancel();
    w.CmndExtend_Click();
    EXPECT_EQ(w.Dir1.Path(), "H:\\Stuff\\More");
}
