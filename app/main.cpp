// paneveil: the app. For now its command-line client, which locks, unlocks
// and queries the helper over the session bus.

#include "cli/CommandLineClient.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    return CommandLineClient::run(QCoreApplication::arguments().mid(1));
}
