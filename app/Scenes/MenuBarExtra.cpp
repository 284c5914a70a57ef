#include "MenuBarExtra.h"

#include "AppViews.h"
#include "PopoverPlacement.h"
#include "SceneObjects.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QtMath>

namespace {

// A click on the icon that arrives this soon after focus left the popover
// is the click that took the focus.
constexpr qint64 sameClickMs = 300;

} // namespace

MenuBarExtra::MenuBarExtra(LockState &lockState, AppSettings &settings, HelperService &helperService,
                           QObject *parent)
    : QObject(parent)
    , m_lockState(lockState)
    , m_viewObjects(sceneObjects(lockState, settings, helperService))
{
    AppViews::registerTypes();
    m_tray.setToolTip(QStringLiteral("Paneveil"));
    updateIcon();
    connect(&m_lockState, &LockState::isLockedChanged, this, &MenuBarExtra::updateIcon);
    connect(&m_tray, &QSystemTrayIcon::activated, this, &MenuBarExtra::trayActivated);
    // Shown even without a tray host: Qt puts it in one that starts later.
    m_tray.show();

    m_popover = std::make_unique<QQuickView>();
    m_popover->setTitle(QStringLiteral("Paneveil"));
    m_popover->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_popover->setResizeMode(QQuickView::SizeViewToRootObject);
    m_popover->installEventFilter(this);
    connect(m_popover.get(), &QWindow::activeChanged, this, &MenuBarExtra::popoverActiveChanged);
}

MenuBarExtra::~MenuBarExtra() = default;

bool MenuBarExtra::trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MenuBarExtra::updateIcon()
{
    m_tray.setIcon(QIcon(AppViews::trayIconPath(m_lockState.isLocked())));
}

void MenuBarExtra::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    if (isPopoverOpen()) {
        closePopover();
        return;
    }
    if (m_closedByFocusLoss.isValid() && m_closedByFocusLoss.elapsed() < sameClickMs)
        return;
    openPopover(trayAnchor());
}

QRect MenuBarExtra::trayAnchor() const
{
    const QRect icon = m_tray.geometry();
    if (icon.isValid() && !icon.isEmpty())
        return icon;
    return QRect(QCursor::pos(), QSize(1, 1));
}

void MenuBarExtra::openPopover(const QRect &anchor)
{
    m_closedByFocusLoss.invalidate();
    // Built afresh, so what it shows is computed now.
    m_popover->setInitialProperties(m_viewObjects);
    m_popover->setSource(AppViews::menuBarPopoverUrl());
    QQuickItem *content = m_popover->rootObject();
    if (!content) {
        qWarning("Paneveil: the popover could not be loaded: %s",
                 qPrintable(m_popover->errors().isEmpty() ? QString() : m_popover->errors().constFirst().toString()));
        return;
    }
    connect(content, SIGNAL(aboutToToggleLock()), this, SLOT(closePopover()));
    connect(content, SIGNAL(openSettings()), this, SLOT(closePopover()));
    connect(content, SIGNAL(openSettings()), this, SIGNAL(settingsRequested()));
    connect(content, SIGNAL(quit()), QCoreApplication::instance(), SLOT(quit()));

    // Its layouts settle after the first polish, so the height may still
    // change; the place follows it.
    m_anchor = anchor;
    connect(content, &QQuickItem::heightChanged, this, &MenuBarExtra::placePopover);
    placePopover();
    m_popover->show();
    m_popover->raise();
    m_popover->requestActivate();
}

void MenuBarExtra::placePopover()
{
    const QQuickItem *content = m_popover->rootObject();
    if (!content)
        return;
    const QSize size(popoverWidth, qMax(1, qCeil(content->height())));
    QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    m_popover->setGeometry(QRect(PopoverPlacement::position(m_anchor, size, available), size));
}

void MenuBarExtra::closePopover()
{
    if (!m_popover->isVisible())
        return;
    m_popover->hide();
    // Dropped so nothing is evaluated while nobody looks; later, since the
    // content may be in the middle of the handler that asked for this.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_popover->isVisible())
                m_popover->setSource(QUrl());
        },
        Qt::QueuedConnection);
}

bool MenuBarExtra::isPopoverOpen() const
{
    return m_popover->isVisible();
}

void MenuBarExtra::popoverActiveChanged()
{
    if (m_popover->isActive() || !m_popover->isVisible())
        return;
    m_closedByFocusLoss.start();
    closePopover();
}

bool MenuBarExtra::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_popover.get() && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        closePopover();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
