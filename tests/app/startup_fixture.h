// A fresh program home for each start-up or shutdown test: its own settings
// store, work folder and manual; the end of the process recorded instead of
// done; no pauses, no fade, a fixed random seed; and the locale variables
// set for the test and put back afterwards.
#pragma once

#include "app/frmrecover.h"
#include "app/rightsadvice.h"
#include "app/splash.h"
#include "app/startup.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/settings.h"
#include "platform/ui/msgbox.h"
#include "tests/support/fixtures.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace app_tests {

class EnvironmentGuard {
public:
    void set(const char *name, const std::optional<QByteArray> &value)
    {
        if (!saved_.count(name))
            saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    // Only this locale counts for the language.
    void locale(const QByteArray &lang)
    {
        set("LANGUAGE", std::nullopt);
        set("LC_ALL", std::nullopt);
        set("LC_MESSAGES", std::nullopt);
        set("LANG", lang);
    }
    // A desktop of the test's own whose default handlers are the given
    // ones: scheme ("http", "mailto") -> the program its desktop file runs.
    void desktop(const std::map<QString, QString> &handlers)
    {
        const QString config = testing_support::makeTempDir(QStringLiteral("xdgconfig"));
        const QString data = testing_support::makeTempDir(QStringLiteral("xdgdata"));
        QDir().mkpath(data + QStringLiteral("/applications"));
        QByteArray list = "[Default Applications]\n";
        for (const auto &[scheme, exec] : handlers) {
            list += "x-scheme-handler/" + scheme.toUtf8() + "=" + scheme.toUtf8() + "er.desktop\n";
            testing_support::writeFileBytes(data + "/applications/" + scheme + "er.desktop",
                                            "[Desktop Entry]\nType=Application\nName=" + scheme.toUtf8()
                                                + "\nExec=" + exec.toUtf8() + " %u\n");
        }
        testing_support::writeFileBytes(config + QStringLiteral("/mimeapps.list"), list);
        set("XDG_CONFIG_HOME", config.toLocal8Bit());
        set("XDG_CONFIG_DIRS", config.toLocal8Bit());
        set("XDG_DATA_HOME", data.toLocal8Bit());
        set("XDG_DATA_DIRS", data.toLocal8Bit());
    }
    void restore()
    {
        for (const auto &[name, value] : saved_) {
            if (value)
                qputenv(name.c_str(), *value);
            else
                qunsetenv(name.c_str());
        }
        saved_.clear();
    }
    ~EnvironmentGuard() { restore(); }

private:
    std::map<std::string, std::optional<QByteArray>> saved_;
};

// A start-up without pauses, fade or real end: the end of the process is
// handed to onExit, the random seed fixed, the language English.
inline void quietStartup(std::function<void()> onExit)
{
    SetProgramExitHook(std::move(onExit));
    SetManifestPauseMs(0);
    SetProgramArguments(QStringList{});
    SetInstanceEndWaitMs(300);
    SetWindowOpacityOverride(false);
    SetProgramRandomSeed(7u);
    SetMsgBoxPlainMode(false);
    SetCurrentLanguageId(9);
}

class FreshHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = testing_support::makeTempDir(QStringLiteral("home"));
        env.set("QUILVANE_HOME", home.toLocal8Bit());
        env.locale("en_US.UTF-8");
        plat::Settings::instance().reload();
        keepProgramKeyInUserHive();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        quietStartup([this] { ++exits; });
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        ReleaseInstanceLock();
        UnloadSplashForm();
        DestroyMainWindow();
        SetProgramExitHook({});
        SetProgramArguments(std::nullopt);
        SetWindowOpacityOverride(std::nullopt);
        SetProgramRandomSeed(std::nullopt);
        plat::setProcessHooks({});
        plat::setClockHook({});
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        SetCurrentLanguageId(9);
        env.restore();
        plat::Settings::instance().reload();
    }

    // The hive choice of an earlier start: the program key in the user's
    // hive, where the tests store their settings.
    static void keepProgramKeyInUserHive()
    {
        plat::saveUserSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("Reg"),
                              QString::number(plat::HiveCurrentUser));
    }

    QString homeFile(const QString &relative) const { return home + QLatin1Char('/') + relative; }

    EnvironmentGuard env;
    QString home;
    frmRecover *w = nullptr;
    int exits = 0;
};

} // namespace app_tests
