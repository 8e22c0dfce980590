// Per-frame cost of the views for a "Kavrix M20" (320 x 240) frame: the picture
// window (setImage plus the scaled paint) and the point cloud update.
#include "app/DeviceState.h"
#include "views/PictureBox.h"
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

// The full update of one frame (what updatePointCloud() does when it is not
// put off). Arguments: width, height.
void BM_PointCloudUpdate(benchmark::State &state)
{
    useSensor(int(state.range(0)), int(state.range(1)));
    WidgetPointCloud cloud;
    if (!showCloud(cloud, state))
        return;
    for (auto _ : state) {
        cloud.redrawNow();
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_PointCloudUpdate)->Args({ 320, 240 })->Args({ 160, 60 })->Unit(benchmark::kMillisecond);

// A 30 frames per second stream for three seconds: frames arrive by the clock
// and are taken one per event loop pass, each calling updatePointCloud() as the
// frame decoder does; a frame that arrives during a redraw waits, as the
// serial port's bytes would. Counters: frames taken per second (30 when the
// GUI thread keeps up), the longest wait of a frame (bounded when it keeps
// up), redraws per second and the duration of the last redraw. Argument: 1 as
// the application runs, 0 a redraw for every frame, for comparison.
void BM_PointCloudStream30fps(benchmark::State &state)
{
    useSensor(320, 240);
    WidgetPointCloud cloud;
    if (!showCloud(cloud, state))
        return;
    const bool paced = state.range(0) == 1;
    const int periodMs = 33;
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
            if (now < taken * periodMs)
                return; // the next frame has not arrived yet
            longestWait = qMax(longestWait, now - taken * periodMs);
            ++taken;
            if (paced)
                cloud.updatePointCloud();
            else
                cloud.redrawNow();
        });
        QEventLoop loop;
        QTimer::singleShot(runMs, &loop, &QEventLoop::quit);
        clock.start();
        reader.start(0);
        loop.exec();
        redraws = cloud.redrawCount() - redrawsBefore;
    }
    state.counters["frames_per_s"] = taken * 1000.0 / runMs;
    state.counters["longest_wait_ms"] = double(longestWait);
    state.counters["redraws_per_s"] = redraws * 1000.0 / runMs;
    state.counters["last_redraw_ms"] = double(cloud.lastRedrawTime());
}
BENCHMARK(BM_PointCloudStream30fps)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
