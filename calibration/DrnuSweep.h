#ifndef DRNUSWEEP_H
#define DRNUSWEEP_H

#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <array>

namespace Drnu {
// DLL steps of a sweep; DRNU_DLL_NUM on the firmware side.
constexpr int StepCount = 23;
// Frames averaged per step; the next frame of the same step closes it.
constexpr int FramesPerStep = 50;
// The camera's distances wrap at this many millimetres.
constexpr int WrapDistance = 15000;
// Interior extrema kept per kind by calcDRNUShift().
constexpr int MaxExtrema = 10;

// floor(x + 0.5): halves go up, also for negative values.
int roundHalfUp(double x);
} // namespace Drnu

// The arithmetic of one DRNU calibration: summing the step frames of the DLL
// sweep, closing each step (with the lift of a wrapped step), and turning the
// per-step distances into the correction table. No I/O: the calibration window
// feeds it frames and acts on what it returns.
//
// Every table starts zeroed, and start() begins a sweep from step 0 with
// cleared sums, so a half-finished earlier sweep can never leak into a table.
class DrnuSweep
{
public:
    enum class FrameResult {
        Ignored, // no sweep running, or a late frame of a closed step
        Accumulated, // summed into the current step
        StepClosed, // the current step was closed; send "next DLL step"
        SweepComplete, // all steps closed: send "stop streaming", then finishSweep()
    };

    explicit DrnuSweep(int pixelCount);

    int pixelCount() const { return m_pixelCount; }

    // Begins a new sweep at step 0 with cleared sums.
    void start();
    // Drops a sweep in progress (camera gone, window closing).
    void abort();
    bool isRunning() const { return m_running; }
    // True once a sweep has run to its end; the table is then a measured one.
    bool hasResult() const { return m_hasResult; }
    int expectedStep() const { return m_expectedStep; }
    int framesInStep() const { return m_framesInStep; }
    // Progress of the sweep in percent, as the progress bar shows it.
    int progress() const { return m_expectedStep * 100 / Drnu::StepCount; }

    // A parameters frame: the camera's DLL range (mm) and its step count. A
    // count of 0 gives no step size; the previous one is kept (returns false).
    bool setParameters(int dllRange, int dllSteps);

    // A step frame: `pixels` holds pixelCount() little-endian 16-bit distances,
    // `temperature` is in 1/16 degree. Log lines go to `log` when given.
    FrameResult addStepFrame(const char *pixels, int temperature, int step, QStringList *log = nullptr);

    // Closes the current step; addStepFrame() runs it, tests may call it directly.
    void closeStep();
    // Turns the closed steps into the final table (after SweepComplete).
    void finishSweep(QStringList *log = nullptr);

    // The slope shift (mm per step) that the mean correction curve still shows.
    int calcDRNUShift(QStringList *log = nullptr) const;
    static int calcDRNUShift(
        const std::array<qint32, Drnu::StepCount> &stepMeans, QStringList *log = nullptr);

    // Recomputes the table against the ideal ramp drnuOffset + s * renewValue / 10.
    void renewDRNU(int renewValue);

    // Values outside what the camera's 16-bit table can hold (-10000 to 32767 mm).
    int outOfRangeCount() const;

    qint32 drnuOffset = 0; // mm, mean step-0 distance
    qint32 dllStepSize = 0; // mm per DLL step
    qint32 avgChipTemperature = 0; // 1/16 degree
    qint32 residualMean = 0; // mm
    std::array<qint32, Drnu::StepCount> stepMeans {};
    std::array<qint32, Drnu::StepCount> stepTemperatures {};
    std::array<qint32, Drnu::StepCount> stepAverages {};
    // Row-major by step: index step * pixelCount() + pixel.
    QVector<qint32> stepDistances;
    QVector<qint32> lutTable;

    // Sums of the step being collected; public so tests can prime a step.
    QVector<qint32> frameSums;
    qint32 temperatureSum = 0;

private:
    int m_pixelCount;
    int m_expectedStep = 0;
    int m_framesInStep = 0;
    bool m_running = false;
    bool m_hasResult = false;
};

#endif // DRNUSWEEP_H
