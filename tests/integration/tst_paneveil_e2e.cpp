// Paneveil as a person uses it, on a virtual desktop of its own: Xvfb with a
// compositor and a tray host, a session bus and programs all running as a
// test user, the installed app and the helper the bus starts for it. The
// tray icon opens the popover, "Lock Now" locks, nothing reaches other
// programs, Control+Super+U and the user's password unlock, the popover's
// opacity slider sets the next lock's tint, and quitting the app leaves the
// helper running.

#include "Constants.h"
#include "InputTestClients.h"
#include "TestSession.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <optional>

#include <unistd.h>

namespace {

const QString app = QStringLiteral(PANEVEIL_INSTALLED_APP);
const QString user = QStringLiteral("pvunlocktest");
const QString password = QStringLiteral("unlockmeplease");
const QString helperName = QString::fromLatin1(PVConstants::helperBundleID);
// A window of one colour on the desktop, so a tint reads as plain arithmetic.
const QRgb patchColour = qRgb(0xd0, 0x90, 0x40);
const QRect patchGeometry(20, 300, 200, 200);

// Rows of a picture mostly of one colour (at least minimumCount pixels of
// it, text and icons on it allowed), grouped into bands of neighbouring rows
// of the same colour; the background colour does not count. This is how a
// person's eye finds a wide button or a slider's groove.
struct ColourBand {
    QRect rect;
    QRgb colour;
};
QList<ColourBand> wideBands(const QImage &image, QRgb background, int minimumCount)
{
    QList<ColourBand> bands;
    for (int y = 0; y < image.height(); ++y) {
        QHash<QRgb, int> counts;
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
        counts.remove(background);
        QRgb colour = 0;
        int most = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() > most) {
                most = it.value();
                colour = it.key();
            }
        }
        if (most < minimumCount)
            continue;
        int first = 0;
        while (image.pixel(first, y) != colour)
            ++first;
        int last = image.width() - 1;
        while (image.pixel(last, y) != colour)
            --last;
        const QRect row(first, y, last - first + 1, 1);
        if (!bands.isEmpty() && bands.last().rect.bottom() == y - 1 && bands.last().colour == colour)
            bands.last().rect = bands.last().rect.united(row);
        else
            bands.append({row, colour});
    }
    return bands;
}

bool near(QRgb seen, QRgb expected, int tolerance = 2)
{
    return std::abs(qRed(seen) - qRed(expected)) <= tolerance && std::abs(qGreen(seen) - qGreen(expected)) <= tolerance
        && std::abs(qBlue(seen) - qBlue(expected)) <= tolerance;
}

QRgb tinted(QRgb colour, double alpha)
{
    auto channel = [alpha](int value) { return int(std::lround(value * (1 - alpha))); };
    return qRgb(channel(qRed(colour)), channel(qGreen(colour)), channel(qBlue(colour)));
}

void saveScreenshot(const QImage &image, const QString &name)
{
    const QString folder = QStringLiteral(PANEVEIL_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class TestPaneveilEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TestSession> session;
    std::unique_ptr<XTestInput> input;
    QTemporaryDir home;
    QProcess compositor;
    QProcess tray;
    QProcess paneveil;
    qint64 helperPid = 0;
    xcb_window_t patch = XCB_NONE;

    static xcb_window_t createPatch(xcb_connection_t *connection)
    {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_window_t window = xcb_generate_id(connection);
        const quint32 values[] = {patchColour & 0xffffff, 1};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, qint16(patchGeometry.x()),
                          qint16(patchGeometry.y()), quint16(patchGeometry.width()), quint16(patchGeometry.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        return window;
    }

    QProcessEnvironment userEnvironment() const
    {
        QProcessEnvironment environment = session->environment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("USER"), user);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        // PAM runs in the helper, which the bus starts; nothing here needs it.
        for (const char *name : {"LD_PRELOAD", "PAM_WRAPPER", "PAM_WRAPPER_SERVICE_DIR"})
            environment.remove(QLatin1String(name));
        return environment;
    }

    // The program as the test user, with the user's session environment.
    QStringList asUser(const QString &program, const QStringList &arguments) const
    {
        return setprivArguments(user, userEnvironment(), program, arguments);
    }

    QString status() const
    {
        return runProgram(QStringLiteral("setpriv"), asUser(app, {QStringLiteral("status")}),
                          QProcessEnvironment::systemEnvironment())
            .out.trimmed();
    }

    bool waitForStatus(const QString &prefix, int timeoutMs = 10000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 200) {
            if (status().startsWith(prefix))
                return true;
            QTest::qWait(200);
        }
        return false;
    }

    QImage screenshot() const { return rootWindowImage(input->connection()); }

    std::optional<FoundWindow> trayIcon() const
    {
        // The icon is embedded in the tray's window, so it is not a top-level one.
        for (const FoundWindow &window : viewableWindows(input->connection())) {
            if (window.depth > 1
                && windowClass(input->connection(), window.id).contains(QLatin1String("paneveil"), Qt::CaseInsensitive))
                return window;
        }
        return std::nullopt;
    }

    std::optional<FoundWindow> topLevelNamed(const QString &name) const
    {
        const QList<FoundWindow> found = topLevelWindowsNamed(input->connection(), name);
        return found.isEmpty() ? std::nullopt : std::optional(found.first());
    }

    std::optional<FoundWindow> waitForTopLevel(const QString &name, int timeoutMs = 10000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (std::optional<FoundWindow> found = topLevelNamed(name))
                return found;
            QTest::qWait(50);
        }
        return std::nullopt;
    }

    void clickAt(const QPoint &point)
    {
        input->moveTo(point.x(), point.y());
        input->click(1);
        input->sync();
    }

    void xdotool(const QStringList &arguments)
    {
        const RunResult result = runProgram(QStringLiteral("xdotool"), arguments, session->environment());
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    }

    // Opens the popover from the tray icon; its window's place on screen.
    std::optional<QRect> openPopover()
    {
        const std::optional<FoundWindow> icon = trayIcon();
        if (!icon)
            return std::nullopt;
        clickAt(icon->geometry.center());
        const std::optional<FoundWindow> popover = waitForTopLevel(QStringLiteral("Paneveil"));
        if (!popover)
            return std::nullopt;
        return popover->geometry;
    }

    // The popover's wide bands of colour, in screen coordinates, top to bottom.
    using Band = ColourBand;
    QList<Band> popoverBands(const QRect &popover, const QString &screenshotName)
    {
        const QImage shot = screenshot();
        saveScreenshot(shot, screenshotName);
        const QImage content = shot.copy(popover);
        const QRgb background = content.pixel(2, content.height() / 2);
        QList<Band> bands = wideBands(content, background, 150);
        for (Band &band : bands)
            band.rect.translate(popover.topLeft());
        return bands;
    }

    // The popover's bands once its lock button has been drawn.
    QList<Band> popoverBandsWithLockButton(const QRect &popover, const QString &screenshotName)
    {
        QList<Band> bands;
        for (int waited = 0; waited < 5000; waited += 100) {
            bands = popoverBands(popover, screenshotName);
            if (std::any_of(bands.begin(), bands.end(), isLockButton))
                break;
            QTest::qWait(100);
        }
        return bands;
    }

    // The accent-filled lock button: the one tall, saturated band.
    static bool isLockButton(const Band &band)
    {
        return band.rect.height() >= 20 && QColor(band.colour).hsvSaturation() > 100;
    }

    void unlockWithPassword()
    {
        input->chord({XKey::controlLeft, XKey::superLeft}, XKey::u);
        QVERIFY(waitForTopLevel(QStringLiteral("Unlock your screen")));
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), password});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QVERIFY(waitForStatus(QStringLiteral("Unlocked"), 15000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("running the desktop as a test user needs root");
        // chpasswd uses PAM too: the system's, not the wrapped one.
        QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LD_PRELOAD", "PAM_WRAPPER", "PAM_WRAPPER_SERVICE_DIR"})
            plain.remove(QLatin1String(name));
        const RunResult made = runProgram(QStringLiteral(PANEVEIL_ENSURE_TEST_USER), {user, password}, plain);
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        QVERIFY(home.isValid());
        const RunResult owned = runProgram(QStringLiteral("chown"), {QStringLiteral("-R"), user, home.path()}, plain);
        QVERIFY2(owned.exitCode == 0, qPrintable(owned.err));

        // The bus, and so the helper it starts, runs as the user; PAM in the
        // helper goes through the service file the install ships.
        session = TestSession::activating(QStringLiteral(PANEVEIL_INSTALLED_SERVICES), user);
        QVERIFY2(session->isValid(), qPrintable(session->error()));
        input = std::make_unique<XTestInput>(session->display().toUtf8());
        QVERIFY(input->isValid());

        const QProcessEnvironment desktop = session->environment();
        patch = createPatch(input->connection());
        compositor.setProcessEnvironment(desktop);
        compositor.start(QStringLiteral("xcompmgr"), {});
        QVERIFY(compositor.waitForStarted());
        tray.setProcessEnvironment(desktop);
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                    QStringLiteral("28"), QStringLiteral("--transparent"), QStringLiteral("false"),
                    QStringLiteral("--SetDockType"), QStringLiteral("true")});
        QVERIFY(tray.waitForStarted());
        const auto trayShows = [this] {
            const QList<FoundWindow> topLevels = viewableWindows(input->connection(), 1);
            return std::any_of(topLevels.begin(), topLevels.end(), [this](const FoundWindow &window) {
                return windowClass(input->connection(), window.id).contains(QLatin1String("trayer"));
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(trayShows(), 10000);

        paneveil.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        paneveil.start(QStringLiteral("setpriv"), asUser(app, {}));
        QVERIFY(paneveil.waitForStarted());
    }

    void cleanupTestCase()
    {
        for (QProcess *process : {&paneveil, &tray, &compositor}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
        input.reset();
        session.reset();
    }

    void theHelperIsRegisteredAndStartedForTheUser()
    {
        // Nobody asked for it: the app registers the helper and its first
        // call makes the bus start it, as the user.
        QTRY_VERIFY_WITH_TIMEOUT((helperPid = session->ownerPid(helperName)) != 0, 30000);
        QFile procStatus(QStringLiteral("/proc/%1/status").arg(helperPid));
        QVERIFY(procStatus.open(QIODevice::ReadOnly));
        const QString uidLine = QString::fromUtf8(procStatus.readAll()).section(QStringLiteral("Uid:"), 1).section(QLatin1Char('\n'), 0, 0);
        const RunResult id = runProgram(QStringLiteral("id"), {QStringLiteral("-u"), user}, QProcessEnvironment::systemEnvironment());
        QCOMPARE(uidLine.simplified().section(QLatin1Char(' '), 0, 0), id.out.trimmed());
        QVERIFY(QFile::exists(home.filePath(QStringLiteral("data/dbus-1/services/%1.service").arg(helperName))));
        QVERIFY(waitForStatus(QStringLiteral("Unlocked")));
    }

    void theTrayIconOpensThePopoverBesideIt()
    {
        std::optional<FoundWindow> icon;
        QTRY_VERIFY_WITH_TIMEOUT((icon = trayIcon()).has_value(), 15000);
        const std::optional<QRect> popover = openPopover();
        QVERIFY(popover);
        QCOMPARE(popover->width(), 300);
        // The tray is along the top: the popover opens just under the icon.
        QVERIFY2(popover->top() > icon->geometry.bottom() && popover->top() - icon->geometry.bottom() < 16,
                 qPrintable(QStringLiteral("icon %1,%2 popover at %3,%4")
                                .arg(icon->geometry.x()).arg(icon->geometry.bottom()).arg(popover->x()).arg(popover->y())));
        saveScreenshot(screenshot(), QStringLiteral("popover-open"));
        // A second click on the icon closes it.
        clickAt(icon->geometry.center());
        QTRY_VERIFY(!topLevelNamed(QStringLiteral("Paneveil")));
        // The app takes a click right after the popover lost its focus for
        // the click that took the focus; a person's next click comes later.
        QTest::qWait(500);
    }

    void lockNowBlocksInputUntilThePasswordUnlocks()
    {
        const std::optional<FoundWindow> icon = trayIcon();
        QVERIFY(icon);
        const QImage openLock = screenshot().copy(icon->geometry);
        const std::optional<QRect> popover = openPopover();
        QVERIFY(popover);
        // The lock button is the only wide band of colour tall enough to click.
        const QList<Band> bands = popoverBandsWithLockButton(*popover, QStringLiteral("before-lock"));
        const auto button = std::find_if(bands.begin(), bands.end(), isLockButton);
        QVERIFY2(button != bands.end(), "no lock button seen in the popover");
        clickAt(button->rect.center());

        QVERIFY(waitForStatus(QStringLiteral("Locked")));
        // The popover went away before the lock, and the desktop shows
        // through the default tint.
        QVERIFY(!topLevelNamed(QStringLiteral("Paneveil")));
        QImage shot;
        QTRY_VERIFY((shot = screenshot(), near(shot.pixel(patchGeometry.center()), tinted(patchColour, 0.05))));
        saveScreenshot(shot, QStringLiteral("locked"));
        // The tray icon turned into the closed lock: more differs than the tint.
        const QImage closedLock = shot.copy(icon->geometry);
        int changed = 0;
        for (int y = 0; y < closedLock.height(); ++y) {
            for (int x = 0; x < closedLock.width(); ++x)
                changed += !near(closedLock.pixel(x, y), tinted(openLock.pixel(x, y), 0.05), 3);
        }
        QVERIFY2(changed > 10, qPrintable(QString::number(changed)));

        ClientProcess probe(QStringLiteral(PANEVEIL_INPUT_PROBE), {QStringLiteral("--core")}, session->environment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        const int before = probe.lines().size();
        input->burstOfEach(1);
        xdotool({QStringLiteral("type"), QStringLiteral("hello")});
        input->sync();
        QTest::qWait(500);
        const QStringList seen = probe.lines().mid(before);
        for (const QString &line : seen)
            QVERIFY2(!line.startsWith(QLatin1String("core ")), qPrintable(line));

        unlockWithPassword();
        // Input reaches programs again.
        input->burstOfEach(2);
        QVERIFY(probe.waitForLine(QStringLiteral("core ")));
    }

    void thePopoverSliderSetsTheNextLocksTint()
    {
        const std::optional<QRect> popover = openPopover();
        QVERIFY(popover);
        const QList<Band> bands = popoverBandsWithLockButton(*popover, QStringLiteral("popover-before-slider"));
        const auto button = std::find_if(bands.begin(), bands.end(), isLockButton);
        QVERIFY(button != bands.end());
        // The slider's groove: the next thin wide band under the button.
        const auto groove = std::find_if(button + 1, bands.end(), [](const Band &band) { return band.rect.height() <= 10; });
        QVERIFY2(groove != bands.end(), "no slider seen under the lock button");
        // Nine tenths along the popover's content width (14 pixels of margin).
        clickAt(QPoint(popover->left() + 14 + (popover->width() - 28) * 9 / 10, groove->rect.center().y()));

        const QString settingsFile = home.filePath(QStringLiteral("config/zelquor/Paneveil.conf"));
        double alpha = 0;
        QTRY_VERIFY_WITH_TIMEOUT((alpha = QSettings(settingsFile, QSettings::IniFormat)
                                              .value(QLatin1String(PVDefaultsKey::overlayAlpha))
                                              .toDouble()) > 0.2,
                                 5000);
        QVERIFY2(alpha <= 0.3, qPrintable(QString::number(alpha)));
        saveScreenshot(screenshot(), QStringLiteral("popover-after-slider"));

        // Control+Super+L closes the popover and locks with the new tint.
        input->chord({XKey::controlLeft, XKey::superLeft}, XKey::l);
        QVERIFY(waitForStatus(QStringLiteral("Locked")));
        QVERIFY(!topLevelNamed(QStringLiteral("Paneveil")));
        QImage shot;
        QTRY_VERIFY2((shot = screenshot(), near(shot.pixel(patchGeometry.center()), tinted(patchColour, alpha))),
                     qPrintable(QStringLiteral("read %1 for alpha %2").arg(shot.pixel(patchGeometry.center()), 8, 16).arg(alpha)));
        saveScreenshot(shot, QStringLiteral("locked-darker"));
        unlockWithPassword();
    }

    void settingsOpensTheSettingsWindow()
    {
        const std::optional<QRect> popover = openPopover();
        QVERIFY(popover);
        // "Settings…" is the bottom row's first button, inside the 14-pixel margin.
        clickAt(QPoint(popover->left() + 14 + 20, popover->bottom() - 14 - 10));
        const std::optional<FoundWindow> settings = waitForTopLevel(QStringLiteral("Paneveil Settings"));
        QVERIFY(settings);
        QCOMPARE(settings->geometry.size(), QSize(460, 420));
        QTRY_VERIFY(!topLevelNamed(QStringLiteral("Paneveil")));
        QTest::qWait(500); // drawn
        saveScreenshot(screenshot(), QStringLiteral("settings-window"));
    }

    void quittingTheAppLeavesTheHelperRunning()
    {
        QVERIFY(openPopover());
        // Control+Q goes to the window with the keyboard focus.
        const std::optional<FoundWindow> popover = topLevelNamed(QStringLiteral("Paneveil"));
        QVERIFY(popover);
        QTRY_COMPARE(focusedWindow(input->connection()), popover->id);
        QTest::qWait(200); // the app has taken in its focus
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
        QVERIFY(paneveil.waitForFinished(10000));
        QCOMPARE(paneveil.exitStatus(), QProcess::NormalExit);
        QCOMPARE(paneveil.exitCode(), 0);
        QVERIFY(!topLevelNamed(QStringLiteral("Paneveil Settings")));
        QTest::qWait(500);
        QCOMPARE(session->ownerPid(helperName), helperPid);
        QVERIFY(waitForStatus(QStringLiteral("Unlocked")));
    }
};

QTEST_GUILESS_MAIN(TestPaneveilEndToEnd)
#include "tst_paneveil_e2e.moc"
