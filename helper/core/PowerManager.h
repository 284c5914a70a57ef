// Holds at most one display-sleep assertion: while held, the screen stays
// on however long nobody touches the keyboard or mouse, so what the locked
// screen shows stays visible. Used only from the main thread.
#pragma once

#include "DisplaySleepInhibitors.h"
#include "LockComponents.h"

#include <memory>

class PowerManager final : public PowerInterface {
public:
    // The name the assertion is listed under; the session service shows it
    // as the reason. The dash is U+2014.
    static constexpr const char assertionName[] = "Paneveil active \xE2\x80\x94 preventing sleep";
    static constexpr const char logPrefix[] = "[PowerManager] ";

    // sessionInhibitor may be null where no session bus is available.
    PowerManager(std::unique_ptr<ScreenSaverSuspendInterface> screenSaver,
                 std::unique_ptr<SessionIdleInhibitInterface> sessionInhibitor);
    // A held assertion is not released here: the helper never destroys its
    // power manager, and the display server and bus drop what a process
    // held when it ends.
    ~PowerManager() override = default;

    void preventDisplaySleep() override;
    void allowDisplaySleep() override;

    quint32 assertionID() const { return m_assertionID; }
    bool isHeld() const { return m_isHeld; }

private:
    const std::unique_ptr<ScreenSaverSuspendInterface> m_screenSaver;
    const std::unique_ptr<SessionIdleInhibitInterface> m_sessionInhibitor;

    quint32 m_assertionID = 0;
    bool m_isHeld = false;
    // Which of the two inhibitors the held assertion consists of.
    bool m_screenSaverSuspended = false;
    bool m_sessionInhibited = false;
    quint32 m_lastIssuedID = 0;
};
