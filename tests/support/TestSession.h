// A throwaway desktop session for one test: an Xvfb server and a private
// session bus, both started here and stopped when the object goes away.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class TestSession {
public:
    struct Options {
        bool withDisplay = true;
        // Folder of D-Bus activation files the bus may start services from.
        QString serviceDirectory;
        // Environment the bus itself runs with (activated services inherit it).
        QProcessEnvironment busEnvironment = QProcessEnvironment::systemEnvironment();
        // Account the bus (and every service it starts) runs as, as in that
        // user's own session; empty for this process's own. Needs root.
        QString user;
    };

    TestSession();
    explicit TestSession(const Options &options);
    // A session whose bus starts services from serviceDirectory and has no
    // display in its own environment, as at login: an activated service only
    // reaches the display through what a client hands over.
    // A session bus alone, without a display.
    static std::unique_ptr<TestSession> busOnly();
    static std::unique_ptr<TestSession> activating(const QString &serviceDirectory, const QString &user = {});
    ~TestSession();
    TestSession(const TestSession &) = delete;
    TestSession &operator=(const TestSession &) = delete;

    // False, with a reason, when a component could not be started.
    bool isValid() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }

    const QString &display() const { return m_display; }
    const QString &busAddress() const { return m_busAddress; }
    // The session's runtime folder, owned by the session's user.
    QString runtimeDirectory() const { return m_dir.filePath(QStringLiteral("runtime")); }
    qint64 busPid() const { return m_bus.processId(); }
    // What the bus and the services it started wrote to standard error.
    QString busLog() const;

    // Environment for programs run inside this session.
    QProcessEnvironment environment() const;
    // A fresh connection of this process to the session bus.
    QDBusConnection connect(const QString &name) const;
    // Process id of the owner of busName, or 0 when nobody owns it.
    qint64 ownerPid(const QString &busName) const;
    // Stops the bus, as when a session ends.
    void stopBus();

private:
    bool startDisplay();
    bool startBus(const Options &options);

    QTemporaryDir m_dir;
    QProcess m_xvfb;
    QProcess m_bus;
    QString m_display;
    QString m_busAddress;
    QString m_error;
};

// Runs a program to completion inside a session; for command-line checks.
struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};
// Arguments for `setpriv` that run program as user, with its groups and
// exactly this environment, as that user's session would. Needs root.
QStringList setprivArguments(const QString &user, const QProcessEnvironment &environment, const QString &program,
                             const QStringList &arguments);

RunResult runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                     int timeoutMs = 30000);
