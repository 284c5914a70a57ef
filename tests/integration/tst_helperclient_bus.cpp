// The app's lock state model and helper client against the real helper on a
// private bus (started by D-Bus activation from the installed tree), against
// a scripted peer with the helper's identity for replies the helper cannot
// easily give, and against an impostor without that identity.

#include "AppSettings.h"
#include "BusHelperTransport.h"
#include "BusWireTypes.h"
#include "Constants.h"
#include "FakeRegistration.h"
#include "HelperCallMonitor.h"
#include "LockState.h"
#include "TestSession.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString helperBusName = QString::fromLatin1(PVConstants::helperMachServiceName);
const QString notReachable = QStringLiteral("Background helper is not reachable: ");
constexpr int activationTimeoutMs = 30000;

// A scripted stand-in for the helper; see scripted_helper_peer.cpp.
class ScriptedPeer {
public:
    ScriptedPeer(const TestSession &session, const QString &program)
    {
        m_process.setProcessEnvironment(session.environment());
        m_process.start(program);
    }
    ~ScriptedPeer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool waitForLine(const QString &wanted, int timeoutMs = 10000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            read();
            if (m_lines.contains(wanted))
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    bool command(const QString &line)
    {
        m_lines.removeAll(QStringLiteral("ok"));
        m_process.write((line + QLatin1Char('\n')).toUtf8());
        return waitForLine(QStringLiteral("ok"));
    }
    int calls(const char *member)
    {
        read();
        return int(m_lines.count(QStringLiteral("called ") + QLatin1String(member)));
    }
    int allCalls()
    {
        read();
        return int(m_lines.filter(QStringLiteral("called ")).size());
    }

private:
    void read()
    {
        m_process.waitForReadyRead(0);
        m_lines << QString::fromUtf8(m_process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QProcess m_process;
    QStringList m_lines;
};

// The app's three objects on one bus connection of this process (which
// carries the app's identity), with the registration faked as enabled.
struct App {
    QDBusConnection bus;
    int registrationStatus = LoginItemServiceInterface::notRegistered;
    int repairs = 0;
    std::unique_ptr<HelperService> helperService = fakeRegistration(&registrationStatus, &repairs);
    AppSettings settings;
    std::unique_ptr<LockState> model;

    explicit App(const TestSession &session)
        : bus(session.connect(QStringLiteral("app")))
        , model(std::make_unique<LockState>(std::make_shared<BusHelperTransport>(bus)))
    {
        model->attach(helperService.get(), &settings);
    }
    ~App()
    {
        model.reset();
        QDBusConnection::disconnectFromBus(bus.name());
    }
    void enableRegistration()
    {
        registrationStatus = LoginItemServiceInterface::enabled;
        helperService->ensureRegistered();
    }
    QString helperName() const { return bus.interface()->serviceOwner(helperBusName).value(); }
};

// What the model shows, readable in a failure message.
QString shownText(const OptionalText &text)
{
    return text.value_or(QStringLiteral("<no message>"));
}

} // namespace

class TestHelperClientBus : public QObject {
    Q_OBJECT

private:
    QTemporaryDir configHome;

    // The session's display, handed to the helper the bus activates.
    static void useDisplayOf(const TestSession &session) { qputenv("DISPLAY", session.display().toUtf8()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(configHome.isValid());
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
        QVERIFY2(QFile::exists(QStringLiteral(PANEVEIL_INSTALLED_SERVICES)), PANEVEIL_INSTALLED_SERVICES);
    }

    void theActivatedHelperAnswersAndItsLockAnswerReachesTheModel()
    {
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        useDisplayOf(*session);
        HelperCallMonitor monitor(*session);
        QVERIFY(monitor.isReady());
        App app(*session);

        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->helperReachable(), activationTimeoutMs);
        QVERIFY(!app.model->isCheckingReachability());
        QTRY_VERIFY(app.model->helperAccessibilityTrusted().has_value());
        QVERIFY(app.model->helperInputMonitoringTrusted().has_value());
        QCOMPARE(app.model->lastError(), OptionalText());
        QTRY_VERIFY(monitor.count(BusMember::updateSettings) >= 1);
        const int statusBefore = monitor.count(BusMember::getStatus);

        app.model->lock();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->isLocked() || app.model->lastError().has_value(), 15000);
        if (app.model->isLocked()) {
            // A helper that can block input: its broadcast says so.
            QVERIFY(app.model->lockedSince().has_value());
            QCOMPARE(app.model->lastError(), OptionalText());
            return;
        }
        // A helper that refuses (as long as input blocking stays off): its
        // message stays shown and the status is read once more.
        QVERIFY(!app.model->lastError()->isEmpty());
        QTRY_COMPARE(monitor.count(BusMember::getStatus), statusBefore + 1);
        QVERIFY(app.model->helperReachable());
        QTest::qWait(500);
        QCOMPARE(monitor.count(BusMember::getStatus), statusBefore + 1);
        QVERIFY(app.model->lastError().has_value());
    }

    void aKilledHelperIsActivatedAgainAndGetsTheSettings()
    {
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        useDisplayOf(*session);
        HelperCallMonitor monitor(*session);
        QVERIFY(monitor.isReady());
        App app(*session);
        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->helperReachable(), activationTimeoutMs);
        const qint64 firstPid = session->ownerPid(helperBusName);
        QVERIFY(firstPid > 0);
        QList<bool> reachability;
        connect(app.model.get(), &LockState::helperReachableChanged, this,
                [&] { reachability << app.model->helperReachable(); });

        QCOMPARE(::kill(pid_t(firstPid), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const qint64 pid = session->ownerPid(helperBusName);
                return pid > 0 && pid != firstPid && app.model->helperReachable();
            }(),
            activationTimeoutMs);
        // It was unreachable in between.
        QVERIFY(reachability.contains(false));
        QCOMPARE(reachability.last(), true);
        // The new helper got the settings again.
        const QString newHelper = app.helperName();
        QTRY_VERIFY(monitor.count(BusMember::updateSettings, newHelper) >= 1);
        QVERIFY(!app.model->isCheckingReachability());
    }

    void aPeerWithoutTheHelpersIdentityIsRefusedAndRepairedOnce()
    {
        TestSession session; // nothing can be activated: the impostor holds the name
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        useDisplayOf(session);
        ScriptedPeer impostor(session, QStringLiteral(PANEVEIL_IMPOSTOR_PEER));
        QVERIFY(impostor.waitForLine(QStringLiteral("ready")));
        App app(session);

        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->lastError().has_value(), 10000);
        const QString shown = app.model->lastError().value_or(QString());
        QVERIFY2(shown.startsWith(notReachable) && shown.contains(QStringLiteral("is not Paneveil's helper")), qPrintable(shown));
        QVERIFY(!app.model->helperReachable());
        // The second failed status request, one retry later, repairs once.
        QTRY_COMPARE_WITH_TIMEOUT(app.repairs, 1, 15000);
        QTest::qWait(LockState::reachabilityRetryIntervalMs + 500);
        QCOMPARE(app.repairs, 1);
        QVERIFY(app.model->isCheckingReachability());
        QCOMPARE(impostor.allCalls(), 0);
    }

    void callbacksFromOtherPeersAreIgnored_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("lock state") << QString::fromLatin1(BusMember::helperDidChangeLockState)
                                    << QVariantList{true, BusWire::fromOptionalDate(QDateTime::currentDateTimeUtc())};
        QTest::newRow("error") << QString::fromLatin1(BusMember::helperDidEncounterError) << QVariantList{QStringLiteral("forged")};
    }

    void callbacksFromOtherPeersAreIgnored()
    {
        QFETCH(QString, member);
        QFETCH(QVariantList, arguments);
        auto session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES));
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        useDisplayOf(*session);
        App app(*session);
        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->helperReachable(), activationTimeoutMs);
        QSignalSpy locked(app.model.get(), &LockState::isLockedChanged);
        QSignalSpy lastError(app.model.get(), &LockState::lastErrorChanged);

        QDBusConnection forger = session->connect(QStringLiteral("forger"));
        QDBusMessage call = QDBusMessage::createMethodCall(app.bus.baseService(), QString::fromLatin1(PVBus::appObjectPath),
                                                           QString::fromLatin1(PVBus::appInterface), member);
        call.setArguments(arguments);
        const QDBusMessage reply = forger.call(call);
        QDBusConnection::disconnectFromBus(forger.name());
        QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
        QTest::qWait(300);
        QCOMPARE(locked.count(), 0);
        QCOMPARE(lastError.count(), 0);
        QVERIFY(!app.model->isLocked());
    }

    void scriptedFailures_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("request");
        QTest::addColumn<OptionalText>("shown");
        QTest::addColumn<int>("statusRequests");
        QTest::newRow("lock refused without a message")
            << QStringLiteral("reply lockWithReply refuse") << QStringLiteral("lock") << OptionalText(QStringLiteral("Lock failed.")) << 1;
        QTest::newRow("lock refused with a message")
            << QStringLiteral("reply lockWithReply refuse-with Grab held by another program") << QStringLiteral("lock")
            << OptionalText(QStringLiteral("Grab held by another program")) << 1;
        QTest::newRow("lock answered with a bus error")
            << QStringLiteral("reply lockWithReply error boom") << QStringLiteral("lock") << OptionalText(QStringLiteral("boom")) << -1;
        QTest::newRow("lock answered malformed")
            << QStringLiteral("reply lockWithReply malformed") << QStringLiteral("lock")
            << OptionalText(QStringLiteral("The helper sent a malformed reply to lockWithReply.")) << -1;
        QTest::newRow("unlock accepted with a message")
            << QStringLiteral("reply unlockWithAuth_reply success Unlocked, but the sound failed") << QStringLiteral("unlock")
            << OptionalText(QStringLiteral("Unlocked, but the sound failed")) << 0;
        QTest::newRow("unlock refused without a message clears the text")
            << QStringLiteral("reply unlockWithAuth_reply refuse") << QStringLiteral("unlock") << OptionalText() << 0;
    }

    void scriptedFailures()
    {
        QFETCH(QString, script);
        QFETCH(QString, request);
        QFETCH(OptionalText, shown);
        QFETCH(int, statusRequests);
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        useDisplayOf(session);
        ScriptedPeer peer(session, QStringLiteral(PANEVEIL_SCRIPTED_PEER));
        QVERIFY(peer.waitForLine(QStringLiteral("ready")));
        App app(session);
        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->helperReachable(), 10000);
        QCOMPARE(peer.calls(BusMember::updateSettings), 1);
        app.model->apply(LockState::Error{QStringLiteral("an earlier message")});
        QVERIFY(peer.command(script));
        const int statusBefore = peer.calls(BusMember::getStatus);

        QStringList shownTexts;
        connect(app.model.get(), &LockState::lastErrorChanged, this,
                [&] { shownTexts << shownText(app.model->lastError()); });
        if (request == QLatin1String("lock"))
            app.model->lock();
        else
            app.model->unlock();
        QTRY_VERIFY_WITH_TIMEOUT(shownTexts.contains(shownText(shown)), 10000);
        if (statusRequests >= 0) {
            QCOMPARE(shownText(app.model->lastError()), shownText(shown));
            QTRY_COMPARE(peer.calls(BusMember::getStatus), statusBefore + statusRequests);
            QTest::qWait(300);
            QCOMPARE(peer.calls(BusMember::getStatus), statusBefore + statusRequests);
        } else {
            // A transport error drops the connection; the model reconnects at
            // once and the peer hears from it again, settings included, and
            // its status answer clears the text.
            QTRY_COMPARE(peer.calls(BusMember::updateSettings), 2);
            QTRY_VERIFY(app.model->helperReachable());
            QTRY_COMPARE(shownTexts.last(), shownText(std::nullopt));
        }
    }

    void aFailingStatusRequestReportsTheHelperUnreachable_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("shown");
        QTest::newRow("bus error") << QStringLiteral("reply getStatusWithReply error no status today") << notReachable + QStringLiteral("no status today");
        QTest::newRow("malformed") << QStringLiteral("reply getStatusWithReply malformed")
                                   << notReachable + QStringLiteral("The helper sent a malformed reply to getStatusWithReply.");
    }

    void aFailingStatusRequestReportsTheHelperUnreachable()
    {
        QFETCH(QString, script);
        QFETCH(QString, shown);
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        useDisplayOf(session);
        ScriptedPeer peer(session, QStringLiteral(PANEVEIL_SCRIPTED_PEER));
        QVERIFY(peer.waitForLine(QStringLiteral("ready")));
        QVERIFY(peer.command(script));
        App app(session);

        app.enableRegistration();
        QTRY_COMPARE_WITH_TIMEOUT(shownText(app.model->lastError()), shown, 10000);
        QVERIFY(!app.model->helperReachable());
        QCOMPARE(app.model->reachabilityFailureCount(), 1);
        // The next retry fails the same way and repairs the registration once.
        QTRY_COMPARE_WITH_TIMEOUT(app.repairs, 1, 15000);
    }

    void broadcastsReachTheModel()
    {
        TestSession session;
        QVERIFY2(session.isValid(), qPrintable(session.error()));
        useDisplayOf(session);
        ScriptedPeer peer(session, QStringLiteral(PANEVEIL_SCRIPTED_PEER));
        QVERIFY(peer.waitForLine(QStringLiteral("ready")));
        App app(session);
        app.enableRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(app.model->helperReachable(), 10000);
        app.model->apply(LockState::Error{QStringLiteral("an earlier message")});

        QVERIFY(peer.command(QStringLiteral("broadcast-locked 1700000000")));
        QTRY_VERIFY(app.model->isLocked());
        QCOMPARE(app.model->lockedSince(), OptionalDate(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)));
        QCOMPARE(app.model->lastError(), OptionalText());

        QVERIFY(peer.command(QStringLiteral("broadcast-error Input Monitoring is not granted")));
        QTRY_COMPARE(app.model->lastError(), OptionalText(QStringLiteral("Input Monitoring is not granted")));
    }
};

QTEST_GUILESS_MAIN(TestHelperClientBus)
#include "tst_helperclient_bus.moc"
