#include "frames/SyntheticScene.h"

#include "frames/FrameFormat.h"

namespace SyntheticScene {

namespace {

bool inBox(const SceneSettings &s, int x, int y)
{
    return x >= s.width / 4 && x < s.width / 2 && y >= s.height / 4 && y < s.height / 2;
}

int baseAmplitude(const SceneSettings &s, int x, int y)
{
    return inBox(s, x, y) ? 1500 : 200 + (5 * x + 3 * y) % 400;
}

} // namespace

int amplitude(const SceneSettings &s, int x, int y)
{
    const int a0 = baseAmplitude(s, x, y);
    const int a = a0 * s.integrationTime / 300;
    if (a > Saturation && s.hdr)
        return a0 * s.hdrSecondTime / 300 > Saturation ? a : a0 * s.hdrSecondTime / 300;
    return a;
}

int distance(const SceneSettings &s, int x, int y)
{
    int d = inBox(s, x, y) ? 1200 : 2000 + 8 * x + 4 * y;
    d += s.distanceOffset;
    if (!s.drnuLut)
        d += x % 16;
    return qBound(1, d, 29999);
}

int grayLevel(const SceneSettings &s, int x, int y)
{
    if (inBox(s, x, y))
        return 4088;
    return 2048 + 8 * (255 * x / qMax(1, s.width - 1));
}

quint16 pixel(const SceneSettings &s, int x, int y)
{
    if (y == 0 && x < 6) {
        static const quint16 ranged[6] = { 0, 65300, 65400, 65500, 30000, 40000 };
        static const quint16 gray[6] = { 0, 2040, 4096, 65400, 65500, 2048 };
        return s.frameType == SceneSettings::Grayscale ? gray[x] : ranged[x];
    }
    switch (s.frameType) {
    case SceneSettings::Amplitude: {
        const int a = amplitude(s, x, y);
        return a > Saturation ? 65400 : quint16(a);
    }
    case SceneSettings::Grayscale:
        return quint16(grayLevel(s, x, y));
    default: {
        const int a = amplitude(s, x, y);
        if (a > Saturation)
            return 65400;
        if (a < s.minAmplitude)
            return 65300;
        return quint16(distance(s, x, y));
    }
    }
}

int copyPosition(const SceneSettings &s, quint32 k, int copy)
{
    const int half = s.width * s.height / 2;
    const quint32 span = quint32(qMax(1, half - 2050));
    if (copy == 0)
        return int((1 + 7919ull * k) % span);
    return half + int((3 + 104729ull * k) % span);
}

QVector<quint16> stillFrame(const SceneSettings &s)
{
    QVector<quint16> pixels(s.width * s.height);
    quint16 *out = pixels.data();
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x)
            *out++ = pixel(s, x, y);
    }
    return pixels;
}

QVector<quint16> frame(const SceneSettings &s, quint32 k)
{
    QVector<quint16> pixels = stillFrame(s);
    addMarkerCopies(s, k, pixels);
    return pixels;
}

void addMarkerCopies(const SceneSettings &s, quint32 k, QVector<quint16> &pixels)
{
    if (s.markerCopies && pixels.size() >= 8192) {
        const int p = copyPosition(s, k, 0);
        pixels[p] = 8998; // bytes 2A 23
        pixels[p + 1] = 10787; // bytes 23 2A
        const int q = copyPosition(s, k, 1);
        pixels[q] = 10768; // bytes 10 2A
        pixels[q + 1] = 8995; // bytes 23 23
        pixels[q + 2] = 4138; // bytes 2A 10
    }
}

quint16 temperatureRaw(const SceneSettings &s)
{
    return quint16(416 + 8 * (s.integrationTime / 500) + (s.hdr ? 16 : 0));
}

QByteArray block(const SceneSettings &s, quint32 k, quint8 status)
{
    return block(s, frame(s, k), k, status);
}

QByteArray block(const SceneSettings &s, const QVector<quint16> &pixels, quint32 k, quint8 status)
{
    return FrameFormat::encode(pixels.constData(), pixels.size(), temperatureRaw(s), status, quint8(k));
}

} // namespace SyntheticScene
