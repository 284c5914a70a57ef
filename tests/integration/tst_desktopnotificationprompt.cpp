// The permission prompt as a desktop notification, against a fake
// notification daemon on a private session bus.

#include "DesktopNotificationPrompt.h"
#include "EventTapManager.h"
#include "FakeNotifications.h"
#include "TestSession.h"

#include <QTest>

namespace {

using Permission = PermissionPromptInterface::Permission;

// Trust answers steered by the test; the grab itself always fails.
struct UntrustedGrab final : InputGrabInterface {
    bool accessibility = false;
    bool inputMonitoring = false;
    bool take() override { return false; }
    void retake() override {}
    void release() override {}
    bool isHeld() const override { return false; }
    bool sessionIsWayland() const override { return false; }
    bool accessibilityTrusted() override { return accessibility; }
    bool inputMonitoringTrusted() override { return inputMonitoring; }
};

} // namespace

class TestDesktopNotificationPrompt : public QObject {
    Q_OBJECT

    std::unique_ptr<TestSession> session;
    QDBusConnection daemonBus{QString()};
    QDBusConnection helperBus{QString()};
    std::unique_ptr<FakeNotifications> daemon;

private Q_SLOTS:
    void init()
    {
        session = TestSession::busOnly();
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        daemonBus = session->connect(QStringLiteral("notifications"));
        helperBus = session->connect(QStringLiteral("helper"));
        daemon = std::make_unique<FakeNotifications>();
        QVERIFY(daemon->serve(daemonBus));
    }

    void cleanup()
    {
        daemon.reset();
        QDBusConnection::disconnectFromBus(daemonBus.name());
        QDBusConnection::disconnectFromBus(helperBus.name());
        session.reset();
    }

    void notificationNamesTheMissingCondition_data()
    {
        QTest::addColumn<Permission>("permission");
        QTest::addColumn<QString>("named");
        QTest::newRow("Accessibility") << Permission::Accessibility << QStringLiteral("untrusted");
        QTest::newRow("Input Monitoring") << Permission::InputMonitoring << QStringLiteral("XInput 2");
    }

    void notificationNamesTheMissingCondition()
    {
        QFETCH(Permission, permission);
        QFETCH(QString, named);
        DesktopNotificationPrompt prompt(helperBus);
        prompt.request(permission);
        QTRY_COMPARE(daemon->received.size(), 1);
        const auto &notification = daemon->received.front();
        QCOMPARE(notification.appName, QStringLiteral("Paneveil"));
        QVERIFY(notification.body.contains(named));
        QCOMPARE(notification.summary, DesktopNotificationPrompt::summary(permission));
        QCOMPARE(notification.expireTimeout, -1);
    }

    void eachPermissionIsAskedOncePerRun()
    {
        auto grab = std::make_shared<UntrustedGrab>();
        EventTapManager manager(grab, std::make_shared<DesktopNotificationPrompt>(helperBus));
        QVERIFY(!manager.start());
        QVERIFY(!manager.start());
        grab->accessibility = true;
        QVERIFY(!manager.start());
        // Give a stray third notification the time to arrive.
        QTRY_COMPARE(daemon->received.size(), 2);
        QTest::qWait(100);
        QCOMPARE(daemon->received.size(), 2);
        QCOMPARE(daemon->received.at(0).summary, DesktopNotificationPrompt::summary(Permission::Accessibility));
        QCOMPARE(daemon->received.at(1).summary, DesktopNotificationPrompt::summary(Permission::InputMonitoring));
    }

    void noDaemonIsNoFailure()
    {
        daemon.reset();
        QDBusConnection::disconnectFromBus(daemonBus.name());
        auto grab = std::make_shared<UntrustedGrab>();
        EventTapManager manager(grab, std::make_shared<DesktopNotificationPrompt>(helperBus));
        QVERIFY(!manager.start());
        QCOMPARE(manager.lastStartFailureMessage().value_or(QString()),
                 QString::fromUtf8(EventTapManager::accessibilityMessage));
        QTest::qWait(100);
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotificationPrompt)
#include "tst_desktopnotificationprompt.moc"
