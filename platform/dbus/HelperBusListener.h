// The helper's side of the session bus: serves the helper interface, admits
// each peer on its first call after the identity check, and tells the
// delegate when an admitted peer leaves the bus. Peers are keyed by their
// unique bus name, which the bus never reuses.
#pragma once

#include "BusPeerIdentity.h"
#include "HelperDelegate.h"
#include "SerialQueue.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>

class BusAppConnection;
class QDBusServiceWatcher;

class HelperBusListener : public QObject {
    Q_OBJECT
public:
    enum class ResumeResult { Listening, NameTaken, Failed };

    // Lives on the main thread, like the lock manager it hands calls to.
    HelperBusListener(HelperDelegate &delegate, QDBusConnection bus, BusPeerCheck peerCheck);
    ~HelperBusListener() override;

    // Publishes the helper object and claims the well-known name without
    // queueing. On failure, error says why.
    ResumeResult resume(QString *error);

Q_SIGNALS:
    // The bus connection is gone; the helper has nobody left to serve.
    void busDisconnected();

private Q_SLOTS:
    void onLocalDisconnected();

private:
    struct Peer {
        enum class State { Checking, Admitted, Refused } state = State::Checking;
        QString refusal;
        std::shared_ptr<BusAppConnection> connection;
        PaneveilHelperProtocol *target = nullptr;
        // Calls that arrived while the identity check ran, in arrival order.
        QList<QDBusMessage> waiting;
    };

    void receive(const QDBusMessage &message);
    void checked(const QString &uniqueName, const PVIdentity::PeerCheck &verdict);
    void answer(const Peer &peer, const QDBusMessage &message);
    void forget(const QString &uniqueName);
    void dispatch(PaneveilHelperProtocol &target, const QDBusMessage &message);

    HelperDelegate &m_delegate;
    QDBusConnection m_bus;
    BusPeerCheck m_peerCheck;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, Peer> m_peers;
    class BusObject *m_object;
    // Identity checks block on the bus and read files; they run here.
    SerialQueue m_checks;
};
