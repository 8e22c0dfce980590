#include "frames/FrameColorizer.h"

#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"

namespace {

int tableIndex(int frameMode)
{
    switch (frameMode) {
    case FrameColorizer::Amplitude:
        return 0;
    case FrameColorizer::Grayscale:
        return 2;
    default:
        return 1;
    }
}

inline void putPixel(uchar *p, quint32 rgb)
{
    p[0] = uchar(rgb >> 16);
    p[1] = uchar(rgb >> 8);
    p[2] = uchar(rgb);
}

void ensureImage(QImage *image, int width, int height)
{
    if (image->format() != QImage::Format_RGB888 || image->width() != width || image->height() != height)
        *image = QImage(width, height, QImage::Format_RGB888);
}

} // namespace

FrameColorizer::FrameColorizer(ImageColorizer *colorMap)
    : m_colorMap(colorMap)
{
}

int FrameColorizer::rangeMaximum(int frameMode)
{
    switch (frameMode) {
    case Amplitude:
        return 2800;
    case Grayscale:
        return 255;
    default:
        return 9000;
    }
}

int FrameColorizer::colorKind(int frameMode)
{
    switch (frameMode) {
    case Amplitude:
        return ImageColorizer::AmplitudeColors;
    case Grayscale:
        return ImageColorizer::GrayLevels;
    default:
        return ImageColorizer::DepthColors;
    }
}

int FrameColorizer::colorInput(int frameMode, quint16 v)
{
    // Arithmetic shift of a signed value: values below 2048 give negative inputs.
    return frameMode == Grayscale ? (int(v) - 2048) >> 3 : int(v);
}

const quint32 *FrameColorizer::table(int frameMode)
{
    QVector<quint32> &t = m_tables[tableIndex(frameMode)];
    if (t.isEmpty()) {
        m_colorMap->setRange(0, rangeMaximum(frameMode));
        const int kind = colorKind(frameMode);
        t.resize(65536);
        for (int v = 0; v < 65536; ++v)
            t[v] = m_colorMap->valueToColor(colorInput(frameMode, quint16(v)), kind).rgb();
    }
    return t.constData();
}

QRgb FrameColorizer::color(int frameMode, quint16 v)
{
    return table(frameMode)[v];
}

void FrameColorizer::prepareAll()
{
    table(Amplitude);
    table(Depth);
    table(Grayscale);
}

void FrameColorizer::decode(
    const char *frame, int width, int height, int frameMode, quint16 *values, QImage *image)
{
    ensureImage(image, width, height);
    const quint32 *lut = table(frameMode);
    const uchar *src = reinterpret_cast<const uchar *>(frame);
    for (int y = 0; y < height; ++y) {
        uchar *line = image->scanLine(y);
        quint16 *out = values + y * width;
        for (int x = 0; x < width; ++x) {
            const quint16 v = quint16(src[0] | (src[1] << 8));
            src += 2;
            out[x] = v;
            putPixel(line + 3 * x, lut[v]);
        }
    }
}

void FrameColorizer::paint(const quint16 *values, int width, int height, int frameMode, QImage *image)
{
    ensureImage(image, width, height);
    const quint32 *lut = table(frameMode);
    for (int y = 0; y < height; ++y) {
        uchar *line = image->scanLine(y);
        const quint16 *in = values + y * width;
        for (int x = 0; x < width; ++x)
            putPixel(line + 3 * x, lut[in[x]]);
    }
}
