// One line per event to the system log and to standard error, prefixed by
// the writer's name in square brackets, e.g. "[PaneveilHelper] ...".
#pragma once

#include <QString>

void pvLog(const QString &line);
