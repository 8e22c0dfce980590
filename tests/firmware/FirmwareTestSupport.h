#ifndef FIRMWARETESTSUPPORT_H
#define FIRMWARETESTSUPPORT_H

#include "tests/support/WindowTestSupport.h"

namespace FirmwareTest {

// `length` bytes that differ with `seed` and look like nothing in particular.
inline QByteArray image(int length, int seed = 1)
{
    QByteArray bytes(length, '\0');
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

} // namespace FirmwareTest

#endif // FIRMWARETESTSUPPORT_H
