#ifndef LENSPACKET_H
#define LENSPACKET_H

#include <QByteArray>

namespace LensPacket {

// The lens parameter values the camera stores, in the application's units.
struct Values
{
    double cameraFactor = 1000.0;
    double cameraCx = 1.0;
    double cameraCy = 1.0;
    double cameraFx = 1.0;
    double cameraFy = 1.0;
};

constexpr int PacketLength = 12;

// Scales a value for the wire: truncated toward zero, not rounded, so 80.505
// at scale 100 gives 8050. A product within floating-point noise of an
// integer counts as that integer (0.29 x 100 is 28.999999999999996 in binary
// arithmetic and must still give 29). Clamped to the 16-bit field.
quint16 scaled(double value, int scale);

// 28 28, then factor x 10, cx, cy, fx, fy x 100, each 16-bit little-endian.
QByteArray build(const Values &lens);

// The inverse, for the camera's side; false unless `packet` is a lens packet.
bool parse(const QByteArray &packet, Values *lens);

} // namespace LensPacket

#endif // LENSPACKET_H
