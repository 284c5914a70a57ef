// The installed `paneveil` started without a command, as a session starts
// it: it registers the helper, reaches it, and its two hot keys drive the
// helper from any program; sessions it cannot serve get a clear refusal.

#include "BusWireTypes.h"
#include "HelperCallMonitor.h"
#include "TestSession.h"

#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString app = QStringLiteral(PANEVEIL_INSTALLED_APP);

} // namespace

class TestAppStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sessionsItCannotServeAreRefusedClearly_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("said");
        QTest::newRow("wayland") << QStringLiteral("XDG_SESSION_TYPE") << QStringLiteral("wayland")
                                 << QStringLiteral("Paneveil cannot block input on a Wayland session yet.\n");
        QTest::newRow("no display") << QStringLiteral("DISPLAY") << QString()
                                    << QStringLiteral("Paneveil needs an X11 display: no X display (DISPLAY is not set).\n");
    }

    void sessionsItCannotServeAreRefusedClearly()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(QString, said);
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        QProcessEnvironment environment = session.environment();
        if (value.isEmpty())
            environment.remove(variable);
        else
            environment.insert(variable, value);
        const RunResult result = runProgram(app, {}, environment);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, said);
    }

    void hotKeysFromAnyProgramLockAndUnlockThroughTheHelper()
    {
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        HelperCallMonitor monitor(*session);
        QVERIFY(monitor.isReady());
        QTemporaryDir home;
        QProcessEnvironment environment = session->environment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));

        QProcess paneveil;
        paneveil.setProcessEnvironment(environment);
        paneveil.start(app, {});
        QVERIFY(paneveil.waitForStarted());
        // Registered at start, without any user action; the bus starts the
        // helper on the app's first call, which sends the settings too.
        QTRY_VERIFY_WITH_TIMEOUT(monitor.count(BusMember::updateSettings) >= 1, 30000);
        QVERIFY(QFile::exists(home.filePath(QStringLiteral("data/dbus-1/services/com.zelquor.Paneveil.helper.service"))));
        QTRY_VERIFY(monitor.count(BusMember::getPermissionStatus) >= 1);

        const auto press = [&](const QString &keys) {
            return runProgram(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}, session->environment()).exitCode;
        };
        // Other modifier sets do nothing.
        QCOMPARE(press(QStringLiteral("ctrl+alt+l")), 0);
        QCOMPARE(press(QStringLiteral("super+l")), 0);
        QCOMPARE(press(QStringLiteral("ctrl+super+shift+u")), 0);
        // Unlock first: once locked, the helper's own grab takes every key and
        // recognises Control+Super+U itself, so the app never sees it.
        QCOMPARE(press(QStringLiteral("ctrl+super+u")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(monitor.count(BusMember::unlock), 1, 10000);
        QCOMPARE(monitor.count(BusMember::lock), 0);
        QCOMPARE(press(QStringLiteral("ctrl+super+l")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(monitor.count(BusMember::lock), 1, 10000);
        QCOMPARE(monitor.count(BusMember::unlock), 1);

        QCOMPARE(paneveil.state(), QProcess::Running);
        paneveil.terminate();
        QVERIFY(paneveil.waitForFinished(5000));
        // This session has no system tray; the app said so and kept working.
        QVERIFY(QString::fromUtf8(paneveil.readAllStandardError()).contains(QLatin1String("no system tray")));
    }
};

QTEST_GUILESS_MAIN(TestAppStartup)
#include "tst_appstartup.moc"
