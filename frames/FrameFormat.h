#ifndef FRAMEFORMAT_H
#define FRAMEFORMAT_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The layout of one frame block as the camera sends it (all fields little-endian):
//   2 x N bytes  pixel values, row-major, unsigned 16-bit
//   2 bytes      chip temperature in 1/16 degree
//   1 byte       unused
//   1 byte       frame status (10: not to be shown)
// followed on the wire by the marker "*##*", which is not part of the frame.
namespace FrameFormat {

constexpr char Marker[4] = { '*', '#', '#', '*' };
constexpr int MarkerSize = 4;
constexpr int TrailerSize = 4;
constexpr quint8 StatusHidden = 10;

// Frame length without the marker.
constexpr int frameBytes(int pixelCount)
{
    return 2 * pixelCount + TrailerSize;
}

inline quint16 readU16(const char *p)
{
    return quint16(quint8(p[0]) | (quint8(p[1]) << 8));
}

inline quint16 temperatureRaw(const char *frame, int pixelCount)
{
    return readU16(frame + 2 * pixelCount);
}
inline quint8 status(const char *frame, int pixelCount)
{
    return quint8(frame[2 * pixelCount + 3]);
}

// Degrees Celsius: raw value x 0.0625.
inline double temperature(quint16 raw)
{
    return raw * 0.0625;
}

// The text shown in the temperature field, e.g. "26.0 C".
QString temperatureText(quint16 raw);

// Copies the pixel values into out (pixelCount entries).
void readPixels(const char *frame, int pixelCount, quint16 *out);

// Builds a frame followed by the marker, as the camera sends it.
QByteArray encode(
    const quint16 *pixels, int pixelCount, quint16 temperatureRaw, quint8 status, quint8 unused = 0);

} // namespace FrameFormat

#endif // FRAMEFORMAT_H
