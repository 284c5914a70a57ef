// Keeps the helper registered with the login-item service and publishes how
// that registration stands. Only a copy of the app running from its installed
// location manages the registration; any other copy only reports whether a
// helper already serves the bus name.
//
// Library: paneveil_app_services (core, no platform headers).
// createForThisSystem() lives in paneveil_app_services_system, which links
// the Linux adapters.
#pragma once

#include "HelperServicePlatform.h"

#include <QObject>
#include <QString>

#include <memory>

class QTimer;

class HelperService : public QObject {
    Q_OBJECT
    // Notifies on every assignment, also of an unchanged value.
    Q_PROPERTY(State state READ state NOTIFY stateChanged)

public:
    enum class State { unknown, notRegistered, needsApproval, enabled, serviceNotFound };
    Q_ENUM(State)

    // Everything the service reaches outside itself.
    struct Platform {
        std::unique_ptr<LoginItemServiceInterface> loginItemService;
        std::unique_ptr<HelperPresenceInterface> helperPresence;
        std::unique_ptr<WorkspaceInterface> workspace;
        // The running app's executable and where the installation puts it;
        // both are compared after resolving symbolic links.
        QString runningAppPath;
        QString installedAppPath;
        // The helper executable inside the installation (what is revealed).
        QString installedHelperPath;
        // The installed help page about the helper's permissions.
        QString permissionsHelpPath;
    };

    static constexpr int pollIntervalMs = 2000;

    explicit HelperService(Platform platform, QObject *parent = nullptr);
    ~HelperService() override;

    // The service for this machine: XDG login items, the session bus, the
    // installed prefix chosen at configure time.
    static std::unique_ptr<HelperService> createForThisSystem(QObject *parent = nullptr);

    State state() const { return m_state; }
    bool isPolling() const { return m_pollTimer != nullptr; }

    // Refresh; register if needed; poll every 2 s until enabled.
    Q_INVOKABLE void ensureRegistered();
    Q_INVOKABLE void openLoginItemsSettings();
    Q_INVOKABLE void openAccessibilitySettings();
    Q_INVOKABLE void openInputMonitoringSettings();
    Q_INVOKABLE void revealHelperInFinder();
    // Unregisters (when managing) and refreshes.
    Q_INVOKABLE void unregister();
    // Unregisters and registers again, then polls until enabled.
    Q_INVOKABLE void repairRegistration();

Q_SIGNALS:
    void stateChanged(HelperService::State state);

private:
    void refresh();
    void refreshExternalHelperState();
    void startPolling();
    void stopPolling();
    bool canManageRegistration() const;
    void assignState(State state);
    void openPermissionsHelp(const QString &anchor);

    State m_state = State::unknown;
    Platform m_platform;
    QTimer *m_pollTimer = nullptr;
};
