// Spaces out raises of the overlay so that a window that keeps raising
// itself cannot drag the overlay into a raise war: the first raise after a
// quiet spell is immediate, each further one waits twice as long as the
// last, up to a ceiling.
#pragma once

#include <QtGlobal>

#include <optional>

class RaisePacer {
public:
    struct Timing {
        qint64 firstIntervalMs = 100;
        qint64 longestIntervalMs = 2000;
        // A spell this long without raises ends the war.
        qint64 quietMs = 5000;
    };

    RaisePacer() = default;
    explicit RaisePacer(Timing timing) : m_timing(timing), m_intervalMs(timing.firstIntervalMs) {}

    // How long to wait from nowMs before the next raise may happen.
    qint64 delayBeforeRaise(qint64 nowMs) const;
    // Records a raise that happened at nowMs.
    void raised(qint64 nowMs);

private:
    Timing m_timing;
    qint64 m_intervalMs = Timing{}.firstIntervalMs;
    std::optional<qint64> m_lastRaiseMs;
};
