// The two interfaces the app and the helper speak. Every reply callback is
// called exactly once; the transport (session bus) lives in platform/dbus.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

using OptionalText = std::optional<QString>;
using OptionalDate = std::optional<QDateTime>;

// Exported by the helper, called by the app.
class PaneveilHelperProtocol {
public:
    using ResultReply = std::function<void(bool success, OptionalText message)>;
    using StatusReply = std::function<void(bool isLocked, OptionalDate lockedSince)>;
    using AcceptedReply = std::function<void(bool accepted)>;
    using VersionReply = std::function<void(QString version)>;
    using PermissionReply = std::function<void(bool accessibilityTrusted, bool inputMonitoringTrusted)>;

    virtual ~PaneveilHelperProtocol() = default;
    virtual void lockWithReply(ResultReply reply) = 0;
    virtual void unlockWithAuth(bool withAuth, ResultReply reply) = 0;
    virtual void getStatusWithReply(StatusReply reply) = 0;
    virtual void updateSettings(QByteArray payload, AcceptedReply reply) = 0;
    virtual void helperVersionWithReply(VersionReply reply) = 0;
    virtual void getPermissionStatusWithReply(PermissionReply reply) = 0;
};

// Exported by the app, called one-way by the helper.
class PaneveilAppProtocol {
public:
    virtual ~PaneveilAppProtocol() = default;
    virtual void helperDidChangeLockState(bool isLocked, OptionalDate since) = 0;
    virtual void helperDidEncounterError(QString message) = 0;
};
