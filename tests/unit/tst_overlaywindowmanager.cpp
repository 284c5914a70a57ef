#include "DisplayWatcher.h"
#include "FakeOverlayAdapters.h"
#include "OverlayWindowManager.h"
#include "RaisePacer.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestOverlayWindowManager : public QObject {
    Q_OBJECT

private:
    FakeOverlayWindow *window = nullptr;
    FakeScreenLayout *screens = nullptr;
    std::unique_ptr<OverlayWindowManager> manager;

    void makeManager(RaisePacer::Timing timing = {})
    {
        auto fakeWindow = std::make_unique<FakeOverlayWindow>();
        auto fakeScreens = std::make_unique<FakeScreenLayout>();
        window = fakeWindow.get();
        screens = fakeScreens.get();
        screens->frames = {QRect(0, 0, 1000, 800), QRect(1000, 100, 600, 500)};
        manager = std::make_unique<OverlayWindowManager>(std::move(fakeWindow), std::move(fakeScreens), timing);
    }

private Q_SLOTS:
    void init() { makeManager(); }
    void cleanup() { manager.reset(); }

    void tintPixel_data()
    {
        QTest::addColumn<double>("alpha");
        QTest::addColumn<quint32>("pixel");
        QTest::newRow("clear") << 0.0 << 0x00000000u;
        QTest::newRow("default tint") << 0.05 << 0x0D000000u;
        QTest::newRow("darkest setting") << 0.3 << 0x4D000000u;
        QTest::newRow("opaque") << 1.0 << 0xFF000000u;
        QTest::newRow("above one") << 1.5 << 0xFF000000u;
        QTest::newRow("negative") << -0.2 << 0x00000000u;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0x00000000u;
    }
    void tintPixel()
    {
        QFETCH(double, alpha);
        QFETCH(quint32, pixel);
        QCOMPARE(OverlayContentView(alpha).backgroundPixel(), pixel);
    }

    void rowPattern_data()
    {
        QTest::addColumn<double>("alpha");
        QTest::addColumn<int>("darkRows");
        QTest::newRow("clear") << 0.0 << 0;
        QTest::newRow("below half a row") << 0.02 << 0;
        QTest::newRow("default tint") << 0.05 << 1;
        QTest::newRow("darkest setting") << 0.3 << 6;
        QTest::newRow("half") << 0.5 << 10;
        QTest::newRow("opaque") << 1.0 << OverlayContentView::rowPeriod;
        QTest::newRow("above one") << 3.0 << OverlayContentView::rowPeriod;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void rowPattern()
    {
        QFETCH(double, alpha);
        QFETCH(int, darkRows);
        const QList<int> rows = OverlayContentView(alpha).darkRowsInPeriod();
        QCOMPARE(rows.size(), darkRows);
        for (int i = 0; i < rows.size(); ++i) {
            QVERIFY(rows[i] >= 0 && rows[i] < OverlayContentView::rowPeriod);
            // Evenly spread: gaps, also across the period's end, differ by at most one row.
            const int next = i + 1 < rows.size() ? rows[i + 1] : rows[0] + OverlayContentView::rowPeriod;
            const int gap = next - rows[i];
            const int evenGap = OverlayContentView::rowPeriod / darkRows;
            QVERIFY2(gap == evenGap || gap == evenGap + 1, qPrintable(QStringLiteral("gap %1 after row %2").arg(gap).arg(rows[i])));
        }
    }

    void coveringRectangle_data()
    {
        QTest::addColumn<QList<QRect>>("frames");
        QTest::addColumn<QRect>("covering");
        QTest::newRow("no screens") << QList<QRect>{} << QRect(0, 0, 0, 0);
        QTest::newRow("one screen") << QList<QRect>{QRect(0, 0, 1280, 800)} << QRect(0, 0, 1280, 800);
        QTest::newRow("side by side, different heights")
            << QList<QRect>{QRect(0, 0, 1000, 800), QRect(1000, 100, 600, 500)} << QRect(0, 0, 1600, 800);
        QTest::newRow("stacked, different widths")
            << QList<QRect>{QRect(0, 0, 1920, 1080), QRect(300, 1080, 1280, 1024)} << QRect(0, 0, 1920, 2104);
        QTest::newRow("screen left of the origin")
            << QList<QRect>{QRect(-1280, 0, 1280, 1024), QRect(0, 0, 1920, 1080)} << QRect(-1280, 0, 3200, 1080);
        QTest::newRow("origin on no screen")
            << QList<QRect>{QRect(100, 100, 200, 200)} << QRect(0, 0, 300, 300);
        QTest::newRow("mirrored screens") << QList<QRect>{QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)}
                                          << QRect(0, 0, 800, 600);
    }
    void coveringRectangle()
    {
        QFETCH(QList<QRect>, frames);
        QFETCH(QRect, covering);
        QCOMPARE(OverlayWindowManager::coveringRectangle(frames), covering);
    }

    void nothingHappensBeforeTheFirstShow()
    {
        manager->hide();
        manager->resizeToCoverAllScreens();
        manager->setAlpha(0.25);
        QCOMPARE(window->calls, QStringList{});
        QVERIFY(!manager->hasWindow());
        QCOMPARE(manager->alpha(), 0.25);
    }

    void initialTint()
    {
        manager->show();
        QCOMPARE(manager->alpha(), 0.05);
        QCOMPARE(window->content.alpha(), 0.05);
    }

    void alphaSetBeforeShowBuildsTheWindow()
    {
        manager->setAlpha(0.2);
        manager->show();
        QCOMPARE(window->content.alpha(), 0.2);
    }

    void firstShowBuildsCoversAndRaises()
    {
        manager->show();
        const QStringList expected{QStringLiteral("create"), QStringLiteral("setFrame"),
                                   QStringLiteral("rememberFocus"), QStringLiteral("orderFront")};
        QCOMPARE(window->calls, expected);
        QCOMPARE(window->frame, QRect(0, 0, 1600, 800));
        QVERIFY(window->onScreen);
        QVERIFY(manager->isShown());
    }

    void secondShowRefitsAndRaisesTheSameWindow()
    {
        manager->show();
        window->calls.clear();
        screens->frames = {QRect(0, 0, 1280, 1024)};
        manager->show();
        const QStringList expected{QStringLiteral("setFrame"), QStringLiteral("orderFront")};
        QCOMPARE(window->calls, expected);
        QCOMPARE(window->frame, QRect(0, 0, 1280, 1024));
    }

    void retintWhileShownKeepsTheWindowUp()
    {
        manager->show();
        window->calls.clear();
        manager->setAlpha(0.3);
        QCOMPARE(window->calls, QStringList{QStringLiteral("setContent")});
        QCOMPARE(window->content.alpha(), 0.3);
        QVERIFY(window->onScreen);
    }

    void retintWhileHidden()
    {
        manager->show();
        manager->hide();
        window->calls.clear();
        manager->setAlpha(0.15);
        QCOMPARE(window->calls, QStringList{QStringLiteral("setContent")});
        QCOMPARE(window->content.alpha(), 0.15);
        QVERIFY(!window->onScreen);
    }

    void hideGivesFocusBackOnce()
    {
        manager->show();
        window->calls.clear();
        manager->hide();
        manager->hide();
        const QStringList expected{QStringLiteral("orderOut"), QStringLiteral("restoreFocus"),
                                   QStringLiteral("orderOut")};
        QCOMPARE(window->calls, expected);
        QVERIFY(!manager->isShown());
        QVERIFY(manager->hasWindow());
    }

    void showAfterHideReusesTheWindowAndNotesFocusAgain()
    {
        manager->show();
        manager->hide();
        window->calls.clear();
        manager->show();
        const QStringList expected{QStringLiteral("setFrame"), QStringLiteral("rememberFocus"),
                                   QStringLiteral("orderFront")};
        QCOMPARE(window->calls, expected);
    }

    void screenChangeWhileHiddenRefitsWithoutShowing()
    {
        manager->show();
        manager->hide();
        window->calls.clear();
        screens->frames = {QRect(0, 0, 800, 600)};
        manager->resizeToCoverAllScreens();
        QCOMPARE(window->calls, QStringList{QStringLiteral("setFrame")});
        QCOMPARE(window->frame, QRect(0, 0, 800, 600));
        QVERIFY(!window->onScreen);
    }

    void failedCreationIsRetriedByTheNextShow()
    {
        window->createResult = false;
        manager->show();
        QCOMPARE(window->calls, QStringList{QStringLiteral("create")});
        QVERIFY(!manager->hasWindow());
        QVERIFY(!manager->isShown());
        manager->hide();
        manager->resizeToCoverAllScreens();
        QCOMPARE(window->calls.size(), 1);

        window->createResult = true;
        manager->show();
        QVERIFY(manager->hasWindow());
        QVERIFY(window->onScreen);
    }

    void stackingChangesRaiseOnlyWhileShown()
    {
        window->coveredByOthers = true;
        manager->show();
        manager->hide();
        window->calls.clear();
        window->onStackingChanged();
        QTest::qWait(50);
        QVERIFY(!window->calls.contains(QStringLiteral("raiseAboveOthers")));

        manager->show();
        window->onStackingChanged();
        QTRY_COMPARE(window->raises, 1);
    }

    void aBurstOfStackingChangesIsOneCheck()
    {
        manager->show();
        window->calls.clear();
        for (int i = 0; i < 50; ++i)
            window->onStackingChanged();
        QTRY_COMPARE(window->calls.count(QStringLiteral("raiseAboveOthers")), 1);
        QTest::qWait(50);
        QCOMPARE(window->calls.count(QStringLiteral("raiseAboveOthers")), 1);
    }

    void aWindowThatKeepsRaisingItselfIsOutpacedNotFought()
    {
        makeManager(RaisePacer::Timing{40, 160, 1000});
        window->coveredByOthers = true;
        manager->show();
        QElapsedTimer clock;
        clock.start();
        // A window that comes back on top every 5 ms for 700 ms.
        while (clock.elapsed() < 700) {
            window->onStackingChanged();
            QTest::qWait(5);
        }
        // Raises are at least 40, 80, 160, 160... ms apart: at most 6 in 700 ms.
        QVERIFY2(window->raises >= 3 && window->raises <= 6, qPrintable(QString::number(window->raises)));
    }

    void hideCancelsAPendingRaise()
    {
        makeManager(RaisePacer::Timing{200, 200, 1000});
        window->coveredByOthers = true;
        manager->show();
        window->onStackingChanged();
        QTRY_COMPARE(window->raises, 1);
        window->onStackingChanged(); // waits for the pacer
        manager->hide();
        QTest::qWait(300);
        QCOMPARE(window->raises, 1);
    }

    void pacer_data()
    {
        QTest::addColumn<QList<qint64>>("raiseTimes");
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<qint64>("delay");
        QTest::newRow("first raise") << QList<qint64>{} << qint64(5) << qint64(0);
        QTest::newRow("right after one") << QList<qint64>{1000} << qint64(1010) << qint64(90);
        QTest::newRow("interval over") << QList<qint64>{1000} << qint64(1200) << qint64(0);
        QTest::newRow("doubles in a war") << QList<qint64>{1000, 1100} << qint64(1100) << qint64(200);
        QTest::newRow("keeps doubling") << QList<qint64>{1000, 1100, 1300, 1700} << qint64(1700) << qint64(800);
        QTest::newRow("capped") << QList<qint64>{0, 100, 300, 700, 1500, 3100, 5100} << qint64(5100) << qint64(2000);
        QTest::newRow("quiet spell ends the war")
            << QList<qint64>{0, 100, 300, 700, 1500, 3100} << qint64(8200) << qint64(0);
        QTest::newRow("starts over after quiet")
            << QList<qint64>{0, 100, 300, 700, 1500, 3100, 8200} << qint64(8210) << qint64(90);
    }
    void pacer()
    {
        QFETCH(QList<qint64>, raiseTimes);
        QFETCH(qint64, askedAt);
        QFETCH(qint64, delay);
        RaisePacer pacer(RaisePacer::Timing{100, 2000, 5000});
        for (qint64 time : raiseTimes)
            pacer.raised(time);
        QCOMPARE(pacer.delayBeforeRaise(askedAt), delay);
    }

    void displayWatcherRunsTheCurrentCallbackPerChange()
    {
        auto source = std::make_unique<FakeScreenChangeSource>();
        FakeScreenChangeSource *fake = source.get();
        bool unsubscribed = false;
        fake->unsubscribed = &unsubscribed;
        {
            DisplayWatcher watcher(std::move(source));
            QVERIFY(fake->handler);
            fake->handler(); // the do-nothing default
            int changes = 0;
            watcher.onChange = [&changes] { ++changes; };
            fake->handler();
            fake->handler();
            QCOMPARE(changes, 2);
        }
        QVERIFY(unsubscribed);
    }

    void displayChangeRefitsThroughTheOwnersCallback()
    {
        // The lock manager wires onChange to resizeToCoverAllScreens.
        auto source = std::make_unique<FakeScreenChangeSource>();
        FakeScreenChangeSource *fake = source.get();
        DisplayWatcher watcher(std::move(source));
        watcher.onChange = [this] { manager->resizeToCoverAllScreens(); };
        manager->show();
        screens->frames.append(QRect(1600, 0, 400, 300));
        fake->handler();
        QCOMPARE(window->frame, QRect(0, 0, 2000, 800));
        QVERIFY(window->onScreen);
    }
};

QTEST_GUILESS_MAIN(TestOverlayWindowManager)
#include "tst_overlaywindowmanager.moc"
