#ifndef IMAGECOLORIZER_H
#define IMAGECOLORIZER_H

#include <QColor>
#include <QObject>
#include <QVector>

// Turns 16-bit pixel values into display colours: amplitude colours (kind 1),
// depth colours (kind 2) or gray levels (any other kind).
class ImageColorizer : public QObject
{
    Q_OBJECT

public:
    enum Kind { AmplitudeColors = 1, DepthColors = 2, GrayLevels = 3 };

    ImageColorizer();
    ~ImageColorizer() override;

    void setRange(int minimum, int maximum);
    QColor valueToColor(int value, int kind) const;
};

#endif // IMAGECOLORIZER_H
