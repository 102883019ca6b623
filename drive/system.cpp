#include "drive/system.h"

#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "platform/os.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray enc(const QString &native) { return QFile::encodeName(native); }

// The run time's text form of a number: a leading blank for a positive one.
QString vbStr(int n) { return n >= 0 ? QLatin1Char(' ') + QString::number(n) : QString::number(n); }

std::function<QDateTime()> &utcClock()
{
    static std::function<QDateTime()> clock;
    return clock;
}

LaunchHook &launchHook()
{
    static LaunchHook hook;
    return hook;
}

// --- the desktop's associations --------------------------------------------

QString envOr(const char *name, const QString &fallback)
{
    const QString v = qEnvironmentVariable(name);
    return v.isEmpty() ? fallback : v;
}

QStringList configDirs()
{
    QStringList dirs{envOr("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"))};
    dirs += envOr("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

QStringList dataDirs()
{
    QStringList dirs{envOr("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"))};
    dirs += envOr("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

// The entries of one group of a desktop-style file: key -> value.
QHash<QString, QString> readGroup(const QString &file, const QString &group)
{
    QHash<QString, QString> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return out;
    bool inGroup = false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        if (!inGroup || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && !out.contains(line.left(eq).trimmed()))
            out.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return out;
}

QString desktopFile(const QString &id)
{
    for (const QString &d : dataDirs()) {
        const QString p = d + QStringLiteral("/applications/") + id;
        if (QFileInfo(p).isFile())
            return p;
    }
    return QString();
}

// The desktop file of the default application of a MIME type.
QString defaultDesktopFile(const QString &mime)
{
    QStringList lists;
    QStringList desktops;
    for (const QString &d : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops << d.toLower();
    for (const QString &d : configDirs()) {
        for (const QString &desk : desktops)
            lists << d + QLatin1Char('/') + desk + QStringLiteral("-mimeapps.list");
        lists << d + QStringLiteral("/mimeapps.list");
    }
    for (const QString &d : dataDirs()) {
        for (const QString &desk : desktops)
            lists << d + QStringLiteral("/applications/") + desk + QStringLiteral("-mimeapps.list");
        lists << d + QStringLiteral("/applications/mimeapps.list");
        lists << d + QStringLiteral("/applications/defaults.list");
    }
    for (const QString &list : lists) {
        const auto group = readGroup(list, QStringLiteral("Default Applications"));
        for (const QString &id : group.value(mime).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString file = desktopFile(id.trimmed());
            if (!file.isEmpty())
                return file;
        }
    }
    // No default: the first application that says it handles the type.
    for (const QString &d : dataDirs()) {
        const auto group = readGroup(d + QStringLiteral("/applications/mimeinfo.cache"), QStringLiteral("MIME Cache"));
        for (const QString &id : group.value(mime).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString file = desktopFile(id.trimmed());
            if (!file.isEmpty())
                return file;
        }
    }
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (!xdgMime.isEmpty()) {
        QByteArray out;
        if (RunProgram(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mime}, 3000, &out) == 0) {
            const QString id = QString::fromUtf8(out).trimmed();
            if (!id.isEmpty() && !id.contains(QLatin1Char('/')))
                return desktopFile(id);
        }
    }
    return QString();
}

// The command line of a desktop file without its field codes.
QString desktopCommand(const QString &file)
{
    QString exec = readGroup(file, QStringLiteral("Desktop Entry")).value(QStringLiteral("Exec"));
    static const QRegularExpression field(QStringLiteral("\\s*%[fFuUdDnNickvm]"));
    exec.remove(field);
    exec.replace(QLatin1String("%%"), QLatin1String("%"));
    return exec.trimmed();
}

QString defaultHandlerCommand(const QString &scheme)
{
    const QString file = defaultDesktopFile(QStringLiteral("x-scheme-handler/") + scheme);
    return file.isEmpty() ? QString() : desktopCommand(file);
}

// --- starting programs -----------------------------------------------------

struct StartedProgram {
    qint64 pid = 0;
    quint64 startTime = 0;
};

std::vector<StartedProgram> &startedPrograms()
{
    static std::vector<StartedProgram> list;
    return list;
}

// The start time of a process (clock ticks after boot) and whether it is a
// zombie; 0 when there is no such process.
quint64 processStartTime(qint64 pid, bool *zombie = nullptr)
{
    const std::optional<plat::ProcessFacts> f = plat::processFacts(pid);
    if (!f)
        return 0;
    if (zombie)
        *zombie = f->zombie;
    return f->startTicks;
}

bool launch(const QString &program, const QStringList &args, const QString &dir)
{
    if (launchHook())
        return launchHook()(program, args, dir);
    return StartProgram(program, args, dir) != 0;
}

// Hands a file, folder or link to the desktop's opener.
bool openWithDesktop(const QString &target)
{
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!xdgOpen.isEmpty())
        return launch(xdgOpen, {target}, QString());
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (!gio.isEmpty())
        return launch(gio, {QStringLiteral("open"), target}, QString());
    return false;
}

// --- downloads ---------------------------------------------------------------

int &connectTimeout()
{
    static int s = 15;
    return s;
}

int &stallTimeout()
{
    static int s = 30;
    return s;
}

constexpr int kDownloadDeadlineMs = 30000;

int &deadlineMs()
{
    static int ms = kDownloadDeadlineMs;
    return ms;
}

std::function<bool(int &, QString &)> &connectedHook()
{
    static std::function<bool(int &, QString &)> hook;
    return hook;
}

struct DownloadSink {
    int fd = -1;
    qint64 written = 0;
    qint64 limit = 0;
};

size_t writeToSink(char *data, size_t size, size_t count, void *user)
{
    auto *sink = static_cast<DownloadSink *>(user);
    const size_t total = size * count;
    if (sink->written + qint64(total) > sink->limit)
        return 0;   // larger than allowed: the transfer fails
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::write(sink->fd, data + done, total - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;   // makes the transfer fail
        done += size_t(n);
    }
    sink->written += qint64(total);
    return total;
}

bool isWebLink(const QString &url)
{
    static const QRegularExpression web(QStringLiteral("^https?://"), QRegularExpression::CaseInsensitiveOption);
    return web.match(url).hasMatch();
}

// How often the window gets its events while a download waits on the network.
constexpr int kDownloadPumpMs = 20;

// Downloads into an open file; true only for a complete reply of a success
// status within the deadline, written and flushed to the disk. The window
// takes its events every few milliseconds meanwhile; the closing program
// stops the transfer.
bool downloadInto(const QString &url, int fd, qint64 maxBytes)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (plat::closing())
        return false;
    CURL *curl = curl_easy_init();
    CURLM *multi = curl_multi_init();
    if (!curl || !multi) {
        if (curl)
            curl_easy_cleanup(curl);
        if (multi)
            curl_multi_cleanup(multi);
        return false;
    }
    const QByteArray u = url.toUtf8();
    DownloadSink sink{fd, 0, maxBytes > 0 ? maxBytes : kDownloadTextLimit};
    curl_slist *headers = nullptr;
    // There is no cache of our own; these keep proxies from answering with
    // an old copy.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(connectTimeout()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(stallTimeout()));
    // The whole transfer, however slowly the server sends.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(deadlineMs()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(sink.limit));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quilvane");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToSink);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_multi_add_handle(multi, curl);

    // The transfer runs in steps between which the window takes its events
    // (its commands refuse while the caller is busy).
    int running = 1;
    bool stopped = false;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running == 0)
            break;
        curl_multi_poll(multi, nullptr, 0, kDownloadPumpMs, nullptr);
        plat::pumpEventsNow();
        if (plat::closing()) {
            stopped = true;
            break;
        }
    }
    CURLcode result = CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg *m = curl_multi_info_read(multi, &left))
        if (m->msg == CURLMSG_DONE && m->easy_handle == curl)
            result = m->data.result;
    bool ok = !stopped && result == CURLE_OK;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    ok = ok && status >= 200 && status < 300;
    curl_off_t expected = -1, got = 0;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &got);
    ok = ok && (expected < 0 || expected == got);
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return ::fsync(fd) == 0 && ok;
}

// Downloads into the hidden ".NAME.part" beside the native target and
// renames it over the target once complete; a failed or stopped download
// removes it. A ".part" file left by a killed download is never the user's:
// it is replaced.
bool downloadBeside(const QString &url, const QString &native, qint64 maxBytes)
{
    const QFileInfo info(native);
    plat::PartFile part;
    if (!part.open(info.absolutePath(), info.fileName()))
        return false;
    // The new file gets the old one's permissions (a new one the usual 0644).
    struct stat old;
    ::fchmod(part.fd(), ::stat(enc(native).constData(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    // The rename replaces the old file in one step: it is never lost.
    return downloadInto(url, part.fd(), maxBytes) && part.commit(info.fileName(), plat::PartFile::Existing::Replace);
}

// "1" in /sys/class/net/<name>/flags's IFF_UP bit.
bool interfaceUp(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    QFile f(QStringLiteral("/sys/class/net/") + name + QStringLiteral("/flags"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const uint flags = QString::fromLatin1(f.read(64)).trimmed().toUInt(&ok, 16);
    return ok && (flags & 0x1) != 0;
}

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(1 << 20);
}

} // namespace

// --- the system ----------------------------------------------------------------

QString GetOsVersionText(int &major)
{
    const plat::OsIdentity id = plat::osIdentity();
    QString family;
    switch (id.platformId) {
    case 0: family = QStringLiteral("Windows 32s "); break;
    case 1: family = QStringLiteral("Windows 95/98/ME "); break;
    case 2: family = id.major >= 6 ? QStringLiteral("Windows 7/Vista ") : QStringLiteral("Windows NT/2000/XP "); break;
    default: break;
    }
    major = id.major;
    return QStringLiteral("OS: ") + family + QStringLiteral(" Win version:") + vbStr(id.major) + QLatin1Char('.')
        + QString::number(id.minor) + QStringLiteral(" Build: ") + vbStr(id.build);
}

QString GetKernelVersionText()
{
    const plat::KernelFacts k = plat::kernelFacts();
    if (k.sysname.isEmpty())
        return {};
    QString family = k.distribution.isEmpty() ? k.sysname : k.distribution;
    if (!k.machine.isEmpty())
        family += QLatin1Char(' ') + k.machine;
    return QStringLiteral("OS: ") + family + QStringLiteral("  Win version: ") + k.release + QStringLiteral(" Build: ")
        + k.version.simplified();
}

bool IsVistaOrLater()
{
    int major = 0;
    GetOsVersionText(major);
    return major >= 6;
}

double BytesToMB(double bytes)
{
    const double mb = bytes / 1024.0 / 1024.0;
    return std::round(mb * 100.0) / 100.0;
}

qint64 GetFreeMemoryBytes()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    qint64 availableKiB = -1, freeKiB = -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "MemAvailable:")
            availableKiB = parts[1].toLongLong();
        else if (parts[0] == "MemFree:")
            freeKiB = parts[1].toLongLong();
    }
    const qint64 kib = availableKiB >= 0 ? availableKiB : freeKiB;
    return kib < 0 || kib > (qint64(1) << 52) ? 0 : kib * 1024;
}

int GetFreeMemoryMB()
{
    const double mb = std::nearbyint(BytesToMB(double(GetFreeMemoryBytes())));
    return mb > double(INT_MAX) ? INT_MAX : int(mb);
}

QString GetComputerNameText()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(buf);
}

QString GetWindowsUserName(const QString &defaultName)
{
    QString name;
    std::vector<char> buf(16384);
    struct passwd pw, *result = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result)
        name = QString::fromLocal8Bit(result->pw_name);
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    return name.size() < 2 ? defaultName : name;
}

QString GetUtcTimeText()
{
    const QDateTime now = (utcClock() ? utcClock()() : QDateTime::currentDateTimeUtc()).toUTC();
    return QString::number(now.date().year()) + now.toString(QStringLiteral("-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

void SetUtcClock(std::function<QDateTime()> clock) { utcClock() = std::move(clock); }

void SwapStrings(QString &a, QString &b) { a.swap(b); }

QByteArray XorWithKey(const QByteArray &text, const QByteArray &key)
{
    if (key.isEmpty())
        return text;
    QByteArray out(text.size(), '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = char(text[i] ^ key[(i + 1) % key.size()]);
    return out;
}

QString XorWithKey(const QString &text, const QString &key)
{
    if (key.isEmpty())
        return text;
    return plat::fromAnsi(XorWithKey(plat::toAnsi(text), plat::toAnsi(key)));
}

// --- browser and mail ------------------------------------------------------------

QString GetDefaultBrowserCommand()
{
    const QString stored = RegGetValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\http\\shell\\open\\command"), QString()).toString();
    return stored.isEmpty() ? defaultHandlerCommand(QStringLiteral("http")) : stored;
}

QString GetDefaultMailCommand()
{
    const QString stored = RegGetValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\mailto\\shell\\open\\command"), QString()).toString();
    return stored.isEmpty() ? defaultHandlerCommand(QStringLiteral("mailto")) : stored;
}

bool IsIeDefaultBrowser()
{
    return GetDefaultBrowserCommand().contains(QLatin1String("iexplore"), Qt::CaseInsensitive);
}

// --- the shell -------------------------------------------------------------------

QString OpenWithAssociatedProgram(const QString &path, QString &message)
{
    message.clear();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    const QString name = path.mid(slash + 1);
    const QString folder = slash < 0 ? QString() : path.left(slash + 1);
    const QString folderNative = folder.isEmpty() ? QDir::currentPath() : plat::toNative(folder);
    if (folderNative.isEmpty() || !QFileInfo(folderNative).isDir()) {
        message = QStringLiteral("path not found");
        return QString();
    }
    const QString native = plat::toNative(path);
    if (name.isEmpty() || native.isEmpty() || !QFileInfo(native).isFile()) {
        message = QStringLiteral("file not found");
        return QString();
    }
    const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(native);
    QStringList candidates{type.name()};
    candidates += type.aliases();
    candidates += type.allAncestors();
    QString program;
    for (const QString &mime : candidates) {
        if (mime == QLatin1String("application/octet-stream"))
            continue;
        const QString file = defaultDesktopFile(mime);
        if (file.isEmpty())
            continue;
        const QStringList argv = QProcess::splitCommand(desktopCommand(file));
        if (argv.isEmpty())
            continue;
        program = QStandardPaths::findExecutable(argv.first());
        if (program.isEmpty() && QFileInfo(argv.first()).isExecutable())
            program = argv.first();
        if (!program.isEmpty())
            break;
    }
    if (program.isEmpty()) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot < 0 ? QString() : name.mid(dot).toUpper();
        message = FormatString(GetString(1516, QStringLiteral("Cannot open %0 ")), {name}) + QStringLiteral(".\r\n\r\n")
            + FormatString(GetString(1517, QStringLiteral("No Windows application associated for %0 files.")), {ext});
    }
    return program;
}

bool ShellOpen(const QString &file, const QString &verb, const QString &parameters, const QString &directory, int showState)
{
    const QString v = verb.trimmed().toLower();
    if (!v.isEmpty() && v != QLatin1String("open") && v != QLatin1String("explore"))
        return false;
    static const QRegularExpression link(QStringLiteral("^(https?|mailto|file|ftp):"), QRegularExpression::CaseInsensitiveOption);
    if (link.match(file).hasMatch())
        return openWithDesktop(QUrl(file).toString(QUrl::FullyEncoded));
    const QString native = plat::toNative(file);
    const QFileInfo info(native);
    if (native.isEmpty() || !info.exists())
        return false;
    if (v == QLatin1String("explore") && !info.isDir())
        return false;
    if (info.isFile() && info.isExecutable()) {
        const QString dir = directory.isEmpty() ? info.absolutePath() : plat::toNative(directory);
        return launch(native, QProcess::splitCommand(parameters), dir);
    }
    return openWithDesktop(native);
}

void SetLaunchHook(LaunchHook hook) { launchHook() = std::move(hook); }

// --- processes -------------------------------------------------------------------

qint64 StartProgram(const QString &program, const QStringList &args, const QString &workDir)
{
    qint64 pid = 0;
    if (program.isEmpty() || !QProcess::startDetached(program, args, workDir, &pid) || pid <= 0)
        return 0;
    startedPrograms().push_back({pid, processStartTime(pid)});
    return pid;
}

int RunProgram(const QString &program, const QStringList &args, int timeoutMs, QByteArray *output, const QString &workDir)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    // Recorded while it runs: a helper that outlives a crash of the program
    // is ended at the next start (and only such a one).
    const qint64 childPid = p.processId();
    plat::recordChild(childPid);
    struct Forget {
        qint64 pid;
        ~Forget() { plat::forgetChild(pid); }
    } forget{childPid};
    p.closeWriteChannel();
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    while (p.state() != QProcess::NotRunning) {
        if (p.waitForFinished(20))
            break;
        if (deadline.hasExpired()) {
            p.kill();
            p.waitForFinished(5000);
            if (output)
                *output = p.readAll();
            return -2;
        }
        plat::pumpEvents();
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool StartedProgramRunning(qint64 pid)
{
    for (const StartedProgram &s : startedPrograms()) {
        if (s.pid != pid)
            continue;
        bool zombie = false;
        const quint64 t = processStartTime(pid, &zombie);
        return t != 0 && t == s.startTime && !zombie;
    }
    return false;
}

bool EndStartedProgram(qint64 pid)
{
    if (!StartedProgramRunning(pid))
        return false;
    return ::kill(pid_t(pid), SIGTERM) == 0;
}

// --- the internet and downloads ----------------------------------------------------

QString DefaultRouteInterface(const QByteArray &ipv4Routes, const QByteArray &ipv6Routes,
                              const std::function<bool(const QString &)> &isUp)
{
    auto usable = [&](const QString &iface) { return !iface.isEmpty() && iface != QLatin1String("lo") && isUp(iface); };
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; RTF_UP = 1.
    const QList<QByteArray> v4 = ipv4Routes.split('\n');
    for (qsizetype i = 1; i < v4.size(); ++i) {
        const QList<QByteArray> f = v4[i].simplified().split(' ');
        if (f.size() < 8)
            continue;
        bool ok = false;
        const uint flags = f[3].toUInt(&ok, 16);
        if (ok && f[1] == "00000000" && f[7] == "00000000" && (flags & 0x1) && usable(QString::fromLatin1(f[0])))
            return QString::fromLatin1(f[0]);
    }
    // dest prefix src prefix next-hop metric refcnt use flags iface.
    for (const QByteArray &line : ipv6Routes.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10)
            continue;
        bool ok = false;
        const uint flags = f[8].toUInt(&ok, 16);
        if (ok && f[0] == QByteArray(32, '0') && f[1] == "00" && (flags & 0x1) && usable(QString::fromLatin1(f[9])))
            return QString::fromLatin1(f[9]);
    }
    return {};
}

bool IsInternetConnected(int &flags, QString &name)
{
    if (connectedHook())
        return connectedHook()(flags, name);
    name = DefaultRouteInterface(readSmallFile(QStringLiteral("/proc/net/route")),
                                 readSmallFile(QStringLiteral("/proc/net/ipv6_route")), interfaceUp);
    flags = name.isEmpty() ? 0 : 2;
    return !name.isEmpty();
}

void SetInternetConnectedHook(std::function<bool(int &flags, QString &name)> hook) { connectedHook() = std::move(hook); }

void SetDownloadTimeouts(int connectSeconds, int stallSeconds)
{
    connectTimeout() = connectSeconds > 0 ? connectSeconds : 15;
    stallTimeout() = stallSeconds > 0 ? stallSeconds : 30;
}

void SetDownloadDeadlineMs(int ms) { deadlineMs() = ms > 0 ? ms : kDownloadDeadlineMs; }

bool DownloadUrlToFile(const QString &url, const QString &file, qint64 maxBytes)
{
    if (!isWebLink(url))
        return false;
    const QString native = plat::toNative(file);
    if (native.isEmpty() || QFileInfo(native).isDir())
        return false;
    if (downloadBeside(url, native, maxBytes))
        return true;
    ::unlink(enc(native).constData());
    return false;
}

bool DownloadReplaceFile(const QString &url, const QString &target, qint64 maxBytes)
{
    if (!isWebLink(url))
        return false;
    int flags = 0;
    QString connection;
    if (!IsInternetConnected(flags, connection))
        return false;
    const QString native = plat::toNative(target);
    if (native.isEmpty())
        return false;
    const QFileInfo info(native);
    if (!QFileInfo(info.absolutePath()).isDir() || info.fileName().isEmpty() || info.isDir())
        return false;
    return downloadBeside(url, native, maxBytes);
}

// --- the system information tool ---------------------------------------------------

bool ReadRegistryValue(int32_t root, const QString &path, const QString &valueName, QString &out)
{
    auto v = plat::Settings::instance().value(root, path, valueName);
    if (!v) {
        out.clear();
        return false;
    }
    if (v->type == plat::SettingsText) {
        const qsizetype nul = v->text.indexOf(QChar(0));
        out = nul < 0 ? v->text : v->text.left(nul);
        return true;
    }
    QByteArray bytes;
    const quint32 n = quint32(v->number);
    for (int i = 0; i < 4 && ((n >> (8 * i)) & 0xFF) != 0; ++i)
        bytes.append(char((n >> (8 * i)) & 0xFF));
    out = QStringLiteral("&h");
    for (qsizetype i = bytes.size() - 1; i >= 0; --i)
        out += QString::number(quint8(bytes[i]), 16).toUpper();
    return true;
}

bool StartSysInfoTool(int32_t hive)
{
    auto nativeOf = [](const QString &p) { return p.startsWith(QLatin1Char('/')) ? p : plat::toNative(p); };
    QString path;
    if (ReadRegistryValue(hive, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\VIDAVE"), QStringLiteral("PATH"), path)
        && !path.trimmed().isEmpty()) {
        const QString native = nativeOf(path.trimmed());
        if (!native.isEmpty() && StartProgram(native, {}) != 0)
            return true;
    }
    QString folder;
    if (ReadRegistryValue(hive, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"), QStringLiteral("VIDAVE"), folder)
        && !folder.trimmed().isEmpty()) {
        const QString tool = folder.trimmed() + QStringLiteral("\\VIDAVE32.EXE");
        if (FileExists(tool)) {
            const QString native = plat::toNative(tool);
            if (!native.isEmpty() && StartProgram(native, {}) != 0)
                return true;
        }
    }
    return false;
}
