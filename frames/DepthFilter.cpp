#include "frames/DepthFilter.h"

DepthFilter::DepthFilter(int pixelCount)
    : m_pixelCount(pixelCount)
{
}

void DepthFilter::setMode(int mode)
{
    m_mode = mode;
}

void DepthFilter::filterFrame(quint16 *) { }
