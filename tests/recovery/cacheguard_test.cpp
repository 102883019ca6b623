// The delete guard of the cache: whole path components, no climbing, no
// links followed; DeleteCacheTree refusing what is not the program's.
#include "recovery/cacheguard.h"

#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <gtest/gtest.h>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QString in(const QString &native) { return plat::toInternal(native); }

// Every file below a folder with the hash of its bytes.
QMap<QString, QByteArray> fingerprint(const QString &native)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(native, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out[f] = QCryptographicHash::hash(readFileBytes(f), QCryptographicHash::Sha256);
    }
    return out;
}

} // namespace

TEST(CacheGuard, JudgesPathsByWholeComponents)
{
    EXPECT_EQ(PathComponents("C:\\a\\b\\"), QStringList({"a", "b"}));
    EXPECT_TRUE(HasDotComponent("C:\\x\\RIVozud\\..\\..\\home\\"));
    EXPECT_FALSE(HasDotComponent("C:\\x\\RIVozud\\a.b\\"));
    EXPECT_EQ(CacheComponentIndex("C:\\x\\RIVozud\\Thumbs\\"), 1);
    EXPECT_EQ(CacheComponentIndex("C:\\x\\RIVozud photos\\"), -1);
    EXPECT_EQ(CacheComponentIndex("C:\\x\\rivozud\\"), -1);
    EXPECT_TRUE(IsSameOrBelow("C:\\X\\rivozud\\Thumbs\\", "c:\\x\\RIVozud\\"));
    EXPECT_FALSE(IsSameOrBelow("C:\\x\\RIVozud2\\", "C:\\x\\RIVozud\\"));
    EXPECT_FALSE(IsSameOrBelow("D:\\x\\RIVozud\\", "C:\\x\\RIVozud\\"));

    EXPECT_TRUE(CacheDeleteAllowed("C:\\x\\RIVozud\\Thumbs\\", "C:\\x\\RIVozud\\"));
    EXPECT_FALSE(CacheDeleteAllowed("C:\\x\\RIVozud photos\\", "C:\\x\\RIVozud photos\\"));
    EXPECT_FALSE(CacheDeleteAllowed("C:\\x\\RIVozud\\..\\Pictures\\", "C:\\x\\RIVozud\\"));
    EXPECT_FALSE(CacheDeleteAllowed("C:\\x\\Pictures\\", "C:\\x\\RIVozud\\"));
}

TEST(CacheGuard, NothingOfTheUsersIsRemoved)
{
    const QString home = makeTempDir("home");
    const QString sentinel = home + "/RIVozud photos";
    ASSERT_TRUE(QDir().mkpath(sentinel + "/2019"));
    writeFileBytes(sentinel + "/a.jpg", "picture a");
    writeFileBytes(sentinel + "/2019/b.jpg", "picture b");
    writeFileBytes(home + "/letter.txt", "dear ann");
    const QString cache = home + "/RIVozud";
    ASSERT_TRUE(QDir().mkpath(cache + "/Thumbs"));
    writeFileBytes(cache + "/Thumbs/0001jpg.jpg", "thumb");
    ASSERT_EQ(::symlink(sentinel.toUtf8().constData(), (cache + "/link").toUtf8().constData()), 0);
    const QMap<QString, QByteArray> before = fingerprint(home);

    EXPECT_EQ(DeleteCacheTree(in(sentinel)), -1);
    EXPECT_EQ(DeleteCacheTree(in(sentinel) + "\\*.*"), -1);
    EXPECT_EQ(DeleteCacheTree(in(home)), -1);
    EXPECT_EQ(DeleteCacheTree(in(cache + "/link")), -1);                  // a link is never a folder to delete
    EXPECT_EQ(DeleteCacheTree(in(cache) + "\\link\\2019"), -1);           // nor a way into one
    EXPECT_EQ(DeleteCacheTree(in(cache) + "\\..\\RIVozud photos"), -1);
    EXPECT_EQ(DeleteCacheTree("C:"), -1);
    EXPECT_EQ(DeleteCacheTree(""), -1);
    EXPECT_FALSE(CacheDeleteAllowed(in(cache) + "\\link\\", in(cache) + "\\"));
    EXPECT_EQ(fingerprint(home), before);

    // The cache itself goes, with the link in it removed, not followed.
    EXPECT_EQ(DeleteCacheTree(in(cache) + "\\"), 0);
    EXPECT_FALSE(QFileInfo::exists(cache));
    QMap<QString, QByteArray> after = before;
    after.remove(cache + "/Thumbs/0001jpg.jpg");
    EXPECT_EQ(fingerprint(home), after);

    // A cache root that is itself a link is not usable.
    ASSERT_EQ(::symlink(sentinel.toUtf8().constData(), (home + "/RIVozud").toUtf8().constData()), 0);
    EXPECT_FALSE(IsUsableCacheRoot(in(home) + "\\RIVozud\\"));
    EXPECT_EQ(DeleteCacheTree(in(home) + "\\RIVozud\\"), -1);
    EXPECT_EQ(fingerprint(home), after);
}

TEST(CacheGuard, ProgramFoldersMayBeRemovedButNotTheProgramFolderItself)
{
    const QString program = plat::programFolderNative();
    ASSERT_TRUE(QDir().mkpath(program + "/Manual/English"));
    writeFileBytes(program + "/Manual/English/index.htm", "x");
    EXPECT_EQ(DeleteCacheTree(plat::programFolder()), -1);
    EXPECT_EQ(DeleteCacheTree(plat::programFolder() + "Manual"), 0);
    EXPECT_FALSE(QFileInfo::exists(program + "/Manual"));
    EXPECT_EQ(DeleteCacheTree(plat::programFolder() + "Manual"), -1);   // gone: refused
}
