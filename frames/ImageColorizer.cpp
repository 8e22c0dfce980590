#include "frames/ImageColorizer.h"

#include <QDebug>

namespace {

const QColor black(0, 0, 0);
const QColor white(255, 255, 255);
const QColor code65400(255, 0, 128);
const QColor code65500(169, 14, 255);

} // namespace

ImageColorizer::ImageColorizer()
{
    m_palette.reserve(PaletteSize);
    for (int i = 0; i < PaletteSize; ++i) {
        const double x = i / double(PaletteSize) - 0.25;
        int r = 0;
        int g = 0;
        int b = 0;
        if (x < -0.125) {
            b = int((x + 0.375) * 1020);
        } else if (x < 0.125) {
            g = int((x + 0.125) * 1020);
            b = 255;
        } else if (x < 0.375) {
            r = int((x - 0.125) * 1020);
            g = 255;
            b = int(255 - (x - 0.125) * 1020);
        } else if (x < 0.625) {
            r = 255;
            g = int(255 - (x - 0.375) * 680);
        } else {
            r = int(255 - (x - 0.625) * 510);
            g = int(255 - (x - 0.375) * 680);
        }
        m_palette.append(QColor(r, g, b));
    }
}

ImageColorizer::~ImageColorizer()
{
    qDebug() << "***ImageColorizer destroyed";
}

void ImageColorizer::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    const double span = double(maximum) - double(minimum);
    m_colorScale = span < 1 ? double(PaletteSize) : PaletteSize / span;
    m_grayScale = span < 1 ? 255.0 : 255.0 / span;
}

QColor ImageColorizer::valueToColor(int value, int kind) const
{
    if (kind == AmplitudeColors || kind == DepthColors) {
        if (value == 65400)
            return code65400;
        if (value == 65500)
            return code65500;
        if (value == 65300)
            return black;
        if (value == 0)
            return m_palette.at(0);

        // The range test compares with the maximum itself, not the span.
        const int d = value - m_minimum;
        if (d < 0 || d > m_maximum)
            return black;

        if (kind == AmplitudeColors) {
            const int k = int(d * m_colorScale - 1.0);
            return k >= 1 ? m_palette.at(qMin(k, PaletteSize - 1)) : m_palette.at(0);
        }
        // Depth runs the palette backwards: near is red, far is blue.
        const int k = int(PaletteSize - d * m_colorScale);
        if (k <= 0)
            return m_palette.at(0);
        if (k >= PaletteSize)
            return m_palette.at(PaletteSize - 1);
        return m_palette.at(k);
    }

    if (value == 65400)
        return code65400;
    if (value == 65500)
        return code65500;
    if (value > m_maximum)
        return white;
    if (value < m_minimum)
        return black;
    // With a minimum above 0 the product can leave 0..255; keep the colour valid.
    const int g = qBound(0, int(value * m_grayScale), 255);
    return QColor(g, g, g);
}
