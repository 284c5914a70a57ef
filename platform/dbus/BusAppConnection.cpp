#include "BusAppConnection.h"

#include "BusWireTypes.h"
#include "Constants.h"

#include <QDBusMessage>

namespace {
QDBusMessage appCall(const QString &uniqueName, const char *member)
{
    QDBusMessage call = QDBusMessage::createMethodCall(uniqueName, QString::fromLatin1(PVBus::appObjectPath),
                                                       QString::fromLatin1(PVBus::appInterface),
                                                       QString::fromLatin1(member));
    call.setAutoStartService(false);
    return call;
}
} // namespace

BusAppConnection::BusAppConnection(QDBusConnection bus, QString uniqueName)
    : m_bus(std::move(bus))
    , m_uniqueName(std::move(uniqueName))
{
}

void BusAppConnection::helperDidChangeLockState(bool isLocked, OptionalDate since)
{
    QDBusMessage call = appCall(m_uniqueName, BusMember::helperDidChangeLockState);
    call << isLocked << BusWire::fromOptionalDate(since);
    // send() marks method calls as expecting no reply; failures are not observed.
    m_bus.send(call);
}

void BusAppConnection::helperDidEncounterError(QString message)
{
    QDBusMessage call = appCall(m_uniqueName, BusMember::helperDidEncounterError);
    call << message;
    m_bus.send(call);
}
