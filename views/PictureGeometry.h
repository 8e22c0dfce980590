#ifndef PICTUREGEOMETRY_H
#define PICTUREGEOMETRY_H

#include <QPoint>
#include <QRect>
#include <QSize>

class QPainter;

// Widget-free arithmetic of the picture view: fitting the image into the
// widget, turning widget positions into pixels, mirroring and the legend.
namespace PictureGeometry {

// Legend factor: the fitted area is this many image widths wide.
double legendFactor(int displayMode);
bool hasLegend(int displayMode);

struct Fit
{
    double scale = 1.0;
    int offsetX = 0;
    int offsetY = 0;
};

// Scale and top-left corner of an image of imageSize fitted into widgetSize,
// leaving room for a legend of (legendFactor - 1) image widths.
Fit fit(const QSize &widgetSize, const QSize &imageSize, double legendFactor);

double clampScale(double scale);

// The image pixel under a widget position (may lie outside the image).
QPoint pixelAt(const QPoint &widgetPos, const Fit &fit);

QPoint clampToImage(const QPoint &point, const QSize &imageSize);

// The 2 x 2 marker block for a selected pixel, always inside the image.
QRect markerBlock(const QPoint &point, const QSize &imageSize);

// Row-major index of the sensor pixel shown at displayed position (x, y),
// clamped into the frame.
int sourceIndex(int x, int y, int width, int height, bool flipHorizontal, bool flipVertical);

// The value handed to the inspector: the raw value less twice the distance
// offset (mm to LSB), at least 10.
int readoutValue(quint16 raw, int distanceOffset);

// Draws the colour legend of display mode 2 (depth) or 5 (amplitude) beside an
// image of imageSize, in image pixel coordinates.
void drawLegend(QPainter &painter, int displayMode, const QSize &imageSize);

} // namespace PictureGeometry

#endif // PICTUREGEOMETRY_H
