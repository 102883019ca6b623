// The About box.
#include "app/frmabout.h"

#include "app/frmrecover.h"
#include "app/logo.h"
#include "app/startup.h"
#include "app/supportreport.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDate>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <new>

namespace {

// The program's name as the product calls itself.
const QString kProductName = QStringLiteral("Quilvane");

std::unique_ptr<frmAboutRecvr> g_about;
int g_instances = 0;

QString crlf() { return QStringLiteral("\r\n"); }

QString programTitle()
{
    frmRecover *w = MainWindowIfMade();
    return w ? w->ProgramTitle : GetString(2256, QStringLiteral("Quilvane Pro"));
}

// Lets the box go: it is no longer the program's About box at once, and is
// destroyed once the event that closes it has been handled.
void releaseAboutBox(frmAboutRecvr *box)
{
    if (g_about.get() != box)
        return;
    frmAboutRecvr *old = g_about.release();
    QTimer::singleShot(0, QCoreApplication::instance(), [old] { delete old; });
}

// The program's logo on a dark tile.
void drawIcon(plat::PictureBox &box)
{
    QImage image = CanvasImageOf(box);
    if (image.isNull())
        return;
    LogoCanvas canvas(image);
    quint32 colour = 0x404040;
    DrawLogoPattern(canvas, 6, 9, 12, colour);
    box.setPicture(image);
}

} // namespace

QString AboutVersionLine(const VersionNumbers &version, const QString &dateText)
{
    const QString revision = QString::number(version.revision);
    const QString rest = revision.mid(1);
    QString line = GetString(1480, QStringLiteral("Version")) + QLatin1Char(' ') + QString::number(version.major)
        + QLatin1Char('.') + QString::number(version.minor) + QLatin1Char('.') + revision.left(1) + QStringLiteral("   ");
    if (LeadingNumber(rest) != 0)
        line += GetString(1481, QStringLiteral("revision #")) + rest + QStringLiteral("   ");
    return line + GetString(1482, QStringLiteral("date:")) + QStringLiteral("  ") + dateText;
}

frmAboutRecvr::frmAboutRecvr()
{
    ++g_instances;
    if (QWidget *w = widget())
        w->setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    // The designed places (twips).
    Move(0, 0, 9000, 4380);
    picIcon.Move(240, 240, 720, 720);
    picIcon.setBorderStyle(0);
    picIcon.setBackColor(0x202020);
    lblTitle.Move(1140, 240, 7620, 420);
    lblTitle.setFontSize(14);
    lblTitle.setFontBold(true);
    lblVersion.Move(1140, 690, 7620, 270);
    lblDescription.Move(240, 1080, 8520, 1020);
    lblDescription.setWordWrap(true);
    for (plat::PictureBox &line : Line1) {
        line.setBorderStyle(0);
        line.setBackColor(0x808080);
    }
    Line1[0].Move(240, 2160, 8520, 15);
    lblDisclaimer.Move(240, 2265, 8520, 780);
    lblDisclaimer.setWordWrap(true);
    Line1[1].Move(240, 3120, 8520, 15);
    Label6.Move(240, 3210, 8520, 270);
    const double buttonTop = 3660, buttonWidth = 2040, gap = 120;
    double left = 240;
    for (plat::CommandButton *b : {&CmdCheckUpdate, &Command1, &cmdSysInfo, &CmdOK}) {
        b->Move(left, buttonTop, buttonWidth, 375);
        left += buttonWidth + gap;
    }
    CmdOK.setDefault(true);

    Activate = [this] { Form_Activate(); };
    QueryUnload = [this](int &cancel, int mode) { Form_QueryUnload(cancel, mode); };
    CmdCheckUpdate.Click = [this] { CmdCheckUpdate_Click(); };
    Command1.Click = [this] { Command1_Click(); };
    cmdSysInfo.Click = [this] { cmdSysInfo_Click(); };
    CmdOK.Click = [this] { CmdOK_Click(); };
}

frmAboutRecvr::~frmAboutRecvr() { --g_instances; }

void frmAboutRecvr::Form_Load()
{
    // 1.
    SetAboutCaptions();
    UpdateAboutButtons();
    // 2.
    setCaption(QLatin1Char(' ') + GetString(144, QStringLiteral("About")) + QLatin1Char(' ') + kProductName);
    // 3. The date of the program file; empty when it cannot be dated.
    const QString stamp = GetFileModifiedText(plat::toInternal(QCoreApplication::applicationFilePath()));
    lblVersion.setCaption(AboutVersionLine(ProgramVersionNumbers(), stamp.section(QLatin1Char(' '), 0, 0)));
    // 4. The labels show a doubled "&" as one.
    lblDescription.setCaption(
        GetString(145, QStringLiteral("File && Data Recovery Tool for Removable Media")) + crlf()
        + GetString(146, QStringLiteral("like CompactFlash SD && xD Cards, Microdrive, Memory Stick, MMC, etc.")) + crlf()
        + GetString(147, QStringLiteral("on USB, FireWire, PCMCIA, CardBus, Reader, Disk etc. with a drive letter.")));
    // The window's designed texts.
    lblTitle.setCaption(programTitle());
    lblDisclaimer.setCaption(GetString(
        2751, QStringLiteral("This program is provided as is, without warranty of any kind. Its makers are not "
                             "liable for any loss of data or other damage that comes of its use.")));
    Label6.setCaption(FormatString(GetString(2255, QStringLiteral("Copyright Zentarix Software %0")),
                                   {QString::number(QDate::currentDate().year())}));
    drawIcon(picIcon);
    // 6.
    LayoutAboutForm();
}

void frmAboutRecvr::Form_Activate() { LayoutAboutForm(); }

void frmAboutRecvr::LayoutAboutForm()
{
    // The other controls keep their designed places.
    cmdSysInfo.setVisible(true);
    CmdCheckUpdate.setVisible(true);
}

void frmAboutRecvr::UpdateAboutButtons()
{
    cmdSysInfo.setVisible(true);
    CmdCheckUpdate.setVisible(true);
}

void frmAboutRecvr::SetAboutCaptions()
{
    setCaption(GetString(1, QStringLiteral("Quilvane About")));
    CmdCheckUpdate.setCaption(GetString(3, QStringLiteral("Check for update")));
    Command1.setCaption(GetString(4, QStringLiteral("Email Support")));
    cmdSysInfo.setCaption(GetString(8, QStringLiteral("&System Info..")));
    CmdOK.setCaption(GetString(1474, QStringLiteral("OK")));
}

void frmAboutRecvr::CmdCheckUpdate_Click() { MainWindow().CheckForUpdate(true); }

QString frmAboutRecvr::GetProgramData()
{
    frmRecover *w = MainWindowIfMade();
    return MakeProgramDataReport(w ? w->SystemVolumeSerialText : QString());
}

void frmAboutRecvr::Command1_Click()
{
    QString body;
    // A failure on the way is recorded for support and the mail still goes.
    try {
        const int answer = MsgBox(GetString(134, QStringLiteral("Please include the program data.")) + crlf() + crlf()
                                      + GetString(135, QStringLiteral("Do you want to include the program data?   ")),
                                  plat::mb::YesNo, GetString(136, QStringLiteral("Request support")));
        if (answer == plat::id::Yes)
            body = GetProgramData();
    } catch (const std::bad_alloc &) {
        LastErrorText() += QLatin1Char(' ') + GetString(137, QStringLiteral("Error: ")) + QStringLiteral("7: Out of memory");
    } catch (const std::exception &e) {
        LastErrorText() += QLatin1Char(' ') + GetString(137, QStringLiteral("Error: ")) + QStringLiteral("5: ")
            + QString::fromLocal8Bit(e.what());
    }
    // The prefix in the current language, once.
    const QString prefix = GetString(138, QStringLiteral("Last error:"));
    if (!LastErrorText().isEmpty() && !LastErrorText().startsWith(prefix))
        LastErrorText() = prefix + QLatin1Char(' ') + LastErrorText() + crlf();
    const QString subject = programTitle() + QStringLiteral(" Support");
    const QString address = SupportMailAddress();
    if (OpenMailMessage(hWnd(), subject, body + LastErrorText(), address))
        return;
    // No mail program: the message can still go by the user's own way.
    const QString question
        = FormatString(GetString(2752, QStringLiteral("No mail program opened. Copy the message to the clipboard, to paste "
                                                      "it into a mail to %0?")),
                       {address});
    if (MsgBoxPositioned(hWnd(), question, plat::mb::YesNo + plat::mb::IconExclamation,
                         GetString(136, QStringLiteral("Request support")))
        != plat::id::Yes)
        return;
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(MailMessageText(subject, body + LastErrorText(), address));
}

void frmAboutRecvr::cmdSysInfo_Click()
{
    const QString report = GetProgramData();
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(report);
    QString shown = report;
    shown.remove(GetString(181, QStringLiteral("Please type your message here: ")));
    MsgBox(shown, plat::mb::OK, kProductName + QStringLiteral(" data"));
    StartSysInfo();
}

void frmAboutRecvr::StartSysInfo()
{
    bool started = false;
    try {
        frmRecover *w = MainWindowIfMade();
        started = StartSysInfoTool(w ? w->RegistryHive : HKEY_CURRENT_USER);
    } catch (...) {
        started = false;
    }
    if (!started)
        MsgBoxPositioned(hWnd(), GetString(158, QStringLiteral("System Information Is Unavailable At This Time")),
                         plat::mb::OK + plat::mb::IconInformation, kProductName);
}

void frmAboutRecvr::CmdOK_Click() { Unload(); }

void frmAboutRecvr::Form_QueryUnload(int &cancel, int)
{
    if (cancel != 0)
        return;
    // The common controls come with the toolkit: nothing to load again. The
    // main-window property the box once reset here has no counterpart.
    releaseAboutBox(this);
}

// ---- the program's About box ------------------------------------------------------------------

frmAboutRecvr *AboutBoxIfLoaded() { return g_about.get(); }

void UnloadAboutBox()
{
    if (frmAboutRecvr *box = g_about.get())
        if (!box->Unload())
            releaseAboutBox(box);
}

void ShowAboutBox()
{
    UnloadAboutBox();
    g_about = std::make_unique<frmAboutRecvr>();
    frmAboutRecvr *box = g_about.get();
    box->Form_Load();
    frmRecover *w = MainWindowIfMade();
    if (w) {
        // Centred over the main window.
        box->Move(w->Left() + (w->Width() - box->Width()) / 2, w->Top() + (w->Height() - box->Height()) / 2);
    }
    box->Show(0, w);
    box->ZOrder(0);
}

void frmRecover::frmAboutRecvr_Show() { ShowAboutBox(); }

bool AboutUpdateButtonShown()
{
    const frmAboutRecvr *box = g_about.get();
    return box && box->Visible() && box->CmdCheckUpdate.Visible();
}

int AboutBoxInstances() { return g_instances; }
