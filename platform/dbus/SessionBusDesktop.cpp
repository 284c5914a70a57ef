#include "SessionBusDesktop.h"

#include "Constants.h"
#include "DesktopOpener.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

namespace {
constexpr char busService[] = "org.freedesktop.DBus";
constexpr char busPath[] = "/org/freedesktop/DBus";
constexpr char fileManagerService[] = "org.freedesktop.FileManager1";
constexpr char fileManagerPath[] = "/org/freedesktop/FileManager1";
} // namespace

bool requestBusReload(const QDBusConnection &bus, QString *error)
{
    const QDBusMessage request = QDBusMessage::createMethodCall(
        QLatin1StringView(busService), QLatin1StringView(busPath), QLatin1StringView(busService),
        QStringLiteral("ReloadConfig"));
    const QDBusMessage reply = bus.call(request);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error)
            *error = reply.errorMessage();
        return false;
    }
    return true;
}

SessionBusHelperPresence::SessionBusHelperPresence(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

bool SessionBusHelperPresence::externalHelperIsRunning()
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    const QDBusReply<bool> reply =
        m_bus.interface()->isServiceRegistered(QLatin1StringView(PVConstants::helperMachServiceName));
    return reply.isValid() && reply.value();
}

FileManagerWorkspace::FileManagerWorkspace(QDBusConnection bus, QString openerProgram)
    : m_bus(std::move(bus))
    , m_openerProgram(std::move(openerProgram))
{
}

void FileManagerWorkspace::openUrl(const QUrl &url)
{
    DesktopOpener::open(m_openerProgram, url);
}

void FileManagerWorkspace::revealFile(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString opener = m_openerProgram;
    if (!m_bus.isConnected()) {
        DesktopOpener::open(opener, QUrl::fromLocalFile(folder));
        return;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(
        QLatin1StringView(fileManagerService), QLatin1StringView(fileManagerPath),
        QLatin1StringView(fileManagerService), QStringLiteral("ShowItems"));
    request << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // Without a file manager on the bus the call fails; then the folder opens.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(request));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [opener, folder](QDBusPendingCallWatcher *finished) {
                         if (finished->isError())
                             DesktopOpener::open(opener, QUrl::fromLocalFile(folder));
                         finished->deleteLater();
                     });
}
