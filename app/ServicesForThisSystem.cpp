#include "ServicesForThisSystem.h"

#include "Constants.h"
#include "HotkeyManager.h"
#include "SessionBusDesktop.h"
#include "XcbHotkeyGrabber.h"
#include "XdgLoginItemService.h"

#include <QCoreApplication>

namespace {
QString helperIn(const QString &directory)
{
    return directory + u'/' + QLatin1StringView(PVConstants::helperBundleID);
}
} // namespace

InstalledLayout InstalledLayout::configured()
{
    return {QStringLiteral(PANEVEIL_INSTALLED_APP_DIR "/" PANEVEIL_APP_EXECUTABLE_NAME),
            helperIn(QStringLiteral(PANEVEIL_INSTALLED_HELPER_DIR)), QStringLiteral(PANEVEIL_INSTALLED_DATA_DIR)};
}

InstalledLayout InstalledLayout::underPrefix(const QString &prefix)
{
    return {prefix + QStringLiteral("/" PANEVEIL_RELATIVE_APP_DIR "/" PANEVEIL_APP_EXECUTABLE_NAME),
            helperIn(prefix + QStringLiteral("/" PANEVEIL_RELATIVE_HELPER_DIR)),
            prefix + QStringLiteral("/" PANEVEIL_RELATIVE_DATA_DIR)};
}

QString InstalledLayout::permissionsHelpPage() const
{
    return dataDirectory + QStringLiteral("/help/permissions.html");
}

HelperService::Platform helperServicePlatform(const InstalledLayout &layout, const QString &runningAppPath,
                                              const QDBusConnection &bus, const QProcessEnvironment &environment)
{
    XdgLoginItemService::Options options =
        XdgLoginItemService::Options::fromEnvironment(layout.helperExecutable, layout.dataDirectory, environment);
    options.reloadBus = [bus] { requestBusReload(bus); };

    HelperService::Platform platform;
    platform.loginItemService = std::make_unique<XdgLoginItemService>(std::move(options));
    platform.helperPresence = std::make_unique<SessionBusHelperPresence>(bus);
    platform.workspace = std::make_unique<FileManagerWorkspace>(bus);
    platform.runningAppPath = runningAppPath;
    platform.installedAppPath = layout.appExecutable;
    platform.installedHelperPath = layout.helperExecutable;
    platform.permissionsHelpPath = layout.permissionsHelpPage();
    return platform;
}

std::unique_ptr<HelperService> HelperService::createForThisSystem(QObject *parent)
{
    return std::make_unique<HelperService>(
        helperServicePlatform(InstalledLayout::configured(), QCoreApplication::applicationFilePath(),
                              QDBusConnection::sessionBus()),
        parent);
}

std::unique_ptr<HotkeyManager> HotkeyManager::createForThisSystem()
{
    return std::make_unique<HotkeyManager>(XcbHotkeyGrabber::forQtApplication());
}
