#ifndef CALIBRATIONTESTSUPPORT_H
#define CALIBRATIONTESTSUPPORT_H

// The table a sweep over the simulated scene must produce, a reader for
// DRNU_Lut.c and what kavrix-sim --calib-output records.
#include "calibration/DrnuSweep.h"
#include "sim/CalibrationScene.h"

#include "tests/support/WindowTestSupport.h"

#include <QLoggingCategory>
#include <QVector>

#include <cmath>

namespace CalibrationTest {

struct Expected
{
    QVector<qint32> table;
    qint32 drnuOffset = 0;
    qint32 avgChipTemperature = 0;
    qint32 residualMean = 0;
};

// The scene's noise cancels over 50 frames and its one wrap (the last step)
// is lifted, so the table is the true distance less the ideal ramp.
inline Expected expectedResult(int pixelCount)
{
    Expected e;
    qint64 sum = 0;
    for (int p = 0; p < pixelCount; ++p)
        sum += CalibrationScene::trueDistance(0, p);
    e.drnuOffset = qint32(sum / pixelCount);
    e.table.resize(Drnu::StepCount * pixelCount);
    qint64 temperatures = 0;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        qint64 stepSum = 0;
        for (int p = 0; p < pixelCount; ++p) {
            const qint32 v
                = CalibrationScene::trueDistance(s, p) - e.drnuOffset - CalibrationScene::TrueStep * s;
            e.table[s * pixelCount + p] = v;
            stepSum += v;
        }
        e.residualMean += qint32(std::floor(double(stepSum) / pixelCount + 0.5));
        temperatures += 640 + 2 * s;
    }
    e.residualMean /= Drnu::StepCount;
    e.avgChipTemperature = qint32(temperatures / Drnu::StepCount);
    return e;
}

// The numbers in `text` between `head` and the next "};".
inline QVector<qint32> numbers(const QByteArray &text, const QByteArray &head)
{
    const int from = text.indexOf(head) + head.size();
    QVector<qint32> values;
    for (const QByteArray &word : text.mid(from, text.indexOf("};", from) - from).split(',')) {
        bool ok = false;
        values << word.trimmed().toInt(&ok);
        if (!ok)
            return {};
    }
    return values;
}

// What kavrix-sim --calib-output writes for a table it received without errors.
inline QByteArray simRecord(const QString &model, const QVector<qint32> &info, const QVector<qint32> &table)
{
    QByteArray text = "model " + model.toLatin1() + "\nerrors 0\ninfo";
    for (qint32 value : info)
        text += ' ' + QByteArray::number(value);
    text += "\nvalues " + QByteArray::number(table.size()) + '\n';
    for (qint32 value : table)
        text += QByteArray::number(value) + '\n';
    return text;
}

// Thousands of per-frame and per-packet debug lines would bury the test output.
inline void silenceSweepDebugLines()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

} // namespace CalibrationTest

#endif // CALIBRATIONTESTSUPPORT_H
