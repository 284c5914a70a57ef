// The input-grab adapter on X11. It owns one mapped input-only window and,
// on the helper's own Qt xcb connection, takes active grabs with raw xcb
// requests (never Qt's grab functions, so Qt never lets go behind our back):
// the core keyboard and pointer grabs for the master devices, and XInput 2
// grabs on every slave device, whose events a master grab does not hold
// back from clients that listen to slave devices. Events reach this object
// through a native event filter before Qt dispatches them.
#pragma once

#include "InputGrab.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <optional>
#include <set>
#include <vector>

#include <xcb/xcb.h>

class X11InputGrab final : public InputGrabInterface, public QAbstractNativeEventFilter {
public:
    // A refused grab is tried again for at least this long before take() gives up.
    static constexpr std::chrono::milliseconds retryPeriod{1000};
    static constexpr std::chrono::milliseconds retryInterval{10};
    // How often a lost grab that another client took in the meantime is tried again.
    static constexpr std::chrono::milliseconds retakeInterval{20};

    // Uses the QGuiApplication's xcb connection; without one (another
    // platform plugin) every grab fails and nothing is trusted.
    X11InputGrab();
    ~X11InputGrab() override;
    X11InputGrab(const X11InputGrab &) = delete;
    X11InputGrab &operator=(const X11InputGrab &) = delete;

    bool take() override;
    void retake() override;
    void release() override;
    bool isHeld() const override { return m_held; }
    bool sessionIsWayland() const override;
    bool accessibilityTrusted() override;
    bool inputMonitoringTrusted() override;

    // While set, the grab stays on the grab window but passes on to target
    // (a window of this client, such as the unlock dialog) every key press
    // and release and every button press and release over target; nothing
    // reaches any other client. Target gets the input focus, and the
    // visible pointer follows the mouse again.
    void forwardInputTo(uint32_t target);
    // Input reaching the grab window is swallowed again.
    void stopForwarding();
    uint32_t forwardingTarget() const { return m_forwardTo; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The grab window, or 0 before the first take().
    uint32_t grabWindow() const { return m_window; }
    // XInput 2 device ids grabbed beside the core grabs.
    std::vector<uint16_t> grabbedSlaveDevices() const { return {m_grabbedSlaves.begin(), m_grabbedSlaves.end()}; }

private:
    enum class Attempt { Held, Retry, Failed };
    bool ensureWindow();
    void readKeyboardMapping();
    std::vector<uint16_t> slaveDevices();
    // One round of grab requests for whatever is not held yet.
    Attempt grabOnce(const std::vector<uint16_t> &slaves);
    void ungrabAll();
    void onRetakeTimer();
    bool handleCoreInput(xcb_generic_event_t *event);
    bool handleXi2Input(xcb_generic_event_t *event);
    void markLost();
    uint32_t slaveEventMask() const;
    // Grabs the held slave devices again, with the mask for now.
    void regrabSlaves();
    // Sends a core key or button event to the forwarding target.
    void forward(uint8_t coreType, uint8_t detail, uint32_t time, int16_t rootX, int16_t rootY, uint16_t state);
    quint64 flagsFromState(uint32_t state) const;

    xcb_connection_t *m_connection = nullptr;
    uint8_t m_xinputOpcode = 0;
    uint32_t m_window = 0;

    bool m_held = false;
    // Between a successful take() and release(): a loss is to be repaired.
    bool m_wanted = false;
    bool m_keyboardGrabbed = false;
    bool m_pointerGrabbed = false;
    std::set<uint16_t> m_grabbedSlaves;
    QTimer m_retakeTimer;
    uint32_t m_forwardTo = 0;

    std::optional<bool> m_trusted;
    std::optional<bool> m_xinput2Usable;

    // Read from the server's modifier mapping at each take().
    uint32_t m_superMask = 0;
    uint32_t m_altMask = 0;
    uint32_t m_numLockMask = 0;
    std::set<uint8_t> m_modifierKeycodes;
};
