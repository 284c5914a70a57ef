// One object path serving one interface described by an introspection file
// of the repository: answers Introspect itself and hands every other method
// call to receive, on the thread the object lives in, with its reply delayed
// (the receiver answers when it has an answer).
#pragma once

#include "BusWireTypes.h"

#include <QDBusVirtualObject>

#include <functional>

class BusObject final : public QDBusVirtualObject {
public:
    using Receiver = std::function<void(const QDBusMessage &message)>;

    BusObject(const QString &interfaceFile, Receiver receive)
        : m_introspection(BusWire::interfaceElement(interfaceFile))
        , m_receive(std::move(receive))
    {
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        if (BusWire::answerIntrospection(message, connection, m_introspection))
            return true;
        message.setDelayedReply(true);
        m_receive(message);
        return true;
    }

    QString introspect(const QString &) const override { return m_introspection; }

private:
    const QString m_introspection;
    const Receiver m_receive;
};
