// The file search window: files by pattern over chosen drives, typed
// specifications, stops in the middle, folder information, the cap.
#include "drive/ui/chooser.h"
#include "drive/ui/frmsearchdrives.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::MessageScript;

namespace {

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

void touch(const QString &native)
{
    QFile f(native);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << native.toStdString();
    f.write("x");
}

QStringList found(const frmSearchDrives &w)
{
    QStringList out;
    for (int i = 0; i < const_cast<frmSearchDrives &>(w).List1.ListCount(); ++i)
        out << const_cast<frmSearchDrives &>(w).List1.List(i);
    return out;
}

// C: and D: stand for two temporary trees.
class SearchWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        c_ = makeTempDir("drivec");
        d_ = makeTempDir("drived");
        ASSERT_TRUE(QDir(c_).mkpath("DCIM/100CANON"));
        ASSERT_TRUE(QDir(c_).mkpath("x.jpg"));          // a folder named like a hit
        ASSERT_TRUE(QDir(c_).mkpath("ro.jpg"));         // and a read-only one
        ::chmod(QFile::encodeName(c_ + "/ro.jpg").constData(), 0555);
        ASSERT_TRUE(QDir(c_).mkpath(".hidden"));
        touch(c_ + "/DCIM/100CANON/A.JPG");
        touch(c_ + "/DCIM/100CANON/b.jpg");
        touch(c_ + "/DCIM/100CANON/c.jpeg");
        touch(c_ + "/DCIM/note.txt");
        touch(c_ + "/.hidden/h.jpg");
        ::symlink(QFile::encodeName(c_).constData(), QFile::encodeName(c_ + "/DCIM/loop").constData());
        ::symlink(QFile::encodeName(c_ + "/DCIM/note.txt").constData(),
                  QFile::encodeName(c_ + "/DCIM/link.jpg").constData());
        ::mkfifo(QFile::encodeName(c_ + "/DCIM/pipe.jpg").constData(), 0600);
        touch(d_ + "/d.jpg");
        touch(d_ + "/e.png");
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('C', c_, plat::DriveTypeFixed));
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('D', d_, plat::DriveTypeRemovable));
    }
    void TearDown() override
    {
        ::chmod(QFile::encodeName(c_ + "/ro.jpg").constData(), 0755);
        plat::DriveTable::instance().detach('C');
        plat::DriveTable::instance().detach('D');
        UnloadSearchDrives();
        QCoreApplication::processEvents();
    }
    QString c_, d_;
    InputScript input;     // an input box nobody expected fails the test
    MessageScript boxes;   // and so does a message box
};

} // namespace

TEST_F(SearchWindow, FilesByPatternNeverFolders)
{
    frmSearchDrives &w = SearchDrives();
    w.Zoekfiles("*.jpg", "");
    // Both cases of the extension; no folder named *.jpg (read-only or not),
    // no hidden folder, no fifo, no walk through the link loop; a link to a
    // file is a file.
    EXPECT_EQ(found(w), QStringList({"C:\\DCIM\\link.jpg", "C:\\DCIM\\100CANON\\A.JPG", "C:\\DCIM\\100CANON\\b.jpg",
                                     "D:\\d.jpg"}));
    EXPECT_EQ(w.StripText(), " 4 files found matching \"*.jpg\"");
    EXPECT_FALSE(w.Running());
    EXPECT_EQ(w.ExcludedDrives(), "");
    EXPECT_EQ(w.PreviousPattern(), "*.jpg");
    EXPECT_EQ(w.mnuFindFiles.Caption(), "&Find File(s)...");
    EXPECT_TRUE(w.mnuFolderInfo.Enabled());
    EXPECT_EQ(w.Command1.Caption(), "Search");

    // Only the drives named; several tokens run one after the other.
    w.Zoekfiles("*.jpg *.PNG", "d");
    EXPECT_EQ(found(w), QStringList({"D:\\d.jpg", "D:\\e.png"}));
    // Letters that name every drive search them all, still without asking.
    w.Zoekfiles("*.png", "cd");
    EXPECT_EQ(found(w), QStringList({"D:\\e.png"}));
    w.Zoekfiles("*.jpg", "q");   // no such drive: nothing searched
    EXPECT_TRUE(found(w).isEmpty());
    EXPECT_TRUE(boxes.boxes().empty());

    w.SetSearchDrives("c");
    EXPECT_EQ(w.ExcludedDrives(), "D:\\");
}

TEST_F(SearchWindow, TypedSpecifications)
{
    EXPECT_EQ(frmSearchDrives::NormalizeSpecification("c:*.jpg"), "c:\\*.jpg");
    EXPECT_EQ(frmSearchDrives::NormalizeSpecification("c:\\ *.jpg"), "c:\\*.jpg");
    EXPECT_EQ(frmSearchDrives::NormalizeSpecification("c:\\*.jpgd:\\*.png"), "c:\\*.jpg d:\\*.png");
    EXPECT_EQ(frmSearchDrives::NormalizeSpecification("*.jpg d:*.png"), "*.jpg d:\\*.png");

    frmSearchDrives &w = SearchDrives();
    input.answers = {"  C:*.JPG "};
    w.mnuFindFiles_Click();
    ASSERT_EQ(input.asked.size(), 1u);
    EXPECT_EQ(input.asked[0].title, "Parlow Find File(s)");
    EXPECT_TRUE(input.asked[0].prompt.endsWith("Enter a search specification:"));
    EXPECT_EQ(found(w), QStringList({"C:\\DCIM\\link.jpg", "C:\\DCIM\\100CANON\\A.JPG", "C:\\DCIM\\100CANON\\b.jpg"}));
    EXPECT_EQ(w.StripText(), " 3 files found matching \"c:*.jpg\"");

    // The previous pattern is offered; two drives written together.
    input.answers = {"c:\\*.txtd:\\*.png"};
    w.Command1_Click();
    EXPECT_EQ(input.asked[1].defaultText, "*.jpg");
    EXPECT_EQ(found(w), QStringList({"C:\\DCIM\\note.txt", "D:\\e.png"}));

    // A folder in the typed path names no drives: "dcim" is not D:.
    input.answers = {"c:\\dcim\\*.jpg"};
    w.mnuFindFiles_Click();
    EXPECT_EQ(found(w).size(), 3);
    EXPECT_TRUE(found(w).filter("D:\\").isEmpty());

    // An empty answer is Done: the window goes, the next use is a new one.
    input.answers = {""};
    w.mnuFindFiles_Click();
    EXPECT_TRUE(w.Released());
    EXPECT_FALSE(SearchDrivesLoaded());
    QCoreApplication::processEvents();
    EXPECT_TRUE(SearchDrives().PreviousPattern().isEmpty());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SearchWindow, StopsInTheMiddle)
{
    for (int i = 0; i < 30; ++i)
        touch(c_ + QString("/DCIM/100CANON/IMG_%1.JPG").arg(i, 4, 10, QChar('0')));

    // Esc after a few steps: the search ends, the strip tells what it found.
    {
        frmSearchDrives &w = SearchDrives();
        int yields = 0;
        w.setYieldHook([&] {
            if (++yields == 8) {
                int key = 27;
                w.Form_KeyDown(key, 0);
            }
        });
        w.Zoekfiles("*.jpg *.png", "cd");
        EXPECT_FALSE(w.Running());
        EXPECT_LT(yields, 12);
        EXPECT_LT(w.List1.ListCount(), 5);
        EXPECT_EQ(w.StripText(), QString(" %1 files found matching \"*.jpg *.png\"").arg(w.List1.ListCount()));
        // The Stop command, pressed once the hits come in.
        w.setYieldHook([&] {
            if (w.List1.ListCount() == 10 && w.Running())
                w.Command1_Click();
        });
        w.Zoekfiles("*.jpg", "c");
        EXPECT_EQ(w.List1.ListCount(), 10);
        w.setYieldHook({});
    }
    // Done during the search: the walk returns, the window goes afterwards.
    {
        frmSearchDrives &w = SearchDrives();
        QPointer<QWidget> widget = w.widget();
        int yields = 0;
        w.setYieldHook([&] {
            if (++yields == 20)
                w.Command3_Click();
        });
        w.Zoekfiles("*", "cd");
        EXPECT_TRUE(w.Released());
        EXPECT_EQ(yields, 20);   // nothing more was walked
        EXPECT_EQ(w.List1.ListCount(), 0);
        EXPECT_FALSE(SearchDrivesLoaded());
        ASSERT_TRUE(widget);
        QCoreApplication::processEvents();
        EXPECT_FALSE(widget);   // destroyed once the walk had returned
    }
    // Closed by the user during the search.
    {
        frmSearchDrives &w = SearchDrives();
        w.Show();
        QPointer<QWidget> widget = w.widget();
        int yields = 0;
        w.setYieldHook([&] {
            if (++yields == 5)
                w.widget()->close();
        });
        w.Zoekfiles("*", "cd");
        EXPECT_TRUE(w.Released());
        EXPECT_EQ(yields, 5);
        EXPECT_FALSE(w.Visible());
        QCoreApplication::processEvents();
        EXPECT_FALSE(widget);
    }
}

TEST_F(SearchWindow, YieldsAtEveryFolderAndEntry)
{
    // A folder of many entries: the window's messages are processed at each.
    for (int i = 0; i < 200; ++i)
        touch(d_ + QString("/f%1.dat").arg(i));
    frmSearchDrives &w = SearchDrives();
    int yields = 0;
    w.setYieldHook([&] { ++yields; });
    w.Zoekfiles("*.dat", "d");
    EXPECT_EQ(w.List1.ListCount(), 200);
    EXPECT_GE(yields, 3 * 202);   // listed in the walk, in the match, and matched
    w.setYieldHook({});

    // Without a hook the walk pumps the real event queue.
    bool ran = false;
    QTimer::singleShot(0, w.widget(), [&] { ran = true; });
    ::usleep(25000);   // past the pump's 20 ms throttle
    w.Zoekfiles("*.dat", "d");
    EXPECT_TRUE(ran);
}

TEST_F(SearchWindow, FolderInformation)
{
    frmSearchDrives &w = SearchDrives();

    input.answers = {"D:"};
    boxes.expect(plat::id::OK, "Total folders: \t0\r\nTotal files: \t2");
    w.mnuFolderInfo_Click();
    EXPECT_EQ(input.asked[0].title, "Folder Info");
    EXPECT_EQ(input.asked[0].defaultText, "C:\\");
    EXPECT_EQ(boxes.boxes().back().title, "Folder Info for: D:\\");

    // C:: DCIM, 100CANON, x.jpg, ro.jpg, .hidden and the link loop are
    // folders (the last two not entered); note.txt, link.jpg, pipe.jpg and
    // the three pictures are files.
    input.answers = {"c:\\"};
    boxes.expect(plat::id::OK, "Total folders: \t6\r\nTotal files: \t6");
    w.mnuFolderInfo_Click();
    EXPECT_EQ(w.mnuFolderInfo.Caption(), "&Folder Info...");
    EXPECT_TRUE(w.mnuFindFiles.Enabled());

    // Without a drive's colon nothing happens; a missing path is told.
    input.answers = {"x"};
    w.mnuFolderInfo_Click();
    input.answers = {"C:\\Nowhere"};
    boxes.expect(plat::id::OK, "C:\\Nowhere\\");
    w.mnuFolderInfo_Click();
    EXPECT_EQ(boxes.boxes().back().title, "Path is invalid");
    EXPECT_EQ(boxes.pending(), 0);
}

TEST_F(SearchWindow, StopsAtTheCap)
{
    const QString many = makeTempDir("many");
    for (int folder = 0; folder < 2; ++folder) {
        const QString dir = many + QString("/F%1").arg(folder);
        ASSERT_TRUE(QDir().mkpath(dir));
        for (int i = 0; i < 16500; ++i) {
            QFile f(dir + QString("/%1.jpg").arg(i));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', many, plat::DriveTypeRemovable));
    frmSearchDrives &w = SearchDrives();
    w.setYieldHook([] {});
    w.Zoekfiles("*.jpg", "ce");   // the cap holds over several drives
    EXPECT_EQ(w.List1.ListCount(), frmSearchDrives::kMaxHits);
    EXPECT_EQ(w.HitCount(), frmSearchDrives::kMaxHits);
    plat::DriveTable::instance().detach('E');
}
