// The settings store: round trips through the hive files, names without
// regard to case, key deletion, damaged files, other instances' changes, the
// per-user store, and the atomic write proven by killing a writer.
#include "platform/settings.h"

#include "tests/support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace plat;
using testing_support::makeTempDir;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

const QString kKey = QStringLiteral("Software\\Zentarix\\SettingsTest");

// The payload of generation n of the writer: large enough that a kill often
// lands inside a write, and checkable as a whole.
QString payload(int gen)
{
    return QString::number(gen) + QLatin1Char(':') + QString(150000, QChar(u'a' + gen % 26)) + QStringLiteral(":end");
}

bool payloadWhole(const QString &text, int *gen)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    bool ok = false;
    *gen = text.left(colon).toInt(&ok);
    return colon > 0 && ok && text == payload(*gen);
}

// The writer child: started by the atomic-write test with this variable set,
// it writes ever newer generations into its own home until it is killed.
// It runs before the test main, so it never reaches the tests.
[[maybe_unused]] const bool writerChild = [] {
    const QByteArray home = qgetenv("QUILVANE_SETTINGS_WRITER_HOME");
    if (home.isEmpty())
        return false;
    qputenv("QUILVANE_HOME", home);
    int gen = 0;
    if (auto v = Settings::instance().value(HiveCurrentUser, QStringLiteral("Software\\Torture"), QStringLiteral("data")))
        payloadWhole(v->text, &gen);
    // Never outlives the test: it stops when its parent is gone.
    const pid_t parent = ::getppid();
    while (::getppid() == parent)
        Settings::instance().setText(HiveCurrentUser, QStringLiteral("Software\\Torture"), QStringLiteral("data"),
                                     payload(++gen));
    ::_exit(0);
}();

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings &s = Settings::instance();
        s.deleteTree(HiveCurrentUser, QStringLiteral("Software\\Zentarix"));
        s.deleteTree(HiveCurrentUser, QStringLiteral("Software\\VB and VBA Program Settings"));
        s.setHiveReadOnly(HiveCurrentUser, false);
    }
    void TearDown() override { Settings::instance().setHiveReadOnly(HiveCurrentUser, false); }
};

} // namespace

TEST_F(SettingsStore, TextAndNumbersSurviveARestart)
{
    Settings &s = Settings::instance();
    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("LUD"), QStringLiteral("C:\\Recovered\\")), SettingsOk);
    EXPECT_EQ(s.setNumber(HiveCurrentUser, kKey, QStringLiteral("BRD"), 12), SettingsOk);
    EXPECT_EQ(s.setNumber(HiveCurrentUser, kKey, QStringLiteral("Neg"), -2147483646), SettingsOk);
    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QString(), QStringLiteral("default")), SettingsOk);
    const QString odd = QStringLiteral("quote \" back \\ line\nbreak\ttab\r cr ") + QChar(0) + QStringLiteral("after nul \x01");
    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("name = \"odd\" ]"), odd), SettingsOk);
    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("Umlaut"), QStringLiteral("Gr\u00fc\u00dfe \u20ac")), SettingsOk);

    const QByteArray file = readFileBytes(s.hiveFileNative(HiveCurrentUser));
    EXPECT_TRUE(file.contains("[HKEY_CURRENT_USER\\Software\\Zentarix\\SettingsTest]"));
    EXPECT_TRUE(file.contains("\"BRD\"=dword:0000000c"));
    EXPECT_TRUE(file.contains("\"LUD\"=\"C:\\\\Recovered\\\\\""));

    s.reload();   // as a new run would read the file
    auto lud = s.value(HiveCurrentUser, kKey, QStringLiteral("LUD"));
    ASSERT_TRUE(lud);
    EXPECT_EQ(lud->type, SettingsText);
    EXPECT_EQ(lud->text, QStringLiteral("C:\\Recovered\\"));
    auto brd = s.value(HiveCurrentUser, kKey, QStringLiteral("BRD"));
    ASSERT_TRUE(brd);
    EXPECT_EQ(brd->type, SettingsNumber);
    EXPECT_EQ(brd->number, 12);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("Neg"))->number, -2147483646);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QString())->text, QStringLiteral("default"));
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("name = \"odd\" ]"))->text, odd);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("Umlaut"))->text, QStringLiteral("Gr\u00fc\u00dfe \u20ac"));

    int status = -1;
    EXPECT_FALSE(s.value(HiveCurrentUser, kKey, QStringLiteral("Missing"), &status));
    EXPECT_EQ(status, SettingsNotFound);
    EXPECT_FALSE(s.value(HiveCurrentUser, kKey + QStringLiteral("\\Nope"), QStringLiteral("LUD"), &status));
    EXPECT_EQ(status, SettingsNotFound);
    EXPECT_FALSE(s.value(12345, kKey, QStringLiteral("LUD"), &status));
    EXPECT_EQ(status, SettingsInvalid);

    // A number replaces a text of the same name, and back.
    s.setNumber(HiveCurrentUser, kKey, QStringLiteral("LUD"), 7);
    s.reload();
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("LUD"))->type, SettingsNumber);
    EXPECT_EQ(s.valueNames(HiveCurrentUser, kKey).count(QStringLiteral("LUD")), 1);
}

TEST_F(SettingsStore, NamesIgnoreCaseAndKeepTheirFirstCase)
{
    Settings &s = Settings::instance();
    s.setText(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\MixedCase"), QStringLiteral("ValueName"), QStringLiteral("one"));
    s.setText(HiveCurrentUser, QStringLiteral("SOFTWARE\\zentarix\\MIXEDCASE"), QStringLiteral("VALUENAME"), QStringLiteral("two"));
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("software\\ZENTARIX\\mixedcase")));
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("\\Software\\\\Zentarix\\MixedCase\\")));
    s.reload();
    EXPECT_EQ(s.subkeys(HiveCurrentUser, QStringLiteral("software\\zentarix")), QStringList{QStringLiteral("MixedCase")});
    EXPECT_EQ(s.valueNames(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\MixedCase")),
              QStringList{QStringLiteral("ValueName")});
    EXPECT_EQ(s.value(HiveCurrentUser, QStringLiteral("software\\zentarix\\mixedcase"), QStringLiteral("valuename"))->text,
              QStringLiteral("two"));

    // Hives are separate files.
    EXPECT_FALSE(s.keyExists(HiveLocalMachine, QStringLiteral("Software\\Zentarix\\MixedCase")));
    EXPECT_NE(s.hiveFileNative(HiveLocalMachine), s.hiveFileNative(HiveCurrentUser));
    // A key name cannot hold a line break (it could not be written back).
    EXPECT_EQ(s.createKey(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\bad\nname")), SettingsInvalid);
}

TEST_F(SettingsStore, KeysAreCreatedWithParentsAndDeletedLeafFirst)
{
    Settings &s = Settings::instance();
    bool created = false;
    EXPECT_EQ(s.createKey(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C"), &created), SettingsOk);
    EXPECT_TRUE(created);
    EXPECT_EQ(s.createKey(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C"), &created), SettingsOk);
    EXPECT_FALSE(created);
    s.reload();
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B")));
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C")));   // empty keys persist

    EXPECT_EQ(s.deleteKey(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B")), SettingsAccessDenied);
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C")));
    EXPECT_EQ(s.deleteKey(HiveCurrentUser, QStringLiteral("software\\zentarix\\a\\b\\c")), SettingsOk);
    EXPECT_FALSE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C")));
    EXPECT_EQ(s.deleteKey(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\C")), SettingsNotFound);
    EXPECT_EQ(s.deleteKey(HiveCurrentUser, QString()), SettingsAccessDenied);   // the hive's root stays

    s.setText(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A\\B\\D"), QStringLiteral("v"), QStringLiteral("x"));
    EXPECT_EQ(s.deleteTree(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A")), SettingsOk);
    s.reload();
    EXPECT_FALSE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix\\A")));
    EXPECT_TRUE(s.keyExists(HiveCurrentUser, QStringLiteral("Software\\Zentarix")));

    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("gone"), QStringLiteral("x")), SettingsOk);
    EXPECT_EQ(s.deleteValue(HiveCurrentUser, kKey, QStringLiteral("GONE")), SettingsOk);
    EXPECT_FALSE(s.value(HiveCurrentUser, kKey, QStringLiteral("gone")));
    EXPECT_EQ(s.deleteValue(HiveCurrentUser, kKey, QStringLiteral("gone")), SettingsNotFound);
}

TEST_F(SettingsStore, ReadOnlyHiveRefusesChangesAndKeepsValues)
{
    Settings &s = Settings::instance();
    s.setText(HiveCurrentUser, kKey, QStringLiteral("kept"), QStringLiteral("old"));
    const QByteArray before = readFileBytes(s.hiveFileNative(HiveCurrentUser));
    s.setHiveReadOnly(HiveCurrentUser, true);
    EXPECT_FALSE(s.hiveWritable(HiveCurrentUser));
    EXPECT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("kept"), QStringLiteral("new")), SettingsAccessDenied);
    EXPECT_EQ(s.createKey(HiveCurrentUser, kKey + QStringLiteral("\\New")), SettingsAccessDenied);
    EXPECT_EQ(s.deleteTree(HiveCurrentUser, kKey), SettingsAccessDenied);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("kept"))->text, QStringLiteral("old"));
    EXPECT_EQ(readFileBytes(s.hiveFileNative(HiveCurrentUser)), before);
    s.setHiveReadOnly(HiveCurrentUser, false);
    EXPECT_TRUE(s.hiveWritable(HiveCurrentUser));
}

TEST_F(SettingsStore, DamagedFilesAndOtherInstancesChanges)
{
    Settings &s = Settings::instance();
    const QString file = s.hiveFileNative(HiveUsers);
    // A file cut in the middle of a line, with stray lines: what is whole is read.
    ASSERT_TRUE(writeFileBytes(file, "Windows Registry Editor Version 5.00\n\n"
                                     "[HKEY_USERS\\Software\\Zentarix]\n"
                                     "\"Good\"=\"yes\"\n"
                                     "garbage line\n"
                                     "\"Num\"=dword:0000002a\n"
                                     "\"BadNum\"=dword:12\n"
                                     "[HKEY_LOCAL_MACHINE\\Elsewhere]\n"
                                     "\"Foreign\"=\"no\"\n"
                                     "[HKEY_USERS\\Software\\Zentarix\\Sub]\n"
                                     "\"Cut\"=\"this value never ended"));
    EXPECT_EQ(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Good"))->text, QStringLiteral("yes"));
    EXPECT_EQ(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Num"))->number, 42);
    EXPECT_FALSE(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("BadNum")));
    EXPECT_FALSE(s.keyExists(HiveUsers, QStringLiteral("Elsewhere")));
    EXPECT_TRUE(s.keyExists(HiveUsers, QStringLiteral("Software\\Zentarix\\Sub")));
    EXPECT_FALSE(s.value(HiveUsers, QStringLiteral("Software\\Zentarix\\Sub"), QStringLiteral("Cut")));

    // Another instance replaces the file: the next read sees it, and a change
    // made here keeps that instance's values.
    ASSERT_TRUE(writeFileBytes(file + ".other", "[HKEY_USERS\\Software\\Zentarix]\n\"Good\"=\"changed elsewhere\"\n"));
    ASSERT_EQ(::rename(QFile::encodeName(file + ".other").constData(), QFile::encodeName(file).constData()), 0);
    EXPECT_EQ(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Good"))->text,
              QStringLiteral("changed elsewhere"));
    EXPECT_EQ(s.setText(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Mine"), QStringLiteral("here")), SettingsOk);
    s.reload();
    EXPECT_EQ(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Good"))->text,
              QStringLiteral("changed elsewhere"));
    EXPECT_EQ(s.value(HiveUsers, QStringLiteral("Software\\Zentarix"), QStringLiteral("Mine"))->text, QStringLiteral("here"));
    s.deleteTree(HiveUsers, QStringLiteral("Software"));
}

TEST_F(SettingsStore, PerUserStoreWritesThrough)
{
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("LastCluster"), QStringLiteral("none")),
              QStringLiteral("none"));
    EXPECT_TRUE(saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("LastCluster"), QStringLiteral("33")));
    // On disk at once: a program killed right after still finds the marker.
    EXPECT_TRUE(readFileBytes(Settings::instance().hiveFileNative(HiveCurrentUser)).contains("\"LastCluster\"=\"33\""));
    Settings::instance().reload();
    EXPECT_EQ(userSetting(QStringLiteral("zentarix"), QStringLiteral("QUILVANE"), QStringLiteral("lastcluster")), QStringLiteral("33"));
    EXPECT_TRUE(Settings::instance().keyExists(HiveCurrentUser, QStringLiteral("Software\\VB and VBA Program Settings\\Zentarix\\Quilvane")));

    saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB"), QStringLiteral("500"));
    saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Other"), QStringLiteral("X"), QStringLiteral("1"));
    EXPECT_TRUE(deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB")));
    EXPECT_FALSE(deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB")));
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_TRUE(deleteUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane")));
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("LastCluster")), QString());
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Other"), QStringLiteral("X")), QStringLiteral("1"));
    EXPECT_TRUE(deleteUserSetting(QStringLiteral("Zentarix")));
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Other"), QStringLiteral("X")), QString());
    EXPECT_FALSE(saveUserSetting(QString(), QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v")));
}

// Many values in a batch: read back at once from memory, on disk in one
// write when the batch ends (the file keeps its old bytes until then);
// a batch within a batch writes with the outer one.
TEST_F(SettingsStore, ABatchWritesItsValuesOnce)
{
    Settings &s = Settings::instance();
    const QString file = s.hiveFileNative(HiveCurrentUser);
    ASSERT_EQ(s.setText(HiveCurrentUser, kKey, QStringLiteral("Before"), QStringLiteral("1")), SettingsOk);
    const QByteArray before = readFileBytes(file);
    {
        SettingsBatch batch;
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(s.setNumber(HiveCurrentUser, kKey, QStringLiteral("V%1").arg(i), i + 1), SettingsOk);
        {
            SettingsBatch inner;
            saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB"),
                            QStringLiteral("77"));
        }
        EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("V199"))->number, 200);
        EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB")),
                  QStringLiteral("77"));
        EXPECT_EQ(readFileBytes(file), before);
    }
    EXPECT_NE(readFileBytes(file), before);
    s.reload();
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("V0"))->number, 1);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("V199"))->number, 200);
    EXPECT_EQ(s.value(HiveCurrentUser, kKey, QStringLiteral("Before"))->text, QStringLiteral("1"));
    EXPECT_EQ(userSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB")),
              QStringLiteral("77"));
}

TEST_F(SettingsStore, AKilledWriterLeavesTheOldFileWhole)
{
    const QString home = makeTempDir(QStringLiteral("writer"));
    const QByteArray ownHome = qgetenv("QUILVANE_HOME");
    const QString hiveFile = home + QStringLiteral("/config/HKEY_CURRENT_USER.reg");
    int lastGen = 0;
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILVANE_SETTINGS_WRITER_HOME"), home);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_list_tests")});
        ASSERT_TRUE(child.waitForStarted(10000));
        // Wait until the child has written a generation newer than the last
        // round's, then kill it wherever it is.
        qputenv("QUILVANE_HOME", home.toLocal8Bit());
        int gen = 0;
        for (int i = 0; i < 2000 && gen <= lastGen; ++i) {
            QThread::msleep(5);
            if (auto v = Settings::instance().value(HiveCurrentUser, QStringLiteral("Software\\Torture"), QStringLiteral("data")))
                payloadWhole(v->text, &gen);
        }
        QThread::usleep(QRandomGenerator::global()->bounded(1, 20000));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(10000);

        Settings::instance().reload();
        auto v = Settings::instance().value(HiveCurrentUser, QStringLiteral("Software\\Torture"), QStringLiteral("data"));
        qputenv("QUILVANE_HOME", ownHome);
        ASSERT_TRUE(v) << "round " << round << ": the hive lost its value";
        int found = 0;
        EXPECT_TRUE(payloadWhole(v->text, &found)) << "round " << round << ": torn value";
        EXPECT_GT(found, lastGen);
        EXPECT_TRUE(readFileBytes(hiveFile).endsWith(":end\"\n\n"));
        lastGen = found;
    }
    Settings::instance().reload();
}
