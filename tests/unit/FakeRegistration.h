// A login-item service whose status the test sets and whose unregister
// calls it counts (every repair unregisters once), with the other two
// adapters of HelperService doing nothing; or, for the views' tests, with the
// login-items opener and the workspace recording what they were asked.
#pragma once

#include "HelperService.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <QUrl>

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
    void openSystemSettingsLoginItems() override
    {
        if (loginItemsOpened)
            ++*loginItemsOpened;
    }
    // Counts openings when set.
    int *loginItemsOpened = nullptr;
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

// What a registration service's outward calls asked the desktop to do.
struct FakeDesktopLog {
    int loginItemsOpened = 0;
    QList<QUrl> openedUrls;
    QStringList revealedFiles;
};

class RecordingWorkspace final : public WorkspaceInterface {
public:
    explicit RecordingWorkspace(FakeDesktopLog *log)
        : log(log)
    {
    }
    void openUrl(const QUrl &url) override { log->openedUrls << url; }
    void revealFile(const QString &path) override { log->revealedFiles << path; }
    FakeDesktopLog *log;
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

// As above, and every opening and revealing lands in *log. The help page
// and helper paths are made up; only what is asked for them matters.
inline std::unique_ptr<HelperService> fakeRegistration(int *status, int *repairs, FakeDesktopLog *log)
{
    const QString self = QCoreApplication::applicationFilePath();
    auto loginItems = std::make_unique<FakeLoginItemService>(status, repairs);
    loginItems->loginItemsOpened = &log->loginItemsOpened;
    HelperService::Platform platform{std::move(loginItems),
                                     std::make_unique<NoHelperPresence>(),
                                     std::make_unique<RecordingWorkspace>(log),
                                     self,
                                     self,
                                     QStringLiteral("/test-prefix/libexec/paneveil/helper"),
                                     QStringLiteral("/test-prefix/share/paneveil/permissions.html")};
    return std::make_unique<HelperService>(std::move(platform));
}

} // namespace
