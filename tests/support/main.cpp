// Test main shared by every test binary: a private program home, so that no
// test touches the real home, settings or disks, and an application object.
#include "tests/support/child.h"
#include "tests/support/fixtures.h"

#include "platform/drives.h"

#include <QApplication>
#include <gtest/gtest.h>

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
    return RUN_ALL_TESTS();
}
