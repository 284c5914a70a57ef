// The channel XPCClient reaches the helper through, reduced to what the
// client uses: a connection by service name that admits only a peer with
// the required identity, exports one object for the helper's callbacks, and
// reports when it ends. The real one (platform/dbus) runs on the session
// bus; tests use fakes.
//
// Threads: handlers, replies, error handlers and calls on the exported
// object run on the transport's own thread (never the caller's), and never
// inside a call made on the connection.
#pragma once

#include "XPCProtocol.h"

#include <QString>

#include <functional>
#include <memory>

struct TransportError {
    // A readable description, shown to the user unchanged.
    QString localizedDescription;
};

class HelperConnection {
public:
    using Handler = std::function<void()>;
    using ErrorHandler = std::function<void(const TransportError &error)>;

    virtual ~HelperConnection() = default;

    // Configuration; takes effect only before resume().
    virtual void setExportedObject(std::weak_ptr<PaneveilAppProtocol> object) = 0;
    // A requirement such as identifier "com.zelquor.Paneveil.helper".
    virtual void setPeerRequirement(const QString &requirement) = 0;
    // At most one of the two runs, once, when the connection ends: the
    // interruption handler when the peer went away after it was reached,
    // the invalidation handler in every other case.
    virtual void setInvalidationHandler(Handler handler) = 0;
    virtual void setInterruptionHandler(Handler handler) = 0;

    // Starts reaching the peer; messages sent before it is reached wait.
    virtual void resume() = 0;
    // Ends the connection; messages not yet answered get their error handler.
    virtual void invalidate() = 0;

    // The helper's interface on this connection. onError runs instead of a
    // reply when the message cannot be delivered or answered, once per message.
    virtual std::shared_ptr<PaneveilHelperProtocol> remoteObjectProxy(ErrorHandler onError) = 0;
};

class HelperTransport {
public:
    virtual ~HelperTransport() = default;
    // A new, not yet resumed connection to the named service.
    virtual std::shared_ptr<HelperConnection> connectionToService(const QString &serviceName) = 0;
};
