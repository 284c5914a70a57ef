// The input blocker's own rules, over a fake input-grab adapter: when the
// hold is taken, which text a failure gives, how often the user is asked,
// what is swallowed and which key presses are the unlock hotkey.

#include "EventTapManager.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <vector>

namespace {

struct FakeInputGrab final : InputGrabInterface {
    bool takeResult = true;
    bool heldAfterTake = true;
    bool wayland = false;
    bool accessibility = true;
    bool inputMonitoring = true;
    // Trust the prompt grants when the user answers it.
    bool accessibilityAfterPrompt = false;
    int takeCalls = 0;
    int retakeCalls = 0;
    int releaseCalls = 0;
    bool held = false;

    bool take() override
    {
        ++takeCalls;
        held = takeResult && heldAfterTake;
        return takeResult;
    }
    void retake() override { ++retakeCalls; }
    void release() override
    {
        ++releaseCalls;
        held = false;
    }
    bool isHeld() const override { return held; }
    bool sessionIsWayland() const override { return wayland; }
    bool accessibilityTrusted() override { return accessibility; }
    bool inputMonitoringTrusted() override { return inputMonitoring; }

    bool deliver(quint32 type, qint64 keyCode = InputKeyPosition::unknown, quint64 flags = 0)
    {
        return onInputEvent(InputEvent{type, keyCode, flags});
    }
};

struct FakePrompt final : PermissionPromptInterface {
    FakeInputGrab *grab = nullptr;
    std::vector<Permission> requests;
    void request(Permission permission) override
    {
        requests.push_back(permission);
        if (permission == Permission::Accessibility && grab)
            grab->accessibility = grab->accessibilityAfterPrompt;
    }
    int count(Permission permission) const { return int(std::count(requests.begin(), requests.end(), permission)); }
};

using Permission = PermissionPromptInterface::Permission;

struct Fixture {
    std::shared_ptr<FakeInputGrab> grab = std::make_shared<FakeInputGrab>();
    std::shared_ptr<FakePrompt> prompt = std::make_shared<FakePrompt>();
    std::unique_ptr<EventTapManager> manager;
    bool swallow = true;
    int hotkeys = 0;

    Fixture()
    {
        prompt->grab = grab.get();
        manager = std::make_unique<EventTapManager>(grab, prompt);
        manager->shouldSwallowEvents = [this] { return swallow; };
        manager->onUnlockHotkey = [this] { ++hotkeys; };
    }
};

constexpr quint64 control = InputEventFlag::control;
constexpr quint64 command = InputEventFlag::command;
constexpr qint64 keyU = 32;

} // namespace

class TestEventTapManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eventMaskHoldsTheThirteenTypes()
    {
        QCOMPARE(EventTapManager::computeEventMask(), quint64(0x6401CFE));
    }

    void constructionTakesNothingAndStopIsHarmless()
    {
        Fixture f;
        f.manager->stop();
        QCOMPARE(f.grab->takeCalls, 0);
        QCOMPARE(f.grab->releaseCalls, 0);
        QVERIFY(f.prompt->requests.empty());
        QVERIFY(!f.manager->lastStartFailureMessage());
    }

    void startTwiceTakesOneHold()
    {
        Fixture f;
        QVERIFY(f.manager->start());
        QVERIFY(f.manager->start());
        QCOMPARE(f.grab->takeCalls, 1);
        QVERIFY(!f.manager->lastStartFailureMessage());
    }

    void secondStartClearsAnEarlierMessage()
    {
        Fixture f;
        // Taken but not reported held: false without a message, and the hold is kept.
        f.grab->heldAfterTake = false;
        QVERIFY(!f.manager->start());
        QVERIFY(!f.manager->lastStartFailureMessage());
        QVERIFY(f.manager->start());
        QCOMPARE(f.grab->takeCalls, 1);
    }

    void failureTexts_data()
    {
        QTest::addColumn<bool>("accessibility");
        QTest::addColumn<bool>("inputMonitoring");
        QTest::addColumn<QString>("expected");
        QTest::newRow("untrusted, XInput 2 usable") << false << true << QString::fromUtf8(EventTapManager::accessibilityMessage);
        QTest::newRow("untrusted, no XInput 2") << false << false << QString::fromUtf8(EventTapManager::accessibilityMessage);
        QTest::newRow("trusted, no XInput 2") << true << false << QString::fromUtf8(EventTapManager::inputMonitoringMessage);
        QTest::newRow("both granted, grab refused") << true << true << QString::fromUtf8(EventTapManager::tapCreationMessage);
    }

    void failureTexts()
    {
        QFETCH(bool, accessibility);
        QFETCH(bool, inputMonitoring);
        QFETCH(QString, expected);
        Fixture f;
        f.grab->accessibility = accessibility;
        f.grab->inputMonitoring = inputMonitoring;
        f.grab->takeResult = false;
        QVERIFY(!f.manager->start());
        QCOMPARE(f.manager->lastStartFailureMessage().value_or(QString()), expected);
        // The hold is attempted whatever the permissions answered.
        QCOMPARE(f.grab->takeCalls, 1);
        QCOMPARE(f.prompt->count(Permission::Accessibility), accessibility ? 0 : 1);
        QCOMPARE(f.prompt->count(Permission::InputMonitoring), inputMonitoring ? 0 : 1);
    }

    void eachPromptOncePerRun()
    {
        Fixture f;
        f.grab->accessibility = false;
        f.grab->inputMonitoring = false;
        f.grab->takeResult = false;
        QVERIFY(!f.manager->start());
        QVERIFY(!f.manager->start());
        QCOMPARE(f.prompt->count(Permission::Accessibility), 1);
        QCOMPARE(f.prompt->count(Permission::InputMonitoring), 1);
        QCOMPARE(f.grab->takeCalls, 2);
        // Later attempts pick the text from the current state, without asking.
        f.grab->accessibility = true;
        QVERIFY(!f.manager->start());
        QCOMPARE(*f.manager->lastStartFailureMessage(), QString::fromUtf8(EventTapManager::inputMonitoringMessage));
        QCOMPARE(f.prompt->requests.size(), size_t(2));
    }

    void grantedAtThePromptCountsAsTrusted()
    {
        Fixture f;
        f.grab->accessibility = false;
        f.grab->accessibilityAfterPrompt = true;
        f.grab->takeResult = false;
        QVERIFY(!f.manager->start());
        QCOMPARE(*f.manager->lastStartFailureMessage(), QString::fromUtf8(EventTapManager::tapCreationMessage));
    }

    void stopThenStartTakesAgainWithoutPrompting()
    {
        Fixture f;
        f.grab->inputMonitoring = false;
        QVERIFY(f.manager->start());
        f.manager->stop();
        QCOMPARE(f.grab->releaseCalls, 1);
        QVERIFY(f.manager->start());
        QCOMPARE(f.grab->takeCalls, 2);
        QCOMPARE(f.prompt->count(Permission::InputMonitoring), 1);
        f.manager->stop();
        f.manager->stop();
        QCOMPARE(f.grab->releaseCalls, 2);
    }

    void waylandIsRefusedBeforeAnything()
    {
        Fixture f;
        f.grab->wayland = true;
        f.grab->accessibility = false;
        QVERIFY(!f.manager->start());
        QCOMPARE(*f.manager->lastStartFailureMessage(),
                 QStringLiteral("Paneveil cannot block input on a Wayland session yet."));
        QCOMPARE(f.grab->takeCalls, 0);
        QVERIFY(f.prompt->requests.empty());
    }

    void destructionLetsGo()
    {
        Fixture f;
        QVERIFY(f.manager->start());
        f.manager.reset();
        QCOMPARE(f.grab->releaseCalls, 1);
        // The adapter no longer reaches the dead manager.
        QVERIFY(!f.grab->deliver(InputEventType::keyDown, keyU, control | command));
    }

    void lostHoldIsTakenBackWhateverTheLockState()
    {
        Fixture f;
        f.grab->onLost();
        QCOMPARE(f.grab->retakeCalls, 0);
        QVERIFY(f.manager->start());
        f.swallow = false;
        f.grab->onLost();
        QCOMPARE(f.grab->retakeCalls, 1);
        f.manager->stop();
        f.grab->onLost();
        QCOMPARE(f.grab->retakeCalls, 1);
    }

    void swallowing_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<bool>("swallowedWhileLocked");
        for (quint32 type : {1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 22, 25, 26})
            QTest::addRow("type %u", type) << type << true;
        // Outside the mask: never the blocker's business.
        for (quint32 type : {23, 24, 27})
            QTest::addRow("type %u", type) << type << false;
    }

    void swallowing()
    {
        QFETCH(quint32, type);
        QFETCH(bool, swallowedWhileLocked);
        Fixture f;
        QVERIFY(f.manager->start());
        QCOMPARE(f.grab->deliver(type), swallowedWhileLocked);
        f.swallow = false;
        QVERIFY(!f.grab->deliver(type));
    }

    void hotkey_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<bool>("swallow");
        QTest::addColumn<int>("hotkeys");
        const quint64 both = control | command;
        QTest::newRow("Control+Super+U") << InputEventType::keyDown << keyU << both << true << 1;
        QTest::newRow("with Shift") << InputEventType::keyDown << keyU << (both | InputEventFlag::shift) << true << 0;
        QTest::newRow("with Alt") << InputEventType::keyDown << keyU << (both | InputEventFlag::alternate) << true << 0;
        QTest::newRow("with Caps Lock and Num Lock")
            << InputEventType::keyDown << keyU << (both | InputEventFlag::capsLock | InputEventFlag::numericPad) << true << 1;
        QTest::newRow("Control only") << InputEventType::keyDown << keyU << control << true << 0;
        QTest::newRow("Super only") << InputEventType::keyDown << keyU << command << true << 0;
        QTest::newRow("another key") << InputEventType::keyDown << qint64(0) << both << true << 0;
        QTest::newRow("unknown key") << InputEventType::keyDown << InputKeyPosition::unknown << both << true << 0;
        QTest::newRow("out of range key") << InputEventType::keyDown << qint64(0x10000 + keyU) << both << true << 0;
        QTest::newRow("U key up") << InputEventType::keyUp << keyU << both << true << 0;
        QTest::newRow("while unlocked") << InputEventType::keyDown << keyU << both << false << 0;
    }

    void hotkey()
    {
        QFETCH(quint32, type);
        QFETCH(qint64, keyCode);
        QFETCH(quint64, flags);
        QFETCH(bool, swallow);
        QFETCH(int, hotkeys);
        Fixture f;
        QVERIFY(f.manager->start());
        f.swallow = swallow;
        QCOMPARE(f.grab->deliver(type, keyCode, flags), swallow);
        // Never inside the event's own handling: only from the main queue.
        QCOMPARE(f.hotkeys, 0);
        QCoreApplication::processEvents();
        QCOMPARE(f.hotkeys, hotkeys);
    }

    void everyRepeatMatchesAndTheCurrentCallbackRuns()
    {
        Fixture f;
        QVERIFY(f.manager->start());
        for (int i = 0; i < 3; ++i)
            f.grab->deliver(InputEventType::keyDown, keyU, control | command);
        int replaced = 0;
        f.manager->onUnlockHotkey = [&replaced] { ++replaced; };
        QCoreApplication::processEvents();
        QCOMPARE(f.hotkeys, 0);
        QCOMPARE(replaced, 3);
    }

    void queuedHotkeyDiesWithTheManager()
    {
        Fixture f;
        QVERIFY(f.manager->start());
        f.grab->deliver(InputEventType::keyDown, keyU, control | command);
        f.manager.reset();
        QCoreApplication::processEvents();
        QCOMPARE(f.hotkeys, 0);
    }
};

QTEST_GUILESS_MAIN(TestEventTapManager)
#include "tst_eventtapmanager.moc"
