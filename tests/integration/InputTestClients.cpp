#include "InputTestClients.h"

#include <QDeadlineTimer>
#include <QTest>

#include <xcb/xcb_icccm.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <vector>

XTestInput::XTestInput(const QByteArray &display)
    : m_connection(xcb_connect(display.constData(), nullptr))
{
    if (!isValid())
        return;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_root = screen->root;
    // A mapped window of its own, to grab on when checking for other grabs.
    m_window = xcb_generate_id(m_connection);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, -8, -8, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    xcb_map_window(m_connection, m_window);
    auto version = xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr);
    std::free(version);
    sync();
}

XTestInput::~XTestInput()
{
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
    if (m_connection)
        xcb_disconnect(m_connection);
}

void XTestInput::key(uint8_t keycode, bool press)
{
    xcb_test_fake_input(m_connection, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0,
                        0, 0);
}

void XTestInput::tap(uint8_t keycode)
{
    key(keycode, true);
    key(keycode, false);
    sync();
}

bool XTestInput::type(const QString &text)
{
    if (!m_symbols)
        m_symbols = xcb_key_symbols_alloc(m_connection);
    std::vector<uint8_t> keycodes;
    for (const QChar character : text) {
        xcb_keycode_t *codes = m_symbols ? xcb_key_symbols_get_keycode(m_symbols, character.unicode()) : nullptr;
        const uint8_t keycode = codes ? codes[0] : 0;
        std::free(codes);
        if (!keycode)
            return false;
        keycodes.push_back(keycode);
    }
    for (const uint8_t keycode : keycodes) {
        key(keycode, true);
        key(keycode, false);
    }
    sync();
    return true;
}

void XTestInput::chord(std::initializer_list<uint8_t> modifiers, uint8_t keycode)
{
    for (uint8_t modifier : modifiers)
        key(modifier, true);
    key(keycode, true);
    key(keycode, false);
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
        key(*it, false);
    xcb_flush(m_connection);
}

void XTestInput::button(uint8_t button, bool press)
{
    xcb_test_fake_input(m_connection, press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
}

void XTestInput::click(uint8_t number)
{
    button(number, true);
    button(number, false);
}

void XTestInput::moveTo(int x, int y)
{
    xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, false, XCB_CURRENT_TIME, m_root, int16_t(x), int16_t(y), 0);
}

void XTestInput::burstOfEach(int seed)
{
    moveTo(100 + seed % 400, 100 + seed % 300);
    key(XKey::a, true);
    key(XKey::a, false);
    click(1);
    click(4);
    click(5);
    sync();
}

void XTestInput::sync()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

bool XTestInput::nothingGrabbed(bool checkKeyboard)
{
    bool free = true;
    if (checkKeyboard) {
        auto *keyboard = xcb_grab_keyboard_reply(
            m_connection,
            xcb_grab_keyboard(m_connection, false, m_window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        free = free && keyboard && keyboard->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(keyboard);
        xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
    }
    auto *pointer = xcb_grab_pointer_reply(m_connection,
                                           xcb_grab_pointer(m_connection, false, m_window, 0, XCB_GRAB_MODE_ASYNC,
                                                            XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                           nullptr);
    free = free && pointer && pointer->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(pointer);
    xcb_ungrab_pointer(m_connection, XCB_CURRENT_TIME);

    auto *devices = xcb_input_xi_query_device_reply(
        m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL), nullptr);
    if (!devices)
        return false;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices); it.rem; xcb_input_xi_device_info_next(&it)) {
        const auto *info = it.data;
        if (info->type == XCB_INPUT_DEVICE_TYPE_MASTER_POINTER || info->type == XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD)
            continue;
        if (!checkKeyboard && info->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD)
            continue;
        const uint32_t mask = XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS;
        auto *grab = xcb_input_xi_grab_device_reply(
            m_connection,
            xcb_input_xi_grab_device(m_connection, m_window, XCB_CURRENT_TIME, XCB_NONE, info->deviceid,
                                     XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                     XCB_INPUT_GRAB_OWNER_NO_OWNER, 1, &mask),
            nullptr);
        free = free && grab && grab->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(grab);
        xcb_input_xi_ungrab_device(m_connection, XCB_CURRENT_TIME, info->deviceid);
    }
    std::free(devices);
    sync();
    return free;
}

void XTestInput::unmap(uint32_t window)
{
    xcb_unmap_window(m_connection, window);
    sync();
}

ClientProcess::ClientProcess(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment)
{
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, arguments);
}

ClientProcess::~ClientProcess()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

QStringList ClientProcess::lines()
{
    while (m_process.canReadLine())
        m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
    return m_lines;
}

int ClientProcess::count(const QString &prefix)
{
    int n = 0;
    for (const QString &line : lines())
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

bool ClientProcess::waitForCount(const QString &prefix, int atLeast, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (count(prefix) >= atLeast)
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        // The event loop must keep running: the grab adapter lives on it.
        QTest::qWait(5);
    }
    return false;
}

QImage rootWindowImage(xcb_connection_t *connection)
{
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0, screen->width_in_pixels,
                      screen->height_in_pixels, ~0u),
        nullptr);
    if (!reply)
        return {};
    // Depth 24: 32 bits per pixel, little-endian BGRX.
    QImage image = QImage(xcb_get_image_data(reply), screen->width_in_pixels, screen->height_in_pixels,
                          QImage::Format_RGB32)
                       .copy();
    std::free(reply);
    return image;
}

QString windowName(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_icccm_get_text_property_reply_t text{};
    if (!xcb_icccm_get_wm_name_reply(connection, xcb_icccm_get_wm_name(connection, window), &text, nullptr))
        return {};
    const QString name = QString::fromUtf8(text.name, text.name_len);
    xcb_icccm_get_text_property_reply_wipe(&text);
    return name;
}

xcb_window_t focusedWindow(xcb_connection_t *connection)
{
    xcb_get_input_focus_reply_t *reply = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_NONE);
    std::free(reply);
    return focus;
}

QString windowClass(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_icccm_get_wm_class_reply_t reply{};
    if (!xcb_icccm_get_wm_class_reply(connection, xcb_icccm_get_wm_class(connection, window), &reply, nullptr))
        return {};
    const QString found = QString::fromUtf8(reply.instance_name) + QLatin1Char(' ') + QString::fromUtf8(reply.class_name);
    xcb_icccm_get_wm_class_reply_wipe(&reply);
    return found;
}

namespace {

void collectViewable(xcb_connection_t *connection, xcb_window_t root, xcb_window_t parent, int depth, int maxDepth,
                     QList<FoundWindow> &found)
{
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, parent), nullptr);
    if (!tree)
        return;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    for (int i = 0; i < count; ++i) {
        xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, children[i]), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable)
            continue;
        xcb_get_geometry_reply_t *geometry
            = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, children[i]), nullptr);
        xcb_translate_coordinates_reply_t *origin = xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, children[i], root, 0, 0), nullptr);
        FoundWindow window{children[i], depth, i, {}};
        if (geometry && origin)
            window.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        std::free(geometry);
        std::free(origin);
        found << window;
        if (depth < maxDepth)
            collectViewable(connection, root, children[i], depth + 1, maxDepth, found);
    }
    std::free(tree);
}

} // namespace

QList<FoundWindow> viewableWindows(xcb_connection_t *connection, int maxDepth)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    QList<FoundWindow> found;
    collectViewable(connection, root, root, 1, maxDepth, found);
    return found;
}

QList<FoundWindow> topLevelWindowsNamed(xcb_connection_t *connection, const QString &name)
{
    QList<FoundWindow> named;
    for (const FoundWindow &window : viewableWindows(connection, 1)) {
        if (windowName(connection, window.id) == name)
            named << window;
    }
    return named;
}
