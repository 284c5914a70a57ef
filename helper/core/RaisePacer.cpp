#include "RaisePacer.h"

#include <algorithm>

qint64 RaisePacer::delayBeforeRaise(qint64 nowMs) const
{
    if (!m_lastRaiseMs || nowMs - *m_lastRaiseMs >= m_timing.quietMs)
        return 0;
    return std::max<qint64>(0, *m_lastRaiseMs + m_intervalMs - nowMs);
}

void RaisePacer::raised(qint64 nowMs)
{
    if (!m_lastRaiseMs || nowMs - *m_lastRaiseMs >= m_timing.quietMs)
        m_intervalMs = m_timing.firstIntervalMs;
    else
        m_intervalMs = std::min(m_intervalMs * 2, m_timing.longestIntervalMs);
    m_lastRaiseMs = nowMs;
}
