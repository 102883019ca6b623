// The settings store in place of the Windows registry: one text file per hive
// (in the syntax of a registry export) in the configuration folder. Key and
// value names are compared without regard to case and keep the case they were
// first written with. Values are texts or 32-bit numbers. Every change is
// written at once and atomically (temporary file, fsync, rename), under a lock
// shared with other instances of the program, after re-reading the file when
// another instance changed it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace plat {

// The predefined root keys, as the signed 32-bit values the program stores.
constexpr int32_t HiveClassesRoot = int32_t(0x80000000u);
constexpr int32_t HiveCurrentUser = int32_t(0x80000001u);
constexpr int32_t HiveLocalMachine = int32_t(0x80000002u);
constexpr int32_t HiveUsers = int32_t(0x80000003u);

// Result codes, the Windows ones.
enum SettingsStatus {
    SettingsOk = 0,
    SettingsNotFound = 2,        // ERROR_FILE_NOT_FOUND
    SettingsAccessDenied = 5,    // ERROR_ACCESS_DENIED
    SettingsInvalid = 87,        // ERROR_INVALID_PARAMETER: no such hive, bad name
};

// Value types, the Windows codes.
enum SettingsValueType {
    SettingsText = 1,     // REG_SZ
    SettingsNumber = 4,   // REG_DWORD
};

struct SettingsValue {
    int type = SettingsText;
    QString text;         // SettingsText
    int32_t number = 0;   // SettingsNumber
};

class Settings {
public:
    static Settings &instance();

    // Key paths are relative to the hive, components separated by "\";
    // empty components are ignored, so "" is the hive's root key. Value name
    // "" is the key's default value.
    bool keyExists(int32_t hive, const QString &path);
    // Creates the key and every missing parent. *created tells whether the
    // key was new.
    int createKey(int32_t hive, const QString &path, bool *created = nullptr);
    // Deletes a key that has no sub-keys (NotFound when missing, AccessDenied
    // when it still has sub-keys or the hive cannot be written).
    int deleteKey(int32_t hive, const QString &path);
    // Deletes a key with everything below it.
    int deleteTree(int32_t hive, const QString &path);

    std::optional<SettingsValue> value(int32_t hive, const QString &path, const QString &name,
                                       int *status = nullptr);
    // Writes a value, creating the key and its parents.
    int setValue(int32_t hive, const QString &path, const QString &name, const SettingsValue &value);
    int setText(int32_t hive, const QString &path, const QString &name, const QString &text);
    int setNumber(int32_t hive, const QString &path, const QString &name, int32_t number);
    int deleteValue(int32_t hive, const QString &path, const QString &name);

    // The names as first written, in the order they were created.
    QStringList subkeys(int32_t hive, const QString &path);
    QStringList valueNames(int32_t hive, const QString &path);

    // Whether changes to the hive can be written now.
    bool hiveWritable(int32_t hive);
    // A hive marked read-only refuses every change (policy and tests).
    void setHiveReadOnly(int32_t hive, bool readOnly);

    // "HKEY_CURRENT_USER" ...; empty for a value that is no hive.
    static QString hiveName(int32_t hive);
    // The file holding the hive.
    QString hiveFileNative(int32_t hive);

    // Forgets what was read; the next access reads the files again.
    void reload();

private:
    friend class SettingsBatch;
    Settings() = default;
    struct Impl;
    Impl *impl();
};

// While a batch lives, the changes of every hive are kept in memory and
// written once, atomically, when the last batch ends; the lock of a changed
// hive is held until then, so other instances never see half of a batch.
// A program that writes many values at once (all settings) opens one.
class SettingsBatch {
public:
    SettingsBatch();
    ~SettingsBatch();
    SettingsBatch(const SettingsBatch &) = delete;
    SettingsBatch &operator=(const SettingsBatch &) = delete;
};

// The per-user settings store: application, section and key to text, kept in
// the user hive under "Software\VB and VBA Program Settings\<app>\<section>".
// Every change is written through at once.
QString userSettingsKey(const QString &app, const QString &section = {});
QString userSetting(const QString &app, const QString &section, const QString &key,
                    const QString &defaultValue = {});
bool saveUserSetting(const QString &app, const QString &section, const QString &key,
                     const QString &value);
// Deletes one value (key given), a whole section (key empty) or the whole
// application (section and key empty). False when nothing was deleted.
bool deleteUserSetting(const QString &app, const QString &section = {}, const QString &key = {});

} // namespace plat
