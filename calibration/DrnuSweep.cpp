#include "calibration/DrnuSweep.h"

#include <QtEndian>

#include <cmath>

int Drnu::roundHalfUp(double x)
{
    return int(std::floor(x + 0.5));
}

DrnuSweep::DrnuSweep(int pixelCount)
    : stepDistances(Drnu::StepCount * qMax(pixelCount, 0), 0)
    , lutTable(Drnu::StepCount * qMax(pixelCount, 0), 0)
    , m_pixelCount(qMax(pixelCount, 0))
{
}

void DrnuSweep::start()
{
    m_expectedStep = 0;
    m_framesInStep = 0;
    temperatureSum = 0;
    frameSums.fill(0, m_pixelCount);
    m_running = true;
}

void DrnuSweep::abort()
{
    m_running = false;
    m_expectedStep = 0;
    m_framesInStep = 0;
    temperatureSum = 0;
    frameSums.clear();
}

bool DrnuSweep::setParameters(int dllRange, int dllSteps)
{
    if (dllSteps == 0)
        return false;
    dllStepSize = dllRange / dllSteps;
    return true;
}

DrnuSweep::FrameResult DrnuSweep::addStepFrame(
    const char *pixels, int temperature, int step, QStringList *log)
{
    if (!m_running)
        return FrameResult::Ignored;

    if (step == m_expectedStep && m_expectedStep < Drnu::StepCount) {
        if (m_framesInStep >= Drnu::FramesPerStep) {
            closeStep();
            return FrameResult::StepClosed;
        }
        if (m_framesInStep == 0) {
            frameSums.fill(0, m_pixelCount);
            temperatureSum = 0;
        }
        if (log) {
            log->append(QStringLiteral("DRNU step index: %1, Chip temperature: %2 C")
                            .arg(step)
                            .arg(QString::number(temperature * 0.0625)));
        }
        temperatureSum += temperature;
        qint32 *sums = frameSums.data();
        const uchar *bytes = reinterpret_cast<const uchar *>(pixels);
        for (int p = 0; p < m_pixelCount; ++p)
            sums[p] += qFromLittleEndian<quint16>(bytes + 2 * p);
        ++m_framesInStep;
        return FrameResult::Accumulated;
    }

    if (m_expectedStep == Drnu::StepCount)
        return FrameResult::SweepComplete;
    return FrameResult::Ignored;
}

void DrnuSweep::closeStep()
{
    const int s = m_expectedStep;
    if (s < 0 || s >= Drnu::StepCount || m_pixelCount == 0)
        return;
    if (frameSums.size() != m_pixelCount)
        frameSums.fill(0, m_pixelCount);

    m_framesInStep = 0;
    temperatureSum = Drnu::roundHalfUp(temperatureSum / double(Drnu::FramesPerStep));

    qint32 *distances = stepDistances.data() + s * m_pixelCount;
    const qint32 *sums = frameSums.constData();
    // 64 bits: invalid-pixel codes near 65535 on a 76800-pixel sensor overflow 32.
    qint64 total = 0;
    for (int p = 0; p < m_pixelCount; ++p) {
        distances[p] = sums[p] / Drnu::FramesPerStep;
        total += distances[p];
    }
    stepAverages[s] = qint32(total / m_pixelCount);
    if (s == 0)
        drnuOffset = stepAverages[0];
    stepTemperatures[s] = temperatureSum;

    // The averages compared are those before any lift, so only the first step
    // after a drop is lifted.
    const bool wrapped = s > 0 && stepAverages[s] < stepAverages[s - 1];
    const qint32 *first = stepDistances.constData();
    qint32 *lut = lutTable.data() + s * m_pixelCount;
    const qint32 ramp = dllStepSize * s;
    for (int p = 0; p < m_pixelCount; ++p) {
        if (wrapped)
            distances[p] += Drnu::WrapDistance;
        lut[p] = distances[p] - first[p] - ramp;
    }

    frameSums.fill(0);
    ++m_expectedStep;
}

void DrnuSweep::finishSweep(QStringList *log)
{
    m_expectedStep = 0;
    m_running = false;

    residualMean = 0;
    qint64 temperatureTotal = 0;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        temperatureTotal += stepTemperatures[s];
        qint64 sum = 0;
        const qint32 *lut = lutTable.constData() + s * m_pixelCount;
        for (int p = 0; p < m_pixelCount; ++p)
            sum += lut[p];
        stepMeans[s] = m_pixelCount ? Drnu::roundHalfUp(double(sum) / m_pixelCount) : 0;
    }

    dllStepSize += calcDRNUShift(log);
    renewDRNU(dllStepSize * 10);

    avgChipTemperature = qint32(temperatureTotal / Drnu::StepCount);
    if (log) {
        log->append(QStringLiteral("Average chip temperature during calibration: %1 C")
                        .arg(QString::number(avgChipTemperature * 0.0625)));
    }
    frameSums.clear();
    temperatureSum = 0;
    m_hasResult = true;
    if (log)
        log->append(QStringLiteral("DRNU calibration finished"));
}

int DrnuSweep::calcDRNUShift(QStringList *log) const
{
    return calcDRNUShift(stepMeans, log);
}

int DrnuSweep::calcDRNUShift(const std::array<qint32, Drnu::StepCount> &m, QStringList *log)
{
    struct Extremum
    {
        int step;
        qint32 value;
    };
    std::array<Extremum, Drnu::MaxExtrema> maxima {};
    std::array<Extremum, Drnu::MaxExtrema> minima {};
    int maxCount = 0;
    int minCount = 0;

    for (int i = 1; i < Drnu::StepCount - 1; ++i) {
        if (m[i - 1] <= m[i] && m[i] > m[i + 1]) {
            if (maxCount < Drnu::MaxExtrema)
                maxima[maxCount++] = { i, m[i] };
        } else if (m[i - 1] >= m[i] && m[i] < m[i + 1]) {
            if (minCount < Drnu::MaxExtrema)
                minima[minCount++] = { i, m[i] };
        }
    }

    auto slopeSum = [](const std::array<Extremum, Drnu::MaxExtrema> &list, int count) {
        float sum = 0.0f;
        for (int k = 1; k < count; ++k)
            sum += float(list[k].value - list[k - 1].value) / float(list[k].step - list[k - 1].step);
        return sum;
    };
    const float up = slopeSum(maxima, maxCount);
    const float down = slopeSum(minima, minCount);

    if (log) {
        auto steps = [](const std::array<Extremum, Drnu::MaxExtrema> &list, int count) {
            QStringList parts;
            for (int k = 0; k < 3; ++k)
                parts << QString::number(k < count ? list[k].step : 0);
            return parts.join(QLatin1Char(' '));
        };
        // A zero divisor (one maximum, one minimum, two extrema in all) shows 0.
        auto ratio = [](int numerator, int divisor) { return divisor == 0 ? 0 : numerator / divisor; };
        log->append(QStringLiteral("Max: ") + steps(maxima, maxCount));
        log->append(QStringLiteral("Min: ") + steps(minima, minCount));
        log->append(QStringLiteral("Up: ") + QString::number(ratio(int(up), maxCount - 1)));
        log->append(QStringLiteral("Down: ") + QString::number(ratio(int(down), minCount - 1)));
        log->append(QStringLiteral("Shift: ")
            + QString::number(ratio(int((up + down) * 10), maxCount + minCount - 2)));
    }

    if (maxCount + minCount > 2)
        return int(up + down) / (maxCount + minCount - 2);
    return 0;
}

void DrnuSweep::renewDRNU(int renewValue)
{
    const double slope = renewValue / 10.0;
    dllStepSize = qint32(slope);

    residualMean = 0;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        const qint32 *distances = stepDistances.constData() + s * m_pixelCount;
        qint32 *lut = lutTable.data() + s * m_pixelCount;
        const double ramp = s * slope;
        qint64 sum = 0;
        for (int p = 0; p < m_pixelCount; ++p) {
            lut[p] = Drnu::roundHalfUp(double(distances[p] - drnuOffset) - ramp);
            sum += lut[p];
        }
        stepMeans[s] = m_pixelCount ? Drnu::roundHalfUp(double(sum) / m_pixelCount) : 0;
        residualMean += stepMeans[s];
    }
    residualMean /= Drnu::StepCount;
}

int DrnuSweep::outOfRangeCount() const
{
    int count = 0;
    for (qint32 value : lutTable) {
        if (value < -10000 || value > 32767)
            ++count;
    }
    return count;
}
