// The settings window off screen on a settings store of its own: the three
// tabs and what each shows on a fresh installation, every control writing
// its setting, the auto-lock picker's items and a stored value that is none
// of them, the fixed rows, the slider's range, and the popover's slider
// moving this window's. Screenshots of each tab go to view-screenshots/.

#include "AppViews.h"
#include "Constants.h"
#include "ViewTestSupport.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QSignalSpy>

namespace {

// The window's fixed size: nothing may run out of it even if the content grew.
const QRectF windowBounds(0, 0, 460, 420);

} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ModelsOnFakes> models;
    std::unique_ptr<ViewUnderTest> view;

    void openSettings()
    {
        view = ViewUnderTest::load(AppViews::settingsViewUrl(), models->sceneObjects());
        QVERIFY(view);
        view->settle();
    }

    // Tabs and toggles redraw before the test looks again.
    void click(const char *name)
    {
        view->click(name);
        view->settle();
    }

    // The texts a person sees in the current tab, top to bottom.
    QStringList shownTexts() const
    {
        QList<QQuickItem *> texts;
        const auto items = view->rootObject()->findChildren<QQuickItem *>();
        for (QQuickItem *candidate : items) {
            const bool isText = candidate->inherits("QQuickText") || candidate->inherits("QQuickTextInput");
            if (candidate->isVisible() && isText && !candidate->property("text").toString().isEmpty())
                texts << candidate;
        }
        // By row, then along the row: items whose middles are this close
        // share a row.
        std::sort(texts.begin(), texts.end(), [](QQuickItem *a, QQuickItem *b) {
            const QPointF ma = a->mapToScene({a->width() / 2, a->height() / 2});
            const QPointF mb = b->mapToScene({b->width() / 2, b->height() / 2});
            return qAbs(ma.y() - mb.y()) < 8 ? ma.x() < mb.x() : ma.y() < mb.y();
        });
        QStringList shown;
        for (QQuickItem *text : texts)
            shown << text->property("text").toString();
        return shown;
    }

    // Shown in a fixed-pitch face that has every character of the text.
    static void checkMonospacedAndDrawn(QQuickItem *text)
    {
        const QFont font = text->property("font").value<QFont>();
        const QString family = QFontInfo(font).family();
        QVERIFY2(QFontDatabase::isFixedPitch(family), qPrintable(family));
        const QFontMetrics metrics(font);
        const QString shown = text->property("text").toString();
        for (const char32_t character : shown.toUcs4())
            QVERIFY2(metrics.inFontUcs4(character), qPrintable(family + QStringLiteral(" lacks ") + shown));
    }

private Q_SLOTS:
    void initTestCase()
    {
        AppViews::registerTypes();
    }

    void init()
    {
        models = std::make_unique<ModelsOnFakes>();
        QVERIFY(models->storeFolder.isValid());
        models->helperService->ensureRegistered();
    }

    void cleanup()
    {
        view.reset();
        models.reset();
    }

    void sizeAndTabs()
    {
        openSettings();
        QCOMPARE(view->rootObject()->width(), 460.0);
        QCOMPARE(view->rootObject()->height(), 420.0);
        QCOMPARE(view->text("generalTabButton"), QStringLiteral("General"));
        QCOMPARE(view->text("shortcutsTabButton"), QStringLiteral("Shortcuts"));
        QCOMPARE(view->text("advancedTabButton"), QStringLiteral("Advanced"));
        // In this order, left to right.
        auto left = [this](const char *name) { return view->item(name)->mapToScene({0, 0}).x(); };
        QVERIFY(left("generalTabButton") < left("shortcutsTabButton"));
        QVERIFY(left("shortcutsTabButton") < left("advancedTabButton"));
        // General first.
        QVERIFY(view->shows("generalTab"));
        QVERIFY(!view->shows("shortcutsTab"));
        QVERIFY(!view->shows("advancedTab"));
        // Padded by 20 inside the window.
        QVERIFY(view->item("tabBar")->mapToScene({0, 0}).y() >= 20.0);
        QCOMPARE(view->item("generalTab")->mapToScene({0, 0}).x(), 20.0);
        QCOMPARE(view->item("generalTab")->width(), 460.0 - 40);

        click("shortcutsTabButton");
        QVERIFY(view->shows("shortcutsTab"));
        QVERIFY(!view->shows("generalTab"));
        click("advancedTabButton");
        QVERIFY(view->shows("advancedTab"));
        QVERIFY(!view->shows("shortcutsTab"));

        // A new window starts on General again.
        view.reset();
        openSettings();
        QVERIFY(view->shows("generalTab"));
    }

    void freshInstallation()
    {
        openSettings();
        QCOMPARE(shownTexts(),
                 QStringList({QStringLiteral("General"), QStringLiteral("Shortcuts"), QStringLiteral("Advanced"),
                              QStringLiteral("Appearance"), QStringLiteral("Overlay opacity: 5%"),
                              QStringLiteral("Show status HUD while locked"), QStringLiteral("Lock Behavior"),
                              QStringLiteral("Auto-lock after idle"), QStringLiteral("Off"),
                              QStringLiteral("Prevent display sleep while locked"),
                              QStringLiteral("Play sound on lock/unlock"), QStringLiteral("Startup"),
                              QStringLiteral("Launch at login")}));
        QCOMPARE(view->item("opacitySlider")->property("value").toDouble(), 0.05);
        QCOMPARE(view->item("showStatusHUDToggle")->property("checked").toBool(), true);
        QCOMPARE(view->item("autoLockPicker")->property("displayText").toString(), QStringLiteral("Off"));
        QCOMPARE(view->item("preventDisplaySleepToggle")->property("checked").toBool(), true);
        QCOMPARE(view->item("playSoundsToggle")->property("checked").toBool(), false);
        QCOMPARE(view->item("launchAtLoginToggle")->property("checked").toBool(), false);
        view->checkEverythingInside(windowBounds);
        view->saveScreenshot(QStringLiteral("settings-general"));

        click("shortcutsTabButton");
        QCOMPARE(shownTexts(),
                 QStringList({QStringLiteral("General"), QStringLiteral("Shortcuts"), QStringLiteral("Advanced"),
                              QStringLiteral("Lock hotkey"), QStringLiteral("⌃⌘L"), QStringLiteral("Unlock hotkey"),
                              QStringLiteral("⌃⌘U"), QStringLiteral("Intercept ⌃⌘Q (system lock)")}));
        QCOMPARE(view->item("interceptSystemLockToggle")->property("checked").toBool(), true);
        for (const char *hotkey : {"lockHotkeyValue", "unlockHotkeyValue"})
            checkMonospacedAndDrawn(view->item(hotkey));
        view->checkEverythingInside(windowBounds);
        view->saveScreenshot(QStringLiteral("settings-shortcuts"));

        click("advancedTabButton");
        QCOMPARE(shownTexts(),
                 QStringList({QStringLiteral("General"), QStringLiteral("Shortcuts"), QStringLiteral("Advanced"),
                              QStringLiteral("Disable Hot Corners while locked"), QStringLiteral("Helper"),
                              QStringLiteral("com.zelquor.Paneveil.helper"), QStringLiteral("Version"),
                              QStringLiteral("0.1.0-dev")}));
        QCOMPARE(view->item("disableHotCornersToggle")->property("checked").toBool(), true);
        view->checkEverythingInside(windowBounds);
        view->saveScreenshot(QStringLiteral("settings-advanced"));
    }

    // The constant rows: monospaced and smaller than the labels.
    void helperAndVersionRows()
    {
        openSettings();
        click("advancedTabButton");
        QCOMPARE(view->text("helperValue"), QString::fromLatin1(PVConstants::helperBundleID));
        QCOMPARE(view->text("versionValue"), QString::fromLatin1(PVConstants::version));
        const int labelSize = view->item("disableHotCornersToggle")->property("font").value<QFont>().pixelSize();
        for (const char *name : {"helperValue", "versionValue"}) {
            const QFont font = view->item(name)->property("font").value<QFont>();
            checkMonospacedAndDrawn(view->item(name));
            QVERIFY(font.pixelSize() < labelSize);
        }
    }

    void togglesWriteTheirSetting_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QString>("toggle");
        QTest::addColumn<QString>("setting");

        QTest::newRow("HUD") << "generalTabButton" << "showStatusHUDToggle" << "showStatusHUD";
        QTest::newRow("display sleep") << "generalTabButton" << "preventDisplaySleepToggle" << "preventDisplaySleep";
        QTest::newRow("sounds") << "generalTabButton" << "playSoundsToggle" << "playSounds";
        QTest::newRow("launch at login") << "generalTabButton" << "launchAtLoginToggle" << "launchAtLogin";
        QTest::newRow("intercept") << "shortcutsTabButton" << "interceptSystemLockToggle" << "interceptSystemLock";
        QTest::newRow("hot corners") << "advancedTabButton" << "disableHotCornersToggle" << "disableHotCorners";
    }

    void togglesWriteTheirSetting()
    {
        QFETCH(QString, tab);
        QFETCH(QString, toggle);
        QFETCH(QString, setting);
        const QByteArray toggleName = toggle.toLatin1();
        const QByteArray settingName = setting.toLatin1();

        openSettings();
        click(tab.toLatin1().constData());
        const bool before = models->settings->property(settingName).toBool();
        QCOMPARE(view->item(toggleName)->property("checked").toBool(), before);

        QSignalSpy changes(models->settings.get(), &AppSettings::changes);
        click(toggleName.constData());
        QCOMPARE(models->settings->property(settingName).toBool(), !before);
        QCOMPARE(changes.size(), 1);
        // Stored at once, in the store itself.
        QCOMPARE(QSettings(models->storePath, QSettings::IniFormat).value(settingName).toBool(), !before);

        click(toggleName.constData());
        QCOMPARE(models->settings->property(settingName).toBool(), before);
        QCOMPARE(changes.size(), 2);

        // And it follows a change made elsewhere.
        models->settings->setProperty(settingName, !before);
        QCOMPARE(view->item(toggleName)->property("checked").toBool(), !before);
    }

    void autoLockPicker_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("itemText");
        QTest::addColumn<qint64>("seconds");

        QTest::newRow("off") << 0 << QStringLiteral("Off") << qint64(0);
        QTest::newRow("1 minute") << 1 << QStringLiteral("1 minute") << qint64(60);
        QTest::newRow("5 minutes") << 2 << QStringLiteral("5 minutes") << qint64(300);
        QTest::newRow("10 minutes") << 3 << QStringLiteral("10 minutes") << qint64(600);
        QTest::newRow("30 minutes") << 4 << QStringLiteral("30 minutes") << qint64(1800);
    }

    void autoLockPicker()
    {
        QFETCH(int, index);
        QFETCH(QString, itemText);
        QFETCH(qint64, seconds);

        // Start from a value the row does not hold, so every pick is a change.
        models->settings->setAutoLockIdleSeconds(seconds == 600 ? 60 : 600);
        openSettings();
        QQuickItem *picker = view->item("autoLockPicker");
        QCOMPARE(picker->property("count").toInt(), 5);
        pick(picker, itemText);
        QCOMPARE(models->settings->autoLockIdleSeconds(), seconds);
        QCOMPARE(picker->property("currentIndex").toInt(), index);
        QCOMPARE(picker->property("displayText").toString(), itemText);
        const QSettings store(models->storePath, QSettings::IniFormat);
        QCOMPARE(store.value(PVDefaultsKey::autoLockIdleSeconds).toLongLong(), seconds);
    }

    void autoLockValueOfNoItem()
    {
        models->settings->setAutoLockIdleSeconds(120);
        openSettings();
        QQuickItem *picker = view->item("autoLockPicker");
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
        QCOMPARE(picker->property("displayText").toString(), QString());
        // Looking and switching tabs keeps it.
        click("advancedTabButton");
        click("generalTabButton");
        QCOMPARE(models->settings->autoLockIdleSeconds(), qint64(120));
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
        // Until the user picks an item.
        pick(picker, QStringLiteral("5 minutes"));
        QCOMPARE(models->settings->autoLockIdleSeconds(), qint64(300));
        QCOMPARE(picker->property("displayText").toString(), QStringLiteral("5 minutes"));
        // A value set elsewhere shows, or shows nothing.
        models->settings->setAutoLockIdleSeconds(1800);
        QCOMPARE(picker->property("displayText").toString(), QStringLiteral("30 minutes"));
        models->settings->setAutoLockIdleSeconds(45);
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
    }

    void sliderRange()
    {
        openSettings();
        QQuickItem *slider = view->item("opacitySlider");
        QCOMPARE(slider->property("from").toDouble(), 0.0);
        QCOMPARE(slider->property("to").toDouble(), 0.3);
        QCOMPARE(slider->property("stepSize").toDouble(), 0.0);

        view->drag(ViewUnderTest::handleCentre(slider),
                   slider->mapToScene(QPointF(slider->width() + 100, slider->height() / 2)));
        QCOMPARE(models->settings->overlayAlpha(), 0.3);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity: 30%"));

        view->settle();
        view->drag(ViewUnderTest::handleCentre(slider), slider->mapToScene(QPointF(-100, slider->height() / 2)));
        QCOMPARE(models->settings->overlayAlpha(), 0.0);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity: 0%"));

        models->settings->setOverlayAlpha(0.29);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity: 28%"));
    }

    // Both windows on the same store: a move in one shows in the other.
    void popoverAndSettingsShareTheSlider()
    {
        openSettings();
        const auto popover = ViewUnderTest::load(AppViews::menuBarPopoverUrl(), models->sceneObjects());
        QVERIFY(popover);
        popover->grabWindow();
        QQuickItem *popoverSlider = popover->item("opacitySlider");
        QQuickItem *settingsSlider = view->item("opacitySlider");

        popover->drag(ViewUnderTest::handleCentre(popoverSlider),
                      popoverSlider->mapToScene(QPointF(popoverSlider->width() * 2 / 3, popoverSlider->height() / 2)));

        const double moved = models->settings->overlayAlpha();
        QVERIFY2(qAbs(moved - 0.2) < 0.02, qPrintable(QString::number(moved)));
        QCOMPARE(settingsSlider->property("value").toDouble(), moved);
        const int percent = int(moved * 100);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity: %1%").arg(percent));

        // And back the other way.
        view->settle();
        view->drag(ViewUnderTest::handleCentre(settingsSlider),
                   settingsSlider->mapToScene(QPointF(-50, settingsSlider->height() / 2)));
        QCOMPARE(models->settings->overlayAlpha(), 0.0);
        QCOMPARE(popoverSlider->property("value").toDouble(), 0.0);
        QCOMPARE(popover->text("opacityLabel"),
                 QStringLiteral("Overlay opacity 0%"));
    }

private:
    // Opens the picker and clicks the item with that text, as a person would.
    void pick(QQuickItem *picker, const QString &itemText)
    {
        click("autoLockPicker");
        auto *popup = picker->property("popup").value<QObject *>();
        QVERIFY(popup);
        QTRY_VERIFY(popup->property("opened").toBool());
        auto *list = popup->property("contentItem").value<QQuickItem *>();
        QVERIFY(list);
        view->grabWindow();
        QQuickItem *choice = nullptr;
        // The list's rows are children of its items, not of its objects.
        QList<QQuickItem *> candidates;
        QList<QQuickItem *> pending{list};
        while (!pending.isEmpty()) {
            QQuickItem *next = pending.takeFirst();
            candidates << next;
            pending << next->childItems();
        }
        for (QQuickItem *candidate : candidates) {
            if (candidate->isVisible() && candidate->property("text").toString() == itemText
                && candidate->inherits("QQuickAbstractButton"))
                choice = candidate;
        }
        QVERIFY2(choice, qPrintable(itemText));
        const QPointF centre = choice->mapToScene(QPointF(choice->width() / 2, choice->height() / 2));
        QTest::mouseClick(view.get(), Qt::LeftButton, {}, centre.toPoint());
        QTRY_VERIFY(!popup->property("visible").toBool());
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
