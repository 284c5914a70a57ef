// What the lock manager needs from each of its components, and nothing more.
// Real implementations sit over platform adapters; tests steer fakes.
#pragma once

#include "XPCProtocol.h"

#include <QString>

#include <functional>
#include <memory>

class EventTapInterface {
public:
    virtual ~EventTapInterface() = default;
    // True when input blocking is in place (newly or already).
    virtual bool start() = 0;
    // After a false start: the user-facing reason, if there is one.
    virtual OptionalText lastStartFailureMessage() const = 0;
    // Harmless when not started.
    virtual void stop() = 0;

    // Asked on the main thread for every input event.
    std::function<bool()> shouldSwallowEvents = [] { return false; };
    // Run on the main thread when the unlock hotkey is pressed while swallowing.
    std::function<void()> onUnlockHotkey = [] {};
};

class OverlayInterface {
public:
    virtual ~OverlayInterface() = default;
    // Every assignment re-tints an existing window at once, shown or not.
    virtual void setAlpha(double alpha) = 0;
    virtual double alpha() const = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void resizeToCoverAllScreens() = 0;
};

class DisplayWatcherInterface {
public:
    virtual ~DisplayWatcherInterface() = default;
    // Run on the main thread after each screen-configuration change.
    std::function<void()> onChange = [] {};
};

class AuthInterface {
public:
    using Completion = std::function<void(bool success, OptionalText message)>;
    virtual ~AuthInterface() = default;
    // Calls completion exactly once, on any thread.
    virtual void evaluate(Completion completion) = 0;
};

class PowerInterface {
public:
    virtual ~PowerInterface() = default;
    // Take and release the one display-sleep assertion; both are idempotent.
    virtual void preventDisplaySleep() = 0;
    virtual void allowDisplaySleep() = 0;
};

// The helper's own input permissions, answered without prompting.
class PermissionsInterface {
public:
    virtual ~PermissionsInterface() = default;
    virtual bool accessibilityTrusted() = 0;
    virtual bool inputMonitoringTrusted() = 0;
};

// Named short sounds; a missing sound is silent.
class SoundInterface {
public:
    virtual ~SoundInterface() = default;
    virtual void play(const QString &name) = 0;
};

// Everything the lock manager owns, in the order it creates them.
struct LockComponents {
    std::unique_ptr<EventTapInterface> eventTap;
    std::unique_ptr<OverlayInterface> overlay;
    std::unique_ptr<AuthInterface> auth;
    std::unique_ptr<PowerInterface> power;
    std::unique_ptr<DisplayWatcherInterface> displays;
    std::unique_ptr<PermissionsInterface> permissions;
    std::unique_ptr<SoundInterface> sounds;
};
