// Member names and the wire form of optional values: optional text is "as"
// and optional date-time "ad" (seconds since the epoch), zero or one element.
#pragma once

#include "XPCProtocol.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QVariant>

namespace BusMember {
inline constexpr const char lock[] = "lockWithReply";
inline constexpr const char unlock[] = "unlockWithAuth_reply";
inline constexpr const char getStatus[] = "getStatusWithReply";
inline constexpr const char updateSettings[] = "updateSettings_reply";
inline constexpr const char helperVersion[] = "helperVersionWithReply";
inline constexpr const char getPermissionStatus[] = "getPermissionStatusWithReply";
inline constexpr const char helperDidChangeLockState[] = "helperDidChangeLockStateWithIsLocked_since";
inline constexpr const char helperDidEncounterError[] = "helperDidEncounterError";
} // namespace BusMember

namespace BusWire {

inline QVariant fromOptionalText(const OptionalText &text)
{
    return text ? QStringList{*text} : QStringList{};
}

inline QVariant fromOptionalDate(const OptionalDate &date)
{
    QList<double> seconds;
    if (date)
        seconds << double(date->toMSecsSinceEpoch()) / 1000.0;
    return QVariant::fromValue(seconds);
}

// Reads an "as" argument; more than one element is a malformed value.
inline std::optional<OptionalText> toOptionalText(const QVariant &value)
{
    const QStringList list = value.toStringList();
    if (list.size() > 1)
        return std::nullopt;
    return list.isEmpty() ? OptionalText{} : OptionalText{list.first()};
}

// Reads an "ad" argument; more than one element or a non-finite or
// out-of-range value is malformed.
inline std::optional<OptionalDate> toOptionalDate(const QVariant &value)
{
    QList<double> seconds;
    if (value.canConvert<QDBusArgument>())
        seconds = qdbus_cast<QList<double>>(value.value<QDBusArgument>());
    else
        seconds = value.value<QList<double>>();
    if (seconds.size() > 1)
        return std::nullopt;
    if (seconds.isEmpty())
        return OptionalDate{};
    constexpr double limit = 253402300799.0; // 9999-12-31T23:59:59Z
    if (!(seconds.first() >= -limit && seconds.first() <= limit))
        return std::nullopt;
    return OptionalDate{QDateTime::fromMSecsSinceEpoch(qint64(seconds.first() * 1000.0), Qt::UTC)};
}

inline constexpr const char introspectionHeader[] =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n";

// The <interface> element of one of the introspection files kept in the
// repository (compiled in as resources), as QDBusVirtualObject::introspect wants it.
inline QString interfaceElement(const QString &fileName)
{
    QFile file(QStringLiteral(":/dbus/dbus/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString xml = QString::fromUtf8(file.readAll());
    const QString endTag = QStringLiteral("</interface>");
    const qsizetype begin = xml.indexOf(QStringLiteral("<interface"));
    const qsizetype end = xml.indexOf(endTag);
    return begin < 0 || end < 0 ? QString() : xml.mid(begin, end + endTag.size() - begin) + QLatin1Char('\n');
}

// Answers a standard Introspect call for an object serving one interface.
// Introspection is public, so it needs no identity check. Returns whether
// the message was such a call.
inline bool answerIntrospection(const QDBusMessage &message, const QDBusConnection &connection,
                                const QString &interfaceXml)
{
    if (message.interface() != QLatin1String("org.freedesktop.DBus.Introspectable")
        || message.member() != QLatin1String("Introspect"))
        return false;
    connection.send(message.createReply(QString::fromLatin1(introspectionHeader) + interfaceXml + QStringLiteral("</node>\n")));
    return true;
}

} // namespace BusWire
