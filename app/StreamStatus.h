#ifndef STREAMSTATUS_H
#define STREAMSTATUS_H

#include <QString>
#include <QVector>
#include <QtGlobal>

// The main window's status line: while streaming the frame rate and the
// link's data rate, averaged over about a second of readings, and the frames
// shown and blocks dropped since the stream started; when idle, which camera
// is connected where.
//
// The caller counts; this class only takes readings of the counters a few
// times a second, so streaming costs nothing per frame beyond the counting.
class StreamStatus
{
public:
    struct Counters
    {
        quint64 framesShown = 0;
        quint64 blocksDropped = 0;
        quint64 bytesReceived = 0;
    };

    // The rates span the readings of at least this long, when there are any.
    static constexpr qint64 AveragingMs = 1000;

    // A stream starts at `ms` (any monotonic clock) with the counters at `now`.
    void start(qint64 ms, const Counters &now);
    void sample(qint64 ms, const Counters &now);

    double framesPerSecond() const;
    // Megabytes (10^6 bytes) per second.
    double megabytesPerSecond() const;
    Counters sinceStart() const;

    // "30.0 fps, 1234 frames shown, 5 blocks dropped, 4.61 MB/s"
    QString streamingText() const;
    // "Kavrix M20 on ttyACM0", or the model alone without a port.
    static QString idleText(const QString &model, const QString &port);

private:
    struct Reading
    {
        qint64 ms;
        Counters counters;
    };
    double perSecond(quint64 Counters::*counter) const;

    Counters m_start;
    QVector<Reading> m_readings;
};

#endif // STREAMSTATUS_H
