#include "SettingsScene.h"

#include "AppViews.h"
#include "SceneObjects.h"

#include <QGuiApplication>
#include <QQuickView>
#include <QScreen>

SettingsScene::SettingsScene(LockState &lockState, AppSettings &settings, HelperService &helperService,
                             QObject *parent)
    : QObject(parent)
    , m_viewObjects(sceneObjects(lockState, settings, helperService))
{
    AppViews::registerTypes();
}

SettingsScene::~SettingsScene() = default;

void SettingsScene::open()
{
    if (!m_window) {
        m_window = std::make_unique<QQuickView>();
        m_window->setTitle(QStringLiteral("Paneveil Settings"));
        m_window->setResizeMode(QQuickView::SizeRootObjectToView);
        const QSize size(width, height);
        m_window->resize(size);
        m_window->setMinimumSize(size);
        m_window->setMaximumSize(size);
        // Centred where no window manager places it.
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), size);
            frame.moveCenter(screen->availableGeometry().center());
            m_window->setPosition(frame.topLeft());
        }
        connect(m_window.get(), &QWindow::visibleChanged, this, [this](bool visible) {
            if (!visible)
                m_window->setSource(QUrl());
        });
    }
    if (!m_window->isVisible()) {
        m_window->setInitialProperties(m_viewObjects);
        m_window->setSource(AppViews::settingsViewUrl());
        m_window->show();
    }
    m_window->raise();
    m_window->requestActivate();
}

bool SettingsScene::isOpen() const
{
    return m_window && m_window->isVisible();
}
