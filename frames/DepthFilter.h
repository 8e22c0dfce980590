#ifndef DEPTHFILTER_H
#define DEPTHFILTER_H

#include <QtGlobal>

// Temporal per-pixel smoothing of depth frames, in place.
// Modes: 0 Disabled, 1 Simple, 2 Normal, 3 Complex.
class DepthFilter
{
public:
    explicit DepthFilter(int pixelCount);

    void setMode(int mode);
    int mode() const { return m_mode; }
    void filterFrame(quint16 *values);

private:
    int m_pixelCount;
    int m_mode = 0;
};

#endif // DEPTHFILTER_H
