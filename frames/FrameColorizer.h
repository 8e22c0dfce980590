#ifndef FRAMECOLORIZER_H
#define FRAMECOLORIZER_H

#include <QImage>
#include <QVector>
#include <QtGlobal>

class ImageColorizer;

// Decodes and colours whole frames through per-value lookup tables. Each table
// holds, for all 65536 raw values, the colour ImageColorizer::valueToColor()
// gives for the frame mode:
//   0 amplitude:   range 0..2800, amplitude colours, value v
//   1 depth:       range 0..9000, depth colours, value v
//   2 grayscale:   range 0..255,  gray levels, value (v - 2048) >> 3 (signed)
//   3 point cloud: coloured like depth, so a logged image of such a frame
//                  shows the depth picture it was made from.
// A table is built from the colour map the first time its mode is used.
class FrameColorizer
{
public:
    enum Mode { Amplitude = 0, Depth = 1, Grayscale = 2, PointCloud = 3 };

    // The colour map is only used while building tables; it is left with the
    // range of the last table built.
    explicit FrameColorizer(ImageColorizer *colorMap);

    static int rangeMaximum(int frameMode);
    static int colorKind(int frameMode);
    // The value handed to the colour map for raw value v.
    static int colorInput(int frameMode, quint16 v);

    // 0xffRRGGBB for raw value v in the given frame mode.
    QRgb color(int frameMode, quint16 v);

    // Reads pixelCount = width x height values from the frame bytes, stores
    // them in values and colours image (made Format_RGB888, width x height,
    // if it is not already).
    void decode(const char *frame, int width, int height, int frameMode, quint16 *values, QImage *image);
    // Colours already decoded values.
    void paint(const quint16 *values, int width, int height, int frameMode, QImage *image);

    // Builds every table now instead of at first use.
    void prepareAll();

private:
    const quint32 *table(int frameMode);

    ImageColorizer *m_colorMap;
    QVector<quint32> m_tables[3];
};

#endif // FRAMECOLORIZER_H
