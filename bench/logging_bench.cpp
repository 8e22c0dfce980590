// Logging one "Kavrix M20" depth frame (76,800 raw lines, 76,800 point lines
// and the PNG): the frame logger against writing and flushing every line
// through its own QTextStream call, measured in the same run. The ratio of the
// two is printed at the end.
#include "app/FrameLogger.h"
#include "bench/BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
const LensParameters Lens { 160.3, 119.8, 221.5, 222.1, 1000.0 };

QVector<quint16> depthFrame()
{
    // A tilted wall 0.5 to 3.5 m away with scattered invalid pixels.
    QVector<quint16> values(Width * Height);
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x)
            values[y * Width + x] = (x * 31 + y * 7) % 97 == 0 ? 30000 : quint16(1000 + 18 * x + 5 * y);
    }
    return values;
}

QImage displayedImage()
{
    QImage image(Width, Height, QImage::Format_RGB888);
    for (int y = 0; y < Height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < Width; ++x) {
            line[3 * x] = uchar(x);
            line[3 * x + 1] = uchar(y);
            line[3 * x + 2] = uchar(x ^ y);
        }
    }
    return image;
}

void clearFolder(const QString &path)
{
    QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
}

void BM_LogM20DepthFrame_FrameLogger(benchmark::State &state)
{
    QTemporaryDir folder;
    const QVector<quint16> frame = depthFrame();
    const QImage image = displayedImage();
    FrameLogger logger;
    for (auto _ : state) {
        logger.request(folder.path());
        const FrameLogResult result = logger.record(frame, Width, Height, 1, image, Lens);
        if (!result.complete())
            state.SkipWithError("logging failed");
        state.PauseTiming();
        clearFolder(folder.path());
        state.ResumeTiming();
    }
}

// Every line goes through the stream and is flushed to the file on its own.
void logFlushPerLine(const QString &folder, int &logIndex, const QVector<quint16> &frame, const QImage &image)
{
    const auto name = [&](int n, const char *suffix) {
        return folder + QStringLiteral("/Log") + QString::number(n) + QLatin1String(suffix);
    };
    ++logIndex;
    while (QFileInfo::exists(name(logIndex, ".txt")))
        ++logIndex;
    QFile logFile(name(logIndex, ".txt"));
    logFile.open(QIODevice::WriteOnly | QIODevice::Append);
    int m = logIndex;
    while (QFileInfo::exists(name(m, ".pcd")))
        ++m;
    QFile pcdFile(name(m, ".pcd"));
    pcdFile.open(QIODevice::WriteOnly | QIODevice::Append);
    {
        QTextStream header(&pcdFile);
        header << "# .PCD v0.7 - Point Cloud Data file format\n"
               << "VERSION 0.7\n"
               << "FIELDS x y z\n"
               << "SIZE 4 4 4\n"
               << "TYPE F F F\n"
               << "COUNT 1 1 1\n"
               << "WIDTH " << Width << "\n"
               << "HEIGHT " << Height << "\n"
               << "VIEWPOINT 0 0 0 1 0 0 0\n"
               << "POINTS " << Width * Height << "\n"
               << "DATA ascii\n";
    }
    for (int i = 0; i < frame.size(); ++i) {
        const quint16 v = frame[i];
        QTextStream raw(&logFile);
        raw << v << " \n";
        raw.flush();
        QTextStream pcd(&pcdFile);
        if (v >= 30000) {
            pcd << "0.000000 0.000000 0.000000\n";
        } else {
            const Point3D p = LogFormat::projectPixel(i % Width, i / Width, v, Lens);
            pcd << QString::number(p.x, 'f', 6) << " " << QString::number(p.y, 'f', 6) << " "
                << QString::number(p.z, 'f', 6) << "\n";
        }
        pcd.flush();
    }
    logFile.close();
    pcdFile.close();
    image.save(name(logIndex, ".png"));
}

void BM_LogM20DepthFrame_FlushPerLine(benchmark::State &state)
{
    QTemporaryDir folder;
    const QVector<quint16> frame = depthFrame();
    const QImage image = displayedImage();
    int logIndex = 0;
    for (auto _ : state) {
        logFlushPerLine(folder.path(), logIndex, frame, image);
        state.PauseTiming();
        clearFolder(folder.path());
        state.ResumeTiming();
    }
}

// The text of the point file alone, without any file.
void BM_PointText_Fixed6(benchmark::State &state)
{
    const QVector<quint16> frame = depthFrame();
    for (auto _ : state) {
        QByteArray out;
        out.reserve(frame.size() * 28);
        for (int i = 0; i < frame.size(); ++i)
            LogFormat::appendPointLine(out, i % Width, i / Width, frame[i], Lens);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_PointText_QStringNumber(benchmark::State &state)
{
    const QVector<quint16> frame = depthFrame();
    for (auto _ : state) {
        QString out;
        out.reserve(frame.size() * 28);
        for (int i = 0; i < frame.size(); ++i) {
            const Point3D p = LogFormat::projectPixel(i % Width, i / Width, frame[i], Lens);
            out += QString::number(p.x, 'f', 6) + QLatin1Char(' ') + QString::number(p.y, 'f', 6)
                + QLatin1Char(' ') + QString::number(p.z, 'f', 6) + QLatin1Char('\n');
        }
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(BM_LogM20DepthFrame_FrameLogger)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LogM20DepthFrame_FlushPerLine)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PointText_Fixed6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointText_QStringNumber)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarksWithRatios(argc, argv,
        { { "Log one M20 depth frame", "BM_LogM20DepthFrame_FlushPerLine/real_time",
              "BM_LogM20DepthFrame_FrameLogger/real_time" },
            { "Point text", "BM_PointText_QStringNumber", "BM_PointText_Fixed6" } });
}
