// DRNU calibration of a "Kavrix M20" (76,800 pixels, 23 DLL steps): the three
// calibration files (1,766,400 lines each for the image and the C source)
// written in large blocks against a QTextStream that flushes every line,
// measured in the same run with the ratio printed at the end; the arithmetic
// that finishes a sweep; closing one step; and building the 1,729 LUT packets.
#include "bench/BenchSupport.h"
#include "calibration/DrnuFiles.h"
#include "calibration/DrnuPackets.h"
#include "calibration/DrnuSweep.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>

namespace {

constexpr int PixelCount = 320 * 240;

// A sweep as it stands after its 23rd step: per-pixel offsets, a 603 mm step
// against the announced 600, a ripple, and the table relative to step 0.
DrnuSweep closedSweep()
{
    DrnuSweep sweep(PixelCount);
    sweep.dllStepSize = 600;
    const int ripple[8] = { 0, 20, 40, 20, 0, -20, -40, -20 };
    for (int s = 0; s < Drnu::StepCount; ++s) {
        for (int p = 0; p < PixelCount; ++p) {
            const int d = 2000 + (p * 37) % 61 - 30 + 603 * s + ripple[s % 8];
            sweep.stepDistances[s * PixelCount + p] = d;
            sweep.lutTable[s * PixelCount + p] = d - sweep.stepDistances[p] - 600 * s;
        }
        sweep.stepTemperatures[s] = 640 + 2 * s;
    }
    sweep.drnuOffset = 2000;
    return sweep;
}

Drnu::FileContent contentOf(const DrnuSweep &sweep)
{
    Drnu::FileContent content;
    content.deviceType = 3;
    content.pixelCount = sweep.pixelCount();
    content.stepDistances = sweep.stepDistances.constData();
    content.lutTable = sweep.lutTable.constData();
    content.stepMeans = sweep.stepMeans.data();
    content.waferID = 5;
    content.chipID = 4242;
    content.avgChipTemperature = 662;
    content.dllStepSize = 603;
    content.drnuOffset = 2000;
    content.boxLength = 320;
    return content;
}

void BM_SaveM20Files_Blocks(benchmark::State &state)
{
    QTemporaryDir folder;
    DrnuSweep sweep = closedSweep();
    sweep.finishSweep();
    const Drnu::FileContent content = contentOf(sweep);
    for (auto _ : state) {
        const Drnu::SaveResult result = Drnu::saveFiles(folder.path(), content);
        if (!result.ok)
            state.SkipWithError("saving failed");
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(folder.filePath("DRNU_Lut.c")).size());
}

// The same three files, every line ended by the stream's endl, which flushes.
void saveFlushPerLine(const QString &folder, const Drnu::FileContent &c)
{
    QFile imageFile(folder + "/DRNU_Image.txt");
    QFile lutFile(folder + "/DRNU_Lut.c");
    QFile averageFile(folder + "/DRNU_LutAverage.txt");
    if (!imageFile.open(QIODevice::WriteOnly) || !lutFile.open(QIODevice::WriteOnly)
        || !averageFile.open(QIODevice::WriteOnly))
        return;
    QTextStream image(&imageFile);
    QTextStream lut(&lutFile);
    QTextStream average(&averageFile);
    lut << "#include \"epc660.h\"  \r\n" << Qt::endl;
    lut << "int16_t DRNU_LUT_DATA[DRNU_DLL_NUM][IMAGE_RESOLUTION] = {  \r\n" << Qt::endl;
    const int n = c.pixelCount;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        for (int p = 0; p < n; ++p) {
            image << c.stepDistances[s * n + p] << " " << Qt::endl;
            if (s == Drnu::StepCount - 1 && p == n - 1)
                lut << c.lutTable[s * n + p] << Qt::endl;
            else
                lut << c.lutTable[s * n + p] << ", " << Qt::endl;
        }
        average << c.stepMeans[s] << " " << Qt::endl;
        image << "\r\n\r\n\r\n" << Qt::endl;
        lut << "\r\n\r\n\r\n" << Qt::endl;
    }
    lut << "}; \r\n" << Qt::endl;
    lut << "int16_t DRNU_LUT_INFO[DRNU_LUT_INFO_NUM] = {" << Qt::endl;
    lut << c.waferID << ", " << Qt::endl;
    lut << c.chipID << ", " << Qt::endl;
    lut << c.avgChipTemperature << ", " << Qt::endl;
    lut << c.dllStepSize << ", " << Qt::endl;
    lut << c.drnuOffset << "," << Qt::endl;
    lut << c.boxLength << "};" << Qt::endl;
}

void BM_SaveM20Files_FlushPerLine(benchmark::State &state)
{
    QTemporaryDir folder;
    DrnuSweep sweep = closedSweep();
    sweep.finishSweep();
    const Drnu::FileContent content = contentOf(sweep);
    for (auto _ : state)
        saveFlushPerLine(folder.path(), content);
    state.SetBytesProcessed(state.iterations() * QFileInfo(folder.filePath("DRNU_Lut.c")).size());
}

// Step means, the slope shift, the recomputed table and its means.
void BM_FinishSweepM20(benchmark::State &state)
{
    DrnuSweep sweep = closedSweep();
    const QVector<qint32> runningTable = sweep.lutTable;
    for (auto _ : state) {
        state.PauseTiming();
        sweep.dllStepSize = 600;
        sweep.lutTable = runningTable;
        sweep.lutTable.detach();
        state.ResumeTiming();
        sweep.finishSweep();
        benchmark::DoNotOptimize(sweep.lutTable.constData());
    }
    if (sweep.dllStepSize != 603)
        state.SkipWithError("unexpected step size");
}

// One step closed: 76,800 means, the average, the wrap test and the table row.
void BM_CloseStepM20(benchmark::State &state)
{
    DrnuSweep sweep = closedSweep();
    const QVector<qint32> sums(PixelCount, 50 * 2500);
    for (auto _ : state) {
        state.PauseTiming();
        sweep.start();
        for (int s = 0; s < 5; ++s)
            sweep.closeStep();
        sweep.frameSums = sums;
        state.ResumeTiming();
        sweep.closeStep();
    }
}

// One step frame added to the per-pixel sums.
void BM_AddStepFrameM20(benchmark::State &state)
{
    DrnuSweep sweep(PixelCount);
    QByteArray pixels(2 * PixelCount, '\x10');
    sweep.start();
    for (auto _ : state) {
        if (sweep.framesInStep() == Drnu::FramesPerStep)
            sweep.start();
        sweep.addStepFrame(pixels.constData(), 640, 0);
    }
    state.SetBytesProcessed(state.iterations() * pixels.size());
}

// All 1,729 epc660 packets of a table with their CRC.
void BM_Epc660PacketsM20(benchmark::State &state)
{
    DrnuSweep sweep = closedSweep();
    sweep.finishSweep();
    Drnu::LutInfo info;
    for (auto _ : state) {
        Drnu::Epc660PacketWriter writer(sweep.lutTable.constData(), sweep.lutTable.size(), info);
        while (!writer.atEnd())
            benchmark::DoNotOptimize(writer.next().constData());
    }
    state.SetBytesProcessed(state.iterations() * 1729 * 2048);
}

BENCHMARK(BM_SaveM20Files_Blocks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveM20Files_FlushPerLine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FinishSweepM20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CloseStepM20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddStepFrameM20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Epc660PacketsM20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarksWithRatios(argc, argv,
        { { "M20 calibration files", "BM_SaveM20Files_FlushPerLine", "BM_SaveM20Files_Blocks" } });
}
