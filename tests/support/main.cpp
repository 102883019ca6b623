// Test main shared by every test binary: a private program home, so that no
// test touches the real home, settings or disks, and an application object.
#include "tests/support/child.h"
#include "tests/support/fixtures.h"

#include "platform/drives.h"
#include "platform/os.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// Every test begins in a program that is not closing (an earlier test may
// have pressed End).
class FreshRun : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override { plat::resetClosing(); }
};

} // namespace

int main(int argc, char **argv)
{
    testing_support::testHome();   // sets QUILVANE_HOME before anything reads it
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Only the drives a test attaches are listed (C: stays the root file system).
    plat::DriveTable::instance().setExclusive(true);
    // Started again as a child process that a test kills.
    if (const int code = testing_support::runChildIfAsked(); code >= 0)
        return code;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRun);
    return RUN_ALL_TESTS();
}
