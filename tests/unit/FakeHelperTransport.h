// A HelperTransport whose connections record what the client asks for and
// let the test answer, fail or end them. Handlers run when the test says so
// (or, for invalidate(), on the next turn of the event loop), never inside a
// call the client makes.
#pragma once

#include "HelperTransport.h"

#include <QCoreApplication>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <vector>

struct FakeRequest {
    QString member;
    QVariantList arguments;
    // Calls the reply callback with the reply values (optionals as invalid QVariant).
    std::function<void(const QVariantList &values)> reply;
    HelperConnection::ErrorHandler onError;
};

class FakeHelperConnection final : public HelperConnection, public std::enable_shared_from_this<FakeHelperConnection> {
public:
    explicit FakeHelperConnection(QString serviceName)
        : serviceName(std::move(serviceName))
    {
    }

    QString serviceName;
    QString requirement;
    std::weak_ptr<PaneveilAppProtocol> exported;
    Handler invalidationHandler;
    Handler interruptionHandler;
    bool resumed = false;
    int invalidateCalls = 0;
    std::vector<FakeRequest> requests;

    void setExportedObject(std::weak_ptr<PaneveilAppProtocol> object) override { exported = std::move(object); }
    void setPeerRequirement(const QString &text) override { requirement = text; }
    void setInvalidationHandler(Handler handler) override { invalidationHandler = std::move(handler); }
    void setInterruptionHandler(Handler handler) override { interruptionHandler = std::move(handler); }
    void resume() override { resumed = true; }

    void invalidate() override
    {
        ++invalidateCalls;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->end(self->invalidationHandler);
        }, Qt::QueuedConnection);
    }

    // The peer went away.
    void interrupt() { end(interruptionHandler); }

    std::shared_ptr<PaneveilHelperProtocol> remoteObjectProxy(ErrorHandler onError) override;

    QStringList members() const
    {
        QStringList names;
        for (const FakeRequest &request : requests)
            names << request.member;
        return names;
    }
    int count(const QString &member) const { return int(members().count(member)); }
    // The most recent request for member, or null.
    FakeRequest *last(const QString &member)
    {
        for (auto it = requests.rbegin(); it != requests.rend(); ++it)
            if (it->member == member)
                return &*it;
        return nullptr;
    }

private:
    void end(const Handler &handler)
    {
        if (ended)
            return;
        ended = true;
        if (handler)
            handler();
    }
    bool ended = false;
};

class FakeHelperProxy final : public PaneveilHelperProtocol {
public:
    FakeHelperProxy(std::weak_ptr<FakeHelperConnection> connection, HelperConnection::ErrorHandler onError)
        : m_connection(std::move(connection))
        , m_onError(std::move(onError))
    {
    }

    void lockWithReply(ResultReply reply) override { record(QStringLiteral("lock"), {}, resultReply(std::move(reply))); }
    void unlockWithAuth(bool withAuth, ResultReply reply) override
    {
        record(QStringLiteral("unlock"), {withAuth}, resultReply(std::move(reply)));
    }
    void getStatusWithReply(StatusReply reply) override
    {
        record(QStringLiteral("status"), {}, [reply](const QVariantList &values) {
            const QVariant since = values.value(1);
            reply(values.value(0).toBool(), since.isValid() ? OptionalDate(since.toDateTime()) : std::nullopt);
        });
    }
    void updateSettings(QByteArray payload, AcceptedReply reply) override
    {
        record(QStringLiteral("settings"), {payload}, [reply](const QVariantList &values) { reply(values.value(0).toBool()); });
    }
    void helperVersionWithReply(VersionReply reply) override
    {
        record(QStringLiteral("version"), {}, [reply](const QVariantList &values) { reply(values.value(0).toString()); });
    }
    void getPermissionStatusWithReply(PermissionReply reply) override
    {
        record(QStringLiteral("permissions"), {}, [reply](const QVariantList &values) {
            reply(values.value(0).toBool(), values.value(1).toBool());
        });
    }

private:
    static std::function<void(const QVariantList &)> resultReply(ResultReply reply)
    {
        return [reply](const QVariantList &values) {
            const QVariant message = values.value(1);
            reply(values.value(0).toBool(), message.isValid() ? OptionalText(message.toString()) : std::nullopt);
        };
    }

    void record(const QString &member, QVariantList arguments, std::function<void(const QVariantList &)> reply)
    {
        if (const auto connection = m_connection.lock())
            connection->requests.push_back({member, std::move(arguments), std::move(reply), m_onError});
    }

    std::weak_ptr<FakeHelperConnection> m_connection;
    HelperConnection::ErrorHandler m_onError;
};

inline std::shared_ptr<PaneveilHelperProtocol> FakeHelperConnection::remoteObjectProxy(ErrorHandler onError)
{
    return std::make_shared<FakeHelperProxy>(weak_from_this(), std::move(onError));
}

class FakeHelperTransport final : public HelperTransport {
public:
    std::vector<std::shared_ptr<FakeHelperConnection>> connections;

    std::shared_ptr<HelperConnection> connectionToService(const QString &serviceName) override
    {
        connections.push_back(std::make_shared<FakeHelperConnection>(serviceName));
        return connections.back();
    }

    FakeHelperConnection *latest() { return connections.empty() ? nullptr : connections.back().get(); }
};
