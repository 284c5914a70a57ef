// What the overlay and the display watcher need from the display server.
// Rectangles are in device pixels of the whole desktop.
#pragma once

#include "OverlayContentView.h"

#include <QList>
#include <QRect>

#include <functional>

// The overlay's one window.
class OverlayWindowAdapter {
public:
    virtual ~OverlayWindowAdapter() = default;
    // Builds the window, not yet on screen. False when the display refused it.
    virtual bool create(const QRect &frame, const OverlayContentView &content) = 0;
    // Repaints at once, on screen or not.
    virtual void setContent(const OverlayContentView &content) = 0;
    // Moves and resizes without changing whether the window is on screen.
    virtual void setFrame(const QRect &frame) = 0;
    // Puts the window on screen above every other window except the
    // helper's own, without giving it input focus.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    // Restacks above windows that went over it; false when none had.
    virtual bool raiseAboveOthers() = 0;
    // Notes which window has input focus, and later gives focus back to it.
    virtual void rememberFocus() = 0;
    virtual void restoreFocus() = 0;

    // Set by the owner: another window was mapped or restacked while the
    // overlay was on screen, so it may now lie above the overlay.
    std::function<void()> onStackingChanged = [] {};
};

class ScreenLayoutAdapter {
public:
    virtual ~ScreenLayoutAdapter() = default;
    // Frames of the attached screens, in the platform's order.
    virtual QList<QRect> screenFrames() const = 0;
};

class ScreenChangeSource {
public:
    virtual ~ScreenChangeSource() = default;
    // The handler runs on the main thread once per configuration change
    // until unsubscribe.
    virtual void subscribe(std::function<void()> handler) = 0;
    virtual void unsubscribe() = 0;
};
