#ifndef BUSYWAIT_H
#define BUSYWAIT_H

#include <functional>

// Waits while keeping the event loop running, so frame reception, unplug
// handling and every other slot can run inside the wait. Returns early, with
// true, as soon as `done` (if given) returns true; false when the time ran out.
// Callers must expect any object a slot may delete to be gone afterwards.
bool busyWait(int milliseconds, const std::function<bool()> &done = {});

#endif // BUSYWAIT_H
