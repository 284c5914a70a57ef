#include "EventTapManager.h"

#include "Log.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <array>

namespace {

// The thirteen event types the blocker swallows, in the order the mask is built.
constexpr std::array<quint32, 13> blockedEventTypes = {
    InputEventType::keyDown,          InputEventType::keyUp,           InputEventType::flagsChanged,
    InputEventType::leftMouseDown,    InputEventType::leftMouseUp,     InputEventType::rightMouseDown,
    InputEventType::rightMouseUp,     InputEventType::mouseMoved,      InputEventType::leftMouseDragged,
    InputEventType::rightMouseDragged, InputEventType::scrollWheel,    InputEventType::otherMouseDown,
    InputEventType::otherMouseUp,
};

bool maskContains(quint64 mask, quint32 type)
{
    return type < 64 && (mask & (quint64(1) << type)) != 0;
}

} // namespace

EventTapManager::EventTapManager(std::shared_ptr<InputGrabInterface> grab,
                                 std::shared_ptr<PermissionPromptInterface> prompt)
    : m_eventMask(computeEventMask())
    , m_grab(std::move(grab))
    , m_prompt(std::move(prompt))
    , m_mainQueueContext(std::make_unique<QObject>())
{
    m_grab->onInputEvent = [this](const InputEvent &event) { return handle(event); };
    m_grab->onLost = [this] { handleLost(); };
}

EventTapManager::~EventTapManager()
{
    m_grab->onInputEvent = [](const InputEvent &) { return false; };
    m_grab->onLost = [] {};
    if (m_holding)
        m_grab->release();
}

quint64 EventTapManager::computeEventMask()
{
    quint64 mask = 0;
    for (const quint32 type : blockedEventTypes) {
        if (type < 64)
            mask |= quint64(1) << type;
    }
    return mask;
}

QString EventTapManager::startFailureMessage(bool accessibilityTrusted, bool listenEventTrusted)
{
    if (!accessibilityTrusted)
        return QString::fromUtf8(accessibilityMessage);
    if (listenEventTrusted)
        return QString::fromUtf8(tapCreationMessage);
    return QString::fromUtf8(inputMonitoringMessage);
}

bool EventTapManager::start()
{
    if (m_holding) {
        m_lastStartFailureMessage.reset();
        return true;
    }
    // No hold taken on a Wayland session could stop its input; refuse before
    // asking the user for anything.
    if (m_grab->sessionIsWayland()) {
        m_lastStartFailureMessage = QString::fromUtf8(waylandMessage);
        pvLog(QStringLiteral("[EventTapManager] tapCreate failed: %1").arg(*m_lastStartFailureMessage));
        return false;
    }
    const bool accessibilityTrusted = requestAccessibilityPermissionIfNeeded();
    const bool listenEventTrusted = requestListenEventPermissionIfNeeded();
    if (!m_grab->take()) {
        m_lastStartFailureMessage = startFailureMessage(accessibilityTrusted, listenEventTrusted);
        pvLog(QStringLiteral("[EventTapManager] tapCreate failed: %1").arg(*m_lastStartFailureMessage));
        return false;
    }
    m_lastStartFailureMessage.reset();
    m_holding = true;
    return m_grab->isHeld();
}

void EventTapManager::stop()
{
    if (m_holding)
        m_grab->release();
    m_holding = false;
}

bool EventTapManager::requestAccessibilityPermissionIfNeeded()
{
    if (m_grab->accessibilityTrusted())
        return true;
    if (m_didRequestAccessibilityPermission)
        return false;
    m_didRequestAccessibilityPermission = true;
    m_prompt->request(PermissionPromptInterface::Permission::Accessibility);
    return m_grab->accessibilityTrusted();
}

bool EventTapManager::requestListenEventPermissionIfNeeded()
{
    if (m_grab->inputMonitoringTrusted())
        return true;
    if (m_didRequestListenEventPermission)
        return false;
    m_didRequestListenEventPermission = true;
    m_prompt->request(PermissionPromptInterface::Permission::InputMonitoring);
    return m_grab->inputMonitoringTrusted();
}

void EventTapManager::handleLost()
{
    // The counterpart of a tap the system disabled: take it back at once,
    // whatever the lock state, without asking the owner.
    if (m_holding)
        m_grab->retake();
}

bool EventTapManager::handle(const InputEvent &event)
{
    // Types outside the mask are not the blocker's business.
    if (!maskContains(m_eventMask, event.type))
        return false;
    if (!shouldSwallowEvents())
        return false;
    if (event.type == InputEventType::keyDown) {
        const bool isUnlockKey = event.keyCode >= 0 && event.keyCode <= 0xFFFF && quint16(event.keyCode) == unlockKeyCode;
        if (isUnlockKey && (event.flags & hotkeyComparisonMask) == unlockFlags) {
            // Runs after this event is dropped; calls whichever callback is set then.
            QMetaObject::invokeMethod(
                m_mainQueueContext.get(), [this] { onUnlockHotkey(); }, Qt::QueuedConnection);
        }
    }
    return true;
}
