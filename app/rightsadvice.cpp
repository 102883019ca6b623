#include "app/rightsadvice.h"

#include "app/frmrecover.h"
#include "app/startup.h"
#include "drive/registry.h"
#include "drive/sectors.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/paths.h"
#include "drive/ui/msgbox.h"
#include "platform/rawio.h"
#include "platform/ui/msgbox.h"
#include "scan/scanengine.h"

#include <QTimer>
#include <QWidget>

namespace {

QString adviceText()
{
    const QString crlf = QStringLiteral("\r\n");
    return GetString(818, QStringLiteral("Quilvane is able to scan removable media.")) + crlf + crlf + RawAccessHowTo()
        + crlf + crlf + crlf + GetString(826, QStringLiteral("Do you want to abort operation and close Quilvane now?"));
}

} // namespace

bool ShowVistaAdvice(const QString &programFolder, int &force)
{
    if (!IsVistaOrLater())
        return false;
    const bool shown = GetSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("VShown"),
                                  QStringLiteral("0"))
                           .trimmed()
                       != QLatin1String("0");
    if (force != -1 && shown)
        return false;
    if (force == 0) {
        // Whether the raw volume of the folder's drive opens for reading.
        plat::Handle h = programFolder.isEmpty() ? plat::Handle{}
                                                 : plat::openVolume(programFolder[0].toUpper(), plat::Access::Read);
        if (!h.valid())
            force = -1;
        FlushClose(h);
    }
    if (force == 0)
        return false;
    frmRecover *w = MainWindowIfMade();
    const int owner = w ? w->hWnd() : 0;
    const int answer = MsgBoxPositioned(owner, adviceText(), plat::mb::YesNo + plat::mb::IconQuestion,
                                        GetString(827, QStringLiteral("Vista Compatibility")));
    if (answer != plat::id::Yes) {
        SaveSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("VShown"), QStringLiteral("-1"));
        return true;
    }
    // A running operation is stopped and the window closes through its own
    // shutdown, so that the found files and the settings are kept.
    if (w && w->OperationRunning) {
        w->OperationRunning = false;
        QTimer::singleShot(0, w->widget(), [w] { w->Unload(); });
        return true;
    }
    EndProcess();
    return true;
}

void ShowNoRightsAdvice(const QString &source, const QString &title)
{
    int force = 1;
    if (ShowVistaAdvice(plat::programFolder(), force))
        return;
    frmRecover *w = MainWindowIfMade();
    const QString text =
        FormatString(GetString(2107, QStringLiteral("Cannot open %0 for reading: the program lacks the right to read "
                                                    "the device.")),
                     {source.toUpper()})
        + QStringLiteral("\r\n\r\n") + RawAccessHowTo();
    MsgBoxPositioned(w ? w->hWnd() : 0, text, plat::mb::OK + plat::mb::IconExclamation,
                     title.isEmpty() ? (w ? w->ProgramTitle : QStringLiteral("Quilvane")) : title);
}
