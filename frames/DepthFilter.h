#ifndef DEPTHFILTER_H
#define DEPTHFILTER_H

#include <QtGlobal>
#include <vector>

// Temporal per-pixel smoothing of depth frames, in place.
// Modes: 0 Disabled, 1 Simple (exponential smoothing), 2 Normal (scalar
// Kalman filter with a variance-based innovation gate), 3 Complex (smoothing
// whose gain shrinks with the frame-to-frame change). Values of 30000 and
// above are no distances: they pass unchanged and feed no per-pixel state.
//
// All state is allocated at construction and starts at zero, with every
// pixel unseen; filterFrame() allocates nothing.
class DepthFilter
{
public:
    enum Mode { Disabled = 0, Simple = 1, Normal = 2, Complex = 3 };

    explicit DepthFilter(int pixelCount);

    // Selects the algorithm and restarts the Normal statistics of every pixel;
    // estimates, last samples and seen flags are kept.
    void setMode(int mode);
    int mode() const { return m_mode; }
    int pixelCount() const { return m_pixelCount; }

    void filterFrame(quint16 *values);

    // Per-pixel state, for diagnostics.
    double estimate(int pixel) const { return m_estimate[size_t(pixel)]; }
    int sampleCount(int pixel) const { return m_count[size_t(pixel)]; }

private:
    double smooth(double z, size_t i, double gain);
    double runningVariance(double z, int n, size_t i);
    double kalmanStep(double z, size_t i, double q, double r);

    static constexpr double SimpleGain = 0.1;
    static constexpr double ComplexGainNumerator = 0.1;
    static constexpr double ComplexMaximumGain = 0.1;
    static constexpr double ProcessNoise = 2.0;
    static constexpr double JumpThreshold = 500.0;
    static constexpr double EarlyGate = 500.0;
    static constexpr double GateFactor = 6.0;
    static constexpr int GateSamples = 10;
    static constexpr quint16 InvalidLimit = 30000;

    int m_pixelCount;
    int m_mode = Disabled;
    std::vector<double> m_estimate;
    std::vector<double> m_errorVariance;
    std::vector<double> m_lastSample;
    std::vector<double> m_measurementVariance;
    std::vector<double> m_sum;
    std::vector<double> m_sumSquares;
    std::vector<qint32> m_count;
    std::vector<double> m_previousRaw;
    std::vector<quint16> m_seen;
};

#endif // DEPTHFILTER_H
