// The app's one view of the lock and of the helper's health. It owns the
// client to the helper, turns lock and unlock requests into its calls, takes
// every outcome through apply(), and keeps retrying the helper every 2.0 s
// while the registration is enabled but the helper has not answered; on the
// second failed status request of such a spell it asks, once, for the
// registration to be repaired. Main thread only.
#pragma once

#include "HelperService.h"
#include "HelperTransport.h"
#include "XPCProtocol.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QVariant>

#include <memory>
#include <optional>

class AppSettings;
class QTimer;
class XPCClient;

class LockState : public QObject {
    Q_OBJECT
    // Each notifies on every assignment, also of an unchanged value. Optional
    // values read as an invalid QVariant when absent.
    Q_PROPERTY(bool isLocked READ isLocked NOTIFY isLockedChanged)
    Q_PROPERTY(QVariant lockedSince READ lockedSinceValue NOTIFY lockedSinceChanged)
    Q_PROPERTY(bool helperReachable READ helperReachable NOTIFY helperReachableChanged)
    Q_PROPERTY(QVariant lastError READ lastErrorValue NOTIFY lastErrorChanged)
    Q_PROPERTY(QVariant helperAccessibilityTrusted READ helperAccessibilityTrustedValue NOTIFY helperAccessibilityTrustedChanged)
    Q_PROPERTY(QVariant helperInputMonitoringTrusted READ helperInputMonitoringTrustedValue NOTIFY helperInputMonitoringTrustedChanged)

public:
    static constexpr int reachabilityRetryIntervalMs = 2000;
    static constexpr int settingsDebounceMs = 100;
    // Failed status requests in one unreachable spell before a repair.
    static constexpr qint64 failuresBeforeRepair = 2;

    // What the client reports, one type per kind of report.
    struct HelperReachable {
        bool reachable;
    };
    struct Error {
        OptionalText message;
    };
    struct LockStatus {
        bool isLocked;
        OptionalDate since;
    };
    struct Permissions {
        bool accessibilityTrusted;
        bool inputMonitoringTrusted;
    };

    // The transport is what the client, made on first use, talks through.
    explicit LockState(std::shared_ptr<HelperTransport> transport, QObject *parent = nullptr);
    ~LockState() override;

    // Wires the model to the registration state and the settings; once, at
    // start-up, before the registration is started. Both are held weakly.
    void attach(HelperService *helperService, AppSettings *settings);

    Q_INVOKABLE void lock();
    Q_INVOKABLE void unlock();
    Q_INVOKABLE void toggle();
    Q_INVOKABLE void refreshHelperPermissions();

    void apply(HelperReachable report);
    void apply(const Error &report);
    void apply(const LockStatus &report);
    void apply(Permissions report);

    bool isLocked() const { return m_isLocked; }
    const OptionalDate &lockedSince() const { return m_lockedSince; }
    bool helperReachable() const { return m_helperReachable; }
    const OptionalText &lastError() const { return m_lastError; }
    std::optional<bool> helperAccessibilityTrusted() const { return m_helperAccessibilityTrusted; }
    std::optional<bool> helperInputMonitoringTrusted() const { return m_helperInputMonitoringTrusted; }

    // The reachability loop, readable for views and tests.
    HelperService::State helperServiceState() const { return m_helperServiceState; }
    bool isCheckingReachability() const { return m_reachabilityRetryTimer != nullptr; }
    qint64 reachabilityFailureCount() const { return m_reachabilityFailureCount; }
    bool didAttemptRegistrationRepair() const { return m_didAttemptRegistrationRepair; }

Q_SIGNALS:
    void isLockedChanged();
    void lockedSinceChanged();
    void helperReachableChanged();
    void lastErrorChanged();
    void helperAccessibilityTrustedChanged();
    void helperInputMonitoringTrustedChanged();

private:
    XPCClient &client();
    void receiveHelperServiceState(HelperService::State state);
    void startReachabilityChecks();
    void stopReachabilityChecks();
    void connectAndRefresh();
    void repairRegistrationIfNeeded();
    void pushSettingsNow();

    void setIsLocked(bool value);
    void setLockedSince(OptionalDate value);
    void setHelperReachable(bool value);
    void setLastError(OptionalText value);
    void setHelperAccessibilityTrusted(std::optional<bool> value);
    void setHelperInputMonitoringTrusted(std::optional<bool> value);

    QVariant lockedSinceValue() const;
    QVariant lastErrorValue() const;
    QVariant helperAccessibilityTrustedValue() const;
    QVariant helperInputMonitoringTrustedValue() const;

    bool m_isLocked = false;
    OptionalDate m_lockedSince;
    bool m_helperReachable = false;
    OptionalText m_lastError;
    std::optional<bool> m_helperAccessibilityTrusted;
    std::optional<bool> m_helperInputMonitoringTrusted;

    std::shared_ptr<HelperTransport> m_transport;
    std::shared_ptr<XPCClient> m_client;
    QMetaObject::Connection m_helperSubscription;
    QMetaObject::Connection m_settingsSubscription;
    // The last state the subscription let through; equal repeats are dropped.
    std::optional<HelperService::State> m_lastDeliveredServiceState;
    QTimer *m_settingsDebounce = nullptr;
    QPointer<AppSettings> m_settings;
    QPointer<HelperService> m_helperService;
    HelperService::State m_helperServiceState = HelperService::State::unknown;
    QTimer *m_reachabilityRetryTimer = nullptr;
    qint64 m_reachabilityFailureCount = 0;
    bool m_didAttemptRegistrationRepair = false;
};
