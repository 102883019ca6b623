// Type icons from the icon theme (found without a desktop session) and the
// thumbnailer test against a thumbnailer folder of the test's own.
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/typeicons.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The environment variable set for the test and put back after it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

bool sameImage(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(TypeIcons, IconsComeFromTheThemeByExtension)
{
    const QImage txt = GetFileTypeIcon("R#0003.txt", 0, 256);
    const QImage zip = GetFileTypeIcon("R#0004.zip", 0, 256);
    const QImage cr2 = GetFileTypeIcon("R#0005.cr2", 0, 256);
    const QImage doc = GetFileTypeIcon("letter.doc", 0, 256);
    const QImage unknown = GetFileTypeIcon("x.zzz", 0, 256);
    const QImage none = GetFileTypeIcon("README", 0, 256);
    for (const QImage *i : {&txt, &zip, &cr2, &doc, &unknown, &none}) {
        EXPECT_FALSE(i->isNull());
        EXPECT_EQ(i->size(), QSize(32, 32));
    }
    // Different types, different theme icons (a missing theme would give
    // the same stand-in for all).
    EXPECT_FALSE(sameImage(txt, zip));
    EXPECT_FALSE(sameImage(txt, cr2));
    EXPECT_FALSE(sameImage(zip, cr2));
    // The scan-type list asks for the small one by an extension alone.
    EXPECT_EQ(GetFileTypeIcon("JPG", 1, 256).size(), QSize(16, 16));
}

TEST(TypeIcons, ThumbnailersAreFoundByTypeAliasAndProgram)
{
    // The system's folders stay (the MIME database lives there); a folder of
    // the test's own comes first. No system thumbnailer takes PCX or C files.
    const QString home = makeTempDir("xdghome");
    const QString mine = makeTempDir("xdg");
    QDir().mkpath(mine + "/thumbnailers");
    const ScopedEnv dataHome("XDG_DATA_HOME", home.toUtf8());
    const ScopedEnv dirs("XDG_DATA_DIRS", (mine + ":/usr/local/share:/usr/share").toUtf8());
    ASSERT_FALSE(HasShellThumbnailHandler(".pcx")) << "a thumbnailer for PCX files is installed";

    const QString another = makeTempDir("xdg2");
    QDir().mkpath(another + "/thumbnailers");
    // By an alias of the type (image/x-pcx), in another case.
    ASSERT_TRUE(writeFileBytes(another + "/thumbnailers/pcx.thumbnailer",
                               "[Thumbnailer Entry]\nTryExec=/bin/true\nExec=/bin/true %i %o %s\n"
                               "MimeType=image/X-PCX;\n"));
    // A thumbnailer whose program is not there does not count.
    ASSERT_TRUE(writeFileBytes(another + "/thumbnailers/gone.thumbnailer",
                               "[Thumbnailer Entry]\nTryExec=/nonexistent/thumbnailer\nExec=x %i %o\n"
                               "MimeType=text/x-csrc;\n"));
    // Without TryExec the program of Exec is looked for.
    ASSERT_TRUE(writeFileBytes(another + "/thumbnailers/exec.thumbnailer",
                               "[Thumbnailer Entry]\nExec=true %i %o\nMimeType=text/x-chdr;\n"));
    const ScopedEnv dirs2("XDG_DATA_DIRS", (another + ":/usr/local/share:/usr/share").toUtf8());
    EXPECT_TRUE(HasShellThumbnailHandler(".pcx"));
    EXPECT_TRUE(HasShellThumbnailHandler("PCX"));
    EXPECT_FALSE(HasShellThumbnailHandler(".zzz"));
    EXPECT_FALSE(HasShellThumbnailHandler(".c"));
    EXPECT_TRUE(HasShellThumbnailHandler(".h"));
    EXPECT_FALSE(HasShellThumbnailHandler(""));
    ASSERT_NE(ThumbnailerForExtension(".pcx"), nullptr);
    EXPECT_EQ(ThumbnailerForExtension(".pcx")->exec, "/bin/true %i %o %s");
}
