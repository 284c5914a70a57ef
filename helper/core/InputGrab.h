// The narrow window-system service the input blocker stands on: take and
// release an exclusive hold on all keyboard and pointer input, report each
// input event as it arrives, report a hold that was lost, and answer the two
// trust questions the permission checks ask. An X11 implementation lives in
// platform/x11; tests use a fake.
#pragma once

#include <QtGlobal>

#include <functional>

// Event types and modifier flags in the values the input blocker works with.
// Adapters translate their window system's events into these.
namespace InputEventType {
inline constexpr quint32 leftMouseDown = 1;
inline constexpr quint32 leftMouseUp = 2;
inline constexpr quint32 rightMouseDown = 3;
inline constexpr quint32 rightMouseUp = 4;
inline constexpr quint32 mouseMoved = 5;
inline constexpr quint32 leftMouseDragged = 6;
inline constexpr quint32 rightMouseDragged = 7;
inline constexpr quint32 keyDown = 10;
inline constexpr quint32 keyUp = 11;
inline constexpr quint32 flagsChanged = 12;
inline constexpr quint32 scrollWheel = 22;
inline constexpr quint32 tabletPointer = 23;
inline constexpr quint32 tabletProximity = 24;
inline constexpr quint32 otherMouseDown = 25;
inline constexpr quint32 otherMouseUp = 26;
inline constexpr quint32 otherMouseDragged = 27;
} // namespace InputEventType

namespace InputEventFlag {
inline constexpr quint64 capsLock = 0x10000;
inline constexpr quint64 shift = 0x20000;
inline constexpr quint64 control = 0x40000;
inline constexpr quint64 alternate = 0x80000; // Alt / Option
inline constexpr quint64 command = 0x100000;  // Super on Linux
inline constexpr quint64 numericPad = 0x200000; // Num Lock on Linux
} // namespace InputEventFlag

// Key codes name key positions, not characters: 32 is the key in the U
// position whatever the layout produces there.
namespace InputKeyPosition {
inline constexpr qint64 unknown = -1;
} // namespace InputKeyPosition

struct InputEvent {
    quint32 type = 0;
    // Position code of the key for key events; InputKeyPosition::unknown
    // when the key has no code.
    qint64 keyCode = InputKeyPosition::unknown;
    // The modifiers held when the event happened (InputEventFlag bits).
    quint64 flags = 0;
};

class InputGrabInterface {
public:
    virtual ~InputGrabInterface() = default;

    // Takes the exclusive hold on keyboard and pointer, waiting a bounded
    // time for another client to let go. True when held; on false nothing
    // is left held.
    virtual bool take() = 0;
    // Takes a lost hold back at once, and keeps trying while it is refused.
    virtual void retake() = 0;
    // Lets go of everything. Harmless when nothing is held.
    virtual void release() = 0;
    virtual bool isHeld() const = 0;

    // The session runs on a display server this adapter cannot block.
    virtual bool sessionIsWayland() const = 0;
    // The window-system connection is a fully trusted client.
    virtual bool accessibilityTrusted() = 0;
    // The connection may read input devices (XInput 2 on X11).
    virtual bool inputMonitoringTrusted() = 0;

    // Each input event that arrives while held; answer true to swallow it.
    std::function<bool(const InputEvent &)> onInputEvent = [](const InputEvent &) { return false; };
    // The hold was taken away (by the server or another client).
    std::function<void()> onLost = [] {};
};

// The one-time request to the user to grant a missing permission.
class PermissionPromptInterface {
public:
    enum class Permission { Accessibility, InputMonitoring };
    virtual ~PermissionPromptInterface() = default;
    virtual void request(Permission permission) = 0;
};
