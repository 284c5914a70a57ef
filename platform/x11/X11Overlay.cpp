#include "X11Overlay.h"

#include "DisplayWatcher.h"
#include "OverlayWindowManager.h"
#include "QtScreenChangeSource.h"
#include "X11OverlayWindow.h"
#include "X11ScreenLayout.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

namespace {

xcb_connection_t *helperConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The X screen of DISPLAY, the one Qt opened.
int defaultScreenNumber()
{
    int screen = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        free(host);
    return screen;
}

} // namespace

std::unique_ptr<OverlayInterface> makeX11Overlay()
{
    xcb_connection_t *connection = helperConnection();
    if (!connection)
        return nullptr;
    const int screen = defaultScreenNumber();
    return std::make_unique<OverlayWindowManager>(std::make_unique<X11OverlayWindow>(connection, screen),
                                                  std::make_unique<X11ScreenLayout>(connection, screen));
}

std::unique_ptr<DisplayWatcherInterface> makeX11DisplayWatcher()
{
    if (!qGuiApp)
        return nullptr;
    return std::make_unique<DisplayWatcher>(std::make_unique<QtScreenChangeSource>());
}
