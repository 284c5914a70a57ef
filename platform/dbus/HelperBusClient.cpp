#include "HelperBusClient.h"

#include "BusObject.h"
#include "BusWireTypes.h"
#include "Constants.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusServiceWatcher>

#include <climits>

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString helperService = QString::fromLatin1(PVConstants::helperMachServiceName);

QDBusMessage busCall(const QString &member)
{
    return QDBusMessage::createMethodCall(busService, busPath, busService, member);
}

} // namespace


const QStringList &HelperBusClient::sessionEnvironmentNames()
{
    static const QStringList names = {
        QStringLiteral("DISPLAY"),         QStringLiteral("XAUTHORITY"),          QStringLiteral("XDG_SESSION_TYPE"),
        QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("XDG_CURRENT_DESKTOP"),
    };
    return names;
}

HelperBusClient::HelperBusClient(QDBusConnection bus, BusPeerCheck helperCheck, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_helperCheck(std::move(helperCheck))
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
}

HelperBusClient::~HelperBusClient()
{
    if (m_object) {
        m_bus.unregisterObject(QString::fromLatin1(PVBus::appObjectPath));
        delete m_object;
    }
}

bool HelperBusClient::handOverSessionEnvironment(QString *error)
{
    QMap<QString, QString> environment;
    for (const QString &name : sessionEnvironmentNames()) {
        if (qEnvironmentVariableIsSet(name.toLatin1().constData()))
            environment.insert(name, qEnvironmentVariable(name.toLatin1().constData()));
    }
    if (environment.isEmpty())
        return true;
    QDBusMessage update = busCall(QStringLiteral("UpdateActivationEnvironment"));
    update << QVariant::fromValue(environment);
    const QDBusMessage reply = m_bus.call(update);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = QStringLiteral("the session bus refused the display environment: %1").arg(reply.errorMessage());
        return false;
    }
    return true;
}

bool HelperBusClient::connectToHelper(QString *error)
{
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("no session bus: %1").arg(m_bus.lastError().message());
        return false;
    }
    if (!handOverSessionEnvironment(error))
        return false;

    // The bus only starts names it has an activation file for, even when
    // someone already owns them; so ask for the owner first.
    QDBusMessage owner = busCall(QStringLiteral("GetNameOwner"));
    owner << helperService;
    QDBusReply<QString> uniqueName = m_bus.call(owner);
    if (!uniqueName.isValid()) {
        QDBusMessage start = busCall(QStringLiteral("StartServiceByName"));
        start << helperService << 0u;
        const QDBusMessage started = m_bus.call(start);
        if (started.type() == QDBusMessage::ErrorMessage) {
            *error = QStringLiteral("the helper could not be started: %1").arg(started.errorMessage());
            return false;
        }
        uniqueName = m_bus.call(owner);
    }
    if (!uniqueName.isValid()) {
        *error = QStringLiteral("the helper is not on the bus: %1").arg(uniqueName.error().message());
        return false;
    }
    // Watch before checking, so a helper that leaves in between is noticed.
    m_watcher = new QDBusServiceWatcher(uniqueName.value(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &HelperBusClient::helperLeft);
    const PVIdentity::PeerCheck verdict = m_helperCheck(uniqueName.value());
    if (!verdict.accepted) {
        *error = QStringLiteral("%1 is not Paneveil's helper: %2").arg(helperService, verdict.reason);
        return false;
    }
    m_helperName = uniqueName.value();
    return true;
}

QDBusPendingCall HelperBusClient::call(const char *member, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(m_helperName, QString::fromLatin1(PVBus::helperObjectPath),
                                                          QString::fromLatin1(PVBus::helperInterface),
                                                          QString::fromLatin1(member));
    message.setArguments(arguments);
    message.setAutoStartService(false);
    const bool waitsForPerson = qstrcmp(member, BusMember::lock) == 0 || qstrcmp(member, BusMember::unlock) == 0;
    // INT_MAX is the bus library's "no timeout"; -1 keeps the bus default.
    return m_bus.asyncCall(message, waitsForPerson ? INT_MAX : -1);
}

bool HelperBusClient::exportAppInterface(PaneveilAppProtocol *sink, QString *error)
{
    m_sink = sink;
    if (!m_object)
        m_object = new BusObject(QStringLiteral("com.zelquor.Paneveil.PaneveilAppProtocol.xml"),
                                 [this](const QDBusMessage &message) { deliver(message); });
    if (!m_bus.registerVirtualObject(QString::fromLatin1(PVBus::appObjectPath), m_object)) {
        *error = QStringLiteral("could not publish the app object: %1").arg(m_bus.lastError().message());
        return false;
    }
    return true;
}

void HelperBusClient::deliver(const QDBusMessage &message)
{
    auto refuse = [&](QDBusError::ErrorType type, const QString &why) {
        if (!message.isReplyRequired())
            return;
        m_bus.send(message.createErrorReply(type, why));
    };
    if (m_helperName.isEmpty() || message.service() != m_helperName) {
        refuse(QDBusError::AccessDenied, QStringLiteral("only Paneveil's helper may call this object"));
        return;
    }
    const QString member = message.member();
    const QList<QVariant> arguments = message.arguments();
    if (member == QLatin1String(BusMember::helperDidChangeLockState) && message.signature() == QLatin1String("bad")) {
        const std::optional<OptionalDate> since = BusWire::toOptionalDate(arguments.at(1));
        if (!since) {
            refuse(QDBusError::InvalidArgs, QStringLiteral("malformed lock time"));
            return;
        }
        m_sink->helperDidChangeLockState(arguments.at(0).toBool(), *since);
    } else if (member == QLatin1String(BusMember::helperDidEncounterError) && message.signature() == QLatin1String("s")) {
        m_sink->helperDidEncounterError(arguments.at(0).toString());
    } else {
        refuse(QDBusError::UnknownMethod, QStringLiteral("No method %1 with signature \"%2\"").arg(member, message.signature()));
        return;
    }
    if (message.isReplyRequired())
        m_bus.send(message.createReply());
}
