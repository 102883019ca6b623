// The settings schema: every value of the program key written and read back,
// the earlier layout removed, the scan-type rows rebuilt and restored, and
// stored values out of their range falling back to their defaults.
#include "app/frmrecover.h"

#include "drive/files.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "recovery/cachenames.h"
#include "tests/support/fixtures.h"

#include <QVariant>
#include <gtest/gtest.h>

using testing_support::makeTempDir;

namespace {

const QString kPro = QStringLiteral("Software\\Zentarix\\Quilvane Pro");
const QString kLvw = kPro + QStringLiteral("\\LVW");

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::Settings::instance().deleteTree(HKEY_CURRENT_USER, QStringLiteral("Software\\Zentarix"));
        DeleteSetting(QStringLiteral("ZTVers"));
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        plat::setScreenSizeOverride(QSize(1920, 1080));   // 28800 x 16200 twips
        drive = makeTempDir("drive");
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', drive, plat::DriveTypeFixed));
        ChooserStartPath.clear();
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        ChooserStartPath.clear();
        plat::setScreenSizeOverride(QSize());
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }
    static QVariant get(const QString &name, const QString &key = kPro) { return RegGetValue(HKEY_CURRENT_USER, key, name); }
    static int type(const QString &name, const QString &key = kPro)
    {
        auto v = plat::Settings::instance().value(HKEY_CURRENT_USER, key, name);
        return v ? v->type : 0;
    }
    void addRows(int n)
    {
        for (int i = 1; i <= n; ++i)
            w->LvwTypes.AddItem(QStringLiteral("T%1").arg(i));
    }
    frmRecover *w = nullptr;
    QString drive;
};

} // namespace

TEST_F(Settings, TheWholeSchemaRoundTrips)
{
    // The earlier layout, which every write removes.
    RegSetValue(HKEY_CURRENT_USER, "Software\\Zentarix\\Quilvane\\LVW", "LVWC", 3);
    RegSetValue(HKEY_CURRENT_USER, "Software\\Zentarix\\Quilvane", "TCache", "C:\\old\\");
    plat::Settings::instance().setText(HKEY_CURRENT_USER, "Software\\Zentarix", "Version", " 5 2 17");

    w->CacheRoot = "E:\\RIVozud\\";
    w->CreateCacheFolders();
    w->PrevCacheRoot = "E:\\P\\RIVozud\\";
    w->OlderCacheRoot = "E:\\O\\RIVozud\\";
    w->ShownFolder = w->CacheRoot;
    w->BrowseStartFolder = "E:\\Pics\\";
    w->BackupFolder = "E:\\Images\\";
    ChooserStartPath = "E:\\Saved\\";
    w->ListColors.setListIndex(3);
    w->RenderedThumbWidth = 96;
    w->SourceDrive = "e:";
    w->SourceVolumeSerial = int32_t(0xDEADBEEFu);
    w->ThumbCounter = 12;
    w->BrowseListIndex = 5;
    w->CheckSpecs.setValue(1);
    for (int i = 0; i < 5; ++i)
        w->CmbTypeSelect.AddItem(QStringLiteral("row %1").arg(i));
    w->CmbTypeSelect.setListIndex(0);
    w->SizeLimitMax = 0.5;
    w->SizeLimitMin = 0;
    addRows(3);
    w->LvwTypes.setItemChecked(2, true);
    w->ResultViewState = 1;
    w->Move(-1200, 300, 12000, 9000);   // after the boxes, which lay the window out
    w->CreateRegistryEntries();

    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\Zentarix\\Quilvane"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\Zentarix\\Quilvane\\LVW"));
    EXPECT_EQ(get("Version", "Software\\Zentarix").toString(), " 5 2 17");
    EXPECT_EQ(get("HomePath").toString(), StripTrailingBackslash(plat::programFolder()));
    EXPECT_EQ(get("TCache").toString(), "E:\\RIVozud\\");
    EXPECT_EQ(get("OCache").toString(), "E:\\P\\RIVozud\\");
    EXPECT_EQ(get("LUD").toString(), "E:\\Saved\\");
    EXPECT_EQ(get("ML").toInt(), -1200);
    EXPECT_EQ(type("ML"), REG_DWORD);
    EXPECT_EQ(get("MW").toInt(), 12000);
    EXPECT_EQ(get("MH").toInt(), 9000);
    EXPECT_EQ(get("CL").toInt(), 3);
    EXPECT_EQ(get("TW").toInt(), 96);
    EXPECT_EQ(get("SDVS").toInt(), int32_t(0xDEADBEEFu));
    EXPECT_EQ(get("THnr").toInt(), 12);
    EXPECT_EQ(get("CHKSpec").toString(), "0");
    EXPECT_EQ(type("CHKSpec"), REG_SZ);
    EXPECT_EQ(get("TypeSel").toInt(), 0);   // the size entry, as it stands
    EXPECT_EQ(get("LMaxMB").toString(), "0.5#");
    EXPECT_EQ(get("LMinMB").toString(), "0#");
    EXPECT_EQ(get("LVWC", kLvw).toInt(), 3);
    EXPECT_EQ(get("001", kLvw).toString(), "T1,False");
    EXPECT_EQ(get("002", kLvw).toString(), "T2,True");
    EXPECT_EQ(GetSetting("ZTVers", "Startup", "ST"), "1");

    // Read back into a fresh window.
    ChooserStartPath.clear();
    w = &CreateMainWindow();
    for (int i = 0; i < 5; ++i)
        w->CmbTypeSelect.AddItem(QStringLiteral("row %1").arg(i));
    w->ReadRegistryEntries();
    EXPECT_EQ(w->CacheRoot, "E:\\RIVozud\\");
    EXPECT_EQ(w->PrevCacheRoot, "E:\\P\\RIVozud\\");
    EXPECT_EQ(w->OlderCacheRoot, "E:\\O\\RIVozud\\");
    EXPECT_EQ(w->ShownFolder, "E:\\RIVozud\\");
    EXPECT_EQ(w->BrowseStartFolder, "E:\\Pics\\");
    EXPECT_EQ(w->BackupFolder, "E:\\Images\\");
    EXPECT_EQ(ChooserStartPath, "E:\\Saved\\");
    EXPECT_EQ(w->Left(), 0);   // left -1200 is off the screen: top-left corner
    EXPECT_EQ(w->Top(), 0);
    EXPECT_EQ(w->Width(), 12000);
    EXPECT_EQ(w->ListColors.ListIndex(), 3);
    EXPECT_EQ(w->RenderedThumbWidth, 96);
    EXPECT_EQ(w->TxtWidth.Text(), "96");
    EXPECT_EQ(w->ThumbWidth, 96);
    EXPECT_EQ(w->ThumbHeight, 64);
    EXPECT_EQ(w->SourceDrive, "e:");
    EXPECT_EQ(w->SourceVolumeSerial, int32_t(0xDEADBEEFu));
    EXPECT_EQ(w->BrowseListIndex, 5);
    EXPECT_DOUBLE_EQ(w->SizeLimitMax, 0.5);
    EXPECT_DOUBLE_EQ(w->SizeLimitMin, 0);
    EXPECT_EQ(w->ResultViewState, 1);
    addRows(3);
    w->RestoreScanTypeRows();
    EXPECT_FALSE(w->LvwTypes.ItemChecked(1));
    EXPECT_TRUE(w->LvwTypes.ItemChecked(2));
    EXPECT_FALSE(w->LvwTypes.ItemChecked(3));
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), -1) << "no preset is in force";
}

TEST_F(Settings, TypeRowsShrinkAndAreRestoredByName)
{
    w->CacheRoot = "E:\\RIVozud\\";
    addRows(125);
    w->CreateRegistryEntries();
    EXPECT_EQ(get("LVWC", kLvw).toInt(), 125);
    EXPECT_TRUE(get("125", kLvw).isValid());

    w->LvwTypes.Clear();
    addRows(100);
    w->CreateRegistryEntries();
    EXPECT_EQ(get("LVWC", kLvw).toInt(), 100);
    EXPECT_EQ(plat::Settings::instance().valueNames(HKEY_CURRENT_USER, kLvw).size(), 101);
    EXPECT_TRUE(get("100", kLvw).isValid());
    EXPECT_FALSE(get("101", kLvw).isValid());

    // A list of another length: the checked rows' texts, by substring
    // without regard to case ("JPEG" also checks "JPE").
    plat::Settings::instance().deleteTree(HKEY_CURRENT_USER, kLvw);
    RegSetValue(HKEY_CURRENT_USER, kLvw, "LVWC", 2);
    RegSetValue(HKEY_CURRENT_USER, kLvw, "001", "JPEG,True");
    RegSetValue(HKEY_CURRENT_USER, kLvw, "002", "NEF,False");
    w->LvwTypes.Clear();
    for (const char *t : {"jpe", "NEF", "PNG"})
        w->LvwTypes.AddItem(t);
    w->RestoreScanTypeRows();
    EXPECT_TRUE(w->LvwTypes.ItemChecked(1));
    EXPECT_TRUE(w->LvwTypes.ItemSelected(1));
    EXPECT_FALSE(w->LvwTypes.ItemChecked(2));
    EXPECT_FALSE(w->LvwTypes.ItemChecked(3));

    // Nothing checked stored: the default list.
    RegSetValue(HKEY_CURRENT_USER, kLvw, "001", "JPEG,False");
    w->LvwTypes.Clear();
    for (const char *t : {"CR2", "MP3", "PNG"})
        w->LvwTypes.AddItem(t);
    w->RestoreScanTypeRows();
    EXPECT_TRUE(w->LvwTypes.ItemChecked(1));
    EXPECT_FALSE(w->LvwTypes.ItemChecked(2));
    EXPECT_TRUE(w->LvwTypes.ItemChecked(3));
}

TEST_F(Settings, AnEmptyCacheRootWritesNothing)
{
    SaveSetting("ZTVers", "Startup", "ST", "1");
    w->ResultViewState = 0;
    w->CreateRegistryEntries();
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kPro));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\Zentarix"));
    EXPECT_EQ(GetSetting("ZTVers", "Startup", "ST"), "1");
}

TEST_F(Settings, ValuesOutOfRangeTakeTheirDefaults)
{
    for (const auto &[name, value] : std::initializer_list<std::pair<const char *, QVariant>>{
             {"LSB", -1}, {"CL", 0}, {"TW", 5000}, {"MW", 0}, {"ML", 100}, {"MT", 999999},
             {"TypeSel", 77}, {"LMaxMB", "-3#"}, {"LMinMB", "0,5#"}, {"SDVS", "garbage"},
             {"SD", "not a drive"}, {"TCache", "E:\\RIVozud\\..\\..\\home\\"}, {"BRD", "relative\\x"}})
        RegSetValue(HKEY_CURRENT_USER, kPro, name, value);
    SaveSetting("ZTVers", "Startup", "ST", "7");
    for (int i = 0; i < 3; ++i)
        w->CmbTypeSelect.AddItem("x");
    const int typeSelBefore = w->CmbTypeSelect.ListIndex();
    w->ReadRegistryEntries();
    EXPECT_EQ(w->BrowseListIndex, 0);
    EXPECT_EQ(w->ListColors.ListIndex(), 2);
    EXPECT_EQ(w->TxtWidth.Text(), "72");
    EXPECT_EQ(w->RenderedThumbWidth, 0);
    EXPECT_EQ(w->ThumbWidth, 72);
    EXPECT_EQ(w->Width(), 10335);
    EXPECT_EQ(w->Left(), 0);   // top below the screen: both 0
    EXPECT_EQ(w->Top(), 0);
    EXPECT_EQ(w->CmbTypeSelect.ListIndex(), typeSelBefore);
    EXPECT_DOUBLE_EQ(w->SizeLimitMax, 0);
    EXPECT_DOUBLE_EQ(w->SizeLimitMin, 0.5);
    EXPECT_EQ(w->SourceVolumeSerial, 0);
    EXPECT_EQ(w->SourceDrive, "");
    EXPECT_EQ(w->CacheRoot, "");
    EXPECT_EQ(w->ShownFolder, "");
    EXPECT_EQ(w->ResultViewState, 0);

    // A stored colour index of -1 and a missing one both give 2; a narrow
    // screen shows CheckSpecs, checked when nothing was stored.
    RegSetValue(HKEY_CURRENT_USER, kPro, "CL", -1);
    plat::setScreenSizeOverride(QSize(1000, 700));
    w = &CreateMainWindow();
    w->ReadRegistryEntries();
    EXPECT_EQ(w->ListColors.ListIndex(), 2);
    EXPECT_TRUE(w->CheckSpecs.Visible());
    EXPECT_EQ(w->CheckSpecs.Value(), 1);
}
