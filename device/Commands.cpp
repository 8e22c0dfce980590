#include "device/Commands.h"

namespace Commands {

QByteArray camera(quint8 code)
{
    QByteArray bytes(3, CameraPrefix);
    bytes[2] = char(code);
    return bytes;
}

QByteArray parameter(char prefix, int value)
{
    // Quotient and remainder, not two's complement: the camera firmware expects it.
    const int high = value / 256;
    const int low = value - 256 * high;
    QByteArray bytes(4, prefix);
    bytes[2] = char(high & 0xFF);
    bytes[3] = char(low & 0xFF);
    return bytes;
}

} // namespace Commands
