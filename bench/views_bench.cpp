// Per-frame cost of the views for a "Kavrix M20" (320 x 240) frame: the picture
// window (setImage plus the scaled paint) and the point cloud update.
#include "app/DeviceState.h"
#include "views/PictureBox.h"
#include "views/ShowPoint.h"
#include "views/WidgetPointCloud.h"

#include <QApplication>
#include <QImage>

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
    cloud.show();
    QApplication::processEvents();
    if (!cloud.canRender()) {
        state.SkipWithError("no OpenGL context (run under xvfb-run)");
        return;
    }
    for (auto _ : state) {
        cloud.redrawNow();
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_PointCloudUpdate)->Args({ 320, 240 })->Args({ 160, 60 })->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
