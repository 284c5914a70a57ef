#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <syslog.h>

void pvLog(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
    // Under systemd standard error already is the journal; avoid a second copy.
    if (!std::getenv("JOURNAL_STREAM"))
        syslog(LOG_USER | LOG_NOTICE, "%s", utf8.constData());
}
