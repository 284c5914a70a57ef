// The app's only channel to the helper: one connection, opened on demand and
// never re-opened by itself, that turns each request of the lock state model
// into one call on the helper's interface and hands every outcome back to
// the model on the main thread.
#pragma once

#include "HelperTransport.h"
#include "XPCProtocol.h"

#include <QMutex>
#include <QPointer>

#include <memory>

class LockState;

class XPCClient final : public PaneveilAppProtocol, public std::enable_shared_from_this<XPCClient> {
public:
    // The model is held weakly; reports to a destroyed model are dropped.
    static std::shared_ptr<XPCClient> create(LockState *state, std::shared_ptr<HelperTransport> transport);
    ~XPCClient() override;

    // Main thread only, as are the requests below.
    void connect();
    void lock();
    void unlock();
    void refreshStatus();
    void refreshPermissions();
    void pushSettings(const QByteArray &payload);

    bool isConnected() const;

    // Called by the helper, on the transport's thread.
    void helperDidChangeLockState(bool isLocked, OptionalDate since) override;
    void helperDidEncounterError(QString message) override;

private:
    XPCClient(LockState *state, std::shared_ptr<HelperTransport> transport);

    enum class StatusAnswer { clearsShownError, keepsShownError };
    void requestStatus(StatusAnswer answer);

    // The helper's interface on the current connection, or null when there
    // is none. A transport error drops that connection before onError runs.
    std::shared_ptr<PaneveilHelperProtocol> proxy(HelperConnection::ErrorHandler onError);
    // Forgets connection if it is still the current one; true if it was.
    bool forget(const std::shared_ptr<HelperConnection> &connection);

    // Read on the main thread only.
    QPointer<LockState> m_state;
    const std::shared_ptr<HelperTransport> m_transport;
    // Cleared on the transport's thread, read and replaced on the main thread.
    mutable QMutex m_connectionLock;
    std::shared_ptr<HelperConnection> m_connection;
};
