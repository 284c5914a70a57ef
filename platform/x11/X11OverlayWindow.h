// The overlay window on X11: one override-redirect window with a 32-bit
// ARGB visual whose background pixel is the premultiplied tint. A
// compositor blends it; without one (nobody owns _NET_WM_CM_S<screen>) the
// window is shaped to a pattern of opaque black rows, and an input-only
// window of the same frame just beneath it takes the pointer between the
// rows. Uses the helper's own xcb connection (Qt's) and reads the events it
// needs in a native event filter.
#pragma once

#include "OverlayAdapters.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>

#include <xcb/xcb.h>

#include <vector>

class X11OverlayWindow final : public OverlayWindowAdapter, public QAbstractNativeEventFilter {
public:
    X11OverlayWindow(xcb_connection_t *connection, int screenNumber);
    ~X11OverlayWindow() override;
    X11OverlayWindow(const X11OverlayWindow &) = delete;
    X11OverlayWindow &operator=(const X11OverlayWindow &) = delete;

    bool create(const QRect &frame, const OverlayContentView &content) override;
    void setContent(const OverlayContentView &content) override;
    void setFrame(const QRect &frame) override;
    void orderFront() override;
    void orderOut() override;
    bool raiseAboveOthers() override;
    void rememberFocus() override;
    void restoreFocus() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    xcb_window_t window() const { return m_window; }
    xcb_window_t inputCatcher() const { return m_inputCatcher; }
    // True while the tint is blended by a compositor, false while the row
    // pattern stands in for it.
    bool blendsTint() const { return m_compositorPresent && m_hasArgbVisual; }

private:
    enum Atom {
        NetWmCmS, NetActiveWindow, NetWmWindowType, NetWmWindowTypeDock, NetWmState, NetWmStateAbove,
        NetWmStateSticky, NetWmStateSkipTaskbar, NetWmStateSkipPager, NetWmDesktop, NetWmName, NetWmPid,
        NetWmBypassCompositor, ComptonShadow, Utf8String, AtomCount
    };
    void internAtoms();
    void setProperties();
    void applyPicture();
    void setCompositorPresent(bool present);
    // Raises the overlay over covering windows, or over all when asked,
    // keeping the helper's own windows above it. True when it was covered.
    bool restack(bool evenIfUncovered);
    bool isOwnWindow(xcb_window_t window) const;
    bool holdsOwnWindow(xcb_window_t window) const;
    void flush();

    xcb_connection_t *m_connection;
    xcb_screen_t *m_screen = nullptr;
    int m_screenNumber;
    xcb_atom_t m_atoms[AtomCount] = {};
    quint8 m_xfixesFirstEvent = 0;
    bool m_hasShape = false;

    xcb_window_t m_window = XCB_NONE;
    xcb_window_t m_inputCatcher = XCB_NONE;
    xcb_colormap_t m_colormap = XCB_NONE;
    bool m_hasArgbVisual = false;
    bool m_compositorPresent = false;
    bool m_onScreen = false;
    QRect m_frame;
    OverlayContentView m_content;

    xcb_window_t m_focusWindow = XCB_NONE;
    bool m_focusFromWindowManager = false;
};
