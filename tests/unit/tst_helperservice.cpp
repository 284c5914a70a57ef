// HelperService's logic over fake adapters: the status mapping, when it
// registers, polls, repairs and logs, and who counts as the installed copy.

#include "HelperService.h"
#include "StderrCapture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Raw = LoginItemServiceInterface::RawStatus;

// What the fakes saw and will answer; shared with the test after the
// service took the fakes over.
struct World {
    int status = Raw::notRegistered;
    // Status after a successful register / unregister.
    int statusAfterRegister = Raw::enabled;
    int statusAfterUnregister = Raw::notRegistered;
    QString registerError;
    QString unregisterError;
    bool helperRunning = false;
    QStringList calls;
    int statusReads = 0;
    int presenceQueries = 0;
    QList<QUrl> openedUrls;
    QStringList revealed;
};

class FakeLoginItems : public LoginItemServiceInterface {
public:
    explicit FakeLoginItems(World *world) : m_world(world) {}
    int status() override
    {
        ++m_world->statusReads;
        return m_world->status;
    }
    bool registerService(QString *error) override
    {
        m_world->calls << QStringLiteral("register");
        if (!m_world->registerError.isEmpty()) {
            *error = m_world->registerError;
            return false;
        }
        m_world->status = m_world->statusAfterRegister;
        return true;
    }
    bool unregisterService(QString *error) override
    {
        m_world->calls << QStringLiteral("unregister");
        if (!m_world->unregisterError.isEmpty()) {
            *error = m_world->unregisterError;
            return false;
        }
        m_world->status = m_world->statusAfterUnregister;
        return true;
    }
    void openSystemSettingsLoginItems() override { m_world->calls << QStringLiteral("openLoginItems"); }

private:
    World *m_world;
};

class FakePresence : public HelperPresenceInterface {
public:
    explicit FakePresence(World *world) : m_world(world) {}
    bool externalHelperIsRunning() override
    {
        ++m_world->presenceQueries;
        return m_world->helperRunning;
    }

private:
    World *m_world;
};

class FakeWorkspace : public WorkspaceInterface {
public:
    explicit FakeWorkspace(World *world) : m_world(world) {}
    void openUrl(const QUrl &url) override { m_world->openedUrls << url; }
    void revealFile(const QString &path) override { m_world->revealed << path; }

private:
    World *m_world;
};

enum class Copy { installed, elsewhere };

// An installed app file and a second copy, both real files, so that the
// installed-location test resolves real paths.
struct Tree {
    QTemporaryDir dir;
    QString installedApp;
    QString otherApp;
    Tree()
    {
        installedApp = dir.filePath(QStringLiteral("prefix/bin/paneveil"));
        otherApp = dir.filePath(QStringLiteral("build/paneveil"));
        for (const QString &path : {installedApp, otherApp}) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            file.open(QIODevice::WriteOnly);
        }
    }
};

std::unique_ptr<HelperService> makeService(World &world, const Tree &tree, Copy copy)
{
    HelperService::Platform platform;
    platform.loginItemService = std::make_unique<FakeLoginItems>(&world);
    platform.helperPresence = std::make_unique<FakePresence>(&world);
    platform.workspace = std::make_unique<FakeWorkspace>(&world);
    platform.installedAppPath = tree.installedApp;
    platform.runningAppPath = copy == Copy::installed ? tree.installedApp : tree.otherApp;
    platform.installedHelperPath = QStringLiteral("/opt/pv/libexec/paneveil/com.zelquor.Paneveil.helper");
    platform.permissionsHelpPath = QStringLiteral("/opt/pv/share/paneveil/help/permissions.html");
    return std::make_unique<HelperService>(std::move(platform));
}

using State = HelperService::State;

// The current row's value of a column, inside an expression.
#define FETCHED(Type, name) (*static_cast<Type *>(QTest::qData(#name, ::qMetaTypeId<Type>())))

} // namespace

Q_DECLARE_METATYPE(HelperService::State)

class TestHelperService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ensureRegisteredOnInstalledCopy_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("statusAfterRegister");
        QTest::addColumn<QString>("registerError");
        QTest::addColumn<State>("expectedState");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::addColumn<bool>("expectPolling");
        QTest::addColumn<QString>("expectedLog");

        const QStringList registered{QStringLiteral("register")};
        // Polling starts after registering whatever the outcome; the next
        // poll stops it once enabled.
        QTest::newRow("not registered, becomes enabled")
            << int(Raw::notRegistered) << int(Raw::enabled) << QString() << State::enabled << registered << true
            << QString();
        QTest::newRow("not registered, then waits for approval")
            << int(Raw::notRegistered) << int(Raw::requiresApproval) << QString() << State::needsApproval
            << registered << true << QString();
        QTest::newRow("not found, register fails")
            << int(Raw::notFound) << int(Raw::enabled) << QStringLiteral("helper missing") << State::serviceNotFound
            << registered << true << QStringLiteral("[HelperService] register() failed: helper missing\n");
        QTest::newRow("already enabled") << int(Raw::enabled) << int(Raw::enabled) << QString() << State::enabled
                                         << QStringList() << false << QString();
        QTest::newRow("waiting for approval is not registered again")
            << int(Raw::requiresApproval) << int(Raw::enabled) << QString() << State::needsApproval << QStringList()
            << true << QString();
        QTest::newRow("unknown status neither registers nor polls")
            << 7 << int(Raw::enabled) << QString() << State::unknown << QStringList() << false << QString();
        QTest::newRow("negative status is unknown")
            << -1 << int(Raw::enabled) << QString() << State::unknown << QStringList() << false << QString();
    }

    void ensureRegisteredOnInstalledCopy()
    {
        QFETCH(int, status);
        QFETCH(int, statusAfterRegister);
        QFETCH(QString, registerError);
        Tree tree;
        World world;
        world.status = status;
        world.statusAfterRegister = statusAfterRegister;
        world.registerError = registerError;
        auto service = makeService(world, tree, Copy::installed);
        QCOMPARE(service->state(), State::unknown);

        StderrCapture log;
        service->ensureRegistered();
        QCOMPARE(log.text(), FETCHED(QString, expectedLog));
        QCOMPARE(service->state(), FETCHED(State, expectedState));
        QCOMPARE(world.calls, FETCHED(QStringList, expectedCalls));
        QCOMPARE(service->isPolling(), FETCHED(bool, expectPolling));
        QCOMPARE(world.presenceQueries, 0);
    }

    void pollsUntilApprovedThenStops()
    {
        Tree tree;
        World world;
        world.status = Raw::requiresApproval;
        auto service = makeService(world, tree, Copy::installed);
        QSignalSpy changes(service.get(), &HelperService::stateChanged);
        QElapsedTimer clock;
        clock.start();
        service->ensureRegistered();
        QCOMPARE(changes.count(), 1);

        // Every poll assigns the state again, also when it did not change.
        QVERIFY(changes.wait(4000));
        const qint64 firstPoll = clock.elapsed();
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.last().first().value<State>(), State::needsApproval);
        QVERIFY2(firstPoll >= 1900 && firstPoll < 3500, qPrintable(QString::number(firstPoll)));

        world.status = Raw::enabled;
        QVERIFY(changes.wait(4000));
        QCOMPARE(service->state(), State::enabled);
        QVERIFY(!service->isPolling());
        QVERIFY(!changes.wait(2600));
        QVERIFY(world.calls.isEmpty());
    }

    void startingToPollTwiceKeepsOneTimer()
    {
        Tree tree;
        World world;
        world.status = Raw::requiresApproval;
        auto service = makeService(world, tree, Copy::installed);
        service->ensureRegistered();
        service->ensureRegistered();
        QSignalSpy changes(service.get(), &HelperService::stateChanged);
        QVERIFY(changes.wait(3000));
        // A second timer would add a second poll right after the first.
        QVERIFY(!changes.wait(500));
        QCOMPARE(changes.count(), 1);
    }

    void copyElsewhereOnlyAsksForARunningHelper_data()
    {
        QTest::addColumn<bool>("helperRunning");
        QTest::addColumn<State>("expectedState");
        QTest::newRow("helper running") << true << State::enabled;
        QTest::newRow("no helper") << false << State::serviceNotFound;
    }

    void copyElsewhereOnlyAsksForARunningHelper()
    {
        QFETCH(bool, helperRunning);
        QFETCH(State, expectedState);
        Tree tree;
        World world;
        world.helperRunning = helperRunning;
        auto service = makeService(world, tree, Copy::elsewhere);
        QSignalSpy changes(service.get(), &HelperService::stateChanged);

        service->ensureRegistered();
        QCOMPARE(service->state(), expectedState);
        // Polling starts even when a helper runs: one more check follows.
        QVERIFY(service->isPolling());
        QVERIFY(changes.wait(3000));
        QCOMPARE(service->state(), expectedState);
        QCOMPARE(service->isPolling(), !helperRunning);
        QCOMPARE(world.presenceQueries, 2);

        service->repairRegistration();
        service->unregister();
        QCOMPARE(world.presenceQueries, 4);
        QVERIFY2(world.calls.isEmpty(), qPrintable(world.calls.join(u',')));
        QCOMPARE(world.statusReads, 0);
    }

    void installedLocationIsComparedAfterResolvingLinks_data()
    {
        QTest::addColumn<QString>("running");  // relative to the tree
        QTest::addColumn<QString>("installed");
        QTest::addColumn<bool>("manages");
        QTest::newRow("same file") << QStringLiteral("prefix/bin/paneveil") << QStringLiteral("prefix/bin/paneveil")
                                   << true;
        QTest::newRow("installed path is a link to the running copy")
            << QStringLiteral("build/paneveil") << QStringLiteral("link-to-build") << true;
        QTest::newRow("running through a linked folder")
            << QStringLiteral("linked-prefix/bin/paneveil") << QStringLiteral("prefix/bin/paneveil") << true;
        QTest::newRow("another copy") << QStringLiteral("build/paneveil") << QStringLiteral("prefix/bin/paneveil")
                                      << false;
        QTest::newRow("nothing installed, nothing running")
            << QStringLiteral("missing/paneveil") << QStringLiteral("missing/paneveil") << false;
        QTest::newRow("case differs") << QStringLiteral("prefix/bin/paneveil") << QStringLiteral("prefix/bin/Paneveil")
                                      << false;
    }

    void installedLocationIsComparedAfterResolvingLinks()
    {
        Tree tree;
        QVERIFY(QFile::link(tree.otherApp, tree.dir.filePath(QStringLiteral("link-to-build"))));
        QVERIFY(QFile::link(tree.dir.filePath(QStringLiteral("prefix")),
                            tree.dir.filePath(QStringLiteral("linked-prefix"))));
        QFile(tree.dir.filePath(QStringLiteral("prefix/bin/Paneveil"))).open(QIODevice::WriteOnly);
        World world;
        world.status = Raw::enabled;
        HelperService::Platform platform;
        platform.loginItemService = std::make_unique<FakeLoginItems>(&world);
        platform.helperPresence = std::make_unique<FakePresence>(&world);
        platform.workspace = std::make_unique<FakeWorkspace>(&world);
        platform.runningAppPath = tree.dir.filePath(FETCHED(QString, running));
        platform.installedAppPath = tree.dir.filePath(FETCHED(QString, installed));
        HelperService service(std::move(platform));
        service.unregister();
        const bool manages = FETCHED(bool, manages);
        QCOMPARE(world.calls, manages ? QStringList{QStringLiteral("unregister")} : QStringList());
        QCOMPARE(world.presenceQueries, manages ? 0 : 1);
    }

    void repairRegistration_data()
    {
        QTest::addColumn<QString>("unregisterError");
        QTest::addColumn<QString>("registerError");
        QTest::addColumn<int>("statusAfterRegister");
        QTest::addColumn<State>("expectedState");
        QTest::addColumn<bool>("expectPolling");
        QTest::addColumn<QString>("expectedLog");
        QTest::newRow("re-registered and enabled")
            << QString() << QString() << int(Raw::enabled) << State::enabled << false << QString();
        QTest::newRow("re-registered, waiting for approval")
            << QString() << QString() << int(Raw::requiresApproval) << State::needsApproval << true << QString();
        QTest::newRow("both steps fail")
            << QStringLiteral("cannot remove") << QStringLiteral("cannot write") << int(Raw::enabled)
            << State::notRegistered << true
            << QStringLiteral("[HelperService] repair unregister() failed: cannot remove\n"
                              "[HelperService] repair register() failed: cannot write\n");
    }

    void repairRegistration()
    {
        Tree tree;
        World world;
        world.status = Raw::requiresApproval;
        world.statusAfterUnregister = Raw::notRegistered;
        world.statusAfterRegister = FETCHED(int, statusAfterRegister);
        auto service = makeService(world, tree, Copy::installed);
        service->ensureRegistered();
        QVERIFY(service->isPolling());
        world.unregisterError = FETCHED(QString, unregisterError);
        world.registerError = FETCHED(QString, registerError);
        if (!world.unregisterError.isEmpty())
            world.status = Raw::notRegistered;
        QSignalSpy changes(service.get(), &HelperService::stateChanged);

        StderrCapture log;
        service->repairRegistration();
        QCOMPARE(log.text(), FETCHED(QString, expectedLog));
        QCOMPARE(world.calls, (QStringList{QStringLiteral("unregister"), QStringLiteral("register")}));
        // One refresh after each step.
        QCOMPARE(changes.count(), 2);
        QCOMPARE(service->state(), FETCHED(State, expectedState));
        QCOMPARE(service->isPolling(), FETCHED(bool, expectPolling));
    }

    void unregisterLogsFailureAndRefreshes()
    {
        Tree tree;
        World world;
        world.status = Raw::enabled;
        world.unregisterError = QStringLiteral("busy");
        auto service = makeService(world, tree, Copy::installed);
        QSignalSpy changes(service.get(), &HelperService::stateChanged);
        StderrCapture log;
        service->unregister();
        QCOMPARE(log.text(), QStringLiteral("[HelperService] unregister() failed: busy\n"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(service->state(), State::enabled);

        world.unregisterError.clear();
        service->unregister();
        QCOMPARE(service->state(), State::notRegistered);
        QVERIFY(!service->isPolling());
    }

    void settingsAndRevealOpenTheInstalledPlaces()
    {
        Tree tree;
        World world;
        auto service = makeService(world, tree, Copy::elsewhere);
        service->openAccessibilitySettings();
        service->openInputMonitoringSettings();
        service->revealHelperInFinder();
        service->openLoginItemsSettings();
        QCOMPARE(world.openedUrls,
                 (QList<QUrl>{QUrl(QStringLiteral("file:///opt/pv/share/paneveil/help/permissions.html#Privacy_Accessibility")),
                              QUrl(QStringLiteral("file:///opt/pv/share/paneveil/help/permissions.html#Privacy_ListenEvent"))}));
        QCOMPARE(world.revealed, QStringList{QStringLiteral("/opt/pv/libexec/paneveil/com.zelquor.Paneveil.helper")});
        QCOMPARE(world.calls, QStringList{QStringLiteral("openLoginItems")});
    }

    void destroyedServiceStopsPolling()
    {
        Tree tree;
        World world;
        world.status = Raw::requiresApproval;
        auto service = makeService(world, tree, Copy::installed);
        service->ensureRegistered();
        const int reads = world.statusReads;
        service.reset();
        QTest::qWait(2300);
        QCOMPARE(world.statusReads, reads);
    }
};

QTEST_GUILESS_MAIN(TestHelperService)
#include "tst_helperservice.moc"
