// The helper's bus listener against a real private dbus-daemon, with the lock
// manager's components faked and the identity check steered by the test.

#include "BusWireTypes.h"
#include "Constants.h"
#include "FakeLockComponents.h"
#include "HelperBusClient.h"
#include "HelperBusListener.h"
#include "HelperDelegate.h"
#include "SettingsPayload.h"
#include "TestSession.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString helperService = QString::fromLatin1(PVConstants::helperMachServiceName);

// One app on its own bus connection, as a separate process would be.
struct TestApp {
    QDBusConnection bus;
    HelperBusClient client;
    RecordingAppConnection sink;

    explicit TestApp(const TestSession &session)
        : bus(session.connect(QStringLiteral("app")))
        , client(bus, [](const QString &) { return PVIdentity::PeerCheck{true, {}}; })
    {
    }
    ~TestApp() { QDBusConnection::disconnectFromBus(bus.name()); }
};

QDBusMessage helperCall(const QString &member, const QVariantList &arguments = {},
                        const QString &interface = QString::fromLatin1(PVBus::helperInterface))
{
    QDBusMessage call = QDBusMessage::createMethodCall(helperService, QString::fromLatin1(PVBus::helperObjectPath),
                                                       interface, member);
    call.setArguments(arguments);
    return call;
}

// Waits without blocking the main thread, where the lock manager works.
QDBusMessage await(QDBusPendingCall call)
{
    for (int i = 0; i < 500 && !call.isFinished(); ++i)
        QTest::qWait(10);
    return call.reply();
}

} // namespace

class TestHelperBusListener : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> session;
    std::optional<FakeLockComponents> fakes;
    std::unique_ptr<HelperDelegate> delegate;
    QDBusConnection helperBus{QString()};
    std::unique_ptr<HelperBusListener> listener;
    QSet<QString> refusedNames;

    std::unique_ptr<TestApp> connectedApp()
    {
        auto app = std::make_unique<TestApp>(*session);
        QString error;
        if (!app->client.connectToHelper(&error) || !app->client.exportAppInterface(&app->sink, &error))
            qWarning() << "app could not connect:" << error;
        return app;
    }

private Q_SLOTS:
    void init()
    {
        session = TestSession::busOnly();
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        fakes.emplace();
        delegate = std::make_unique<HelperDelegate>(fakes->release());
        helperBus = session->connect(QStringLiteral("helper"));
        refusedNames.clear();
        listener = std::make_unique<HelperBusListener>(*delegate, helperBus, [this](const QString &name) {
            return refusedNames.contains(name) ? PVIdentity::PeerCheck{false, QStringLiteral("not the app")}
                                               : PVIdentity::PeerCheck{true, {}};
        });
        QString error;
        QCOMPARE(listener->resume(&error), HelperBusListener::ResumeResult::Listening);
    }

    void cleanup()
    {
        listener.reset();
        delegate.reset();
        QDBusConnection::disconnectFromBus(helperBus.name());
        session.reset();
    }

    void secondListenerFindsTheNameTaken()
    {
        HelperDelegate otherDelegate(FakeLockComponents{}.release());
        QDBusConnection otherBus = session->connect(QStringLiteral("other-helper"));
        HelperBusListener other(otherDelegate, otherBus, [](const QString &) { return PVIdentity::PeerCheck{true, {}}; });
        QString error;
        QCOMPARE(other.resume(&error), HelperBusListener::ResumeResult::NameTaken);
        QVERIFY(error.contains(helperService));
        QDBusConnection::disconnectFromBus(otherBus.name());
    }

    void introspectionServesTheInterfaceFromTheRepository()
    {
        QDBusConnection caller = session->connect(QStringLiteral("introspector"));
        const QDBusMessage reply = await(caller.asyncCall(helperCall(
            QStringLiteral("Introspect"), {}, QStringLiteral("org.freedesktop.DBus.Introspectable"))));
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        const QString xml = reply.arguments().at(0).toString();
        for (const char *member : {BusMember::lock, BusMember::unlock, BusMember::getStatus, BusMember::updateSettings,
                                   BusMember::helperVersion, BusMember::getPermissionStatus})
            QVERIFY2(xml.contains(QStringLiteral("<method name=\"%1\">").arg(QLatin1String(member))), member);
        QDBusConnection::disconnectFromBus(caller.name());
    }

    void refusedCallerGetsAccessDeniedOnEveryMethod_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("lock") << QString::fromLatin1(BusMember::lock) << QVariantList{};
        QTest::newRow("unlock") << QString::fromLatin1(BusMember::unlock) << QVariantList{false};
        QTest::newRow("status") << QString::fromLatin1(BusMember::getStatus) << QVariantList{};
        QTest::newRow("settings") << QString::fromLatin1(BusMember::updateSettings)
                                  << QVariantList{encodeSettingsPayload({})};
        QTest::newRow("version") << QString::fromLatin1(BusMember::helperVersion) << QVariantList{};
        QTest::newRow("permissions") << QString::fromLatin1(BusMember::getPermissionStatus) << QVariantList{};
    }

    void refusedCallerGetsAccessDeniedOnEveryMethod()
    {
        QFETCH(QString, member);
        QFETCH(QVariantList, arguments);
        auto admitted = connectedApp();
        TestApp refused(*session);
        refusedNames.insert(refused.bus.baseService());
        QString error;
        QVERIFY(refused.client.connectToHelper(&error));
        QVERIFY(refused.client.exportAppInterface(&refused.sink, &error));

        const QDBusMessage reply = await(refused.bus.asyncCall(helperCall(member, arguments)));
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
        QVERIFY(reply.errorMessage().contains(QStringLiteral("not the app")));

        // Nothing reached the lock manager, and the refused caller gets no broadcast.
        QVERIFY(!delegate->lockManager().isLocked());
        QCOMPARE(fakes->eventTap->startCalls, 0);
        QCOMPARE(await(admitted->client.call(BusMember::lock)).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(admitted->sink.count(), 1);
        QTest::qWait(100);
        QCOMPARE(refused.sink.count(), 0);
    }

    void malformedCallsGetErrorsAndTheHelperStaysUp_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("member");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("errorName");
        const QString ours = QString::fromLatin1(PVBus::helperInterface);
        const QString invalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        QTest::newRow("lock with an argument") << ours << QString::fromLatin1(BusMember::lock) << QVariantList{1} << invalidArgs;
        QTest::newRow("unlock without withAuth") << ours << QString::fromLatin1(BusMember::unlock) << QVariantList{} << invalidArgs;
        QTest::newRow("unlock with a text") << ours << QString::fromLatin1(BusMember::unlock)
                                            << QVariantList{QStringLiteral("yes")} << invalidArgs;
        QTest::newRow("settings as a text") << ours << QString::fromLatin1(BusMember::updateSettings)
                                            << QVariantList{QStringLiteral("bplist00")} << invalidArgs;
        QTest::newRow("settings with two buffers") << ours << QString::fromLatin1(BusMember::updateSettings)
                                                   << QVariantList{QByteArray("a"), QByteArray("b")} << invalidArgs;
        QTest::newRow("unknown method") << ours << QStringLiteral("selfDestruct") << QVariantList{}
                                        << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
        QTest::newRow("unknown interface") << QStringLiteral("org.example.Other") << QString::fromLatin1(BusMember::lock)
                                           << QVariantList{} << QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
    }

    void malformedCallsGetErrorsAndTheHelperStaysUp()
    {
        QFETCH(QString, interface);
        QFETCH(QString, member);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, errorName);
        auto app = connectedApp();
        const QDBusMessage reply = await(app->bus.asyncCall(helperCall(member, arguments, interface)));
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), errorName);
        QCOMPARE(fakes->eventTap->startCalls, 0);

        const QDBusMessage version = await(app->client.call(BusMember::helperVersion));
        QCOMPARE(version.arguments().value(0).toString(), QString::fromLatin1(PVConstants::version));
    }

    void garbageSettingsAreRejectedNotFatal()
    {
        auto app = connectedApp();
        for (const QByteArray &payload : {QByteArray(), QByteArray("\x00\xff garbage", 10), QByteArray("bplist00")}) {
            const QDBusMessage reply = await(app->client.call(BusMember::updateSettings, {payload}));
            QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
            QCOMPARE(reply.arguments().value(0).toBool(), false);
        }
        SettingsPayloadValues values;
        values.overlayAlpha = 0.2;
        const QDBusMessage accepted = await(app->client.call(BusMember::updateSettings, {encodeSettingsPayload(values)}));
        QCOMPARE(accepted.arguments().value(0).toBool(), true);
        QCOMPARE(delegate->lockManager().settings().overlayAlpha, 0.2);
    }

    void repliesCarryTheWireTypes()
    {
        auto app = connectedApp();
        fakes->eventTap->startResult = false;
        QDBusMessage reply = await(app->client.call(BusMember::lock));
        QCOMPARE(reply.signature(), QStringLiteral("bas"));
        QCOMPARE(reply.arguments().at(0).toBool(), false);
        QCOMPARE(reply.arguments().at(1).toStringList(), QStringList{QStringLiteral("Input blocking could not be enabled.")});

        fakes->eventTap->startResult = true;
        reply = await(app->client.call(BusMember::lock));
        QCOMPARE(reply.arguments().at(1).toStringList(), QStringList{});

        reply = await(app->client.call(BusMember::getStatus));
        QCOMPARE(reply.signature(), QStringLiteral("bad"));
        const std::optional<OptionalDate> since = BusWire::toOptionalDate(reply.arguments().at(1));
        QVERIFY(since && *since);
        QCOMPARE(**since, *delegate->lockManager().lockedSince());

        fakes->permissions->inputMonitoring = true;
        reply = await(app->client.call(BusMember::getPermissionStatus));
        QCOMPARE(reply.signature(), QStringLiteral("bb"));
        QCOMPARE(reply.arguments().at(0).toBool(), false);
        QCOMPARE(reply.arguments().at(1).toBool(), true);
    }

    void everyAdmittedAppReceivesEveryBroadcast()
    {
        auto first = connectedApp();
        auto second = connectedApp();
        // Both are admitted by their first call.
        await(first->client.call(BusMember::getStatus));
        await(second->client.call(BusMember::getStatus));

        fakes->eventTap->startResult = false;
        await(first->client.call(BusMember::lock));
        fakes->eventTap->startResult = true;
        await(second->client.call(BusMember::lock));
        await(second->client.call(BusMember::unlock, {false}));

        for (TestApp *app : {first.get(), second.get()}) {
            QTRY_COMPARE(app->sink.count(), 3);
            const auto events = app->sink.events();
            QCOMPARE(events[0].kind, RecordingAppConnection::Event::Error);
            QCOMPARE(events[0].message, QStringLiteral("Input blocking could not be enabled."));
            QCOMPARE(events[1].kind, RecordingAppConnection::Event::State);
            QVERIFY(events[1].isLocked);
            QVERIFY(events[1].since);
            QVERIFY(qAbs(events[1].since->msecsTo(QDateTime::currentDateTimeUtc())) < 60000);
            QVERIFY(!events[2].isLocked);
            QVERIFY(!events[2].since);
        }
    }

    void appAcceptsCallbacksOnlyFromTheHelper()
    {
        auto app = connectedApp();
        QDBusConnection impostor = session->connect(QStringLiteral("impostor"));
        QDBusMessage call = QDBusMessage::createMethodCall(app->bus.baseService(), QString::fromLatin1(PVBus::appObjectPath),
                                                           QString::fromLatin1(PVBus::appInterface),
                                                           QString::fromLatin1(BusMember::helperDidEncounterError));
        call << QStringLiteral("forged");
        const QDBusMessage reply = await(impostor.asyncCall(call));
        QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
        QTest::qWait(50);
        QCOMPARE(app->sink.count(), 0);
        QDBusConnection::disconnectFromBus(impostor.name());
    }

    void departedAppIsDetached()
    {
        auto staying = connectedApp();
        auto leaving = connectedApp();
        await(staying->client.call(BusMember::getStatus));
        await(leaving->client.call(BusMember::getStatus));
        const QString leavingName = leaving->bus.baseService();

        // Watch what the bus carries to the app interface.
        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"),
                      {QStringLiteral("--address"), session->busAddress(),
                       QStringLiteral("interface='%1'").arg(QLatin1String(PVBus::appInterface))});
        QVERIFY(monitor.waitForStarted());
        QTest::qWait(300);

        leaving.reset();
        QTRY_VERIFY(!helperBus.interface()->isServiceRegistered(leavingName).value());
        QTest::qWait(200); // the listener learns of it from the bus, asynchronously
        await(staying->client.call(BusMember::lock));
        QTRY_COMPARE(staying->sink.count(), 1);
        QTest::qWait(300);
        monitor.terminate();
        monitor.waitForFinished();
        const QString seen = QString::fromUtf8(monitor.readAllStandardOutput());
        auto callsTo = [&seen](const QString &name) {
            const QString destination = QStringLiteral("destination=%1 ").arg(name);
            int calls = 0;
            for (const QString &line : seen.split(QLatin1Char('\n')))
                calls += line.startsWith(QLatin1String("method call")) && line.contains(destination);
            return calls;
        };
        QVERIFY2(callsTo(staying->bus.baseService()) == 1, qPrintable(seen));
        QVERIFY2(callsTo(leavingName) == 0, qPrintable(seen));
    }

    void busDisconnectionIsReported()
    {
        QSignalSpy disconnected(listener.get(), &HelperBusListener::busDisconnected);
        session->stopBus();
        QTRY_COMPARE(disconnected.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHelperBusListener)
#include "tst_helperbuslistener.moc"
