// The login-item service on a Linux desktop: registering the helper copies
// the installation's D-Bus activation file, systemd user unit and autostart
// entry into the user's XDG folders (and enables the unit when a systemd user
// manager runs); the status is read back from those files.
#pragma once

#include "HelperServicePlatform.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

class XdgLoginItemService : public LoginItemServiceInterface {
public:
    struct Options {
        // The installed helper executable and the folder holding the
        // installation's templates (dbus-1/services, systemd/user, autostart).
        QString helperExecutable;
        QString templatesDirectory;
        // The user's folders: $XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_RUNTIME_DIR.
        QString dataHome;
        QString configHome;
        QString runtimeDirectory;
        // $XDG_CURRENT_DESKTOP, for the startup-applications settings.
        QString currentDesktop;
        QString systemctlProgram = QStringLiteral("systemctl");
        QString openerProgram = QStringLiteral("xdg-open");
        // Asked after the activation file was written or removed, so the
        // session bus sees the change.
        std::function<void()> reloadBus;

        // The user's folders and desktop from the environment, with the XDG
        // defaults under $HOME where a variable is unset.
        static Options fromEnvironment(const QString &helperExecutable, const QString &templatesDirectory,
                                       const QProcessEnvironment &environment =
                                           QProcessEnvironment::systemEnvironment());
    };

    explicit XdgLoginItemService(Options options);

    int status() override;
    bool registerService(QString *error) override;
    bool unregisterService(QString *error) override;
    void openSystemSettingsLoginItems() override;

    // Where each registered file goes and where its template comes from.
    QString activationFilePath() const;
    QString unitFilePath() const;
    QString autostartEntryPath() const;
    QString activationTemplatePath() const;
    QString unitTemplatePath() const;
    QString autostartTemplatePath() const;

    // A user manager answers on $XDG_RUNTIME_DIR/systemd/private.
    bool userManagerRunning() const;
    // The settings program for startup applications of the current desktop,
    // if one is installed; empty otherwise.
    QString startupSettingsProgram() const;

private:
    bool installationComplete() const;
    bool disabledByUser();
    bool registeredFilesMatchTemplates() const;
    bool runSystemctl(const QStringList &arguments, QString *output, QString *error) const;
    void reloadBus();

    Options m_options;
    bool m_reportedNoUserManager = false;
};
