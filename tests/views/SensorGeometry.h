#ifndef TESTS_VIEWS_SENSORGEOMETRY_H
#define TESTS_VIEWS_SENSORGEOMETRY_H

#include "device/DeviceState.h"

// The shared state of an open camera of this sensor size, with a zeroed frame buffer.
inline void useSensor(int width, int height)
{
    DeviceState &state = deviceState();
    state = DeviceState();
    state.imageWidth = width;
    state.imageHeight = height;
    state.pixelCount = width * height;
    state.frameDataBytes = 2 * width * height;
    state.frameBuffer = QVector<quint16>(width * height, 0);
}

#endif // TESTS_VIEWS_SENSORGEOMETRY_H
