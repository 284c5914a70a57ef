#include "DesktopNotificationPrompt.h"

#include "Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString appName = QStringLiteral("Paneveil");
} // namespace

DesktopNotificationPrompt::DesktopNotificationPrompt(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

QString DesktopNotificationPrompt::summary(Permission permission)
{
    return permission == Permission::Accessibility ? QStringLiteral("Paneveil needs a trusted X connection")
                                                   : QStringLiteral("Paneveil needs XInput 2");
}

QString DesktopNotificationPrompt::body(Permission permission)
{
    if (permission == Permission::Accessibility) {
        return QStringLiteral("The X server treats the helper as an untrusted client (an untrusted X authority, "
                              "or XWayland), so it cannot hold keyboard and pointer input. Start the helper in "
                              "the X11 session with the session's own X authority.");
    }
    return QStringLiteral("The X server does not let the helper use the XInput 2 extension, so it cannot read "
                          "the input devices it has to hold back. Run the helper on an X server that offers "
                          "XInput 2 to it.");
}

void DesktopNotificationPrompt::request(Permission permission)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                                         QString::fromLatin1(interface), QStringLiteral("Notify"));
    notify << appName << quint32(0) << QString() << summary(permission) << body(permission) << QStringList()
           << QVariantMap() << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *finished) {
        QDBusPendingReply<quint32> reply = *finished;
        if (reply.isError())
            pvLog(QStringLiteral("[EventTapManager] permission notification failed: %1").arg(reply.error().message()));
        finished->deleteLater();
    });
}
