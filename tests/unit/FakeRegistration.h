// A login-item service whose status the test sets and whose unregister
// calls it counts (every repair unregisters once), with the other two
// adapters of HelperService doing nothing.
#pragma once

#include "HelperService.h"

#include <QCoreApplication>

namespace {

class FakeLoginItemService final : public LoginItemServiceInterface {
public:
    int *currentStatus;
    int *unregisterCalls;
    FakeLoginItemService(int *currentStatus, int *unregisterCalls)
        : currentStatus(currentStatus)
        , unregisterCalls(unregisterCalls)
    {
    }
    int status() override { return *currentStatus; }
    bool registerService(QString *) override { return true; }
    bool unregisterService(QString *) override
    {
        ++*unregisterCalls;
        return true;
    }
    void openSystemSettingsLoginItems() override {}
};

class NoHelperPresence final : public HelperPresenceInterface {
public:
    bool externalHelperIsRunning() override { return false; }
};

class NoWorkspace final : public WorkspaceInterface {
public:
    void openUrl(const QUrl &) override {}
    void revealFile(const QString &) override {}
};

// A registration service on the fakes whose running copy counts as the
// installed one, so the fake's status is what it reports.
inline std::unique_ptr<HelperService> fakeRegistration(int *status, int *repairs)
{
    const QString self = QCoreApplication::applicationFilePath();
    HelperService::Platform platform{std::make_unique<FakeLoginItemService>(status, repairs),
                                     std::make_unique<NoHelperPresence>(),
                                     std::make_unique<NoWorkspace>(),
                                     self,
                                     self,
                                     QString(),
                                     QString()};
    return std::make_unique<HelperService>(std::move(platform));
}

} // namespace
