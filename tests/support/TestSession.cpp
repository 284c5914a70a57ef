#include "TestSession.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

namespace {

QString readLine(QProcess &process, int timeoutMs)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(timeoutMs))
            return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

TestSession::TestSession()
    : TestSession(Options{})
{
}

TestSession::TestSession(const Options &options)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!options.user.isEmpty()) {
        // The user reaches the bus socket in here and owns the runtime folder.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ExeGroup | QFileDevice::ExeOther);
        const RunResult owned = runProgram(QStringLiteral("chown"), {options.user, runtimeDirectory()},
                                           QProcessEnvironment::systemEnvironment());
        if (owned.exitCode != 0) {
            m_error = QStringLiteral("cannot give the runtime folder to %1: %2").arg(options.user, owned.err);
            return;
        }
    }
    if (options.withDisplay && !startDisplay())
        return;
    startBus(options);
}

std::unique_ptr<TestSession> TestSession::busOnly()
{
    Options options;
    options.withDisplay = false;
    return std::make_unique<TestSession>(options);
}

std::unique_ptr<TestSession> TestSession::activating(const QString &serviceDirectory, const QString &user)
{
    QProcessEnvironment busEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
        busEnvironment.remove(QString::fromLatin1(name));
    return std::make_unique<TestSession>(Options{
        .withDisplay = true, .serviceDirectory = serviceDirectory, .busEnvironment = busEnvironment, .user = user});
}

TestSession::~TestSession()
{
    stop(m_bus);
    stop(m_xvfb);
}

bool TestSession::startDisplay()
{
    // -displayfd picks a free display number and writes it to standard output.
    m_xvfb.setProgram(QStringLiteral("Xvfb"));
    m_xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1280x800x24")});
    m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.start();
    const QString number = readLine(m_xvfb, 10000);
    if (number.isEmpty()) {
        m_error = QStringLiteral("Xvfb did not start: %1").arg(m_xvfb.errorString());
        return false;
    }
    m_display = QLatin1Char(':') + number;
    return true;
}

bool TestSession::startBus(const Options &options)
{
    const QString configPath = m_dir.filePath(QStringLiteral("session.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    QString serviceDir;
    if (!options.serviceDirectory.isEmpty())
        serviceDir = QStringLiteral("  <servicedir>%1</servicedir>\n").arg(options.serviceDirectory);
    // Under another user the bus drops to it after opening its socket, and
    // lets this process in to watch.
    QString userLines;
    if (!options.user.isEmpty())
        userLines = QStringLiteral("  <user>%1</user>\n").arg(options.user);
    const QString otherUsers = options.user.isEmpty() ? QString() : QStringLiteral("    <allow user=\"*\"/>\n");
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig>\n"
                                "  <type>session</type>\n"
                                "%3"
                                "  <listen>unix:dir=%1</listen>\n"
                                "%2"
                                "  <policy context=\"default\">\n"
                                "%4"
                                "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                "    <allow eavesdrop=\"true\"/>\n"
                                "    <allow own=\"*\"/>\n"
                                "  </policy>\n"
                                "</busconfig>\n")
                     .arg(m_dir.path(), serviceDir, userLines, otherUsers)
                     .toUtf8());
    config.close();

    m_bus.setProgram(QStringLiteral("dbus-daemon"));
    m_bus.setArguments({QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
    QProcessEnvironment busEnvironment = options.busEnvironment;
    busEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    m_bus.setProcessEnvironment(busEnvironment);
    m_bus.setStandardErrorFile(m_dir.filePath(QStringLiteral("bus.log")));
    m_bus.start();
    m_busAddress = readLine(m_bus, 10000);
    if (m_busAddress.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon did not start: %1").arg(m_bus.errorString());
        return false;
    }
    return true;
}

QProcessEnvironment TestSession::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!m_display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return environment;
}

QDBusConnection TestSession::connect(const QString &name) const
{
    return QDBusConnection::connectToBus(m_busAddress, name + QUuid::createUuid().toString(QUuid::Id128));
}

QString TestSession::busLog() const
{
    QFile log(m_dir.filePath(QStringLiteral("bus.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

qint64 TestSession::ownerPid(const QString &busName) const
{
    QDBusConnection bus = connect(QStringLiteral("pid-probe"));
    const qint64 pid = bus.interface()->servicePid(busName).value();
    QDBusConnection::disconnectFromBus(bus.name());
    return pid;
}

void TestSession::stopBus()
{
    stop(m_bus);
}

RunResult runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                     int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("timed out");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QStringList setprivArguments(const QString &user, const QProcessEnvironment &environment, const QString &program,
                             const QStringList &arguments)
{
    QStringList command{QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                        QStringLiteral("--init-groups"), QStringLiteral("--reset-env"), QStringLiteral("env")};
    for (const QString &name : environment.keys())
        command << name + QLatin1Char('=') + environment.value(name);
    return command << program << arguments;
}
