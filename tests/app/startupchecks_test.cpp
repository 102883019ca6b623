// The start-up checks: the hive choice and when the first-start checks run,
// the version record, the camera-RAW plug-in's date, and the version
// strings of a file.
#include "tests/app/update_fixture.h"

#include "tests/support/responder.h"

#include <QDateTime>
#include <QDir>

#include <sys/stat.h>

using namespace app_tests;
using testing_support::MessageScript;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

class StartupChecks : public UpdateHome {
protected:
    void SetUp() override
    {
        UpdateHome::SetUp();
        // A first start: no hive chosen yet.
        plat::deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"));
        server.serve("/newinstall.txt", "welcome");
    }
    void TearDown() override
    {
        auto &s = plat::Settings::instance();
        for (int32_t hive : {HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER})
            s.setHiveReadOnly(hive, false);
        Startup().PreviousInstancesEnded = false;
        UpdateHome::TearDown();
    }
    static QString storedReg()
    {
        return plat::userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"));
    }
    // How often the first-start checks ran: they ask the server once each time.
    int firstStartChecks() const { return int(server.requests().count("/newinstall.txt")); }
};

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// UTF-16LE bytes of a text, with its terminating NUL.
QByteArray wide(const QString &text)
{
    QByteArray b;
    for (QChar c : text + QChar(0)) {
        b.append(char(c.unicode() & 0xFF));
        b.append(char(c.unicode() >> 8));
    }
    return b;
}

} // namespace

TEST_F(StartupChecks, TheFirstWritableHiveIsChosenAndTheChecksRunOnce)
{
    MessageScript none;
    auto &store = plat::Settings::instance();
    store.setHiveReadOnly(HKEY_LOCAL_MACHINE, true);
    w->StartupSystemChecks();
    EXPECT_EQ(w->RegistryHive, HKEY_USERS);
    EXPECT_EQ(storedReg(), "-2147483645");
    EXPECT_EQ(firstStartChecks(), 1);
    EXPECT_EQ(readFileBytes(programFile("new.txt")), QByteArray("welcome"));

    // The next start keeps the hive and checks nothing.
    w->StartupSystemChecks();
    EXPECT_EQ(w->RegistryHive, HKEY_USERS);
    EXPECT_EQ(firstStartChecks(), 1);

    // "clean" in any case chooses anew; the same hive is no first start.
    SetProgramArguments(QStringList{"CLEAN"});
    w->StartupSystemChecks();
    EXPECT_EQ(firstStartChecks(), 1);
    // Another hive is.
    store.setHiveReadOnly(HKEY_USERS, true);
    w->StartupSystemChecks();
    EXPECT_EQ(w->RegistryHive, HKEY_CURRENT_USER);
    EXPECT_EQ(storedReg(), "-2147483647");
    EXPECT_EQ(firstStartChecks(), 2);

    // No hive writable: the user's hive all the same.
    store.setHiveReadOnly(HKEY_CURRENT_USER, true);
    plat::deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"));
    w->RegistryHive = 0;
    w->StartupSystemChecks();
    EXPECT_EQ(w->RegistryHive, HKEY_CURRENT_USER);
}

TEST_F(StartupChecks, AStoredValueThatNamesNoHiveIsChosenAnew)
{
    MessageScript none;
    plat::saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"), QStringLiteral("5"));
    w->StartupSystemChecks();
    EXPECT_EQ(w->RegistryHive, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(storedReg(), "-2147483646");
    EXPECT_EQ(firstStartChecks(), 1);
}

TEST_F(StartupChecks, EndedEarlierInstancesOrNoServerSkipTheNotice)
{
    MessageScript none;
    Startup().PreviousInstancesEnded = true;
    w->StartupSystemChecks();
    EXPECT_EQ(storedReg(), "-2147483646");   // the choice is still stored
    EXPECT_TRUE(server.requests().isEmpty());

    Startup().PreviousInstancesEnded = false;
    useServer(QString());
    plat::deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"));
    w->StartupSystemChecks();
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(programFile("new.txt")));
}

TEST_F(StartupChecks, TheVersionIsRecordedOnceAndAgainWhenTheProgramMoved)
{
    w->RegistryHive = HKEY_LOCAL_MACHINE;
    const QString hiveFile = plat::Settings::instance().hiveFileNative(HKEY_LOCAL_MACHINE);
    w->RecordVersion();
    const QString base = QStringLiteral("Software\\Zentarix");
    EXPECT_EQ(RegGetValue(HKEY_LOCAL_MACHINE, base, "Version").toString(), "5 2 17");
    const QString folder = plat::programFolder();
    EXPECT_EQ(RegGetValue(HKEY_LOCAL_MACHINE, base, "ActPath").toString(), folder + "Quilvane.exe");

    // The second start writes nothing (the hive file is not replaced).
    const ino_t written = inodeOf(hiveFile);
    ASSERT_NE(written, ino_t(0));
    w->RecordVersion();
    EXPECT_EQ(inodeOf(hiveFile), written);

    // A new version, or a program folder elsewhere, is written again.
    SetProgramVersionOverride(VersionNumbers{5, 3, 0});
    w->RecordVersion();
    EXPECT_EQ(RegGetValue(HKEY_LOCAL_MACHINE, base, "Version").toString(), "5 3 0");
    const QString moved = testing_support::makeTempDir("moved");
    env.set("QUILVANE_HOME", moved.toLocal8Bit());
    w->RecordVersion();
    EXPECT_EQ(RegGetValue(HKEY_LOCAL_MACHINE, base, "ActPath").toString(), plat::programFolder() + "Quilvane.exe");
    EXPECT_NE(plat::programFolder(), folder);
}

TEST(CameraRawPlugin, APlugInDatedBefore28April2006GetsTheNotice)
{
    EXPECT_EQ(CameraRawPluginPath("C:\\Program Files\\Quilvane\\"),
              "C:\\Program Files\\Common Files\\Adobe\\Plug-Ins\\CS2\\File Formats\\Camera Raw.8bi");
    EXPECT_EQ(CameraRawPluginPath("C:\\a\\b\\"), "C:\\a\\Common Files\\Adobe\\Plug-Ins\\CS2\\File Formats\\Camera Raw.8bi");
    EXPECT_EQ(CameraRawPluginPath("C:\\"), "");

    const QString dir = testing_support::makeTempDir("plugin");
    const QString file = dir + "/Camera Raw.8bi";
    ASSERT_TRUE(writeFileBytes(file, "plug-in"));
    const QString internal = plat::toInternal(file);
    auto dateFile = [&](const QDateTime &when) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    };

    dateFile(QDateTime(QDate(2006, 4, 27), QTime(23, 59)));
    {
        MessageScript script;
        script.expect(plat::id::OK,
                      "The Adobe plug-in for raw files is out dated.\r\nIf getting the error 'this is not the right "
                      "kind of document' using Adobe for raw files,\r\nthen please update the raw plug-in.");
        CheckCameraRawPluginAt(internal);
        EXPECT_EQ(script.boxes().at(0).title, "System check");
    }
    dateFile(QDateTime(QDate(2006, 4, 28), QTime(0, 0)));
    MessageScript none;
    CheckCameraRawPluginAt(internal);
    CheckCameraRawPluginAt(plat::toInternal(dir + "/missing.8bi"));
    CheckCameraRawPlugin();   // below this home there is none
}

TEST(VersionResource, TheTwelveStringsAreReadFromTheVersionInformation)
{
    // A version block as a resource compiler lays it out: values after their
    // key's NUL, some after one NUL of padding more.
    QByteArray strings = wide("StringFileInfo") + wide("040904B0") + wide("CompanyName") + QByteArray(2, '\0')
        + wide("Zentarix") + wide("FileVersion") + wide("6.00.9782") + wide("ProductName") + QByteArray(2, '\0')
        + wide("Quilvane") + wide("Comments") + wide("");
    QByteArray block = QByteArray(2, '\0') + QByteArray(2, '\0') + QByteArray(2, '\0') + wide("VS_VERSION_INFO")
        + QByteArray(2, '\0') + strings;
    block[0] = char(block.size() & 0xFF);
    block[1] = char(block.size() >> 8);

    QString fileVersion = "untouched";
    const QStringList list = ReadVersionStrings(FindVersionInfo(QByteArray(1000, 'M') + block + "trailing bytes"), fileVersion);
    ASSERT_EQ(list.size(), 12);
    EXPECT_EQ(list[0], "CompanyName: Zentarix");
    EXPECT_EQ(list[1], "FileDescription");
    EXPECT_EQ(list[2], "FileVersion: 6.00.9782");
    EXPECT_EQ(list[6], "ProductName: Quilvane");
    EXPECT_EQ(list[8], "Comments: ");
    EXPECT_EQ(list[11], "SpecialBuild");
    EXPECT_EQ(fileVersion, "6.00.9782");

    // From a file; a file without version information gives nothing.
    const QString dir = testing_support::makeTempDir("vers");
    ASSERT_TRUE(writeFileBytes(dir + "/lib.dll", QByteArray("MZ") + QByteArray(300, '\0') + block));
    fileVersion.clear();
    EXPECT_EQ(ReadVersionResource(plat::toInternal(dir + "/lib.dll"), fileVersion), list);
    ASSERT_TRUE(writeFileBytes(dir + "/plain.bin", QByteArray(4096, 'x')));
    fileVersion = "untouched";
    EXPECT_TRUE(ReadVersionResource(plat::toInternal(dir + "/plain.bin"), fileVersion).isEmpty());
    EXPECT_TRUE(ReadVersionResource(plat::toInternal(dir + "/none.dll"), fileVersion).isEmpty());
    EXPECT_EQ(fileVersion, "untouched");

    // A block cut short, or whose length says more than the file holds, is
    // read within the bytes there are.
    QByteArray cut = block.left(block.size() - 30);
    cut[0] = char(0xFF);
    cut[1] = char(0xFF);
    const QStringList shortList = ReadVersionStrings(FindVersionInfo(cut), fileVersion);
    EXPECT_EQ(shortList.size(), 12);
    EXPECT_EQ(shortList[0], "CompanyName: Zentarix");
}
