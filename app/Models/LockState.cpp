#include "LockState.h"

#include "AppSettings.h"
#include "XPCClient.h"

#include <QLocale>
#include <QTimer>

namespace {
const QString repairPhrase = QStringLiteral("helper is not reachable");

template <typename T>
QVariant optionalValue(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}
} // namespace

LockState::LockState(std::shared_ptr<HelperTransport> transport, QObject *parent)
    : QObject(parent)
    , m_transport(std::move(transport))
{
}

LockState::~LockState()
{
    QObject::disconnect(m_helperSubscription);
    QObject::disconnect(m_settingsSubscription);
}

XPCClient &LockState::client()
{
    if (!m_client)
        m_client = XPCClient::create(this, m_transport);
    return *m_client;
}

void LockState::attach(HelperService *helperService, AppSettings *settings)
{
    m_helperService = helperService;
    m_settings = settings;

    QObject::disconnect(m_helperSubscription);
    if (helperService) {
        m_helperSubscription = connect(helperService, &HelperService::stateChanged, this,
                                       [this](HelperService::State state) { receiveHelperServiceState(state); });
        // The subscription starts with the current state.
        receiveHelperServiceState(helperService->state());
    }

    // Each change restarts the wait; only a change followed by 100 ms of
    // quiet pushes, so a dragged slider sends once.
    QObject::disconnect(m_settingsSubscription);
    if (!m_settingsDebounce) {
        m_settingsDebounce = new QTimer(this);
        m_settingsDebounce->setSingleShot(true);
        m_settingsDebounce->setInterval(settingsDebounceMs);
        connect(m_settingsDebounce, &QTimer::timeout, this, &LockState::pushSettingsNow);
    }
    if (settings) {
        m_settingsSubscription = connect(settings, &AppSettings::changes, m_settingsDebounce,
                                         static_cast<void (QTimer::*)()>(&QTimer::start));
    }
}

void LockState::receiveHelperServiceState(HelperService::State state)
{
    if (m_lastDeliveredServiceState == state)
        return;
    m_lastDeliveredServiceState = state;

    m_helperServiceState = state;
    if (state == HelperService::State::enabled) {
        startReachabilityChecks();
        return;
    }
    stopReachabilityChecks();
    apply(HelperReachable{false});
    apply(Error{std::nullopt});
    m_reachabilityFailureCount = 0;
    m_didAttemptRegistrationRepair = false;
}

void LockState::pushSettingsNow()
{
    if (m_settings)
        client().pushSettings(m_settings->encoded());
}

void LockState::lock()
{
    client().lock();
}

void LockState::unlock()
{
    client().unlock();
}

void LockState::toggle()
{
    if (m_isLocked)
        client().unlock();
    else
        client().lock();
}

void LockState::refreshHelperPermissions()
{
    client().refreshPermissions();
}

void LockState::startReachabilityChecks()
{
    if (m_reachabilityRetryTimer)
        return;
    m_reachabilityRetryTimer = new QTimer(this);
    m_reachabilityRetryTimer->setInterval(reachabilityRetryIntervalMs);
    connect(m_reachabilityRetryTimer, &QTimer::timeout, this, [this] {
        // As its own job, so a firing never runs inside another report.
        QMetaObject::invokeMethod(this, &LockState::connectAndRefresh, Qt::QueuedConnection);
    });
    m_reachabilityRetryTimer->start();
    connectAndRefresh();
}

void LockState::stopReachabilityChecks()
{
    if (!m_reachabilityRetryTimer)
        return;
    m_reachabilityRetryTimer->stop();
    m_reachabilityRetryTimer->deleteLater();
    m_reachabilityRetryTimer = nullptr;
}

void LockState::connectAndRefresh()
{
    XPCClient &helper = client();
    helper.connect();
    helper.refreshStatus();
    helper.refreshPermissions();
    if (m_settings)
        helper.pushSettings(m_settings->encoded());
}

void LockState::apply(HelperReachable report)
{
    setHelperReachable(report.reachable);
    if (report.reachable) {
        m_reachabilityFailureCount = 0;
        m_didAttemptRegistrationRepair = false;
        stopReachabilityChecks();
        return;
    }
    setHelperAccessibilityTrusted(std::nullopt);
    setHelperInputMonitoringTrusted(std::nullopt);
    if (m_helperServiceState == HelperService::State::enabled)
        startReachabilityChecks();
}

void LockState::apply(const Error &report)
{
    setLastError(report.message);
    if (!report.message)
        return;
    const QLocale locale;
    if (locale.toLower(*report.message).contains(locale.toLower(repairPhrase)))
        repairRegistrationIfNeeded();
}

void LockState::apply(const LockStatus &report)
{
    setIsLocked(report.isLocked);
    setLockedSince(report.since);
}

void LockState::apply(Permissions report)
{
    setHelperAccessibilityTrusted(report.accessibilityTrusted);
    setHelperInputMonitoringTrusted(report.inputMonitoringTrusted);
}

void LockState::repairRegistrationIfNeeded()
{
    if (m_helperServiceState != HelperService::State::enabled)
        return;
    if (m_didAttemptRegistrationRepair)
        return;
    ++m_reachabilityFailureCount;
    if (m_reachabilityFailureCount < failuresBeforeRepair)
        return;
    m_didAttemptRegistrationRepair = true;
    if (m_helperService)
        m_helperService->repairRegistration();
}

void LockState::setIsLocked(bool value)
{
    m_isLocked = value;
    Q_EMIT isLockedChanged();
}

void LockState::setLockedSince(OptionalDate value)
{
    m_lockedSince = std::move(value);
    Q_EMIT lockedSinceChanged();
}

void LockState::setHelperReachable(bool value)
{
    m_helperReachable = value;
    Q_EMIT helperReachableChanged();
}

void LockState::setLastError(OptionalText value)
{
    m_lastError = std::move(value);
    Q_EMIT lastErrorChanged();
}

void LockState::setHelperAccessibilityTrusted(std::optional<bool> value)
{
    m_helperAccessibilityTrusted = value;
    Q_EMIT helperAccessibilityTrustedChanged();
}

void LockState::setHelperInputMonitoringTrusted(std::optional<bool> value)
{
    m_helperInputMonitoringTrusted = value;
    Q_EMIT helperInputMonitoringTrustedChanged();
}

QVariant LockState::lockedSinceValue() const
{
    return optionalValue(m_lockedSince);
}

QVariant LockState::lastErrorValue() const
{
    return optionalValue(m_lastError);
}

QVariant LockState::helperAccessibilityTrustedValue() const
{
    return optionalValue(m_helperAccessibilityTrusted);
}

QVariant LockState::helperInputMonitoringTrustedValue() const
{
    return optionalValue(m_helperInputMonitoringTrusted);
}
