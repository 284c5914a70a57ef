// How often the running app wakes up once the helper answers and nothing
// happens. Runs the installed `paneveil` in a throwaway session (Xvfb, a
// private bus that can start the installed helper, empty XDG folders),
// waits until the helper serves the app and things settle, then counts the
// context switches of every thread of the app over a period (60 s unless
// given in seconds as the first argument) and prints them per thread and
// per minute. A thread that is switched out has gone to sleep after being
// woken, so the counts bound the wake-ups from above.
//
// Exit status: 0 when the app woke up no more than once a minute, 1 when it
// woke more often, 2 when it could not be measured.

#include "Constants.h"
#include "TestSession.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <map>

namespace {

struct ThreadSwitches {
    QString name;
    qint64 voluntary = 0;
    qint64 involuntary = 0;
};

// Context switches of each thread of pid, by thread id.
std::map<qint64, ThreadSwitches> sample(qint64 pid)
{
    std::map<qint64, ThreadSwitches> threads;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        ThreadSwitches entry;
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (line.startsWith("Name:"))
                entry.name = QString::fromUtf8(value);
            else if (line.startsWith("voluntary_ctxt_switches:"))
                entry.voluntary = value.toLongLong();
            else if (line.startsWith("nonvoluntary_ctxt_switches:"))
                entry.involuntary = value.toLongLong();
        }
        threads[tid.toLongLong()] = entry;
    }
    return threads;
}

void print(const char *format, const QString &text = {}, double a = 0, double b = 0)
{
    std::printf(format, text.toUtf8().constData(), a, b);
    std::fflush(stdout);
}

int cannotMeasure(const QString &why)
{
    std::fprintf(stderr, "bench_app_idle: cannot measure: %s\n", why.toUtf8().constData());
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    if (seconds <= 0)
        return cannotMeasure(QStringLiteral("the period must be a positive number of seconds"));

    QProcessEnvironment busEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
        busEnvironment.remove(QString::fromLatin1(name));
    TestSession session(TestSession::Options{
        .withDisplay = true, .serviceDirectory = QStringLiteral(PANEVEIL_INSTALLED_SERVICES), .busEnvironment = busEnvironment});
    if (!session.isValid())
        return cannotMeasure(session.error());

    QTemporaryDir home;
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(PANEVEIL_INSTALLED_APP), {});
    if (!app.waitForStarted())
        return cannotMeasure(QStringLiteral("paneveil did not start: %1").arg(app.errorString()));

    // The app registers the helper and the bus starts it on the app's first call.
    QDBusConnection bus = session.connect(QStringLiteral("bench"));
    const QString helperName = QString::fromLatin1(PVConstants::helperMachServiceName);
    QElapsedTimer waited;
    waited.start();
    while (!bus.interface()->isServiceRegistered(helperName).value()) {
        if (app.state() != QProcess::Running)
            return cannotMeasure(QStringLiteral("paneveil ended with status %1").arg(app.exitCode()));
        if (waited.elapsed() > 60000)
            return cannotMeasure(QStringLiteral("no helper came up within 60 s"));
        QThread::msleep(100);
    }
    // Time for the first answers to arrive and the start-up work to end.
    QThread::sleep(5);
    QDBusConnection::disconnectFromBus(bus.name());

    const qint64 pid = app.processId();
    const auto before = sample(pid);
    QElapsedTimer period;
    period.start();
    QThread::sleep(seconds);
    const auto after = sample(pid);
    const double minutes = double(period.elapsed()) / 60000.0;
    if (before.empty() || after.empty() || app.state() != QProcess::Running)
        return cannotMeasure(QStringLiteral("paneveil is gone"));

    print("paneveil idle with a reachable helper over %s s\n", QString::number(period.elapsed() / 1000.0, 'f', 1));
    std::printf("%-20s %s\n", "thread", "switches during the period");
    qint64 total = 0;
    for (const auto &[tid, end] : after) {
        const auto start = before.find(tid);
        const qint64 voluntary = end.voluntary - (start == before.end() ? 0 : start->second.voluntary);
        const qint64 involuntary = end.involuntary - (start == before.end() ? 0 : start->second.involuntary);
        total += voluntary + involuntary;
        std::printf("%-20s %6lld voluntary %6lld involuntary\n", end.name.toUtf8().constData(), (long long)voluntary,
                    (long long)involuntary);
    }
    const double perMinute = double(total) / minutes;
    std::printf("threads: %zu; context switches: %lld; per minute: %.2f (bound: 1)\n", after.size(), (long long)total, perMinute);
    std::fflush(stdout);

    app.terminate();
    app.waitForFinished(5000);
    return perMinute <= 1.0 ? 0 : 1;
}
