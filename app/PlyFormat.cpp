#include "app/PlyFormat.h"

#include <cstring>

namespace PlyFormat {

QByteArray header(int vertexCount)
{
    return QByteArrayLiteral("ply\n"
                             "format binary_little_endian 1.0\n"
                             "comment Kavrix depth frame, metric points\n"
                             "element vertex ")
        + QByteArray::number(vertexCount)
        + QByteArrayLiteral("\n"
                            "property float x\n"
                            "property float y\n"
                            "property float z\n"
                            "property uchar red\n"
                            "property uchar green\n"
                            "property uchar blue\n"
                            "end_header\n");
}

QByteArray file(
    const quint16 *values, int width, int height, const LensParameters &lens, const QImage &colours)
{
    constexpr int VertexSize = 3 * 4 + 3;
    QByteArray out = header(width * height);
    const int start = out.size();
    out.resize(start + width * height * VertexSize);
    char *p = out.data() + start;
    const QImage rgb = colours.width() == width && colours.height() == height
        ? colours.convertToFormat(QImage::Format_RGB888)
        : QImage();
    const auto putFloat = [&p](double value) {
        const float f = float(value);
        quint32 bits;
        std::memcpy(&bits, &f, 4);
        for (int k = 0; k < 4; ++k)
            *p++ = char(bits >> (8 * k));
    };
    for (int row = 0; row < height; ++row) {
        const uchar *line = rgb.isNull() ? nullptr : rgb.constScanLine(row);
        for (int col = 0; col < width; ++col) {
            const Point3D point = PointProjection::projectPixel(col, row, values[row * width + col], lens);
            putFloat(point.x);
            putFloat(point.y);
            putFloat(point.z);
            for (int k = 0; k < 3; ++k)
                *p++ = line ? char(line[3 * col + k]) : '\0';
        }
    }
    return out;
}

} // namespace PlyFormat
