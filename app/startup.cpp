// The start-up routine: what the process prepares before the main window
// sets its first caption.
#include "app/startup.h"

#include "app/frmrecover.h"
#include "app/rightsadvice.h"
#include "app/splash.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/ui/controls.h"
#include "platform/ui/msgbox.h"
#include "recovery/cachenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QSaveFile>
#include <QThread>
#include <QWidget>

#include <unistd.h>

#ifndef QUILVANE_VERSION_TEXT
#define QUILVANE_VERSION_TEXT "0.0.0"
#endif

namespace {

const QString kLayersKey = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers");
const QString kRunAsAdmin = QStringLiteral("RUNASADMIN");
const QString kInstancePrefix = QStringLiteral("Quilvane");
const QString kLockName = QStringLiteral("quilvane.lock");
constexpr qint64 kManualMinBytes = 35000;

std::optional<QStringList> &argumentOverride()
{
    static std::optional<QStringList> args;
    return args;
}

plat::InstanceLock &instanceLock()
{
    static plat::InstanceLock lock;
    return lock;
}

int &instanceEndWaitMs()
{
    static int ms = 15000;
    return ms;
}

qint64 g_deliberateMs = 0;

QString crlf() { return QStringLiteral("\r\n"); }

QString workFolderNative()
{
    const QString native = plat::programFolderNative() + QLatin1Char('/') + QString(kWorkSub).chopped(1);
    QDir().mkpath(native);
    return native;
}

// A deliberate pause that lets the window system go on.
void pause(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        plat::pumpEventsNow();
        QThread::msleep(qMin<qint64>(10, qMax<qint64>(1, ms - t.elapsed())));
    }
    g_deliberateMs += t.elapsed();
}

// Sleeps 25 ms and lets the window run, after a process was asked to end.
void afterMatch()
{
    QThread::msleep(25);
    plat::pumpEventsNow();
}

bool sameExecutable(const plat::ProcessFacts &a, const plat::ProcessFacts &b)
{
    return !a.exe.isEmpty() && a.exe == b.exe && a.uid == b.uid;
}

// The first "back.*" of a native folder, sorted without regard to case.
QString firstBackgroundNative(const QString &folderNative)
{
    QStringList names;
    const QFileInfoList entries = QDir(folderNative).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : entries)
        if (plat::wildcardMatch(QStringLiteral("back.*"), fi.fileName()))
            names << fi.fileName();
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names.isEmpty() ? QString() : folderNative + QLatin1Char('/') + names.first();
}

void showSplash(const QString &pictureInternal)
{
    frmRecover &w = MainWindow();
    frmRecoverInit &splash = SplashForm();
    w.SplashWindow = &splash;
    w.DrawThumbnail(pictureInternal, splash.Picture1, int(splash.Picture1.Width() + 50),
                    int(splash.Picture1.Height() + 34));
    DrawPictureWhenUndrawn(splash.Picture1, pictureInternal);
    splash.DrawLogo();
    if (WindowOpacitySupported())
        if (QWidget *sw = splash.widget())
            sw->setWindowOpacity(1.0);
    splash.Show();
    plat::pumpEventsNow();
}

// Another instance holds the lock: asks whether to go on, and asks that
// instance to end. False when this start ends.
bool handleEarlierInstance()
{
    const QString lockPath = InstanceLockPath();
    if (instanceLock().tryAcquire(lockPath))
        return true;
    const bool another = plat::InstanceLock::isHeld(lockPath);
    int count = 0;
    FindOrKillProcesses(kInstancePrefix, 0, count);
    if (!another && count < 2)
        return true;   // no lock to be had here (a read-only folder): go on alone

    SaveSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("ST"), QStringLiteral("0"));
    const QString text = GetString(2250, QStringLiteral("Terminating running previous instances and/or processes."))
                       + crlf() + crlf() + crlf() + GetString(2251, QStringLiteral("Do you want to continue?")) + crlf();
    const QString title = GetString(2252, QStringLiteral("Quilvane Start"));
    const int answer = MsgBoxPositioned(0, text, plat::mb::YesNoCancel, title);
    if (answer != plat::id::Yes) {
        // No and Cancel end this start only; the running instance may be
        // writing a medium.
        EndProcess();
        return false;
    }
    int spare = 0;
    const bool ended = FindOrKillProcesses(kInstancePrefix, -1, spare);
    // The other instance shuts down the normal way; its lock goes with it.
    QElapsedTimer waited;
    waited.start();
    bool acquired = instanceLock().tryAcquire(lockPath);
    while (!acquired && waited.elapsed() < instanceEndWaitMs()) {
        plat::pumpEventsNow();
        QThread::msleep(50);
        acquired = instanceLock().tryAcquire(lockPath);
    }
    if (!acquired) {
        MsgBoxPositioned(0,
                         GetString(2260, QStringLiteral("The running Quilvane did not end. Close it and start Quilvane again.")),
                         plat::mb::OK + plat::mb::IconExclamation, title);
        EndProcess();
        return false;
    }
    Startup().PreviousInstancesEnded = ended;
    return true;
}

void vistaHandling()
{
    if (!IsVistaOrLater())
        return;
    const QString folder = StripTrailingBackslash(plat::programFolder());
    const QString valueName = folder + QStringLiteral("\\Quilvane.exe");
    const QVariant current = RegGetValue(HKEY_CURRENT_USER, kLayersKey, valueName);
    if (current.toString().contains(kRunAsAdmin, Qt::CaseInsensitive))
        return;
    RegSetValue(HKEY_CURRENT_USER, kLayersKey, valueName, kRunAsAdmin);
    const QString rvista = GetSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("RVISTA"));
    if (::geteuid() != 0 || rvista != QLatin1String("-1")) {
        bool numeric = false;
        const double value = rvista.trimmed().toDouble(&numeric);
        if (numeric) {
            int force = value != -1 ? -1 : 0;
            ShowVistaAdvice(folder, force);
            if (ProcessEndRequested())
                return;
        }
    }
    SaveSetting(QStringLiteral("ZTVers"), QStringLiteral("Startup"), QStringLiteral("RVISTA"), QStringLiteral("-1"));
}

int &manifestPauseMs()
{
    static int ms = 1000;
    return ms;
}

} // namespace

// ---- process-wide values ----------------------------------------------------------

StartupValues &Startup()
{
    static StartupValues v;
    return v;
}

// ---- command line -------------------------------------------------------------------

QStringList ProgramArguments()
{
    if (argumentOverride())
        return *argumentOverride();
    if (!QCoreApplication::instance())
        return {};
    return QCoreApplication::arguments().mid(1);
}

void SetProgramArguments(std::optional<QStringList> args) { argumentOverride() = std::move(args); }

QString ProgramCommandLine() { return ProgramArguments().join(QLatin1Char(' ')); }

bool CommandWordGiven(const QString &word)
{
    for (const QString &arg : ProgramArguments())
        if (arg.trimmed().compare(word, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::optional<QString> CommandWordValue(const QString &word)
{
    const QString prefix = word + QLatin1Char('=');
    for (const QString &arg : ProgramArguments()) {
        const QString a = arg.trimmed();
        if (!a.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        QString value = a.mid(prefix.size()).trimmed();
        if (value.size() >= 2 && ((value.startsWith(u'"') && value.endsWith(u'"'))
                                  || (value.startsWith(u'\'') && value.endsWith(u'\''))))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return std::nullopt;
}

// ---- the language ------------------------------------------------------------------------

double LeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i].isDigit() && text[i].unicode() < 128) {
            digits = true;
        } else if (text[i] == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    return text.mid(start, i - start).toDouble();
}

int ChooseLanguage(const QString &commandLine)
{
    int requested = 0;
    if (commandLine.contains(QLatin1String("language"))) {
        requested = int(LeadingNumber(commandLine));
    } else {
        LocaleLanguageName(requested);   // 0 becomes the system's language
        MapLcid(requested);
    }
    Startup().RequestedLanguageId = requested;
    return SupportedLanguages().contains(requested) ? requested : 9;
}

// ---- manifest -------------------------------------------------------------------------------

QString ProgramVersionText() { return QStringLiteral(QUILVANE_VERSION_TEXT ".0"); }

QString ProgramFileBaseName()
{
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("quilvane") : name;
}

QString ManifestText(const QString &exeName, const QString &versionText)
{
    static const char *const kTemplate[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<assemblyIdentity",
        "    version=\"EXEVERSION\"",
        "    processorArchitecture=\"X86\"",
        "    name=\"EXENAME\"",
        "    type=\"win32\"",
        "/>",
        "<description>EXENAME Manifest</description>",
        "<dependency>",
        "        <dependentAssembly>",
        "                <assemblyIdentity",
        "                        type=\"win32\"",
        "                        name=\"Microsoft.Windows.Common-Controls\"",
        "                        version=\"6.0.0.0\"",
        "                        processorArchitecture=\"X86\"",
        "                        publicKeyToken = \"6595b64144ccf1df\"",
        "                        language=\"*\"",
        "                />",
        "        </dependentAssembly>",
        "</dependency>",
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "    <security>",
        "        <requestedPrivileges>",
        "            <requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>",
        "        </requestedPrivileges>",
        "    </security>",
        "</trustInfo>",
        "</assembly>",
    };
    QString text;
    for (const char *line : kTemplate)
        text += QString::fromLatin1(line) + crlf();
    text.replace(QLatin1String("EXENAME"), exeName + QStringLiteral(".exe"));
    text.replace(QLatin1String("EXEVERSION"), versionText);
    text.replace(QLatin1String("EXEDESCRIPTION"), QStringLiteral("Quilvane"));
    text.replace(QLatin1String("COMPANYNAME"), QStringLiteral("Zentarix"));
    return text;
}

void SetManifestPauseMs(int ms) { manifestPauseMs() = ms; }

void WriteManifest()
{
    const QString base = ProgramFileBaseName();
    const QString version = ProgramVersionText();
    const QString stem = plat::programFolderNative() + QLatin1Char('/') + base;
    const QString manifest = stem + QStringLiteral(".exe.manifest");

    bool write = true;
    QFile existing(manifest);
    if (existing.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromLatin1(existing.readAll());
        existing.close();
        write = !text.contains(base) || !text.contains(version);
    }
    if (write) {
        QFile::remove(manifest);
        QSaveFile out(manifest);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(ManifestText(base, version).toLatin1());
            if (out.commit()) {
                pause(manifestPauseMs());
                MainWindow().CheckVbRuntime();
            }
        }
    }
    const QString local = stem + QStringLiteral(".exe.local");
    if (!QFileInfo::exists(local)) {
        QFile f(local);
        if (f.open(QIODevice::WriteOnly))
            f.close();
    }
}

bool EnsureComponentLoadable(const QString &)
{
    return LanguageComponentAvailable();
}

// ---- processes ---------------------------------------------------------------------------------

QString InstanceLockPath() { return workFolderNative() + QLatin1Char('/') + kLockName; }

void ReleaseInstanceLock() { instanceLock().release(); }

void SetInstanceEndWaitMs(int ms) { instanceEndWaitMs() = ms > 0 ? ms : 15000; }

bool TerminateProcessById(qint64 pid, int)
{
    return plat::terminateProcess(pid);
}

bool FindOrKillProcesses(const QString &nameStart, int mode, int &count)
{
    const plat::ProcessFacts self = plat::ownProcessFacts();
    struct Candidate {
        plat::ProcessFacts facts;
        bool isSelf;
    };
    QList<Candidate> candidates;
    candidates << Candidate{self, true};

    // The instance named in the lock, when it is this program run by this user.
    const QString lockPath = InstanceLockPath();
    if (!instanceLock().held() && plat::InstanceLock::isHeld(lockPath)) {
        const qint64 holder = plat::InstanceLock::holderPid(lockPath);
        if (holder != self.pid) {
            const std::optional<plat::ProcessFacts> f = plat::processFacts(holder);
            if (f && !f->zombie && sameExecutable(*f, self))
                candidates << Candidate{*f, false};
        }
    }
    // Helpers that an earlier run started and left behind.
    for (const plat::RecordedChild &c : plat::recordedChildren()) {
        if (!plat::childStillRuns(c) || plat::childParentRuns(c))
            continue;
        if (const std::optional<plat::ProcessFacts> f = plat::processFacts(c.pid))
            candidates << Candidate{*f, false};
    }

    bool ended = false;
    for (const Candidate &c : candidates) {
        const QString name = QFileInfo(c.facts.exe).fileName();
        if (name.isEmpty() || !name.startsWith(nameStart, Qt::CaseInsensitive))
            continue;
        if (mode == -1) {
            if (!c.isSelf && TerminateProcessById(c.facts.pid, 0)) {
                ended = true;
                afterMatch();
            }
        } else {
            ++count;
        }
    }
    return ended;
}

void KillLeftoverProcesses()
{
    // Every helper an earlier run started and did not see end: ended by its
    // id; the record keeps the helpers of instances that still run.
    QList<plat::RecordedChild> keep;
    for (const plat::RecordedChild &c : plat::recordedChildren()) {
        if (!plat::childStillRuns(c))
            continue;
        if (plat::childParentRuns(c)) {
            keep << c;
            continue;
        }
        if (TerminateProcessById(c.pid, 0))
            afterMatch();
        else
            keep << c;
    }
    plat::setRecordedChildren(keep);
}

// ---- pictures of the work folder ------------------------------------------------------------

QString SplashPicturePath(const QString &workFolder)
{
    const QString native = plat::toNative(workFolder);
    if (native.isEmpty())
        return {};
    if (QFileInfo(native + QStringLiteral("/Lastpict.bmp")).isFile())
        return workFolder + QStringLiteral("Lastpict.bmp");
    return BackgroundPicturePath(workFolder);
}

QString BackgroundPicturePath(const QString &workFolder)
{
    const QString native = plat::toNative(workFolder);
    if (native.isEmpty())
        return {};
    const QString found = firstBackgroundNative(native);
    return found.isEmpty() ? QString() : workFolder + QFileInfo(found).fileName();
}

void DrawPictureWhenUndrawn(plat::PictureBox &box, const QString &pictureInternal)
{
    if (!box.Picture().isNull())
        return;
    QImage picture(plat::toNative(pictureInternal));
    if (picture.isNull())
        return;
    const QSize size(plat::twipsToPixels(box.Width()), plat::twipsToPixels(box.Height()));
    if (size.width() < 1 || size.height() < 1)
        return;
    QImage canvas(size, QImage::Format_ARGB32);
    canvas.fill(plat::colorFromVb(box.BackColor()));
    const QImage fitted = picture.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPainter p(&canvas);
    p.drawImage((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2, fitted);
    p.end();
    box.setPicture(canvas);
}

void InstallShippedBackground(const QString &workFolder)
{
    const QString native = plat::toNative(workFolder);
    if (native.isEmpty() || !firstBackgroundNative(native).isEmpty())
        return;
    QFile::copy(QStringLiteral(":/pictures/back.jpg"), native + QStringLiteral("/back.jpg"));
    QFile::setPermissions(native + QStringLiteral("/back.jpg"), QFile::ReadOwner | QFile::WriteOwner);
}

// ---- the start-up routine --------------------------------------------------------------------

void ProgramStartup()
{
    Startup() = StartupValues{};
    frmRecover &w = MainWindow();
    // 1. The manifest and the local-redirection file.
    WriteManifest();
    // 2. The common controls: Qt has them. 3. The string tables.
    InitLanguage();
    // 11. - 12. The language of this start, chosen before anything is shown
    // or asked, so that every box of the start speaks it; the stored one only
    // tells which manual is prepared.
    SetCurrentLanguageId(ChooseLanguage(ProgramCommandLine()));
    // 4. The program folder's attributes are left as they are.
    // 5.
    w.ProgramTitle = GetString(31, QStringLiteral("Quilvane"));
    // 6.
    if (!EnsureComponentLoadable(QStringLiteral("mlruntime.dll")))
        MsgBoxPositioned(0, GetString(2253, QStringLiteral("Insufficient user rights for a full installation.")),
                         plat::mb::OK + plat::mb::IconStop, w.ProgramTitle);
    // 7.
    vistaHandling();
    if (ProcessEndRequested())
        return;
    // 8.
    Startup().BaseKeyPath = frmRecover::BaseKey;
    // 9. - 10.
    KillLeftoverProcesses();
    if (!handleEarlierInstance())
        return;
    // 13. - 15. The splash window.
    workFolderNative();
    InstallShippedBackground(w.WorkFolder);
    const QString picture = SplashPicturePath(w.WorkFolder);
    SeedProgramRandom();
    if (!picture.isEmpty())
        showSplash(picture);
    // 16. The manual of the language; its language is recorded once it is
    // prepared.
    InstallShippedManual();
    const QString appName = ProgramFileBaseName();
    const QString prepared = GetSetting(appName, QStringLiteral("MultiLang"), QStringLiteral("LangId"));
    const QFileInfo manual(plat::programFolderNative() + QStringLiteral("/Manual/") + kManualPage);
    if (int(LeadingNumber(prepared)) != CurrentLanguageId() || !manual.isFile() || manual.size() < kManualMinBytes) {
        PrepareManual();
        SaveSetting(appName, QStringLiteral("MultiLang"), QStringLiteral("LangId"), QString::number(CurrentLanguageId()));
    }
}

// ---- small rules ----------------------------------------------------------------------------

QString DateSeparatorOf(const QString &dateText)
{
    QString separator;
    for (qsizetype i = 0; i + 1 < dateText.size(); ++i)
        if (!(dateText[i] >= u'0' && dateText[i] <= u'9'))
            separator = dateText[i];
    return separator;
}

int RunCrossFade(const FadeHooks &hooks)
{
    int steps = 0;
    for (int a = 25; a <= 255;) {
        const qint64 t = hooks.nowMs();
        hooks.setAlpha(a, 265 - a);
        ++steps;
        qint64 passed = hooks.nowMs() - t;
        // A clock that stands still must not hold the fade forever.
        for (int guard = 0; passed < 20 && guard < 1000; ++guard) {
            hooks.wait(int(20 - passed));
            passed = hooks.nowMs() - t;
        }
        if (passed >= 30)
            a += 2;
        hooks.wait(0);
        a += 2;
    }
    return steps;
}

namespace {
std::optional<bool> &opacityOverride()
{
    static std::optional<bool> v;
    return v;
}
std::optional<uint32_t> &seedOverride()
{
    static std::optional<uint32_t> v;
    return v;
}
} // namespace

bool WindowOpacitySupported()
{
    if (opacityOverride())
        return *opacityOverride();
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void SetWindowOpacityOverride(std::optional<bool> supported) { opacityOverride() = supported; }

std::mt19937 &ProgramRandom()
{
    static std::mt19937 generator(5489u);
    return generator;
}

void SeedProgramRandom()
{
    ProgramRandom().seed(seedOverride() ? *seedOverride() : uint32_t(QDateTime::currentMSecsSinceEpoch()));
}

void SetProgramRandomSeed(std::optional<uint32_t> seed) { seedOverride() = seed; }

qint64 StartupDeliberateMs() { return g_deliberateMs; }
void AddStartupDeliberateMs(qint64 ms) { g_deliberateMs += ms; }
