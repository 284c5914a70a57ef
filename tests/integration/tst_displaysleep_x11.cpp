// The display-sleep assertion against a real X server (Xvfb, which has the
// screen-saver extension but no DPMS): with the saver's timeout at one
// second, a held assertion keeps it off, and without one it comes on. A
// second plain xcb connection plays the desktop that sets the timeout and
// watches the saver's state.
#include "FakeLockComponents.h"
#include "LockManager.h"
#include "PowerManager.h"
#include "SettingsPayload.h"
#include "StderrCapture.h"
#include "TestSession.h"
#include "X11ScreenSaverSuspend.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// Long enough past the one-second timeout that an unheld saver is on.
constexpr int pastTimeoutMs = 2500;

class Desktop {
public:
    explicit Desktop(const QString &display)
    {
        m_connection = xcb_connect(qPrintable(display), nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        // The server forgets these when its last client leaves; this
        // connection stays open for the whole test.
        xcb_set_screen_saver(m_connection, 1, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_DEFAULT);
        wakeUp();
    }
    ~Desktop() { xcb_disconnect(m_connection); }

    bool ok() const { return !xcb_connection_has_error(m_connection); }

    // XCB_SCREENSAVER_STATE_ON / OFF / DISABLED.
    int saverState()
    {
        auto *info = xcb_screensaver_query_info_reply(m_connection, xcb_screensaver_query_info(m_connection, m_root), nullptr);
        const int state = info ? info->state : -1;
        std::free(info);
        return state;
    }
    // As a key press would: the saver goes off and its timer starts again.
    void wakeUp()
    {
        xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
};

bool saverStaysOff(Desktop &desktop, int forMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < forMs) {
        QTest::qWait(100);
        if (desktop.saverState() == XCB_SCREENSAVER_STATE_ON)
            return false;
    }
    return true;
}

bool saverComesOn(Desktop &desktop)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < pastTimeoutMs * 2) {
        QTest::qWait(100);
        if (desktop.saverState() == XCB_SCREENSAVER_STATE_ON)
            return true;
    }
    return false;
}

std::unique_ptr<PowerManager> realPowerManager(const QString &display)
{
    return std::make_unique<PowerManager>(std::make_unique<X11ScreenSaverSuspend>(display.toLocal8Bit()), nullptr);
}

QByteArray settings(bool preventDisplaySleep)
{
    SettingsPayloadValues values;
    values.preventDisplaySleep = preventDisplaySleep;
    return encodeSettingsPayload(values);
}

} // namespace

class TestDisplaySleepX11 : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> session;
    std::unique_ptr<Desktop> desktop;

private Q_SLOTS:
    void initTestCase()
    {
        session = std::make_unique<TestSession>();
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        desktop = std::make_unique<Desktop>(session->display());
        QVERIFY(desktop->ok());
    }
    void init() { desktop->wakeUp(); }

    // Without this the other checks would prove nothing.
    void saverComesOnWhenNothingHoldsIt()
    {
        QVERIFY(saverComesOn(*desktop));
    }

    void heldAssertionKeepsTheSaverOffUntilReleased()
    {
        auto power = realPowerManager(session->display());
        power->preventDisplaySleep();
        QVERIFY(power->isHeld());
        QVERIFY(saverStaysOff(*desktop, pastTimeoutMs));

        power->allowDisplaySleep();
        QVERIFY(!power->isHeld());
        QVERIFY(saverComesOn(*desktop));
    }

    // The server counts suspends per client: a repeated take must not need
    // a second release.
    void repeatedTakeIsReleasedByOneAllow()
    {
        auto power = realPowerManager(session->display());
        power->preventDisplaySleep();
        power->preventDisplaySleep();
        power->allowDisplaySleep();
        QVERIFY(saverComesOn(*desktop));
    }

    // A helper that goes away cannot keep the display awake.
    void endingTheProcessReleasesTheAssertion()
    {
        auto power = realPowerManager(session->display());
        power->preventDisplaySleep();
        power.reset(); // closes the connection, as the end of the process does
        QVERIFY(saverComesOn(*desktop));
    }

    // The lock takes the assertion, a settings update while locked releases
    // and retakes it at once, and an unlock releases it.
    void lockManagerDrivesTheAssertion()
    {
        FakeLockComponents fakes;
        LockComponents components = fakes.release();
        delete components.power.release();
        components.power = realPowerManager(session->display());
        LockManager manager(std::move(components));

        bool replied = false;
        manager.lockWithReply([&](bool, OptionalText) { replied = true; });
        QTRY_VERIFY(replied);
        QVERIFY(manager.isLocked());
        QVERIFY(saverStaysOff(*desktop, pastTimeoutMs));

        replied = false;
        manager.updateSettings(settings(false), [&](bool accepted) { replied = accepted; });
        QTRY_VERIFY(replied);
        QVERIFY(saverComesOn(*desktop));

        desktop->wakeUp();
        replied = false;
        manager.updateSettings(settings(true), [&](bool accepted) { replied = accepted; });
        QTRY_VERIFY(replied);
        QVERIFY(saverStaysOff(*desktop, pastTimeoutMs));

        replied = false;
        manager.unlockWithAuth(false, [&](bool, OptionalText) { replied = true; });
        QTRY_VERIFY(replied);
        QVERIFY(!manager.isLocked());
        QVERIFY(saverComesOn(*desktop));

        // While unlocked an update takes nothing.
        desktop->wakeUp();
        replied = false;
        manager.updateSettings(settings(true), [&](bool accepted) { replied = accepted; });
        QTRY_VERIFY(replied);
        QVERIFY(saverComesOn(*desktop));
    }

    void failuresAreLoggedWithTheirCode_data()
    {
        QTest::addColumn<bool>("serverWithoutExtension");
        QTest::addColumn<QString>("code");
        QTest::newRow("no display server") << false << QStringLiteral("0xe00002d8");
        QTest::newRow("server without MIT-SCREEN-SAVER") << true << QStringLiteral("0xe00002c7");
    }
    void failuresAreLoggedWithTheirCode()
    {
        QFETCH(bool, serverWithoutExtension);
        QFETCH(QString, code);

        QProcess xvfb;
        QString display = QStringLiteral(":none-such");
        if (serverWithoutExtension) {
            xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                                QStringLiteral("tcp"), QStringLiteral("-extension"),
                                                QStringLiteral("MIT-SCREEN-SAVER")});
            QVERIFY(xvfb.waitForReadyRead(10000));
            display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();
        }
        auto power = realPowerManager(display);
        StderrCapture log;
        power->preventDisplaySleep();
        QCOMPARE(log.text(), QStringLiteral("[PowerManager] IOPMAssertionCreateWithName failed: ") + code + QLatin1Char('\n'));
        QVERIFY(!power->isHeld());
        power->allowDisplaySleep(); // nothing to release, and no crash
        power.reset();
        if (serverWithoutExtension) {
            xvfb.terminate();
            xvfb.waitForFinished(3000);
        }
    }
};

QTEST_GUILESS_MAIN(TestDisplaySleepX11)
#include "tst_displaysleep_x11.moc"
