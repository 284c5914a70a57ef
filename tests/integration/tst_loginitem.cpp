// The registration service on the real adapters: an installed copy writes
// the installation's launch files into temporary XDG folders and the private
// bus starts the helper from them; a copy elsewhere writes nothing.

#include "Constants.h"
#include "SessionBusDesktop.h"
#include "ServicesForThisSystem.h"
#include "TestSession.h"
#include "XdgLoginItemService.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDirIterator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using State = HelperService::State;
const QString helperName = QString::fromLatin1(PVConstants::helperMachServiceName);
const QString unitName = helperName + QStringLiteral(".service");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Every file below a folder, relative to it.
QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    return files;
}

// A script standing in for a desktop program: logs its arguments, one call a line.
QString fakeProgram(const QString &folder, const QString &name, const QString &extra = {})
{
    const QString path = folder + u'/' + name;
    writeAll(path, QStringLiteral("#!/bin/sh\necho \"$*\" >> \"%1.log\"\n%2\n").arg(path, extra).toUtf8());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QStringList callsOf(const QString &fakePath)
{
    return QString::fromUtf8(readAll(fakePath + QStringLiteral(".log"))).split(u'\n', Qt::SkipEmptyParts);
}

// What this process writes to standard error meanwhile.
class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(2);
        ::dup2(m_file.handle(), 2);
    }
    ~StderrCapture() { text(); }
    QString text()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, 2);
            ::close(m_saved);
            m_saved = -1;
        }
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Temporary XDG folders, a bus that activates from the user's folder, and
// the registration service of a copy of the app running at runningAppPath.
struct Desk {
    QTemporaryDir home;
    InstalledLayout layout;
    std::unique_ptr<TestSession> session;
    QDBusConnection bus{QString()};
    QProcessEnvironment environment;

    explicit Desk(const InstalledLayout &installed = InstalledLayout::underPrefix(QStringLiteral(PANEVEIL_TEST_PREFIX)))
        : layout(installed)
    {
        // The bus runs without a display; the test hands it over as the app does.
        QProcessEnvironment busEnvironment = QProcessEnvironment::systemEnvironment();
        busEnvironment.remove(QStringLiteral("DISPLAY"));
        session = std::make_unique<TestSession>(TestSession::Options{
            .withDisplay = true, .serviceDirectory = dataHome() + QStringLiteral("/dbus-1/services"),
            .busEnvironment = busEnvironment});
        bus = session->connect(QStringLiteral("app"));
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        QDir().mkpath(runtimeDir());
    }
    ~Desk() { QDBusConnection::disconnectFromBus(bus.name()); }

    QString dataHome() const { return home.filePath(QStringLiteral("data")); }
    QString configHome() const { return home.filePath(QStringLiteral("config")); }
    QString runtimeDir() const { return home.filePath(QStringLiteral("runtime")); }
    QString activationFile() const { return dataHome() + QStringLiteral("/dbus-1/services/") + unitName; }
    QString unitFile() const { return configHome() + QStringLiteral("/systemd/user/") + unitName; }
    QString autostartEntry() const { return configHome() + QStringLiteral("/autostart/") + helperName + QStringLiteral(".desktop"); }
    QString templateOf(const QString &relative) const { return layout.dataDirectory + u'/' + relative; }

    std::unique_ptr<HelperService> service(const QString &runningAppPath) const
    {
        return std::make_unique<HelperService>(helperServicePlatform(layout, runningAppPath, bus, environment));
    }
    std::unique_ptr<HelperService> installedService() const { return service(layout.appExecutable); }

    bool registeredCopiesMatchInstallation() const
    {
        return readAll(activationFile()) == readAll(templateOf(QStringLiteral("dbus-1/services/") + unitName))
            && readAll(unitFile()) == readAll(templateOf(QStringLiteral("systemd/user/") + unitName))
            && readAll(autostartEntry())
            == readAll(templateOf(QStringLiteral("autostart/") + helperName + QStringLiteral(".desktop")))
            && !readAll(activationFile()).isEmpty();
    }

    // Asks the bus to start the helper, as the app's first call would.
    QDBusMessage startHelper()
    {
        QDBusMessage update = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
        update << QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("DISPLAY"), session->display()}});
        bus.call(update);
        QDBusMessage start = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"));
        start << helperName << 0u;
        return bus.call(start, QDBus::Block, 20000);
    }
    qint64 helperPid() const { return bus.interface()->servicePid(helperName).value(); }
    bool helperOwnsName() const { return bus.interface()->isServiceRegistered(helperName).value(); }
};

// A partial copy of the installation under a prefix of its own.
struct PartialInstallation {
    QTemporaryDir dir;
    InstalledLayout layout;
    explicit PartialInstallation(const QString &leaveOut)
    {
        const InstalledLayout real = InstalledLayout::underPrefix(QStringLiteral(PANEVEIL_TEST_PREFIX));
        layout = InstalledLayout::underPrefix(dir.path());
        const auto copy = [](const QString &from, const QString &to) {
            QDir().mkpath(QFileInfo(to).absolutePath());
            QFile::copy(from, to);
        };
        copy(real.appExecutable, layout.appExecutable);
        if (leaveOut != u"helper")
            copy(real.helperExecutable, layout.helperExecutable);
        for (const QString &relative : filesUnder(real.dataDirectory)) {
            if (relative != leaveOut)
                copy(real.dataDirectory + u'/' + relative, layout.dataDirectory + u'/' + relative);
        }
    }
};

} // namespace

// org.freedesktop.FileManager1 as a file manager serves it.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &)
    {
        shown = uris;
    }
};

Q_DECLARE_METATYPE(HelperService::State)

class TestLoginItem : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qDBusRegisterMetaType<QMap<QString, QString>>();
        const InstalledLayout layout = InstalledLayout::underPrefix(QStringLiteral(PANEVEIL_TEST_PREFIX));
        QVERIFY2(QFile::exists(layout.appExecutable), qPrintable(layout.appExecutable));
        QVERIFY2(QFile::exists(layout.helperExecutable), qPrintable(layout.helperExecutable));
        const QByteArray help = readAll(layout.permissionsHelpPage());
        QVERIFY(help.contains("id=\"Privacy_Accessibility\""));
        QVERIFY(help.contains("id=\"Privacy_ListenEvent\""));
    }

    void registersAndTheBusStartsTheHelper()
    {
        Desk desk;
        QVERIFY2(desk.session->isValid(), qPrintable(desk.session->error()));
        auto service = desk.installedService();
        service->unregister();
        QCOMPARE(service->state(), State::notRegistered);
        QVERIFY(filesUnder(desk.home.path()).isEmpty());
        QCOMPARE(desk.startHelper().type(), QDBusMessage::ErrorMessage);

        StderrCapture log;
        service->ensureRegistered();
        QVERIFY2(log.text().contains(QStringLiteral("[LoginItems] no systemd user manager runs")), "");
        QCOMPARE(service->state(), State::enabled);
        QVERIFY(desk.registeredCopiesMatchInstallation());

        // The bus reloaded: the user's activation file starts the installed helper.
        const QDBusMessage started = desk.startHelper();
        QVERIFY2(started.type() == QDBusMessage::ReplyMessage, qPrintable(started.errorMessage() + QStringLiteral("\n") + desk.session->busLog()));
        QTRY_VERIFY(desk.helperOwnsName());
        const qint64 pid = desk.helperPid();
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget(),
                 QFileInfo(desk.layout.helperExecutable).canonicalFilePath());
        ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY(!desk.helperOwnsName());

        // Unregistered: the files go, and the bus no longer knows the helper.
        service->unregister();
        QCOMPARE(service->state(), State::notRegistered);
        QVERIFY2(filesUnder(desk.home.path()).isEmpty(), qPrintable(filesUnder(desk.home.path()).join(u',')));
        QCOMPARE(desk.startHelper().errorName(), QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"));
    }

    void disabledByTheUserNeedsApproval_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("autostart entry hidden") << QStringLiteral("Hidden");
        QTest::newRow("autostart entry disabled on GNOME") << QStringLiteral("X-GNOME-Autostart-enabled");
        QTest::newRow("unit masked") << QStringLiteral("mask");
    }

    void disabledByTheUserNeedsApproval()
    {
        QFETCH(QString, how);
        Desk desk;
        auto service = desk.installedService();
        service->ensureRegistered();
        QCOMPARE(service->state(), State::enabled);

        const QByteArray entry = readAll(desk.autostartEntry());
        const QByteArray unit = readAll(desk.unitFile());
        if (how == u"mask") {
            QVERIFY(QFile::remove(desk.unitFile()));
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), desk.unitFile()));
        } else {
            QVERIFY(writeAll(desk.autostartEntry(),
                             entry + (how == u"Hidden" ? "Hidden=true\n" : "X-GNOME-Autostart-enabled=false\n")));
        }
        const QByteArray disabledEntry = readAll(desk.autostartEntry());

        auto restarted = desk.installedService();
        restarted->ensureRegistered();
        QCOMPARE(restarted->state(), State::needsApproval);
        QVERIFY(restarted->isPolling());
        // Not registered over the user's choice.
        QCOMPARE(readAll(desk.autostartEntry()), disabledEntry);
        QCOMPARE(QFileInfo(desk.unitFile()).isSymLink(), how == u"mask");

        // The user turns it back on; the next poll sees it.
        if (how == u"mask") {
            QVERIFY(QFile::remove(desk.unitFile()));
            QVERIFY(writeAll(desk.unitFile(), unit));
        } else {
            QVERIFY(writeAll(desk.autostartEntry(), entry));
        }
        QTRY_COMPARE_WITH_TIMEOUT(restarted->state(), State::enabled, 3000);
        QVERIFY(!restarted->isPolling());
    }

    void helperMissingFromInstallation_data()
    {
        QTest::addColumn<QString>("leaveOut");
        QTest::newRow("helper executable") << QStringLiteral("helper");
        QTest::newRow("activation file") << QStringLiteral("dbus-1/services/") + unitName;
        QTest::newRow("systemd unit") << QStringLiteral("systemd/user/") + unitName;
        QTest::newRow("autostart entry") << QStringLiteral("autostart/") + helperName + QStringLiteral(".desktop");
    }

    void helperMissingFromInstallation()
    {
        QFETCH(QString, leaveOut);
        PartialInstallation installation(leaveOut);
        Desk desk(installation.layout);
        auto service = desk.installedService();
        StderrCapture log;
        service->ensureRegistered();
        QVERIFY2(log.text().startsWith(QStringLiteral("[HelperService] register() failed: the helper or its launch "
                                                      "files are missing from the installation")),
                 qPrintable(log.text()));
        QCOMPARE(service->state(), State::serviceNotFound);
        QVERIFY(service->isPolling());
        QVERIFY(filesUnder(desk.home.path()).isEmpty());
    }

    void repairPutsTheInstallationsFilesBack()
    {
        Desk desk;
        auto service = desk.installedService();
        service->ensureRegistered();
        // Left over from an installation elsewhere.
        QVERIFY(writeAll(desk.activationFile(), "[D-BUS Service]\nName=com.zelquor.Paneveil.helper\nExec=/gone\n"));
        QVERIFY(QFile::remove(desk.autostartEntry()));

        service->repairRegistration();
        QCOMPARE(service->state(), State::enabled);
        QVERIFY(!service->isPolling());
        QVERIFY(desk.registeredCopiesMatchInstallation());
        QCOMPARE(desk.startHelper().type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(desk.helperOwnsName());
        ::kill(pid_t(desk.helperPid()), SIGTERM);
    }

    void failedRepairIsLoggedAndPolls()
    {
        Desk desk;
        auto service = desk.installedService();
        service->ensureRegistered();
        // Something the app can neither remove nor replace stands where the
        // autostart entry goes.
        QVERIFY(QFile::remove(desk.autostartEntry()));
        QVERIFY(writeAll(desk.autostartEntry() + QStringLiteral("/blocker"), "x"));

        StderrCapture log;
        service->repairRegistration();
        const QStringList lines = log.text().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("[HelperService] repair unregister() failed: cannot remove ")),
                 qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("[HelperService] repair register() failed: cannot write ")),
                 qPrintable(lines.at(1)));
        QCOMPARE(service->state(), State::notRegistered);
        QVERIFY(service->isPolling());
    }

    void copyOutsideTheInstallationWritesNothing()
    {
        Desk desk;
        // This test program runs from the build tree.
        auto service = desk.service(QCoreApplication::applicationFilePath());
        service->ensureRegistered();
        QCOMPARE(service->state(), State::serviceNotFound);
        QVERIFY(service->isPolling());

        QProcess helper;
        helper.setProcessEnvironment(desk.session->environment());
        helper.start(desk.layout.helperExecutable, {});
        QTRY_VERIFY(desk.helperOwnsName());
        QTRY_COMPARE_WITH_TIMEOUT(service->state(), State::enabled, 3000);
        QVERIFY(!service->isPolling());

        helper.terminate();
        QVERIFY(helper.waitForFinished(5000));
        service->repairRegistration();
        QCOMPARE(service->state(), State::serviceNotFound);
        service->unregister();
        QCOMPARE(service->state(), State::serviceNotFound);
        QVERIFY2(filesUnder(desk.home.path()).isEmpty(), qPrintable(filesUnder(desk.home.path()).join(u',')));
    }

    // No systemd user manager runs on these machines; a socket where the
    // manager's would be and a scripted systemctl show what the service asks
    // of one.
    void withAUserManagerTheUnitIsEnabled()
    {
        Desk desk;
        QDir().mkpath(desk.runtimeDir() + QStringLiteral("/systemd"));
        const int manager = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(desk.runtimeDir() + QStringLiteral("/systemd/private"));
        QVERIFY(size_t(socketPath.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QVERIFY(::bind(manager, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
        const auto closeSocket = qScopeGuard([manager] { ::close(manager); });
        const QString state = desk.home.filePath(QStringLiteral("unit-state"));
        QVERIFY(writeAll(state, "enabled\n"));
        const QString systemctl = fakeProgram(desk.home.filePath(QStringLiteral("bin")), QStringLiteral("systemctl"),
                                              QStringLiteral("[ \"$2\" = is-enabled ] && cat %1; exit 0").arg(state));

        XdgLoginItemService::Options options = XdgLoginItemService::Options::fromEnvironment(
            desk.layout.helperExecutable, desk.layout.dataDirectory, desk.environment);
        options.systemctlProgram = systemctl;
        XdgLoginItemService loginItems(options);
        QVERIFY(loginItems.userManagerRunning());
        QString error;
        QVERIFY2(loginItems.registerService(&error), qPrintable(error));
        QCOMPARE(callsOf(systemctl),
                 (QStringList{QStringLiteral("--user daemon-reload"), QStringLiteral("--user enable ") + unitName}));
        QCOMPARE(loginItems.status(), int(LoginItemServiceInterface::enabled));

        QVERIFY(writeAll(state, "disabled\n"));
        QCOMPARE(loginItems.status(), int(LoginItemServiceInterface::requiresApproval));

        QVERIFY(QFile::remove(systemctl + QStringLiteral(".log")));
        QVERIFY2(loginItems.unregisterService(&error), qPrintable(error));
        QCOMPARE(callsOf(systemctl),
                 (QStringList{QStringLiteral("--user disable ") + unitName, QStringLiteral("--user daemon-reload")}));
        QCOMPARE(loginItems.status(), int(LoginItemServiceInterface::notRegistered));
    }

    void revealUsesTheFileManagerOrOpensTheFolder()
    {
        Desk desk;
        const QString opener = fakeProgram(desk.home.filePath(QStringLiteral("bin")), QStringLiteral("xdg-open"));
        const QString helperPath = desk.layout.helperExecutable;
        FileManagerWorkspace workspace(desk.bus, opener);

        // No file manager on the bus: its folder opens.
        workspace.revealFile(helperPath);
        QTRY_COMPARE(callsOf(opener),
                     QStringList{QUrl::fromLocalFile(QFileInfo(helperPath).absolutePath()).toString()});

        // A file manager shows the file itself.
        QVERIFY(QFile::remove(opener + QStringLiteral(".log")));
        QDBusConnection fileManagerBus = desk.session->connect(QStringLiteral("filemanager"));
        FakeFileManager fileManager;
        QVERIFY(fileManagerBus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                              QDBusConnection::ExportAllSlots));
        QVERIFY(fileManagerBus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        workspace.revealFile(helperPath);
        QTRY_COMPARE(fileManager.shown, QStringList{QUrl::fromLocalFile(helperPath).toString()});
        QTest::qWait(200);
        QVERIFY(callsOf(opener).isEmpty());
        QDBusConnection::disconnectFromBus(fileManagerBus.name());
    }

    void loginItemsOpenTheDesktopsSettingsOrTheFolder()
    {
        Desk desk;
        const QString bin = desk.home.filePath(QStringLiteral("bin"));
        const QString opener = fakeProgram(bin, QStringLiteral("xdg-open"));
        const QString settings = fakeProgram(bin, QStringLiteral("xfce4-session-settings"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.toUtf8() + ':' + path);

        XdgLoginItemService::Options options = XdgLoginItemService::Options::fromEnvironment(
            desk.layout.helperExecutable, desk.layout.dataDirectory, desk.environment);
        options.openerProgram = opener;
        options.currentDesktop = QStringLiteral("Unknown-Desk");
        XdgLoginItemService(options).openSystemSettingsLoginItems();
        QTRY_COMPARE(callsOf(opener),
                     QStringList{QUrl::fromLocalFile(desk.configHome() + QStringLiteral("/autostart")).toString()});

        options.currentDesktop = QStringLiteral("Foo:XFCE");
        XdgLoginItemService(options).openSystemSettingsLoginItems();
        QTRY_VERIFY(QFile::exists(settings + QStringLiteral(".log")));
        qputenv("PATH", path);
        QCOMPARE(callsOf(opener).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
