#include "device/BusyWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool busyWait(int milliseconds, const std::function<bool()> &done)
{
    // A monotonic clock: the time of day would stall the wait across midnight.
    QElapsedTimer timer;
    timer.start();
    // Sleep in the event dispatcher instead of spinning: the tick wakes it at
    // least every 10 ms (sooner for a shorter wait) so the deadline and `done`
    // are checked on time, while every other event (a frame, an unplug) is
    // handled as soon as it arrives.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(qBound(1, milliseconds, 10));
    while (timer.elapsed() < milliseconds) {
        if (done && done())
            return true;
        if (!QCoreApplication::instance())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done && done();
}
