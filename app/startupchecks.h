// The start-up checks: the hive that keeps the program's settings, the
// first-start checks of the system, the version record under the maker's
// key, and the version strings of a file.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The running program's major, minor and revision numbers.
struct VersionNumbers {
    int major = 0;
    int minor = 0;
    int revision = 0;
};
VersionNumbers ProgramVersionNumbers();
void SetProgramVersionOverride(std::optional<VersionNumbers> version);   // tests

// The stored hive choice ("Reg" of the per-user store, application
// "Zentarix", section "Quilvane") as the hive it names; 0 when absent or
// when it names no hive the program keeps its key in.
int32_t StoredRegistryHive(const QString &stored);
// HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER: the first whose base key
// can be created and written; HKEY_CURRENT_USER when none can.
int32_t ChooseRegistryHive(const QString &baseKey);

// The twelve version strings of a file's version information, in this order:
// CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright,
// OriginalFilename, ProductName, ProductVersion, Comments, LegalTrademarks,
// PrivateBuild, SpecialBuild; each "key: value", or the bare key when the
// information lacks it. fileVersion gets FileVersion's value. Empty (and
// fileVersion untouched) when the file has no version information.
QStringList ReadVersionResource(const QString &path, QString &fileVersion);
// The same over the version information itself (16-bit little-endian text).
QStringList ReadVersionStrings(const QByteArray &info, QString &fileVersion);
// The version information block of a file's bytes (from its
// "VS_VERSION_INFO" header, as long as the block says and the bytes hold);
// empty when there is none.
QByteArray FindVersionInfo(const QByteArray &fileBytes);

// The photo editor's camera-RAW plug-in below the programs folder: a copy
// dated before 28 April 2006 gets the "out dated" notice (title 1299). Ends
// silently when the file is absent or cannot be dated.
void CheckCameraRawPlugin();
// The check of a plug-in file given by its path (internal form).
void CheckCameraRawPluginAt(const QString &pluginPath);
// The plug-in's path for a program folder (internal form): the folder cut
// after the first "\" at or after its fifth character, followed by the
// plug-in's path below "Common Files".
QString CameraRawPluginPath(const QString &programFolder);
// A plug-in of this date is too old (calendar days, before 28 April 2006).
bool CameraRawPluginOutdated(const QDate &fileDate);
