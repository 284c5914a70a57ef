// Watches a test session's bus with dbus-monitor and counts the calls made
// on the helper's interface, by member and destination.
#pragma once

#include "Constants.h"
#include "TestSession.h"

#include <QDBusMessage>
#include <QTest>

#include <utility>
#include <vector>

// Every call on the helper's interface, as dbus-monitor sees it on the bus.
class HelperCallMonitor {
public:
    explicit HelperCallMonitor(const TestSession &session)
    {
        m_process.start(QStringLiteral("dbus-monitor"),
                        {QStringLiteral("--address"), session.busAddress(),
                         QStringLiteral("type='method_call',interface='%1'").arg(QLatin1String(PVBus::helperInterface)),
                         QStringLiteral("type='method_call',member='MonitorReady'")});
        // Ready once it reports a call of our own.
        QDBusConnection probe = session.connect(QStringLiteral("monitor-probe"));
        QDBusMessage marker = QDBusMessage::createMethodCall(probe.baseService(), QStringLiteral("/"),
                                                             QStringLiteral("test.Monitor"), QStringLiteral("MonitorReady"));
        for (int i = 0; i < 100 && !m_ready; ++i) {
            probe.send(marker);
            QTest::qWait(50);
            read();
        }
        QDBusConnection::disconnectFromBus(probe.name());
    }
    ~HelperCallMonitor()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    bool isReady() const { return m_ready; }

    // Calls of member seen so far, to destination when given.
    int count(const char *member, const QString &destination = {})
    {
        read();
        int count = 0;
        for (const auto &[seenMember, seenDestination] : m_calls)
            count += seenMember == QLatin1String(member) && (destination.isEmpty() || seenDestination == destination);
        return count;
    }

private:
    void read()
    {
        m_buffer += QString::fromUtf8(m_process.readAllStandardOutput());
        qsizetype end;
        while ((end = m_buffer.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            if (!line.startsWith(QLatin1String("method call")))
                continue;
            const QString member = field(line, QStringLiteral("member="));
            if (member == QLatin1String("MonitorReady"))
                m_ready = true;
            else
                m_calls.push_back({member, field(line, QStringLiteral("destination="))});
        }
    }
    static QString field(const QString &line, const QString &name)
    {
        const qsizetype at = line.indexOf(name);
        if (at < 0)
            return {};
        const qsizetype begin = at + name.size();
        qsizetype end = begin;
        while (end < line.size() && !line.at(end).isSpace() && line.at(end) != QLatin1Char(';'))
            ++end;
        return line.mid(begin, end - begin);
    }

    QProcess m_process;
    QString m_buffer;
    bool m_ready = false;
    std::vector<std::pair<QString, QString>> m_calls;
};

