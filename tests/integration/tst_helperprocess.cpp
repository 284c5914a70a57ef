// The installed helper and `paneveil` client, run as processes in a
// throwaway session: activation, clean exits, broadcasts, refused callers.

#include "Constants.h"
#include "TestSession.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QTest>

namespace {

const QString app = QStringLiteral(PANEVEIL_INSTALLED_APP);
const QString helper = QStringLiteral(PANEVEIL_INSTALLED_HELPER);
const QString helperService = QString::fromLatin1(PVConstants::helperMachServiceName);
// A Wayland session makes every lock fail honestly, which lets these tests
// see error broadcasts without leaving a real lock behind.
const QString lockFailure = QStringLiteral("Paneveil cannot block input on a Wayland session yet.");

RunResult paneveil(const TestSession &session, const QString &command)
{
    return runProgram(app, {command}, session.environment());
}

// The session environment of a Wayland desktop; the client hands it over to
// the helper it activates.
QProcessEnvironment waylandEnvironment(const TestSession &session)
{
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    return environment;
}

QStringList lines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A long-running `paneveil watch`.
struct Watcher {
    QProcess process;
    explicit Watcher(const TestSession &session, const QProcessEnvironment &environment = {})
    {
        process.setProcessEnvironment(environment.isEmpty() ? session.environment() : environment);
        process.start(app, {QStringLiteral("watch")});
    }
    ~Watcher()
    {
        process.kill();
        process.waitForFinished();
    }
    QStringList output = {};
    bool waitForLines(int count, int timeoutMs = 10000)
    {
        for (int waited = 0; waited < timeoutMs && output.size() < count; waited += 100) {
            process.waitForReadyRead(100);
            output << lines(QString::fromUtf8(process.readAllStandardOutput()));
        }
        return output.size() >= count;
    }
};

} // namespace

class TestHelperProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(app), qPrintable(app));
        QVERIFY2(QFile::exists(helper), qPrintable(helper));
    }

    void activatedOnFirstCallWithTheHandedOverEnvironment()
    {
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));

        const RunResult status = paneveil(*session, QStringLiteral("status"));
        QCOMPARE(status.exitCode, 0);
        QCOMPARE(status.out, QStringLiteral("Unlocked\n"));

        // The bus itself never had DISPLAY; the helper got it from the client.
        const qint64 pid = session->ownerPid(helperService);
        QVERIFY(pid > 0);
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        QVERIFY(environ.readAll().split('\0').contains(QStringLiteral("DISPLAY=%1").arg(session->display()).toUtf8()));
        QCOMPARE(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)), helper);
        QTRY_VERIFY(session->busLog().contains(QStringLiteral("[PaneveilHelper] listening on com.zelquor.Paneveil.helper")));

        // A second instance finds the name taken and leaves quietly.
        const RunResult second = runProgram(helper, {}, session->environment());
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(lines(second.err), QStringList{QStringLiteral(
                                        "[PaneveilHelper] com.zelquor.Paneveil.helper is already owned by another process; exiting")});
        QCOMPARE(session->ownerPid(helperService), pid);
    }

    void exitsCleanlyWhenItCannotServe_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("logged");
        QTest::newRow("no display") << QStringLiteral("DISPLAY") << QString()
                                    << QStringLiteral("[PaneveilHelper] no X display (DISPLAY is not set); exiting");
        QTest::newRow("unreachable display") << QStringLiteral("DISPLAY") << QStringLiteral(":4242")
                                             << QStringLiteral("[PaneveilHelper] cannot connect to the X display :4242; exiting");
        QTest::newRow("no session bus") << QStringLiteral("DBUS_SESSION_BUS_ADDRESS")
                                        << QStringLiteral("unix:path=/nonexistent/bus") << QStringLiteral("[PaneveilHelper] no session bus");
    }

    void exitsCleanlyWhenItCannotServe()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(QString, logged);
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        QProcessEnvironment environment = session.environment();
        if (value.isEmpty())
            environment.remove(variable);
        else
            environment.insert(variable, value);

        const RunResult result = runProgram(helper, {}, environment);
        QCOMPARE(result.exitCode, 0);
        const QStringList logLines = lines(result.err);
        QCOMPARE(logLines.size(), 1);
        QVERIFY2(logLines.first().startsWith(logged), qPrintable(logLines.first()));
    }

    void exitsCleanlyWhenTheBusGoesAway()
    {
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        QProcess process;
        process.setProcessEnvironment(session.environment());
        process.start(helper);
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(session.ownerPid(helperService) == process.processId(), 10000);

        session.stopBus();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QStringList logLines = lines(QString::fromUtf8(process.readAllStandardError()));
        QCOMPARE(logLines.last(), QStringLiteral("[PaneveilHelper] the session bus went away; exiting"));
    }

    void lockFailsHonestlyAndEveryWatcherHearsIt()
    {
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        const QProcessEnvironment wayland = waylandEnvironment(*session);
        auto first = std::make_unique<Watcher>(*session, wayland);
        Watcher second(*session, wayland);
        QVERIFY(first->waitForLines(1));
        QVERIFY(second.waitForLines(1));
        QCOMPARE(first->output, QStringList{QStringLiteral("Unlocked")});

        const RunResult lock = runProgram(app, {QStringLiteral("lock")}, wayland);
        QCOMPARE(lock.exitCode, 1);
        QCOMPARE(lock.err, QStringLiteral("paneveil: %1\n").arg(lockFailure));
        QVERIFY(first->waitForLines(2));
        QVERIFY(second.waitForLines(2));
        QCOMPARE(first->output.at(1), QStringLiteral("Error: %1").arg(lockFailure));
        QCOMPARE(second.output.at(1), QStringLiteral("Error: %1").arg(lockFailure));

        // A watcher stopped by a signal ends cleanly; the other keeps hearing.
        first->process.terminate();
        QVERIFY(first->process.waitForFinished(5000));
        QCOMPARE(first->process.exitCode(), 0);
        QCOMPARE(runProgram(app, {QStringLiteral("lock")}, wayland).exitCode, 1);
        QVERIFY(second.waitForLines(3));
        QCOMPARE(second.output.at(2), QStringLiteral("Error: %1").arg(lockFailure));
        QCOMPARE(paneveil(*session, QStringLiteral("status")).out, QStringLiteral("Unlocked\n"));
    }

    void commandsPrintTheHelpersAnswers_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("version") << QStringLiteral("version") << 0 << QStringLiteral("0.1.0-dev\n") << QString();
        QTest::newRow("permissions") << QStringLiteral("permissions") << 0
                                     // A trusted connection to a server with XInput 2.
                                     << QStringLiteral("Accessibility: granted\nInput Monitoring: granted\n") << QString();
        QTest::newRow("lock") << QStringLiteral("lock") << 0 << QStringLiteral("Locked\n") << QString();
        QTest::newRow("unlock while unlocked") << QStringLiteral("unlock") << 0 << QStringLiteral("Unlocked\n") << QString();
        QTest::newRow("unknown command") << QStringLiteral("explode") << 2 << QString()
                                         << QStringLiteral("paneveil: usage: paneveil lock | unlock | status | version | permissions | watch\n");
    }

    void commandsPrintTheHelpersAnswers()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        const RunResult result = paneveil(*session, command);
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.out, out);
        QCOMPARE(result.err, err);
    }

    void unreachableHelperExitsTwo()
    {
        TestSession session; // no activation files: nobody can start the helper
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        const RunResult result = paneveil(session, QStringLiteral("status"));
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.startsWith(QStringLiteral("paneveil: Paneveil's helper is not reachable: ")), qPrintable(result.err));
    }

    void callerWithoutTheIdentityIsRefused_data()
    {
        QTest::addColumn<QStringList>("call");
        QTest::newRow("lock") << QStringList{QStringLiteral("lockWithReply")};
        QTest::newRow("unlock") << QStringList{QStringLiteral("unlockWithAuth_reply"), QStringLiteral("false")};
        QTest::newRow("status") << QStringList{QStringLiteral("getStatusWithReply")};
        QTest::newRow("settings") << QStringList{QStringLiteral("updateSettings_reply"), QStringLiteral("@ay []")};
        QTest::newRow("version") << QStringList{QStringLiteral("helperVersionWithReply")};
        QTest::newRow("permissions") << QStringList{QStringLiteral("getPermissionStatusWithReply")};
    }

    void callerWithoutTheIdentityIsRefused()
    {
        QFETCH(QStringList, call);
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        Watcher watcher(*session); // starts the helper and listens for broadcasts
        QVERIFY(watcher.waitForLines(1));

        QStringList arguments = {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), helperService,
                                 QStringLiteral("--object-path"), QString::fromLatin1(PVBus::helperObjectPath),
                                 QStringLiteral("--method"),
                                 QString::fromLatin1(PVBus::helperInterface) + QLatin1Char('.') + call.first()};
        arguments << call.mid(1);
        const RunResult refused = runProgram(QStringLiteral("gdbus"), arguments, session->environment());
        QVERIFY(refused.exitCode != 0);
        QVERIFY2(refused.err.contains(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied")), qPrintable(refused.err));

        // The helper keeps serving the app, and nothing reached the lock.
        const RunResult status = paneveil(*session, QStringLiteral("status"));
        QCOMPARE(status.exitCode, 0);
        QCOMPARE(status.out, QStringLiteral("Unlocked\n"));
        watcher.waitForLines(2, 500);
        QCOMPARE(watcher.output, QStringList{QStringLiteral("Unlocked")});
    }
};

QTEST_GUILESS_MAIN(TestHelperProcess)
#include "tst_helperprocess.moc"
