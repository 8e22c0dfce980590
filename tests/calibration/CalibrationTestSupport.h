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

struct LutSource
{
    QVector<qint32> table;
    QVector<qint32> info;
    bool ok = false;
};

inline QVector<qint32> numbers(const QByteArray &text, bool *ok)
{
    QVector<qint32> values;
    *ok = true;
    for (const QByteArray &piece : text.split(',')) {
        const QByteArray trimmed = piece.simplified();
        if (trimmed.isEmpty())
            continue;
        bool good = false;
        values << trimmed.toInt(&good);
        *ok = *ok && good;
    }
    return values;
}

inline LutSource readLutSource(const QString &path)
{
    LutSource source;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return source;
    const QByteArray text = file.readAll();
    const QByteArray dataHead("int16_t DRNU_LUT_DATA[DRNU_DLL_NUM][IMAGE_RESOLUTION] = {  \r\n\n");
    const QByteArray dataEnd("}; \r\n\n");
    const QByteArray infoHead("int16_t DRNU_LUT_INFO[DRNU_LUT_INFO_NUM] = {\n");
    const int data = text.indexOf(dataHead);
    const int end = text.indexOf(dataEnd, data);
    const int info = text.indexOf(infoHead, end);
    const int infoEnd = text.indexOf("};\n", info);
    if (data < 0 || end < 0 || info < 0 || infoEnd < 0)
        return source;
    bool tableOk = false;
    bool infoOk = false;
    source.table = numbers(text.mid(data + dataHead.size(), end - data - dataHead.size()), &tableOk);
    source.info = numbers(text.mid(info + infoHead.size(), infoEnd - info - infoHead.size()), &infoOk);
    source.ok = tableOk && infoOk;
    return source;
}

// The file kavrix-sim writes with --calib-output.
struct SimRecord
{
    QString model;
    int errors = -1;
    QVector<qint32> info;
    QVector<qint32> table;
};

inline SimRecord readSimRecord(const QString &path)
{
    SimRecord record;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    const QList<QByteArray> lines = file.readAll().split('\n');
    int i = 0;
    for (; i < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        if (words.value(0) == "model") {
            record.model = QString::fromLatin1(words.value(1));
        } else if (words.value(0) == "errors") {
            record.errors = words.value(1).toInt();
        } else if (words.value(0) == "info") {
            for (int w = 1; w < words.size(); ++w)
                record.info << words[w].toInt();
        } else if (words.value(0) == "values") {
            ++i;
            break;
        }
    }
    for (; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            record.table << lines[i].toInt();
    }
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
