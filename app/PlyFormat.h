#ifndef PLYFORMAT_H
#define PLYFORMAT_H

#include "frames/PointProjection.h"

#include <QByteArray>
#include <QImage>

// Point files in the binary little-endian PLY format: one vertex per pixel in
// frame order (row-major), float x, y, z in the projection of the PCD log
// (pixels without a distance at the origin, as the PCD log writes them), and
// the pixel's colour in the picture as uchar red, green, blue.
namespace PlyFormat {

QByteArray header(int vertexCount);
// `colours` is the frame's picture (width x height); a null image gives black points.
QByteArray file(
    const quint16 *values, int width, int height, const LensParameters &lens, const QImage &colours);

} // namespace PlyFormat

#endif // PLYFORMAT_H
