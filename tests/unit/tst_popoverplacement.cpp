// The popover beside its anchor on a 1280 × 800 screen whose panel takes
// the top 24 pixels, and kept wholly on the screen.

#include "PopoverPlacement.h"

#include <QTest>

class TestPopoverPlacement : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void position_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("popover");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect belowTopPanel(0, 24, 1280, 776);
        const QSize popover(300, 400);
        QTest::newRow("icon in a top panel: centred below it")
            << QRect(600, 0, 24, 24) << popover << belowTopPanel << QPoint(462, 28);
        QTest::newRow("icon in the top-right corner: kept on screen")
            << QRect(1250, 0, 24, 24) << popover << belowTopPanel << QPoint(980, 28);
        QTest::newRow("icon in the top-left corner: kept on screen")
            << QRect(2, 0, 24, 24) << popover << belowTopPanel << QPoint(0, 28);
        QTest::newRow("icon in a bottom panel: above it")
            << QRect(1200, 776, 24, 24) << popover << QRect(0, 0, 1280, 776) << QPoint(980, 372);
        QTest::newRow("pointer in the middle of the screen, lower half")
            << QRect(640, 500, 1, 1) << popover << belowTopPanel << QPoint(491, 96);
        QTest::newRow("taller than the screen: top edge shows")
            << QRect(600, 0, 24, 24) << QSize(300, 900) << belowTopPanel << QPoint(462, 24);
        QTest::newRow("second screen to the right")
            << QRect(1300, 0, 24, 24) << popover << QRect(1280, 24, 1920, 1056) << QPoint(1280, 28);
    }
    void position()
    {
        QFETCH(QRect, anchor);
        QFETCH(QSize, popover);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        const QPoint placed = PopoverPlacement::position(anchor, popover, available);
        QCOMPARE(placed, expected);
        if (popover.height() <= available.height())
            QVERIFY(available.contains(QRect(placed, popover)));
    }
};

QTEST_APPLESS_MAIN(TestPopoverPlacement)
#include "tst_popoverplacement.moc"
