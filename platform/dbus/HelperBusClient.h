// The app's side of the session bus: starts the helper on demand, checks
// that the name's owner really is the helper, talks only to that unique name
// and accepts the helper's one-way calls only from it.
#pragma once

#include "BusPeerIdentity.h"
#include "XPCProtocol.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QVariantList>

class QDBusServiceWatcher;

class HelperBusClient : public QObject {
    Q_OBJECT
public:
    // Environment an activated helper needs to reach the user's display.
    static const QStringList &sessionEnvironmentNames();

    HelperBusClient(QDBusConnection bus, BusPeerCheck helperCheck, QObject *parent = nullptr);
    ~HelperBusClient() override;

    // Hands the session's display environment to the bus, starts the helper
    // if nobody owns its name, and checks the owner's identity.
    bool connectToHelper(QString *error);
    const QString &helperName() const { return m_helperName; }

    // Calls a member of the helper interface on the checked unique name. Lock
    // and unlock may wait for a person, so they get no reply timeout.
    QDBusPendingCall call(const char *member, const QVariantList &arguments = {});

    // Publishes the app object; calls reach sink, on this object's thread,
    // only when they come from the checked helper.
    bool exportAppInterface(PaneveilAppProtocol *sink, QString *error);

Q_SIGNALS:
    void helperLeft();

private:
    void deliver(const QDBusMessage &message);
    bool handOverSessionEnvironment(QString *error);

    QDBusConnection m_bus;
    BusPeerCheck m_helperCheck;
    QString m_helperName;
    PaneveilAppProtocol *m_sink = nullptr;
    QDBusServiceWatcher *m_watcher = nullptr;
    class BusObject *m_object = nullptr;
};
