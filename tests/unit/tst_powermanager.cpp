// The display-sleep assertion over fake inhibitors: when it counts as held,
// that repeats are harmless, what is released, and the failure log line.
#include "PowerManager.h"
#include "StderrCapture.h"

#include <QTest>

namespace {

struct FakeScreenSaver final : ScreenSaverSuspendInterface {
    quint32 result = PowerFailureCode::none;
    int suspendCalls = 0;
    int resumeCalls = 0;
    quint32 suspend() override { ++suspendCalls; return result; }
    void resume() override { ++resumeCalls; }
};

struct FakeSessionInhibitor final : SessionIdleInhibitInterface {
    bool offered = true;
    int inhibitCalls = 0;
    int uninhibitCalls = 0;
    QString lastReason;
    bool inhibit(const QString &reason) override
    {
        ++inhibitCalls;
        lastReason = reason;
        return offered;
    }
    void uninhibit() override { ++uninhibitCalls; }
};

struct Rig {
    FakeScreenSaver *screenSaver = new FakeScreenSaver;
    FakeSessionInhibitor *session = new FakeSessionInhibitor;
    PowerManager power;
    explicit Rig(bool withSession = true)
        : power(std::unique_ptr<ScreenSaverSuspendInterface>(screenSaver),
                withSession ? std::unique_ptr<SessionIdleInhibitInterface>(session) : nullptr)
    {
        if (!withSession) {
            delete session;
            session = nullptr;
        }
    }
};

const QString failurePrefix = QStringLiteral("[PowerManager] IOPMAssertionCreateWithName failed: ");

} // namespace

class TestPowerManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsNotHeld()
    {
        Rig rig;
        QVERIFY(!rig.power.isHeld());
        QCOMPARE(rig.power.assertionID(), 0u);
        QCOMPARE(rig.screenSaver->suspendCalls, 0);
        QCOMPARE(rig.session->inhibitCalls, 0);
    }

    void takingTheAssertion_data()
    {
        QTest::addColumn<quint32>("screenSaverResult");
        QTest::addColumn<bool>("withSession");
        QTest::addColumn<bool>("sessionOffered");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("logged");

        QTest::newRow("screen saver only") << PowerFailureCode::none << true << false << true << QString();
        QTest::newRow("no session bus") << PowerFailureCode::none << false << false << true << QString();
        QTest::newRow("both") << PowerFailureCode::none << true << true << true << QString();
        QTest::newRow("session service carries it") << PowerFailureCode::unsupported << true << true << true << QString();
        QTest::newRow("no extension, no service")
            << PowerFailureCode::unsupported << true << false << false << QStringLiteral("0xe00002c7");
        QTest::newRow("no display, no bus")
            << PowerFailureCode::displayNotReachable << false << false << false << QStringLiteral("0xe00002d8");
        QTest::newRow("server refused (BadRequest)") << quint32(1) << true << false << false << QStringLiteral("0x1");
    }
    void takingTheAssertion()
    {
        QFETCH(quint32, screenSaverResult);
        QFETCH(bool, withSession);
        QFETCH(bool, sessionOffered);
        QFETCH(bool, held);
        QFETCH(QString, logged);

        Rig rig(withSession);
        rig.screenSaver->result = screenSaverResult;
        if (rig.session)
            rig.session->offered = sessionOffered;

        StderrCapture log;
        rig.power.preventDisplaySleep();
        const QString text = log.text();

        QCOMPARE(rig.power.isHeld(), held);
        QCOMPARE(rig.power.assertionID() != 0, held);
        if (rig.session)
            QCOMPARE(rig.session->lastReason, QString::fromUtf8("Paneveil active \u2014 preventing sleep"));
        if (logged.isEmpty())
            QVERIFY2(text.isEmpty(), qPrintable(text));
        else
            QCOMPARE(text, failurePrefix + logged + QLatin1Char('\n'));
    }

    // Repeats are harmless: one suspend and one inhibit, released once.
    void repeatsTakeAndReleaseOnce()
    {
        Rig rig;
        rig.power.preventDisplaySleep();
        const quint32 id = rig.power.assertionID();
        rig.power.preventDisplaySleep();
        QCOMPARE(rig.power.assertionID(), id);
        QCOMPARE(rig.screenSaver->suspendCalls, 1);
        QCOMPARE(rig.session->inhibitCalls, 1);

        rig.power.allowDisplaySleep();
        rig.power.allowDisplaySleep();
        QVERIFY(!rig.power.isHeld());
        QCOMPARE(rig.power.assertionID(), 0u);
        QCOMPARE(rig.screenSaver->resumeCalls, 1);
        QCOMPARE(rig.session->uninhibitCalls, 1);
    }

    void allowOnAFreshManagerReleasesNothing()
    {
        Rig rig;
        rig.power.allowDisplaySleep();
        QCOMPARE(rig.screenSaver->resumeCalls, 0);
        QCOMPARE(rig.session->uninhibitCalls, 0);
    }

    // Only what was actually taken is given back.
    void releasesOnlyTheInhibitorsThatHeld()
    {
        Rig rig;
        rig.screenSaver->result = PowerFailureCode::unsupported;
        rig.power.preventDisplaySleep();
        QVERIFY(rig.power.isHeld());
        rig.power.allowDisplaySleep();
        QCOMPARE(rig.screenSaver->resumeCalls, 0);
        QCOMPARE(rig.session->uninhibitCalls, 1);
    }

    void failedCreationIsRetriedNextTime()
    {
        Rig rig(false);
        rig.screenSaver->result = PowerFailureCode::displayNotReachable;
        {
            StderrCapture log;
            rig.power.preventDisplaySleep();
            QVERIFY(log.text().startsWith(failurePrefix));
        }
        QVERIFY(!rig.power.isHeld());
        rig.power.allowDisplaySleep();
        QCOMPARE(rig.screenSaver->resumeCalls, 0);

        rig.screenSaver->result = PowerFailureCode::none;
        rig.power.preventDisplaySleep();
        QCOMPARE(rig.screenSaver->suspendCalls, 2);
        QVERIFY(rig.power.isHeld());
    }

    void eachTakenAssertionGetsANewIdentifier()
    {
        Rig rig;
        rig.power.preventDisplaySleep();
        const quint32 first = rig.power.assertionID();
        rig.power.allowDisplaySleep();
        rig.power.preventDisplaySleep();
        QVERIFY(first != 0);
        QVERIFY(rig.power.assertionID() != 0);
        QVERIFY(rig.power.assertionID() != first);
    }
};

QTEST_GUILESS_MAIN(TestPowerManager)
#include "tst_powermanager.moc"
