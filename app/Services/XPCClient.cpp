#include "XPCClient.h"

#include "Constants.h"
#include "LockState.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {

const QString lockFailed = QStringLiteral("Lock failed.");
const QString notReachable = QStringLiteral("Background helper is not reachable: ");

// One job on the main thread; every outcome of one event goes in one job, so
// its reports to the model run back to back.
void onMainThread(std::function<void()> job)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

// Runs report on the main thread with the model, if client and model are still there.
template <typename Report>
void reportWeakly(std::weak_ptr<XPCClient> client, QPointer<LockState> state, Report report)
{
    onMainThread([client = std::move(client), state = std::move(state), report = std::move(report)] {
        if (client.expired() || !state)
            return;
        report(*state);
    });
}

} // namespace

std::shared_ptr<XPCClient> XPCClient::create(LockState *state, std::shared_ptr<HelperTransport> transport)
{
    return std::shared_ptr<XPCClient>(new XPCClient(state, std::move(transport)));
}

XPCClient::XPCClient(LockState *state, std::shared_ptr<HelperTransport> transport)
    : m_state(state)
    , m_transport(std::move(transport))
{
}

// The connection is not invalidated here: dropping it ends it quietly.
XPCClient::~XPCClient() = default;

bool XPCClient::isConnected() const
{
    QMutexLocker locker(&m_connectionLock);
    return m_connection != nullptr;
}

bool XPCClient::forget(const std::shared_ptr<HelperConnection> &connection)
{
    QMutexLocker locker(&m_connectionLock);
    if (!connection || m_connection != connection)
        return false;
    m_connection.reset();
    return true;
}

void XPCClient::connect()
{
    // The lock is held until the new connection is stored, so a handler that
    // runs on the transport's thread meanwhile waits and then finds it.
    QMutexLocker locker(&m_connectionLock);
    if (m_connection)
        return;

    std::shared_ptr<HelperConnection> connection =
        m_transport->connectionToService(QString::fromLatin1(PVConstants::helperMachServiceName));
    connection->setExportedObject(std::weak_ptr<PaneveilAppProtocol>(shared_from_this()));
    connection->setPeerRequirement(QString::fromLatin1(PVConstants::helperCodeSigningRequirement));

    // Interruption and invalidation are one: the connection is dropped, never
    // reused, and the model hears the helper is gone.
    const std::weak_ptr<XPCClient> weakSelf = weak_from_this();
    const std::weak_ptr<HelperConnection> weakConnection = connection;
    const QPointer<LockState> state = m_state;
    auto connectionEnded = [weakSelf, weakConnection, state] {
        if (const std::shared_ptr<XPCClient> self = weakSelf.lock())
            self->forget(weakConnection.lock());
        reportWeakly(weakSelf, state, [](LockState &model) { model.apply(LockState::HelperReachable{false}); });
    };
    connection->setInvalidationHandler(connectionEnded);
    connection->setInterruptionHandler(connectionEnded);
    connection->resume();
    m_connection = std::move(connection);
}

std::shared_ptr<PaneveilHelperProtocol> XPCClient::proxy(HelperConnection::ErrorHandler onError)
{
    std::shared_ptr<HelperConnection> connection;
    {
        QMutexLocker locker(&m_connectionLock);
        connection = m_connection;
    }
    if (!connection)
        return nullptr;

    // Holds the client strongly: the connection must be dropped even when
    // the caller's own handler would find nothing left to report to.
    const std::shared_ptr<XPCClient> self = shared_from_this();
    const std::weak_ptr<HelperConnection> weakConnection = connection;
    return connection->remoteObjectProxy([self, weakConnection, onError = std::move(onError)](const TransportError &error) {
        // Only the connection this message went out on is dropped; a newer
        // one made meanwhile stays.
        const std::shared_ptr<HelperConnection> failed = weakConnection.lock();
        if (self->forget(failed))
            failed->invalidate();
        onError(error);
    });
}

void XPCClient::lock()
{
    const std::weak_ptr<XPCClient> weakSelf = weak_from_this();
    const QPointer<LockState> state = m_state;
    const std::shared_ptr<PaneveilHelperProtocol> helper = proxy([weakSelf, state](const TransportError &error) {
        reportWeakly(weakSelf, state, [text = error.localizedDescription](LockState &model) {
            model.apply(LockState::Error{text});
        });
    });
    if (!helper)
        return;
    helper->lockWithReply([weakSelf, state](bool success, OptionalText message) {
        reportWeakly(weakSelf, state, [weakSelf, success, message = std::move(message)](LockState &model) {
            model.apply(LockState::HelperReachable{true});
            if (success) {
                model.apply(LockState::Error{std::nullopt});
                return;
            }
            model.apply(LockState::Error{message.value_or(lockFailed)});
            // The helper's real state after a refusal; its answer keeps the
            // refusal shown, or the user would never see why nothing locked.
            if (const std::shared_ptr<XPCClient> self = weakSelf.lock())
                self->requestStatus(StatusAnswer::keepsShownError);
        });
    });
}

void XPCClient::unlock()
{
    const std::weak_ptr<XPCClient> weakSelf = weak_from_this();
    const QPointer<LockState> state = m_state;
    const std::shared_ptr<PaneveilHelperProtocol> helper = proxy([weakSelf, state](const TransportError &error) {
        reportWeakly(weakSelf, state, [text = error.localizedDescription](LockState &model) {
            model.apply(LockState::Error{text});
        });
    });
    if (!helper)
        return;
    // Always with the owner's authentication. The success flag is not read:
    // the message, or its absence, is what the user sees.
    helper->unlockWithAuth(true, [weakSelf, state](bool, OptionalText message) {
        reportWeakly(weakSelf, state, [message = std::move(message)](LockState &model) {
            model.apply(LockState::Error{message});
        });
    });
}

void XPCClient::refreshStatus()
{
    requestStatus(StatusAnswer::clearsShownError);
}

void XPCClient::requestStatus(StatusAnswer answer)
{
    const std::weak_ptr<XPCClient> weakSelf = weak_from_this();
    const QPointer<LockState> state = m_state;
    const std::shared_ptr<PaneveilHelperProtocol> helper = proxy([weakSelf, state](const TransportError &error) {
        reportWeakly(weakSelf, state, [text = notReachable + error.localizedDescription](LockState &model) {
            model.apply(LockState::HelperReachable{false});
            model.apply(LockState::Error{text});
        });
    });
    if (!helper)
        return;
    helper->getStatusWithReply([weakSelf, state, answer](bool isLocked, OptionalDate since) {
        reportWeakly(weakSelf, state, [isLocked, since = std::move(since), answer](LockState &model) {
            model.apply(LockState::LockStatus{isLocked, since});
            model.apply(LockState::HelperReachable{true});
            if (answer == StatusAnswer::clearsShownError)
                model.apply(LockState::Error{std::nullopt});
        });
    });
}

void XPCClient::refreshPermissions()
{
    const std::weak_ptr<XPCClient> weakSelf = weak_from_this();
    const QPointer<LockState> state = m_state;
    const std::shared_ptr<PaneveilHelperProtocol> helper = proxy([](const TransportError &) {});
    if (!helper)
        return;
    helper->getPermissionStatusWithReply([weakSelf, state](bool accessibilityTrusted, bool inputMonitoringTrusted) {
        reportWeakly(weakSelf, state, [accessibilityTrusted, inputMonitoringTrusted](LockState &model) {
            model.apply(LockState::Permissions{accessibilityTrusted, inputMonitoringTrusted});
        });
    });
}

void XPCClient::pushSettings(const QByteArray &payload)
{
    const std::shared_ptr<PaneveilHelperProtocol> helper = proxy([](const TransportError &) {});
    if (!helper)
        return;
    helper->updateSettings(payload, [](bool) {});
}

void XPCClient::helperDidChangeLockState(bool isLocked, OptionalDate since)
{
    // The job holds the client strongly, as the helper's calls do.
    const QPointer<LockState> state = m_state;
    onMainThread([self = shared_from_this(), state, isLocked, since = std::move(since)] {
        if (!state)
            return;
        state->apply(LockState::LockStatus{isLocked, since});
        state->apply(LockState::HelperReachable{true});
        state->apply(LockState::Error{std::nullopt});
    });
}

void XPCClient::helperDidEncounterError(QString message)
{
    const QPointer<LockState> state = m_state;
    onMainThread([self = shared_from_this(), state, message = std::move(message)] {
        if (state)
            state->apply(LockState::Error{message});
    });
}
