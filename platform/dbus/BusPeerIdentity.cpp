#include "BusPeerIdentity.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

PVIdentity::PeerCheck checkBusPeer(const QDBusConnection &bus, const QString &uniqueName, const QString &requirement)
{
    QDBusMessage request = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("/org/freedesktop/DBus"),
                                                          QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("GetConnectionCredentials"));
    request << uniqueName;
    const QDBusReply<QVariantMap> reply = bus.call(request);
    if (!reply.isValid())
        return {false, QStringLiteral("no credentials for %1: %2").arg(uniqueName, reply.error().message())};
    const QVariantMap credentials = reply.value();
    if (!credentials.contains(QStringLiteral("ProcessID")) || !credentials.contains(QStringLiteral("UnixUserID")))
        return {false, QStringLiteral("the bus did not say which process %1 is").arg(uniqueName)};
    const qint64 pid = credentials.value(QStringLiteral("ProcessID")).toLongLong();
    const quint32 uid = credentials.value(QStringLiteral("UnixUserID")).toUInt();
    return PVIdentity::checkProcessIdentity(pid, uid, requirement);
}

BusPeerCheck busPeerCheck(const QDBusConnection &bus, const QString &requirement)
{
    return [bus, requirement](const QString &uniqueName) { return checkBusPeer(bus, uniqueName, requirement); };
}
