// System-wide hot keys: each registration binds a key code and a modifier
// mask to a callback, which runs on the main thread, after the handler that
// saw the press has returned, whichever program has the focus.
//
// Library: paneveil_app_services (core, no platform headers).
// createForThisSystem() lives in paneveil_app_services_system; it needs the
// app to run Qt's xcb platform (QGuiApplication/QApplication on X11) and
// must be called after the application object exists. Elsewhere (Wayland,
// offscreen) every registration is refused.
#pragma once

#include "HotkeyGrabber.h"

#include <QtGlobal>

#include <functional>
#include <map>
#include <memory>
#include <optional>

// Key codes by ANSI key position and modifier bits, as the app stores and
// passes them (the Carbon Event Manager's values).
namespace HotkeyKeyCode {
inline constexpr quint32 ansiL = 37;
inline constexpr quint32 ansiU = 32;
} // namespace HotkeyKeyCode

namespace HotkeyModifier {
inline constexpr quint32 command = 0x0100; // Super on Linux
inline constexpr quint32 shift = 0x0200;
inline constexpr quint32 option = 0x0800; // Alt
inline constexpr quint32 control = 0x1000;
} // namespace HotkeyModifier

class HotkeyManager {
public:
    // "PVOK" as a four-character code.
    static constexpr quint32 signature = (quint32('P') << 24) | (quint32('V') << 16) | (quint32('O') << 8) | quint32('K');

    explicit HotkeyManager(std::unique_ptr<HotkeyGrabberInterface> grabber);
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager &) = delete;
    HotkeyManager &operator=(const HotkeyManager &) = delete;

    static std::unique_ptr<HotkeyManager> createForThisSystem();

    // Registers keyCode with modifiers (HotkeyModifier bits, ORed). Returns
    // the registration's identifier (1, 2, 3, ..., never reused, also not
    // after a refusal), or nothing when the combination is refused.
    // ("register" itself is a reserved word in C++.)
    std::optional<quint32> registerHotkey(quint32 keyCode, quint32 modifiers, std::function<void()> handler);
    // Removes a registration; an unknown identifier is ignored.
    void unregister(quint32 id);

private:
    struct Registration {
        quint32 id = 0;
        HotkeyGrabberInterface::Reference ref = 0;
        std::function<void()> handler;
    };

    void installHandlerIfNeeded();
    void handlePressed(const HotkeyID &hotkeyID);

    std::map<quint32, Registration> registrations;
    quint32 nextID = 1;
    bool handlerInstalled = false;
    std::unique_ptr<HotkeyGrabberInterface> m_grabber;
};
