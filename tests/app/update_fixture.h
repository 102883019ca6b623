// A fresh program home with an update server on 127.0.0.1, a connection
// that the test switches, a fixed today, the running version 5.2.17 and a
// recording shell: nothing goes to the real network or the real desktop.
#pragma once

#include "app/frmabout.h"
#include "app/startupchecks.h"
#include "app/updatecheck.h"
#include "drive/registry.h"
#include "drive/system.h"
#include "tests/app/startup_fixture.h"
#include "tests/support/httpserver.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace app_tests {

class UpdateHome : public FreshHome {
protected:
    void SetUp() override
    {
        FreshHome::SetUp();
        useServer(server.host());
        SetInternetConnectedHook([this](int &flags, QString &name) {
            flags = connected ? 2 : 0;
            name = connected ? QStringLiteral("eth0") : QString();
            return connected;
        });
        SetUpdateCheckToday(today);
        SetProgramVersionOverride(VersionNumbers{5, 2, 17});
        SetDownloadTimeouts(5, 1);
        SetLaunchHook([this](const QString &program, const QStringList &args, const QString &) {
            launched << QFileInfo(program).fileName() + QLatin1Char(' ') + args.join(QLatin1Char(' '));
            return true;
        });
    }
    void TearDown() override
    {
        UnloadAboutBox();
        QCoreApplication::processEvents();
        SetLaunchHook({});
        SetDownloadTimeouts(0, 0);
        SetDownloadDeadlineMs(0);
        SetProgramVersionOverride(std::nullopt);
        SetUpdateCheckToday(std::nullopt);
        SetInternetConnectedHook({});
        FreshHome::TearDown();
    }

    static void useServer(const QString &address)
    {
        plat::saveUserSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("UpdateServer"), address);
    }
    static QString lastCheck()
    {
        return plat::userSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("LastCheck"));
    }
    static void setLastCheck(const QString &text)
    {
        plat::saveUserSetting(QStringLiteral("VIDAVE"), QStringLiteral("Startup"), QStringLiteral("LastCheck"), text);
    }
    QString programFile(const QString &name) const { return homeFile(name); }

    testing_support::LocalHttpServer server;
    bool connected = true;
    const QDate today{2026, 3, 10};
    QStringList launched;   // "xdg-open <link>" for every link handed to the desktop
};

} // namespace app_tests
