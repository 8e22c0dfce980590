// The status line costs the stream nothing per frame beyond counting; a few
// times a second it takes a reading and formats its text:
//   BM_StatusLine            one update: StreamStatus::sample() and streamingText()
//   BM_StatusLine_Baseline   one Kavrix M20 depth frame through the framer,
//                            decoded and coloured, as the main window takes it in
#include "app/StreamStatus.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"

#include <QImage>
#include <benchmark/benchmark.h>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Pixels = Width * Height;
constexpr int FrameBytes = 2 * Pixels + 4;

void BM_StatusLine(benchmark::State &state)
{
    StreamStatus status;
    StreamStatus::Counters counters;
    qint64 ms = 0;
    status.start(ms, counters);
    for (auto _ : state) {
        ms += 250;
        counters.framesShown += 25;
        counters.blocksDropped += 1;
        counters.bytesReceived += 25 * (FrameBytes + 4);
        status.sample(ms, counters);
        const QString text = status.streamingText();
        benchmark::DoNotOptimize(text.constData());
    }
}
BENCHMARK(BM_StatusLine)->Unit(benchmark::kMicrosecond);

void BM_StatusLine_Baseline(benchmark::State &state)
{
    SceneSettings scene;
    scene.width = Width;
    scene.height = Height;
    scene.frameType = 1;
    const QVector<quint16> pixels = SyntheticScene::frame(scene, 0);
    const QByteArray block = FrameFormat::encode(pixels.constData(), Pixels, 416, 0, 0);
    ImageColorizer map;
    FrameColorizer colorizer(&map);
    colorizer.prepareAll();
    FrameFramer framer(FrameBytes);
    QVector<quint16> frameBuffer(Pixels);
    for (auto _ : state) {
        framer.append(block);
        FrameFramer::Frame frame;
        if (!framer.nextFrame(&frame)) {
            state.SkipWithError("no frame");
            break;
        }
        QImage image(Width, Height, QImage::Format_RGB888);
        colorizer.decode(frame.data, Width, Height, 1, frameBuffer.data(), &image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_StatusLine_Baseline)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
