// What HelperService needs from the operating system, as narrow interfaces:
// the login-item service that keeps the helper registered, the query of a
// running helper used by copies outside the installed location, and the
// desktop's way of opening documents and showing files. Real versions live
// in platform/; tests use fakes.
#pragma once

#include <QString>
#include <QUrl>

// Registration of the helper as a per-user launch agent.
class LoginItemServiceInterface {
public:
    // Raw status values; anything else counts as unknown.
    enum RawStatus : int {
        notRegistered = 0,
        enabled = 1,
        requiresApproval = 2,
        notFound = 3,
    };

    virtual ~LoginItemServiceInterface() = default;
    virtual int status() = 0;
    // Each returns false and sets *error (a readable description) on failure.
    virtual bool registerService(QString *error) = 0;
    virtual bool unregisterService(QString *error) = 0;
    // Shows the desktop's list of programs started with the session.
    virtual void openSystemSettingsLoginItems() = 0;
};

// Whether some helper already serves the helper's name right now. Synchronous.
class HelperPresenceInterface {
public:
    virtual ~HelperPresenceInterface() = default;
    virtual bool externalHelperIsRunning() = 0;
};

// Opening documents and revealing files; results are not examined.
class WorkspaceInterface {
public:
    virtual ~WorkspaceInterface() = default;
    virtual void openUrl(const QUrl &url) = 0;
    virtual void revealFile(const QString &path) = 0;
};
