// Unlocking a real lock on Xvfb: the helper's lock composition (input grab,
// overlay, PAM through pam_wrapper, the unlock dialog) in a process of its
// own, the owner's keys and clicks sent with XTest. The dialog shows above
// the overlay on Control+Super+U, takes the typed password and nothing else
// sees it; PAM decides.

#include "InputTestClients.h"
#include "TestSession.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>
#include <memory>
#include <optional>

namespace {

TestSession *session = nullptr;
const QString rightPassword = QStringLiteral("correcthorse");
const QString dialogTitle = QStringLiteral("Unlock your screen");

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The lock composition in its own process, fed commands on stdin.
class LockHelper {
public:
    explicit LockHelper(const QStringList &arguments, const QString &runAs = {})
    {
        QProcessEnvironment environment = session->environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        });
        if (runAs.isEmpty()) {
            m_process.start(QStringLiteral(PANEVEIL_UNLOCK_LOCK_HELPER), arguments);
        } else {
            // As that user, the way a desktop session runs the helper.
            m_process.start(QStringLiteral("setpriv"), setprivArguments(runAs, sessionPart(environment),
                                                                        QStringLiteral(PANEVEIL_UNLOCK_LOCK_HELPER),
                                                                        arguments));
        }
    }
    ~LockHelper()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(3000))
                m_process.kill();
        }
        m_process.waitForFinished(3000);
    }

    void send(const char *command)
    {
        m_process.write(command);
        m_process.write("\n");
    }
    bool waitFor(const QString &line, int timeoutMs = 10000)
    {
        for (int waited = 0; !m_lines.contains(line) && waited < timeoutMs; waited += 20)
            QTest::qWait(20);
        if (!m_lines.contains(line))
            qWarning("helper said: %s", qPrintable(m_lines.join(QLatin1String(" | "))));
        return m_lines.contains(line);
    }
    int count(const QString &line) const { return int(m_lines.count(line)); }
    const QStringList &lines() const { return m_lines; }

private:
    // What the helper needs of the session: the display, PAM's wrapping, Qt's
    // settings; nothing of root's own.
    static QProcessEnvironment sessionPart(const QProcessEnvironment &environment)
    {
        QProcessEnvironment part;
        for (const QString &key : environment.keys()) {
            if (key == QLatin1String("DISPLAY") || key.startsWith(QLatin1String("PAM_")) || key == QLatin1String("LD_PRELOAD")
                || key.startsWith(QLatin1String("QT_")) || key.startsWith(QLatin1String("XDG_SESSION")))
                part.insert(key, environment.value(key));
        }
        return part;
    }

    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class TestUnlockDialogX11 : public QObject {
    Q_OBJECT

    std::unique_ptr<XTestInput> input;

    void type(const QString &text) { QVERIFY2(input->type(text), qPrintable(QStringLiteral("no keys for ") + text)); }
    void pressReturn()
    {
        input->tap(XKey::returnKey);
    }
    void pressUnlockHotkey() { input->chord({XKey::controlLeft, XKey::superLeft}, XKey::u); }

    // Locks, presses the unlock hot key and waits for the one dialog.
    // How the owner asks to unlock: the helper's own hot key, or a request
    // from the app, whose reply carries the outcome.
    enum class UnlockAsked { byHotkey, byRequest };
    std::optional<FoundWindow> lockAndOpenDialog(LockHelper &helper, UnlockAsked asked = UnlockAsked::byHotkey)
    {
        helper.send("lock");
        if (!helper.waitFor(QStringLiteral("reply lock true")))
            return std::nullopt;
        if (asked == UnlockAsked::byHotkey)
            pressUnlockHotkey();
        else
            helper.send("unlock");
        for (int i = 0; i < 250; ++i) {
            const QList<FoundWindow> dialogs = topLevelWindowsNamed(input->connection(), dialogTitle);
            if (!dialogs.isEmpty())
                return dialogs.first();
            QTest::qWait(20);
        }
        return std::nullopt;
    }
    xcb_window_t focusedWindow() const { return ::focusedWindow(input->connection()); }
    // Where the visible (master) pointer is.
    QPoint pointerPosition() const
    {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(input->connection())).data;
        Reply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(input->connection(), xcb_query_pointer(input->connection(), screen->root), nullptr),
            &std::free);
        return pointer ? QPoint(pointer->root_x, pointer->root_y) : QPoint(-1, -1);
    }
    int stackIndexOf(xcb_window_t window) const
    {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(input->connection())).data;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(input->connection(), xcb_query_tree(input->connection(), screen->root), nullptr),
            &std::free);
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            if (children[i] == window)
                return i;
        }
        return -1;
    }
    int overlayIndex() const
    {
        const QList<FoundWindow> overlays = topLevelWindowsNamed(input->connection(), QStringLiteral("Paneveil overlay"));
        return overlays.isEmpty() ? -1 : overlays.first().stackIndex;
    }
    void screenshot(const QString &name)
    {
        QDir().mkpath(QStringLiteral(PANEVEIL_SCREENSHOT_DIR));
        rootWindowImage(input->connection()).save(QDir(QStringLiteral(PANEVEIL_SCREENSHOT_DIR)).filePath(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("PAM_WRAPPER") != QLatin1String("1"))
            QSKIP("needs pam_wrapper preloaded (run through ctest)");
        input = std::make_unique<XTestInput>(session->display().toLocal8Bit());
        QVERIFY(input->isValid());
        const QString user = QString::fromLocal8Bit(getpwuid(getuid())->pw_name);
        for (const auto &[suffix, service] : {std::pair{"", "paneveil-matrix"}, std::pair{"-delay", "paneveil-delay"}}) {
            QFile passdb(QStringLiteral(PANEVEIL_PAM_PASSDB) + QLatin1String(suffix));
            QVERIFY(passdb.open(QIODevice::WriteOnly | QIODevice::Truncate));
            passdb.write(QStringLiteral("%1:%2:%3\n").arg(user, rightPassword, QLatin1String(service)).toUtf8());
        }
    }
    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(input->nothingGrabbed(), 5000); }

    void rightPasswordUnlocks()
    {
        // A program has the focus before the lock, and gets it back after.
        ClientProcess probe(QStringLiteral(PANEVEIL_INPUT_PROBE), {QStringLiteral("--core")}, session->environment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        const xcb_window_t focusedBefore = focusedWindow();
        QVERIFY(focusedBefore != XCB_NONE);
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-matrix")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        const std::optional<FoundWindow> dialog = lockAndOpenDialog(helper);
        QVERIFY(dialog);
        QVERIFY(helper.waitFor(QStringLiteral("state locked")));
        // Above the overlay, which covers the screen beneath it.
        QVERIFY(overlayIndex() >= 0);
        QVERIFY(dialog->stackIndex > overlayIndex());
        QVERIFY(!input->nothingGrabbed());

        type(rightPassword);
        QTest::qWait(200);
        screenshot(QStringLiteral("unlock-dialog.png"));
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("state unlocked")));
        QTRY_VERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
        QTRY_COMPARE(overlayIndex(), -1);
        QTRY_VERIFY(input->nothingGrabbed());
        // The hot key's unlock has no requester to reply to; one broadcast only.
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 1);
        QTRY_COMPARE(focusedWindow(), focusedBefore);
        // Typing now reaches the program again.
        const int keysBefore = probe.count(QStringLiteral("core key-press"));
        type(QStringLiteral("a"));
        QVERIFY(probe.waitForCount(QStringLiteral("core key-press"), keysBefore + 1));
    }

    void wrongPasswordKeepsTheLockAndCancelEndsIt()
    {
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-matrix")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        // An unlock request from the app waits for the dialog's outcome.
        QVERIFY(lockAndOpenDialog(helper, UnlockAsked::byRequest));
        type(QStringLiteral("wrong"));
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("dialog rejected Authentication failure")));
        QTest::qWait(100);
        const QList<FoundWindow> dialogs = topLevelWindowsNamed(input->connection(), dialogTitle);
        QCOMPARE(dialogs.size(), 1);
        screenshot(QStringLiteral("unlock-dialog-wrong.png"));
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 0);
        QVERIFY(!input->nothingGrabbed());

        // Cancel sits at the left end of the button row. The visible pointer
        // follows the mouse there although every device is grabbed.
        const QRect geometry = dialogs.first().geometry;
        const QPoint cancel(geometry.left() + 28 + 20, geometry.bottom() - 28 - 12);
        input->moveTo(cancel.x(), cancel.y());
        input->sync();
        QTRY_COMPARE(pointerPosition(), cancel);
        input->click(1);
        input->sync();
        QVERIFY(helper.waitFor(QStringLiteral("reply unlock false Canceled by user.")));
        QTRY_VERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 0);
        // Still locked: the grab is back on the lock.
        QTest::qWait(200);
        QVERIFY(!input->nothingGrabbed());
        QVERIFY(overlayIndex() >= 0);
        helper.send("quit");
    }

    void threeWrongPasswordsFail()
    {
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-matrix")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        QVERIFY(lockAndOpenDialog(helper, UnlockAsked::byRequest));
        for (int attempt = 1; attempt <= 2; ++attempt) {
            type(QStringLiteral("x"));
            pressReturn();
            QTRY_COMPARE(helper.count(QStringLiteral("dialog rejected Authentication failure")), attempt);
        }
        type(QStringLiteral("x"));
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("reply unlock false Authentication failure")));
        // The third refusal ends it rather than asking again.
        QCOMPARE(helper.count(QStringLiteral("dialog rejected Authentication failure")), 2);
        QTRY_VERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 0);
        helper.send("quit");
    }

    void heldHotkeyShowsOneDialog()
    {
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-matrix")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        helper.send("lock");
        QVERIFY(helper.waitFor(QStringLiteral("reply lock true")));
        // Held long enough for the server's auto-repeat, then pressed again.
        input->key(XKey::controlLeft, true);
        input->key(XKey::superLeft, true);
        input->key(XKey::u, true);
        input->sync();
        QTest::qWait(1200);
        input->key(XKey::u, false);
        input->sync();
        QTest::qWait(300);
        QCOMPARE(topLevelWindowsNamed(input->connection(), dialogTitle).size(), 1);
        input->key(XKey::u, true);
        input->key(XKey::u, false);
        input->key(XKey::superLeft, false);
        input->key(XKey::controlLeft, false);
        input->sync();
        QTest::qWait(300);
        QCOMPARE(topLevelWindowsNamed(input->connection(), dialogTitle).size(), 1);

        type(rightPassword);
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("state unlocked")));
        QTRY_VERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
        // Every press and repeat of the hot key was an unlock request; all
        // of them joined the one dialog and ended with it.
        QTest::qWait(300);
        QVERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
        QVERIFY(input->nothingGrabbed());
    }

    void probeSeesNothingWhileTheDialogShows_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("core events") << QStringLiteral("--core") << QStringLiteral("core ");
        QTest::newRow("XInput 2 device events") << QStringLiteral("--xi2") << QStringLiteral("xi2 ");
    }

    void probeSeesNothingWhileTheDialogShows()
    {
        QFETCH(QString, mode);
        QFETCH(QString, prefix);
        ClientProcess probe(QStringLiteral(PANEVEIL_INPUT_PROBE), {mode}, session->environment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-matrix")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        const std::optional<FoundWindow> dialog = lockAndOpenDialog(helper);
        QVERIFY(dialog);
        const int before = probe.lines().size();

        type(QStringLiteral("wrong"));
        pressReturn();
        input->moveTo(dialog->geometry.center().x(), dialog->geometry.center().y());
        input->click(1);
        input->moveTo(5, 5);
        input->click(1);
        input->click(4);
        input->sync();
        QTest::qWait(800);
        const QStringList seen = probe.lines().mid(before);
        for (const QString &line : seen)
            QVERIFY2(!line.startsWith(prefix), qPrintable(line));

        type(rightPassword);
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("state unlocked")));
    }

    void testUserUnlocksThroughTheShippedService()
    {
        // A desktop runs the helper as the owner, not as root: pam_unix then
        // checks the password through its own setgid helper.
        if (geteuid() != 0)
            QSKIP("making the test user needs root");
        const QString user = QStringLiteral("pvunlocktest");
        const QString password = QStringLiteral("unlockmeplease");
        // chpasswd uses PAM too: the system's, not this test's wrapped one.
        QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LD_PRELOAD", "PAM_WRAPPER", "PAM_WRAPPER_SERVICE_DIR"})
            plain.remove(QLatin1String(name));
        const RunResult made = runProgram(QStringLiteral(PANEVEIL_ENSURE_TEST_USER), {user, password}, plain);
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));

        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil")}, user);
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        QVERIFY(helper.waitFor(QStringLiteral("user ") + user));
        QVERIFY(lockAndOpenDialog(helper, UnlockAsked::byRequest));
        type(rightPassword);
        pressReturn();
        // pam_unix's refusal comes after its failure delay, with the dialog kept.
        QVERIFY(helper.waitFor(QStringLiteral("dialog rejected Authentication failure")));
        QCOMPARE(topLevelWindowsNamed(input->connection(), dialogTitle).size(), 1);
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 0);
        type(password);
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("reply unlock true")));
        QVERIFY(helper.waitFor(QStringLiteral("state unlocked")));
        QTRY_VERIFY(topLevelWindowsNamed(input->connection(), dialogTitle).isEmpty());
    }

    void noLockWhereOwnersCannotUnlock()
    {
        // Without a PAM service the lock would be a lock-out: input stays free.
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-absent")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        QVERIFY(helper.lines().contains(
            QStringLiteral("input blocking stays off: owners could not unlock (Critical error - immediate abort)")));
        helper.send("lock");
        QVERIFY(helper.waitFor(QStringLiteral("reply lock false Input blocking could not be enabled.")));
        QVERIFY(input->nothingGrabbed());
    }

    void lockHoldsWhilePamDelaysAFailure()
    {
        LockHelper helper({QStringLiteral("--service"), QStringLiteral("paneveil-delay")});
        QVERIFY(helper.waitFor(QStringLiteral("ready")));
        const std::optional<FoundWindow> dialog = lockAndOpenDialog(helper);
        QVERIFY(dialog);
        type(QStringLiteral("wrong"));
        pressReturn();
        QTest::qWait(150);
        // PAM sleeps through its failure delay now. A window that maps on
        // top meanwhile is covered again, and no input gets through.
        ClientProcess probe(QStringLiteral(PANEVEIL_INPUT_PROBE), {QStringLiteral("--core")}, session->environment());
        QVERIFY(probe.waitForLine(QStringLiteral("ready")));
        QString ready;
        for (const QString &line : probe.lines()) {
            if (line.startsWith(QLatin1String("ready ")))
                ready = line;
        }
        const xcb_window_t probeWindow = ready.section(QLatin1Char(' '), 1, 1).toUInt();
        QVERIFY(probeWindow);
        QTRY_VERIFY_WITH_TIMEOUT(overlayIndex() > stackIndexOf(probeWindow), 1000);
        QVERIFY(stackIndexOf(probeWindow) >= 0);
        QVERIFY(!input->nothingGrabbed());
        input->burstOfEach(7);
        QTest::qWait(300);
        QCOMPARE(probe.count(QStringLiteral("core ")), 0);
        QCOMPARE(helper.count(QStringLiteral("state unlocked")), 0);
        // All of this happened while PAM still held back its answer.
        QCOMPARE(helper.count(QStringLiteral("dialog rejected Authentication failure")), 0);
        // The delay ends with the dialog still there for another try.
        QVERIFY(helper.waitFor(QStringLiteral("dialog rejected Authentication failure")));
        QCOMPARE(topLevelWindowsNamed(input->connection(), dialogTitle).size(), 1);
        // The burst typed into the dialog after the refusal emptied it.
        static constexpr uint8_t backSpace = 22;
        for (int i = 0; i < 3; ++i) {
            input->key(backSpace, true);
            input->key(backSpace, false);
        }
        type(rightPassword);
        pressReturn();
        QVERIFY(helper.waitFor(QStringLiteral("state unlocked")));
    }
};

int main(int argc, char **argv)
{
    TestSession testSession;
    if (!testSession.isValid()) {
        std::fprintf(stderr, "cannot start the test session: %s\n", qPrintable(testSession.error()));
        return 1;
    }
    session = &testSession;
    QCoreApplication application(argc, argv);
    TestUnlockDialogX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unlockdialog_x11.moc"
