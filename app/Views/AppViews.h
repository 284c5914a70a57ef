// The app's two Qt Quick views, the popover and the settings window, and
// the tray's lock icons, all compiled into the app as resources.
#pragma once

#include <QString>
#include <QUrl>

namespace AppViews {
// Registers what the views import (the text bridge singleton, the enum) and loads the resources; call once before loading a view; safe to call again.
void registerTypes();
QUrl menuBarPopoverUrl();   // the popover's QML
QUrl settingsViewUrl();     // the settings view's QML
// Resource paths of the project's own lock icons for the tray (usable with QIcon): closed = "lock.fill", open = "lock.open.fill".
QString trayIconPath(bool locked);
}
