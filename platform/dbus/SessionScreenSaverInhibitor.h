// The session's org.freedesktop.ScreenSaver service (offered by GNOME,
// KDE, Xfce and others): Inhibit with a reason while the display must stay
// awake, UnInhibit with the cookie it answered. Nothing waits for the
// service: a reply that arrives after the inhibit was withdrawn is
// withdrawn at once.
#pragma once

#include "DisplaySleepInhibitors.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>

class SessionScreenSaverInhibitor final : public SessionIdleInhibitInterface {
public:
    static constexpr const char service[] = "org.freedesktop.ScreenSaver";
    static constexpr const char path[] = "/org/freedesktop/ScreenSaver";
    static constexpr const char interface[] = "org.freedesktop.ScreenSaver";

    explicit SessionScreenSaverInhibitor(QDBusConnection bus);

    bool inhibit(const QString &reason) override;
    void uninhibit() override;

private:
    void sendUninhibit(quint32 cookie);

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_requestInFlight = false;
    std::optional<quint32> m_cookie;
    // Owns the reply watchers; going away with the adapter drops them.
    QObject m_replies;
};
