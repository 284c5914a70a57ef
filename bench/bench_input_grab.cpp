// Input blocking side by side with xtrlock on one Xvfb:
//  - lock latency: from the request to keyboard, pointer and slave-device
//    grabs active (the overlay is not part of this measurement), against
//    xtrlock's time from exec to holding the keyboard grab;
//  - CPU time per swallowed event during a burst of XTest motion and key
//    events, against xtrlock's under the same burst, and how long after the
//    burst the last event was handled.
// Prints figures; fails only when it cannot measure. xtrlock refuses to run
// as root, so it runs as the user named by PANEVEIL_BENCH_USER (default
// "pvbench") when this runs as root.

#include "EventTapManager.h"
#include "X11InputGrab.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <pwd.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int latencyRounds = 50;
constexpr int defaultBurstEvents = 20000;
constexpr uint8_t shiftKey = 50, controlKey = 37, superKey = 133, uKey = 30;

struct Failure {
    QString why;
};

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double otherProcessCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// An outside client: a focused window that sees keys when nobody grabs them,
// and the XTest device that sends the bursts.
class Outsider {
public:
    explicit Outsider(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            throw Failure{QStringLiteral("cannot connect to %1").arg(QString::fromLatin1(display))};
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_root = screen->root;
        m_window = xcb_generate_id(m_connection);
        const uint32_t values[] = {XCB_EVENT_MASK_KEY_PRESS};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, values);
        xcb_map_window(m_connection, m_window);
        sync();
    }
    ~Outsider() { xcb_disconnect(m_connection); }

    void key(uint8_t keycode, bool press)
    {
        xcb_test_fake_input(m_connection, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
    }
    void motion(int i)
    {
        xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, false, XCB_CURRENT_TIME, m_root, int16_t(10 + i % 1000),
                            int16_t(10 + (i / 7) % 700), 0);
    }
    void sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

    // Whether a key press reaches this client's focused window right now.
    // Events come before the reply that follows them, so one round trip tells.
    bool keyboardFree()
    {
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        key(shiftKey, true);
        key(shiftKey, false);
        sync();
        bool seen = false;
        while (xcb_generic_event_t *event = xcb_poll_for_queued_event(m_connection)) {
            seen = seen || (event->response_type & 0x7f) == XCB_KEY_PRESS;
            std::free(event);
        }
        return seen;
    }

    // Half motion, half Shift presses and releases (which type nothing into xtrlock).
    void burst(int events)
    {
        for (int i = 0; i < events; i += 2) {
            motion(i);
            key(shiftKey, (i / 2) % 2 == 0);
            if (i % 512 == 0)
                xcb_flush(m_connection);
        }
        key(shiftKey, false);
        sync();
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
};

QStringList asBenchUser(const QString &program)
{
    if (getuid() != 0)
        return {program};
    const QByteArray name = qEnvironmentVariableIsSet("PANEVEIL_BENCH_USER") ? qgetenv("PANEVEIL_BENCH_USER")
                                                                             : QByteArray("pvbench");
    const passwd *user = getpwnam(name.constData());
    if (!user)
        throw Failure{QStringLiteral("xtrlock refuses root and there is no user %1 (useradd -m %1)")
                          .arg(QString::fromLatin1(name))};
    // setpriv runs the program itself, so its process id is xtrlock's.
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(user->pw_uid),
            QStringLiteral("--regid=%1").arg(user->pw_gid), QStringLiteral("--clear-groups"), program};
}

struct Xtrlock {
    QProcess process;
    explicit Xtrlock(const QString &display)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    void start()
    {
        const QStringList command = asBenchUser(QStringLiteral("xtrlock"));
        process.start(command.front(), command.mid(1));
    }
    ~Xtrlock()
    {
        process.kill();
        process.waitForFinished(3000);
    }
};

// Microseconds from exec to xtrlock holding the keyboard.
double xtrlockLatencyUs(const QString &display, Outsider &outsider)
{
    Xtrlock xtrlock(display);
    QElapsedTimer elapsed;
    elapsed.start();
    xtrlock.start();
    while (outsider.keyboardFree()) {
        if (elapsed.elapsed() > 5000 || xtrlock.process.state() == QProcess::NotRunning)
            throw Failure{QStringLiteral("xtrlock did not grab the keyboard")};
    }
    return double(elapsed.nsecsElapsed()) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-ac"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1280x800x24")});
    while (!xvfb.canReadLine() && xvfb.waitForReadyRead(10000)) {
    }
    const QString display = QLatin1Char(':') + QString::fromUtf8(xvfb.readLine()).trimmed();
    if (display.size() < 2) {
        std::fprintf(stderr, "cannot measure: Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    // More events than the default make the clock-tick-grained CPU times of xtrlock finer.
    const int burstEvents = std::max(defaultBurstEvents, argc > 1 ? std::atoi(argv[1]) : 0);
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        try {
            Outsider outsider(display.toLocal8Bit());
            auto grab = std::make_shared<X11InputGrab>();
            struct NoPrompt final : PermissionPromptInterface {
                void request(Permission) override {}
            };
            EventTapManager manager(grab, std::make_shared<NoPrompt>());
            manager.shouldSwallowEvents = [] { return true; };
            QElapsedTimer hotkeyClock;
            std::atomic<qint64> hotkeyAtNs{-1};
            // Idle waiting, so only event handling counts as the helper's CPU time.
            QEventLoop drained;
            manager.onUnlockHotkey = [&] {
                hotkeyAtNs = hotkeyClock.nsecsElapsed();
                drained.quit();
            };

            // Lock latency, warm: the first take creates the grab window.
            if (!manager.start())
                throw Failure{QStringLiteral("the blocker could not take the grabs")};
            manager.stop();
            std::vector<double> ours;
            for (int i = 0; i < latencyRounds; ++i) {
                QElapsedTimer elapsed;
                elapsed.start();
                const bool started = manager.start();
                ours.push_back(double(elapsed.nsecsElapsed()) / 1000.0);
                if (!started || outsider.keyboardFree())
                    throw Failure{QStringLiteral("the blocker did not hold the keyboard")};
                manager.stop();
                QCoreApplication::processEvents();
            }
            std::vector<double> theirs;
            for (int i = 0; i < 10; ++i)
                theirs.push_back(xtrlockLatencyUs(display, outsider));
            const double oursMedian = medianOf(ours), theirsMedian = medianOf(theirs);
            std::printf("lock latency (grabs only, overlay not included): paneveil p50 %.0f us, max %.0f us; "
                        "xtrlock exec-to-keyboard-grab p50 %.0f us; ratio %.3f (target <= 0.2)\n",
                        oursMedian, *std::max_element(ours.begin(), ours.end()), theirsMedian,
                        oursMedian / theirsMedian);

            // CPU per swallowed event: the burst comes from a thread of its
            // own, whose CPU time is taken out of this process's.
            if (!manager.start())
                throw Failure{QStringLiteral("the blocker could not take the grabs")};
            QCoreApplication::processEvents();
                    double injectorCpu = 0;
            qint64 burstEndNs = 0;
            const double cpuBefore = processCpuSeconds();
            hotkeyClock.start();
            std::thread injector([&] {
                const double start = threadCpuSeconds();
                Outsider sender(display.toLocal8Bit());
                sender.burst(burstEvents);
                burstEndNs = hotkeyClock.nsecsElapsed();
                // Marker: the hotkey comes after every burst event.
                sender.key(controlKey, true);
                sender.key(superKey, true);
                sender.key(uKey, true);
                sender.key(uKey, false);
                sender.key(superKey, false);
                sender.key(controlKey, false);
                sender.sync();
                injectorCpu = threadCpuSeconds() - start;
            });
            QTimer::singleShot(30000, &drained, &QEventLoop::quit);
            drained.exec();
            injector.join();
            const double ourCpu = processCpuSeconds() - cpuBefore - injectorCpu;
            manager.stop();
            if (hotkeyAtNs < 0)
                throw Failure{QStringLiteral("the burst was not drained within 30 s")};
            const double drainMs = double(hotkeyAtNs - burstEndNs) / 1e6;

            Xtrlock xtrlock(display);
            xtrlock.start();
            QElapsedTimer grabWait;
            grabWait.start();
            while (outsider.keyboardFree() && grabWait.elapsed() < 5000) {
            }
            const double theirCpuBefore = otherProcessCpuSeconds(xtrlock.process.processId());
            outsider.burst(burstEvents);
            QTest::qWait(500);
            const double theirCpu = otherProcessCpuSeconds(xtrlock.process.processId()) - theirCpuBefore;
            if (theirCpuBefore < 0 || xtrlock.process.state() != QProcess::Running)
                throw Failure{QStringLiteral("cannot read xtrlock's CPU time")};
            std::printf("CPU per swallowed event over %d XTest events: paneveil %.2f us, xtrlock %.2f us "
                        "(clock tick %.0f us); last event handled %.1f ms after the burst (target <= 100 ms)\n",
                        burstEvents, ourCpu / burstEvents * 1e6, theirCpu / burstEvents * 1e6,
                        1e6 / double(sysconf(_SC_CLK_TCK)), drainMs);
        } catch (const Failure &failure) {
            std::fprintf(stderr, "cannot measure: %s\n", qPrintable(failure.why));
            status = 1;
        }
    }
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return status;
}
