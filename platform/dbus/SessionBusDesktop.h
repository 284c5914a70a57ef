// The session bus as the app's registration service uses it: whether a
// helper owns its name, asking the bus to reread its activation files, and
// showing a file in the file manager.
#pragma once

#include "HelperServicePlatform.h"

#include <QDBusConnection>
#include <QString>

// Asks the bus to reload its configuration and service files; waits for the
// answer so a call made next can already activate a new service.
bool requestBusReload(const QDBusConnection &bus, QString *error = nullptr);

class SessionBusHelperPresence : public HelperPresenceInterface {
public:
    explicit SessionBusHelperPresence(QDBusConnection bus);
    // NameHasOwner for the helper's name; no answer counts as no helper.
    bool externalHelperIsRunning() override;

private:
    QDBusConnection m_bus;
};

// Opens documents with the desktop's opener; reveals files through
// org.freedesktop.FileManager1, falling back to opening their folder.
class FileManagerWorkspace : public WorkspaceInterface {
public:
    FileManagerWorkspace(QDBusConnection bus, QString openerProgram = QStringLiteral("xdg-open"));
    void openUrl(const QUrl &url) override;
    void revealFile(const QString &path) override;

private:
    QDBusConnection m_bus;
    QString m_openerProgram;
};
