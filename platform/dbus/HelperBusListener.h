// The helper's side of the session bus: serves the helper interface, admits
// each peer on its first call after the identity check, and tells the
// delegate when an admitted peer leaves the bus.
#pragma once

#include "BusPeerIdentity.h"
#include "HelperDelegate.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QThread>

class BusAppConnection;
class QDBusServiceWatcher;

class HelperBusListener : public QObject {
    Q_OBJECT
public:
    enum class ResumeResult { Listening, NameTaken, Failed };

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
    friend class HelperBusObject;
    struct Peer {
        bool admitted = false;
        QString refusal;
        std::shared_ptr<BusAppConnection> connection;
        PaneveilHelperProtocol *target = nullptr;
    };

    // Everything below runs on m_thread: identity checks block on the bus.
    void receive(const QDBusMessage &message);
    Peer &peerFor(const QString &uniqueName);
    void forget(const QString &uniqueName);
    void dispatch(PaneveilHelperProtocol &target, const QDBusMessage &message);

    HelperDelegate &m_delegate;
    QDBusConnection m_bus;
    BusPeerCheck m_peerCheck;
    QThread m_thread;
    QObject *m_context;
    QDBusServiceWatcher *m_watcher = nullptr;
    QHash<QString, Peer> m_peers;
    class HelperBusObject *m_object;
};
