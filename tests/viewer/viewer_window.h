// The main window of the viewer's window tests.
#pragma once

#include <QString>

class frmRecover;

namespace viewer_samples {

// A new cache in a temporary folder (HINT-XXXXXX/RIVozud/) made the window's
// cache and shown folder; its native path (ending in "/").
QString UseNewCache(frmRecover &window, const QString &hint);

} // namespace viewer_samples
