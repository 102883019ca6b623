#include "tests/viewer/viewer_window.h"

#include "app/frmrecover.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

namespace viewer_samples {

QString UseNewCache(frmRecover &window, const QString &hint)
{
    window.CacheRoot = plat::toInternal(testing_support::makeTempDir(hint)) + QStringLiteral("\\RIVozud\\");
    window.ShownFolder.clear();
    window.MakeDirNames();
    window.CreateCacheFolders();
    window.ShownFolder = window.CacheRoot;
    return plat::toNative(window.CacheRoot);
}

} // namespace viewer_samples
