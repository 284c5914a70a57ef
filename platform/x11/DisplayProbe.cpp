#include "DisplayProbe.h"

#include <xcb/xcb.h>

bool x11DisplayReachable(QString *why)
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        *why = QStringLiteral("no X display (DISPLAY is not set)");
        return false;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error) {
        *why = QStringLiteral("cannot connect to the X display %1").arg(display);
        return false;
    }
    return true;
}
