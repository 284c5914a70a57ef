// The app's connections to the helper over the session bus. Each connection
// wraps a HelperBusClient on a thread of its own ("the bus thread"): resuming
// hands the display environment over, starts the helper if needed and checks
// its identity; requests then go to its unique name (lock and unlock without
// a reply timeout), the app object accepts callbacks only from it, and the
// helper leaving the bus ends the connection.
#pragma once

#include "HelperTransport.h"

#include <QDBusConnection>

#include <memory>

class BusThread;

class BusHelperTransport final : public HelperTransport {
public:
    explicit BusHelperTransport(QDBusConnection bus);
    ~BusHelperTransport() override;

    std::shared_ptr<HelperConnection> connectionToService(const QString &serviceName) override;

private:
    QDBusConnection m_bus;
    std::shared_ptr<BusThread> m_thread;
};
