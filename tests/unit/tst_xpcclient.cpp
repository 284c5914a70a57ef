// The helper client on a fake transport: what each request sends, what each
// reply, transport error, callback and lost connection tells the model, and
// that all of it reaches the model on the main thread, one job per event.

#include "Constants.h"
#include "FakeHelperTransport.h"
#include "LockState.h"
#include "XPCClient.h"

#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <thread>

Q_DECLARE_METATYPE(OptionalText)

class TestXPCClient : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<FakeHelperTransport> transport;
    std::unique_ptr<LockState> model;
    std::shared_ptr<XPCClient> client;
    // The model's notifications in order; marked when off the main thread.
    QStringList events;

    void recordModel()
    {
        const auto on = [this](auto signal, const char *name) {
            connect(model.get(), signal, this, [this, name] {
                const QString event = QString::fromLatin1(name);
                events << (QThread::currentThread() == thread() ? event : event + QStringLiteral("@other-thread"));
            });
        };
        on(&LockState::isLockedChanged, "isLocked");
        on(&LockState::lockedSinceChanged, "lockedSince");
        on(&LockState::helperReachableChanged, "helperReachable");
        on(&LockState::lastErrorChanged, "lastError");
        on(&LockState::helperAccessibilityTrustedChanged, "accessibility");
        on(&LockState::helperInputMonitoringTrustedChanged, "inputMonitoring");
    }

    FakeHelperConnection &connected()
    {
        client->connect();
        return *transport->latest();
    }

    // Runs the jobs posted to the main thread so far.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        transport = std::make_shared<FakeHelperTransport>();
        model = std::make_unique<LockState>(transport);
        client = XPCClient::create(model.get(), transport);
        events.clear();
        recordModel();
    }

    void cleanup()
    {
        client.reset();
        model.reset();
        transport.reset();
    }

    void connectOpensOneConfiguredConnection()
    {
        client->connect();
        client->connect();
        QCOMPARE(transport->connections.size(), size_t(1));
        const FakeHelperConnection &connection = *transport->latest();
        QCOMPARE(connection.serviceName, QString::fromLatin1(PVConstants::helperMachServiceName));
        QCOMPARE(connection.requirement, QString::fromLatin1(PVConstants::helperCodeSigningRequirement));
        QVERIFY(connection.resumed);
        QCOMPARE(connection.exported.lock().get(), static_cast<PaneveilAppProtocol *>(client.get()));
        QVERIFY(client->isConnected());
    }

    void requestsMapOntoTheHelpersInterface()
    {
        FakeHelperConnection &connection = connected();
        client->lock();
        client->unlock();
        client->refreshStatus();
        client->refreshPermissions();
        client->pushSettings(QByteArray("bplist00payload"));
        QCOMPARE(connection.members(), (QStringList{QStringLiteral("lock"), QStringLiteral("unlock"), QStringLiteral("status"),
                                                    QStringLiteral("permissions"), QStringLiteral("settings")}));
        // Unlock always asks for the owner's authentication.
        QCOMPARE(connection.requests.at(1).arguments, QVariantList{true});
        QCOMPARE(connection.requests.at(4).arguments, QVariantList{QByteArray("bplist00payload")});
    }

    void requestsWhileDisconnectedSendAndReportNothing_data()
    {
        QTest::addColumn<int>("request");
        QTest::newRow("lock") << 0;
        QTest::newRow("unlock") << 1;
        QTest::newRow("status") << 2;
        QTest::newRow("permissions") << 3;
        QTest::newRow("settings") << 4;
    }

    void requestsWhileDisconnectedSendAndReportNothing()
    {
        QFETCH(int, request);
        const std::function<void()> requests[] = {
            [this] { client->lock(); },          [this] { client->unlock(); },
            [this] { client->refreshStatus(); }, [this] { client->refreshPermissions(); },
            [this] { client->pushSettings(QByteArray("x")); },
        };
        requests[request]();
        settle();
        QVERIFY(transport->connections.empty());
        QCOMPARE(events, QStringList());
    }

    void lockReplies_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<OptionalText>("message");
        QTest::addColumn<OptionalText>("shown");
        QTest::addColumn<int>("statusRequests");
        QTest::newRow("success") << true << OptionalText() << OptionalText() << 0;
        QTest::newRow("success with a message") << true << OptionalText(QStringLiteral("noted")) << OptionalText() << 0;
        QTest::newRow("refused without a message") << false << OptionalText() << OptionalText(QStringLiteral("Lock failed.")) << 1;
        QTest::newRow("refused with a message") << false << OptionalText(QStringLiteral("Input blocking could not be enabled."))
                                                << OptionalText(QStringLiteral("Input blocking could not be enabled.")) << 1;
    }

    void lockReplies()
    {
        QFETCH(bool, success);
        QFETCH(OptionalText, message);
        QFETCH(OptionalText, shown);
        QFETCH(int, statusRequests);
        FakeHelperConnection &connection = connected();
        model->apply(LockState::Error{QStringLiteral("an earlier message")});
        events.clear();

        client->lock();
        connection.requests.at(0).reply({success, message ? QVariant(*message) : QVariant()});
        settle();
        QCOMPARE(model->lastError(), shown);
        QVERIFY(model->helperReachable());
        // A lock reply says nothing about the lock itself: the broadcast does.
        QVERIFY(!model->isLocked());
        QCOMPARE(events.mid(0, 2), (QStringList{QStringLiteral("helperReachable"), QStringLiteral("lastError")}));
        QCOMPARE(connection.count(QStringLiteral("status")), statusRequests);
        if (statusRequests == 0)
            return;
        // The re-read state arrives; the refusal stays shown.
        connection.last(QStringLiteral("status"))->reply({false, QVariant()});
        settle();
        QCOMPARE(model->lastError(), shown);
        QVERIFY(!model->isLocked());
    }

    void unlockReplies_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<OptionalText>("message");
        QTest::newRow("refused without a message clears the text") << false << OptionalText();
        QTest::newRow("success with a message shows it") << true << OptionalText(QStringLiteral("Unlocked with a warning"));
        QTest::newRow("refused with a message") << false << OptionalText(QStringLiteral("Canceled by user."));
    }

    void unlockReplies()
    {
        QFETCH(bool, success);
        QFETCH(OptionalText, message);
        FakeHelperConnection &connection = connected();
        model->apply(LockState::Error{QStringLiteral("an earlier message")});
        events.clear();

        client->unlock();
        connection.requests.at(0).reply({success, message ? QVariant(*message) : QVariant()});
        settle();
        QCOMPARE(model->lastError(), message);
        QCOMPARE(events, QStringList{QStringLiteral("lastError")});
        QVERIFY(!model->helperReachable());
        QCOMPARE(connection.count(QStringLiteral("status")), 0);
    }

    void statusAndPermissionRepliesReachTheModel()
    {
        FakeHelperConnection &connection = connected();
        model->apply(LockState::Error{QStringLiteral("an earlier message")});
        events.clear();
        const QDateTime since = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

        client->refreshStatus();
        client->refreshPermissions();
        connection.requests.at(0).reply({true, since});
        connection.requests.at(1).reply({true, false});
        settle();
        QVERIFY(model->isLocked());
        QCOMPARE(model->lockedSince(), OptionalDate(since));
        QVERIFY(model->helperReachable());
        QCOMPARE(model->lastError(), OptionalText());
        QCOMPARE(model->helperAccessibilityTrusted(), std::optional<bool>(true));
        QCOMPARE(model->helperInputMonitoringTrusted(), std::optional<bool>(false));
        QCOMPARE(events, (QStringList{QStringLiteral("isLocked"), QStringLiteral("lockedSince"), QStringLiteral("helperReachable"),
                                      QStringLiteral("lastError"), QStringLiteral("accessibility"),
                                      QStringLiteral("inputMonitoring")}));
    }

    void transportErrors_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<QStringList>("reported");
        QTest::addColumn<OptionalText>("shown");
        const OptionalText description = QStringLiteral("The helper left the session bus.");
        QTest::newRow("lock") << 0 << QStringList{QStringLiteral("lastError")} << description;
        QTest::newRow("unlock") << 1 << QStringList{QStringLiteral("lastError")} << description;
        QTest::newRow("status") << 2 << QStringList{QStringLiteral("helperReachable"), QStringLiteral("lastError")}
                                << OptionalText(QStringLiteral("Background helper is not reachable: ") + *description);
        QTest::newRow("permissions") << 3 << QStringList() << OptionalText();
        QTest::newRow("settings") << 4 << QStringList() << OptionalText();
    }

    void transportErrors()
    {
        QFETCH(int, request);
        QFETCH(QStringList, reported);
        QFETCH(OptionalText, shown);
        FakeHelperConnection &connection = connected();
        const std::function<void()> requests[] = {
            [this] { client->lock(); },          [this] { client->unlock(); },
            [this] { client->refreshStatus(); }, [this] { client->refreshPermissions(); },
            [this] { client->pushSettings(QByteArray("x")); },
        };
        requests[request]();
        connection.requests.at(0).onError({QStringLiteral("The helper left the session bus.")});
        // The connection is dropped at once, before anything reaches the model.
        QVERIFY(!client->isConnected());
        QCOMPARE(connection.invalidateCalls, 1);
        settle();
        // The error's own report comes first; the invalidation it caused ends
        // in the model hearing the helper is gone.
        const QStringList reachabilityAndText =
            events.filter(QRegularExpression(QStringLiteral("^(helperReachable|lastError)$")));
        QCOMPARE(reachabilityAndText, reported + QStringList{QStringLiteral("helperReachable")});
        QVERIFY(!model->helperReachable());
        QCOMPARE(model->lastError(), shown);
    }

    void lateErrorOfAnOldConnectionLeavesTheNewOne()
    {
        FakeHelperConnection &old = connected();
        client->refreshStatus();
        old.interrupt();
        QVERIFY(!client->isConnected());
        FakeHelperConnection &current = connected();
        QVERIFY(&current != &old);

        old.requests.at(0).onError({QStringLiteral("late")});
        settle();
        QVERIFY(client->isConnected());
        QCOMPARE(current.invalidateCalls, 0);
        QCOMPARE(model->lastError(), OptionalText(QStringLiteral("Background helper is not reachable: late")));
    }

    void aLostConnectionIsNeverReused_data()
    {
        QTest::addColumn<bool>("interrupted");
        QTest::newRow("interrupted") << true;
        QTest::newRow("invalidated") << false;
    }

    void aLostConnectionIsNeverReused()
    {
        QFETCH(bool, interrupted);
        FakeHelperConnection &first = connected();
        model->apply(LockState::Permissions{true, true});
        events.clear();
        if (interrupted)
            first.interrupt();
        else
            first.invalidate();
        settle();
        QVERIFY(!client->isConnected());
        QCOMPARE(events.mid(0, 1), QStringList{QStringLiteral("helperReachable")});
        QCOMPARE(model->helperAccessibilityTrusted(), std::optional<bool>());

        client->lock();
        QVERIFY(first.requests.empty());
        QCOMPARE(transport->connections.size(), size_t(1));

        FakeHelperConnection &second = connected();
        client->lock();
        QCOMPARE(transport->connections.size(), size_t(2));
        QCOMPARE(second.members(), QStringList{QStringLiteral("lock")});
    }

    void helperCallbacksReachTheModel()
    {
        FakeHelperConnection &connection = connected();
        model->apply(LockState::Error{QStringLiteral("an earlier message")});
        events.clear();
        const QDateTime since = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        const std::shared_ptr<PaneveilAppProtocol> exported = connection.exported.lock();
        QVERIFY(exported);

        exported->helperDidChangeLockState(true, since);
        settle();
        QVERIFY(model->isLocked());
        QCOMPARE(model->lockedSince(), OptionalDate(since));
        QVERIFY(model->helperReachable());
        QCOMPARE(model->lastError(), OptionalText());
        QCOMPARE(events, (QStringList{QStringLiteral("isLocked"), QStringLiteral("lockedSince"),
                                      QStringLiteral("helperReachable"), QStringLiteral("lastError")}));

        exported->helperDidEncounterError(QStringLiteral("Input blocking could not be enabled."));
        settle();
        QCOMPARE(model->lastError(), OptionalText(QStringLiteral("Input blocking could not be enabled.")));
    }

    void outcomesFromAnotherThreadReachTheModelOnTheMainThreadInOrder()
    {
        FakeHelperConnection &connection = connected();
        client->refreshStatus();
        client->lock();
        std::thread transportThread([&] {
            connection.requests.at(0).reply({false, QVariant()});
            connection.requests.at(1).reply({false, QStringLiteral("refused")});
            connection.exported.lock()->helperDidEncounterError(QStringLiteral("from the helper"));
        });
        transportThread.join();
        QVERIFY(events.isEmpty());
        settle();
        QCOMPARE(events, (QStringList{
                             QStringLiteral("isLocked"), QStringLiteral("lockedSince"), QStringLiteral("helperReachable"),
                             QStringLiteral("lastError"),                                        // status reply
                             QStringLiteral("helperReachable"), QStringLiteral("lastError"),     // lock refused
                             QStringLiteral("lastError"),                                        // helper's error
                         }));
        QCOMPARE(model->lastError(), OptionalText(QStringLiteral("from the helper")));
    }

    void aDestroyedModelHearsNothingAndNothingFails()
    {
        FakeHelperConnection &connection = connected();
        client->lock();
        client->refreshStatus();
        model.reset();

        connection.requests.at(0).reply({false, QVariant()});
        connection.requests.at(1).onError({QStringLiteral("gone")});
        connection.exported.lock()->helperDidChangeLockState(true, std::nullopt);
        connection.exported.lock()->helperDidEncounterError(QStringLiteral("x"));
        settle();
        // The client itself still works: the failed request dropped its connection.
        QVERIFY(!client->isConnected());
        QCOMPARE(events, QStringList());
        // A refused lock asks for the status only through a model.
        QCOMPARE(connection.count(QStringLiteral("status")), 1);
    }
};

QTEST_GUILESS_MAIN(TestXPCClient)
#include "tst_xpcclient.moc"
