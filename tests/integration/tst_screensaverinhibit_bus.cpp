// The session's screen-saver service on a private bus: a stand-in
// org.freedesktop.ScreenSaver records what the power manager asks of it.
#include "Constants.h"
#include "PowerManager.h"
#include "SessionScreenSaverInhibitor.h"
#include "StderrCapture.h"
#include "TestSession.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QTest>

#include <memory>

namespace {

class FakeScreenSaverService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    struct Inhibition {
        QString sender;
        QString application;
        QString reason;
        quint32 cookie = 0;
    };

    bool serve(QDBusConnection bus)
    {
        return bus.registerObject(QString::fromLatin1(SessionScreenSaverInhibitor::path), this,
                                  QDBusConnection::ExportAllSlots)
            && bus.registerService(QString::fromLatin1(SessionScreenSaverInhibitor::service));
    }

    QList<Inhibition> active;
    QList<Inhibition> ever;
    QList<quint32> uninhibited;
    bool refuse = false;

public Q_SLOTS:
    quint32 Inhibit(const QString &application, const QString &reason)
    {
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("inhibiting is not allowed here"));
            return 0;
        }
        const Inhibition inhibition{message().service(), application, reason, m_nextCookie++};
        active << inhibition;
        ever << inhibition;
        return inhibition.cookie;
    }
    void UnInhibit(quint32 cookie)
    {
        uninhibited << cookie;
        active.removeIf([&](const Inhibition &i) { return i.cookie == cookie && i.sender == message().service(); });
    }

private:
    quint32 m_nextCookie = 41;
};

// The X side fails (no display), so only the session service can hold the
// assertion and everything visible happens on the bus.
std::unique_ptr<PowerManager> sessionOnlyPower(SessionScreenSaverInhibitor *inhibitor)
{
    struct NoDisplay final : ScreenSaverSuspendInterface {
        quint32 suspend() override { return PowerFailureCode::displayNotReachable; }
        void resume() override {}
    };
    return std::make_unique<PowerManager>(std::make_unique<NoDisplay>(),
                                          std::unique_ptr<SessionIdleInhibitInterface>(inhibitor));
}

} // namespace

class TestScreenSaverInhibitBus : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> session;

private Q_SLOTS:
    void init()
    {
        session = TestSession::busOnly();
        QVERIFY2(session->isValid(), qPrintable(session->error()));
    }
    void cleanup() { session.reset(); }

    void inhibitsWithTheAssertionNameAndReleasesItsCookie()
    {
        FakeScreenSaverService service;
        QVERIFY(service.serve(session->connect(QStringLiteral("screensaver"))));
        QDBusConnection helperBus = session->connect(QStringLiteral("helper"));
        auto power = sessionOnlyPower(new SessionScreenSaverInhibitor(helperBus));

        power->preventDisplaySleep();
        QVERIFY(power->isHeld());
        QTRY_COMPARE(service.active.size(), 1);
        const auto inhibition = service.active.first();
        QCOMPARE(inhibition.reason, QString::fromUtf8("Paneveil active \u2014 preventing sleep"));
        QCOMPARE(inhibition.application, QString::fromLatin1(PVConstants::helperBundleID));
        QCOMPARE(inhibition.sender, helperBus.baseService());

        // Repeats ask nothing more.
        power->preventDisplaySleep();
        QTest::qWait(200);
        QCOMPARE(service.ever.size(), 1);

        power->allowDisplaySleep();
        QTRY_COMPARE(service.uninhibited, QList<quint32>{inhibition.cookie});
        QVERIFY(service.active.isEmpty());
        power->allowDisplaySleep();
        QTest::qWait(200);
        QCOMPARE(service.uninhibited.size(), 1);
    }

    // Released before the service answered: the late cookie is given back.
    void releaseBeforeTheReplyStillUninhibits()
    {
        FakeScreenSaverService service;
        QVERIFY(service.serve(session->connect(QStringLiteral("screensaver"))));
        auto power = sessionOnlyPower(new SessionScreenSaverInhibitor(session->connect(QStringLiteral("helper"))));

        power->preventDisplaySleep();
        power->allowDisplaySleep();
        QTRY_COMPARE(service.uninhibited.size(), 1);
        QCOMPARE(service.ever.size(), 1);
        QVERIFY(service.active.isEmpty());
    }

    // Released and retaken before the answer: exactly one inhibit stays.
    void retakeBeforeTheReplyKeepsOneInhibit()
    {
        FakeScreenSaverService service;
        QVERIFY(service.serve(session->connect(QStringLiteral("screensaver"))));
        auto power = sessionOnlyPower(new SessionScreenSaverInhibitor(session->connect(QStringLiteral("helper"))));

        power->preventDisplaySleep();
        power->allowDisplaySleep();
        power->preventDisplaySleep();
        QTRY_COMPARE(service.ever.size(), 1);
        QTest::qWait(200);
        QCOMPARE(service.active.size(), 1);
        power->allowDisplaySleep();
        QTRY_VERIFY(service.active.isEmpty());
    }

    void sessionWithoutTheServiceIsNotAsked()
    {
        StderrCapture log;
        auto power = sessionOnlyPower(new SessionScreenSaverInhibitor(session->connect(QStringLiteral("helper"))));
        power->preventDisplaySleep();
        QVERIFY(!power->isHeld());
        QCOMPARE(log.text(), QStringLiteral("[PowerManager] IOPMAssertionCreateWithName failed: 0xe00002d8\n"));
    }

    void refusedInhibitIsLoggedOnce()
    {
        FakeScreenSaverService service;
        service.refuse = true;
        QVERIFY(service.serve(session->connect(QStringLiteral("screensaver"))));
        auto power = sessionOnlyPower(new SessionScreenSaverInhibitor(session->connect(QStringLiteral("helper"))));

        StderrCapture log;
        power->preventDisplaySleep();
        QTest::qWait(500);
        const QString text = log.text();
        QCOMPARE(text.count(QLatin1Char('\n')), 1);
        QVERIFY2(text.startsWith(QStringLiteral("[PowerManager] org.freedesktop.ScreenSaver.Inhibit failed: ")), qPrintable(text));
        power->allowDisplaySleep();
        QTest::qWait(200);
        QVERIFY(service.uninhibited.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestScreenSaverInhibitBus)
#include "tst_screensaverinhibit_bus.moc"
