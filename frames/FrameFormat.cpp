#include "frames/FrameFormat.h"

#include <QtEndian>
#include <cstring>

namespace FrameFormat {

QString temperatureText(quint16 raw)
{
    return QString::number(temperature(raw), 'f', 1) + QStringLiteral(" C");
}

void readPixels(const char *frame, int pixelCount, quint16 *out)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    std::memcpy(out, frame, size_t(pixelCount) * 2);
#else
    for (int i = 0; i < pixelCount; ++i)
        out[i] = readU16(frame + 2 * i);
#endif
}

QByteArray encode(const quint16 *pixels, int pixelCount, quint16 temperatureRaw, quint8 status, quint8 unused)
{
    QByteArray bytes(frameBytes(pixelCount) + MarkerSize, Qt::Uninitialized);
    char *p = bytes.data();
    for (int i = 0; i < pixelCount; ++i)
        qToLittleEndian<quint16>(pixels[i], p + 2 * i);
    p += 2 * pixelCount;
    qToLittleEndian<quint16>(temperatureRaw, p);
    p[2] = char(unused);
    p[3] = char(status);
    std::memcpy(p + TrailerSize, Marker, MarkerSize);
    return bytes;
}

} // namespace FrameFormat
