// The input blocker on a real X server (Xvfb), driven by XTest: outside
// clients get no input while it holds the grabs and all of it afterwards,
// the unlock hotkey is recognised by position and exact modifiers, refused
// and lost grabs are retried, and a failed lock leaves nothing grabbed.

#include "EventTapManager.h"
#include "FakeLockComponents.h"
#include "InputPermissions.h"
#include "InputTestClients.h"
#include "LockManager.h"
#include "TestSession.h"
#include "X11InputGrab.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdio>
#include <map>

namespace {

TestSession *session = nullptr;

struct RecordingPrompt final : PermissionPromptInterface {
    std::vector<Permission> requests;
    void request(Permission permission) override { requests.push_back(permission); }
};

QProcessEnvironment clientEnvironment()
{
    return session->environment();
}

QString probeProgram()
{
    return QStringLiteral(PANEVEIL_INPUT_PROBE);
}

QString holderProgram()
{
    return QStringLiteral(PANEVEIL_GRAB_HOLDER);
}

// The lock manager with the real input blocker and the other components faked.
struct LockUnderTest {
    FakeLockComponents fakes;
    std::shared_ptr<X11InputGrab> grab = std::make_shared<X11InputGrab>();
    std::shared_ptr<RecordingPrompt> prompt = std::make_shared<RecordingPrompt>();
    std::unique_ptr<LockManager> manager;
    std::shared_ptr<RecordingAppConnection> app = std::make_shared<RecordingAppConnection>();

    LockUnderTest()
    {
        LockComponents components = fakes.release();
        components.eventTap = std::make_unique<EventTapManager>(grab, prompt);
        manager = std::make_unique<LockManager>(std::move(components));
        manager->attach(app);
    }
    ~LockUnderTest() { manager->unlockWithAuth(false, [](bool, OptionalText) {}); QTest::qWait(20); }

    // Locks and waits for the reply.
    std::pair<bool, OptionalText> lock()
    {
        std::optional<std::pair<bool, OptionalText>> result;
        manager->lockWithReply([&result](bool success, OptionalText message) { result.emplace(success, message); });
        for (int i = 0; i < 1000 && !result; ++i)
            QTest::qWait(10);
        return result.value_or(std::pair<bool, OptionalText>(false, QStringLiteral("no reply")));
    }
};

} // namespace

class TestX11InputGrab : public QObject {
    Q_OBJECT

    std::unique_ptr<XTestInput> input;

private Q_SLOTS:
    void initTestCase()
    {
        input = std::make_unique<XTestInput>(session->display().toLocal8Bit());
        QVERIFY(input->isValid());
    }

    void init() { QVERIFY(input->nothingGrabbed()); }
    void cleanup() { QTRY_VERIFY(input->nothingGrabbed()); }

    void probeGetsNothingWhileLocked_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("core events") << QStringLiteral("--core") << QStringLiteral("core ");
        QTest::newRow("XInput 2 device events") << QStringLiteral("--xi2") << QStringLiteral("xi2 ");
    }

    void probeGetsNothingWhileLocked()
    {
        QFETCH(QString, mode);
        QFETCH(QString, prefix);
        ClientProcess probe(probeProgram(), {mode}, clientEnvironment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));

        const QStringList kinds = {QStringLiteral("key-press"), QStringLiteral("key-release"),
                                   QStringLiteral("button-press"), QStringLiteral("button-release"),
                                   QStringLiteral("motion")};
        auto expectAll = [&](const QString &what) {
            std::map<QString, int> had;
            for (const QString &kind : kinds)
                had[kind] = probe.count(prefix + kind);
            input->burstOfEach(int(had.size()) + probe.lines().size());
            for (const QString &kind : kinds)
                QVERIFY2(probe.waitForCount(prefix + kind, had[kind] + 1, 3000), qPrintable(what + kind));
        };
        expectAll(QStringLiteral("before the lock: "));

        LockUnderTest lock;
        QCOMPARE(lock.lock().first, true);
        const int before = probe.lines().size();
        for (int i = 1; i <= 5; ++i)
            input->burstOfEach(i);
        // Scrolls and a drag with each button held.
        for (uint8_t button : {1, 2, 3}) {
            input->button(button, true);
            input->moveTo(300 + button, 300);
            input->button(button, false);
        }
        input->sync();
        QTest::qWait(100);
        lock.manager->unlockWithAuth(false, [](bool, OptionalText) {});
        QTRY_VERIFY(!lock.grab->isHeld());
        // Everything sent while locked would have come before this.
        input->key(XKey::u, true);
        input->key(XKey::u, false);
        input->sync();
        QVERIFY(probe.waitForLine(prefix + QStringLiteral("key-release 30")));
        const QStringList whileLocked = probe.lines().mid(before);
        for (const QString &line : whileLocked)
            QVERIFY2(line.contains(QLatin1String(" 30")), qPrintable(QStringLiteral("got while locked: ") + line));

        expectAll(QStringLiteral("after the unlock: "));
    }

    void rawEventsStillArrive()
    {
        // X11 gives raw events to any client that asks, grab or not; this
        // documents that the blocker cannot stop them.
        ClientProcess probe(probeProgram(), {QStringLiteral("--raw")}, clientEnvironment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        LockUnderTest lock;
        QCOMPARE(lock.lock().first, true);
        input->burstOfEach(1);
        QVERIFY(probe.waitForLine(QStringLiteral("xi2 raw-key-press 38")));
        QVERIFY(probe.waitForLine(QStringLiteral("xi2 raw-button-press 1")));
    }

    void unlockHotkey_data()
    {
        QTest::addColumn<QList<int>>("modifiers");
        QTest::addColumn<bool>("capsLock");
        QTest::addColumn<int>("expected");
        const int control = XKey::controlLeft, super = XKey::superLeft;
        QTest::newRow("Control+Super+U") << QList<int>{control, super} << false << 1;
        QTest::newRow("Super+Control+U") << QList<int>{super, control} << false << 1;
        QTest::newRow("with Shift") << QList<int>{control, super, XKey::shiftLeft} << false << 0;
        QTest::newRow("with Alt") << QList<int>{control, XKey::altLeft, super} << false << 0;
        QTest::newRow("with Caps Lock on") << QList<int>{control, super} << true << 1;
        QTest::newRow("Control+U") << QList<int>{control} << false << 0;
        QTest::newRow("Super+U") << QList<int>{super} << false << 0;
    }

    void unlockHotkey()
    {
        QFETCH(QList<int>, modifiers);
        QFETCH(bool, capsLock);
        QFETCH(int, expected);
        X11InputGrab *grab = nullptr;
        auto shared = std::make_shared<X11InputGrab>();
        grab = shared.get();
        EventTapManager manager(shared, std::make_shared<RecordingPrompt>());
        int hotkeys = 0;
        manager.shouldSwallowEvents = [] { return true; };
        manager.onUnlockHotkey = [&hotkeys] { ++hotkeys; };
        QVERIFY(manager.start());
        if (capsLock) {
            input->key(XKey::capsLock, true);
            input->key(XKey::capsLock, false);
        }
        for (int modifier : modifiers)
            input->key(uint8_t(modifier), true);
        input->key(XKey::u, true);
        input->key(XKey::u, false);
        for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
            input->key(uint8_t(*it), false);
        if (capsLock) {
            input->key(XKey::capsLock, true);
            input->key(XKey::capsLock, false);
        }
        input->sync();
        QTest::qWait(150);
        QCOMPARE(hotkeys, expected);
        QVERIFY(grab->isHeld());
        manager.stop();
    }

    void everyAutoRepeatOfTheHotkeyCounts()
    {
        auto grab = std::make_shared<X11InputGrab>();
        EventTapManager manager(grab, std::make_shared<RecordingPrompt>());
        int hotkeys = 0;
        manager.shouldSwallowEvents = [] { return true; };
        manager.onUnlockHotkey = [&hotkeys] { ++hotkeys; };
        QVERIFY(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("-display"), session->display(),
                                                             QStringLiteral("r"), QStringLiteral("rate"),
                                                             QStringLiteral("100"), QStringLiteral("50")}) == 0);
        QVERIFY(manager.start());
        input->key(XKey::controlLeft, true);
        input->key(XKey::superLeft, true);
        input->key(XKey::u, true);
        input->sync();
        QTest::qWait(600);
        input->key(XKey::u, false);
        input->key(XKey::superLeft, false);
        input->key(XKey::controlLeft, false);
        input->sync();
        QTest::qWait(100);
        // 100 ms delay, then 50 repeats a second for 500 ms: far more than the press alone.
        QVERIFY2(hotkeys >= 5, qPrintable(QString::number(hotkeys)));
        manager.stop();
    }

    void hotkeyPassesThroughWhileUnlocked()
    {
        ClientProcess probe(probeProgram(), {QStringLiteral("--core")}, clientEnvironment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        LockUnderTest lock;
        int triggered = 0;
        lock.fakes.auth->pending.clear();
        input->chord({XKey::controlLeft, XKey::superLeft}, XKey::u);
        input->sync();
        QVERIFY(probe.waitForLine(QStringLiteral("core key-press 30")));
        QTest::qWait(50);
        triggered = int(lock.fakes.auth->pending.size());
        QCOMPARE(triggered, 0);
        // And while locked it starts the authenticated unlock instead.
        QCOMPARE(lock.lock().first, true);
        input->chord({XKey::controlLeft, XKey::superLeft}, XKey::u);
        input->sync();
        QTRY_COMPARE(int(lock.fakes.auth->pending.size()), 1);
    }

    void startTwiceHoldsOneGrab()
    {
        auto grab = std::make_shared<X11InputGrab>();
        EventTapManager manager(grab, std::make_shared<RecordingPrompt>());
        QVERIFY(manager.start());
        const auto slaves = grab->grabbedSlaveDevices();
        QVERIFY(!slaves.empty());
        QVERIFY(manager.start());
        QCOMPARE(grab->grabbedSlaveDevices(), slaves);
        QVERIFY(!input->nothingGrabbed());
        manager.stop();
        QVERIFY(input->nothingGrabbed());
        QVERIFY(manager.start());
        QVERIFY(!input->nothingGrabbed());
        manager.stop();
    }

    void grabHeldBeyondTheRetryFailsCleanly()
    {
        ClientProcess holder(holderProgram(), {QStringLiteral("4000")}, clientEnvironment());
        QVERIFY(holder.waitForLine(QStringLiteral("held")));
        LockUnderTest lock;
        QElapsedTimer elapsed;
        elapsed.start();
        const auto [success, message] = lock.lock();
        QVERIFY(!success);
        QVERIFY(elapsed.elapsed() >= 1000);
        QCOMPARE(message.value_or(QString()), QString::fromUtf8(EventTapManager::tapCreationMessage));
        QTRY_COMPARE(lock.app->count(), 1);
        QCOMPARE(lock.app->events().front().kind, RecordingAppConnection::Event::Error);
        QCOMPARE(lock.app->events().front().message, *message);
        QVERIFY(!lock.manager->isLocked());
        QCOMPARE(lock.fakes.overlay->showCalls, 0);
        // The pointer and every slave device were let go; the keyboard is the holder's.
        QVERIFY(!lock.grab->isHeld());
        QVERIFY(input->nothingGrabbed(false));
    }

    void grabLetGoWithinTheRetryIsWaitedFor()
    {
        ClientProcess holder(holderProgram(), {QStringLiteral("400")}, clientEnvironment());
        QVERIFY(holder.waitForLine(QStringLiteral("held")));
        LockUnderTest lock;
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(lock.lock().first, true);
        QVERIFY(elapsed.elapsed() >= 200);
        QVERIFY(lock.manager->isLocked());
        QVERIFY(lock.grab->isHeld());
    }

    void lostGrabIsTakenBack_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("grab window unmapped by another client") << QStringLiteral("unmap");
        QTest::newRow("keyboard let go behind the blocker's back") << QStringLiteral("keyboard");
        QTest::newRow("pointer let go behind the blocker's back") << QStringLiteral("pointer");
    }

    void lostGrabIsTakenBack()
    {
        QFETCH(QString, how);
        ClientProcess probe(probeProgram(), {QStringLiteral("--core")}, clientEnvironment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        LockUnderTest lock;
        QCOMPARE(lock.lock().first, true);
        xcb_connection_t *own = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        if (how == QLatin1String("unmap")) {
            input->unmap(lock.grab->grabWindow());
        } else {
            if (how == QLatin1String("keyboard"))
                xcb_ungrab_keyboard(own, XCB_CURRENT_TIME);
            else
                xcb_ungrab_pointer(own, XCB_CURRENT_TIME);
            xcb_flush(own);
        }
        QTRY_VERIFY(lock.grab->isHeld());
        QTest::qWait(50);
        QVERIFY(lock.grab->isHeld());
        const int before = probe.lines().size();
        input->burstOfEach(3);
        QTest::qWait(100);
        QCOMPARE(probe.lines().size(), before);
    }

    void permissionsOnATrustedConnection()
    {
        auto grab = std::make_shared<X11InputGrab>();
        InputPermissions permissions(grab);
        QVERIFY(permissions.accessibilityTrusted());
        QVERIFY(permissions.inputMonitoringTrusted());
    }

    void waylandSessionIsRefused()
    {
        qputenv("WAYLAND_DISPLAY", "wayland-0");
        LockUnderTest lock;
        const auto [success, message] = lock.lock();
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(!success);
        QCOMPARE(message.value_or(QString()), QStringLiteral("Paneveil cannot block input on a Wayland session yet."));
        QTRY_COMPARE(lock.app->count(), 1);
        QCOMPARE(lock.app->events().front().message, *message);
        QVERIFY(lock.prompt->requests.empty());
        QVERIFY(input->nothingGrabbed());
    }
};

int main(int argc, char **argv)
{
    // The X server must exist before the application connects to it.
    TestSession testSession;
    if (!testSession.isValid()) {
        std::fprintf(stderr, "cannot start the test session: %s\n", qPrintable(testSession.error()));
        return 1;
    }
    session = &testSession;
    qputenv("DISPLAY", testSession.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("XDG_SESSION_TYPE", "x11");
    qunsetenv("WAYLAND_DISPLAY");
    QGuiApplication application(argc, argv);
    TestX11InputGrab test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11inputgrab.moc"
