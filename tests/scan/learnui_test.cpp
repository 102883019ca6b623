// "DO Vizorira" on the main window: a type the built-in table does not know
// (Sun audio, made by sox) learned through the file search and through the
// folder mode, listed, and then found byte for byte by a scan of a card
// image; Cancel, no samples, the refused system root, a second press that
// stops the sampling, and the unattended run before a scan.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/ui/chooser.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/learnedtypes.h"
#include "scan/learning.h"
#include "scan/scanengine.h"
#include "scan/scantable.h"
#include "tests/scan/learn_samples.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <deque>

#include <sys/stat.h>

using namespace testing_support;

namespace {

QString workNative(const QString &name = {})
{
    return plat::toNative(LearnedTypesFolder()) + (name.isEmpty() ? QString() : QStringLiteral("/") + name);
}

struct InputScript {
    explicit InputScript(std::deque<QString> answers = {}) : answers_(std::move(answers))
    {
        SetInputBoxResponder([this](const InputBoxRequest &r) {
            requests.push_back(r);
            if (answers_.empty()) {
                ADD_FAILURE() << "an input box nobody expected: " << r.title.toStdString();
                return QString();
            }
            QString a = answers_.front();
            answers_.pop_front();
            return a;
        });
    }
    ~InputScript()
    {
        SetInputBoxResponder({});
        EXPECT_TRUE(answers_.empty()) << "input boxes that never came";
    }
    void add(const QString &answer) { answers_.push_back(answer); }
    std::vector<InputBoxRequest> requests;

private:
    std::deque<QString> answers_;
};

// Presses a button of the window with this title once it is shown (looked
// for every 20 ms); a window still open after five seconds is closed, so no
// test can hang.
void pressWhenShown(const QString &title, const QString &button)
{
    auto *timer = new QTimer;
    auto *waited = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, title, button] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (!top->isVisible() || top->windowTitle() != title)
                continue;
            for (QPushButton *b : top->findChildren<QPushButton *>())
                if (b->text() == button) {
                    timer->stop();
                    timer->deleteLater();
                    delete waited;
                    b->click();
                    return;
                }
        }
        if ((*waited += 20) > 5000) {
            ADD_FAILURE() << "no window " << title.toStdString();
            timer->stop();
            timer->deleteLater();
            delete waited;
        }
    });
    timer->start(20);
}

LearnedTypeRecord stored(const QString &name)
{
    LearnedTypeRecord r;
    EXPECT_EQ(ParseLearnedTypeRecord(readFileBytes(workNative(name)), r), LearnedTypeStatus::Ok);
    return r;
}

class LearnWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        QDir(workNative()).removeRecursively();
        // The card's files: 20 sounds of two lengths in a folder, and pictures.
        card_ = makeTempDir("card");
        ASSERT_TRUE(QDir(card_).mkpath("Sounds"));
        sounds_ = learn_samples::makeAuSamples(card_ + "/Sounds", 20, {8192, 12288});
        if (sounds_.isEmpty())
            GTEST_SKIP() << "sox missing";
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(runTool(learn_samples::imageMagick(),
                              {"-size", QStringLiteral("%1x40").arg(60 + i), "plasma:fractal",
                               card_ + QStringLiteral("/pic%1.png").arg(i)}),
                      0);
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('F', card_, plat::DriveTypeRemovable));
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        SetInputBoxResponder({});
        DestroyMainWindow();
        QDir(workNative()).removeRecursively();
        plat::DriveTable::instance().resetVirtual();
        SetMsgBoxPlainMode(false);
    }

    std::vector<int> rows(const QString &text, const QString &origin) const
    {
        std::vector<int> found;
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemText(i) == text && w->LvwTypes.SubItem(i, 2) == origin)
                found.push_back(i);
        return found;
    }

    void expectIdle() const
    {
        EXPECT_EQ(w->CmdLearn.Caption(), "DO Vizorira");
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_FALSE(w->LearnActive);
        EXPECT_EQ(plat::screenMousePointer(), 0);
    }

    QString card_;
    QList<QPair<QString, QByteArray>> sounds_;
    frmRecover *w = nullptr;
};

} // namespace

TEST_F(LearnWindow, LearnsANewTypeFromTheSearchAndTheScanFindsItByteForByte)
{
    MessageScript boxes;   // none expected
    InputScript input({"au F:"});
    std::vector<QString> captions;
    w->LearnSampleHook = [&](int) { captions.push_back(w->CmdLearn.Caption()); };
    w->LearnSeed = 1;
    w->CmdLearn_Click();

    ASSERT_EQ(input.requests.size(), 1u);
    EXPECT_EQ(input.requests[0].title, "DO Vizorira");
    EXPECT_EQ(input.requests[0].defaultText, " ");
    EXPECT_EQ(input.requests[0].prompt, LearnPrompt());
    expectIdle();
    // The button counts down the samples left; the status line shows the last one.
    ASSERT_EQ(captions.size(), 20u);
    EXPECT_EQ(captions.front(), " 20");
    EXPECT_EQ(captions.back(), " 1");
    EXPECT_EQ(w->lblStatus.Caption(), ".au# 5 Analized:  8 reliability: 87.50%");
    EXPECT_TRUE(w->lblStatus.Visible());

    // Enciphered on disk; each variant's signatures are those of its samples.
    EXPECT_EQ(stored("ZT_au.dat").Enciphered, -1);
    LearnedTypeRecord au;
    ASSERT_EQ(ConvertLearnedTypeRecord("ZT_au.dat", true, au), LearnedTypeStatus::Ok);
    for (size_t v = 0; v < 6; ++v) {
        if (au.Sig1[v].isEmpty())
            continue;
        int fits = 0;
        for (const auto &[name, data] : sounds_)
            fits += data.startsWith(au.Sig1[v]) && data.left(1024).contains(au.Sig2[v]);
        EXPECT_EQ(fits, 10);   // the sounds of its length
        EXPECT_TRUE(au.Sig2[v].contains("Processed by SoX"));
    }
    // One row for each length of the sounds, ticked.
    const std::vector<int> learned = rows("AU", AdaptiveOrigin());
    ASSERT_EQ(learned.size(), 2u);
    for (int i : learned) {
        EXPECT_TRUE(w->LvwTypes.ItemChecked(i));
        EXPECT_EQ(w->LvwTypes.SubItem(i, 1), "AU        ");
        EXPECT_EQ(w->LvwTypes.SubItem(i, 3), "87.5%");
        EXPECT_EQ(w->LvwTypes.SubItem(i, 4), "16");
        EXPECT_EQ(w->LvwTypes.SubItem(i, 8), "8");
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(workNative("ZTAnalyze_au.dat")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The samples are as they were.
    for (const auto &[name, data] : sounds_)
        EXPECT_EQ(readFileBytes(card_ + "/Sounds/" + name), data);

    // A card holding sounds it never saw, of both lengths, and a picture.
    const QString dir = makeTempDir("scanlearned");
    QList<scan_images::CorpusFile> files;
    const int lengths[] = {12288, 8192, 8192, 12288, 8192};
    for (int i = 0; i < 5; ++i) {
        const QByteArray data = learn_samples::makeAu(dir, QStringLiteral("n%1.au").arg(i), lengths[i], 2000 + 71 * i);
        ASSERT_FALSE(data.isEmpty());
        files.append({QStringLiteral("REC%1.AU").arg(i), ".au", data, scan_images::Expect::Identical});
    }
    ASSERT_EQ(runTool(learn_samples::imageMagick(), {"-size", "70x50", "plasma:fractal", dir + "/last.png"}), 0);
    files.append({"LAST.PNG", ".png", readFileBytes(dir + "/last.png"), scan_images::Expect::Identical});
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    for (const auto &f : files)
        ASSERT_TRUE(mcopyData(image, "/" + f.dosName, f.data));

    // The ticks of the list make the table: the learned sounds and PNG.
    for (int i : rows("PNG", ProgramOrigin()))
        w->LvwTypes.setItemChecked(i, true);
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(w->TypeRows(), filter, table);
    ASSERT_GE(table.size(), 3u);
    EXPECT_EQ(table[0].Ext, ".au");
    EXPECT_EQ(table[1].Ext, ".au");

    const QString cache = makeTempDir("cache");
    ScanOptions opt;
    opt.cacheFolder = scan_images::cacheInternal(cache);
    opt.freeMemoryMB = 0;
    FoundFileList found;
    ScanEngine engine(scan_images::imageSource(image), table, opt, scan_images::quietCallbacks(), found);
    const ScanResult result = engine.run();
    EXPECT_EQ(result.end, ScanEnd::Finished);
    const QStringList problems = scan_images::compareFound(cache, found, files);
    EXPECT_TRUE(problems.isEmpty()) << problems.join("\n").toStdString();
    EXPECT_EQ(found.FoundFileNames.value(0), "R#0000.au");
    EXPECT_EQ(boxes.pending(), 0);
}

TEST_F(LearnWindow, FolderModeCancelAndTheRefusedSystemRoot)
{
    MessageScript boxes;
    InputScript input;
    const QString caption = "DO Vizorira.  Please select a folder for analyzing.";

    // The default blank: the folder chooser; Cancel ends the run untouched.
    input.add(" ");
    ChooserStartPath = "F:\\Sounds\\";
    pressWhenShown(caption, "Cancel");
    w->CmdLearn_Click();
    expectIdle();
    EXPECT_TRUE(ListLearnedTypeFiles().isEmpty());

    // The root of the system's drive is refused: "Please select a folder."
    // and then no samples.
    input.add("  F:  ");
    w->SourceName = "F:";   // the source itself asks for the folder mode too
    ChooserStartPath = "C:\\";
    pressWhenShown(caption, "OK");
    boxes.expect(plat::id::OK, "Please select a folder.   ");
    boxes.expect(plat::id::OK, "No matching files found. Try again.   ");
    w->CmdLearn_Click();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].title, "QuilvaneDO Vizorira  ");
    EXPECT_EQ(boxes.boxes()[1].title, "QuilvaneZT Adpative  ");
    expectIdle();
    EXPECT_TRUE(ListLearnedTypeFiles().isEmpty());

    // A folder: every file in it and below is a sample. Only the files of
    // the types met are refined: ZT_a (whose name the file list "ZT_png
    // ZT_au " holds as text) stays as it was, plain and weak.
    LearnedTypeRecord a;
    a.Ext = ".a";
    a.Sig1[0] = "AAAA";
    a.Matches[0] = a.Analysed[0] = 4;
    ASSERT_TRUE(WriteLearnedTypeRecord("ZT_a.dat", a));
    const QByteArray aBytes = readFileBytes(workNative("ZT_a.dat"));
    input.add(" ");
    ChooserStartPath = "F:\\";
    pressWhenShown(caption, "OK");
    w->LearnSeed = 1;
    w->CmdLearn_Click();
    expectIdle();
    EXPECT_EQ(stored("ZT_au.dat").Enciphered, -1);
    EXPECT_EQ(rows("AU", AdaptiveOrigin()).size(), 2u);
    // The pictures gave no variant with enough matches: their file is gone.
    EXPECT_EQ(ListLearnedTypeFiles(), QStringList({"ZT_a.dat", "ZT_au.dat"}));
    EXPECT_EQ(readFileBytes(workNative("ZT_a.dat")), aBytes);
    EXPECT_EQ(input.requests.size(), 3u);
}

TEST_F(LearnWindow, CancelAndNoSamples)
{
    MessageScript boxes;
    InputScript input({"", "xyz F:", "au Q:"});
    w->CmdLearn_Click();   // Cancel
    expectIdle();
    EXPECT_TRUE(boxes.boxes().empty());
    boxes.expect(plat::id::OK, "No matching files found. Try again.   ");
    w->CmdLearn_Click();
    boxes.expect(plat::id::OK, "No matching files found. Try again.   ");
    w->CmdLearn_Click();   // a drive that does not exist
    EXPECT_EQ(boxes.pending(), 0);
    expectIdle();
    EXPECT_TRUE(ListLearnedTypeFiles().isEmpty());
}

TEST_F(LearnWindow, ASecondPressStopsTheSamplingAndWhatWasSampledIsKept)
{
    MessageScript boxes;
    InputScript input({"au F:"});
    int samples = 0;
    w->LearnSampleHook = [&](int) {
        ++samples;
        if (samples == 4 || samples == 16)
            w->CmdLearn_Click();   // the user presses again
    };
    boxes.expect(plat::id::No, "Do you want to stop analyzing?");
    boxes.expect(plat::id::Yes, "Do you want to stop analyzing?");
    w->CmdLearn_Click();
    EXPECT_EQ(boxes.pending(), 0);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].title, "QuilvaneDO Vizorira ");
    EXPECT_EQ(boxes.boxes()[0].style & plat::mb::ButtonMask, plat::mb::YesNo);
    EXPECT_EQ(samples, 16);
    expectIdle();
    // Refined and enciphered: two variants of 5 matches from 6 samples each.
    EXPECT_EQ(stored("ZT_au.dat").Enciphered, -1);
    const std::vector<int> learned = rows("AU", AdaptiveOrigin());
    ASSERT_EQ(learned.size(), 2u);
    for (int i : learned)
        EXPECT_EQ(w->LvwTypes.SubItem(i, 8), "6");

    // Another operation running: a press is ignored silently.
    w->OperationRunning = true;
    w->CmdLearn_Click();
    w->OperationRunning = false;
    EXPECT_EQ(boxes.boxes().size(), 2u);
}

TEST_F(LearnWindow, UnattendedBeforeAScan)
{
    MessageScript boxes;   // no box, no input box
    InputScript input({"au F:"});
    w->CmdLearn_Click();   // the sounds learned first
    ASSERT_EQ(rows("AU", AdaptiveOrigin()).size(), 2u);
    const QByteArray before = readFileBytes(workNative("ZT_au.dat"));

    // The scan start calls it with "Stop" on the Scan button: the fixed types
    // and the learned ones on the source drive, for 30 seconds at most.
    w->CmdScan.setCaption("Stop");
    w->SourceName = "f:";
    int64_t now = 0;
    w->LearnClockMs = [&] { return now += 4000; };
    std::vector<QString> captions;
    w->LearnSampleHook = [&](int) { captions.push_back(w->CmdLearn.Caption()); };
    w->CmdLearn_Click();
    // The pictures come first (the fixed list), then the sounds; the eighth
    // sample passes the 30 seconds.
    EXPECT_EQ(captions.size(), 8u);
    for (const QString &c : captions)
        EXPECT_EQ(c, "DO Vizorira");
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(input.requests.size(), 1u);
    expectIdle();
    const QByteArray after = readFileBytes(workNative("ZT_au.dat"));
    EXPECT_NE(after, before);
    LearnedTypeRecord au;
    ASSERT_EQ(ParseLearnedTypeRecord(after, au), LearnedTypeStatus::Ok);
    EXPECT_EQ(au.Enciphered, -1);
    EXPECT_EQ(rows("AU", AdaptiveOrigin()).size(), 2u);
    // A press during the scan starts no second run.
    w->LearnActive = true;
    w->CmdLearn_Click();
    w->LearnActive = false;
    EXPECT_TRUE(boxes.boxes().empty());
}
