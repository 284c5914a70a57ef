#include "SessionScreenSaverInhibitor.h"

#include "Constants.h"
#include "Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString logPrefix = QStringLiteral("[PowerManager] ");

QDBusMessage screenSaverCall(const QString &member)
{
    return QDBusMessage::createMethodCall(QString::fromLatin1(SessionScreenSaverInhibitor::service),
                                          QString::fromLatin1(SessionScreenSaverInhibitor::path),
                                          QString::fromLatin1(SessionScreenSaverInhibitor::interface), member);
}
} // namespace

SessionScreenSaverInhibitor::SessionScreenSaverInhibitor(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

bool SessionScreenSaverInhibitor::inhibit(const QString &reason)
{
    if (!m_bus.isConnected())
        return false;
    if (m_cookie || m_requestInFlight) {
        // Still held, or about to be: the reply will be kept.
        m_wanted = true;
        return true;
    }
    // Only a running service counts as offered; a session without one must
    // not have one activated just for this.
    QDBusConnectionInterface *busInterface = m_bus.interface();
    if (!busInterface || !busInterface->isServiceRegistered(QString::fromLatin1(service)).value())
        return false;

    m_wanted = true;
    m_requestInFlight = true;
    QDBusMessage call = screenSaverCall(QStringLiteral("Inhibit"));
    call << QString::fromLatin1(PVConstants::helperBundleID) << reason;
    call.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), &m_replies);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_replies, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        m_requestInFlight = false;
        const QDBusPendingReply<quint32> reply = *finished;
        if (reply.isError()) {
            pvLog(logPrefix + QStringLiteral("%1.Inhibit failed: %2").arg(QString::fromLatin1(interface), reply.error().message()));
            return;
        }
        if (m_wanted)
            m_cookie = reply.value();
        else
            sendUninhibit(reply.value());
    });
    return true;
}

void SessionScreenSaverInhibitor::uninhibit()
{
    m_wanted = false;
    if (m_cookie) {
        sendUninhibit(*m_cookie);
        m_cookie.reset();
    }
}

void SessionScreenSaverInhibitor::sendUninhibit(quint32 cookie)
{
    // Like any release, the answer is not examined.
    QDBusMessage call = screenSaverCall(QStringLiteral("UnInhibit"));
    call << cookie;
    call.setAutoStartService(false);
    m_bus.send(call);
}
