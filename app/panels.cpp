// The panels' mouse, the About link and the clean-up of the command word
// "uninstall".
#include "app/frmrecover.h"

#include "drive/files.h"
#include "drive/strings.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"

#include <QWidget>

namespace {

// How long the uninstall's question waits for an answer.
constexpr int kUninstallQuestionMs = 60000;

// The program's files and trees are removed only from a program folder that
// carries one of the program's own words, so that a program folder set to a
// user's folder loses nothing.
bool carriesProgramWord(const QString &folder)
{
    for (const char *word : {"RIVozud", "Quilvane", "Zentarix"})
        if (folder.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

void frmRecover::Picture4_MouseDown(int button, int shift, double x, double y)
{
    double wx = x, wy = y;
    if (QWidget *panel = Picture4.widget()) {
        if (QWidget *window = widget()) {
            const QPoint at = panel->mapTo(window, QPoint(plat::twipsToPixels(x), plat::twipsToPixels(y)));
            wx = plat::pixelsToTwips(at.x());
            wy = plat::pixelsToTwips(at.y());
        }
    }
    Form_MouseDown(button, shift, wx, wy);
    ShowGetStarted();
}

void frmRecover::Picture5_MouseDown(int, int, double, double) { ShowGetStarted(); }

void frmRecover::lblAbout_Click()
{
    if (OperationRunning || OperationBusy) {
        CheckBusy();
        return;
    }
    frmAboutRecvr_Show();
}

bool frmRecover::UninstallMayEmptyCache()
{
    MakeDirNames();
    if (!IsUsableCacheRoot(CacheRoot))
        return true;   // nothing there is deleted anyway
    int unsaved = CountFolderFiles(CacheRoot);
    if (FileExists(CacheRoot + kThumbsDb))
        --unsaved;
    if (unsaved <= 0)
        return true;
    plat::MessageRequest question;
    question.text = FormatString(GetString(2270, QStringLiteral("The cache holds %0 recovered files that were never saved.")),
                                 {QString::number(unsaved)})
        + QStringLiteral("\r\n\r\n")
        + GetString(2271, QStringLiteral("Delete them with the program's other files?"));
    question.title = ProgramTitle;
    question.style = plat::mb::YesNo + plat::mb::IconExclamation + plat::mb::DefButton2;
    question.timeoutMs = kUninstallQuestionMs;
    question.timeoutAnswer = plat::id::No;
    return plat::showMessage(question) == plat::id::Yes;
}

void frmRecover::DeleteProgramScratchFiles()
{
    const QString program = plat::programFolder();
    if (carriesProgramWord(program))
        DeleteFiles(program + QStringLiteral("temp*.*"), false, false);
}

void frmRecover::DelProgramTrees()
{
    // A program folder without one of the program's words is the user's:
    // nothing in it is deleted, not even files named like the scratch files.
    const QString program = plat::programFolder();
    if (!carriesProgramWord(program))
        return;
    DeleteProgramScratchFiles();
    DeleteFiles(program + QStringLiteral("version.txt"), false, false);
    // The folders under the names the program gives them; the delete never
    // follows a link and stays inside the program folder.
    const QString manual = QStringLiteral("Manual\\");
    for (const QString &tree : {kBinSub, kWorkSub, manual + QStringLiteral("English"), manual + QStringLiteral("Deutsch"),
                                manual + QStringLiteral("Nederlands"), manual})
        DeleteCacheTree(program + tree);
}
