// The tinted window over every screen while the helper holds the lock.
// The window is built by the first show and kept, hidden between locks.
#pragma once

#include "LockComponents.h"
#include "OverlayAdapters.h"
#include "RaisePacer.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

class OverlayWindowManager final : public OverlayInterface {
public:
    OverlayWindowManager(std::unique_ptr<OverlayWindowAdapter> window, std::unique_ptr<ScreenLayoutAdapter> screens,
                         RaisePacer::Timing raiseTiming = {});
    ~OverlayWindowManager() override;

    double alpha() const override { return m_alpha; }
    // Stored as given; an existing window is re-tinted at once.
    void setAlpha(double alpha) override;
    // Builds the window if needed, fits it to all screens and brings it to
    // the front. The first show after a hide notes who has input focus.
    void show() override;
    // Takes the window off screen and gives input focus back.
    void hide() override;
    void resizeToCoverAllScreens() override;

    bool hasWindow() const { return m_hasWindow; }
    bool isShown() const { return m_shown; }

    // Bounding rectangle of the frames, grown from the zero rectangle at the
    // origin; the zero rectangle when there are none.
    static QRect coveringRectangle(const QList<QRect> &frames);

private:
    bool makeWindow();
    void stackingChanged();
    void raiseIfCovered();

    std::unique_ptr<OverlayWindowAdapter> m_window;
    std::unique_ptr<ScreenLayoutAdapter> m_screens;
    bool m_hasWindow = false;
    double m_alpha = OverlayContentView::defaultAlpha;
    bool m_shown = false;
    RaisePacer m_raisePacer;
    QTimer m_raiseTimer;
    QElapsedTimer m_clock;
};
