#include "OverlayWindowManager.h"

#include "Log.h"

#include <algorithm>

OverlayWindowManager::OverlayWindowManager(std::unique_ptr<OverlayWindowAdapter> window,
                                           std::unique_ptr<ScreenLayoutAdapter> screens,
                                           RaisePacer::Timing raiseTiming)
    : m_window(std::move(window))
    , m_screens(std::move(screens))
    , m_raisePacer(raiseTiming)
{
    m_clock.start();
    m_raiseTimer.setSingleShot(true);
    QObject::connect(&m_raiseTimer, &QTimer::timeout, &m_raiseTimer, [this] { raiseIfCovered(); });
    m_window->onStackingChanged = [this] { stackingChanged(); };
}

OverlayWindowManager::~OverlayWindowManager()
{
    m_window->onStackingChanged = [] {};
}

QRect OverlayWindowManager::coveringRectangle(const QList<QRect> &frames)
{
    // QRect::united skips empty rectangles, so the zero rectangle's origin is
    // added by hand, as a union with a zero-sized rectangle there would.
    int left = 0, top = 0, right = 0, bottom = 0;
    for (const QRect &frame : frames) {
        if (frame.isEmpty())
            continue;
        left = std::min(left, frame.x());
        top = std::min(top, frame.y());
        right = std::max(right, frame.x() + frame.width());
        bottom = std::max(bottom, frame.y() + frame.height());
    }
    return QRect(left, top, right - left, bottom - top);
}

bool OverlayWindowManager::makeWindow()
{
    const QRect frame = coveringRectangle(m_screens->screenFrames());
    if (!m_window->create(frame, OverlayContentView(m_alpha))) {
        pvLog(QStringLiteral("[OverlayWindowManager] the overlay window could not be created"));
        return false;
    }
    return true;
}

void OverlayWindowManager::setAlpha(double alpha)
{
    m_alpha = alpha;
    if (m_hasWindow)
        m_window->setContent(OverlayContentView(m_alpha));
}

void OverlayWindowManager::show()
{
    if (!m_hasWindow) {
        m_hasWindow = makeWindow();
        if (!m_hasWindow)
            return;
    }
    resizeToCoverAllScreens();
    // The overlay never becomes the focus window: the input grab takes the
    // keyboard, and the window that had focus gets it back after the lock.
    if (!m_shown)
        m_window->rememberFocus();
    m_shown = true;
    m_window->orderFront();
}

void OverlayWindowManager::hide()
{
    if (!m_hasWindow)
        return;
    m_raiseTimer.stop();
    m_window->orderOut();
    if (m_shown) {
        m_shown = false;
        m_window->restoreFocus();
    }
}

void OverlayWindowManager::resizeToCoverAllScreens()
{
    if (!m_hasWindow)
        return;
    m_window->setFrame(coveringRectangle(m_screens->screenFrames()));
}

void OverlayWindowManager::stackingChanged()
{
    // Bursts of stacking changes fold into one check, spaced by the pacer.
    if (!m_shown || m_raiseTimer.isActive())
        return;
    m_raiseTimer.start(int(m_raisePacer.delayBeforeRaise(m_clock.elapsed())));
}

void OverlayWindowManager::raiseIfCovered()
{
    if (m_shown && m_window->raiseAboveOthers())
        m_raisePacer.raised(m_clock.elapsed());
}
