// "DO Vizorira" on the main window: the learning of new types from sample
// files, asked for by the user (the input box or a folder) or run unattended
// before a scan (the Scan button then shows "Stop"). The analysis itself is
// window-free (scan/learning.h); this handler asks, gathers the samples,
// shows the progress on CmdLearn, ProgressBar1 and lblStatus, and refills
// the scan-type list at the end.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/frmdirchoose.h"
#include "drive/ui/frmsearchdrives.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/ui/msgbox.h"
#include "scan/learning.h"
#include "scan/scantable.h"
#include "scan/signatures.h"

#include <chrono>
#include <random>

namespace {

constexpr int kArrowHourglass = 13;

const QString kTitle = QStringLiteral("DO Vizorira");

// A count as the button shows it: a blank before a positive number.
QString countText(int64_t n)
{
    return n >= 0 ? QLatin1Char(' ') + QString::number(n) : QString::number(n);
}

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Marks the run as active for its whole length.
class ActiveRun {
public:
    explicit ActiveRun(bool &flag) : flag_(flag) { flag_ = true; }
    ~ActiveRun() { flag_ = false; }
    ActiveRun(const ActiveRun &) = delete;
    ActiveRun &operator=(const ActiveRun &) = delete;

private:
    bool &flag_;
};

} // namespace

void frmRecover::CmdLearn_Click()
{
    const QString idleCaption = GetString(42, QStringLiteral("DO Vizorira"));
    const bool unattended = CmdScan.Caption() == GetString(259, QStringLiteral("Stop"));

    // A press while the learning (or another operation) runs: the learning is
    // asked whether to stop; anything else is ignored. A run never starts
    // inside another one.
    if (LearnActive || (!unattended && (OperationRunning || OperationBusy))) {
        if (!unattended && CmdLearn.Caption() != idleCaption) {
            plat::MessageRequest box;
            box.text = GetString(288, QStringLiteral("Do you want to stop analyzing?"));
            box.title = ProgramTitle + QStringLiteral("DO Vizorira ");
            box.style = plat::mb::YesNo;
            box.ownerHandle = hWnd();
            if (plat::showMessage(box) == plat::id::Yes) {
                OperationRunning = false;
                UnloadSearchDrives();
            }
        }
        return;
    }

    ActiveRun active(LearnActive);
    const auto clock = LearnClockMs ? LearnClockMs : std::function<int64_t()>(steadyMs);
    const int64_t startMs = clock();
    const QString owner = QString::number(hWnd());

    // Every way out: normal pointer, idle caption, flag cleared.
    auto commonEnd = [this] {
        plat::setScreenMousePointer(0);
        CmdLearn.setCaption(GetString(42, QString()));
        OperationRunning = false;
    };

    // Asking.
    QString typeText;
    bool folderMode = false;
    if (!unattended) {
        CmdShowScanTypes_Click();
        plat::pumpEvents();
        const QString answer = ShowInputBox(LearnPrompt(), kTitle, QStringLiteral(" "), hWnd());
        if (answer.isEmpty()) {
            LvwTypes_FocusChanged();
            ShowGetStarted();
            commonEnd();
            return;
        }
        folderMode = IsLearnFolderAnswer(answer, SourceName);
        typeText = answer;
    } else {
        QStringList adaptive;
        for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
            if (LvwTypes.SubItem(i, 2) == AdaptiveOrigin())
                adaptive << LvwTypes.ItemText(i);
        typeText = UnattendedLearnTypes(adaptive, SourceName);
    }

    // Gathering: the file search over the named drives.
    QStringList samples{QString()};
    int stride = 0;
    if (!folderMode) {
        const LearnSearch search = ParseLearnTypes(typeText);
        typeText = search.patterns;
        if (!typeText.isEmpty()) {
            if (!unattended) {
                CmdLearn.setCaption(GetString(302, QStringLiteral("Gathering")) + QStringLiteral("..."));
                OperationRunning = true;
            }
            plat::setScreenMousePointer(kArrowHourglass);
            SearchDrives().Zoekfiles(typeText, search.drives);
            plat::setScreenMousePointer(0);
        }
        // A stop during the search unloaded the window with its hits.
        QStringList hits;
        if (SearchDrivesLoaded()) {
            frmSearchDrives &found = SearchDrives();
            for (int i = 0; i < found.List1.ListCount(); ++i)
                hits << found.List1.List(i);
        }
        samples = LearnSampleList(hits, LearnFilterOf(typeText));
        UnloadSearchDrives();
        stride = LearnStride(int(samples.size() - 1), unattended);
    }

    // Gathering: every file of a chosen folder.
    if (folderMode || (samples.size() <= 1 && typeText.isEmpty())) {
        typeText = ChooserStartPath;
        const QString chosen = ChooseFolder(
            GetString(305, QStringLiteral("DO Vizorira.  Please select a folder for analyzing.")), this);
        if (ChooserCancelled(chosen)) {
            LvwTypes_FocusChanged();
            commonEnd();
            return;
        }
        QString folder = chosen;
        if (!folder.endsWith(QLatin1Char('\\')))
            folder += QLatin1Char('\\');
        // The root of the system's drive is refused.
        const QString systemFolder = WindowsFolder.isEmpty() ? QStringLiteral("C:\\") : WindowsFolder;
        samples = QStringList{QString()};
        if (folder.size() < 4 && systemFolder.contains(folder, Qt::CaseInsensitive)) {
            MsgBoxTimed(owner, GetString(275, QStringLiteral("Please select a folder.")) + QStringLiteral("   "), 0,
                        ProgramTitle + QStringLiteral("DO Vizorira  "));
        } else {
            OperationRunning = true;
            if (!unattended)
                CmdLearn.setCaption(GetString(302, QStringLiteral("Gathering")) + QStringLiteral("..."));
            plat::pumpEvents();
            samples = ListLearnFolder(folder, MaxLearnFolderFiles, [this] {
                plat::pumpEvents();
                return OperationRunning;
            });
        }
        stride = 0;
    }

    const int last = int(samples.size() - 1);
    if (last <= 0) {
        if (!unattended)
            MsgBoxTimed(owner, GetString(307, QStringLiteral("No matching files found. Try again.   ")), 0,
                        ProgramTitle + QStringLiteral("ZT Adpative  "));
        commonEnd();
        return;
    }

    // Sampling.
    plat::setScreenMousePointer(kArrowHourglass);
    OperationRunning = true;
    if (!unattended) {
        CmdLearn.setCaption(GetString(308, QStringLiteral("Busy")));
        CmdLearn.setCaption(countText(last));
        Picture3.setVisible(true);
        lblStatus.setVisible(true);
    }
    ShowProgressPanel(QString(), last);
    ProgressBar1.setValue(0);

    const uint32_t seed = LearnSeed >= 0 ? uint32_t(LearnSeed) : std::random_device{}();
    LearningRun run(unattended, seed, startMs);
    LearnCallbacks cb;
    cb.running = [this] { return OperationRunning; };
    cb.stop = [this] { OperationRunning = false; };
    cb.clockMs = clock;
    cb.sampled = [this, unattended](const LearnSampleProgress &p) {
        ProgressBar1.setValue(p.index);
        if (!unattended) {
            CmdLearn.setCaption(countText(p.left));
            if (!p.status.isEmpty())
                lblStatus.setCaption(p.status);
            plat::pumpEvents();
        }
        if (LearnSampleHook)
            LearnSampleHook(p.index);
    };
    cb.cleaningStarted = [this](int files) {
        ProgressBar1.setValue(0);
        ProgressBar1.setMax(files);
    };
    cb.cleaningStep = [this] { ProgressBar1.setValue(ProgressBar1.Value() + 1); };
    run.sample(samples, stride, cb);

    // Cleaning.
    if (!unattended)
        CmdLearn.setCaption(GetString(321, QStringLiteral("Cleaning")) + QStringLiteral("..."));
    run.refine(cb);

    // The list anew; the next scan builds its table anew.
    QString typeList = run.TypeList();
    if (unattended) {
        typeList.clear();
        for (const SignatureRecord &row : SignatureTable)
            if (!row.Ext.isEmpty())
                typeList += QString::fromLatin1(row.Ext.mid(1)) + QLatin1Char('|');
    }
    ClearSignatureTable(SignatureTable);
    LvwTypes.setView(plat::ListView::lvwSmallIcon);
    FillTypeList(typeList);
    OperationRunning = false;
    if (!unattended)
        CmdShowScanTypes_Click();
    commonEnd();
}
