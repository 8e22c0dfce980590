#include "views/PictureGeometry.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QtMath>

namespace PictureGeometry {

bool hasLegend(int displayMode)
{
    return displayMode == 2 || displayMode == 5;
}

double legendFactor(int displayMode)
{
    return hasLegend(displayMode) ? 1.1 : 1.0;
}

double clampScale(double scale)
{
    if (scale > 100.0)
        return 100.0;
    if (!(scale > 0.01)) // also catches NaN
        return 0.01;
    return scale;
}

Fit fit(const QSize &widgetSize, const QSize &imageSize, double legendFactor)
{
    Fit f;
    if (imageSize.isEmpty())
        return f;
    const double fittedWidth = legendFactor * imageSize.width();
    const double s = qMin(double(widgetSize.height()) / imageSize.height(), widgetSize.width() / fittedWidth);
    f.scale = clampScale(s);
    f.offsetX = static_cast<int>((widgetSize.width() - fittedWidth * f.scale) * 0.5);
    f.offsetY = static_cast<int>((widgetSize.height() - imageSize.height() * f.scale) * 0.5);
    return f;
}

QPoint pixelAt(const QPoint &widgetPos, const Fit &fit)
{
    // Bounded before rounding: far outside the image is as good as anywhere
    // outside, and qRound must not overflow.
    const double limit = 1e6;
    const double scale = clampScale(fit.scale);
    return QPoint(qRound(qBound(-limit, (widgetPos.x() - fit.offsetX) / scale, limit)),
        qRound(qBound(-limit, (widgetPos.y() - fit.offsetY) / scale, limit)));
}

QPoint clampToImage(const QPoint &point, const QSize &imageSize)
{
    return QPoint(qBound(0, point.x(), qMax(0, imageSize.width() - 1)),
        qBound(0, point.y(), qMax(0, imageSize.height() - 1)));
}

QRect markerBlock(const QPoint &point, const QSize &imageSize)
{
    // The block covers the pixel and its upper-left neighbours; at column or
    // row 0 it moves right or down by one so that it still lies in the image.
    const QPoint p = clampToImage(point, imageSize);
    const int x1 = p.x() > 0 ? p.x() : 1;
    const int y1 = p.y() > 0 ? p.y() : 1;
    return QRect(x1 - 1, y1 - 1, 2, 2) & QRect(QPoint(0, 0), imageSize);
}

int sourceIndex(int x, int y, int width, int height, bool flipHorizontal, bool flipVertical)
{
    if (width <= 0 || height <= 0)
        return -1;
    x = qBound(0, x, width - 1);
    y = qBound(0, y, height - 1);
    if (flipHorizontal)
        x = width - 1 - x;
    if (flipVertical)
        y = height - 1 - y;
    return y * width + x;
}

int readoutValue(quint16 raw, int distanceOffset)
{
    const int difference = int(raw) - 2 * distanceOffset;
    return difference < 10 ? 10 : difference;
}

namespace {

struct Label
{
    const char *text;
    int y;
};

const Label depthLabels[] = { { "OFL", 2 }, { "SAT", 5 }, { "5.0m", 9 }, { "3.0m", 18 }, { "2.5m", 30 },
    { "2.0m", 40 }, { "0.5m", 55 } };
const Label amplitudeLabels[]
    = { { "OFL", 2 }, { "SAT", 5 }, { "2500", 9 }, { "1500", 16 }, { "1000", 36 }, { "100", 58 } };

// The legend is laid out for the 160 x 60 sensor; other image sizes get the
// same layout stretched to their width and height, so it stays beside the
// image and its labels keep their places along the bar.
const double baseWidth = 160.0;
const int baseHeight = 60;

} // namespace

void drawLegend(QPainter &painter, int displayMode, const QSize &imageSize)
{
    if (!hasLegend(displayMode) || imageSize.isEmpty())
        return;
    const double fx = imageSize.width() / baseWidth;
    const double fy = double(imageSize.height()) / baseHeight;

    painter.save();
    painter.scale(fx, fy);
    if (displayMode == 2) {
        const float L = baseHeight - 4;
        for (int i = 0; i <= L; ++i)
            painter.fillRect(QRectF(161, L - i, 6, 1), QColor::fromHsvF(0.7 * i / L, 1.0, 1.0, 1.0));
    } else {
        const double H = baseHeight;
        for (int i = 0; i <= baseHeight; ++i)
            painter.fillRect(QRectF(161, H - i, 6, 1), QColor::fromHsvF((1.0 - i / H) * 0.7, 1.0, 1.0, 1.0));
    }
    painter.fillRect(QRectF(161, 0, 6, 2), QColor(255, 0, 128));
    painter.fillRect(QRectF(161, 2, 6, 2), QColor(169, 14, 255));
    painter.restore();

    // Text is drawn unstretched, sized by the smaller stretch so that
    // neighbouring labels never run into each other.
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(2.0 * qMin(fx, fy));
    painter.save();
    painter.setFont(font);
    const auto drawLabels = [&](const auto &labels) {
        for (const Label &label : labels)
            painter.drawText(QPointF(168 * fx, label.y * fy), QString::fromLatin1(label.text));
    };
    if (displayMode == 2)
        drawLabels(depthLabels);
    else
        drawLabels(amplitudeLabels);
    painter.restore();
}

} // namespace PictureGeometry
