// The busy guard, the notices of the saving commands, the shutdown guard and
// the main window's Timer1 and Timer5.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"

namespace {
constexpr int kIdleInterval = 2000;
constexpr int kSettleInterval = 3000;
constexpr int kBusyInterval = 10000;
} // namespace

// ---- shutdown guard --------------------------------------------------------------

frmRecover::OperationScope::OperationScope(frmRecover &window) : window_(window) { ++window_.ActiveOperations; }

frmRecover::OperationScope::~OperationScope()
{
    if (window_.ActiveOperations > 0)
        --window_.ActiveOperations;
}

bool frmRecover::CanShutDown() const { return ActiveOperations == 0 && !OperationRunning && !OperationBusy; }

bool frmRecover::BeginShutdown()
{
    if (ShuttingDown || !CanShutDown())
        return false;
    ShuttingDown = true;
    return true;
}

// ---- busy guard and notices ----------------------------------------------------------

bool frmRecover::RefuseWhileBusy()
{
    // Once End was pressed no command starts: the next pass would cut it off.
    if (!OperationRunning && !OperationBusy && EndPassCount == 0 && !ShuttingDown)
        return false;
    CheckBusy();
    return true;
}

bool frmRecover::RefuseWhileFullPictureDecodes()
{
    // The window would open over whatever the press chose or opened.
    if (FullPictureChoice.isEmpty())
        return false;
    CheckBusy();
    return true;
}

void frmRecover::CheckBusy()
{
    if (Enabled()) {
        MsgBoxTimed(QString::number(hWnd()), GetString(619, QStringLiteral("Still busy")) + QStringLiteral("....  "),
                    64, ProgramTitle);
        return;
    }
    // Still loading: the running operation is asked to stop, silently.
    OperationRunning = false;
}

void frmRecover::ShowSelectFileNotice()
{
    MsgBoxTimed(QString::number(hWnd()),
                GetString(620, QStringLiteral("Please select a file and try again.")) + QStringLiteral("   "), 0,
                ProgramTitle);
}

void frmRecover::ShowNoFilesNotice()
{
    MsgBoxTimed(QString::number(hWnd()),
                GetString(621, QStringLiteral("No recoverable files detected yet.")) + QStringLiteral("   "), 0,
                ProgramTitle);
}

// ---- timers ---------------------------------------------------------------------------

void frmRecover::Timer1_Timer()
{
    if (ShuttingDown)
        return;
    Timer1.setEnabled(false);
    // The work below waits until the user is idle.
    while (plat::inputPending()) {
        plat::pumpEventsNow();
        if (ShuttingDown)
            return;
    }
    if (ListClickPending) {
        if (List2.Visible() && List2.ListCount() > 0) {
            if (Picture1.Visible())
                List2_Click();
        } else if (List3.ListCount() > 0) {
            List3_Click();
        } else if (Picture1.Visible() && !List1.Visible()) {
            DrawStartPicture();   // no found file: the background at the new size
        }
        ListClickPending = false;
    } else if (OperationRunning) {
        Timer1.setInterval(kBusyInterval);
    } else {
        // Counting needs no volume read: Drive2 lists letters only.
        Drive2.Refresh();
        if (Drive1.Enabled() && Drive2.ListCount() != Drive1.ListCount()) {
            if (Drive2.ListCount() > Drive1.ListCount()) {
                if (Timer1.Interval() != kSettleInterval) {
                    // A medium appeared: it gets one tick to settle.
                    Timer1.setInterval(kSettleInterval);
                    Timer1.setEnabled(true);
                    return;
                }
                RefreshDriveList();
                Drive1.Refresh();
            } else {
                Drive1.Refresh();
            }
        }
        Timer1.setInterval(kIdleInterval);
    }
    if (!ShuttingDown)
        Timer1.setEnabled(true);
}

void frmRecover::Timer5_Timer()
{
    FileListBusy = false;
    SelectListItem();
    Timer5.setEnabled(false);
}
