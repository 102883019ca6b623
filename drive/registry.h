// The registry operations of the program over the settings store of the
// platform layer: test a key, read a value, write a value (creating the key
// and its parents), create a key, delete a sub-key, the start-up test whether
// a base key is writable, and the per-user settings store.
#pragma once

#include "platform/settings.h"

#include <QString>
#include <QVariant>
#include <cstdint>

// The predefined root keys (hives).
constexpr int32_t HKEY_CLASSES_ROOT = plat::HiveClassesRoot;
constexpr int32_t HKEY_CURRENT_USER = plat::HiveCurrentUser;
constexpr int32_t HKEY_LOCAL_MACHINE = plat::HiveLocalMachine;
constexpr int32_t HKEY_USERS = plat::HiveUsers;

constexpr int32_t REG_SZ = plat::SettingsText;
constexpr int32_t REG_DWORD = plat::SettingsNumber;
constexpr int32_t KEY_ALL_ACCESS = 0xF003F;
constexpr int32_t KEY_WRITE = 0x20006;

// The key can be opened.
bool RegKeyExists(int32_t root, const QString &path);

// The value: an int for a 32-bit number, a QString for a text (cut at its
// first NUL), an empty QVariant when the key or the value does not exist.
QVariant RegGetValue(int32_t root, const QString &path, const QString &valueName);

// Writes the value, creating the key and any missing parent keys. The type
// follows the value: a number, or a text that reads as one, whose value
// rounded half to even is a non-zero signed 32-bit integer is written as a
// number; everything else (zero, booleans, "True", fractions rounding to 0,
// numbers too large for 32 bits) as its text form, trimmed of blanks.
// Numbers are read without regard to the locale ("1.5"; "1,5" is a text).
// Failures are not reported (see RegLastError).
void RegSetValue(int32_t root, const QString &path, const QString &valueName, const QVariant &value);

// Creates the key when it does not exist. Always false.
bool RegCreateKeyIfMissing(int32_t root, const QString &path);

// Deletes a sub-key without sub-keys of its own under an existing parent.
// False when the parent does not exist, the name is empty or the deletion
// failed.
bool RegDeleteSubkey(int32_t root, const QString &parentPath, const QString &subkeyName);

// The key can be created (or exists) and changes can be written under it.
bool CanWriteBaseKey(int32_t &root, QString &path);

// The result code of the last registry operation of the program: 0 success,
// 2 not found, 5 access denied, 87 bad hive or key name.
int RegLastError();

// The per-user settings store (application, section, key -> text). A missing
// value gives the default. Every change is written at once.
QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &defaultValue = QString());
void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value);
// One value, a whole section (key empty) or the whole application (section
// and key empty).
void DeleteSetting(const QString &app, const QString &section = QString(), const QString &key = QString());
