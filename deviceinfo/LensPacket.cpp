#include "deviceinfo/LensPacket.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr char Prefix = 0x28;

void putWord(QByteArray &bytes, int offset, quint16 value)
{
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

int word(const QByteArray &bytes, int offset)
{
    return int(quint8(bytes.at(offset))) | (int(quint8(bytes.at(offset + 1))) << 8);
}

} // namespace

namespace LensPacket {

quint16 scaled(double value, int scale)
{
    const double product = value * scale;
    if (!(product > 0)) // also catches NaN
        return 0;
    if (product >= 65535.0)
        return 65535;
    const double nearest = std::round(product);
    const double result
        = std::abs(product - nearest) < 1e-9 * std::max(1.0, nearest) ? nearest : std::trunc(product);
    return quint16(result);
}

QByteArray build(const Values &lens)
{
    QByteArray packet(PacketLength, '\0');
    packet[0] = Prefix;
    packet[1] = Prefix;
    putWord(packet, 2, scaled(lens.cameraFactor, 10));
    putWord(packet, 4, scaled(lens.cameraCx, 100));
    putWord(packet, 6, scaled(lens.cameraCy, 100));
    putWord(packet, 8, scaled(lens.cameraFx, 100));
    putWord(packet, 10, scaled(lens.cameraFy, 100));
    return packet;
}

bool parse(const QByteArray &packet, Values *lens)
{
    if (packet.size() != PacketLength || packet.at(0) != Prefix || packet.at(1) != Prefix)
        return false;
    lens->cameraFactor = word(packet, 2) / 10.0;
    lens->cameraCx = word(packet, 4) / 100.0;
    lens->cameraCy = word(packet, 6) / 100.0;
    lens->cameraFx = word(packet, 8) / 100.0;
    lens->cameraFy = word(packet, 10) / 100.0;
    return true;
}

} // namespace LensPacket
