#include "CommandLineClient.h"

#include "BusWireTypes.h"
#include "Constants.h"
#include "HelperBusClient.h"

#include <QCoreApplication>
#include <QDBusPendingReply>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace CommandLineClient {
namespace {

void out(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void err(const QString &line)
{
    std::fprintf(stderr, "paneveil: %s\n", line.toUtf8().constData());
}

QString describeState(bool isLocked, const OptionalDate &since)
{
    if (!isLocked)
        return QStringLiteral("Unlocked");
    return since ? QStringLiteral("Locked since %1").arg(since->toUTC().toString(Qt::ISODate))
                 : QStringLiteral("Locked");
}

int unreachable(const QString &why)
{
    err(QStringLiteral("Paneveil's helper is not reachable: %1").arg(why));
    return Unreachable;
}

// Waits for a reply; a bus error means the helper is not there to answer.
bool await(QDBusPendingCall &call, int *exitCode)
{
    call.waitForFinished();
    if (call.isError()) {
        *exitCode = unreachable(call.error().message());
        return false;
    }
    return true;
}

int resultCommand(HelperBusClient &client, const char *member, const QVariantList &arguments, const QString &done)
{
    QDBusPendingReply<bool, QStringList> call = client.call(member, arguments);
    int exitCode = Success;
    if (!await(call, &exitCode))
        return exitCode;
    const std::optional<OptionalText> message = BusWire::toOptionalText(call.argumentAt(1));
    if (!message)
        return unreachable(QStringLiteral("malformed reply"));
    if (call.argumentAt<0>()) {
        out(done);
        return Success;
    }
    err(message->value_or(QStringLiteral("failed")));
    return Refused;
}

int status(HelperBusClient &client)
{
    QDBusPendingCall call = client.call(BusMember::getStatus);
    int exitCode = Success;
    if (!await(call, &exitCode))
        return exitCode;
    const QDBusMessage reply = call.reply();
    const std::optional<OptionalDate> since = BusWire::toOptionalDate(reply.arguments().value(1));
    if (reply.signature() != QLatin1String("bad") || !since)
        return unreachable(QStringLiteral("malformed reply"));
    out(describeState(reply.arguments().at(0).toBool(), *since));
    return Success;
}

int version(HelperBusClient &client)
{
    QDBusPendingReply<QString> call = client.call(BusMember::helperVersion);
    int exitCode = Success;
    if (!await(call, &exitCode))
        return exitCode;
    out(call.value());
    return Success;
}

int permissions(HelperBusClient &client)
{
    QDBusPendingReply<bool, bool> call = client.call(BusMember::getPermissionStatus);
    int exitCode = Success;
    if (!await(call, &exitCode))
        return exitCode;
    auto word = [](bool granted) { return granted ? QStringLiteral("granted") : QStringLiteral("not granted"); };
    out(QStringLiteral("Accessibility: %1").arg(word(call.argumentAt<0>())));
    out(QStringLiteral("Input Monitoring: %1").arg(word(call.argumentAt<1>())));
    return Success;
}

// Prints each broadcast as it arrives.
class BroadcastPrinter final : public PaneveilAppProtocol {
public:
    void helperDidChangeLockState(bool isLocked, OptionalDate since) override { out(describeState(isLocked, since)); }
    void helperDidEncounterError(QString message) override { out(QStringLiteral("Error: %1").arg(message)); }
};

int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int watch(HelperBusClient &client)
{
    BroadcastPrinter printer;
    QString error;
    if (!client.exportAppInterface(&printer, &error))
        return unreachable(error);
    // The first call admits this client; from then on it receives broadcasts.
    if (const int exitCode = status(client); exitCode != Success)
        return exitCode;

    if (::pipe(signalPipe) != 0)
        return unreachable(QStringLiteral("cannot watch for signals"));
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(Success); });
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QObject::connect(&client, &HelperBusClient::helperLeft, [] {
        err(QStringLiteral("Paneveil's helper left the session bus"));
        QCoreApplication::exit(Unreachable);
    });
    return QCoreApplication::exec();
}

} // namespace

QString usage()
{
    return QStringLiteral("usage: paneveil lock | unlock | status | version | permissions | watch");
}

int run(const QStringList &arguments)
{
    static const QStringList commands = {QStringLiteral("lock"),    QStringLiteral("unlock"),
                                         QStringLiteral("status"),  QStringLiteral("version"),
                                         QStringLiteral("permissions"), QStringLiteral("watch")};
    if (arguments.size() != 1 || !commands.contains(arguments.first())) {
        err(usage());
        return Unreachable;
    }
    const QString command = arguments.first();

    QDBusConnection bus = QDBusConnection::sessionBus();
    HelperBusClient client(bus, busPeerCheck(bus, QString::fromLatin1(PVConstants::helperCodeSigningRequirement)));
    QString error;
    if (!client.connectToHelper(&error))
        return unreachable(error);

    if (command == QLatin1String("lock"))
        return resultCommand(client, BusMember::lock, {}, QStringLiteral("Locked"));
    if (command == QLatin1String("unlock"))
        return resultCommand(client, BusMember::unlock, {true}, QStringLiteral("Unlocked"));
    if (command == QLatin1String("status"))
        return status(client);
    if (command == QLatin1String("version"))
        return version(client);
    if (command == QLatin1String("permissions"))
        return permissions(client);
    return watch(client);
}

} // namespace CommandLineClient
