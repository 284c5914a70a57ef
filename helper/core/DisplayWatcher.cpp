#include "DisplayWatcher.h"

DisplayWatcher::DisplayWatcher(std::unique_ptr<ScreenChangeSource> source)
    : m_observer(std::move(source))
{
    // The current onChange is looked up on every change, so the owner may
    // set it after construction.
    m_observer->subscribe([this] { onChange(); });
}

DisplayWatcher::~DisplayWatcher()
{
    m_observer->unsubscribe();
}
