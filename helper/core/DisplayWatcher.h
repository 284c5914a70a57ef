// Reports changes of the screen configuration, locked or not, so the owner
// can refit the overlay.
#pragma once

#include "LockComponents.h"
#include "OverlayAdapters.h"

#include <memory>

class DisplayWatcher final : public DisplayWatcherInterface {
public:
    // Subscribes at once; onChange runs on the main thread per change.
    explicit DisplayWatcher(std::unique_ptr<ScreenChangeSource> source);
    ~DisplayWatcher() override;
    DisplayWatcher(const DisplayWatcher &) = delete;
    DisplayWatcher &operator=(const DisplayWatcher &) = delete;

private:
    std::unique_ptr<ScreenChangeSource> m_observer;
};
