#ifndef POINTPROJECTION_H
#define POINTPROJECTION_H

#include <QtGlobal>

// Lens intrinsics used to turn a depth value into a metric point.
struct LensParameters
{
    double cx = 1.0;
    double cy = 1.0;
    double fx = 1.0;
    double fy = 1.0;
    double factor = 1000.0;

    // The intrinsics the device-information reader stored in the shared state.
    static LensParameters fromDeviceState();
};

struct Point3D
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

namespace PointProjection {

// Frame values of this and above are no measurement.
constexpr quint16 InvalidValue = 30000;

// The metric point of the pixel at column `col`, row `row` with depth value
// `value`: half the value is the distance in millimetres along the pixel's
// ray, z its projection onto the optical axis, scaled by 1 / factor (metres
// with the default factor of 1000). Invalid values give the origin.
Point3D projectPixel(int col, int row, quint16 value, const LensParameters &lens);

} // namespace PointProjection

#endif // POINTPROJECTION_H
