// Internal drive-letter paths and their native counterparts.
#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(Paths, NativeAndInternalFormsOfALetteredFolder)
{
    const QString root = makeTempDir("paths");
    QDir(root).mkpath("Dcim/100CANON");
    ASSERT_TRUE(writeFileBytes(root + "/Dcim/100CANON/IMG_0001.JPG", "x"));
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('F', root, plat::DriveTypeRemovable));

    // Existing components resolve without regard to case; new ones keep theirs.
    EXPECT_EQ(plat::toNative("F:\\DCIM\\100canon\\img_0001.jpg"), root + "/Dcim/100CANON/IMG_0001.JPG");
    EXPECT_EQ(plat::toNative("f:\\DCIM\\New\\a.txt"), root + "/Dcim/New/a.txt");
    EXPECT_EQ(plat::toNative("F:\\dcim\\"), root + "/Dcim/");
    EXPECT_EQ(plat::toNative("F:\\"), root + "/");
    // ".." stops at the root of the letter, as on a drive.
    EXPECT_EQ(plat::toNative("F:\\..\\..\\Dcim\\.\\x"), root + "/Dcim/x");

    EXPECT_EQ(plat::toInternal(root + "/Dcim/100CANON/IMG_0001.JPG"), "F:\\Dcim\\100CANON\\IMG_0001.JPG");
    EXPECT_EQ(plat::toInternal(root + "/Dcim/"), "F:\\Dcim\\");
    EXPECT_EQ(plat::toInternal(root), "F:\\");
    EXPECT_EQ(plat::canonicalInternal("f:\\dcim\\100canon\\"), "F:\\Dcim\\100CANON\\");
    // Outside every lettered folder: C:, the file system holding "/".
    EXPECT_EQ(plat::toInternal("/usr/bin"), "C:\\usr\\bin");
    EXPECT_EQ(plat::toNative("C:\\usr\\bin"), "/usr/bin");

    // The longest lettered prefix wins, also through a symbolic link.
    QDir(root).mkpath("inner");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('G', root + "/inner"));
    const QString link = makeTempDir("link") + "/to-inner";
    ASSERT_TRUE(QFile::link(root + "/inner", link));
    EXPECT_EQ(plat::toInternal(root + "/inner/a.txt"), "G:\\a.txt");
    EXPECT_EQ(plat::toInternal(link + "/a.txt"), "G:\\a.txt");
    EXPECT_TRUE(plat::sameDisk('F', 'F'));

    // A native name holding "\" survives the round trip.
    ASSERT_TRUE(writeFileBytes(root + "/odd\\name.txt", "y"));
    const QString internal = plat::toInternal(root + "/odd\\name.txt");
    EXPECT_EQ(internal.count('\\'), 1);
    EXPECT_EQ(plat::toNative(internal), root + "/odd\\name.txt");

    plat::DriveTable::instance().detach('F');
    plat::DriveTable::instance().detach('G');
    // A letter without files, or none at all: no native path.
    EXPECT_EQ(plat::toNative("F:\\Dcim"), "");
    EXPECT_EQ(plat::toNative("relative\\part"), "relative/part");
}

TEST(Paths, WildcardsMatchAsOnWindows)
{
    EXPECT_TRUE(plat::wildcardMatch("*.*", "README"));
    EXPECT_TRUE(plat::wildcardMatch("*.jpg", "IMG_0001.JPG"));
    EXPECT_TRUE(plat::wildcardMatch("IMG_????.JPG", "img_0001.jpg"));
    EXPECT_FALSE(plat::wildcardMatch("IMG_????.JPG", "IMG_001.JPG"));
    EXPECT_TRUE(plat::wildcardMatch("R#*", "R#0001.jpg"));
    EXPECT_TRUE(plat::wildcardMatch("ZT_*.dat", "ZT_ABC.dat"));
    EXPECT_TRUE(plat::wildcardMatch("x.*", "x"));
    EXPECT_FALSE(plat::wildcardMatch("*.jpg", "a.jpeg"));
    EXPECT_TRUE(plat::wildcardMatch("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(plat::wildcardMatch("a*b*c", "aXXbYY"));
}

TEST(Paths, ProgramAndConfigFoldersLieInTheTestHome)
{
    EXPECT_EQ(plat::programFolderNative(), QDir::cleanPath(testHome()));
    EXPECT_EQ(plat::configFolderNative(), QDir::cleanPath(testHome()) + "/config");
    EXPECT_TRUE(QDir(plat::configFolderNative()).exists());
    EXPECT_TRUE(plat::programFolder().endsWith('\\'));
    EXPECT_EQ(plat::toNative(plat::programFolder()), QDir::cleanPath(testHome()) + "/");
}

} // namespace
