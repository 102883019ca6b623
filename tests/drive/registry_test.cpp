// The registry operations: the value type chosen by RegSetValue, reading
// back, parents created, sub-key deletion, the base-key test and the
// per-user store.
#include "drive/registry.h"

#include "tests/support/fixtures.h"

#include <QVariant>
#include <gtest/gtest.h>

using testing_support::readFileBytes;

namespace {

const QString kBase = QStringLiteral("Software\\Zentarix\\RegistryTest");

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::Settings::instance().deleteTree(HKEY_CURRENT_USER, QStringLiteral("Software\\Zentarix"));
        plat::Settings::instance().setHiveReadOnly(HKEY_CURRENT_USER, false);
    }
    void TearDown() override { plat::Settings::instance().setHiveReadOnly(HKEY_CURRENT_USER, false); }

    static int storedType(const QString &name)
    {
        auto v = plat::Settings::instance().value(HKEY_CURRENT_USER, kBase, name);
        return v ? v->type : 0;
    }
};

} // namespace

TEST_F(Registry, TheValueChoosesItsType)
{
    struct Case {
        const char *name;
        QVariant value;
        int type;
        QVariant back;
    };
    const Case cases[] = {
        {"zero", QVariant(0), REG_SZ, QVariant(QStringLiteral("0"))},
        {"twelve", QVariant(12), REG_DWORD, QVariant(12)},
        {"twelveText", QVariant(QStringLiteral("  12 ")), REG_DWORD, QVariant(12)},
        {"twoHalf", QVariant(2.5), REG_DWORD, QVariant(2)},
        {"threeHalf", QVariant(3.5), REG_DWORD, QVariant(4)},
        {"threeHalfText", QVariant(QStringLiteral("3.5")), REG_DWORD, QVariant(4)},
        {"negative", QVariant(-7), REG_DWORD, QVariant(-7)},
        {"true", QVariant(true), REG_SZ, QVariant(QStringLiteral("True"))},
        {"false", QVariant(false), REG_SZ, QVariant(QStringLiteral("False"))},
        {"tooLarge", QVariant(qlonglong(3000000000LL)), REG_SZ, QVariant(QStringLiteral("3000000000"))},
        {"smallFraction", QVariant(0.4), REG_SZ, QVariant(QStringLiteral("0.4"))},
        {"commaIsText", QVariant(QStringLiteral("1,5")), REG_SZ, QVariant(QStringLiteral("1,5"))},
        {"hashText", QVariant(QStringLiteral("1.5#")), REG_SZ, QVariant(QStringLiteral("1.5#"))},
        {"trimmed", QVariant(QStringLiteral("  C:\\Recovered\\  ")), REG_SZ, QVariant(QStringLiteral("C:\\Recovered\\"))},
        {"emptyText", QVariant(QString()), REG_SZ, QVariant(QStringLiteral(""))},
        {"nothing", QVariant(), REG_SZ, QVariant(QStringLiteral(""))},
    };
    for (const Case &c : cases) {
        const QString name = QString::fromLatin1(c.name);
        RegSetValue(HKEY_CURRENT_USER, kBase, name, c.value);
        EXPECT_EQ(RegLastError(), 0) << c.name;
        EXPECT_EQ(storedType(name), c.type) << c.name;
        const QVariant back = RegGetValue(HKEY_CURRENT_USER, kBase, name);
        EXPECT_EQ(back.typeId(), c.back.typeId()) << c.name;
        EXPECT_EQ(back, c.back) << c.name;
    }
    EXPECT_TRUE(readFileBytes(plat::Settings::instance().hiveFileNative(HKEY_CURRENT_USER)).contains("\"twelve\"=dword:0000000c"));
}

TEST_F(Registry, ReadingCutsAtNulAndGivesEmptyForWhatIsMissing)
{
    plat::Settings::instance().setText(HKEY_CURRENT_USER, kBase, QStringLiteral("withNul"),
                                       QStringLiteral("abc") + QChar(0) + QStringLiteral("def"));
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, kBase, QStringLiteral("withNul")), QVariant(QStringLiteral("abc")));

    const QVariant missingValue = RegGetValue(HKEY_CURRENT_USER, kBase, QStringLiteral("none"));
    EXPECT_FALSE(missingValue.isValid());
    EXPECT_EQ(RegLastError(), 2);
    EXPECT_FALSE(RegGetValue(HKEY_CURRENT_USER, kBase + QStringLiteral("\\NoKey"), QStringLiteral("withNul")).isValid());
    EXPECT_FALSE(RegGetValue(0x1234, kBase, QStringLiteral("withNul")).isValid());
    EXPECT_EQ(RegLastError(), 87);

    // Names and paths without regard to case.
    RegSetValue(HKEY_CURRENT_USER, kBase, QStringLiteral("BRD"), 5);
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, kBase.toUpper(), QStringLiteral("brd")), QVariant(5));
}

TEST_F(Registry, KeysAndParentsAreCreated)
{
    const QString deep = kBase + QStringLiteral("\\Level1\\Level2\\Level3");
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kBase));
    RegSetValue(HKEY_CURRENT_USER, deep, QStringLiteral("v"), QStringLiteral("x"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, kBase));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Level1\\Level2")));
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, deep, QStringLiteral("v")), QVariant(QStringLiteral("x")));

    EXPECT_FALSE(RegCreateKeyIfMissing(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Made")));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Made")));
    EXPECT_FALSE(RegCreateKeyIfMissing(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Made")));
}

TEST_F(Registry, SubkeyDeletion)
{
    const QByteArray before = readFileBytes(plat::Settings::instance().hiveFileNative(HKEY_CURRENT_USER));
    EXPECT_FALSE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Missing"), QStringLiteral("Child")));
    EXPECT_EQ(readFileBytes(plat::Settings::instance().hiveFileNative(HKEY_CURRENT_USER)), before);

    RegSetValue(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows\\Row1"), QStringLiteral("v"), 1);
    RegCreateKeyIfMissing(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows\\Row1\\Inner"));
    EXPECT_FALSE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase, QStringLiteral("Rows")));   // has sub-keys
    EXPECT_FALSE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase, QString()));               // never the parent itself
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, kBase));
    EXPECT_TRUE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows\\Row1"), QStringLiteral("INNER")));
    EXPECT_TRUE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows"), QStringLiteral("Row1")));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows\\Row1")));
    EXPECT_FALSE(RegDeleteSubkey(HKEY_CURRENT_USER, kBase + QStringLiteral("\\Rows"), QStringLiteral("Row1")));
}

TEST_F(Registry, BaseKeyWritability)
{
    int32_t root = HKEY_CURRENT_USER;
    QString path = QStringLiteral("Software\\Zentarix");
    EXPECT_TRUE(CanWriteBaseKey(root, path));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, path));

    plat::Settings::instance().setHiveReadOnly(HKEY_CURRENT_USER, true);
    EXPECT_FALSE(CanWriteBaseKey(root, path));   // exists, but cannot be written
    QString other = QStringLiteral("Software\\Elsewhere");
    EXPECT_FALSE(CanWriteBaseKey(root, other));
    RegSetValue(HKEY_CURRENT_USER, path, QStringLiteral("v"), 3);
    EXPECT_EQ(RegLastError(), 5);
    EXPECT_FALSE(RegGetValue(HKEY_CURRENT_USER, path, QStringLiteral("v")).isValid());
    plat::Settings::instance().setHiveReadOnly(HKEY_CURRENT_USER, false);

    int32_t bogus = 42;
    EXPECT_FALSE(CanWriteBaseKey(bogus, path));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, -2147483646);
    EXPECT_EQ(HKEY_USERS, -2147483645);
    EXPECT_EQ(HKEY_CURRENT_USER, -2147483647);
}

TEST_F(Registry, PerUserSettings)
{
    EXPECT_EQ(GetSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"), QStringLiteral("0")),
              QStringLiteral("0"));
    SaveSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"), QStringLiteral("1"));
    EXPECT_EQ(GetSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"), QStringLiteral("0")),
              QStringLiteral("1"));
    DeleteSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"));
    EXPECT_EQ(GetSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST")), QString());
    DeleteSetting(QStringLiteral("ZTVers"));
}
