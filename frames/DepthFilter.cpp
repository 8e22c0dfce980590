#include "frames/DepthFilter.h"

#include <cmath>

DepthFilter::DepthFilter(int pixelCount)
    : m_pixelCount(qMax(0, pixelCount))
    , m_estimate(size_t(m_pixelCount), 0.0)
    , m_errorVariance(size_t(m_pixelCount), 0.0)
    , m_lastSample(size_t(m_pixelCount), 0.0)
    , m_measurementVariance(size_t(m_pixelCount), 0.0)
    , m_sum(size_t(m_pixelCount), 0.0)
    , m_sumSquares(size_t(m_pixelCount), 0.0)
    , m_count(size_t(m_pixelCount), 0)
    , m_previousRaw(size_t(m_pixelCount), 0.0)
    , m_seen(size_t(m_pixelCount), 0)
{
}

void DepthFilter::setMode(int mode)
{
    m_mode = mode;
    std::fill(m_count.begin(), m_count.end(), 0);
}

double DepthFilter::smooth(double z, size_t i, double gain)
{
    double e = (1.0 - gain) * m_estimate[i] + gain * z;
    // A jump restarts the pixel at the sample instead of dragging the estimate.
    if (std::abs(z - m_lastSample[i]) > JumpThreshold)
        e = z;
    m_estimate[i] = e;
    m_lastSample[i] = z;
    return e;
}

double DepthFilter::runningVariance(double z, int n, size_t i)
{
    if (n == 0) {
        m_sum[i] = 0.0;
        m_sumSquares[i] = 0.0;
        return 0.0;
    }
    m_sum[i] += z;
    m_sumSquares[i] += z * z;
    if (n == 1)
        return 0.0;
    return (m_sumSquares[i] - m_sum[i] * m_sum[i] / n) / (n - 1);
}

double DepthFilter::kalmanStep(double z, size_t i, double q, double r)
{
    const double predicted = m_errorVariance[i] + q;
    const double k = predicted / (predicted + r);
    const double updated = predicted * (1.0 - k);
    const double gate = m_count[i] > GateSamples ? GateFactor * std::sqrt(r) : EarlyGate;
    const double d = z - m_estimate[i];
    m_errorVariance[i] = updated;
    if (std::abs(d) < gate) {
        m_estimate[i] += k * d;
        m_lastSample[i] = m_estimate[i];
        return m_estimate[i];
    }
    // Outside the gate: restart the pixel's statistics at this sample.
    m_estimate[i] = z;
    m_lastSample[i] = z;
    m_measurementVariance[i] = 0.0;
    m_count[i] = -1;
    return z;
}

void DepthFilter::filterFrame(quint16 *values)
{
    if (!values)
        return;
    const size_t n = size_t(m_pixelCount);
    switch (m_mode) {
    case Simple:
        for (size_t i = 0; i < n; ++i) {
            const quint16 v = values[i];
            if (v >= InvalidLimit)
                continue;
            values[i] = quint16(smooth(v, i, SimpleGain));
        }
        break;
    case Normal:
        for (size_t i = 0; i < n; ++i) {
            const quint16 v = values[i];
            if (v >= InvalidLimit)
                continue;
            const double r = runningVariance(v, m_count[i], i);
            m_measurementVariance[i] = r;
            const double e = kalmanStep(v, i, ProcessNoise, r);
            values[i] = quint16(qRound(e));
            ++m_count[i];
        }
        break;
    case Complex:
        for (size_t i = 0; i < n; ++i) {
            const quint16 v = values[i];
            if (v >= InvalidLimit)
                continue;
            double gain = 1.0;
            if (m_seen[i] == 2) {
                const double d = std::abs(m_previousRaw[i] - v);
                gain = d != 0.0 ? ComplexGainNumerator / d : ComplexGainNumerator;
                if (gain >= ComplexMaximumGain)
                    gain = ComplexMaximumGain;
            }
            m_previousRaw[i] = v;
            values[i] = quint16(qRound(smooth(v, i, gain)));
            m_seen[i] = 2;
        }
        break;
    default:
        break;
    }
}
