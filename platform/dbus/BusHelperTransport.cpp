#include "BusHelperTransport.h"

#include "BusPeerIdentity.h"
#include "BusWireTypes.h"
#include "Constants.h"
#include "HelperBusClient.h"

#include <QDBusPendingCallWatcher>
#include <QPointer>
#include <QThread>

#include <deque>
#include <map>

namespace {
const QString invalidatedText = QStringLiteral("The connection to the helper was invalidated.");
const QString helperLeftText = QStringLiteral("The helper left the session bus.");
} // namespace

// The thread every connection's bus work runs on, with one object living
// there as the target of posted jobs and the parent of the bus objects.
class BusThread {
public:
    BusThread()
        : m_thread(new QThread)
        , m_context(new QObject)
    {
        m_thread->setObjectName(QStringLiteral("paneveil-bus"));
        m_context->moveToThread(m_thread);
        m_thread->start();
    }

    ~BusThread()
    {
        // Runs after every job posted before, so connections dropped earlier
        // have taken their objects off the bus.
        QMetaObject::invokeMethod(m_context, [context = m_context] {
            delete context;
            QThread::currentThread()->quit();
        }, Qt::QueuedConnection);
        if (QThread::currentThread() == m_thread) {
            // The last user let go from a job on this thread: it cannot wait
            // for itself, so the thread object goes once it has finished.
            QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
            return;
        }
        m_thread->wait();
        delete m_thread;
    }

    QObject *context() const { return m_context; }

    void post(std::function<void()> job) const
    {
        QMetaObject::invokeMethod(m_context, std::move(job), Qt::QueuedConnection);
    }

private:
    QThread *m_thread;
    QObject *m_context;
};

namespace {

// Reads a reply and calls its reply callback; false when it has the wrong shape.
using ReplyReader = std::function<bool(const QDBusMessage &reply)>;

struct Request {
    const char *member;
    QVariantList arguments;
    ReplyReader read;
    HelperConnection::ErrorHandler onError;
};

// Hands the helper's calls to the exported object, if it is still there.
class ExportedObjectForwarder final : public PaneveilAppProtocol {
public:
    std::weak_ptr<PaneveilAppProtocol> object;

    void helperDidChangeLockState(bool isLocked, OptionalDate since) override
    {
        if (const std::shared_ptr<PaneveilAppProtocol> target = object.lock())
            target->helperDidChangeLockState(isLocked, std::move(since));
    }
    void helperDidEncounterError(QString message) override
    {
        if (const std::shared_ptr<PaneveilAppProtocol> target = object.lock())
            target->helperDidEncounterError(std::move(message));
    }
};

} // namespace

// One connection's state. Configured on the caller's thread before resume;
// from then on touched only on the bus thread.
class BusConnectionCore : public std::enable_shared_from_this<BusConnectionCore> {
public:
    enum class Phase { configuring, starting, connected, ended };
    enum class Ending { invalidated, interrupted };

    BusConnectionCore(QDBusConnection bus, QObject *context, QString serviceName)
        : m_bus(std::move(bus))
        , m_context(context)
        , m_serviceName(std::move(serviceName))
    {
    }

    ExportedObjectForwarder exported;
    QString requirement = QString::fromLatin1(PVConstants::helperCodeSigningRequirement);
    HelperConnection::Handler invalidationHandler;
    HelperConnection::Handler interruptionHandler;

    void start()
    {
        if (m_phase != Phase::configuring)
            return;
        m_phase = Phase::starting;
        if (m_serviceName != QLatin1String(PVConstants::helperMachServiceName)) {
            end(Ending::invalidated, {QStringLiteral("no such service: %1").arg(m_serviceName)});
            return;
        }
        m_client = new HelperBusClient(m_bus, busPeerCheck(m_bus, requirement), m_context);
        QString error;
        if (!m_client->exportAppInterface(&exported, &error) || !m_client->connectToHelper(&error)) {
            end(Ending::invalidated, {error});
            return;
        }
        // Queued, so the client is never deleted inside its own signal.
        QObject::connect(m_client, &HelperBusClient::helperLeft, m_context,
                         [weakSelf = weak_from_this()] {
                             if (const auto self = weakSelf.lock())
                                 self->end(Ending::interrupted, {helperLeftText});
                         },
                         Qt::QueuedConnection);
        m_phase = Phase::connected;
        std::deque<Request> waiting;
        waiting.swap(m_waiting);
        for (Request &request : waiting)
            send(std::move(request));
    }

    void send(Request request)
    {
        switch (m_phase) {
        case Phase::configuring:
        case Phase::starting:
            m_waiting.push_back(std::move(request));
            return;
        case Phase::ended:
            request.onError(m_endReason);
            return;
        case Phase::connected:
            break;
        }
        const quint64 id = m_nextRequestID++;
        auto *watcher = new QDBusPendingCallWatcher(m_client->call(request.member, request.arguments), m_client);
        m_inFlight.emplace(id, std::move(request));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context,
                         [weakSelf = weak_from_this(), id, watcher] {
                             watcher->deleteLater();
                             if (const auto self = weakSelf.lock())
                                 self->finish(id, watcher->reply());
                         });
    }

    // Ends the connection: off the bus first, then the one handler, then the
    // error handlers of every unanswered request.
    void end(Ending ending, const TransportError &reason)
    {
        if (m_phase == Phase::ended)
            return;
        m_phase = Phase::ended;
        m_endReason = reason;
        removeFromBus();
        const HelperConnection::Handler &handler =
            ending == Ending::interrupted ? interruptionHandler : invalidationHandler;
        if (handler)
            handler();
        failUnanswered(reason);
    }

    // The connection was let go without being invalidated: nobody is told.
    void drop()
    {
        m_phase = Phase::ended;
        removeFromBus();
        m_waiting.clear();
        m_inFlight.clear();
        invalidationHandler = nullptr;
        interruptionHandler = nullptr;
    }

private:
    void finish(quint64 id, const QDBusMessage &reply)
    {
        const auto found = m_inFlight.find(id);
        if (found == m_inFlight.end())
            return;
        Request request = std::move(found->second);
        m_inFlight.erase(found);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            request.onError({reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()});
            return;
        }
        if (reply.type() != QDBusMessage::ReplyMessage || !request.read(reply))
            request.onError({QStringLiteral("The helper sent a malformed reply to %1.").arg(QLatin1String(request.member))});
    }

    void failUnanswered(const TransportError &reason)
    {
        std::deque<Request> waiting;
        waiting.swap(m_waiting);
        std::map<quint64, Request> inFlight;
        inFlight.swap(m_inFlight);
        for (Request &request : waiting)
            request.onError(reason);
        for (auto &[id, request] : inFlight)
            request.onError(reason);
    }

    void removeFromBus()
    {
        // Also deletes the watchers of unanswered calls, which are children.
        delete m_client.data();
        m_client.clear();
    }

    QDBusConnection m_bus;
    QObject *m_context;
    const QString m_serviceName;
    Phase m_phase = Phase::configuring;
    // What every request sent after the end is told.
    TransportError m_endReason{invalidatedText};
    QPointer<HelperBusClient> m_client;
    std::deque<Request> m_waiting;
    std::map<quint64, Request> m_inFlight;
    quint64 m_nextRequestID = 1;
};

namespace {

bool hasSignature(const QDBusMessage &reply, const char *signature)
{
    return reply.signature() == QLatin1String(signature);
}

// The helper's interface on one connection: each call becomes a request on
// the bus thread; replies and errors are called there.
class BusHelperProxy final : public PaneveilHelperProtocol {
public:
    BusHelperProxy(std::shared_ptr<BusThread> thread, std::shared_ptr<BusConnectionCore> core,
                   HelperConnection::ErrorHandler onError)
        : m_thread(std::move(thread))
        , m_core(std::move(core))
        , m_onError(std::move(onError))
    {
    }

    void lockWithReply(ResultReply reply) override { submit(BusMember::lock, {}, resultReader(std::move(reply))); }

    void unlockWithAuth(bool withAuth, ResultReply reply) override
    {
        submit(BusMember::unlock, {withAuth}, resultReader(std::move(reply)));
    }

    void getStatusWithReply(StatusReply reply) override
    {
        submit(BusMember::getStatus, {}, [reply = std::move(reply)](const QDBusMessage &message) {
            if (!hasSignature(message, "bad"))
                return false;
            const std::optional<OptionalDate> since = BusWire::toOptionalDate(message.arguments().at(1));
            if (!since)
                return false;
            reply(message.arguments().at(0).toBool(), *since);
            return true;
        });
    }

    void updateSettings(QByteArray payload, AcceptedReply reply) override
    {
        submit(BusMember::updateSettings, {payload}, [reply = std::move(reply)](const QDBusMessage &message) {
            if (!hasSignature(message, "b"))
                return false;
            reply(message.arguments().at(0).toBool());
            return true;
        });
    }

    void helperVersionWithReply(VersionReply reply) override
    {
        submit(BusMember::helperVersion, {}, [reply = std::move(reply)](const QDBusMessage &message) {
            if (!hasSignature(message, "s"))
                return false;
            reply(message.arguments().at(0).toString());
            return true;
        });
    }

    void getPermissionStatusWithReply(PermissionReply reply) override
    {
        submit(BusMember::getPermissionStatus, {}, [reply = std::move(reply)](const QDBusMessage &message) {
            if (!hasSignature(message, "bb"))
                return false;
            reply(message.arguments().at(0).toBool(), message.arguments().at(1).toBool());
            return true;
        });
    }

private:
    static ReplyReader resultReader(ResultReply reply)
    {
        return [reply = std::move(reply)](const QDBusMessage &message) {
            if (!hasSignature(message, "bas"))
                return false;
            const std::optional<OptionalText> text = BusWire::toOptionalText(message.arguments().at(1));
            if (!text)
                return false;
            reply(message.arguments().at(0).toBool(), *text);
            return true;
        };
    }

    void submit(const char *member, QVariantList arguments, ReplyReader read)
    {
        m_thread->post([core = m_core, request = Request{member, std::move(arguments), std::move(read), m_onError}]() mutable {
            core->send(std::move(request));
        });
    }

    const std::shared_ptr<BusThread> m_thread;
    const std::shared_ptr<BusConnectionCore> m_core;
    const HelperConnection::ErrorHandler m_onError;
};

class BusHelperConnection final : public HelperConnection {
public:
    BusHelperConnection(std::shared_ptr<BusThread> thread, QDBusConnection bus, const QString &serviceName)
        : m_thread(std::move(thread))
        , m_core(std::make_shared<BusConnectionCore>(std::move(bus), m_thread->context(), serviceName))
    {
    }

    ~BusHelperConnection() override
    {
        m_thread->post([core = m_core] { core->drop(); });
    }

    void setExportedObject(std::weak_ptr<PaneveilAppProtocol> object) override
    {
        if (!m_resumed)
            m_core->exported.object = std::move(object);
    }
    void setPeerRequirement(const QString &requirement) override
    {
        if (!m_resumed)
            m_core->requirement = requirement;
    }
    void setInvalidationHandler(Handler handler) override
    {
        if (!m_resumed)
            m_core->invalidationHandler = std::move(handler);
    }
    void setInterruptionHandler(Handler handler) override
    {
        if (!m_resumed)
            m_core->interruptionHandler = std::move(handler);
    }

    void resume() override
    {
        if (m_resumed)
            return;
        m_resumed = true;
        m_thread->post([core = m_core] { core->start(); });
    }

    void invalidate() override
    {
        m_resumed = true;
        m_thread->post([core = m_core] { core->end(BusConnectionCore::Ending::invalidated, {invalidatedText}); });
    }

    std::shared_ptr<PaneveilHelperProtocol> remoteObjectProxy(ErrorHandler onError) override
    {
        return std::make_shared<BusHelperProxy>(m_thread, m_core, std::move(onError));
    }

private:
    const std::shared_ptr<BusThread> m_thread;
    const std::shared_ptr<BusConnectionCore> m_core;
    // Configuration stops at resume (or invalidation); set on the caller's thread.
    std::atomic_bool m_resumed = false;
};

} // namespace

BusHelperTransport::BusHelperTransport(QDBusConnection bus)
    : m_bus(std::move(bus))
    , m_thread(std::make_shared<BusThread>())
{
}

BusHelperTransport::~BusHelperTransport() = default;

std::shared_ptr<HelperConnection> BusHelperTransport::connectionToService(const QString &serviceName)
{
    return std::make_shared<BusHelperConnection>(m_thread, m_bus, serviceName);
}
