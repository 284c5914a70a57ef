#include "X11OverlayWindow.h"

#include "Log.h"

#include <QCoreApplication>

#include <xcb/shape.h>
#include <xcb/xfixes.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

const QString logPrefix = QStringLiteral("[OverlayWindowManager] ");

struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_screen_t *screenOfNumber(xcb_connection_t *connection, int number)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem; --number, xcb_screen_next(&it)) {
        if (number == 0)
            return it.data;
    }
    return nullptr;
}

xcb_visualid_t argbVisual(xcb_screen_t *screen)
{
    for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
         xcb_depth_next(&depth)) {
        if (depth.data->depth != 32)
            continue;
        for (xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
             xcb_visualtype_next(&visual)) {
            if (visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR)
                return visual.data->visual_id;
        }
    }
    return XCB_NONE;
}

// X refuses windows without area; an empty desktop still gets one pixel.
QRect drawableFrame(const QRect &frame)
{
    return QRect(frame.x(), frame.y(), std::max(1, frame.width()), std::max(1, frame.height()));
}

} // namespace

X11OverlayWindow::X11OverlayWindow(xcb_connection_t *connection, int screenNumber)
    : m_connection(connection)
    , m_screen(screenOfNumber(connection, screenNumber))
    , m_screenNumber(screenNumber)
{
    internAtoms();
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        // Selection events need the client to have announced a version.
        Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            m_connection, xcb_xfixes_query_version(m_connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (version)
            m_xfixesFirstEvent = xfixes->first_event;
    }
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(m_connection, &xcb_shape_id);
    m_hasShape = shape && shape->present;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11OverlayWindow::~X11OverlayWindow()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (m_inputCatcher)
        xcb_destroy_window(m_connection, m_inputCatcher);
    if (m_window)
        xcb_destroy_window(m_connection, m_window);
    if (m_colormap)
        xcb_free_colormap(m_connection, m_colormap);
    flush();
}

void X11OverlayWindow::internAtoms()
{
    const QByteArray names[AtomCount] = {
        QByteArray("_NET_WM_CM_S") + QByteArray::number(m_screenNumber),
        "_NET_ACTIVE_WINDOW",
        "_NET_WM_WINDOW_TYPE",
        "_NET_WM_WINDOW_TYPE_DOCK",
        "_NET_WM_STATE",
        "_NET_WM_STATE_ABOVE",
        "_NET_WM_STATE_STICKY",
        "_NET_WM_STATE_SKIP_TASKBAR",
        "_NET_WM_STATE_SKIP_PAGER",
        "_NET_WM_DESKTOP",
        "_NET_WM_NAME",
        "_NET_WM_PID",
        "_NET_WM_BYPASS_COMPOSITOR",
        "_COMPTON_SHADOW",
        "UTF8_STRING",
    };
    xcb_intern_atom_cookie_t cookies[AtomCount];
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(m_connection, 0, quint16(names[i].size()), names[i].constData());
    for (int i = 0; i < AtomCount; ++i) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookies[i], nullptr));
        m_atoms[i] = reply ? reply->atom : XCB_NONE;
    }
}

bool X11OverlayWindow::create(const QRect &frame, const OverlayContentView &content)
{
    if (!m_screen)
        return false;
    m_frame = drawableFrame(frame);
    m_content = content;

    const xcb_visualid_t visual = argbVisual(m_screen);
    m_hasArgbVisual = visual != XCB_NONE;
    quint8 depth = XCB_COPY_FROM_PARENT;
    xcb_visualid_t windowVisual = XCB_COPY_FROM_PARENT;
    xcb_colormap_t colormap = m_screen->default_colormap;
    if (m_hasArgbVisual) {
        depth = 32;
        windowVisual = visual;
        m_colormap = xcb_generate_id(m_connection);
        xcb_create_colormap(m_connection, XCB_COLORMAP_ALLOC_NONE, m_colormap, m_screen->root, visual);
        colormap = m_colormap;
    }

    // Compositors read the window type once, when they learn of a window, so
    // nobody may look at it between its creation and its properties.
    xcb_grab_server(m_connection);
    m_window = xcb_generate_id(m_connection);
    // Value order follows the attribute bits: background pixel, border pixel,
    // override-redirect, colormap.
    const quint32 values[] = {content.backgroundPixel(), 0, 1, colormap};
    xcb_void_cookie_t created = xcb_create_window_checked(
        m_connection, depth, m_window, m_screen->root, qint16(m_frame.x()), qint16(m_frame.y()),
        quint16(m_frame.width()), quint16(m_frame.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, windowVisual,
        XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP, values);
    if (Reply<xcb_generic_error_t> error{xcb_request_check(m_connection, created)}) {
        xcb_ungrab_server(m_connection);
        flush();
        pvLog(logPrefix + QStringLiteral("xcb_create_window failed: error %1").arg(error->error_code));
        m_window = XCB_NONE;
        return false;
    }

    m_inputCatcher = xcb_generate_id(m_connection);
    const quint32 catcherValues[] = {1};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_inputCatcher, m_screen->root, qint16(m_frame.x()),
                      qint16(m_frame.y()), quint16(m_frame.width()), quint16(m_frame.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, catcherValues);

    setProperties();
    xcb_ungrab_server(m_connection);
    flush();

    // Windows mapped or restacked by others show up as substructure events
    // on the root. The root's mask is per client and Qt set its own bits, so
    // they are kept.
    Reply<xcb_get_window_attributes_reply_t> rootAttributes(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, m_screen->root), nullptr));
    const quint32 rootMask[] = {(rootAttributes ? rootAttributes->your_event_mask : 0u)
                                | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_change_window_attributes(m_connection, m_screen->root, XCB_CW_EVENT_MASK, rootMask);

    if (m_xfixesFirstEvent) {
        xcb_xfixes_select_selection_input(m_connection, m_window, m_atoms[NetWmCmS],
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    }
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, m_atoms[NetWmCmS]), nullptr));
    m_compositorPresent = owner && owner->owner != XCB_NONE;

    applyPicture();
    flush();
    return true;
}

void X11OverlayWindow::setProperties()
{
    auto setAtoms = [this](xcb_atom_t property, std::initializer_list<xcb_atom_t> atoms) {
        std::vector<xcb_atom_t> list(atoms);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, property, XCB_ATOM_ATOM, 32,
                            quint32(list.size()), list.data());
    };
    auto setCardinal = [this](xcb_atom_t property, quint32 value) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, property, XCB_ATOM_CARDINAL, 32, 1,
                            &value);
    };
    static const char name[] = "Paneveil overlay";
    static const char windowClass[] = "paneveil-overlay\0Paneveil";
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof(name) - 1, name);
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, m_atoms[NetWmName], m_atoms[Utf8String], 8,
                        sizeof(name) - 1, name);
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof(windowClass), windowClass);
    // WM_HINTS with only the input field set, to false: never give it focus.
    const quint32 hints[9] = {1, 0};
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                        hints);
    // Override-redirect windows escape the window manager, so these only
    // inform pagers and compositors: above everything, on every desktop.
    setAtoms(m_atoms[NetWmState], {m_atoms[NetWmStateAbove], m_atoms[NetWmStateSticky],
                                   m_atoms[NetWmStateSkipTaskbar], m_atoms[NetWmStateSkipPager]});
    setCardinal(m_atoms[NetWmDesktop], 0xFFFFFFFFu);
    // Compositors leave docks without shadows (xcompmgr -C, picom's usual
    // rules); picom and compton also honour _COMPTON_SHADOW 0.
    setAtoms(m_atoms[NetWmWindowType], {m_atoms[NetWmWindowTypeDock]});
    setCardinal(m_atoms[ComptonShadow], 0);
    // 2 asks compositors not to unredirect this full-screen window: only a
    // compositor can blend the tint.
    setCardinal(m_atoms[NetWmBypassCompositor], 2);
    setCardinal(m_atoms[NetWmPid], quint32(getpid()));
}

void X11OverlayWindow::applyPicture()
{
    const quint32 pixel[] = {m_content.backgroundPixel()};
    xcb_change_window_attributes(m_connection, m_window, XCB_CW_BACK_PIXEL, pixel);
    xcb_clear_area(m_connection, 0, m_window, 0, 0, 0, 0);

    if (!m_hasShape)
        return;
    if (blendsTint()) {
        xcb_shape_mask(m_connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, m_window, 0, 0, XCB_NONE);
        xcb_unmap_window(m_connection, m_inputCatcher);
        return;
    }
    // Unblended, the window would paint the screen solid black, so only the
    // pattern's dark rows are left of it; adjacent dark rows make one band.
    const QList<int> darkRows = m_content.darkRowsInPeriod();
    std::vector<xcb_rectangle_t> bands;
    for (int periodTop = 0; periodTop < m_frame.height(); periodTop += OverlayContentView::rowPeriod) {
        for (int row : darkRows) {
            const int y = periodTop + row;
            if (y >= m_frame.height())
                break;
            if (!bands.empty() && bands.back().y + bands.back().height == y)
                ++bands.back().height;
            else
                bands.push_back({0, qint16(y), quint16(m_frame.width()), 1});
        }
    }
    xcb_shape_rectangles(m_connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_BANDED,
                         m_window, 0, 0, quint32(bands.size()), bands.data());
    // X clips input to the bounding shape, so the input-only window beneath
    // takes the pointer between the rows.
    if (OverlayContentView::acceptsFirstMouse && m_onScreen) {
        const quint32 below[] = {m_window, XCB_STACK_MODE_BELOW};
        xcb_configure_window(m_connection, m_inputCatcher, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                             below);
        xcb_map_window(m_connection, m_inputCatcher);
    }
}

void X11OverlayWindow::setContent(const OverlayContentView &content)
{
    m_content = content;
    if (!m_window)
        return;
    applyPicture();
    flush();
}

void X11OverlayWindow::setFrame(const QRect &frame)
{
    if (!m_window)
        return;
    const QRect previous = m_frame;
    m_frame = drawableFrame(frame);
    const quint32 geometry[] = {quint32(m_frame.x()), quint32(m_frame.y()), quint32(m_frame.width()),
                                quint32(m_frame.height())};
    const quint16 mask =
        XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
    xcb_configure_window(m_connection, m_window, mask, geometry);
    xcb_configure_window(m_connection, m_inputCatcher, mask, geometry);
    // The row pattern depends on the size.
    if (!blendsTint() && previous.size() != m_frame.size())
        applyPicture();
    flush();
}

void X11OverlayWindow::orderFront()
{
    if (!m_window)
        return;
    m_onScreen = true;
    applyPicture();
    xcb_map_window(m_connection, m_window);
    // Mapping keeps a window's place in the stack, so it is raised as well.
    restack(true);
}

void X11OverlayWindow::orderOut()
{
    if (!m_window)
        return;
    m_onScreen = false;
    xcb_unmap_window(m_connection, m_inputCatcher);
    xcb_unmap_window(m_connection, m_window);
    flush();
}

bool X11OverlayWindow::isOwnWindow(xcb_window_t window) const
{
    // Every resource this client creates carries the client's id base.
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

bool X11OverlayWindow::holdsOwnWindow(xcb_window_t window) const
{
    // A reparenting window manager frames the helper's managed windows, so
    // the frame's first two levels are searched for one of ours.
    std::vector<xcb_window_t> level{window};
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (xcb_window_t candidate : level) {
            if (isOwnWindow(candidate))
                return true;
            if (depth < 2)
                cookies.push_back(xcb_query_tree(m_connection, candidate));
        }
        std::vector<xcb_window_t> next;
        for (xcb_query_tree_cookie_t cookie : cookies) {
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_connection, cookie, nullptr));
            if (!tree)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            next.insert(next.end(), children, children + xcb_query_tree_children_length(tree.get()));
        }
        level = std::move(next);
    }
    return false;
}

bool X11OverlayWindow::raiseAboveOthers()
{
    return restack(false);
}

bool X11OverlayWindow::restack(bool evenIfUncovered)
{
    if (!m_window || !m_onScreen)
        return false;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_screen->root), nullptr));
    if (!tree)
        return false;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    int overlayIndex = -1;
    for (int i = 0; i < count; ++i) {
        if (children[i] == m_window)
            overlayIndex = i;
    }
    if (overlayIndex < 0)
        return false;

    // Children come bottom to top. Viewable foreign windows above the
    // overlay cover it; the helper's own windows there (an unlock dialog)
    // are meant to be above it and stay there.
    std::vector<int> ownAbove;
    std::vector<std::pair<int, xcb_get_window_attributes_cookie_t>> candidates;
    for (int i = overlayIndex + 1; i < count; ++i) {
        if (children[i] == m_inputCatcher)
            continue;
        if (isOwnWindow(children[i]))
            ownAbove.push_back(i);
        else
            candidates.emplace_back(i, xcb_get_window_attributes(m_connection, children[i]));
    }
    bool covered = false;
    for (const auto &[index, cookie] : candidates) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(m_connection, cookie, nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        if (holdsOwnWindow(children[index]))
            ownAbove.push_back(index);
        else
            covered = true;
    }
    if (!covered && !evenIfUncovered)
        return false;

    const quint32 top[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(m_connection, m_window, XCB_CONFIG_WINDOW_STACK_MODE, top);
    const quint32 belowOverlay[] = {m_window, XCB_STACK_MODE_BELOW};
    xcb_configure_window(m_connection, m_inputCatcher, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                         belowOverlay);
    // Own windows go back on top, bottom first, so they keep their order.
    std::sort(ownAbove.begin(), ownAbove.end());
    for (int index : ownAbove)
        xcb_configure_window(m_connection, children[index], XCB_CONFIG_WINDOW_STACK_MODE, top);
    flush();
    return covered;
}

void X11OverlayWindow::rememberFocus()
{
    // An EWMH window manager knows the active window; without one the X
    // input focus is all there is.
    m_focusWindow = XCB_NONE;
    m_focusFromWindowManager = false;
    if (!m_screen)
        return;
    Reply<xcb_get_property_reply_t> active(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, m_screen->root, m_atoms[NetActiveWindow], XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (active && active->format == 32 && xcb_get_property_value_length(active.get()) == 4) {
        const auto window = *static_cast<const xcb_window_t *>(xcb_get_property_value(active.get()));
        if (window != XCB_NONE) {
            m_focusWindow = window;
            m_focusFromWindowManager = true;
            return;
        }
    }
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (focus && focus->focus != XCB_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT)
        m_focusWindow = focus->focus;
}

void X11OverlayWindow::restoreFocus()
{
    if (m_focusWindow == XCB_NONE)
        return;
    if (m_focusFromWindowManager) {
        // Source indication 2: a pager-like request, which window managers
        // honour without focus-stealing prevention.
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = m_focusWindow;
        message.type = m_atoms[NetActiveWindow];
        message.data.data32[0] = 2;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, m_screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&message));
    } else {
        // The window may have gone while locked; its error is taken here so
        // it does not reach Qt's error handler.
        Reply<xcb_generic_error_t> error{xcb_request_check(
            m_connection, xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_PARENT, m_focusWindow,
                                                      XCB_CURRENT_TIME))};
        if (error)
            pvLog(logPrefix + QStringLiteral("focus could not be given back: error %1").arg(error->error_code));
    }
    m_focusWindow = XCB_NONE;
    flush();
}

void X11OverlayWindow::setCompositorPresent(bool present)
{
    if (present == m_compositorPresent)
        return;
    m_compositorPresent = present;
    applyPicture();
    if (blendsTint()) {
        // Some compositors (xcompmgr) keep the bounding region they read
        // when they started and refresh it only when the window is
        // configured; a one-pixel resize and back makes them drop the rows.
        const quint32 narrower[] = {quint32(std::max(1, m_frame.width() - 1))};
        const quint32 width[] = {quint32(m_frame.width())};
        xcb_configure_window(m_connection, m_window, XCB_CONFIG_WINDOW_WIDTH, narrower);
        xcb_configure_window(m_connection, m_window, XCB_CONFIG_WINDOW_WIDTH, width);
    }
    flush();
}

bool X11OverlayWindow::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !m_window)
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & 0x7f;

    if (m_xfixesFirstEvent && type == m_xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
        auto *selection = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
        // Qt watches the same selection on its own window; both may see it.
        if (selection->window == m_window && selection->selection == m_atoms[NetWmCmS]) {
            setCompositorPresent(selection->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER
                                 && selection->owner != XCB_NONE);
        }
        return false;
    }

    // Substructure events on the root come only from this window's
    // selection; Qt would take a configure on the root for a screen change
    // and re-read all screens, so they stop here.
    xcb_window_t root = m_screen->root;
    switch (type) {
    case XCB_MAP_NOTIFY: {
        auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
        if (map->event != root || map->window == root)
            return false;
        if (m_onScreen && !isOwnWindow(map->window))
            onStackingChanged();
        return true;
    }
    case XCB_CONFIGURE_NOTIFY: {
        auto *configure = reinterpret_cast<xcb_configure_notify_event_t *>(event);
        if (configure->event != root || configure->window == root)
            return false;
        if (m_onScreen && !isOwnWindow(configure->window))
            onStackingChanged();
        return true;
    }
    case XCB_CIRCULATE_NOTIFY: {
        auto *circulate = reinterpret_cast<xcb_circulate_notify_event_t *>(event);
        if (circulate->event != root || circulate->window == root)
            return false;
        if (m_onScreen && !isOwnWindow(circulate->window))
            onStackingChanged();
        return true;
    }
    case XCB_UNMAP_NOTIFY:
    case XCB_CREATE_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_GRAVITY_NOTIFY: {
        // These share the layout response, pad, sequence, event (the parent
        // for a create), window.
        auto *any = reinterpret_cast<xcb_unmap_notify_event_t *>(event);
        return any->event == root && any->window != root;
    }
    default:
        return false;
    }
}

void X11OverlayWindow::flush()
{
    xcb_flush(m_connection);
}
