// The one-time permission "prompt" on a Linux desktop: a notification
// through org.freedesktop.Notifications naming the missing condition. Sent
// without waiting, so a missing notification daemon never delays a lock.
#pragma once

#include "InputGrab.h"

#include <QDBusConnection>
#include <QString>

class DesktopNotificationPrompt final : public PermissionPromptInterface {
public:
    static constexpr const char service[] = "org.freedesktop.Notifications";
    static constexpr const char path[] = "/org/freedesktop/Notifications";
    static constexpr const char interface[] = "org.freedesktop.Notifications";

    explicit DesktopNotificationPrompt(QDBusConnection bus);
    void request(Permission permission) override;

    static QString summary(Permission permission);
    static QString body(Permission permission);

private:
    QDBusConnection m_bus;
};
