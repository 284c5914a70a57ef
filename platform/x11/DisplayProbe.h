// Whether an X display is there to be used, asked before any GUI object is
// made (Qt aborts the process when its platform plugin cannot connect).
#pragma once

#include <QString>

bool x11DisplayReachable(QString *why);
