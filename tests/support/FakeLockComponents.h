// Steerable stand-ins for the lock manager's components. Each records what
// was asked of it and on which thread, so tests can check confinement too.
#pragma once

#include "LockComponents.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>

#include <vector>

struct FakeEventTap final : EventTapInterface {
    bool startResult = true;
    OptionalText failureMessage;
    int startCalls = 0;
    int stopCalls = 0;
    bool start() override { ++startCalls; return startResult; }
    OptionalText lastStartFailureMessage() const override { return failureMessage; }
    void stop() override { ++stopCalls; }
};

struct FakeOverlay final : OverlayInterface {
    std::vector<double> alphaAssignments;
    bool shown = false;
    int showCalls = 0;
    int hideCalls = 0;
    int resizeCalls = 0;
    QThread *lastThread = nullptr;
    void setAlpha(double alpha) override { alphaAssignments.push_back(alpha); lastThread = QThread::currentThread(); }
    double alpha() const override { return alphaAssignments.empty() ? 0.05 : alphaAssignments.back(); }
    void show() override { shown = true; ++showCalls; lastThread = QThread::currentThread(); }
    void hide() override { shown = false; ++hideCalls; lastThread = QThread::currentThread(); }
    void resizeToCoverAllScreens() override { ++resizeCalls; }
};

struct FakeAuth final : AuthInterface {
    std::vector<Completion> pending;
    void evaluate(Completion completion) override { pending.push_back(std::move(completion)); }
};

struct FakePower final : PowerInterface {
    bool held = false;
    int preventCalls = 0;
    int allowCalls = 0;
    void preventDisplaySleep() override { held = true; ++preventCalls; }
    void allowDisplaySleep() override { held = false; ++allowCalls; }
};

struct FakeDisplayWatcher final : DisplayWatcherInterface {};

struct FakePermissions final : PermissionsInterface {
    bool accessibility = false;
    bool inputMonitoring = false;
    bool accessibilityTrusted() override { return accessibility; }
    bool inputMonitoringTrusted() override { return inputMonitoring; }
};

struct FakeSounds final : SoundInterface {
    QStringList played;
    void play(const QString &name) override { played << name; }
};

// Records broadcasts; called on the lock manager's queue thread.
class RecordingAppConnection final : public PaneveilAppProtocol {
public:
    struct Event {
        enum Kind { State, Error } kind;
        bool isLocked = false;
        OptionalDate since;
        QString message;
        QString threadName;
    };

    void helperDidChangeLockState(bool isLocked, OptionalDate since) override
    {
        record({Event::State, isLocked, since, {}, QThread::currentThread()->objectName()});
    }
    void helperDidEncounterError(QString message) override
    {
        record({Event::Error, false, std::nullopt, message, QThread::currentThread()->objectName()});
    }
    std::vector<Event> events() const
    {
        QMutexLocker locker(&m_mutex);
        return m_events;
    }
    int count() const { return int(events().size()); }

private:
    void record(Event event)
    {
        QMutexLocker locker(&m_mutex);
        m_events.push_back(std::move(event));
    }
    mutable QMutex m_mutex;
    std::vector<Event> m_events;
};

// Builds a full component set and keeps plain pointers for steering.
struct FakeLockComponents {
    FakeEventTap *eventTap = new FakeEventTap;
    FakeOverlay *overlay = new FakeOverlay;
    FakeAuth *auth = new FakeAuth;
    FakePower *power = new FakePower;
    FakeDisplayWatcher *displays = new FakeDisplayWatcher;
    FakePermissions *permissions = new FakePermissions;
    FakeSounds *sounds = new FakeSounds;

    // Hands ownership to the lock manager; call exactly once.
    LockComponents release()
    {
        return LockComponents{
            std::unique_ptr<EventTapInterface>(eventTap),   std::unique_ptr<OverlayInterface>(overlay),
            std::unique_ptr<AuthInterface>(auth),           std::unique_ptr<PowerInterface>(power),
            std::unique_ptr<DisplayWatcherInterface>(displays), std::unique_ptr<PermissionsInterface>(permissions),
            std::unique_ptr<SoundInterface>(sounds),
        };
    }
};
