// The input blocker on an X connection the server does not trust (made with
// "xauth generate ... untrusted"): both permissions read false, the user is
// asked once for each by notification, a lock fails with the Accessibility
// text, and nothing is left grabbed.

#include "DesktopNotificationPrompt.h"
#include "EventTapManager.h"
#include "FakeNotifications.h"
#include "InputPermissions.h"
#include "InputTestClients.h"
#include "TestSession.h"
#include "X11InputGrab.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <cstdio>

namespace {

// An Xvfb that requires a cookie, with a trusted and an untrusted one.
struct AuthorizedDisplay {
    QTemporaryDir dir;
    QProcess xvfb;
    QString display;
    QString trustedAuthority;
    QString untrustedAuthority;
    QString error;

    AuthorizedDisplay()
    {
        trustedAuthority = dir.filePath(QStringLiteral("trusted"));
        untrustedAuthority = dir.filePath(QStringLiteral("untrusted"));
        // -noreset: a server reset would forget the generated untrusted cookie.
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-auth"),
                                            trustedAuthority, QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                                            QStringLiteral("tcp")});
        // The cookie file is read when the first client connects, not at start.
        while (!xvfb.canReadLine() && xvfb.waitForReadyRead(10000)) {
        }
        const QString number = QString::fromUtf8(xvfb.readLine()).trimmed();
        if (number.isEmpty()) {
            error = QStringLiteral("Xvfb did not start");
            return;
        }
        display = QLatin1Char(':') + number;
        const QString cookie = QUuid::createUuid().toString(QUuid::Id128);
        if (!run({QStringLiteral("-f"), trustedAuthority, QStringLiteral("add"), display, QStringLiteral("."), cookie}, {})
            || !run({QStringLiteral("-f"), untrustedAuthority, QStringLiteral("generate"), display, QStringLiteral("."),
                     QStringLiteral("untrusted"), QStringLiteral("timeout"), QStringLiteral("0")},
                    trustedAuthority)) {
            error = QStringLiteral("xauth failed");
        }
    }
    ~AuthorizedDisplay()
    {
        xvfb.terminate();
        xvfb.waitForFinished(3000);
    }

    bool run(const QStringList &arguments, const QString &authority)
    {
        QProcess xauth;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!authority.isEmpty())
            environment.insert(QStringLiteral("XAUTHORITY"), authority);
        xauth.setProcessEnvironment(environment);
        xauth.start(QStringLiteral("xauth"), arguments);
        return xauth.waitForFinished(10000) && xauth.exitCode() == 0;
    }
};

AuthorizedDisplay *server = nullptr;

} // namespace

class TestX11InputGrabUntrusted : public QObject {
    Q_OBJECT

    std::unique_ptr<XTestInput> input;
    std::unique_ptr<TestSession> bus;

private Q_SLOTS:
    void initTestCase()
    {
        const QByteArray untrusted = qgetenv("XAUTHORITY");
        qputenv("XAUTHORITY", server->trustedAuthority.toLocal8Bit());
        input = std::make_unique<XTestInput>(server->display.toLocal8Bit());
        qputenv("XAUTHORITY", untrusted);
        QVERIFY(input->isValid());
        bus = TestSession::busOnly();
        QVERIFY2(bus->isValid(), qPrintable(bus->error()));
    }

    void permissionsReadFalse()
    {
        InputPermissions permissions(std::make_shared<X11InputGrab>());
        QVERIFY(!permissions.accessibilityTrusted());
        // The server hides XInput from untrusted clients as well.
        QVERIFY(!permissions.inputMonitoringTrusted());
    }

    void lockFailsWithTheAccessibilityTextAndAsksOnce()
    {
        QDBusConnection daemonBus = bus->connect(QStringLiteral("notifications"));
        FakeNotifications daemon;
        QVERIFY(daemon.serve(daemonBus));
        auto grab = std::make_shared<X11InputGrab>();
        EventTapManager manager(grab, std::make_shared<DesktopNotificationPrompt>(bus->connect(QStringLiteral("helper"))));
        manager.shouldSwallowEvents = [] { return true; };
        for (int attempt = 0; attempt < 2; ++attempt) {
            QVERIFY(!manager.start());
            QCOMPARE(manager.lastStartFailureMessage().value_or(QString()),
                     QString::fromUtf8(EventTapManager::accessibilityMessage));
            QVERIFY(!grab->isHeld());
            QVERIFY(input->nothingGrabbed());
        }
        QTRY_COMPARE(daemon.received.size(), 2);
        QTest::qWait(100);
        QCOMPARE(daemon.received.size(), 2);
        QCOMPARE(daemon.received.at(0).summary,
                 DesktopNotificationPrompt::summary(PermissionPromptInterface::Permission::Accessibility));
        QCOMPARE(daemon.received.at(1).summary,
                 DesktopNotificationPrompt::summary(PermissionPromptInterface::Permission::InputMonitoring));
    }
};

int main(int argc, char **argv)
{
    AuthorizedDisplay display;
    if (!display.error.isEmpty()) {
        std::fprintf(stderr, "cannot start the X server: %s\n", qPrintable(display.error));
        return 1;
    }
    server = &display;
    qputenv("DISPLAY", display.display.toLocal8Bit());
    qputenv("XAUTHORITY", display.untrustedAuthority.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("XDG_SESSION_TYPE", "x11");
    qunsetenv("WAYLAND_DISPLAY");
    QGuiApplication application(argc, argv);
    TestX11InputGrabUntrusted test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11inputgrab_untrusted.moc"
