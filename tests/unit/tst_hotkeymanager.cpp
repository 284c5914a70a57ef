// HotkeyManager over a fake grabber: identifiers, refusals, the one handler,
// delivery on the main thread after the handler returned, unregistering.

#include "HotkeyManager.h"

#include <QTest>
#include <QThread>

namespace {

struct GrabberLog {
    int handlerInstalls = 0;
    bool destroyed = false;
    QList<HotkeyID> registered;
    QList<HotkeyGrabberInterface::Reference> unregistered;
    // Combinations the "system" refuses.
    QList<QPair<quint32, quint32>> refused;
    bool handOutZeroReference = false;
    HotkeyGrabberInterface::PressedHandler handler;
};

class FakeGrabber : public HotkeyGrabberInterface {
public:
    explicit FakeGrabber(GrabberLog *log) : m_log(log) {}
    ~FakeGrabber() override { m_log->destroyed = true; }
    bool installHandler(PressedHandler handler) override
    {
        ++m_log->handlerInstalls;
        m_log->handler = std::move(handler);
        return true;
    }
    std::optional<Reference> registerHotkey(quint32 keyCode, quint32 modifiers, const HotkeyID &hotkeyID) override
    {
        if (m_log->refused.contains(qMakePair(keyCode, modifiers)))
            return std::nullopt;
        if (m_log->handOutZeroReference)
            return Reference(0);
        m_log->registered << hotkeyID;
        return Reference(1000 + hotkeyID.id);
    }
    void unregisterHotkey(Reference reference) override { m_log->unregistered << reference; }

private:
    GrabberLog *m_log;
};

constexpr quint32 lockModifiers = HotkeyModifier::control | HotkeyModifier::command;

void press(GrabberLog &log, quint32 id, quint32 signature = HotkeyManager::signature)
{
    log.handler(HotkeyID{signature, id});
}

} // namespace

class TestHotkeyManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void identifiersCountUpAndRefusalsSpendOne()
    {
        GrabberLog log;
        log.refused << qMakePair(HotkeyKeyCode::ansiU, lockModifiers);
        HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), std::optional<quint32>(1));
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiU, lockModifiers, [] {}), std::nullopt);
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiL, HotkeyModifier::control, [] {}),
                 std::optional<quint32>(3));
        QCOMPARE(log.handlerInstalls, 1);
        QCOMPARE(log.registered.size(), 2);
        QCOMPARE(log.registered.at(1).id, 3u);
        QCOMPARE(log.registered.at(1).signature, 0x50564F4Bu); // "PVOK"
    }

    void handlerIsInstalledOnFirstRegisterEvenIfRefused()
    {
        GrabberLog log;
        log.refused << qMakePair(HotkeyKeyCode::ansiL, lockModifiers);
        HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
        QCOMPARE(log.handlerInstalls, 0);
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), std::nullopt);
        QCOMPARE(log.handlerInstalls, 1);
    }

    void emptyReferenceCountsAsRefusal()
    {
        GrabberLog log;
        log.handOutZeroReference = true;
        HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), std::nullopt);
        log.handOutZeroReference = false;
        QCOMPARE(manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), std::optional<quint32>(2));
    }

    void pressRunsCallbackOnMainThreadAfterHandlerReturns()
    {
        GrabberLog log;
        HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
        int lockCalls = 0;
        int unlockCalls = 0;
        QThread *callbackThread = nullptr;
        manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] {
            ++lockCalls;
            callbackThread = QThread::currentThread();
        });
        manager.registerHotkey(HotkeyKeyCode::ansiU, lockModifiers, [&] { ++unlockCalls; });

        // Pressed from another thread: still runs on the main thread.
        QThread *presser = QThread::create([&log] { press(log, 1); });
        presser->start();
        presser->wait();
        delete presser;
        press(log, 1);
        QCOMPARE(lockCalls, 0);
        QTRY_COMPARE(lockCalls, 2);
        QCOMPARE(callbackThread, QThread::currentThread());
        QCOMPARE(unlockCalls, 0);

        // Only the id selects; unknown ids are absorbed.
        press(log, 2, 0);
        press(log, 99);
        QTRY_COMPARE(unlockCalls, 1);
        QCoreApplication::processEvents();
        QCOMPARE(lockCalls, 2);
    }

    void unregisterStopsLaterPresses()
    {
        GrabberLog log;
        HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
        int calls = 0;
        const quint32 id = *manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++calls; });

        manager.unregister(42);
        QVERIFY(log.unregistered.isEmpty());

        // A press already handled still runs its callback.
        press(log, id);
        manager.unregister(id);
        QCOMPARE(log.unregistered, QList<HotkeyGrabberInterface::Reference>{1000 + id});
        QTRY_COMPARE(calls, 1);

        press(log, id);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
        manager.unregister(id);
        QCOMPARE(log.unregistered.size(), 1);
        QCOMPARE(*manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), id + 1);
    }

    void destroyingTheManagerReleasesTheGrabber()
    {
        GrabberLog log;
        {
            HotkeyManager manager(std::make_unique<FakeGrabber>(&log));
            manager.registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {});
        }
        QVERIFY(log.destroyed);
    }
};

QTEST_GUILESS_MAIN(TestHotkeyManager)
#include "tst_hotkeymanager.moc"
