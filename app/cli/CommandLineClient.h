// `paneveil <command>`: drives the helper from a shell or a window manager's
// key bindings. Exit codes: 0 success, 1 the helper said no (its message on
// standard error), 2 the helper could not be reached or the usage is wrong.
#pragma once

#include <QStringList>

class HelperBusClient;

namespace CommandLineClient {

enum ExitCode { Success = 0, Refused = 1, Unreachable = 2 };

QString usage();

// Runs one command against a connected client; needs a QCoreApplication.
int run(const QStringList &arguments);

} // namespace CommandLineClient
