// The identity check of a bus peer: the bus tells us the peer's process and
// user, the peer's executable tells us who it claims to be.
#pragma once

#include "ExecutableIdentity.h"

#include <QDBusConnection>
#include <QString>

#include <functional>

using BusPeerCheck = std::function<PVIdentity::PeerCheck(const QString &uniqueName)>;

// Checks uniqueName on bus against a requirement such as
// identifier "com.zelquor.Paneveil". Blocks on one bus round trip; call it
// off the main thread where that matters.
PVIdentity::PeerCheck checkBusPeer(const QDBusConnection &bus, const QString &uniqueName, const QString &requirement);

// A check bound to a bus and requirement, for the listener and the client.
BusPeerCheck busPeerCheck(const QDBusConnection &bus, const QString &requirement);
