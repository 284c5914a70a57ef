// The helper's lock engine and the object every connected app talks to.
// Lock state lives on the main thread; the connection list lives on a private
// serial queue, which also sends every broadcast.
#pragma once

#include "LockComponents.h"
#include "SerialQueue.h"
#include "SettingsPayload.h"
#include "XPCProtocol.h"

#include <QObject>

#include <memory>
#include <vector>

class LockManager : public QObject, public PaneveilHelperProtocol {
    Q_OBJECT
public:
    static constexpr const char queueLabel[] = "com.zelquor.Paneveil.helper.lock";
    static constexpr const char defaultLockFailureMessage[] = "Input blocking could not be enabled.";
    static constexpr const char lockSound[] = "Tink";
    static constexpr const char unlockSound[] = "Glass";

    explicit LockManager(LockComponents components, QObject *parent = nullptr);
    ~LockManager() override;

    // PaneveilHelperProtocol: all but the version move to the main thread.
    void lockWithReply(ResultReply reply) override;
    void unlockWithAuth(bool withAuth, ResultReply reply) override;
    void getStatusWithReply(StatusReply reply) override;
    void updateSettings(QByteArray payload, AcceptedReply reply) override;
    void helperVersionWithReply(VersionReply reply) override;
    void getPermissionStatusWithReply(PermissionReply reply) override;

    // Broadcast list bookkeeping; both only submit work to the queue.
    void attach(std::shared_ptr<PaneveilAppProtocol> connection);
    void detach(std::shared_ptr<PaneveilAppProtocol> connection);

    // Main-thread state, for the owner and tests.
    bool isLocked() const { return m_isLocked; }
    OptionalDate lockedSince() const { return m_lockedSince; }
    const RuntimeSettings &settings() const { return m_settings; }
    SerialQueue &queue() { return m_queue; }

private:
    void lockOnMain(const ResultReply &reply);
    void unlockOnMain(bool withAuth, const ResultReply &reply);
    void finishUnlock(bool success, const OptionalText &message, const ResultReply &reply);
    void updateSettingsOnMain(const QByteArray &payload, const AcceptedReply &reply);
    void broadcastState();
    void broadcastError(const QString &message);
    void triggerUnlock();
    void playSound(const QString &name);

    const LockComponents m_components;
    EventTapInterface &m_eventTap;
    OverlayInterface &m_overlay;
    AuthInterface &m_auth;
    PowerInterface &m_power;
    DisplayWatcherInterface &m_displays;

    bool m_isLocked = false;
    OptionalDate m_lockedSince;
    RuntimeSettings m_settings;
    bool m_hotkeyUnlockPending = false;

    // Touched only by work running on m_queue.
    std::vector<std::shared_ptr<PaneveilAppProtocol>> m_connections;
    SerialQueue m_queue{QString::fromLatin1(queueLabel)};
};
