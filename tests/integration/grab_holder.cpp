// Another client that holds the keyboard grab for a while, as a menu or a
// hot-key handler would: grabs, prints "held", lets go after the given
// milliseconds, prints "released", then waits to be stopped.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    const int holdMs = argc > 1 ? std::atoi(argv[1]) : 0;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 1;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    xcb_map_window(connection, window);
    for (;;) {
        xcb_grab_keyboard_reply_t *grab = xcb_grab_keyboard_reply(
            connection,
            xcb_grab_keyboard(connection, false, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        const bool held = grab && grab->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(grab);
        if (held)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("held\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::printf("released\n");
    std::fflush(stdout);
    while (xcb_generic_event_t *event = xcb_wait_for_event(connection))
        std::free(event);
    return 0;
}
