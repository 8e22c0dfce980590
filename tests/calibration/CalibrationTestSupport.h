#ifndef CALIBRATIONTESTSUPPORT_H
#define CALIBRATIONTESTSUPPORT_H

// Shared by the calibration window tests: the table a sweep over the simulated
// scene must produce, readers for DRNU_Lut.c and the simulator's record of
// what it received, and a helper that answers the next message box.

#include "calibration/DrnuSweep.h"
#include "sim/CalibrationScene.h"

#include "tests/support/WindowTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QVector>

#include <cmath>

namespace CalibrationTest {

struct Expected
{
    QVector<qint32> table;
    qint32 drnuOffset = 0;
    qint32 dllStepSize = CalibrationScene::TrueStep;
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

// The numbers in `text`, whatever separates them.
inline QVector<qint32> numbers(QByteArray text)
{
    QVector<qint32> values;
    for (const QByteArray &word : text.replace(',', ' ').simplified().split(' ')) {
        bool ok = false;
        const qint32 value = word.toInt(&ok);
        if (ok)
            values << value;
    }
    return values;
}

// The data table and the information block of a DRNU_Lut.c.
struct LutSource
{
    QVector<qint32> table;
    QVector<qint32> info;
    bool ok = false;
};

inline LutSource readLutSource(const QString &path)
{
    const QByteArray text = WindowTest::readFile(path);
    const QByteArray dataHead("[IMAGE_RESOLUTION] = {"), infoHead("[DRNU_LUT_INFO_NUM] = {");
    const int data = text.indexOf(dataHead), info = text.indexOf(infoHead);
    LutSource source;
    source.ok = data >= 0 && info > data;
    source.table
        = numbers(text.mid(data + dataHead.size(), text.indexOf("};", data) - data - dataHead.size()));
    source.info
        = numbers(text.mid(info + infoHead.size(), text.indexOf("};", info) - info - infoHead.size()));
    return source;
}

// The file kavrix-sim writes with --calib-output: "model", "errors" and
// "info" lines, then "values <count>" and one table value a line.
struct SimRecord
{
    QString model;
    int errors = -1;
    QVector<qint32> info;
    QVector<qint32> table;
};

inline SimRecord readSimRecord(const QString &path)
{
    const QByteArray text = WindowTest::readFile(path);
    const int values = text.indexOf("\nvalues ");
    SimRecord record;
    for (const QByteArray &line : text.left(values).split('\n')) {
        const QByteArray key = line.split(' ').value(0);
        if (key == "model")
            record.model = QString::fromLatin1(line.mid(6));
        else if (key == "errors")
            record.errors = line.mid(7).toInt();
        else if (key == "info")
            record.info = numbers(line.mid(5));
    }
    if (values >= 0)
        record.table = numbers(text.mid(text.indexOf('\n', values + 1)));
    return record;
}

// Thousands of per-frame and per-packet debug lines would bury the test output:
// drops them and passes every other message on. Call once per test program.
inline void silenceSweepDebugLines()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (type == QtDebugMsg
                && (message.startsWith(QLatin1String("DRNU step index"))
                    || message.startsWith(QLatin1String("Packet count"))
                    || message.startsWith(QLatin1String("send drnu data packet"))))
                return;
            previous(type, context, message);
        });
}

using MessageBoxAnswers = WindowTest::MessageBoxAnswers;

} // namespace CalibrationTest

#endif // CALIBRATIONTESTSUPPORT_H
