// The start-up checks and the version record.
#include "app/startupchecks.h"

#include "app/frmrecover.h"
#include "app/startup.h"
#include "app/updatecheck.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString kRegApp = QStringLiteral("Zentarix");
const QString kRegSection = QStringLiteral("Quilvane");
const QString kRegKey = QStringLiteral("Reg");

const QString kPluginBelowPrograms =
    QStringLiteral("Common Files\\Adobe\\Plug-Ins\\CS2\\File Formats\\Camera Raw.8bi");
const QDate kPluginLeastDate(2006, 4, 28);

// The largest file searched for version information.
constexpr qint64 kVersionSearchLimit = 64ll << 20;

std::optional<VersionNumbers> &versionOverride()
{
    static std::optional<VersionNumbers> v;
    return v;
}

QString baseKeyPath()
{
    return Startup().BaseKeyPath.isEmpty() ? frmRecover::BaseKey : Startup().BaseKeyPath;
}

QString utf16(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return QString::fromLatin1(bytes);
}

} // namespace

VersionNumbers ProgramVersionNumbers()
{
    if (versionOverride())
        return *versionOverride();
    const QStringList parts = ProgramVersionText().split(QLatin1Char('.'));
    return {parts.value(0).toInt(), parts.value(1).toInt(), parts.value(2).toInt()};
}

void SetProgramVersionOverride(std::optional<VersionNumbers> version) { versionOverride() = version; }

// ---- the hive ---------------------------------------------------------------------------

int32_t StoredRegistryHive(const QString &stored)
{
    const double n = LeadingNumber(stored);
    for (const int32_t hive : {HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER})
        if (n == double(hive))
            return hive;
    return 0;
}

int32_t ChooseRegistryHive(const QString &baseKey)
{
    for (int32_t hive : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        QString path = baseKey;
        if (CanWriteBaseKey(hive, path))
            return hive;
    }
    return HKEY_CURRENT_USER;
}

void frmRecover::StartupSystemChecks()
{
    const QString base = baseKeyPath();
    const QString stored = GetSetting(kRegApp, kRegSection, kRegKey);
    // A stored value that names no hive is chosen anew: the settings would
    // otherwise go nowhere for good.
    RegistryHive = StoredRegistryHive(stored);
    if (RegistryHive == 0 || ProgramCommandLine().contains(QLatin1String("clean"), Qt::CaseInsensitive))
        RegistryHive = ChooseRegistryHive(base);
    // The first start with this hive.
    if (LeadingNumber(stored) == double(RegistryHive))
        return;
    SaveSetting(kRegApp, kRegSection, kRegKey, QString::number(RegistryHive));
    if (Startup().PreviousInstancesEnded)
        return;
    // The maker's notice of a new installation, only where an update server
    // is configured; its content is not used.
    const UpdateServer server = UpdateServerAddress();
    int flags = 0;
    QString connection;
    if (server.valid() && IsInternetConnected(flags, connection))
        DownloadReplaceFile(server.url(QStringLiteral("/newinstall.txt")), plat::programFolder() + QStringLiteral("new.txt"));
    CheckVbRuntime();
    CheckCameraRawPlugin();
}

void frmRecover::CheckVbRuntime()
{
    // The run time of this program is the toolkit's, which the dynamic loader
    // and the package's dependencies already hold to the version it was built
    // against: nothing to check, download or run.
}

// ---- the version record ---------------------------------------------------------------------

void frmRecover::RecordVersion()
{
    const QString base = baseKeyPath();
    const VersionNumbers v = ProgramVersionNumbers();
    const QString folder = StripTrailingBackslash(plat::programFolder());
    const QString storedVersion = RegGetValue(RegistryHive, base, QStringLiteral("Version")).toString();
    const QString storedPath = RegGetValue(RegistryHive, base, QStringLiteral("ActPath")).toString();
    const QString plain = QStringLiteral("%1 %2 %3").arg(v.major).arg(v.minor).arg(v.revision);
    if (storedPath.contains(folder) && storedVersion == plain)
        return;
    // The stored form has a blank before each number; the store trims it.
    RegSetValue(RegistryHive, base, QStringLiteral("Version"), QStringLiteral(" %1 %2 %3").arg(v.major).arg(v.minor).arg(v.revision));
    RegSetValue(RegistryHive, base, QStringLiteral("ActPath"), folder + QStringLiteral("\\Quilvane.exe"));
}

// ---- version information ---------------------------------------------------------------------

QByteArray FindVersionInfo(const QByteArray &fileBytes)
{
    static const QByteArray header = utf16(QStringLiteral("VS_VERSION_INFO")).toLatin1();
    qsizetype at = fileBytes.indexOf(header);
    // The block begins 6 bytes before its key: length, value length, type.
    while (at >= 0 && at < 6)
        at = fileBytes.indexOf(header, at + 1);
    if (at < 0)
        return {};
    const qsizetype start = at - 6;
    const qsizetype stated = quint8(fileBytes[start]) | (quint8(fileBytes[start + 1]) << 8);
    const qsizetype room = fileBytes.size() - start;
    const qsizetype length = stated > header.size() + 6 ? std::min(stated, room) : room;
    return fileBytes.mid(start, length);
}

QStringList ReadVersionStrings(const QByteArray &info, QString &fileVersion)
{
    static const char *const keys[] = {"CompanyName",  "FileDescription", "FileVersion",    "InternalName",
                                       "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
                                       "Comments",     "LegalTrademarks", "PrivateBuild",   "SpecialBuild"};
    if (info.isEmpty())
        return {};
    QString text;
    text.reserve(info.size() / 2);
    for (qsizetype i = 0; i + 1 < info.size(); i += 2)
        text.append(QChar(char16_t(quint8(info[i]) | (quint8(info[i + 1]) << 8))));
    QStringList list;
    for (int k = 0; k < 12; ++k) {
        const QString key = QString::fromLatin1(keys[k]);
        const qsizetype at = text.indexOf(key);
        if (at < 0) {
            list << key;
            continue;
        }
        // One character after the key's end (its terminating NUL), one more
        // when that is a NUL of padding; up to the next NUL.
        qsizetype from = at + key.size() + 1;
        if (from < text.size() && text[from] == QChar(0))
            ++from;
        from = std::min(from, text.size());
        qsizetype to = text.indexOf(QChar(0), from);
        if (to < 0)
            to = text.size();
        const QString value = text.mid(from, to - from);
        list << key + QStringLiteral(": ") + value;
        if (k == 2)
            fileVersion = value;
    }
    return list;
}

QStringList ReadVersionResource(const QString &path, QString &fileVersion)
{
    QFile f(plat::toNative(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return ReadVersionStrings(FindVersionInfo(f.read(kVersionSearchLimit)), fileVersion);
}

// ---- the camera-RAW plug-in ----------------------------------------------------------------

QString CameraRawPluginPath(const QString &programFolder)
{
    // The first separator at or after the fifth character ends the programs
    // folder ("C:\Program Files\Quilvane\" gives "C:\Program Files\").
    const qsizetype cut = programFolder.indexOf(QLatin1Char('\\'), 4);
    if (cut < 0)
        return {};
    return programFolder.left(cut + 1) + kPluginBelowPrograms;
}

bool CameraRawPluginOutdated(const QDate &fileDate) { return fileDate.isValid() && kPluginLeastDate.daysTo(fileDate) < 0; }

void CheckCameraRawPlugin() { CheckCameraRawPluginAt(CameraRawPluginPath(plat::programFolder())); }

void CheckCameraRawPluginAt(const QString &plugin)
{
    if (plugin.isEmpty() || !FileExists(plugin))
        return;
    const QFileInfo info(plat::toNative(plugin));
    const QDateTime modified = info.lastModified();
    if (!modified.isValid() || !CameraRawPluginOutdated(modified.date()))
        return;
    const QString crlf = QStringLiteral("\r\n");
    MsgBox(GetString(1296, QStringLiteral("The Adobe plug-in for raw files is out dated.")) + crlf
               + GetString(1297, QStringLiteral("If getting the error 'this is not the right kind of document' using Adobe for raw files,"))
               + crlf
               + GetString(1298, QStringLiteral("then please update the raw plug-in. Press 'Help' and see 'Troubleshooting' for download links.")),
           plat::mb::OK, GetString(1299, QStringLiteral("System check")));
}
