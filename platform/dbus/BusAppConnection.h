// One admitted app on the bus, as the lock manager sees it: broadcasts become
// one-way method calls to the app's unique name.
#pragma once

#include "XPCProtocol.h"

#include <QDBusConnection>

class BusAppConnection final : public PaneveilAppProtocol {
public:
    BusAppConnection(QDBusConnection bus, QString uniqueName);

    void helperDidChangeLockState(bool isLocked, OptionalDate since) override;
    void helperDidEncounterError(QString message) override;

    const QString &uniqueName() const { return m_uniqueName; }

private:
    QDBusConnection m_bus;
    QString m_uniqueName;
};
