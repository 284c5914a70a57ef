#include "QtScreenChangeSource.h"

#include <QGuiApplication>
#include <QScreen>

QtScreenChangeSource::QtScreenChangeSource()
{
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        watchScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        watchScreen(screen);
        changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &QtScreenChangeSource::changed);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &QtScreenChangeSource::changed);
}

void QtScreenChangeSource::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, &QtScreenChangeSource::changed);
}

void QtScreenChangeSource::subscribe(std::function<void()> handler)
{
    m_handler = std::move(handler);
}

void QtScreenChangeSource::unsubscribe()
{
    m_handler = nullptr;
}

void QtScreenChangeSource::changed()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pending = false;
            if (m_handler)
                m_handler();
        },
        Qt::QueuedConnection);
}
