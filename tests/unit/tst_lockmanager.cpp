#include "FakeLockComponents.h"
#include "LockManager.h"
#include "SettingsPayload.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>

namespace {

struct ReplyRecorder {
    int calls = 0;
    bool success = false;
    OptionalText message;
    PaneveilHelperProtocol::ResultReply callback()
    {
        return [this](bool ok, OptionalText text) {
            ++calls;
            success = ok;
            message = std::move(text);
        };
    }
};

QByteArray payload(double alpha, bool preventDisplaySleep, bool playSounds)
{
    SettingsPayloadValues values;
    values.overlayAlpha = alpha;
    values.preventDisplaySleep = preventDisplaySleep;
    values.playSounds = playSounds;
    return encodeSettingsPayload(values);
}

} // namespace

class TestLockManager : public QObject {
    Q_OBJECT

private:
    std::optional<FakeLockComponents> fakes;
    std::unique_ptr<LockManager> manager;
    std::shared_ptr<RecordingAppConnection> app;

    // Lets main-thread work run, then waits until everything already queued
    // on the connection queue has been sent.
    void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QSemaphore done;
        manager->queue().async([&done] { done.release(); });
        QVERIFY(done.tryAcquire(1, 5000));
    }

    void lock(ReplyRecorder &reply)
    {
        manager->lockWithReply(reply.callback());
        QTRY_COMPARE(reply.calls, 1);
        settle();
    }

    void applySettings(const QByteArray &bytes, bool expectAccepted = true)
    {
        int calls = 0;
        bool accepted = !expectAccepted;
        manager->updateSettings(bytes, [&](bool ok) { ++calls; accepted = ok; });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(accepted, expectAccepted);
    }

    void unlockWithAuthPending(ReplyRecorder &reply)
    {
        manager->unlockWithAuth(true, reply.callback());
        QTRY_COMPARE(int(fakes->auth->pending.size()), 1);
    }

private Q_SLOTS:
    void init()
    {
        fakes.emplace();
        manager = std::make_unique<LockManager>(fakes->release());
        app = std::make_shared<RecordingAppConnection>();
        manager->attach(app);
    }

    void cleanup()
    {
        manager.reset();
        app.reset();
    }

    void lockShowsOverlayTakesAssertionAndBroadcasts()
    {
        ReplyRecorder reply;
        const QDateTime before = QDateTime::currentDateTimeUtc();
        lock(reply);

        QVERIFY(reply.success);
        QVERIFY(!reply.message);
        QVERIFY(manager->isLocked());
        QVERIFY(manager->lockedSince());
        QVERIFY(*manager->lockedSince() >= before);
        QVERIFY(fakes->overlay->shown);
        QCOMPARE(fakes->overlay->alpha(), 0.05);
        QCOMPARE(fakes->overlay->lastThread, QThread::currentThread());
        QVERIFY(fakes->power->held);
        QVERIFY(fakes->sounds->played.isEmpty()); // sounds are off until settings say otherwise

        const auto events = app->events();
        QCOMPARE(int(events.size()), 1);
        QCOMPARE(events[0].kind, RecordingAppConnection::Event::State);
        QVERIFY(events[0].isLocked);
        QCOMPARE(events[0].since, manager->lockedSince());
        QCOMPARE(events[0].threadName, QStringLiteral("com.zelquor.Paneveil.helper.lock"));
    }

    void lockTwiceChangesNothingTheSecondTime()
    {
        ReplyRecorder first, second;
        applySettings(payload(0.1, true, true));
        lock(first);
        const OptionalDate since = manager->lockedSince();
        lock(second);

        QVERIFY(second.success);
        QVERIFY(!second.message);
        QCOMPARE(fakes->eventTap->startCalls, 1);
        QCOMPARE(fakes->overlay->showCalls, 1);
        QCOMPARE(fakes->power->preventCalls, 1);
        QCOMPARE(fakes->sounds->played, QStringList{QStringLiteral("Tink")});
        QCOMPARE(app->count(), 1);
        QCOMPARE(manager->lockedSince(), since);
    }

    void tapFailureIsBroadcastAndReplied_data()
    {
        QTest::addColumn<OptionalText>("tapMessage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no message") << OptionalText{} << QStringLiteral("Input blocking could not be enabled.");
        QTest::newRow("tap's own message") << OptionalText{QStringLiteral("Grant Accessibility to the helper.")}
                                           << QStringLiteral("Grant Accessibility to the helper.");
    }

    void tapFailureIsBroadcastAndReplied()
    {
        QFETCH(OptionalText, tapMessage);
        QFETCH(QString, expected);
        auto second = std::make_shared<RecordingAppConnection>();
        manager->attach(second);
        fakes->eventTap->startResult = false;
        fakes->eventTap->failureMessage = tapMessage;

        ReplyRecorder reply;
        lock(reply);

        QVERIFY(!reply.success);
        QCOMPARE(reply.message, OptionalText{expected});
        QVERIFY(!manager->isLocked());
        QVERIFY(!manager->lockedSince());
        QCOMPARE(fakes->overlay->showCalls, 0);
        QCOMPARE(fakes->power->preventCalls, 0);
        for (const auto &connection : {app, second}) {
            const auto events = connection->events();
            QCOMPARE(int(events.size()), 1);
            QCOMPARE(events[0].kind, RecordingAppConnection::Event::Error);
            QCOMPARE(events[0].message, expected);
        }
    }

    void lockAfterTapRecoversProceeds()
    {
        fakes->eventTap->startResult = false;
        ReplyRecorder failed, succeeded;
        lock(failed);
        fakes->eventTap->startResult = true;
        lock(succeeded);
        QVERIFY(!failed.success);
        QVERIFY(succeeded.success);
        QVERIFY(manager->isLocked());
    }

    void unlockWhileUnlockedRepliesSuccessWithoutPrompting_data()
    {
        QTest::addColumn<bool>("withAuth");
        QTest::newRow("with auth") << true;
        QTest::newRow("without auth") << false;
    }

    void unlockWhileUnlockedRepliesSuccessWithoutPrompting()
    {
        QFETCH(bool, withAuth);
        ReplyRecorder reply;
        manager->unlockWithAuth(withAuth, reply.callback());
        QTRY_COMPARE(reply.calls, 1);
        settle();
        QVERIFY(reply.success);
        QVERIFY(!reply.message);
        QVERIFY(fakes->auth->pending.empty());
        QCOMPARE(fakes->eventTap->stopCalls, 0);
        QCOMPARE(app->count(), 0);
    }

    void unlockWithoutAuthUnlocksAtOnce()
    {
        ReplyRecorder locked, unlocked;
        applySettings(payload(0.05, true, true));
        lock(locked);
        manager->unlockWithAuth(false, unlocked.callback());
        QTRY_COMPARE(unlocked.calls, 1);
        settle();

        QVERIFY(unlocked.success);
        QVERIFY(!unlocked.message);
        QVERIFY(fakes->auth->pending.empty());
        QVERIFY(!manager->isLocked());
        QVERIFY(!manager->lockedSince());
        QCOMPARE(fakes->eventTap->stopCalls, 1);
        QVERIFY(!fakes->overlay->shown);
        QVERIFY(!fakes->power->held);
        QCOMPARE(fakes->sounds->played, (QStringList{QStringLiteral("Tink"), QStringLiteral("Glass")}));
        const auto events = app->events();
        QCOMPARE(int(events.size()), 2);
        QVERIFY(!events[1].isLocked);
        QVERIFY(!events[1].since);
    }

    void authenticatedUnlock_data()
    {
        QTest::addColumn<bool>("authSucceeds");
        QTest::addColumn<OptionalText>("authMessage");
        QTest::newRow("success") << true << OptionalText{};
        QTest::newRow("cancelled") << false << OptionalText{QStringLiteral("Canceled by user.")};
        QTest::newRow("unavailable") << false << OptionalText{QStringLiteral("Auth unavailable")};
    }

    void authenticatedUnlock()
    {
        QFETCH(bool, authSucceeds);
        QFETCH(OptionalText, authMessage);
        ReplyRecorder locked, reply;
        lock(locked);
        unlockWithAuthPending(reply);

        // Still locked, and other requests are served while authentication waits.
        QVERIFY(manager->isLocked());
        int statusCalls = 0;
        manager->getStatusWithReply([&](bool isLocked, OptionalDate) { ++statusCalls; QVERIFY(isLocked); });
        QTRY_COMPARE(statusCalls, 1);
        QCOMPARE(reply.calls, 0);

        // The authenticator answers on a thread of its own.
        QThread *authThread = QThread::create([&] { fakes->auth->pending[0](authSucceeds, authMessage); });
        authThread->start();
        authThread->wait();
        delete authThread;
        QTRY_COMPARE(reply.calls, 1);
        settle();

        QCOMPARE(reply.success, authSucceeds);
        QCOMPARE(reply.message, authMessage);
        QCOMPARE(manager->isLocked(), !authSucceeds);
        QCOMPARE(fakes->overlay->shown, !authSucceeds);
        QCOMPARE(fakes->overlay->lastThread, QThread::currentThread());
        // A failure reaches only the requester; success is broadcast.
        QCOMPARE(app->count(), authSucceeds ? 2 : 1);
    }

    void overlappingAuthenticatedUnlocks()
    {
        ReplyRecorder locked, first, second, third;
        applySettings(payload(0.05, true, true));
        lock(locked);
        manager->unlockWithAuth(true, first.callback());
        manager->unlockWithAuth(true, second.callback());
        manager->unlockWithAuth(true, third.callback());
        QTRY_COMPARE(int(fakes->auth->pending.size()), 3);

        fakes->auth->pending[1](true, std::nullopt);
        QTRY_COMPARE(second.calls, 1);
        QVERIFY(!manager->isLocked());

        // A later success repeats the finishing step; a later failure still replies failure.
        fakes->auth->pending[0](true, std::nullopt);
        fakes->auth->pending[2](false, QStringLiteral("Auth failed"));
        QTRY_COMPARE(first.calls, 1);
        QTRY_COMPARE(third.calls, 1);
        settle();

        QVERIFY(first.success);
        QVERIFY(!third.success);
        QCOMPARE(third.message, OptionalText{QStringLiteral("Auth failed")});
        QVERIFY(!manager->isLocked());
        QCOMPARE(fakes->sounds->played,
                 (QStringList{QStringLiteral("Tink"), QStringLiteral("Glass"), QStringLiteral("Glass")}));
        const auto events = app->events();
        QCOMPARE(int(events.size()), 3);
        QVERIFY(!events[1].isLocked);
        QVERIFY(!events[2].isLocked);
    }

    void unlockHotkeyAsksForAuthentication()
    {
        QVERIFY(!fakes->eventTap->shouldSwallowEvents());
        ReplyRecorder locked;
        lock(locked);
        QVERIFY(fakes->eventTap->shouldSwallowEvents());

        fakes->eventTap->onUnlockHotkey();
        QCOMPARE(int(fakes->auth->pending.size()), 1);
        fakes->auth->pending[0](false, QStringLiteral("Canceled by user."));
        QTest::qWait(0);
        settle();
        QVERIFY(manager->isLocked());
        QCOMPARE(app->count(), 1); // only the lock broadcast

        fakes->eventTap->onUnlockHotkey();
        QCOMPARE(int(fakes->auth->pending.size()), 2);
        fakes->auth->pending[1](true, std::nullopt);
        QTRY_VERIFY(!manager->isLocked());
        QVERIFY(!fakes->eventTap->shouldSwallowEvents());
    }

    void heldUnlockHotkeyAuthenticatesOnce()
    {
        ReplyRecorder locked;
        applySettings(payload(0.05, true, true));
        lock(locked);
        for (int repeat = 0; repeat < 5; ++repeat)
            fakes->eventTap->onUnlockHotkey();
        QCOMPARE(int(fakes->auth->pending.size()), 1);
        fakes->auth->pending[0](true, std::nullopt);
        QTRY_VERIFY(!manager->isLocked());
        settle();
        QCOMPARE(fakes->sounds->played, (QStringList{QStringLiteral("Tink"), QStringLiteral("Glass")}));
        QCOMPARE(app->count(), 2);

        // The next spell asks again.
        lock(locked);
        fakes->eventTap->onUnlockHotkey();
        QCOMPARE(int(fakes->auth->pending.size()), 2);
    }

    void displayChangeRefitsOverlay()
    {
        fakes->displays->onChange();
        fakes->displays->onChange();
        QCOMPARE(fakes->overlay->resizeCalls, 2);
    }

    void settingsUpdateRetintsAtOnce()
    {
        ReplyRecorder locked, relocked, unlocked;
        lock(locked);
        applySettings(payload(0.25, true, false));
        QCOMPARE(fakes->overlay->alpha(), 0.25);
        QVERIFY(fakes->overlay->shown);

        manager->unlockWithAuth(false, unlocked.callback());
        QTRY_COMPARE(unlocked.calls, 1);
        fakes->overlay->alphaAssignments.clear();
        lock(relocked);
        QCOMPARE(fakes->overlay->alphaAssignments, std::vector<double>{0.25});
    }

    void settingsUpdateTogglesAssertionOnlyWhileLocked()
    {
        applySettings(payload(0.05, true, false));
        QCOMPARE(fakes->power->preventCalls, 0); // unlocked: nothing taken
        applySettings(payload(0.05, false, false));
        QCOMPARE(fakes->power->allowCalls, 0);

        ReplyRecorder locked;
        lock(locked);
        QVERIFY(!fakes->power->held); // off at locking time

        applySettings(payload(0.05, true, false));
        QVERIFY(fakes->power->held);
        applySettings(payload(0.05, false, false));
        QVERIFY(!fakes->power->held);
        QVERIFY(manager->isLocked());
    }

    void rejectedSettingsKeepThePreviousOnes()
    {
        applySettings(payload(0.2, false, true));
        applySettings(QByteArray("not a property list"), false);
        applySettings(QByteArray(), false);
        QCOMPARE(manager->settings().overlayAlpha, 0.2);
        QVERIFY(!manager->settings().preventDisplaySleep);
        QVERIFY(manager->settings().playSounds);
    }

    void statusVersionAndPermissions()
    {
        int statusCalls = 0;
        bool isLocked = true;
        OptionalDate since = QDateTime::currentDateTimeUtc();
        manager->getStatusWithReply([&](bool locked, OptionalDate date) { ++statusCalls; isLocked = locked; since = date; });
        QTRY_COMPARE(statusCalls, 1);
        QVERIFY(!isLocked);
        QVERIFY(!since);

        ReplyRecorder locked;
        lock(locked);
        manager->getStatusWithReply([&](bool locked, OptionalDate date) { ++statusCalls; isLocked = locked; since = date; });
        QTRY_COMPARE(statusCalls, 2);
        QVERIFY(isLocked);
        QCOMPARE(since, manager->lockedSince());

        QString version;
        manager->helperVersionWithReply([&](QString text) { version = text; });
        QCOMPARE(version, QStringLiteral("0.1.0-dev")); // answered at once, without the main queue

        fakes->permissions->accessibility = true;
        int permissionCalls = 0;
        bool accessibility = false, inputMonitoring = true;
        manager->getPermissionStatusWithReply([&](bool a, bool i) { ++permissionCalls; accessibility = a; inputMonitoring = i; });
        QTRY_COMPARE(permissionCalls, 1);
        QVERIFY(accessibility);
        QVERIFY(!inputMonitoring);
    }

    void detachRemovesOnlyThatConnection()
    {
        auto second = std::make_shared<RecordingAppConnection>();
        manager->attach(second);
        ReplyRecorder first, unlocked, again;
        lock(first);
        manager->detach(app);
        manager->detach(std::make_shared<RecordingAppConnection>()); // never attached: no effect
        manager->unlockWithAuth(false, unlocked.callback());
        QTRY_COMPARE(unlocked.calls, 1);
        settle();

        QCOMPARE(app->count(), 1);
        QCOMPARE(second->count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLockManager)
#include "tst_lockmanager.moc"
