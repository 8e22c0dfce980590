// Per-frame cost of the views for a "Kavrix M20" (320 x 240) frame: the picture
// window (setImage plus the scaled paint) and the point cloud update, fill and
// redraw rates.
#include "device/DeviceState.h"
#include "views/PictureBox.h"
#include "views/PointCloudScene.h"
#include "views/PointCloudView.h"
#include "views/ShowPoint.h"
#include "views/WidgetPointCloud.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

void useSensor(int width, int height)
{
    DeviceState &state = deviceState();
    state.imageWidth = width;
    state.imageHeight = height;
    state.pixelCount = width * height;
    state.frameDataBytes = 2 * width * height;
    // A tilted plane from 50 to 350 cm with a few invalid pixels.
    state.frameBuffer.resize(width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            state.frameBuffer[y * width + x]
                = (x * 31 + y * 7) % 97 == 0 ? 30000 : quint16(1000 + 20 * x + 5 * y);
    }
}

QImage colourFrame(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            line[3 * x] = uchar(x);
            line[3 * x + 1] = uchar(y);
            line[3 * x + 2] = uchar(x ^ y);
        }
    }
    return image;
}

// Shows the point cloud; without an OpenGL context the benchmark is skipped.
bool showCloud(WidgetPointCloud &cloud, benchmark::State &state)
{
    cloud.show();
    QApplication::processEvents();
    if (!cloud.canRender()) {
        state.SkipWithError("no OpenGL context (run under xvfb-run)");
        return false;
    }
    return true;
}

// Arguments: flip (0 none, 1 both), marker (0 off, 1 on).
void BM_PictureBoxSetImagePaint(benchmark::State &state)
{
    useSensor(320, 240);
    PictureBox box;
    box.resize(704, 480);
    box.setDisplayMode(2);
    box.setFlipHorizontal(state.range(0));
    box.setFlipVertical(state.range(0));
    box.inspector()->setShowLabel(state.range(1));
    box.show();
    QApplication::processEvents();
    const QImage frame = colourFrame(320, 240);
    for (auto _ : state) {
        // The decoder hands over a fresh image per frame.
        QImage image = frame.copy();
        box.setImage(image, 1.0);
        box.repaint();
        box.updatePointValue(1, deviceState().frameBuffer.constData(), 0);
    }
    state.SetItemsProcessed(state.iterations() * 320 * 240);
}
BENCHMARK(BM_PictureBoxSetImagePaint)->Args({ 0, 0 })->Args({ 1, 1 })->Unit(benchmark::kMillisecond);

// The image copy alone, the part of the loop above that is not the view's.
void BM_ImageCopyBaseline(benchmark::State &state)
{
    const QImage frame = colourFrame(320, 240);
    for (auto _ : state) {
        QImage image = frame.copy();
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_ImageCopyBaseline)->Unit(benchmark::kMillisecond);

// The full update of one frame: fill, upload, draw and show. Counter: the
// fill and upload alone, in microseconds. Arguments: width, height.
void BM_PointCloudUpdate(benchmark::State &state)
{
    useSensor(int(state.range(0)), int(state.range(1)));
    WidgetPointCloud cloud;
    if (!showCloud(cloud, state))
        return;
    qint64 upload = 0;
    for (auto _ : state) {
        cloud.redrawNow();
        QApplication::processEvents();
        upload += cloud.view()->lastUploadMicroseconds();
    }
    state.counters["upload_us"] = double(upload) / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_PointCloudUpdate)
    ->Args({ 320, 240 })
    ->Args({ 160, 60 })
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The vertex fill of an M20 frame alone (pixel grid and metric), without OpenGL.
void BM_PointCloudFill(benchmark::State &state)
{
    useSensor(320, 240);
    PointCloudScene scene;
    scene.setSensor(320, 240);
    if (state.range(0))
        scene.setMode(PointCloudScene::Metric, LensParameters { 160.3, 119.8, 221.5, 222.1, 1000.0 });
    const QVector<quint16> &frame = deviceState().frameBuffer;
    for (auto _ : state)
        benchmark::DoNotOptimize(scene.fill(frame.constData(), frame.size()));
}
BENCHMARK(BM_PointCloudFill)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The floor: the same window cleared and shown, nothing drawn.
void BM_PointCloudEmptyRedraw(benchmark::State &state)
{
    useSensor(320, 240);
    WidgetPointCloud cloud;
    if (!showCloud(cloud, state))
        return;
    cloud.view()->setClearOnly(true);
    for (auto _ : state) {
        cloud.redrawNow();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PointCloudEmptyRedraw)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// A stream for three seconds: frames arrive by the clock and are taken at the
// next event loop pass, each calling updatePointCloud() as the frame decoder
// does; frames that arrive during a redraw wait, as the serial port's bytes
// would. Counters: frames taken per second (the stream's rate when the
// GUI thread keeps up), the longest wait of a frame, redraws per second and
// the duration of the last redraw. Arguments: frames per second (0: as fast
// as redraws go), 1 for the empty redraw.
void BM_PointCloudStream(benchmark::State &state)
{
    useSensor(320, 240);
    WidgetPointCloud cloud;
    if (!showCloud(cloud, state))
        return;
    cloud.view()->setClearOnly(state.range(1) == 1);
    const int fps = int(state.range(0));
    const double periodMs = fps > 0 ? 1000.0 / fps : 0.0;
    const int runMs = 3000;
    qint64 taken = 0;
    qint64 longestWait = 0;
    int redraws = 0;
    for (auto _ : state) {
        taken = longestWait = 0;
        const int redrawsBefore = cloud.redrawCount();
        QElapsedTimer clock;
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            // Every frame that has arrived by now is taken, as the frame
            // reader takes every frame in the bytes it is handed.
            do {
                if (now < qint64(taken * periodMs))
                    return; // the next frame has not arrived yet
                longestWait = qMax(longestWait, now - qint64(taken * periodMs));
                ++taken;
                deviceState().frameBuffer[taken % 1000] ^= 1;
                cloud.updatePointCloud();
            } while (fps > 0);
        });
        QEventLoop loop;
        QTimer::singleShot(runMs, &loop, &QEventLoop::quit);
        clock.start();
        reader.start(0);
        loop.exec();
        redraws = cloud.redrawCount() - redrawsBefore;
    }
    state.counters["frames_per_s"] = fps > 0 ? taken * 1000.0 / runMs : 0.0;
    state.counters["longest_wait_ms"] = fps > 0 ? double(longestWait) : 0.0;
    state.counters["redraws_per_s"] = redraws * 1000.0 / runMs;
    state.counters["last_redraw_ms"] = double(cloud.lastRedrawTime());
}
BENCHMARK(BM_PointCloudStream)
    ->Args({ 30, 0 })
    ->Args({ 60, 0 })
    ->Args({ 0, 0 })
    ->Args({ 0, 1 })
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
