// The settings window off screen on a settings store of its own: the three
// tabs and what each shows on a fresh installation, every control writing
// its setting, the auto-lock picker's items and a stored value that is none
// of them, the fixed rows, the slider's range, and the popover's slider
// moving this window's. Screenshots of each tab go to view-screenshots/.

#include "AppSettings.h"
#include "AppViews.h"
#include "Constants.h"
#include "FakeHelperTransport.h"
#include "FakeRegistration.h"
#include "HelperService.h"
#include "LockState.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString screenshotFolder()
{
    const QByteArray build = qgetenv("PANEVEIL_BUILD_DIR");
    const QString root = build.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(build);
    return root + QStringLiteral("/view-screenshots");
}

QVariantMap sceneObjects(LockState *lockState, AppSettings *settings, HelperService *helperService)
{
    return {{QStringLiteral("lockState"), QVariant::fromValue<QObject *>(lockState)},
            {QStringLiteral("settings"), QVariant::fromValue<QObject *>(settings)},
            {QStringLiteral("helperService"), QVariant::fromValue<QObject *>(helperService)}};
}

std::unique_ptr<QQuickView> load(const QUrl &source, const QVariantMap &objects)
{
    auto view = std::make_unique<QQuickView>();
    view->setResizeMode(QQuickView::SizeViewToRootObject);
    view->setInitialProperties(objects);
    view->setSource(source);
    if (view->status() != QQuickView::Ready) {
        for (const QQmlError &error : view->errors())
            qWarning("%s", qPrintable(error.toString()));
        return nullptr;
    }
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        return nullptr;
    return view;
}

QQuickItem *find(QQuickView *view, const char *name)
{
    return view->rootObject()->findChild<QQuickItem *>(QString::fromLatin1(name));
}

} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private:
    QTemporaryDir storeFolder;
    QString storePath;
    int loginItemStatus = LoginItemServiceInterface::enabled;
    int unregisterCalls = 0;
    std::unique_ptr<HelperService> helperService;
    std::shared_ptr<FakeHelperTransport> transport;
    std::unique_ptr<LockState> lockState;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<QQuickView> view;

    void openSettings()
    {
        view = load(AppViews::settingsViewUrl(), sceneObjects(lockState.get(), settings.get(), helperService.get()));
        QVERIFY(view);
        settle();
    }

    // Layouts are placed when the window is next drawn, and the window
    // follows its content's size a turn of the event loop later.
    QImage settle()
    {
        view->grabWindow();
        QCoreApplication::processEvents();
        return view->grabWindow();
    }

    QQuickItem *item(const char *name) const
    {
        QQuickItem *found = find(view.get(), name);
        if (!found)
            qWarning("no item named %s", name);
        return found;
    }
    QString text(const char *name) const { return item(name)->property("text").toString(); }
    bool shows(const char *name) const { return item(name)->isVisible(); }

    void click(const char *name)
    {
        settle();
        QQuickItem *target = item(name);
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(view.get(), Qt::LeftButton, {}, centre.toPoint());
        settle();
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

    void saveScreenshot(const QString &name)
    {
        QDir().mkpath(screenshotFolder());
        const QString path = screenshotFolder() + QStringLiteral("/settings-") + name + QStringLiteral(".png");
        QVERIFY2(settle().save(path), qPrintable(path));
    }

    // Nothing in the current tab runs out of the window or is cut short.
    void checkEverythingInside()
    {
        settle();
        const QRectF bounds(0, 0, 460, 420);
        const auto items = view->rootObject()->findChildren<QQuickItem *>();
        for (QQuickItem *child : items) {
            if (!child->isVisible() || child->width() <= 0 || child->height() <= 0)
                continue;
            const QRectF area = child->mapRectToScene(QRectF(0, 0, child->width(), child->height()));
            QVERIFY2(bounds.contains(area),
                     qPrintable(child->objectName() + QLatin1Char(' ') + child->property("text").toString()));
            QVERIFY2(!child->property("truncated").toBool(), qPrintable(child->property("text").toString()));
        }
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

    void drag(QPointF from, QPointF to)
    {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, from.toPoint());
        const int steps = 8;
        for (int step = 1; step <= steps; ++step)
            QTest::mouseMove(view.get(), (from + (to - from) * step / steps).toPoint());
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, to.toPoint());
    }

    QPointF handleCentre(QQuickItem *slider) const
    {
        const auto *handle = slider->property("handle").value<QQuickItem *>();
        return handle->mapToScene(QPointF(handle->width() / 2, handle->height() / 2));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(storeFolder.isValid());
        AppViews::registerTypes();
    }

    void init()
    {
        loginItemStatus = LoginItemServiceInterface::enabled;
        unregisterCalls = 0;
        helperService = fakeRegistration(&loginItemStatus, &unregisterCalls);
        helperService->ensureRegistered();
        transport = std::make_shared<FakeHelperTransport>();
        lockState = std::make_unique<LockState>(transport);
        storePath = storeFolder.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral(".ini"));
        QFile::remove(storePath);
        settings = std::make_unique<AppSettings>(std::make_unique<QSettings>(storePath, QSettings::IniFormat));
    }

    void cleanup()
    {
        view.reset();
        lockState.reset();
        transport.reset();
        helperService.reset();
        settings.reset();
    }

    void sizeAndTabs()
    {
        openSettings();
        QCOMPARE(view->rootObject()->width(), 460.0);
        QCOMPARE(view->rootObject()->height(), 420.0);
        QCOMPARE(text("generalTabButton"), QStringLiteral("General"));
        QCOMPARE(text("shortcutsTabButton"), QStringLiteral("Shortcuts"));
        QCOMPARE(text("advancedTabButton"), QStringLiteral("Advanced"));
        // In this order, left to right.
        QVERIFY(item("generalTabButton")->mapToScene({0, 0}).x() < item("shortcutsTabButton")->mapToScene({0, 0}).x());
        QVERIFY(item("shortcutsTabButton")->mapToScene({0, 0}).x() < item("advancedTabButton")->mapToScene({0, 0}).x());
        // General first.
        QVERIFY(shows("generalTab"));
        QVERIFY(!shows("shortcutsTab"));
        QVERIFY(!shows("advancedTab"));
        // Padded by 20 inside the window.
        QVERIFY(item("tabBar")->mapToScene({0, 0}).y() >= 20.0);
        QCOMPARE(item("generalTab")->mapToScene({0, 0}).x(), 20.0);
        QCOMPARE(item("generalTab")->width(), 460.0 - 40);

        click("shortcutsTabButton");
        QVERIFY(shows("shortcutsTab"));
        QVERIFY(!shows("generalTab"));
        click("advancedTabButton");
        QVERIFY(shows("advancedTab"));
        QVERIFY(!shows("shortcutsTab"));

        // A new window starts on General again.
        view.reset();
        openSettings();
        QVERIFY(shows("generalTab"));
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
        QCOMPARE(item("opacitySlider")->property("value").toDouble(), 0.05);
        QCOMPARE(item("showStatusHUDToggle")->property("checked").toBool(), true);
        QCOMPARE(item("autoLockPicker")->property("displayText").toString(), QStringLiteral("Off"));
        QCOMPARE(item("preventDisplaySleepToggle")->property("checked").toBool(), true);
        QCOMPARE(item("playSoundsToggle")->property("checked").toBool(), false);
        QCOMPARE(item("launchAtLoginToggle")->property("checked").toBool(), false);
        checkEverythingInside();
        saveScreenshot(QStringLiteral("general"));

        click("shortcutsTabButton");
        QCOMPARE(shownTexts(),
                 QStringList({QStringLiteral("General"), QStringLiteral("Shortcuts"), QStringLiteral("Advanced"),
                              QStringLiteral("Lock hotkey"), QStringLiteral("⌃⌘L"), QStringLiteral("Unlock hotkey"),
                              QStringLiteral("⌃⌘U"), QStringLiteral("Intercept ⌃⌘Q (system lock)")}));
        QCOMPARE(item("interceptSystemLockToggle")->property("checked").toBool(), true);
        for (const char *hotkey : {"lockHotkeyValue", "unlockHotkeyValue"})
            checkMonospacedAndDrawn(item(hotkey));
        checkEverythingInside();
        saveScreenshot(QStringLiteral("shortcuts"));

        click("advancedTabButton");
        QCOMPARE(shownTexts(),
                 QStringList({QStringLiteral("General"), QStringLiteral("Shortcuts"), QStringLiteral("Advanced"),
                              QStringLiteral("Disable Hot Corners while locked"), QStringLiteral("Helper"),
                              QStringLiteral("com.zelquor.Paneveil.helper"), QStringLiteral("Version"),
                              QStringLiteral("0.1.0-dev")}));
        QCOMPARE(item("disableHotCornersToggle")->property("checked").toBool(), true);
        checkEverythingInside();
        saveScreenshot(QStringLiteral("advanced"));
    }

    // The constant rows: monospaced and smaller than the labels.
    void helperAndVersionRows()
    {
        openSettings();
        click("advancedTabButton");
        QCOMPARE(text("helperValue"), QString::fromLatin1(PVConstants::helperBundleID));
        QCOMPARE(text("versionValue"), QString::fromLatin1(PVConstants::version));
        for (const char *name : {"helperValue", "versionValue"}) {
            const QFont font = item(name)->property("font").value<QFont>();
            checkMonospacedAndDrawn(item(name));
            QVERIFY(font.pixelSize() < item("disableHotCornersToggle")->property("font").value<QFont>().pixelSize());
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
        const bool before = settings->property(settingName).toBool();
        QCOMPARE(item(toggleName)->property("checked").toBool(), before);

        QSignalSpy changes(settings.get(), &AppSettings::changes);
        click(toggleName.constData());
        QCOMPARE(settings->property(settingName).toBool(), !before);
        QCOMPARE(changes.size(), 1);
        // Stored at once, in the store itself.
        QCOMPARE(QSettings(storePath, QSettings::IniFormat).value(settingName).toBool(), !before);

        click(toggleName.constData());
        QCOMPARE(settings->property(settingName).toBool(), before);
        QCOMPARE(changes.size(), 2);

        // And it follows a change made elsewhere.
        settings->setProperty(settingName, !before);
        QCOMPARE(item(toggleName)->property("checked").toBool(), !before);
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
        settings->setAutoLockIdleSeconds(seconds == 600 ? 60 : 600);
        openSettings();
        QQuickItem *picker = item("autoLockPicker");
        QCOMPARE(picker->property("count").toInt(), 5);
        pick(picker, itemText);
        QCOMPARE(settings->autoLockIdleSeconds(), seconds);
        QCOMPARE(picker->property("currentIndex").toInt(), index);
        QCOMPARE(picker->property("displayText").toString(), itemText);
        QCOMPARE(QSettings(storePath, QSettings::IniFormat).value(PVDefaultsKey::autoLockIdleSeconds).toLongLong(),
                 seconds);
    }

    void autoLockValueOfNoItem()
    {
        settings->setAutoLockIdleSeconds(120);
        openSettings();
        QQuickItem *picker = item("autoLockPicker");
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
        QCOMPARE(picker->property("displayText").toString(), QString());
        // Looking and switching tabs keeps it.
        click("advancedTabButton");
        click("generalTabButton");
        QCOMPARE(settings->autoLockIdleSeconds(), qint64(120));
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
        // Until the user picks an item.
        pick(picker, QStringLiteral("5 minutes"));
        QCOMPARE(settings->autoLockIdleSeconds(), qint64(300));
        QCOMPARE(picker->property("displayText").toString(), QStringLiteral("5 minutes"));
        // A value set elsewhere shows, or shows nothing.
        settings->setAutoLockIdleSeconds(1800);
        QCOMPARE(picker->property("displayText").toString(), QStringLiteral("30 minutes"));
        settings->setAutoLockIdleSeconds(45);
        QCOMPARE(picker->property("currentIndex").toInt(), -1);
    }

    void sliderRange()
    {
        openSettings();
        QQuickItem *slider = item("opacitySlider");
        QCOMPARE(slider->property("from").toDouble(), 0.0);
        QCOMPARE(slider->property("to").toDouble(), 0.3);
        QCOMPARE(slider->property("stepSize").toDouble(), 0.0);

        drag(handleCentre(slider), slider->mapToScene(QPointF(slider->width() + 100, slider->height() / 2)));
        QCOMPARE(settings->overlayAlpha(), 0.3);
        QCOMPARE(text("opacityLabel"), QStringLiteral("Overlay opacity: 30%"));

        settle();
        drag(handleCentre(slider), slider->mapToScene(QPointF(-100, slider->height() / 2)));
        QCOMPARE(settings->overlayAlpha(), 0.0);
        QCOMPARE(text("opacityLabel"), QStringLiteral("Overlay opacity: 0%"));

        settings->setOverlayAlpha(0.29);
        QCOMPARE(text("opacityLabel"), QStringLiteral("Overlay opacity: 28%"));
    }

    // Both windows on the same store: a move in one shows in the other.
    void popoverAndSettingsShareTheSlider()
    {
        openSettings();
        const auto popover = load(AppViews::menuBarPopoverUrl(),
                                  sceneObjects(lockState.get(), settings.get(), helperService.get()));
        QVERIFY(popover);
        popover->grabWindow();
        QQuickItem *popoverSlider = find(popover.get(), "opacitySlider");
        QQuickItem *settingsSlider = item("opacitySlider");

        const QPointF from = handleCentre(popoverSlider);
        const QPointF to = popoverSlider->mapToScene(QPointF(popoverSlider->width() * 2 / 3, popoverSlider->height() / 2));
        QTest::mousePress(popover.get(), Qt::LeftButton, {}, from.toPoint());
        for (int step = 1; step <= 8; ++step)
            QTest::mouseMove(popover.get(), (from + (to - from) * step / 8).toPoint());
        QTest::mouseRelease(popover.get(), Qt::LeftButton, {}, to.toPoint());

        const double moved = settings->overlayAlpha();
        QVERIFY2(qAbs(moved - 0.2) < 0.02, qPrintable(QString::number(moved)));
        QCOMPARE(settingsSlider->property("value").toDouble(), moved);
        const int percent = int(moved * 100);
        QCOMPARE(text("opacityLabel"), QStringLiteral("Overlay opacity: %1%").arg(percent));

        // And back the other way.
        settle();
        drag(handleCentre(settingsSlider),
             settingsSlider->mapToScene(QPointF(-50, settingsSlider->height() / 2)));
        QCOMPARE(settings->overlayAlpha(), 0.0);
        QCOMPARE(popoverSlider->property("value").toDouble(), 0.0);
        QCOMPARE(find(popover.get(), "opacityLabel")->property("text").toString(),
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
