#include "frames/ImageColorizer.h"

ImageColorizer::ImageColorizer() = default;
ImageColorizer::~ImageColorizer() = default;

void ImageColorizer::setRange(int, int) { }

QColor ImageColorizer::valueToColor(int, int) const
{
    return QColor(0, 0, 0);
}
