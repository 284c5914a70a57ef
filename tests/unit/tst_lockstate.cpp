// The lock state model on a fake transport and a registration service with a
// fake login-item service: the reachability loop, the one repair per
// unreachable spell, the settings debounce, and the user's requests.

#include "AppSettings.h"
#include "FakeHelperTransport.h"
#include "HelperService.h"
#include "FakeRegistration.h"
#include "LockState.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString unreachable = QStringLiteral("Background helper is not reachable: no reply");

} // namespace

class TestLockState : public QObject {
    Q_OBJECT

private:
    QTemporaryDir configHome;
    int loginItemStatus = LoginItemServiceInterface::notRegistered;
    // Every repair unregisters once; nothing else here does.
    int repairs = 0;
    std::shared_ptr<FakeHelperTransport> transport;
    std::unique_ptr<HelperService> helperService;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<LockState> model;

    // The registration service reads the fake's status again.
    void registrationBecomes(int status)
    {
        loginItemStatus = status;
        helperService->ensureRegistered();
    }

    void attachEnabled()
    {
        model->attach(helperService.get(), settings.get());
        registrationBecomes(LoginItemServiceInterface::enabled);
    }

    static QStringList round() { return {QStringLiteral("status"), QStringLiteral("permissions"), QStringLiteral("settings")}; }

    int requestCount(const QString &member) const
    {
        int count = 0;
        for (const auto &connection : transport->connections)
            count += connection->count(member);
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(configHome.isValid());
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    }

    void init()
    {
        loginItemStatus = LoginItemServiceInterface::notRegistered;
        repairs = 0;
        helperService = fakeRegistration(&loginItemStatus, &repairs);
        transport = std::make_shared<FakeHelperTransport>();
        std::unique_ptr<QSettings> store = AppSettings::standardStore();
        store->clear();
        store->sync();
        settings = std::make_unique<AppSettings>();
        model = std::make_unique<LockState>(transport);
    }

    void cleanup()
    {
        model.reset();
        settings.reset();
        helperService.reset();
        transport.reset();
    }

    void attachingWhileNotEnabledStartsNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("not registered") << int(LoginItemServiceInterface::notRegistered);
        QTest::newRow("requires approval") << int(LoginItemServiceInterface::requiresApproval);
        QTest::newRow("not found") << int(LoginItemServiceInterface::notFound);
    }

    void attachingWhileNotEnabledStartsNothing()
    {
        QFETCH(int, status);
        registrationBecomes(status);
        QSignalSpy reachable(model.get(), &LockState::helperReachableChanged);
        QSignalSpy lastError(model.get(), &LockState::lastErrorChanged);
        model->attach(helperService.get(), settings.get());
        QVERIFY(!model->helperReachable());
        QCOMPARE(model->lastError(), OptionalText());
        QVERIFY(!model->isCheckingReachability());
        QCOMPARE(model->reachabilityFailureCount(), 0);
        QVERIFY(!model->didAttemptRegistrationRepair());
        QVERIFY(transport->connections.empty());
        // The current state was delivered: both fields were assigned.
        QCOMPARE(reachable.count(), 1);
        QCOMPARE(lastError.count(), 1);
    }

    void enabledConnectsAndAsksAtOnceThenEveryTwoSeconds()
    {
        model->attach(helperService.get(), settings.get());
        QVERIFY(transport->connections.empty());
        registrationBecomes(LoginItemServiceInterface::enabled);
        QCOMPARE(transport->connections.size(), size_t(1));
        FakeHelperConnection &connection = *transport->latest();
        QCOMPARE(connection.members(), round());
        QCOMPARE(connection.requests.at(2).arguments, QVariantList{settings->encoded()});
        QVERIFY(model->isCheckingReachability());

        // Same state again (every poll assigns it): delivered once, nothing new.
        registrationBecomes(LoginItemServiceInterface::enabled);
        QCOMPARE(connection.requests.size(), size_t(3));

        // Unanswered: the timer asks again on the same connection.
        QTRY_COMPARE_WITH_TIMEOUT(connection.requests.size(), size_t(6), 10000);
        QCOMPARE(connection.members(), round() + round());
        QCOMPARE(transport->connections.size(), size_t(1));

        // An answer stops the retries.
        connection.requests.at(3).reply({false, QVariant()});
        QTRY_VERIFY(model->helperReachable());
        QVERIFY(!model->isCheckingReachability());
    }

    void noTimerRunsOnceTheHelperAnswers()
    {
        attachEnabled();
        FakeHelperConnection &connection = *transport->latest();
        connection.requests.at(0).reply({false, QVariant()});
        QTRY_VERIFY(model->helperReachable());
        QVERIFY(!model->isCheckingReachability());
        const size_t asked = connection.requests.size();
        // Two and a half retry intervals of quiet: no request goes out.
        QTest::qWait(int(LockState::reachabilityRetryIntervalMs * 2.5));
        QCOMPARE(connection.requests.size(), asked);
    }

    void aLostConnectionRestartsTheChecksAtOnce()
    {
        attachEnabled();
        transport->latest()->requests.at(0).reply({false, QVariant()});
        QTRY_VERIFY(model->helperReachable());
        transport->latest()->interrupt();
        QTRY_VERIFY(!model->helperReachable());
        QVERIFY(model->isCheckingReachability());
        // Reconnected and asked again, with the settings, without waiting for a tick.
        QCOMPARE(transport->connections.size(), size_t(2));
        QCOMPARE(transport->latest()->members(), round());
    }

    void failedStatusRequestsRepairOncePerSpell_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("repaired");
        QTest::newRow("one counts") << 1 << 1 << 0;
        QTest::newRow("two repair") << 2 << 2 << 1;
        QTest::newRow("three do not repair again") << 3 << 2 << 1;
        QTest::newRow("four do not repair again") << 4 << 2 << 1;
    }

    void failedStatusRequestsRepairOncePerSpell()
    {
        QFETCH(int, failures);
        QFETCH(int, count);
        QFETCH(int, repaired);
        attachEnabled();
        for (int i = 0; i < failures; ++i)
            model->apply(LockState::Error{unreachable});
        QCOMPARE(model->reachabilityFailureCount(), count);
        QCOMPARE(repairs, repaired);
        QCOMPARE(model->didAttemptRegistrationRepair(), repaired > 0);
    }

    void theStatusFailureOfTheClientCounts()
    {
        attachEnabled();
        transport->latest()->requests.at(0).onError({QStringLiteral("no reply")});
        QTRY_COMPARE(model->reachabilityFailureCount(), 1);
        QCOMPARE(model->lastError(), OptionalText(unreachable));
        // The next retry opens a new connection; its failure repairs.
        QTRY_COMPARE_WITH_TIMEOUT(transport->connections.size(), size_t(2), 10000);
        transport->latest()->requests.at(0).onError({QStringLiteral("no reply")});
        QTRY_COMPARE(repairs, 1);
        QVERIFY(model->didAttemptRegistrationRepair());
    }

    void onlyThePhraseCountsInAnyCase_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("count");
        QTest::newRow("as the client writes it") << unreachable << 1;
        QTest::newRow("in capitals") << QStringLiteral("BACKGROUND HELPER IS NOT REACHABLE: EOF") << 1;
        QTest::newRow("in mixed case") << QStringLiteral("The Helper Is Not Reachable") << 1;
        QTest::newRow("another message") << QStringLiteral("Input blocking could not be enabled.") << 0;
        QTest::newRow("the phrase cut short") << QStringLiteral("helper is not") << 0;
    }

    void onlyThePhraseCountsInAnyCase()
    {
        QFETCH(QString, message);
        QFETCH(int, count);
        attachEnabled();
        model->apply(LockState::Error{message});
        QCOMPARE(model->reachabilityFailureCount(), count);
        QCOMPARE(model->lastError(), OptionalText(message));
    }

    void failuresWhileNotEnabledNeverCount()
    {
        registrationBecomes(LoginItemServiceInterface::requiresApproval);
        model->attach(helperService.get(), settings.get());
        for (int i = 0; i < 3; ++i)
            model->apply(LockState::Error{unreachable});
        QCOMPARE(model->reachabilityFailureCount(), 0);
        QCOMPARE(repairs, 0);
    }

    void anAnswerEndsTheSpellSoALaterOneRepairsAgain()
    {
        attachEnabled();
        model->apply(LockState::Error{unreachable});
        model->apply(LockState::Error{unreachable});
        QCOMPARE(repairs, 1);
        model->apply(LockState::HelperReachable{true});
        QCOMPARE(model->reachabilityFailureCount(), 0);
        QVERIFY(!model->didAttemptRegistrationRepair());
        QVERIFY(!model->isCheckingReachability());

        model->apply(LockState::HelperReachable{false});
        QVERIFY(model->isCheckingReachability());
        model->apply(LockState::Error{unreachable});
        model->apply(LockState::Error{unreachable});
        QCOMPARE(repairs, 2);
    }

    void leavingEnabledResetsEverything()
    {
        attachEnabled();
        model->apply(LockState::Permissions{true, true});
        model->apply(LockState::Error{unreachable});
        model->apply(LockState::Error{unreachable});
        QVERIFY(model->didAttemptRegistrationRepair());
        QVERIFY(model->isCheckingReachability());

        registrationBecomes(LoginItemServiceInterface::requiresApproval);
        QVERIFY(!model->isCheckingReachability());
        QVERIFY(!model->helperReachable());
        QCOMPARE(model->lastError(), OptionalText());
        QCOMPARE(model->reachabilityFailureCount(), 0);
        QVERIFY(!model->didAttemptRegistrationRepair());
        QCOMPARE(model->helperAccessibilityTrusted(), std::optional<bool>());

        // Back to enabled: a new spell, checked at once.
        const int before = requestCount(QStringLiteral("status"));
        registrationBecomes(LoginItemServiceInterface::enabled);
        QVERIFY(model->isCheckingReachability());
        QCOMPARE(requestCount(QStringLiteral("status")), before + 1);
    }

    void unreachableClearsBothPermissionFlags()
    {
        model->apply(LockState::Permissions{true, false});
        QSignalSpy accessibility(model.get(), &LockState::helperAccessibilityTrustedChanged);
        model->apply(LockState::HelperReachable{false});
        QCOMPARE(model->helperAccessibilityTrusted(), std::optional<bool>());
        QCOMPARE(model->helperInputMonitoringTrusted(), std::optional<bool>());
        QCOMPARE(accessibility.count(), 1);
    }

    void everyAssignmentNotifiesAlsoWhenUnchanged()
    {
        QSignalSpy locked(model.get(), &LockState::isLockedChanged);
        QSignalSpy since(model.get(), &LockState::lockedSinceChanged);
        QSignalSpy reachable(model.get(), &LockState::helperReachableChanged);
        model->apply(LockState::LockStatus{false, std::nullopt});
        model->apply(LockState::LockStatus{false, std::nullopt});
        model->apply(LockState::HelperReachable{false});
        QCOMPARE(locked.count(), 2);
        QCOMPARE(since.count(), 2);
        QCOMPARE(reachable.count(), 1);
    }

    void toggleFollowsTheLockState_data()
    {
        QTest::addColumn<bool>("isLocked");
        QTest::addColumn<QString>("sent");
        QTest::newRow("locked: unlock with authentication") << true << QStringLiteral("unlock");
        QTest::newRow("unlocked: lock") << false << QStringLiteral("lock");
    }

    void toggleFollowsTheLockState()
    {
        QFETCH(bool, isLocked);
        QFETCH(QString, sent);
        attachEnabled();
        model->apply(LockState::LockStatus{isLocked, std::nullopt});
        model->toggle();
        FakeHelperConnection &connection = *transport->latest();
        QCOMPARE(connection.members().last(), sent);
        if (sent == QLatin1String("unlock"))
            QCOMPARE(connection.requests.back().arguments, QVariantList{true});
    }

    void aBurstOfSettingsChangesPushesOnce()
    {
        attachEnabled();
        FakeHelperConnection &connection = *transport->latest();
        connection.requests.at(0).reply({false, QVariant()});
        QTRY_VERIFY(model->helperReachable());
        const int before = connection.count(QStringLiteral("settings"));

        settings->setOverlayAlpha(0.1);
        settings->setOverlayAlpha(0.15);
        settings->setPlaySounds(true);
        settings->setOverlayAlpha(0.2);
        settings->setAutoLockIdleSeconds(60);
        QTRY_COMPARE(connection.count(QStringLiteral("settings")), before + 1);
        QCOMPARE(connection.last(QStringLiteral("settings"))->arguments, QVariantList{settings->encoded()});
        QTest::qWait(LockState::settingsDebounceMs * 4);
        QCOMPARE(connection.count(QStringLiteral("settings")), before + 1);
    }

    void aPushWhileDisconnectedIsDroppedAndTheNextCheckSendsTheSettings()
    {
        model->attach(helperService.get(), settings.get());
        settings->setOverlayAlpha(0.2);
        QTest::qWait(LockState::settingsDebounceMs * 3);
        QVERIFY(transport->connections.empty());

        registrationBecomes(LoginItemServiceInterface::enabled);
        FakeHelperConnection &connection = *transport->latest();
        QCOMPARE(connection.count(QStringLiteral("settings")), 1);
        QCOMPARE(connection.last(QStringLiteral("settings"))->arguments, QVariantList{settings->encoded()});
    }
};

QTEST_GUILESS_MAIN(TestLockState)
#include "tst_lockstate.moc"
