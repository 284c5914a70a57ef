// The app's services wired to this system's adapters: XDG login items and
// the session bus for HelperService, X11 key grabs for HotkeyManager.
#pragma once

#include "HelperService.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>

// Where an installation keeps the app, the helper and their data.
struct InstalledLayout {
    QString appExecutable;
    QString helperExecutable;
    QString dataDirectory; // <prefix>/share/paneveil

    // The layout fixed when the build was configured.
    static InstalledLayout configured();
    // The same layout under another prefix.
    static InstalledLayout underPrefix(const QString &prefix);

    QString permissionsHelpPage() const;
};

// The platform HelperService runs on, for the app at runningAppPath.
HelperService::Platform helperServicePlatform(const InstalledLayout &layout, const QString &runningAppPath,
                                              const QDBusConnection &bus,
                                              const QProcessEnvironment &environment =
                                                  QProcessEnvironment::systemEnvironment());
