#include "app/StreamStatus.h"

void StreamStatus::start(qint64 ms, const Counters &now)
{
    m_start = now;
    m_readings = { { ms, now } };
}

void StreamStatus::sample(qint64 ms, const Counters &now)
{
    if (!m_readings.isEmpty() && ms < m_readings.last().ms)
        return; // a clock that went back: keep the older, consistent readings
    m_readings.append({ ms, now });
    // Keep the newest reading that is at least AveragingMs old as the base.
    while (m_readings.size() > 2 && ms - m_readings.at(1).ms >= AveragingMs)
        m_readings.removeFirst();
}

double StreamStatus::perSecond(quint64 Counters::*counter) const
{
    if (m_readings.size() < 2)
        return 0.0;
    const Reading &first = m_readings.first();
    const Reading &last = m_readings.last();
    const qint64 elapsed = last.ms - first.ms;
    if (elapsed <= 0 || last.counters.*counter < first.counters.*counter)
        return 0.0;
    return double(last.counters.*counter - first.counters.*counter) * 1000.0 / double(elapsed);
}

double StreamStatus::framesPerSecond() const
{
    return perSecond(&Counters::framesShown);
}

double StreamStatus::megabytesPerSecond() const
{
    return perSecond(&Counters::bytesReceived) / 1e6;
}

StreamStatus::Counters StreamStatus::sinceStart() const
{
    if (m_readings.isEmpty())
        return {};
    const Counters &now = m_readings.last().counters;
    const auto difference
        = [](quint64 later, quint64 earlier) { return later >= earlier ? later - earlier : 0; };
    return { difference(now.framesShown, m_start.framesShown),
        difference(now.blocksDropped, m_start.blocksDropped),
        difference(now.bytesReceived, m_start.bytesReceived) };
}

QString StreamStatus::streamingText() const
{
    const Counters counts = sinceStart();
    return QStringLiteral("%1 fps, %2 frames shown, %3 blocks dropped, %4 MB/s")
        .arg(framesPerSecond(), 0, 'f', 1)
        .arg(counts.framesShown)
        .arg(counts.blocksDropped)
        .arg(megabytesPerSecond(), 0, 'f', 2);
}

QString StreamStatus::idleText(const QString &model, const QString &port)
{
    if (port.isEmpty())
        return model;
    return model + QStringLiteral(" on ") + port;
}
