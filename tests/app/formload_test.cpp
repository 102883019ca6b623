// The whole loading sequence of the main window, headless: in each of the
// three languages, with stored settings, with the command words uninstall
// and cache, and the splash gone at its end.
#include "tests/app/startup_fixture.h"

#include "drive/registry.h"
#include "drive/ui/chooser.h"
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

using namespace app_tests;
using testing_support::MessageScript;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

class Loading : public FreshHome {
protected:
    // A new home (or the one given) and a new window, with the locale given.
    void freshStart(const QByteArray &lang, const QString &givenHome = {})
    {
        ReleaseInstanceLock();
        UnloadSplashForm();
        home = givenHome.isEmpty() ? testing_support::makeTempDir(QStringLiteral("home")) : givenHome;
        env.set("QUILVANE_HOME", home.toLocal8Bit());
        env.locale(lang);
        plat::Settings::instance().reload();
        keepProgramKeyInUserHive();
        exits = 0;
        w = &CreateMainWindow();
    }
    void store(const char *name, const QVariant &value)
    {
        RegSetValue(HKEY_CURRENT_USER, frmRecover::ProgramKey, QString::fromLatin1(name), value);
    }
};

} // namespace

TEST_F(Loading, StartsInEachLanguageWithTheStoredSettings)
{
    const struct {
        QByteArray lang;
        int language;
        const char *end, *learn, *caption;
    } runs[] = {
        {"en_GB.UTF-8", 9, "End", "DO Vizorira", "Quilvane Pro       File & Media Recovery"},
        {"de_AT.UTF-8", 1031, "Beenden", "Lernmodus", "Quilvane Pro       Datei- & Medienrettung"},
        {"nl_BE.UTF-8", 1043, "Afsluiten", "DO Vizorira", "Quilvane Pro       Bestands- & mediaherstel"},
    };
    const QString images = testing_support::makeTempDir("card");
    testing_support::FatImageSpec spec;
    const QString card = testing_support::makeFatImage(images, "card.img", spec);
    ASSERT_FALSE(card.isEmpty());

    for (const auto &run : runs) {
        freshStart(run.lang);
        ASSERT_TRUE(testing_support::attachRemovable('E', card));
        store("TW", 96);
        store("ML", -200);
        store("MT", 300);
        store("MW", 0);
        store("LMaxMB", "0,5#");
        {
            MessageScript none;
            w->Form_Load();
        }
        SCOPED_TRACE(run.lang.constData());
        EXPECT_EQ(exits, 0);
        EXPECT_EQ(CurrentLanguageId(), run.language);
        EXPECT_TRUE(w->StartupFinished);
        EXPECT_TRUE(w->Enabled());
        EXPECT_TRUE(w->Visible());
        EXPECT_FALSE(w->widget()->isHidden());
        EXPECT_EQ(w->MousePointer(), 0);
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_TRUE(w->Timer1.Enabled());
        EXPECT_EQ(w->Timer1.Interval(), 1000);
        EXPECT_EQ(SplashFormIfMade(), nullptr) << "the splash is gone";

        // Captions and tool tips in the language.
        EXPECT_EQ(w->Caption(), QString::fromUtf8(run.caption));
        EXPECT_EQ(w->CmdEnd.Caption(), QString::fromUtf8(run.end));
        EXPECT_EQ(w->CmdLearn.Caption(), QString::fromUtf8(run.learn));
        EXPECT_EQ(w->CmdEnd.ToolTipText(), GetString(856, "End Quilvane."));
        EXPECT_FALSE(w->ListColors.List(3).isEmpty());
        EXPECT_TRUE(w->Drive1.ToolTipText().contains(GetString(2259, "x"))) << "the card reader hint translated";
        for (plat::Control *c : std::initializer_list<plat::Control *>{
                 &w->CmdSaveAll, &w->CmdSaveAs, &w->CmdOpen, &w->CmdMaxSpeed, &w->CmdQuickUndelete, &w->CmdScan,
                 &w->CmdShowFolder, &w->CmdShowThumbs, &w->CmdLearn, &w->TxtWidth, &w->CmdRenderWidth,
                 &w->CmdShowScanTypes, &w->ChkDeep, &w->CmdBackup, &w->CmdScanBackup, &w->CmdBrowse, &w->lblAbout,
                 &w->lblHelp})
            EXPECT_FALSE(c->ToolTipText().isEmpty());

        // The settings read, the card chosen, the manual in the language.
        EXPECT_EQ(w->TxtWidth.Text(), "96");
        EXPECT_EQ(w->ThumbWidth, 96);
        EXPECT_EQ(w->Left(), 0) << "a place off the screen goes to the corner";
        EXPECT_EQ(w->Top(), 0);
        EXPECT_EQ(w->SizeLimitMax, 0.5);
        EXPECT_EQ(w->ListColors.ListIndex(), 2);
        EXPECT_EQ(w->Drive1.Drive().left(2), "e:");
        EXPECT_EQ(w->SourceName, "e:");
        EXPECT_EQ(w->CmdBackup.Caption(), FormatString(GetString(1407, "Backup %0\\"), {"e:"}));
        EXPECT_TRUE(w->CacheRoot.endsWith(kCacheFolderName + "\\"));
        EXPECT_FALSE(w->DateSeparator.isEmpty());
        EXPECT_EQ(GetSetting(ProgramFileBaseName(), "MultiLang", "LangId"), QString::number(run.language));
        const QByteArray manual = readFileBytes(homeFile("Manual/Manual.htm"));
        EXPECT_EQ(manual, readFileBytes(homeFile("Manual/" + LanguageName() + "/Quilvane Pro - hilfe.html")));
        EXPECT_TRUE(QFile::exists(homeFile(ProgramFileBaseName() + ".exe.manifest")));
        testing_support::detachDrive('E');
    }
}

TEST_F(Loading, EveryStartTakesTheLanguageOfTheSystemOrTheCommandLine)
{
    // One home: each start chooses afresh; LangId follows the manual.
    const struct {
        const char *language;   // LANGUAGE, over an English LANG
        QStringList args;
        int id;
        const char *end, *page;
    } runs[] = {
        {nullptr, {}, 9, "End", "English"},
        {"de_DE.UTF-8", {}, 1031, "Beenden", "Deutsch"},
        {"nl_NL.UTF-8", {}, 1043, "Afsluiten", "Nederlands"},
        {nullptr, {"1031", "language"}, 1031, "Beenden", "Deutsch"},
        {nullptr, {"1031language"}, 1031, "Beenden", "Deutsch"},
        {nullptr, {}, 9, "End", "English"},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.id);
        ReleaseInstanceLock();
        UnloadSplashForm();
        env.locale("en_US.UTF-8");
        env.set("LANGUAGE", run.language ? std::optional(QByteArray(run.language)) : std::nullopt);
        SetProgramArguments(run.args);
        w = &CreateMainWindow();
        {
            MessageScript none;
            w->Form_Load();
        }
        ASSERT_TRUE(w->StartupFinished);
        EXPECT_EQ(CurrentLanguageId(), run.id);
        EXPECT_EQ(w->CmdEnd.Caption(), QString::fromUtf8(run.end));
        EXPECT_EQ(GetSetting(ProgramFileBaseName(), "MultiLang", "LangId"), QString::number(run.id));
        EXPECT_EQ(readFileBytes(homeFile("Manual/Manual.htm")),
                  readFileBytes(homeFile(QString("Manual/") + run.page + "/Quilvane Pro - hilfe.html")));
        // The settings of an ordinary end, as the next start finds them.
        w->CreateRegistryEntries();
    }
}

TEST_F(Loading, ThePresetBoxShowsWhatIsInForceAfterARestart)
{
    freshStart("en_US.UTF-8");
    MessageScript boxes;
    w->Form_Load();
    auto restart = [this](std::function<void()> stored = {}) {
        w->CreateRegistryEntries();   // as End writes them
        if (stored)
            stored();
        ReleaseInstanceLock();
        UnloadSplashForm();
        w = &CreateMainWindow();
        w->Form_Load();
    };
    auto row = [this](const QString &name) {
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemText(i) == name)
                return i;
        return 0;
    };
    auto ticked = [this] {
        QStringList names;
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemChecked(i))
                names << w->LvwTypes.ItemText(i);
        return names;
    };

    // A preset in force is shown again.
    const int nikon = 14;
    ASSERT_EQ(w->CmbTypeSelect.List(nikon), "Nikon");
    w->CmbTypeSelect.setListIndex(nikon);
    const QStringList nikonTicks = ticked();
    restart();
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), nikon);
    EXPECT_EQ(ticked(), nikonTicks);

    // The user's own ticks and a size limit: the prompt, the ticks kept.
    w->LvwTypes.setItemChecked(row("PNG"), true);
    w->LvwTypes_ItemCheck(row("PNG"));
    w->CmbTypeSelect.setVisible(true);
    SetInputBoxResponder([](const InputBoxRequest &) { return QStringLiteral("1-25"); });
    boxes.expect(plat::id::OK, "Limited: file size 1-25 MB");
    w->CmbTypeSelect.setListIndex(0);
    SetInputBoxResponder({});
    const QStringList ownTicks = ticked();
    ASSERT_NE(ownTicks, nikonTicks);
    restart();
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), -1);
    EXPECT_EQ(w->CmbTypeSelect.Text(), "Pre Select Types for Scan");
    EXPECT_EQ(ticked(), ownTicks);
    EXPECT_EQ(w->SizeLimitMax, 25);

    // "All camera's" stored by an earlier version beside the user's ticks
    // is not claimed either.
    restart([this] { store("TypeSel", 1); });
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), -1);
    EXPECT_EQ(ticked(), ownTicks);
}

TEST_F(Loading, UninstallAsksBeforeUnsavedFoundFilesGoThenCleansUpAndEnds)
{
    freshStart("en_US.UTF-8");
    SetProgramArguments(QStringList{"UnInstall"});
    const QString root = w->DefaultCacheRoot();
    QDir().mkpath(plat::toNative(root));
    ASSERT_TRUE(writeFileBytes(plat::toNative(root) + "/R#0001.jpg", "x"));
    ASSERT_TRUE(writeFileBytes(homeFile("temp_note.txt"), "x"));
    {
        MessageScript script;
        script.expect(plat::id::Yes, "The cache holds 1 recovered files that were never saved.");
        w->Form_Load();
        EXPECT_EQ(script.boxes().at(0).timeoutAnswer, plat::id::No) << "no answer keeps them";
    }
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(w->StartupFinished);
    EXPECT_TRUE(w->widget()->isHidden());
    EXPECT_FALSE(QFile::exists(plat::toNative(root) + "/R#0001.jpg"));
    EXPECT_FALSE(QFile::exists(homeFile("temp_note.txt"))) << "the program's own folder";
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, frmRecover::ProgramKey)) << "no setting written";
    EXPECT_EQ(SplashFormIfMade(), nullptr);
}

TEST_F(Loading, UninstallKeepsUnsavedFoundFilesAndAUsersFolder)
{
    // A program folder set to a folder of the user's (none of the program's
    // words in its path).
    QTemporaryDir users(QDir::tempPath() + "/shared-XXXXXX");
    ASSERT_TRUE(users.isValid());
    for (const int answer : {0, int(plat::id::No)}) {   // no box could be shown; No
        SCOPED_TRACE(answer);
        freshStart("en_US.UTF-8", users.path());
        SetProgramArguments(QStringList{"uninstall"});
        const QString root = plat::toNative(w->DefaultCacheRoot());
        QDir().mkpath(root);
        ASSERT_TRUE(writeFileBytes(root + "/R#0001.jpg", "1"));
        ASSERT_TRUE(writeFileBytes(root + "/R#0002.png", "2"));
        ASSERT_TRUE(writeFileBytes(homeFile("temp_note.txt"), "mine"));
        ASSERT_TRUE(writeFileBytes(homeFile("version.txt"), "mine too"));
        {
            MessageScript script;
            script.expect(answer, "The cache holds 2 recovered files that were never saved.");
            w->Form_Load();
        }
        EXPECT_EQ(exits, 1);
        EXPECT_TRUE(QFile::exists(root + "/R#0001.jpg"));
        EXPECT_TRUE(QFile::exists(root + "/R#0002.png"));
        EXPECT_EQ(readFileBytes(homeFile("temp_note.txt")), "mine");
        EXPECT_EQ(readFileBytes(homeFile("version.txt")), "mine too");
        EXPECT_TRUE(QDir(homeFile("ZTRecdt")).exists()) << "no tree of a folder without the program's words";
    }
}

TEST_F(Loading, AnEndInAUsersFolderLeavesItsTempFiles)
{
    QTemporaryDir users(QDir::tempPath() + "/shared-XXXXXX");
    ASSERT_TRUE(users.isValid());
    freshStart("en_US.UTF-8", users.path());
    {
        MessageScript none;
        w->Form_Load();
    }
    ASSERT_TRUE(writeFileBytes(homeFile("temp_note.txt"), "mine"));
    w->CmdEnd_Click();
    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(readFileBytes(homeFile("temp_note.txt")), "mine");
}

TEST_F(Loading, CacheGivenOrAskedOnTheCommandLine)
{
    // A stored cache with files gives way to the one given, also when that
    // one is still empty, and is kept as the previous cache.
    freshStart("en_US.UTF-8");
    const QString storedNative = testing_support::makeTempDir("stored") + "/" + kCacheFolderName;
    QDir().mkpath(storedNative);
    const QString stored = plat::toInternal(storedNative + "/");
    ASSERT_TRUE(writeFileBytes(plat::toNative(stored) + "/R#0001.jpg", "x"));
    store("TCache", stored);
    const QString given = testing_support::makeTempDir("given");
    SetProgramArguments(QStringList{"cache=" + given});
    {
        MessageScript none;
        w->Form_Load();
    }
    EXPECT_EQ(w->CacheRoot, plat::toInternal(given + "/") + kCacheFolderName + "\\");
    EXPECT_EQ(w->PrevCacheRoot, stored);
    EXPECT_TRUE(QDir(given + "/" + kCacheFolderName).exists());

    // "cache" alone asks; an empty answer leaves the cache as it was.
    freshStart("en_US.UTF-8");
    SetProgramArguments(QStringList{"cache"});
    int asked = 0;
    SetInputBoxResponder([&](const InputBoxRequest &r) {
        ++asked;
        EXPECT_EQ(r.title, "Quilvane Cache");
        EXPECT_EQ(r.prompt, "Cache:");
        return QString();
    });
    {
        MessageScript none;
        w->Form_Load();
    }
    SetInputBoxResponder({});
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(w->CacheRoot, w->DefaultCacheRoot());
    EXPECT_TRUE(w->StartupFinished);
}

TEST_F(Loading, TheWidthBoxShowsTheKeptThumbnailsWidthAfterARestart)
{
    // Thumbnails made at 120, then the end after an NTFS volume: the
    // settings keep 120, the list file still holds the width of the start.
    freshStart("en_US.UTF-8");
    const QString cache = plat::toNative(w->DefaultCacheRoot());
    QDir().mkpath(cache);
    QImage picture(60, 40, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(picture.save(cache + QString("/R#000%1.jpg").arg(i)));
    MessageScript none;
    w->Form_Load();
    ASSERT_EQ(w->TxtWidth.Text(), "72");
    w->TxtWidth.setText("120");
    w->CmdRenderWidth_Click();
    ASSERT_EQ(w->RenderedThumbWidth, 120);
    ASSERT_EQ(QImage(cache + "/Thumbs/0001jpg.jpg").width(), 120);
    w->MftWasOpened = true;
    w->CmdEnd_Click();
    for (int pass = 0; pass < 4 && exits == 0; ++pass)
        w->Timer2_Timer();
    ASSERT_EQ(exits, 1);

    ReleaseInstanceLock();
    UnloadSplashForm();
    w = &CreateMainWindow();
    w->Form_Load();
    EXPECT_EQ(w->RenderedThumbWidth, 120);
    EXPECT_EQ(w->TxtWidth.Text(), "120");
    EXPECT_EQ(w->ThumbWidth, 120);
    EXPECT_EQ(w->ThumbHeight, 80);
    ScanListData list;
    ASSERT_EQ(ReadScanListFile(w->ScanListFile(), 3, list), ScanListStatus::Loaded);
    EXPECT_EQ(list.thumbWidth, 120) << "the list file written at the start agrees";
}
