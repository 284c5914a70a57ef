// Opens documents and folders with the desktop's opener (xdg-open), without
// waiting for it.
#pragma once

#include <QString>
#include <QUrl>

namespace DesktopOpener {
// False when the program could not be started.
bool open(const QString &openerProgram, const QUrl &url);
bool startDetached(const QString &program, const QStringList &arguments);
} // namespace DesktopOpener
