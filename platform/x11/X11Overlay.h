// The overlay and the display watcher over the helper's X11 connection.
// Both need the QGuiApplication running on the xcb platform; without an X11
// connection they answer nothing (null), and the caller keeps its stand-ins.
#pragma once

#include "LockComponents.h"

#include <memory>

std::unique_ptr<OverlayInterface> makeX11Overlay();
std::unique_ptr<DisplayWatcherInterface> makeX11DisplayWatcher();
