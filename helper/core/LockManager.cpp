#include "LockManager.h"

#include "Constants.h"

#include <QPointer>

#include <algorithm>

LockManager::LockManager(LockComponents components, QObject *parent)
    : QObject(parent)
    , m_components(std::move(components))
    , m_eventTap(*m_components.eventTap)
    , m_overlay(*m_components.overlay)
    , m_auth(*m_components.auth)
    , m_power(*m_components.power)
    , m_displays(*m_components.displays)
{
    // The components outlive no lock manager, but their callbacks may be
    // queued behind it; hold it weakly.
    QPointer<LockManager> weakSelf(this);
    m_eventTap.shouldSwallowEvents = [weakSelf] { return weakSelf && weakSelf->m_isLocked; };
    m_eventTap.onUnlockHotkey = [weakSelf] {
        if (weakSelf)
            weakSelf->triggerUnlock();
    };
    m_displays.onChange = [weakSelf] {
        if (weakSelf)
            weakSelf->m_overlay.resizeToCoverAllScreens();
    };
}

LockManager::~LockManager()
{
    // Components may fire after this point during teardown; make them inert.
    m_eventTap.shouldSwallowEvents = [] { return false; };
    m_eventTap.onUnlockHotkey = [] {};
    m_displays.onChange = [] {};
}

void LockManager::lockWithReply(ResultReply reply)
{
    QPointer<LockManager> weakSelf(this);
    dispatchToMain([weakSelf, reply = std::move(reply)] {
        if (weakSelf)
            weakSelf->lockOnMain(reply);
    });
}

void LockManager::lockOnMain(const ResultReply &reply)
{
    if (m_isLocked) {
        reply(true, std::nullopt);
        return;
    }
    if (!m_eventTap.start()) {
        const QString message = m_eventTap.lastStartFailureMessage().value_or(QString::fromLatin1(defaultLockFailureMessage));
        broadcastError(message);
        reply(false, message);
        return;
    }
    m_overlay.setAlpha(m_settings.overlayAlpha);
    m_overlay.show();
    if (m_settings.preventDisplaySleep)
        m_power.preventDisplaySleep();
    m_isLocked = true;
    m_lockedSince = QDateTime::currentDateTimeUtc();
    playSound(QString::fromLatin1(lockSound));
    broadcastState();
    reply(true, std::nullopt);
}

void LockManager::unlockWithAuth(bool withAuth, ResultReply reply)
{
    QPointer<LockManager> weakSelf(this);
    dispatchToMain([weakSelf, withAuth, reply = std::move(reply)] {
        if (weakSelf)
            weakSelf->unlockOnMain(withAuth, reply);
    });
}

void LockManager::unlockOnMain(bool withAuth, const ResultReply &reply)
{
    if (!m_isLocked) {
        reply(true, std::nullopt);
        return;
    }
    if (!withAuth) {
        finishUnlock(true, std::nullopt, reply);
        return;
    }
    QPointer<LockManager> weakSelf(this);
    m_auth.evaluate([weakSelf, reply](bool success, OptionalText message) {
        // The authenticator may answer on any thread.
        dispatchToMain([weakSelf, reply, success, message = std::move(message)] {
            if (weakSelf)
                weakSelf->finishUnlock(success, message, reply);
        });
    });
}

void LockManager::finishUnlock(bool success, const OptionalText &message, const ResultReply &reply)
{
    // Deliberately does not look at m_isLocked again: a second successful
    // authentication repeats the unlocked broadcast and sound.
    if (success) {
        m_eventTap.stop();
        m_overlay.hide();
        m_power.allowDisplaySleep();
        m_isLocked = false;
        m_lockedSince.reset();
        playSound(QString::fromLatin1(unlockSound));
        broadcastState();
    }
    reply(success, message);
}

void LockManager::triggerUnlock()
{
    // Every auto-repeat of a held hotkey arrives here; one authentication per
    // spell is enough, or one success would unlock (and chime) once per repeat.
    if (m_hotkeyUnlockPending)
        return;
    m_hotkeyUnlockPending = true;
    QPointer<LockManager> weakSelf(this);
    unlockOnMain(true, [weakSelf](bool, OptionalText) {
        if (weakSelf)
            weakSelf->m_hotkeyUnlockPending = false;
    });
}

void LockManager::getStatusWithReply(StatusReply reply)
{
    QPointer<LockManager> weakSelf(this);
    dispatchToMain([weakSelf, reply = std::move(reply)] {
        if (weakSelf)
            reply(weakSelf->m_isLocked, weakSelf->m_lockedSince);
    });
}

void LockManager::updateSettings(QByteArray payload, AcceptedReply reply)
{
    QPointer<LockManager> weakSelf(this);
    dispatchToMain([weakSelf, payload = std::move(payload), reply = std::move(reply)] {
        if (weakSelf)
            weakSelf->updateSettingsOnMain(payload, reply);
    });
}

void LockManager::updateSettingsOnMain(const QByteArray &payload, const AcceptedReply &reply)
{
    const std::optional<RuntimeSettings> parsed = RuntimeSettings::fromPayload(payload);
    if (!parsed) {
        reply(false);
        return;
    }
    m_settings = *parsed;
    m_overlay.setAlpha(m_settings.overlayAlpha);
    if (m_isLocked) {
        if (m_settings.preventDisplaySleep)
            m_power.preventDisplaySleep();
        else
            m_power.allowDisplaySleep();
    }
    reply(true);
}

void LockManager::helperVersionWithReply(VersionReply reply)
{
    reply(QString::fromLatin1(PVConstants::version));
}

void LockManager::getPermissionStatusWithReply(PermissionReply reply)
{
    QPointer<LockManager> weakSelf(this);
    dispatchToMain([weakSelf, reply = std::move(reply)] {
        if (!weakSelf)
            return;
        PermissionsInterface &permissions = *weakSelf->m_components.permissions;
        reply(permissions.accessibilityTrusted(), permissions.inputMonitoringTrusted());
    });
}

void LockManager::attach(std::shared_ptr<PaneveilAppProtocol> connection)
{
    m_queue.async([this, connection = std::move(connection)] { m_connections.push_back(connection); });
}

void LockManager::detach(std::shared_ptr<PaneveilAppProtocol> connection)
{
    m_queue.async([this, connection = std::move(connection)] {
        std::erase_if(m_connections, [&](const auto &entry) { return entry == connection; });
    });
}

void LockManager::broadcastState()
{
    const bool isLocked = m_isLocked;
    const OptionalDate since = m_lockedSince;
    m_queue.async([this, isLocked, since] {
        for (const auto &connection : m_connections)
            connection->helperDidChangeLockState(isLocked, since);
    });
}

void LockManager::broadcastError(const QString &message)
{
    m_queue.async([this, message] {
        for (const auto &connection : m_connections)
            connection->helperDidEncounterError(message);
    });
}

void LockManager::playSound(const QString &name)
{
    if (m_settings.playSounds)
        m_components.sounds->play(name);
}
