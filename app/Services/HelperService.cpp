#include "HelperService.h"

#include "Constants.h"
#include "Log.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace {

HelperService::State stateForRawStatus(int status)
{
    switch (status) {
    case LoginItemServiceInterface::notRegistered:
        return HelperService::State::notRegistered;
    case LoginItemServiceInterface::enabled:
        return HelperService::State::enabled;
    case LoginItemServiceInterface::requiresApproval:
        return HelperService::State::needsApproval;
    case LoginItemServiceInterface::notFound:
        return HelperService::State::serviceNotFound;
    default:
        return HelperService::State::unknown;
    }
}

} // namespace

HelperService::HelperService(Platform platform, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
{
}

HelperService::~HelperService()
{
    stopPolling();
}

bool HelperService::canManageRegistration() const
{
    // Paths that do not exist resolve to nothing; two of those are no match.
    const QString running = QFileInfo(m_platform.runningAppPath).canonicalFilePath();
    const QString installed = QFileInfo(m_platform.installedAppPath).canonicalFilePath();
    return !running.isEmpty() && running == installed;
}

void HelperService::assignState(State state)
{
    m_state = state;
    Q_EMIT stateChanged(state);
}

void HelperService::refresh()
{
    if (!canManageRegistration()) {
        refreshExternalHelperState();
        return;
    }
    const State state = stateForRawStatus(m_platform.loginItemService->status());
    assignState(state);
    if (state == State::enabled)
        stopPolling();
}

void HelperService::refreshExternalHelperState()
{
    if (m_platform.helperPresence->externalHelperIsRunning()) {
        assignState(State::enabled);
        stopPolling();
    } else {
        assignState(State::serviceNotFound);
    }
}

void HelperService::ensureRegistered()
{
    refresh();
    if (!canManageRegistration()) {
        startPolling();
        return;
    }
    if (m_platform.loginItemService->status() == LoginItemServiceInterface::requiresApproval) {
        startPolling();
        return;
    }
    const int status = m_platform.loginItemService->status();
    if (status != LoginItemServiceInterface::notRegistered && status != LoginItemServiceInterface::notFound)
        return;
    QString error;
    if (!m_platform.loginItemService->registerService(&error))
        pvLog(QStringLiteral("[HelperService] register() failed: %1").arg(error));
    refresh();
    startPolling();
}

void HelperService::startPolling()
{
    if (m_pollTimer)
        return;
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(pollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, [self = QPointer<HelperService>(this)] {
        // The refresh runs as a job of its own; a service gone by then is skipped.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self)
                    self->refresh();
            },
            Qt::QueuedConnection);
    });
    m_pollTimer->start();
}

void HelperService::stopPolling()
{
    if (!m_pollTimer)
        return;
    m_pollTimer->stop();
    delete m_pollTimer;
    m_pollTimer = nullptr;
}

void HelperService::unregister()
{
    if (canManageRegistration()) {
        QString error;
        if (!m_platform.loginItemService->unregisterService(&error))
            pvLog(QStringLiteral("[HelperService] unregister() failed: %1").arg(error));
    }
    refresh();
}

void HelperService::repairRegistration()
{
    if (!canManageRegistration()) {
        refresh();
        return;
    }
    stopPolling();
    QString error;
    if (!m_platform.loginItemService->unregisterService(&error))
        pvLog(QStringLiteral("[HelperService] repair unregister() failed: %1").arg(error));
    refresh();
    error.clear();
    if (!m_platform.loginItemService->registerService(&error))
        pvLog(QStringLiteral("[HelperService] repair register() failed: %1").arg(error));
    refresh();
    if (m_platform.loginItemService->status() != LoginItemServiceInterface::enabled)
        startPolling();
}

void HelperService::openLoginItemsSettings()
{
    m_platform.loginItemService->openSystemSettingsLoginItems();
}

void HelperService::openPermissionsHelp(const QString &anchor)
{
    if (m_platform.permissionsHelpPath.isEmpty())
        return;
    QUrl url = QUrl::fromLocalFile(m_platform.permissionsHelpPath);
    url.setFragment(anchor);
    if (!url.isValid())
        return;
    m_platform.workspace->openUrl(url);
}

void HelperService::openAccessibilitySettings()
{
    openPermissionsHelp(QStringLiteral("Privacy_Accessibility"));
}

void HelperService::openInputMonitoringSettings()
{
    openPermissionsHelp(QStringLiteral("Privacy_ListenEvent"));
}

void HelperService::revealHelperInFinder()
{
    // Always the installed helper, whichever copy of the app runs.
    m_platform.workspace->revealFile(m_platform.installedHelperPath);
}
