#include "PowerManager.h"

#include "Log.h"

PowerManager::PowerManager(std::unique_ptr<ScreenSaverSuspendInterface> screenSaver,
                           std::unique_ptr<SessionIdleInhibitInterface> sessionInhibitor)
    : m_screenSaver(std::move(screenSaver))
    , m_sessionInhibitor(std::move(sessionInhibitor))
{
}

void PowerManager::preventDisplaySleep()
{
    if (m_isHeld)
        return;

    const quint32 result = m_screenSaver ? m_screenSaver->suspend() : PowerFailureCode::displayNotReachable;
    m_screenSaverSuspended = result == PowerFailureCode::none;
    m_sessionInhibited = m_sessionInhibitor && m_sessionInhibitor->inhibit(QString::fromUtf8(assertionName));

    // Either one keeps an idle display on by itself: the session service
    // drives blanking on desktops that have one, the server everywhere else.
    if (!m_screenSaverSuspended && !m_sessionInhibited) {
        pvLog(QString::fromLatin1(logPrefix)
              + QStringLiteral("IOPMAssertionCreateWithName failed: 0x%1").arg(result, 0, 16));
        return;
    }
    // Identifiers are never 0, which stands for "none held".
    m_lastIssuedID = m_lastIssuedID == 0xFFFFFFFFu ? 1 : m_lastIssuedID + 1;
    m_assertionID = m_lastIssuedID;
    m_isHeld = true;
}

void PowerManager::allowDisplaySleep()
{
    if (!m_isHeld)
        return;
    // Releasing is not examined: there is nothing the caller could do.
    if (m_screenSaverSuspended)
        m_screenSaver->resume();
    if (m_sessionInhibited)
        m_sessionInhibitor->uninhibit();
    m_screenSaverSuspended = false;
    m_sessionInhibited = false;
    m_assertionID = 0;
    m_isHeld = false;
}
