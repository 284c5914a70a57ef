// Round trip of a status request through the helper, against a bare
// org.freedesktop.DBus.Peer.Ping to the same helper connection: how much the
// listener and the lock manager add on top of the bus itself.
//
// usage: bench_request_roundtrip [iterations]

#include "BusWireTypes.h"
#include "Constants.h"
#include "HelperBusClient.h"
#include "TestSession.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double p50 = 0;
    double p99 = 0;
};

Figures percentiles(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))]; };
    return {at(0.50), at(0.99)};
}

// Times each blocking round trip in microseconds; false if any call failed.
template<typename Call>
bool measure(int iterations, std::vector<double> &samples, Call call)
{
    QElapsedTimer timer;
    for (int i = 0; i < iterations; ++i) {
        timer.start();
        const QDBusMessage reply = call();
        samples.push_back(double(timer.nsecsElapsed()) / 1000.0);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "call failed: %s\n", qPrintable(reply.errorMessage()));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int iterations = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;

    TestSession session;
    if (!session.isValid()) {
        std::fprintf(stderr, "no session: %s\n", qPrintable(session.error()));
        return 1;
    }
    QProcess helper;
    helper.setProcessEnvironment(session.environment());
    helper.setStandardErrorFile(QProcess::nullDevice());
    helper.start(QStringLiteral(PANEVEIL_BUILT_HELPER));

    QDBusConnection bus = session.connect(QStringLiteral("bench"));
    HelperBusClient client(bus, busPeerCheck(bus, QString::fromLatin1(PVConstants::helperCodeSigningRequirement)));
    QString error;
    bool connected = false;
    for (int attempt = 0; attempt < 100 && !connected; ++attempt) {
        connected = bus.interface()->isServiceRegistered(QString::fromLatin1(PVConstants::helperMachServiceName))
                    && client.connectToHelper(&error);
        if (!connected)
            QThread::msleep(50);
    }
    if (!connected) {
        std::fprintf(stderr, "helper not reachable: %s\n", qPrintable(error));
        return 1;
    }

    // Both requests are sent the same way, as blocking calls to the helper's unique name.
    auto status = [&] {
        return bus.call(QDBusMessage::createMethodCall(client.helperName(), QString::fromLatin1(PVBus::helperObjectPath),
                                                       QString::fromLatin1(PVBus::helperInterface),
                                                       QString::fromLatin1(BusMember::getStatus)));
    };
    auto ping = [&] {
        return bus.call(QDBusMessage::createMethodCall(client.helperName(), QStringLiteral("/"),
                                                       QStringLiteral("org.freedesktop.DBus.Peer"),
                                                       QStringLiteral("Ping")));
    };

    // The first call admits this client; warm both paths up before measuring.
    std::vector<double> warmup, statusSamples, pingSamples;
    if (!measure(50, warmup, status) || !measure(50, warmup, ping))
        return 1;
    // Interleave rounds so drift on a busy machine hits both alike.
    for (int round = 0; round < 10; ++round) {
        if (!measure(iterations / 10, statusSamples, status) || !measure(iterations / 10, pingSamples, ping))
            return 1;
    }

    const Figures statusFigures = percentiles(statusSamples);
    const Figures pingFigures = percentiles(pingSamples);
    std::printf("request round trip over %zu calls each (microseconds)\n", statusSamples.size());
    std::printf("  %-22s p50 %8.1f   p99 %8.1f\n", "getStatusWithReply", statusFigures.p50, statusFigures.p99);
    std::printf("  %-22s p50 %8.1f   p99 %8.1f\n", "Peer.Ping", pingFigures.p50, pingFigures.p99);
    std::printf("  ratio status/ping      p50 %8.2f   p99 %8.2f   (target: at most 1.5)\n",
                statusFigures.p50 / pingFigures.p50, statusFigures.p99 / pingFigures.p99);

    helper.terminate();
    helper.waitForFinished(3000);
    return 0;
}
