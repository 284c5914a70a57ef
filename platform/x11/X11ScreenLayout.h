// The attached screens as the X server lays them out: RandR monitors in
// device pixels, or the root window when the server has no monitors.
#pragma once

#include "OverlayAdapters.h"

#include <xcb/xcb.h>

class X11ScreenLayout final : public ScreenLayoutAdapter {
public:
    X11ScreenLayout(xcb_connection_t *connection, int screenNumber);
    QList<QRect> screenFrames() const override;

private:
    xcb_connection_t *m_connection;
    xcb_screen_t *m_screen = nullptr;
    bool m_hasMonitors = false;
};
