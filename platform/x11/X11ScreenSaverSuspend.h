// Suspends the X server's screen saver through the MIT-SCREEN-SAVER
// extension (version 1.1), which also holds off DPMS power saving. Uses a
// connection of its own, opened on first use: the server counts suspends
// per client and drops them when that client's connection closes, so a
// helper that dies cannot leave the display awake forever.
#pragma once

#include "DisplaySleepInhibitors.h"

#include <QByteArray>

struct xcb_connection_t;

class X11ScreenSaverSuspend final : public ScreenSaverSuspendInterface {
public:
    // displayName empty: the DISPLAY of the environment.
    explicit X11ScreenSaverSuspend(QByteArray displayName = {});
    ~X11ScreenSaverSuspend() override;
    X11ScreenSaverSuspend(const X11ScreenSaverSuspend &) = delete;
    X11ScreenSaverSuspend &operator=(const X11ScreenSaverSuspend &) = delete;

    quint32 suspend() override;
    void resume() override;

private:
    // A working connection, reopened when the old one broke; null if none.
    xcb_connection_t *connection();

    const QByteArray m_displayName;
    xcb_connection_t *m_connection = nullptr;
};
