// What HotkeyManager needs from the window system: system-wide hot keys,
// each a key code and modifier mask bound to an identity, and one handler
// that reports the identity of each pressed hot key. The real version
// (platform/x11) uses passive key grabs; tests use a fake.
#pragma once

#include <QtGlobal>

#include <functional>
#include <optional>

struct HotkeyID {
    quint32 signature = 0;
    quint32 id = 0;
};

class HotkeyGrabberInterface {
public:
    // Opaque reference to one grabbed combination; never 0 when returned.
    using Reference = quint64;
    using PressedHandler = std::function<void(const HotkeyID &)>;

    virtual ~HotkeyGrabberInterface() = default;
    // Installs the one handler for pressed hot keys. The handler is called on
    // the main thread; false when it could not be installed.
    virtual bool installHandler(PressedHandler handler) = 0;
    // keyCode and modifiers use the Carbon values of HotkeyManager.h.
    // Absent when the combination is refused (held by another program or
    // already registered here).
    virtual std::optional<Reference> registerHotkey(quint32 keyCode, quint32 modifiers, const HotkeyID &hotkeyID) = 0;
    virtual void unregisterHotkey(Reference reference) = 0;
};
