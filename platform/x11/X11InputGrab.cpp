#include "X11InputGrab.h"

#include "Log.h"

#include <QGuiApplication>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}

// Extensions the X server shows to a connection it does not trust (the
// SECURITY extension hides every other one from such clients).
constexpr std::array<const char *, 2> untrustedVisibleExtensions = {"BIG-REQUESTS", "XC-MISC"};

// Pointer motion is not asked for: the grab alone keeps it from every other
// client, and the server then drops it instead of sending it here, which
// makes a moving mouse cost the helper nothing.
constexpr uint32_t coreKeyboardEvents = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
constexpr uint32_t corePointerEvents = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE
    | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW;
constexpr uint32_t slaveDeviceEvents = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE
    | XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_BUTTON_RELEASE;

// X key codes are evdev codes plus 8. The blocker names keys by position in
// the codes of the ANSI layout; these are the keys of the main block.
constexpr int evdevOffset = 8;
constexpr std::array<std::pair<uint8_t, quint16>, 48> keyPositions = {{
    {1, 53},  {2, 18},  {3, 19},  {4, 20},  {5, 21},  {6, 23},  {7, 22},  {8, 26},  {9, 28},  {10, 25},
    {11, 29}, {12, 27}, {13, 24}, {14, 51}, {15, 48}, {16, 12}, {17, 13}, {18, 14}, {19, 15}, {20, 17},
    {21, 16}, {22, 32}, {23, 34}, {24, 31}, {25, 35}, {26, 33}, {27, 30}, {28, 36}, {30, 0},  {31, 1},
    {32, 2},  {33, 3},  {34, 5},  {35, 4},  {36, 38}, {37, 40}, {38, 37}, {39, 41}, {40, 39}, {41, 50},
    {43, 42}, {44, 6},  {45, 7},  {46, 8},  {47, 9},  {48, 11}, {49, 45}, {50, 46},
}};
constexpr std::array<std::pair<uint8_t, quint16>, 4> moreKeyPositions = {{{51, 43}, {52, 47}, {53, 44}, {57, 49}}};

qint64 keyPosition(uint8_t keycode)
{
    const int evdev = int(keycode) - evdevOffset;
    for (const auto &[code, position] : keyPositions) {
        if (code == evdev)
            return position;
    }
    for (const auto &[code, position] : moreKeyPositions) {
        if (code == evdev)
            return position;
    }
    return InputKeyPosition::unknown;
}

constexpr xcb_keysym_t superLeft = 0xffeb, superRight = 0xffec;
constexpr xcb_keysym_t altLeft = 0xffe9, altRight = 0xffea, metaLeft = 0xffe7, metaRight = 0xffe8;
constexpr xcb_keysym_t numLock = 0xff7f;

constexpr uint8_t buttonLeft = 1, buttonRight = 3, firstScrollButton = 4, lastScrollButton = 7;

quint32 buttonEventType(uint8_t button, bool press)
{
    if (button == buttonLeft)
        return press ? InputEventType::leftMouseDown : InputEventType::leftMouseUp;
    if (button == buttonRight)
        return press ? InputEventType::rightMouseDown : InputEventType::rightMouseUp;
    if (button >= firstScrollButton && button <= lastScrollButton)
        return InputEventType::scrollWheel;
    return press ? InputEventType::otherMouseDown : InputEventType::otherMouseUp;
}

bool retryable(uint8_t status)
{
    // Another client holds a grab, or the device is frozen by one.
    return status == XCB_GRAB_STATUS_ALREADY_GRABBED || status == XCB_GRAB_STATUS_FROZEN;
}

} // namespace

X11InputGrab::X11InputGrab()
{
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        m_connection = x11->connection();
    if (m_connection) {
        const xcb_query_extension_reply_t *xinput = xcb_get_extension_data(m_connection, &xcb_input_id);
        if (xinput && xinput->present)
            m_xinputOpcode = xinput->major_opcode;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    m_retakeTimer.setInterval(retakeInterval);
    QObject::connect(&m_retakeTimer, &QTimer::timeout, [this] { onRetakeTimer(); });
}

X11InputGrab::~X11InputGrab()
{
    if (!m_connection)
        return;
    if (QCoreApplication *application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
    release();
    if (m_window) {
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
}

bool X11InputGrab::sessionIsWayland() const
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool X11InputGrab::accessibilityTrusted()
{
    if (!m_connection)
        return false;
    if (m_trusted)
        return *m_trusted;
    auto extensions = reply(xcb_list_extensions_reply(m_connection, xcb_list_extensions(m_connection), nullptr));
    if (!extensions)
        return false;
    bool seesTrustedOnlyExtension = false;
    bool xwayland = false;
    for (auto it = xcb_list_extensions_names_iterator(extensions.get()); it.rem; xcb_str_next(&it)) {
        const QByteArray name(xcb_str_name(it.data), xcb_str_name_length(it.data));
        if (name == "XWAYLAND")
            xwayland = true;
        bool visibleToAll = false;
        for (const char *untrustedVisible : untrustedVisibleExtensions)
            visibleToAll = visibleToAll || name == untrustedVisible;
        seesTrustedOnlyExtension = seesTrustedOnlyExtension || !visibleToAll;
    }
    // Under XWayland a grab holds back only X clients' input, not the session's.
    m_trusted = seesTrustedOnlyExtension && !xwayland;
    return *m_trusted;
}

bool X11InputGrab::inputMonitoringTrusted()
{
    if (!m_connection || !m_xinputOpcode)
        return false;
    if (m_xinput2Usable)
        return *m_xinput2Usable;
    // Qt has normally announced XInput 2 on this connection already; asking
    // for a lower version than it did would be an error, so ask only if a
    // device query is refused.
    xcb_generic_error_t *error = nullptr;
    auto devices = reply(xcb_input_xi_query_device_reply(
        m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL_MASTER), &error));
    std::free(error);
    if (!devices) {
        auto version = reply(xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2),
                                                              nullptr));
        if (version && version->major_version >= 2) {
            devices = reply(xcb_input_xi_query_device_reply(
                m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL_MASTER), nullptr));
        }
    }
    m_xinput2Usable = devices != nullptr;
    return *m_xinput2Usable;
}

bool X11InputGrab::ensureWindow()
{
    if (m_window)
        return true;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    if (!screen)
        return false;
    const xcb_window_t window = xcb_generate_id(m_connection);
    // Off screen and one pixel: while unlocked it must catch no click.
    const uint32_t values[] = {1, coreKeyboardEvents | corePointerEvents | XCB_EVENT_MASK_FOCUS_CHANGE
                                      | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_void_cookie_t created = xcb_create_window_checked(
        m_connection, XCB_COPY_FROM_PARENT, window, screen->root, -16, -16, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    if (xcb_generic_error_t *error = xcb_request_check(m_connection, created)) {
        pvLog(QStringLiteral("[EventTapManager] cannot create the grab window: X error %1").arg(error->error_code));
        std::free(error);
        return false;
    }
    static constexpr char name[] = "Paneveil input grab";
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof(name) - 1, name);
    // X refuses grabs on a window that is not viewable.
    xcb_map_window(m_connection, window);
    m_window = window;
    return true;
}

void X11InputGrab::readKeyboardMapping()
{
    m_superMask = m_altMask = m_numLockMask = 0;
    m_modifierKeycodes.clear();
    auto mapping = reply(xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    if (mapping && symbols) {
        const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
                if (!keycode)
                    continue;
                m_modifierKeycodes.insert(keycode);
                for (int column = 0; column < 2; ++column) {
                    const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, column);
                    const uint32_t bit = 1u << modifier;
                    if (keysym == superLeft || keysym == superRight)
                        m_superMask |= bit;
                    else if (keysym == altLeft || keysym == altRight || keysym == metaLeft || keysym == metaRight)
                        m_altMask |= bit;
                    else if (keysym == numLock)
                        m_numLockMask |= bit;
                }
            }
        }
    }
    if (symbols)
        xcb_key_symbols_free(symbols);
    // The usual layout when the server's mapping names none of them.
    if (!m_superMask)
        m_superMask = XCB_MOD_MASK_4;
    if (!m_altMask)
        m_altMask = XCB_MOD_MASK_1;
    if (!m_numLockMask)
        m_numLockMask = XCB_MOD_MASK_2;
    // A key bound to both stays Alt for the hotkey test: Super must be Super alone.
    m_superMask &= ~m_altMask;
}

std::vector<uint16_t> X11InputGrab::slaveDevices()
{
    std::vector<uint16_t> slaves;
    if (!inputMonitoringTrusted())
        return slaves;
    auto devices = reply(xcb_input_xi_query_device_reply(
        m_connection, xcb_input_xi_query_device(m_connection, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!devices)
        return slaves;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem; xcb_input_xi_device_info_next(&it)) {
        const xcb_input_xi_device_info_t *info = it.data;
        const bool slave = info->type == XCB_INPUT_DEVICE_TYPE_SLAVE_POINTER
            || info->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD || info->type == XCB_INPUT_DEVICE_TYPE_FLOATING_SLAVE;
        if (slave && info->enabled)
            slaves.push_back(info->deviceid);
    }
    return slaves;
}

X11InputGrab::Attempt X11InputGrab::grabOnce(const std::vector<uint16_t> &slaves)
{
    // All requests go out before any reply is read: one round trip.
    std::optional<xcb_grab_keyboard_cookie_t> keyboard;
    std::optional<xcb_grab_pointer_cookie_t> pointer;
    std::vector<std::pair<uint16_t, xcb_input_xi_grab_device_cookie_t>> slaveCookies;
    if (!m_keyboardGrabbed) {
        keyboard = xcb_grab_keyboard(m_connection, false, m_window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                     XCB_GRAB_MODE_ASYNC);
    }
    if (!m_pointerGrabbed) {
        pointer = xcb_grab_pointer(m_connection, false, m_window, corePointerEvents, XCB_GRAB_MODE_ASYNC,
                                   XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME);
    }
    for (const uint16_t device : slaves) {
        if (m_grabbedSlaves.count(device))
            continue;
        const uint32_t mask = slaveEventMask();
        slaveCookies.emplace_back(device, xcb_input_xi_grab_device(m_connection, m_window, XCB_CURRENT_TIME, XCB_NONE,
                                                                   device, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                                                   XCB_INPUT_GRAB_MODE_22_ASYNC,
                                                                   XCB_INPUT_GRAB_OWNER_NO_OWNER, 1, &mask));
    }

    bool retry = false;
    bool failed = false;
    auto account = [&](bool ok, uint8_t status) {
        if (!ok)
            (retryable(status) ? retry : failed) = true;
    };
    if (keyboard) {
        auto answer = reply(xcb_grab_keyboard_reply(m_connection, *keyboard, nullptr));
        m_keyboardGrabbed = answer && answer->status == XCB_GRAB_STATUS_SUCCESS;
        account(m_keyboardGrabbed, answer ? answer->status : 0xff);
    }
    if (pointer) {
        auto answer = reply(xcb_grab_pointer_reply(m_connection, *pointer, nullptr));
        m_pointerGrabbed = answer && answer->status == XCB_GRAB_STATUS_SUCCESS;
        account(m_pointerGrabbed, answer ? answer->status : 0xff);
    }
    for (const auto &[device, cookie] : slaveCookies) {
        xcb_generic_error_t *error = nullptr;
        auto answer = reply(xcb_input_xi_grab_device_reply(m_connection, cookie, &error));
        if (error) {
            // The device went away between listing and grabbing: nothing to hold.
            std::free(error);
            continue;
        }
        const bool ok = answer && answer->status == XCB_GRAB_STATUS_SUCCESS;
        if (ok)
            m_grabbedSlaves.insert(device);
        account(ok, answer ? answer->status : 0xff);
    }
    if (failed)
        return Attempt::Failed;
    return retry ? Attempt::Retry : Attempt::Held;
}

bool X11InputGrab::take()
{
    if (!m_connection || !accessibilityTrusted() || !ensureWindow())
        return false;
    m_retakeTimer.stop();
    readKeyboardMapping();
    const std::vector<uint16_t> slaves = slaveDevices();
    // The lock's reply waits for the outcome anyway, so a refused grab is
    // retried here in short sleeps rather than from the event loop, where a
    // second request could run in the middle of this one.
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const Attempt attempt = grabOnce(slaves);
        if (attempt == Attempt::Held) {
            m_held = m_wanted = true;
            return true;
        }
        if (attempt == Attempt::Failed || elapsed.elapsed() >= retryPeriod.count())
            break;
        QThread::msleep(retryInterval.count());
    }
    ungrabAll();
    return false;
}

void X11InputGrab::retake()
{
    if (!m_wanted || !m_connection)
        return;
    ensureWindow();
    if (grabOnce(slaveDevices()) == Attempt::Held) {
        m_held = true;
        m_retakeTimer.stop();
        return;
    }
    pvLog(QStringLiteral("[EventTapManager] input grab lost and refused; retrying"));
    m_retakeTimer.start();
}

void X11InputGrab::onRetakeTimer()
{
    if (!m_wanted) {
        m_retakeTimer.stop();
        return;
    }
    if (grabOnce(slaveDevices()) == Attempt::Held) {
        m_held = true;
        m_retakeTimer.stop();
    }
}

void X11InputGrab::release()
{
    m_wanted = false;
    m_retakeTimer.stop();
    if (m_connection)
        ungrabAll();
}

void X11InputGrab::ungrabAll()
{
    m_held = false;
    if (m_keyboardGrabbed)
        xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
    if (m_pointerGrabbed)
        xcb_ungrab_pointer(m_connection, XCB_CURRENT_TIME);
    for (const uint16_t device : m_grabbedSlaves)
        xcb_input_xi_ungrab_device(m_connection, XCB_CURRENT_TIME, device);
    m_keyboardGrabbed = m_pointerGrabbed = false;
    m_grabbedSlaves.clear();
    // Handled by the server before this returns, so whoever asks next finds
    // the devices free.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void X11InputGrab::markLost()
{
    // Which of the grabs went is not told; asking for all again is harmless
    // because grabbing what this client already holds succeeds.
    m_held = false;
    m_keyboardGrabbed = m_pointerGrabbed = false;
    m_grabbedSlaves.clear();
    onLost();
}

quint64 X11InputGrab::flagsFromState(uint32_t state) const
{
    quint64 flags = 0;
    if (state & XCB_MOD_MASK_SHIFT)
        flags |= InputEventFlag::shift;
    if (state & XCB_MOD_MASK_LOCK)
        flags |= InputEventFlag::capsLock;
    if (state & XCB_MOD_MASK_CONTROL)
        flags |= InputEventFlag::control;
    if (state & m_altMask)
        flags |= InputEventFlag::alternate;
    if (state & m_superMask)
        flags |= InputEventFlag::command;
    if (state & m_numLockMask)
        flags |= InputEventFlag::numericPad;
    return flags;
}

bool X11InputGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_window || eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
        return handleCoreInput(event);
    case XCB_GE_GENERIC:
        return handleXi2Input(event);
    case XCB_FOCUS_OUT: {
        auto *focus = reinterpret_cast<xcb_focus_out_event_t *>(event);
        if (m_forwardTo && focus->event == m_forwardTo && focus->detail != XCB_NOTIFY_DETAIL_INFERIOR
            && focus->detail != XCB_NOTIFY_DETAIL_POINTER) {
            // Another client took the focus: the target's toolkit would stop
            // taking keys, so it gets the focus back. Its toolkit still sees this.
            xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, m_forwardTo, XCB_CURRENT_TIME);
            xcb_flush(m_connection);
            return false;
        }
        // A grab moved to another window of this client (NotifyGrab) is
        // handed over on purpose; only a released grab is a loss.
        if (focus->event == m_window && focus->mode == XCB_NOTIFY_MODE_UNGRAB && m_wanted)
            markLost();
        return focus->event == m_window;
    }
    case XCB_LEAVE_NOTIFY: {
        auto *leave = reinterpret_cast<xcb_leave_notify_event_t *>(event);
        if (leave->event == m_window && leave->mode == XCB_NOTIFY_MODE_UNGRAB && m_wanted)
            markLost();
        return leave->event == m_window;
    }
    case XCB_UNMAP_NOTIFY: {
        auto *unmap = reinterpret_cast<xcb_unmap_notify_event_t *>(event);
        if (unmap->window != m_window)
            return false;
        // Someone unmapped the grab window, which ends every grab on it.
        xcb_map_window(m_connection, m_window);
        if (m_wanted)
            markLost();
        return true;
    }
    case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<xcb_destroy_notify_event_t *>(event)->window == m_window) {
            m_window = 0;
            ensureWindow();
            if (m_wanted)
                markLost();
            return true;
        }
        return false;
    default:
        return false;
    }
}

uint32_t X11InputGrab::slaveEventMask() const
{
    // A grabbed slave device floats free of its master, so the visible
    // pointer stands still; while a window takes input, its motion is asked
    // for to move the pointer along.
    return m_forwardTo ? slaveDeviceEvents | XCB_INPUT_XI_EVENT_MASK_MOTION : slaveDeviceEvents;
}

void X11InputGrab::regrabSlaves()
{
    if (!m_connection || !m_window)
        return;
    // Grabbing again what this client holds changes the event mask.
    const uint32_t mask = slaveEventMask();
    std::vector<xcb_input_xi_grab_device_cookie_t> cookies;
    for (const uint16_t device : m_grabbedSlaves) {
        cookies.push_back(xcb_input_xi_grab_device(m_connection, m_window, XCB_CURRENT_TIME, XCB_NONE, device,
                                                   XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                                   XCB_INPUT_GRAB_OWNER_NO_OWNER, 1, &mask));
    }
    for (const auto cookie : cookies) {
        xcb_generic_error_t *error = nullptr;
        std::free(xcb_input_xi_grab_device_reply(m_connection, cookie, &error));
        std::free(error);
    }
}

void X11InputGrab::forwardInputTo(uint32_t target)
{
    m_forwardTo = target;
    if (!m_connection || !target)
        return;
    regrabSlaves();
    // Focus follows only for the target's own sake (a toolkit sends typed
    // keys to its focused widget); the grab keeps the keys from everyone else.
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, target, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
}

void X11InputGrab::stopForwarding()
{
    if (!m_forwardTo)
        return;
    m_forwardTo = 0;
    regrabSlaves();
}

void X11InputGrab::forward(uint8_t coreType, uint8_t detail, uint32_t time, int16_t rootX, int16_t rootY,
                           uint16_t state)
{
    const bool button = coreType == XCB_BUTTON_PRESS || coreType == XCB_BUTTON_RELEASE;
    auto translated = reply(xcb_translate_coordinates_reply(
        m_connection,
        xcb_translate_coordinates(m_connection, xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root,
                                  m_forwardTo, rootX, rootY),
        nullptr));
    if (!translated)
        return;
    if (button) {
        // Clicks count only over the target itself.
        auto geometry = reply(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_forwardTo), nullptr));
        if (!geometry || translated->dst_x < 0 || translated->dst_y < 0 || translated->dst_x >= geometry->width
            || translated->dst_y >= geometry->height) {
            return;
        }
    }
    // A key event and a button event have the same layout.
    xcb_key_press_event_t synthetic{};
    synthetic.response_type = coreType;
    synthetic.detail = detail;
    synthetic.time = time;
    synthetic.root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    synthetic.event = m_forwardTo;
    synthetic.child = XCB_NONE;
    synthetic.root_x = rootX;
    synthetic.root_y = rootY;
    synthetic.event_x = translated->dst_x;
    synthetic.event_y = translated->dst_y;
    synthetic.state = state;
    synthetic.same_screen = 1;
    char buffer[32] = {};
    static_assert(sizeof(synthetic) <= sizeof(buffer));
    std::memcpy(buffer, &synthetic, sizeof(synthetic));
    // An empty event mask sends it to the client that made the window: this one.
    xcb_send_event(m_connection, false, m_forwardTo, XCB_EVENT_MASK_NO_EVENT, buffer);
    xcb_flush(m_connection);
}

bool X11InputGrab::handleCoreInput(xcb_generic_event_t *event)
{
    // Key and button events share this layout.
    auto *input = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (input->event != m_window)
        return false;
    if (m_forwardTo)
        forward(event->response_type & 0x7f, input->detail, input->time, input->root_x, input->root_y, input->state);
    InputEvent translated;
    translated.flags = flagsFromState(input->state);
    switch (event->response_type & 0x7f) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const bool press = (event->response_type & 0x7f) == XCB_KEY_PRESS;
        const bool modifier = m_modifierKeycodes.count(input->detail) != 0;
        translated.type = modifier ? InputEventType::flagsChanged : press ? InputEventType::keyDown : InputEventType::keyUp;
        translated.keyCode = keyPosition(input->detail);
        break;
    }
    default:
        translated.type = buttonEventType(input->detail, (event->response_type & 0x7f) == XCB_BUTTON_PRESS);
        break;
    }
    const bool forwarding = m_forwardTo != 0;
    // The blocker still sees it (the unlock hot key), but passed-on input
    // must never reach another client.
    return onInputEvent(translated) || forwarding;
}

bool X11InputGrab::handleXi2Input(xcb_generic_event_t *event)
{
    auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
    if (!m_xinputOpcode || generic->extension != m_xinputOpcode)
        return false;
    const uint16_t xiType = generic->event_type;
    if (xiType == XCB_INPUT_MOTION) {
        auto *motion = reinterpret_cast<xcb_input_motion_event_t *>(event);
        if (motion->event != m_window)
            return false;
        if (m_forwardTo) {
            // The core pointer is grabbed here, so the warp's motion reaches no one else.
            xcb_warp_pointer(m_connection, XCB_NONE, xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root,
                             0, 0, 0, 0, int16_t(motion->root_x >> 16), int16_t(motion->root_y >> 16));
            xcb_flush(m_connection);
        }
        return true;
    }
    if (xiType != XCB_INPUT_KEY_PRESS && xiType != XCB_INPUT_KEY_RELEASE && xiType != XCB_INPUT_BUTTON_PRESS
        && xiType != XCB_INPUT_BUTTON_RELEASE) {
        return false;
    }
    // Key and button device events share this layout.
    auto *device = reinterpret_cast<xcb_input_button_press_event_t *>(event);
    if (device->event != m_window)
        return false;
    if (m_forwardTo && device->detail <= 0xff) {
        static constexpr uint8_t coreTypes[] = {0, 0, XCB_KEY_PRESS, XCB_KEY_RELEASE, XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE};
        uint16_t state = uint16_t((device->mods.effective & 0xff) | ((device->group.effective & 0x3) << 13));
        // The core state tells which buttons were down before this event.
        if (xiType == XCB_INPUT_BUTTON_RELEASE && device->detail >= 1 && device->detail <= 5)
            state |= uint16_t(XCB_BUTTON_MASK_1 << (device->detail - 1));
        forward(coreTypes[xiType], uint8_t(device->detail), device->time, int16_t(device->root_x >> 16),
                int16_t(device->root_y >> 16), state);
    }
    InputEvent translated;
    translated.flags = flagsFromState(device->mods.effective);
    switch (xiType) {
    case XCB_INPUT_KEY_PRESS:
    case XCB_INPUT_KEY_RELEASE: {
        const bool modifier = device->detail <= 0xff && m_modifierKeycodes.count(uint8_t(device->detail)) != 0;
        translated.type = modifier                         ? InputEventType::flagsChanged
            : xiType == XCB_INPUT_KEY_PRESS ? InputEventType::keyDown
                                            : InputEventType::keyUp;
        translated.keyCode = device->detail <= 0xff ? keyPosition(uint8_t(device->detail)) : InputKeyPosition::unknown;
        break;
    }
    default:
        translated.type = buttonEventType(uint8_t(std::min<uint32_t>(device->detail, 0xff)),
                                          xiType == XCB_INPUT_BUTTON_PRESS);
        break;
    }
    const bool forwarding = m_forwardTo != 0;
    return onInputEvent(translated) || forwarding;
}
