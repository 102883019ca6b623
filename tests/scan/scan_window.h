// The main window for the scan's window tests: virtual drives only, the
// program's signature table, and a fresh cache in a temporary folder when a
// test asks for one.
#pragma once

#include "app/frmrecover.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

namespace scan_images {

class ScanWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        w = &CreateMainWindow();
        SignatureTable = programTable();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }

    // A fresh cache root in a temporary folder; its native path.
    QString useNewCache()
    {
        w->CacheRoot = cacheInternal(testing_support::makeTempDir("wcache")) + QStringLiteral("RIVozud\\");
        w->MakeDirNames();
        w->CreateCacheFolders();
        return plat::toNative(w->CacheRoot);
    }

    frmRecover *w = nullptr;
};

} // namespace scan_images
