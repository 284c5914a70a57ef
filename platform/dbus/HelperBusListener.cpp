#include "HelperBusListener.h"

#include "BusAppConnection.h"
#include "BusObject.h"
#include "BusWireTypes.h"
#include "Constants.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

namespace {

const QString helperInterface = QString::fromLatin1(PVBus::helperInterface);

} // namespace


HelperBusListener::HelperBusListener(HelperDelegate &delegate, QDBusConnection bus, BusPeerCheck peerCheck)
    : m_delegate(delegate)
    , m_bus(std::move(bus))
    , m_peerCheck(std::move(peerCheck))
    , m_watcher(new QDBusServiceWatcher(QString(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
    , m_object(new BusObject(QStringLiteral("com.zelquor.Paneveil.PaneveilHelperProtocol.xml"),
                             [this](const QDBusMessage &message) { receive(message); }))
    , m_checks(QStringLiteral("com.zelquor.Paneveil.helper.identity"))
{
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &HelperBusListener::forget);
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                  QStringLiteral("Disconnected"), this, SLOT(onLocalDisconnected()));
}

HelperBusListener::~HelperBusListener()
{
    m_bus.unregisterObject(QString::fromLatin1(PVBus::helperObjectPath));
    delete m_object;
}

HelperBusListener::ResumeResult HelperBusListener::resume(QString *error)
{
    if (!m_bus.registerVirtualObject(QString::fromLatin1(PVBus::helperObjectPath), m_object)) {
        *error = QStringLiteral("could not publish %1: %2").arg(QString::fromLatin1(PVBus::helperObjectPath),
                                                                 m_bus.lastError().message());
        return ResumeResult::Failed;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        QString::fromLatin1(PVConstants::helperMachServiceName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        *error = reply.error().message();
        return ResumeResult::Failed;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("%1 is already owned by another process").arg(QString::fromLatin1(PVConstants::helperMachServiceName));
        return ResumeResult::NameTaken;
    }
    return ResumeResult::Listening;
}

void HelperBusListener::onLocalDisconnected()
{
    Q_EMIT busDisconnected();
}

void HelperBusListener::receive(const QDBusMessage &message)
{
    if (!message.interface().isEmpty() && message.interface() != helperInterface) {
        m_bus.send(message.createErrorReply(QDBusError::UnknownInterface,
                                            QStringLiteral("No interface %1 at this path").arg(message.interface())));
        return;
    }
    const QString uniqueName = message.service();
    auto found = m_peers.find(uniqueName);
    if (found != m_peers.end()) {
        if (found->state == Peer::State::Checking)
            found->waiting << message;
        else
            answer(*found, message);
        return;
    }

    // A new peer: watch it before checking, so one that leaves during the
    // check is still forgotten, and check it off the main thread.
    Peer &peer = *m_peers.insert(uniqueName, Peer{});
    peer.waiting << message;
    m_watcher->addWatchedService(uniqueName);
    // m_checks is joined before this object goes away, and an answer posted
    // to a destroyed object is discarded with it.
    m_checks.async([this, check = m_peerCheck, uniqueName] {
        const PVIdentity::PeerCheck verdict = check(uniqueName);
        QMetaObject::invokeMethod(this, [this, uniqueName, verdict] { checked(uniqueName, verdict); },
                                  Qt::QueuedConnection);
    });
}

void HelperBusListener::checked(const QString &uniqueName, const PVIdentity::PeerCheck &verdict)
{
    auto found = m_peers.find(uniqueName);
    if (found == m_peers.end())
        return; // left the bus while being checked
    Peer &peer = *found;
    if (verdict.accepted) {
        peer.state = Peer::State::Admitted;
        peer.connection = std::make_shared<BusAppConnection>(m_bus, uniqueName);
        peer.target = &m_delegate.acceptConnection(peer.connection);
    } else {
        peer.state = Peer::State::Refused;
        peer.refusal = verdict.reason;
    }
    const QList<QDBusMessage> waiting = std::exchange(peer.waiting, {});
    for (const QDBusMessage &message : waiting)
        answer(peer, message);
}

void HelperBusListener::answer(const Peer &peer, const QDBusMessage &message)
{
    if (peer.state == Peer::State::Admitted) {
        dispatch(*peer.target, message);
        return;
    }
    m_bus.send(message.createErrorReply(QDBusError::AccessDenied,
                                        QStringLiteral("Paneveil refuses this caller: %1").arg(peer.refusal)));
}

void HelperBusListener::forget(const QString &uniqueName)
{
    m_watcher->removeWatchedService(uniqueName);
    const Peer peer = m_peers.take(uniqueName);
    if (peer.connection)
        m_delegate.connectionInvalidated(peer.connection);
}

void HelperBusListener::dispatch(PaneveilHelperProtocol &target, const QDBusMessage &message)
{
    static const QHash<QString, QString> signatures = {
        {QString::fromLatin1(BusMember::lock), QString()},
        {QString::fromLatin1(BusMember::unlock), QStringLiteral("b")},
        {QString::fromLatin1(BusMember::getStatus), QString()},
        {QString::fromLatin1(BusMember::updateSettings), QStringLiteral("ay")},
        {QString::fromLatin1(BusMember::helperVersion), QString()},
        {QString::fromLatin1(BusMember::getPermissionStatus), QString()},
    };
    const QString member = message.member();
    const auto expected = signatures.constFind(member);
    if (expected == signatures.constEnd()) {
        m_bus.send(message.createErrorReply(QDBusError::UnknownMethod,
                                            QStringLiteral("No method %1 in %2").arg(member, helperInterface)));
        return;
    }
    if (message.signature() != *expected) {
        m_bus.send(message.createErrorReply(QDBusError::InvalidArgs,
                                            QStringLiteral("%1 takes \"%2\", not \"%3\"")
                                                .arg(member, *expected, message.signature())));
        return;
    }

    QDBusConnection bus = m_bus;
    auto send = [bus, message](const QList<QVariant> &values) mutable { bus.send(message.createReply(values)); };
    auto resultReply = [send](bool success, OptionalText text) mutable {
        send({success, BusWire::fromOptionalText(text)});
    };
    if (member == QLatin1String(BusMember::lock)) {
        target.lockWithReply(resultReply);
    } else if (member == QLatin1String(BusMember::unlock)) {
        target.unlockWithAuth(message.arguments().at(0).toBool(), resultReply);
    } else if (member == QLatin1String(BusMember::getStatus)) {
        target.getStatusWithReply([send](bool isLocked, OptionalDate since) mutable {
            send({isLocked, BusWire::fromOptionalDate(since)});
        });
    } else if (member == QLatin1String(BusMember::updateSettings)) {
        target.updateSettings(message.arguments().at(0).toByteArray(),
                              [send](bool accepted) mutable { send({accepted}); });
    } else if (member == QLatin1String(BusMember::helperVersion)) {
        target.helperVersionWithReply([send](QString version) mutable { send({version}); });
    } else {
        target.getPermissionStatusWithReply([send](bool accessibility, bool inputMonitoring) mutable {
            send({accessibility, inputMonitoring});
        });
    }
}
