#include "PaneveilApp.h"

#include "AppSettings.h"
#include "BusHelperTransport.h"
#include "DisplayProbe.h"
#include "HelperService.h"
#include "HotkeyManager.h"
#include "LockState.h"
#include "MenuBarExtra.h"
#include "SettingsScene.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>

namespace {

const QString waylandRefusal = QStringLiteral("Paneveil cannot block input on a Wayland session yet.");

bool isWaylandSession()
{
    const QString sessionType = qEnvironmentVariable("XDG_SESSION_TYPE");
    if (sessionType == QLatin1String("wayland"))
        return true;
    return sessionType != QLatin1String("x11") && qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

void printLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

PaneveilApp::PaneveilApp()
{
    // 1-4: the four objects, in this order.
    m_lockState = std::make_unique<LockState>(std::make_shared<BusHelperTransport>(QDBusConnection::sessionBus()));
    m_settings = std::make_unique<AppSettings>(AppSettings::standardStore());
    m_helperService = HelperService::createForThisSystem();
    m_hotkeys = HotkeyManager::createForThisSystem();
    // 5-6: they are this object's fields from here on.
    // 7: subscribed before the registration starts, so no state is missed.
    m_lockState->attach(m_helperService.get(), m_settings.get());
    // 8: the model opens the connection itself once the registration is enabled.
    m_helperService->ensureRegistered();
    // 9-10: Control+Super+L and Control+Super+U; a refused one stays absent.
    constexpr quint32 controlCommand = HotkeyModifier::control | HotkeyModifier::command;
    m_hotkeys->registerHotkey(HotkeyKeyCode::ansiL, controlCommand, [this] {
        // The popover must not sit under the overlay holding focus.
        if (m_menuBarExtra)
            m_menuBarExtra->closePopover();
        m_lockState->lock();
    });
    LockState *model = m_lockState.get();
    m_hotkeys->registerHotkey(HotkeyKeyCode::ansiU, controlCommand, [model] { model->unlock(); });
}

void PaneveilApp::showScenes()
{
    m_settingsScene = std::make_unique<SettingsScene>(*m_lockState, *m_settings, *m_helperService);
    m_menuBarExtra = std::make_unique<MenuBarExtra>(*m_lockState, *m_settings, *m_helperService);
    QObject::connect(m_menuBarExtra.get(), &MenuBarExtra::settingsRequested, m_settingsScene.get(),
                     &SettingsScene::open);
    if (!MenuBarExtra::trayAvailable())
        printLine(QStringLiteral("Paneveil: no system tray in this session, so no lock icon; Control+Super+L and "
                                 "Control+Super+U and the paneveil command still lock and unlock."));
}

// Scenes and hot keys go first (they point at the model), the model last.
PaneveilApp::~PaneveilApp()
{
    m_menuBarExtra.reset();
    m_settingsScene.reset();
    m_hotkeys.reset();
    m_helperService.reset();
    m_settings.reset();
    m_lockState.reset();
}

QString PaneveilApp::whyItCannotRun()
{
    if (isWaylandSession())
        return waylandRefusal;
    QString why;
    if (!x11DisplayReachable(&why))
        return QStringLiteral("Paneveil needs an X11 display: %1.").arg(why);
    return {};
}

int PaneveilApp::run(int argc, char *argv[])
{
    const QString why = whyItCannotRun();
    if (!why.isEmpty()) {
        printLine(why);
        return 1;
    }
    // Hot keys are X11 key grabs, so the app runs on X11 whatever the
    // environment asks for.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!QDBusConnection::sessionBus().isConnected()) {
        printLine(QStringLiteral("Paneveil needs a session bus: %1").arg(QDBusConnection::sessionBus().lastError().message()));
        return 1;
    }
    PaneveilApp app;
    app.showScenes();
    return QApplication::exec();
}
