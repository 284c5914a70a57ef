// The elapsed-time formatter and the opacity percentage, at the values where
// rounding, zero units and out-of-range settings could go wrong.

#include "MenuBarPopoverText.h"

#include <QTest>

#include <limits>

class TestMenuBarPopoverText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void elapsedTime_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hours, minutes and seconds") << qint64(3725) << QStringLiteral("1h 2m 5s");
        QTest::newRow("nothing elapsed") << qint64(0) << QStringLiteral("0s");
        QTest::newRow("whole minutes leave out seconds") << qint64(120) << QStringLiteral("2m");
        QTest::newRow("zero minutes left out in the middle") << qint64(3605) << QStringLiteral("1h 5s");
        QTest::newRow("hours are the largest unit") << qint64(90061) << QStringLiteral("25h 1m 1s");
        QTest::newRow("a clock set back") << qint64(-65) << QStringLiteral("-1m 5s");
        QTest::newRow("most negative") << std::numeric_limits<qint64>::min()
                                       << QStringLiteral("-2562047788015215h 30m 8s");
    }
    void elapsedTime()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, expected);
        QCOMPARE(ElapsedTimeFormatter::shared().string(seconds), expected);
    }

    void lockedSinceIsMeasuredToNow()
    {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000);
        const QString line = MenuBarPopoverText::statusLine(HelperService::State::enabled, true, true,
                                                            now.addMSecs(-3'725'900), now);
        // Part seconds are dropped, as the formatter counts whole seconds.
        QCOMPARE(line, QStringLiteral("Locked 1h 2m 5s"));
    }

    void opacityPercent_data()
    {
        QTest::addColumn<double>("alpha");
        QTest::addColumn<int>("expected");
        QTest::newRow("default") << 0.05 << 5;
        QTest::newRow("truncated, not rounded") << 0.29 << 28;
        QTest::newRow("darkest") << 0.3 << 30;
        QTest::newRow("clear") << 0.0 << 0;
        QTest::newRow("negative truncates toward zero") << -0.019 << -1;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
        QTest::newRow("huge stored value") << 1e300 << std::numeric_limits<int>::max();
        QTest::newRow("huge negative stored value") << -1e300 << std::numeric_limits<int>::min();
    }
    void opacityPercent()
    {
        QFETCH(double, alpha);
        QFETCH(int, expected);
        QCOMPARE(MenuBarPopoverText::opacityPercent(alpha), expected);
    }
};

QTEST_APPLESS_MAIN(TestMenuBarPopoverText)
#include "tst_menubarpopovertext.moc"
