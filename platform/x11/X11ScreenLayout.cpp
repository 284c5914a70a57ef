#include "X11ScreenLayout.h"

#include <xcb/randr.h>

#include <cstdlib>
#include <memory>

namespace {
struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
} // namespace

X11ScreenLayout::X11ScreenLayout(xcb_connection_t *connection, int screenNumber)
    : m_connection(connection)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem && screenNumber > 0; --screenNumber)
        xcb_screen_next(&it);
    m_screen = it.rem ? it.data : nullptr;

    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (randr && randr->present) {
        std::unique_ptr<xcb_randr_query_version_reply_t, FreeDeleter> version(
            xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr));
        m_hasMonitors = version && (version->major_version > 1 || version->minor_version >= 5);
    }
}

QList<QRect> X11ScreenLayout::screenFrames() const
{
    QList<QRect> frames;
    if (!m_screen)
        return frames;
    if (m_hasMonitors) {
        std::unique_ptr<xcb_randr_get_monitors_reply_t, FreeDeleter> monitors(xcb_randr_get_monitors_reply(
            m_connection, xcb_randr_get_monitors(m_connection, m_screen->root, 1), nullptr));
        if (monitors) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                frames.append(QRect(it.data->x, it.data->y, it.data->width, it.data->height));
            }
        }
    }
    if (frames.isEmpty())
        frames.append(QRect(0, 0, m_screen->width_in_pixels, m_screen->height_in_pixels));
    return frames;
}
