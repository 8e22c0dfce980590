#include "device/BusyWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

bool busyWait(int milliseconds, const std::function<bool()> &done)
{
    // A monotonic clock: the time of day would stall the wait across midnight.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        if (done && done())
            return true;
        const int left = int(milliseconds - timer.elapsed());
        QCoreApplication::processEvents(QEventLoop::AllEvents, qBound(1, left, 100));
        if (!QCoreApplication::instance())
            return false;
    }
    return done && done();
}
