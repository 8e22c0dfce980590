#include "frames/PointProjection.h"

#include "device/DeviceState.h"

#include <cmath>

LensParameters LensParameters::fromDeviceState()
{
    const DeviceState &state = deviceState();
    LensParameters lens;
    lens.cx = state.cameraCx;
    lens.cy = state.cameraCy;
    lens.fx = state.cameraFx;
    lens.fy = state.cameraFy;
    lens.factor = state.cameraFactor;
    return lens;
}

namespace PointProjection {

Point3D projectPixel(int col, int row, quint16 value, const LensParameters &lens)
{
    Point3D point;
    if (value >= InvalidValue)
        return point;
    const double dx = col - lens.cx;
    const double dy = row - lens.cy;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double angle = std::atan(r / lens.fx);
    point.z = double(value >> 1) * std::cos(angle) / lens.factor;
    point.x = dx * point.z / lens.fx;
    point.y = dy * point.z / lens.fy;
    return point;
}

} // namespace PointProjection
