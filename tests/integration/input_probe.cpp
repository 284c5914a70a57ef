// A bystander X client for the input-blocking tests: a full-screen window
// that takes the focus and logs, one line each, every key, button, motion
// and scroll event it receives: as core events (--core) or as XInput 2
// device events from master and slave devices (--xi2); X delivers only one
// of the two kinds to a window that selects both. With --raw it logs XInput
// 2 raw events from the root window instead, which no grab can withhold.

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char *coreName(uint8_t type)
{
    switch (type) {
    case XCB_KEY_PRESS: return "key-press";
    case XCB_KEY_RELEASE: return "key-release";
    case XCB_BUTTON_PRESS: return "button-press";
    case XCB_BUTTON_RELEASE: return "button-release";
    case XCB_MOTION_NOTIFY: return "motion";
    default: return nullptr;
    }
}

const char *xi2Name(uint16_t type)
{
    switch (type) {
    case XCB_INPUT_KEY_PRESS: return "key-press";
    case XCB_INPUT_KEY_RELEASE: return "key-release";
    case XCB_INPUT_BUTTON_PRESS: return "button-press";
    case XCB_INPUT_BUTTON_RELEASE: return "button-release";
    case XCB_INPUT_MOTION: return "motion";
    case XCB_INPUT_RAW_KEY_PRESS: return "raw-key-press";
    case XCB_INPUT_RAW_KEY_RELEASE: return "raw-key-release";
    case XCB_INPUT_RAW_BUTTON_PRESS: return "raw-button-press";
    case XCB_INPUT_RAW_BUTTON_RELEASE: return "raw-button-release";
    case XCB_INPUT_RAW_MOTION: return "raw-motion";
    default: return nullptr;
    }
}

void selectXi2(xcb_connection_t *connection, xcb_window_t window, uint16_t device, uint32_t mask)
{
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{device, 1}, mask};
    xcb_input_xi_select_events(connection, window, 1, &selection.head);
}

bool printEvent(xcb_generic_event_t *event, uint8_t xinputOpcode)
{
    const uint8_t type = event->response_type & 0x7f;
    if (const char *name = coreName(type)) {
        std::printf("core %s %u\n", name, reinterpret_cast<xcb_key_press_event_t *>(event)->detail);
    } else if (type == XCB_GE_GENERIC) {
        auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
        auto *device = reinterpret_cast<xcb_input_key_press_event_t *>(event);
        const char *name = generic->extension == xinputOpcode ? xi2Name(generic->event_type) : nullptr;
        if (!name)
            return false;
        std::printf("xi2 %s %u device=%u\n", name, device->detail, device->deviceid);
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    const bool raw = std::strcmp(mode, "--raw") == 0;
    const bool core = std::strcmp(mode, "--core") == 0;
    if (!raw && !core && std::strcmp(mode, "--xi2") != 0) {
        std::fprintf(stderr, "usage: input_probe --core|--xi2|--raw\n");
        return 2;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    xcb_connection_t *xi2Connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) || xcb_connection_has_error(xi2Connection)) {
        std::fprintf(stderr, "input_probe: cannot connect to the display\n");
        return 1;
    }
    const xcb_query_extension_reply_t *xinput = xcb_get_extension_data(xi2Connection, &xcb_input_id);
    if (!xinput || !xinput->present) {
        std::fprintf(stderr, "input_probe: no XInput extension\n");
        return 1;
    }
    std::unique_ptr<xcb_input_xi_query_version_reply_t, decltype(&std::free)> version(
        xcb_input_xi_query_version_reply(xi2Connection, xcb_input_xi_query_version(xi2Connection, 2, 2), nullptr), &std::free);
    if (!version || version->major_version < 2) {
        std::fprintf(stderr, "input_probe: no XInput 2\n");
        return 1;
    }

    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t coreEvents = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS
                                   | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION
                                   | XCB_EVENT_MASK_EXPOSURE;
    const uint32_t values[] = {screen->black_pixel, core ? coreEvents : uint32_t(XCB_EVENT_MASK_EXPOSURE)};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, screen->width_in_pixels,
                      screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    // The window must exist on the server before the other connection names it.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    if (raw) {
        // From every device: while slaves are grabbed they float, and their
        // raw events no longer come through the masters.
        selectXi2(xi2Connection, screen->root, XCB_INPUT_DEVICE_ALL,
                  XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE
                      | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE
                      | XCB_INPUT_XI_EVENT_MASK_RAW_MOTION);
    } else if (!core) {
        const uint32_t deviceEvents = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE
            | XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_BUTTON_RELEASE
            | XCB_INPUT_XI_EVENT_MASK_MOTION;
        // Slave devices too: a grab on the master must keep their events away as well.
        selectXi2(xi2Connection, window, XCB_INPUT_DEVICE_ALL, deviceEvents);
    }
    std::free(xcb_get_input_focus_reply(xi2Connection, xcb_get_input_focus(xi2Connection), nullptr));
    if (!raw) {
        xcb_map_window(connection, window);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    }
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::printf("ready %u\n", window);
    std::fflush(stdout);

    pollfd descriptors[] = {{xcb_get_file_descriptor(connection), POLLIN, 0},
                            {xcb_get_file_descriptor(xi2Connection), POLLIN, 0}};
    for (;;) {
        for (xcb_connection_t *source : {connection, xi2Connection}) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(source)) {
                printEvent(event, xinput->major_opcode);
                std::free(event);
            }
            if (xcb_connection_has_error(source))
                return 0;
        }
        std::fflush(stdout);
        poll(descriptors, 2, -1);
    }
}
