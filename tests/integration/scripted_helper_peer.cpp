// A stand-in for the helper on the session bus whose answers a test scripts
// through standard input, for replies the real helper cannot easily give.
// Built twice: with the helper's identity, and without it (an impostor).
//
// Standard output: "ready", then "called <member>" for every call received.
// Standard input, one command a line, each acknowledged with "ok":
//   reply <member> <kind> [text]   next replies to <member>:
//       success | refuse | refuse-with <text> | error <text> | malformed | locked <seconds>
//   broadcast-locked <seconds>     helperDidChangeLockState(true, seconds) to the last caller
//   broadcast-error <text>         helperDidEncounterError(text) to the last caller

#include "BusObject.h"
#include "BusWireTypes.h"
#include "Constants.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QHash>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

struct Script {
    QString kind = QStringLiteral("success");
    QString text;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 2;

    QHash<QString, Script> scripts;
    QString lastCaller;

    BusObject object(QStringLiteral("com.zelquor.Paneveil.PaneveilHelperProtocol.xml"), [&](const QDBusMessage &call) {
        lastCaller = call.service();
        say(QStringLiteral("called ") + call.member());
        const Script script = scripts.value(call.member());
        const QString member = call.member();
        QDBusMessage reply = call.createReply();
        if (script.kind == QLatin1String("error")) {
            bus.send(call.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"), script.text));
            return;
        }
        if (script.kind == QLatin1String("malformed")) {
            reply << QStringLiteral("nonsense");
        } else if (member == QLatin1String(BusMember::lock) || member == QLatin1String(BusMember::unlock)) {
            const bool success = script.kind == QLatin1String("success");
            const OptionalText message = script.kind == QLatin1String("refuse") ? OptionalText()
                                         : script.text.isEmpty()               ? OptionalText()
                                                                               : OptionalText(script.text);
            reply << success << BusWire::fromOptionalText(message);
        } else if (member == QLatin1String(BusMember::getStatus)) {
            const bool locked = script.kind == QLatin1String("locked");
            reply << locked
                  << BusWire::fromOptionalDate(locked ? OptionalDate(QDateTime::fromSecsSinceEpoch(script.text.toLongLong(), Qt::UTC))
                                                      : std::nullopt);
        } else if (member == QLatin1String(BusMember::updateSettings)) {
            reply << true;
        } else if (member == QLatin1String(BusMember::helperVersion)) {
            reply << QString::fromLatin1(PVConstants::version);
        } else if (member == QLatin1String(BusMember::getPermissionStatus)) {
            reply << true << true;
        } else {
            bus.send(call.createErrorReply(QDBusError::UnknownMethod, member));
            return;
        }
        bus.send(reply);
    });
    if (!bus.registerVirtualObject(QString::fromLatin1(PVBus::helperObjectPath), &object))
        return 2;
    if (bus.interface()->registerService(QString::fromLatin1(PVConstants::helperMachServiceName),
                                         QDBusConnectionInterface::DontQueueService)
            .value()
        != QDBusConnectionInterface::ServiceRegistered)
        return 2;

    auto toApp = [&](const char *member) {
        QDBusMessage call = QDBusMessage::createMethodCall(lastCaller, QString::fromLatin1(PVBus::appObjectPath),
                                                           QString::fromLatin1(PVBus::appInterface), QString::fromLatin1(member));
        call.setAutoStartService(false);
        return call;
    };

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[1024];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.value(0) == QLatin1String("reply") && words.size() >= 3) {
                scripts.insert(words.at(1), Script{words.at(2), words.mid(3).join(QLatin1Char(' '))});
            } else if (words.value(0) == QLatin1String("broadcast-locked")) {
                QDBusMessage call = toApp(BusMember::helperDidChangeLockState);
                call << true << BusWire::fromOptionalDate(QDateTime::fromSecsSinceEpoch(words.value(1).toLongLong(), Qt::UTC));
                bus.send(call);
            } else if (words.value(0) == QLatin1String("broadcast-error")) {
                QDBusMessage call = toApp(BusMember::helperDidEncounterError);
                call << words.mid(1).join(QLatin1Char(' '));
                bus.send(call);
            } else {
                say(QStringLiteral("unknown command: ") + line);
                continue;
            }
            say(QStringLiteral("ok"));
        }
    });
    say(QStringLiteral("ready"));
    return application.exec();
}
