#ifndef IMAGECOLORIZER_H
#define IMAGECOLORIZER_H

#include <QColor>
#include <QObject>
#include <QVector>

// Turns 16-bit pixel values into display colours: amplitude colours (kind 1),
// depth colours (kind 2) or gray levels (any other kind). A 6000-entry
// blue-to-red palette spans the value range set with setRange(); the camera's
// special codes 65300, 65400 and 65500 have fixed colours.
class ImageColorizer : public QObject
{
    Q_OBJECT

public:
    enum Kind { AmplitudeColors = 1, DepthColors = 2, GrayLevels = 3 };
    enum { PaletteSize = 6000 };

    ImageColorizer();
    ~ImageColorizer() override;

    void setRange(int minimum, int maximum);
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }

    QColor valueToColor(int value, int kind) const;
    QColor paletteColor(int index) const { return m_palette.at(index); }

private:
    QVector<QColor> m_palette;
    // A fresh object behaves like an empty range until setRange() is called.
    int m_minimum = 0;
    int m_maximum = 0;
    double m_colorScale = PaletteSize;
    double m_grayScale = 255.0;
};

#endif // IMAGECOLORIZER_H
