// The two desktop services that keep an idle display awake, as the power
// manager sees them: the window system's own screen saver (suspended), and
// the session's screen-saver service (asked to hold off idleness). Real
// ones live in platform/x11 and platform/dbus; tests use fakes.
#pragma once

#include <QString>
#include <QtGlobal>

// Codes the power manager logs when no inhibitor could be put in place.
// They follow the shape of IOKit's return codes where a failure has a
// counterpart there, so the log line reads the same on every platform; a
// request the window system refused logs that system's own error number.
namespace PowerFailureCode {
inline constexpr quint32 none = 0;
// No display connection (no server, or the connection broke): kIOReturnNotReady.
inline constexpr quint32 displayNotReachable = 0xE00002D8;
// The display server lacks the screen-saver extension (kIOReturnUnsupported).
inline constexpr quint32 unsupported = 0xE00002C7;
// Any other X protocol error is logged as its own error code (1..255).
} // namespace PowerFailureCode

class ScreenSaverSuspendInterface {
public:
    virtual ~ScreenSaverSuspendInterface() = default;
    // Holds off the screen saver and display power saving for this client
    // until resume. Answers PowerFailureCode::none when in place, else the
    // code of the failure (nothing is left suspended then).
    virtual quint32 suspend() = 0;
    // Ends one suspend; only called after a successful one.
    virtual void resume() = 0;
};

class SessionIdleInhibitInterface {
public:
    virtual ~SessionIdleInhibitInterface() = default;
    // Asks the session's screen-saver service to hold off idleness, giving
    // the reason it may show. False when the session offers no such service,
    // in which case nothing was asked.
    virtual bool inhibit(const QString &reason) = 0;
    // Withdraws what inhibit asked for, including a request still in flight.
    virtual void uninhibit() = 0;
};
