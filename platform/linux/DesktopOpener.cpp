#include "DesktopOpener.h"

#include <QProcess>

bool DesktopOpener::startDetached(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // Its output is the desktop's business, not the app's log.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool DesktopOpener::open(const QString &openerProgram, const QUrl &url)
{
    if (!url.isValid())
        return false;
    return startDetached(openerProgram, {url.toString(QUrl::FullyEncoded)});
}
