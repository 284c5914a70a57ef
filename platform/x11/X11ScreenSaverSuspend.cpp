#include "X11ScreenSaverSuspend.h"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

X11ScreenSaverSuspend::X11ScreenSaverSuspend(QByteArray displayName)
    : m_displayName(std::move(displayName))
{
}

X11ScreenSaverSuspend::~X11ScreenSaverSuspend()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

xcb_connection_t *X11ScreenSaverSuspend::connection()
{
    if (m_connection && xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    if (!m_connection) {
        xcb_connection_t *opened = xcb_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData(), nullptr);
        if (xcb_connection_has_error(opened)) {
            xcb_disconnect(opened);
            return nullptr;
        }
        m_connection = opened;
    }
    return m_connection;
}

quint32 X11ScreenSaverSuspend::suspend()
{
    xcb_connection_t *c = connection();
    if (!c)
        return PowerFailureCode::displayNotReachable;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_screensaver_id);
    if (!extension || !extension->present)
        return xcb_connection_has_error(c) ? PowerFailureCode::displayNotReachable : PowerFailureCode::unsupported;

    // Suspend came with version 1.1; an older server answers BadRequest,
    // which is logged like any other refusal.
    xcb_generic_error_t *error = xcb_request_check(c, xcb_screensaver_suspend_checked(c, 1));
    if (error) {
        const quint32 code = error->error_code;
        std::free(error);
        return code;
    }
    if (xcb_connection_has_error(c))
        return PowerFailureCode::displayNotReachable;
    return PowerFailureCode::none;
}

void X11ScreenSaverSuspend::resume()
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return; // a closed connection has nothing suspended any more
    // Checked, so a refusal is collected here instead of piling up unread.
    std::free(xcb_request_check(m_connection, xcb_screensaver_suspend_checked(m_connection, 0)));
}
