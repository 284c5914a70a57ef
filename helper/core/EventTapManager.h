// The helper's input blocker. While its owner holds the lock it keeps an
// exclusive hold on all keyboard and pointer input, swallows every event,
// and recognises one fixed unlock hotkey (Control+Super+U by key position)
// among the swallowed key presses. Before taking the hold it checks the two
// permissions the hold depends on, asking the user for each at most once
// per helper run, and turns a failure into a text the user can act on.
#pragma once

#include "InputGrab.h"
#include "LockComponents.h"

#include <QObject>

#include <memory>

class EventTapManager final : public EventTapInterface {
public:
    static constexpr const char accessibilityMessage[] =
        "Accessibility permission is required for the helper. If Paneveil is already enabled, remove it from "
        "Accessibility and add it again.";
    static constexpr const char tapCreationMessage[] =
        "The helper could not create the input-blocking event tap. Re-approve Paneveil in Privacy & Security, "
        "then try again.";
    static constexpr const char inputMonitoringMessage[] =
        "Input Monitoring permission is required for the helper. Enable Paneveil in Privacy & Security, then try "
        "again.";
    static constexpr const char waylandMessage[] = "Paneveil cannot block input on a Wayland session yet.";

    // Key position of U and the Control+Command (Super) set; neither can be changed.
    static constexpr quint16 unlockKeyCode = 32;
    static constexpr quint64 unlockFlags = InputEventFlag::command | InputEventFlag::control;
    // The modifiers the hotkey test compares; Caps Lock, Num Lock and the rest are ignored.
    static constexpr quint64 hotkeyComparisonMask =
        InputEventFlag::shift | InputEventFlag::control | InputEventFlag::alternate | InputEventFlag::command;

    // Must be built on the main thread, which the hotkey is delivered on.
    EventTapManager(std::shared_ptr<InputGrabInterface> grab, std::shared_ptr<PermissionPromptInterface> prompt);
    // Lets go of a hold still in place, so input is never left blocked.
    ~EventTapManager() override;
    EventTapManager(const EventTapManager &) = delete;
    EventTapManager &operator=(const EventTapManager &) = delete;

    bool start() override;
    OptionalText lastStartFailureMessage() const override { return m_lastStartFailureMessage; }
    void stop() override;

    quint64 eventMask() const { return m_eventMask; }
    static quint64 computeEventMask();
    static QString startFailureMessage(bool accessibilityTrusted, bool listenEventTrusted);

private:
    bool requestAccessibilityPermissionIfNeeded();
    bool requestListenEventPermissionIfNeeded();
    // True to swallow the event.
    bool handle(const InputEvent &event);
    void handleLost();

    OptionalText m_lastStartFailureMessage;
    const quint64 m_eventMask;
    // Stands for the installed tap: the hold was taken and not given up.
    bool m_holding = false;
    bool m_didRequestAccessibilityPermission = false;
    bool m_didRequestListenEventPermission = false;

    const std::shared_ptr<InputGrabInterface> m_grab;
    const std::shared_ptr<PermissionPromptInterface> m_prompt;
    // Queued hotkey deliveries are dropped with it when the manager goes.
    std::unique_ptr<QObject> m_mainQueueContext;
};
