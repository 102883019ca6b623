// The file operations ask their questions through the program's message boxes.
#include "drive/files.h"
#include "drive/ui/fileopui.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;

TEST(FileOperationUi, ADeleteThatAsksIsAnsweredByTheUser)
{
    InstallFileOperationUi();
    const QString dir = makeTempDir("fop");
    ASSERT_TRUE(writeFileBytes(dir + "/a.txt", "a"));
    const QString internal = plat::toInternal(dir + "/a.txt");
    {
        MessageScript script;
        script.expect(plat::id::No);
        EXPECT_FALSE(DeleteFiles(internal, false, true));
        EXPECT_TRUE(QFile::exists(dir + "/a.txt"));
    }
    {
        MessageScript script;
        script.expect(plat::id::Yes);
        EXPECT_TRUE(DeleteFiles(internal, false, true));
        EXPECT_FALSE(QFile::exists(dir + "/a.txt"));
    }
}
