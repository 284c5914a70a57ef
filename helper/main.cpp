// com.zelquor.Paneveil.helper: the per-user process that owns the lock.
// Started by the session bus on demand (or by the user's service manager);
// exits cleanly, so it is not restarted, when it cannot serve anyone.

#include "AuthManager.h"
#include "BusPeerIdentity.h"
#include "CanberraSoundOutput.h"
#include "Constants.h"
#include "DesktopNotificationPrompt.h"
#include "DisplayProbe.h"
#include "EventTapManager.h"
#include "HelperBusListener.h"
#include "HelperDelegate.h"
#include "InputPermissions.h"
#include "Log.h"
#include "PamConversation.h"
#include "PowerManager.h"
#include "SessionScreenSaverInhibitor.h"
#include "UnavailableComponents.h"
#include "X11InputGrab.h"
#include "X11Overlay.h"
#include "X11UnlockDialog.h"
#include "X11ScreenSaverSuspend.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace {
const QString logPrefix = QStringLiteral("[PaneveilHelper] ");
const QString serviceName = QString::fromLatin1(PVConstants::helperMachServiceName);

int exitCleanly(const QString &reason)
{
    pvLog(logPrefix + reason + QStringLiteral("; exiting"));
    return 0;
}

// The lock's components on this X11 session. Input is blocked only where
// the owner can unlock again: PAM must start and the unlock dialog must load.
LockComponents x11Components(const QDBusConnection &bus)
{
    LockComponents components = unavailableComponents();
    auto inputGrab = std::make_shared<X11InputGrab>();
    components.permissions = std::make_unique<InputPermissions>(inputGrab);
    const OptionalText noPam = PamConversation::probe();
    const OptionalText noDialog = X11UnlockDialog::probe();
    if (!noPam && !noDialog) {
        components.eventTap = std::make_unique<EventTapManager>(inputGrab, std::make_shared<DesktopNotificationPrompt>(bus));
        components.auth = std::make_unique<AuthManager>([] { return std::make_unique<PamConversation>(); },
                                                        makeX11UnlockDialog(inputGrab));
    } else {
        pvLog(logPrefix + QStringLiteral("input blocking stays off: owners could not unlock (%1)")
                              .arg(noPam ? *noPam : *noDialog));
    }
    if (auto overlay = makeX11Overlay())
        components.overlay = std::move(overlay);
    if (auto displays = makeX11DisplayWatcher())
        components.displays = std::move(displays);
    components.power = std::make_unique<PowerManager>(std::make_unique<X11ScreenSaverSuspend>(),
                                                      std::make_unique<SessionScreenSaverInhibitor>(bus));
    components.sounds = makeInstalledSounds();
    return components;
}

} // namespace

int main(int argc, char *argv[])
{
    // The helper draws and grabs on X11 itself, and no input method may see
    // what is typed into it.
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_IM_MODULE");

    QString why;
    if (!x11DisplayReachable(&why))
        return exitCleanly(why);

    QGuiApplication application(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return exitCleanly(QStringLiteral("no session bus (%1)").arg(bus.lastError().message()));

    HelperDelegate delegate(x11Components(bus));
    HelperBusListener listener(delegate, bus, busPeerCheck(bus, QString::fromLatin1(PVConstants::appCodeSigningRequirement)));
    QObject::connect(&listener, &HelperBusListener::busDisconnected, &application, [] {
        pvLog(logPrefix + QStringLiteral("the session bus went away; exiting"));
        QCoreApplication::exit(0);
    });

    switch (listener.resume(&why)) {
    case HelperBusListener::ResumeResult::Listening:
        break;
    case HelperBusListener::ResumeResult::NameTaken:
        return exitCleanly(why);
    case HelperBusListener::ResumeResult::Failed:
        pvLog(logPrefix + why);
        return 1;
    }
    pvLog(logPrefix + QStringLiteral("listening on %1").arg(serviceName));
    return application.exec();
}
