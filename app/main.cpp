// paneveil: the app. Without arguments it runs the app itself (hot keys,
// helper registration and connection); with a command it is the
// command-line client, which locks, unlocks and queries the helper.

#include "PaneveilApp.h"
#include "cli/CommandLineClient.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    if (argc <= 1)
        return PaneveilApp::run(argc, argv);
    QCoreApplication application(argc, argv);
    return CommandLineClient::run(QCoreApplication::arguments().mid(1));
}
