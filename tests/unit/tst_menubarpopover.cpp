// The popover off screen on the real models: the lock state model on a fake
// helper transport, the settings store on a file of its own, and the
// registration service on fake login items and a recording desktop. The
// tests read what a person sees (texts, which parts show, which buttons
// work) and click like one; screenshots of the main states go to
// view-screenshots/ in the build folder.

#include "AppViews.h"
#include "ViewTestSupport.h"

#include <QDateTime>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QSignalSpy>

namespace {

using RawStatus = LoginItemServiceInterface::RawStatus;
// A status the login-item service may report that means nothing known.
constexpr int unrecognisedStatus = 99;

const QString accessibilityHelpAnchor = QStringLiteral("Privacy_Accessibility");
const QString inputMonitoringHelpAnchor = QStringLiteral("Privacy_ListenEvent");

} // namespace

class TestMenuBarPopover : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ModelsOnFakes> models;
    std::unique_ptr<ViewUnderTest> view;

    void registrationBecomes(int rawStatus)
    {
        models->loginItemStatus = rawStatus;
        models->helperService->ensureRegistered();
    }

    // The helper registered and answering, unlocked, nothing wrong.
    void helperReady()
    {
        registrationBecomes(RawStatus::enabled);
        models->lockState->apply(LockState::HelperReachable{true});
    }

    void showPopover()
    {
        view = ViewUnderTest::load(AppViews::menuBarPopoverUrl(), models->sceneObjects());
        QVERIFY2(view, "the popover did not load");
        view->settle();
    }

    int requestCount(const QString &member) const
    {
        int count = 0;
        for (const auto &connection : models->transport->connections)
            count += connection->count(member);
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        AppViews::registerTypes();
        // A second call changes nothing.
        AppViews::registerTypes();
    }

    void init()
    {
        models = std::make_unique<ModelsOnFakes>();
        QVERIFY(models->storeFolder.isValid());
        // Wired as the app wires them, so the model talks to the helper once
        // the registration is enabled.
        models->lockState->attach(models->helperService.get(), models->settings.get());
    }

    void cleanup()
    {
        view.reset();
        models.reset();
    }

    // The tray's two lock icons load, differ, and stand out on a light and
    // on a dark panel at the sizes trays use.
    void trayIcons()
    {
        const QString closed = AppViews::trayIconPath(true);
        const QString open = AppViews::trayIconPath(false);
        QVERIFY(closed != open);
        for (const QString &path : {closed, open}) {
            const QIcon icon(path);
            QVERIFY2(!icon.isNull(), qPrintable(path));
            for (const int size : {16, 22}) {
                const QImage glyph = icon.pixmap(size, size).toImage();
                QVERIFY2(!glyph.isNull(), qPrintable(path));
                for (const QColor panel : {QColor(0xf0, 0xf0, 0xf0), QColor(0x20, 0x20, 0x20)}) {
                    QImage onPanel(size, size, QImage::Format_RGB32);
                    onPanel.fill(panel);
                    QPainter(&onPanel).drawImage(0, 0, glyph);
                    int standingOut = 0;
                    for (int y = 0; y < size; ++y)
                        for (int x = 0; x < size; ++x)
                            standingOut += qAbs(qGray(onPanel.pixel(x, y)) - qGray(panel.rgb())) > 120;
                    // A fifth of the square or more differs clearly from the panel.
                    QVERIFY2(standingOut * 5 >= size * size,
                             qPrintable(QStringLiteral("%1 at %2 px on %3: %4 px")
                                            .arg(path).arg(size).arg(panel.name()).arg(standingOut)));
                }
            }
        }
    }

    void sizeAndFixedParts()
    {
        helperReady();
        showPopover();
        QCOMPARE(view->rootObject()->width(), 300.0);
        QCOMPARE(view->width(), 300);
        // The window follows the content's height.
        QCOMPARE(view->height(), qCeil(view->rootObject()->implicitHeight()));
        QCOMPARE(view->text("productName"), QStringLiteral("Paneveil"));
        QVERIFY(view->item("productName")->property("font").value<QFont>().bold());
        QCOMPARE(view->text("settingsButton"), QStringLiteral("Settings…"));
        QCOMPARE(view->text("quitButton"), QStringLiteral("Quit"));
        QVERIFY(view->shows("lockButton"));
        QVERIFY(view->shows("opacitySlider"));
        // The lock button spans the content width (14 px padding either side).
        QCOMPARE(view->item("lockButton")->width(), 300.0 - 2 * 14);
        QCOMPARE(view->item("lockButton")->mapToScene({0, 0}).x(), 14.0);
        QVERIFY(view->item("productName")->mapToScene({0, 0}).y() >= 14.0);
    }

    void statusLine_data()
    {
        QTest::addColumn<int>("rawStatus");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("locked");
        // Seconds since the lock; negative for no date.
        QTest::addColumn<int>("lockedSecondsAgo");
        QTest::addColumn<QString>("expected");

        QTest::newRow("unknown") << unrecognisedStatus << false << false << -1 << QStringLiteral("Starting up…");
        QTest::newRow("not registered") << int(RawStatus::notRegistered) << false << false << -1
                                        << QStringLiteral("Helper not installed");
        QTest::newRow("needs approval") << int(RawStatus::requiresApproval) << false << false << -1
                                        << QStringLiteral("Helper needs approval");
        QTest::newRow("service not found") << int(RawStatus::notFound) << false << false << -1
                                           << QStringLiteral("Helper service not found");
        QTest::newRow("not found beats a reachable lock") << int(RawStatus::notFound) << true << true << 10
                                                          << QStringLiteral("Helper service not found");
        QTest::newRow("enabled, not reachable") << int(RawStatus::enabled) << false << false << -1
                                                << QStringLiteral("Helper starting…");
        QTest::newRow("enabled, not reachable, locked") << int(RawStatus::enabled) << false << true << 10
                                                        << QStringLiteral("Helper starting…");
        QTest::newRow("locked 1h 2m 5s ago") << int(RawStatus::enabled) << true << true << 3725
                                             << QStringLiteral("Locked 1h 2m 5s");
        QTest::newRow("locked, no date") << int(RawStatus::enabled) << true << true << -1
                                         << QStringLiteral("Locked");
        QTest::newRow("unlocked") << int(RawStatus::enabled) << true << false << -1
                                  << QStringLiteral("Unlocked  ·  ⌃⌘L to lock");
    }

    void statusLine()
    {
        QFETCH(int, rawStatus);
        QFETCH(bool, reachable);
        QFETCH(bool, locked);
        QFETCH(int, lockedSecondsAgo);
        QFETCH(QString, expected);

        registrationBecomes(rawStatus);
        models->lockState->apply(LockState::HelperReachable{reachable});
        const OptionalDate since = lockedSecondsAgo < 0
            ? OptionalDate()
            // Half a second more, so loading the view never crosses into the next second.
            : OptionalDate(QDateTime::currentDateTime().addMSecs(-qint64(lockedSecondsAgo) * 1000 - 500));
        models->lockState->apply(LockState::LockStatus{locked, since});
        showPopover();
        QCOMPARE(view->text("statusLine"), expected);
        QVERIFY(view->shows("statusLine"));
        QVERIFY(!view->item("statusLine")->property("truncated").toBool());
        QCOMPARE(view->item("statusLine")->property("font").value<QFont>().pixelSize(),
                 view->item("productName")->property("font").value<QFont>().pixelSize() - 3);
        // The header's lock: closed while locked, the open outline otherwise.
        const QString icon = view->item("headerIcon")->property("source").toUrl().toString();
        QVERIFY2(icon.endsWith(locked ? QStringLiteral("/lock.fill.svg") : QStringLiteral("/lock.open.svg")),
                 qPrintable(icon));
    }

    void statusFollowsTheModel()
    {
        helperReady();
        showPopover();
        QCOMPARE(view->text("statusLine"), QStringLiteral("Unlocked  ·  ⌃⌘L to lock"));
        models->lockState->apply(LockState::LockStatus{true, std::nullopt});
        QCOMPARE(view->text("statusLine"), QStringLiteral("Locked"));
        QCOMPARE(view->text("lockButton"), QStringLiteral("Unlock"));
        registrationBecomes(RawStatus::requiresApproval);
        QCOMPARE(view->text("statusLine"), QStringLiteral("Helper needs approval"));
        QVERIFY(view->shows("helperBanner"));
        QVERIFY(!view->item("lockButton")->isEnabled());
    }

    void helperBanner_data()
    {
        QTest::addColumn<int>("rawStatus");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("chevron");

        const QString retry = QStringLiteral("The app will retry helper registration when it launches.");
        QTest::newRow("unknown") << unrecognisedStatus << true << QStringLiteral("Background helper not running")
                                 << retry << false;
        QTest::newRow("not registered") << int(RawStatus::notRegistered) << true
                                        << QStringLiteral("Background helper not installed") << retry << false;
        QTest::newRow("needs approval") << int(RawStatus::requiresApproval) << true
                                        << QStringLiteral("Approve in System Settings")
                                        << QStringLiteral("Paneveil needs permission to run its background helper.")
                                        << true;
        QTest::newRow("service not found")
            << int(RawStatus::notFound) << true << QStringLiteral("Background helper not found")
            << QStringLiteral("macOS cannot find the embedded LaunchAgent in this build. Rebuild, reinstall to "
                              "/Applications, then relaunch.")
            << false;
        QTest::newRow("enabled") << int(RawStatus::enabled) << false << QString() << QString() << false;
    }

    void helperBanner()
    {
        QFETCH(int, rawStatus);
        QFETCH(bool, shown);
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(bool, chevron);

        registrationBecomes(rawStatus);
        showPopover();
        QCOMPARE(view->shows("helperBanner"), shown);
        if (!shown)
            return;
        QCOMPARE(view->text("helperBannerTitle"), title);
        QCOMPARE(view->text("helperBannerBody"), body);
        QCOMPARE(view->shows("helperBannerChevron"), chevron);
        view->checkEverythingInside();

        // A click anywhere on it opens the login items, but only while it
        // asks for approval.
        view->click("helperBanner");
        QCOMPARE(models->desktop.loginItemsOpened, chevron ? 1 : 0);
        view->click("helperBannerBody");
        QCOMPARE(models->desktop.loginItemsOpened, chevron ? 2 : 0);
        QVERIFY(models->desktop.openedUrls.isEmpty());
    }

    void accessibilityBanner_data()
    {
        QTest::addColumn<int>("rawStatus");
        QTest::addColumn<bool>("reachable");
        // -1 unknown, 0 false, 1 true.
        QTest::addColumn<int>("trusted");
        QTest::addColumn<bool>("shown");

        QTest::newRow("not yet known") << int(RawStatus::enabled) << true << -1 << false;
        QTest::newRow("known false") << int(RawStatus::enabled) << true << 0 << true;
        QTest::newRow("trusted") << int(RawStatus::enabled) << true << 1 << false;
        QTest::newRow("needs approval") << int(RawStatus::requiresApproval) << true << 0 << false;
        QTest::newRow("not reachable") << int(RawStatus::enabled) << false << 0 << false;
    }

    void accessibilityBanner()
    {
        QFETCH(int, rawStatus);
        QFETCH(bool, reachable);
        QFETCH(int, trusted);
        QFETCH(bool, shown);

        registrationBecomes(rawStatus);
        models->lockState->apply(LockState::HelperReachable{reachable});
        if (trusted >= 0)
            models->lockState->apply(LockState::Permissions{trusted == 1, true});
        showPopover();
        QCOMPARE(view->shows("accessibilityBanner"), shown);
        if (!shown)
            return;
        QCOMPARE(view->text("accessibilityTitle"), QStringLiteral("Helper needs Accessibility access"));
        QCOMPARE(view->text("accessibilityBody"),
                 QStringLiteral("The helper is a separate binary from the app. macOS won't let you click-pick it "
                                "from the + sheet — drag it in instead."));
        QCOMPARE(view->text("accessibilityOpenSettingsButton"), QStringLiteral("Open Accessibility Settings"));
        QCOMPARE(view->text("accessibilityRevealButton"), QStringLiteral("Reveal Helper in Finder"));
        view->checkEverythingInside();

        view->click("accessibilityOpenSettingsButton");
        QCOMPARE(models->desktop.openedUrls.size(), 1);
        QCOMPARE(models->desktop.openedUrls.constFirst().fragment(), accessibilityHelpAnchor);
        view->click("accessibilityRevealButton");
        QCOMPARE(models->desktop.revealedFiles.size(), 1);
        QCOMPARE(models->desktop.loginItemsOpened, 0);
    }

    // Once known false, a helper that stops answering hides the banner again.
    void accessibilityBannerGoesWhenTheHelperStopsAnswering()
    {
        helperReady();
        models->lockState->apply(LockState::Permissions{false, true});
        showPopover();
        QVERIFY(view->shows("accessibilityBanner"));
        models->lockState->apply(LockState::HelperReachable{false});
        QVERIFY(!view->shows("accessibilityBanner"));
        QVERIFY(!view->shows("helperBanner"));
        QCOMPARE(view->text("statusLine"), QStringLiteral("Helper starting…"));
        QVERIFY(view->item("lockButton")->isEnabled());
    }

    void errorBanner_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("accessibility");
        QTest::addColumn<bool>("inputMonitoring");
        QTest::addColumn<bool>("repair");

        QTest::newRow("plain") << QStringLiteral("The helper could not lock the screen.") << false << false << false;
        QTest::newRow("accessibility and input monitoring")
            << QStringLiteral("The helper needs Accessibility and Input Monitoring permission to block input.")
            << true << true << false;
        QTest::newRow("any letter case") << QStringLiteral("ACCESSIBILITY is off; input MONITORING too") << true
                                         << true << false;
        QTest::newRow("not reachable")
            << QStringLiteral("Background helper is not reachable: no reply") << false << false << true;
        QTest::newRow("not reachable, capitals") << QStringLiteral("The Helper Is Not Reachable.") << false << false
                                                 << true;
        QTest::newRow("markup stays text") << QStringLiteral("<b>Accessibility</b> & <i>x</i>") << true << false
                                           << false;
    }

    void errorBanner()
    {
        QFETCH(QString, message);
        QFETCH(bool, accessibility);
        QFETCH(bool, inputMonitoring);
        QFETCH(bool, repair);

        helperReady();
        showPopover();
        QVERIFY(!view->shows("errorBanner"));
        models->lockState->apply(LockState::Error{message});
        QVERIFY(view->shows("errorBanner"));
        QCOMPARE(view->text("errorMessage"), message);
        QCOMPARE(view->item("errorMessage")->property("textFormat").toInt(), int(Qt::PlainText));
        QCOMPARE(view->shows("errorOpenAccessibilityButton"), accessibility);
        QCOMPARE(view->shows("errorRevealButton"), accessibility);
        QCOMPARE(view->shows("errorInputMonitoringButton"), inputMonitoring);
        QCOMPARE(view->shows("errorRepairButton"), repair);
        view->checkEverythingInside();

        if (accessibility) {
            QCOMPARE(view->text("errorOpenAccessibilityButton"), QStringLiteral("Open Accessibility Settings"));
            QCOMPARE(view->text("errorRevealButton"), QStringLiteral("Reveal Helper in Finder"));
            view->click("errorOpenAccessibilityButton");
            QCOMPARE(models->desktop.openedUrls.constLast().fragment(), accessibilityHelpAnchor);
            view->click("errorRevealButton");
            QCOMPARE(models->desktop.revealedFiles.size(), 1);
        }
        if (inputMonitoring) {
            QCOMPARE(view->text("errorInputMonitoringButton"), QStringLiteral("Open Input Monitoring Settings"));
            view->click("errorInputMonitoringButton");
            QCOMPARE(models->desktop.openedUrls.constLast().fragment(), inputMonitoringHelpAnchor);
        }
        if (repair) {
            QCOMPARE(view->text("errorRepairButton"), QStringLiteral("Repair Helper Registration"));
            const int before = models->unregisterCalls;
            view->click("errorRepairButton");
            // A repair unregisters once and registers again.
            QCOMPARE(models->unregisterCalls, before + 1);
        } else {
            QCOMPARE(models->unregisterCalls, 0);
        }
        QCOMPARE(models->desktop.openedUrls.size(), int(accessibility) + int(inputMonitoring));

        models->lockState->apply(LockState::Error{std::nullopt});
        QVERIFY(!view->shows("errorBanner"));
    }

    // An empty message is still an error the model reported.
    void emptyErrorStillShows()
    {
        helperReady();
        models->lockState->apply(LockState::Error{QString()});
        showPopover();
        QVERIFY(view->shows("errorBanner"));
        QCOMPARE(view->text("errorMessage"), QString());
    }

    void bothBannersTogether()
    {
        helperReady();
        models->lockState->apply(LockState::Permissions{false, false});
        models->lockState->apply(LockState::Error{QStringLiteral(
            "The helper cannot block input: it lacks Accessibility access and Input Monitoring permission. "
            "Open System Settings and allow both for the helper, then try again.")});
        showPopover();
        QVERIFY(view->shows("accessibilityBanner"));
        QVERIFY(view->shows("errorBanner"));
        QVERIFY(view->shows("accessibilityOpenSettingsButton"));
        QVERIFY(view->shows("errorOpenAccessibilityButton"));
        view->checkEverythingInside();
        // Top to bottom: header, accessibility, error, lock button.
        auto top = [this](const char *name) { return view->item(name)->mapToScene({0, 0}).y(); };
        QVERIFY(top("statusLine") < top("accessibilityBanner"));
        QVERIFY(top("accessibilityBanner") < top("errorBanner"));
        QVERIFY(top("errorBanner") < top("lockButton"));
        QVERIFY(top("lockButton") < top("opacitySlider"));
        QVERIFY(top("opacitySlider") < top("quitButton"));
        QCOMPARE(view->height(), qCeil(view->rootObject()->implicitHeight()));
    }

    void lockButton_data()
    {
        QTest::addColumn<int>("rawStatus");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("icon");

        QTest::newRow("unknown") << unrecognisedStatus << false << false << false << QStringLiteral("Lock Now")
                                 << QStringLiteral("lock.fill");
        QTest::newRow("not registered") << int(RawStatus::notRegistered) << false << false << false
                                        << QStringLiteral("Lock Now") << QStringLiteral("lock.fill");
        QTest::newRow("needs approval") << int(RawStatus::requiresApproval) << true << false << false
                                        << QStringLiteral("Lock Now") << QStringLiteral("lock.fill");
        QTest::newRow("service not found") << int(RawStatus::notFound) << true << false << false
                                           << QStringLiteral("Lock Now") << QStringLiteral("lock.fill");
        QTest::newRow("enabled, not reachable") << int(RawStatus::enabled) << false << false << true
                                                << QStringLiteral("Lock Now") << QStringLiteral("lock.fill");
        QTest::newRow("enabled, unlocked") << int(RawStatus::enabled) << true << false << true
                                           << QStringLiteral("Lock Now") << QStringLiteral("lock.fill");
        QTest::newRow("enabled, locked") << int(RawStatus::enabled) << true << true << true
                                         << QStringLiteral("Unlock") << QStringLiteral("lock.open.fill");
    }

    void lockButton()
    {
        QFETCH(int, rawStatus);
        QFETCH(bool, reachable);
        QFETCH(bool, locked);
        QFETCH(bool, enabled);
        QFETCH(QString, title);
        QFETCH(QString, icon);

        registrationBecomes(rawStatus);
        models->lockState->apply(LockState::HelperReachable{reachable});
        models->lockState->apply(LockState::LockStatus{locked, std::nullopt});
        showPopover();
        QCOMPARE(view->text("lockButton"), title);
        QCOMPARE(view->item("lockButton")->isEnabled(), enabled);
        const QString source = view->item("lockButtonIcon")->property("source").toUrl().toString();
        QVERIFY2(source.endsWith(QLatin1Char('/') + icon + QStringLiteral(".svg")), qPrintable(source));
        QVERIFY(view->shows("lockButtonIcon"));

        QSignalSpy toggles(view->rootObject(), SIGNAL(aboutToToggleLock()));
        const QString request = locked ? QStringLiteral("unlock") : QStringLiteral("lock");
        view->click("lockButton");
        QCOMPARE(toggles.size(), enabled ? 1 : 0);
        QCOMPARE(requestCount(request), enabled ? 1 : 0);
    }

    // The host closes the popover on aboutToToggleLock, so that has to come
    // before the request reaches the helper.
    void aboutToToggleLockComesFirst()
    {
        helperReady();
        showPopover();
        connect(view->rootObject(), SIGNAL(aboutToToggleLock()), this, SLOT(noteToggle()));
        m_transportAtToggle = -1;
        view->click("lockButton");
        // Seen once, while the transport had not been asked to lock yet.
        QCOMPARE(m_transportAtToggle, 0);
        QCOMPARE(requestCount(QStringLiteral("lock")), 1);
    }

    void opacity_data()
    {
        QTest::addColumn<double>("alpha");
        QTest::addColumn<QString>("label");

        QTest::newRow("default") << 0.05 << QStringLiteral("Overlay opacity 5%");
        QTest::newRow("truncated, not rounded") << 0.29 << QStringLiteral("Overlay opacity 28%");
        QTest::newRow("none") << 0.0 << QStringLiteral("Overlay opacity 0%");
        QTest::newRow("most") << 0.3 << QStringLiteral("Overlay opacity 30%");
    }

    void opacity()
    {
        QFETCH(double, alpha);
        QFETCH(QString, label);

        models->settings->setOverlayAlpha(alpha);
        helperReady();
        showPopover();
        QCOMPARE(view->text("opacityLabel"), label);
        QCOMPARE(view->item("opacitySlider")->property("value").toDouble(), alpha);
    }

    void sliderRangeAndWrites()
    {
        helperReady();
        showPopover();
        QQuickItem *slider = view->item("opacitySlider");
        QCOMPARE(slider->property("from").toDouble(), 0.0);
        QCOMPARE(slider->property("to").toDouble(), 0.3);
        QCOMPARE(slider->property("stepSize").toDouble(), 0.0);

        // Dragged past the right end: the most it gives is 0.3.
        view->settle();
        const QPointF handle = ViewUnderTest::handleCentre(slider);
        const QPointF farRight = slider->mapToScene(QPointF(slider->width() + 80, slider->height() / 2));
        view->drag(handle, farRight);
        QCOMPARE(models->settings->overlayAlpha(), 0.3);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity 30%"));

        // And past the left end, 0.
        view->settle();
        view->drag(ViewUnderTest::handleCentre(slider), slider->mapToScene(QPointF(-80, slider->height() / 2)));
        QCOMPARE(models->settings->overlayAlpha(), 0.0);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity 0%"));

        // Halfway along the track is about 0.15, written at once.
        view->settle();
        view->drag(ViewUnderTest::handleCentre(slider),
                   slider->mapToScene(QPointF(slider->width() / 2, slider->height() / 2)));
        const double halfway = models->settings->overlayAlpha();
        QVERIFY2(qAbs(halfway - 0.15) < 0.01, qPrintable(QString::number(halfway)));

        // After the user moved it, it still follows the store.
        models->settings->setOverlayAlpha(0.2);
        QCOMPARE(slider->property("value").toDouble(), 0.2);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity 20%"));
    }

    // A stored value beyond the range is shown at the end and left alone.
    void storedValueOutsideTheRangeIsKept()
    {
        models->settings->setOverlayAlpha(0.8);
        helperReady();
        showPopover();
        QCOMPARE(view->item("opacitySlider")->property("value").toDouble(), 0.3);
        QCOMPARE(view->text("opacityLabel"), QStringLiteral("Overlay opacity 80%"));
        QCOMPARE(models->settings->overlayAlpha(), 0.8);
    }

    void bottomRow()
    {
        helperReady();
        showPopover();
        QSignalSpy openSettings(view->rootObject(), SIGNAL(openSettings()));
        QSignalSpy quit(view->rootObject(), SIGNAL(quit()));
        view->click("settingsButton");
        QCOMPARE(openSettings.size(), 1);
        QCOMPARE(quit.size(), 0);
        view->click("quitButton");
        QCOMPARE(quit.size(), 1);
        QCOMPARE(openSettings.size(), 1);
        // Quitting leaves the helper's registration alone.
        QCOMPARE(models->unregisterCalls, 0);
    }

    void controlQQuits()
    {
        helperReady();
        showPopover();
        view->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        QSignalSpy quit(view->rootObject(), SIGNAL(quit()));
        QTest::keyClick(view.get(), Qt::Key_Q);
        QCOMPARE(quit.size(), 0);
        QTest::keyClick(view.get(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quit.size(), 1);
    }

    void screenshots()
    {
        helperReady();
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-unlocked-enabled"));
        view.reset();

        registrationBecomes(unrecognisedStatus);
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-unknown-registration"));
        view.reset();

        registrationBecomes(RawStatus::requiresApproval);
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-needs-approval"));
        view.reset();

        registrationBecomes(RawStatus::notFound);
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-service-not-found"));
        view.reset();

        helperReady();
        models->lockState->apply(LockState::Permissions{false, false});
        models->lockState->apply(LockState::Error{QStringLiteral(
            "The helper lacks Accessibility and Input Monitoring permission; the helper is not reachable.")});
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-accessibility-and-error"));
        view.reset();

        models->lockState->apply(LockState::Error{std::nullopt});
        models->lockState->apply(LockState::Permissions{true, true});
        models->lockState->apply(LockState::LockStatus{true, QDateTime::currentDateTime().addSecs(-3725)});
        models->settings->setOverlayAlpha(0.29);
        showPopover();
        view->saveScreenshot(QStringLiteral("popover-locked"));
    }

public Q_SLOTS:
    void noteToggle() { m_transportAtToggle = requestCount(QStringLiteral("lock")); }

private:
    int m_transportAtToggle = -1;
};

QTEST_MAIN(TestMenuBarPopover)
#include "tst_menubarpopover.moc"
