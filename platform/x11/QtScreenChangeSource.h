// Screen-configuration changes as Qt's xcb platform reports them (RandR
// outputs and monitors). One RandR change may reach Qt as several screen
// signals; they are folded into one notification per pass of the event loop.
#pragma once

#include "OverlayAdapters.h"

#include <QObject>

class QScreen;

class QtScreenChangeSource final : public QObject, public ScreenChangeSource {
    Q_OBJECT
public:
    QtScreenChangeSource();
    void subscribe(std::function<void()> handler) override;
    void unsubscribe() override;

private:
    void watchScreen(QScreen *screen);
    void changed();

    std::function<void()> m_handler;
    bool m_pending = false;
};
