// System-wide hot keys on X11: passive key grabs on every root window, made
// on the connection Qt reads, so pressed keys arrive in a native event
// filter before Qt dispatches them. Key codes and modifiers come in the
// app's stored (Carbon) values and are mapped by key position.
#pragma once

#include "HotkeyGrabber.h"

#include <QAbstractNativeEventFilter>
#include <QString>

#include <map>
#include <set>
#include <memory>
#include <optional>
#include <vector>

struct xcb_connection_t;
class QTimer;

class XcbHotkeyGrabber : public HotkeyGrabberInterface, private QAbstractNativeEventFilter {
public:
    // connection is the one the running Qt application reads its events
    // from; null refuses every registration.
    explicit XcbHotkeyGrabber(xcb_connection_t *connection);
    ~XcbHotkeyGrabber() override;

    // On Qt's own X connection when the app runs on X11; otherwise one that
    // refuses everything.
    static std::unique_ptr<XcbHotkeyGrabber> forQtApplication();

    bool installHandler(PressedHandler handler) override;
    std::optional<Reference> registerHotkey(quint32 keyCode, quint32 modifiers, const HotkeyID &hotkeyID) override;
    void unregisterHotkey(Reference reference) override;

    // The X key code at the position of a stored key code, read from the
    // server's keymap (XKB key names); nothing when the key is not known.
    std::optional<quint8> xKeycodeFor(quint32 keyCode) const;
    // X modifier bits for stored modifier bits; nothing for bits that have
    // no X counterpart.
    static std::optional<quint16> xModifiersFor(quint32 modifiers);

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;
        // Num Lock's modifier bit when the grab was made; a press with it
        // (or Caps Lock) set still selects the hot key.
        quint16 numLockMask = 0;
        HotkeyID hotkeyID;
        // The root windows and modifier masks actually grabbed.
        std::vector<std::pair<quint32, quint16>> grabbed;
    };

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    quint16 numLockMask() const;
    void ungrab(const Grab &grab);
    void forgetReleasedKeys();

    xcb_connection_t *m_connection = nullptr;
    std::vector<quint32> m_roots;
    PressedHandler m_handler;
    bool m_filterInstalled = false;
    std::map<Reference, Grab> m_grabs;
    Reference m_nextReference = 1;
    // Hot keys handled and not yet released: the server's auto-repeat
    // presses them again and again, which must not run the handler again.
    std::set<quint8> m_heldKeycodes;
    std::unique_ptr<QTimer> m_releaseWatch;
};
