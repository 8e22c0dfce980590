#include "views/FunctionDistance.h"

#include "app/DeviceState.h"

#include <QDebug>

FunctionDistance::FunctionDistance(Qwt3D::SurfacePlot &plot)
    : Qwt3D::Function(plot)
{
}

FunctionDistance::~FunctionDistance()
{
    qDebug() << "***FunctionDistance destroyed";
}

double FunctionDistance::operator()(double x, double y)
{
    const DeviceState &state = deviceState();
    return valueAt(state.frameBuffer, state.imageWidth, state.imageHeight, x, y);
}

double FunctionDistance::valueAt(const QVector<quint16> &frame, int width, int height, double x, double y)
{
    if (width <= 0 || height <= 0 || frame.size() < width * height)
        return 0.0;
    // The mesh reaches x = width and y = height; NaN falls to 0 as well.
    const int column = x > 0 ? qMin(static_cast<int>(qMin(x, double(width))), width - 1) : 0;
    const int row = y > 0 ? qMin(static_cast<int>(qMin(y, double(height))), height - 1) : 0;
    const quint16 value = frame.at(row * width + column);
    // No measurement lies on the floor of the box, like the zero point the
    // point cloud log writes for it, instead of being clamped onto the lid
    // together with real distances beyond the box.
    if (value >= InvalidValue)
        return 0.0;
    return value / 20;
}
