#ifndef FUNCTIONDISTANCE_H
#define FUNCTIONDISTANCE_H

#include <QString>
#include <QVector>

#include <qwt3d_function.h>

// The sample function of the point cloud: the distance in whole centimetres of
// the pixel at column x, row y of the shared frame buffer.
class FunctionDistance : public Qwt3D::Function
{
public:
    explicit FunctionDistance(Qwt3D::SurfacePlot &plot);
    ~FunctionDistance() override;

    QString name() const override { return QString(); }
    double operator()(double x, double y) override;

    // Frame values of this and above are no measurement.
    static constexpr quint16 InvalidValue = 30000;

    // The value for a frame of width x height values; positions are truncated
    // toward zero and clamped into the frame. Invalid pixels, and any read
    // from a frame that is empty or too short, give 0.
    static double valueAt(const QVector<quint16> &frame, int width, int height, double x, double y);
};

#endif // FUNCTIONDISTANCE_H
