// Kavrix M20 frames (320 x 240, 153,604 bytes + marker):
//   BM_Memcpy            copying one frame's bytes: the floor for any ingest
//   BM_Ingest/<mode>     4 KiB reads through the framer, then decode and colour
//                        into a new RGB888 image, per frame, as the main window does
//   BM_TableColour/<mode> decode and colour only
//   BM_PerPixelQColor/<mode> the straightforward way: setRange, valueToColor and
//                        QImage::setPixel for every pixel
//   BM_DepthFilter/<mode> one frame through the depth filter
// Modes: 0 amplitude, 1 depth, 2 grayscale.
#include "frames/DepthFilter.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <cstring>
#include <random>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Pixels = Width * Height;
constexpr int FrameBytes = 2 * Pixels + 4;
constexpr int Chunk = 4096;

SceneSettings sceneFor(int mode)
{
    SceneSettings s;
    s.width = Width;
    s.height = Height;
    s.frameType = mode;
    s.markerCopies = true;
    return s;
}

// Eight frames of the synthetic scene with a little noise, as one stream.
QByteArray streamFor(int mode)
{
    std::mt19937 random(7);
    QByteArray stream;
    for (quint32 k = 0; k < 8; ++k) {
        QVector<quint16> pixels = SyntheticScene::frame(sceneFor(mode), k);
        for (quint16 &v : pixels) {
            if (v > 0 && v < 30000)
                v = quint16(qMax(1, int(v) + int(random() % 9) - 4));
        }
        stream += FrameFormat::encode(pixels.constData(), Pixels, 416, 0, quint8(k));
    }
    return stream;
}

int kindFor(int mode)
{
    return FrameColorizer::colorKind(mode);
}

void BM_Memcpy(benchmark::State &state)
{
    const QByteArray source = streamFor(1).left(FrameBytes);
    QByteArray target(FrameBytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.constData(), FrameBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}
BENCHMARK(BM_Memcpy);

void BM_Ingest(benchmark::State &state)
{
    const int mode = int(state.range(0));
    const QByteArray stream = streamFor(mode);
    ImageColorizer map;
    FrameColorizer colorizer(&map);
    colorizer.prepareAll();
    FrameFramer framer(FrameBytes);
    QVector<quint16> frameBuffer(Pixels);
    int cursor = 0;
    quint64 frames = 0;
    for (auto _ : state) {
        FrameFramer::Frame frame;
        while (!framer.nextFrame(&frame)) {
            const int size = qMin(Chunk, stream.size() - cursor);
            framer.append(stream.constData() + cursor, size);
            cursor = (cursor + size) % stream.size();
        }
        QImage image(Width, Height, QImage::Format_RGB888);
        colorizer.decode(frame.data, Width, Height, mode, frameBuffer.data(), &image);
        benchmark::DoNotOptimize(image.constBits());
        ++frames;
    }
    if (framer.framesAccepted() != frames || framer.bytesDropped() != 0)
        state.SkipWithError("frames lost");
    state.SetBytesProcessed(state.iterations() * (FrameBytes + 4));
}
BENCHMARK(BM_Ingest)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_TableColour(benchmark::State &state)
{
    const int mode = int(state.range(0));
    const QByteArray frame = streamFor(mode).left(FrameBytes);
    ImageColorizer map;
    FrameColorizer colorizer(&map);
    colorizer.prepareAll();
    QVector<quint16> frameBuffer(Pixels);
    QImage image(Width, Height, QImage::Format_RGB888);
    for (auto _ : state) {
        colorizer.decode(frame.constData(), Width, Height, mode, frameBuffer.data(), &image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_TableColour)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_PerPixelQColor(benchmark::State &state)
{
    const int mode = int(state.range(0));
    const QByteArray frame = streamFor(mode).left(FrameBytes);
    ImageColorizer map;
    const int maximum = FrameColorizer::rangeMaximum(mode);
    const int kind = kindFor(mode);
    QVector<quint16> frameBuffer(Pixels);
    for (auto _ : state) {
        QImage image(Width, Height, QImage::Format_RGB888);
        for (int i = 0; i < Pixels; ++i) {
            const quint16 v = FrameFormat::readU16(frame.constData() + 2 * i);
            frameBuffer[i] = v;
            map.setRange(0, maximum);
            const QColor color = map.valueToColor(FrameColorizer::colorInput(mode, v), kind);
            image.setPixel(i % Width, i / Width, color.rgb());
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PerPixelQColor)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_DepthFilter(benchmark::State &state)
{
    const int mode = int(state.range(0));
    // Depth frames with noise, the filter's state warmed up.
    std::vector<QVector<quint16>> frames;
    std::mt19937 random(11);
    for (quint32 k = 0; k < 8; ++k) {
        QVector<quint16> pixels = SyntheticScene::frame(sceneFor(1), k);
        for (quint16 &v : pixels) {
            if (v > 0 && v < 30000)
                v = quint16(qMax(1, int(v) + int(random() % 41) - 20));
        }
        frames.push_back(pixels);
    }
    DepthFilter filter(Pixels);
    filter.setMode(mode);
    QVector<quint16> work(Pixels);
    size_t k = 0;
    for (int warm = 0; warm < 20; ++warm) {
        std::memcpy(work.data(), frames[k++ % frames.size()].constData(), 2 * Pixels);
        filter.filterFrame(work.data());
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), frames[k++ % frames.size()].constData(), 2 * Pixels);
        state.ResumeTiming();
        filter.filterFrame(work.data());
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_DepthFilter)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
