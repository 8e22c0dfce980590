#include "SensorGeometry.h"
#include "views/FunctionDistance.h"
#include "views/WidgetPointCloud.h"

#include <QtTest>

#include <qwt3d_surfaceplot.h>

namespace {

// Distances that name their own position: pixel (x, y) is x + y centimetres,
// with invalid pixels in column 7 and one pixel beyond the box.
QVector<quint16> knownFrame(int width, int height)
{
    QVector<quint16> frame(width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            frame[y * width + x] = quint16(20 * (x + y) + 19);
    }
    for (int y = 0; y < height; ++y)
        frame[y * width + 7] = y % 2 ? 30000 : 65300;
    frame[3 * width + 3] = 29999; // 1499 cm, beyond the 400 cm box
    return frame;
}

bool hasDrawnPixels(const QImage &image)
{
    const QRgb background = image.pixel(1, image.height() / 2);
    int differing = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            differing += image.pixel(x, y) != background;
    }
    return differing > 500;
}

} // namespace

class TestPointCloud : public QObject
{
    Q_OBJECT

private slots:
    void sampleValues();
    void feedsFramesAndRenders_data();
    void feedsFramesAndRenders();
    void sensorChangeAndNoCamera();
    void hiddenAndPacedRedraws();
};

void TestPointCloud::sampleValues()
{
    const QVector<quint16> frame = knownFrame(160, 60);
    auto value = [&](double x, double y) { return FunctionDistance::valueAt(frame, 160, 60, x, y); };
    QCOMPARE(value(0, 0), 0.0);
    QCOMPARE(value(10.7, 5.2), 15.0); // truncated toward zero
    QCOMPARE(value(159.99, 59.99), 218.0);
    // The mesh's far edges and anything beyond read the last column and row.
    QCOMPARE(value(160, 60), 218.0);
    QCOMPARE(value(-3, -0.5), 0.0);
    QCOMPARE(value(std::nan(""), 2), 2.0);
    // No measurement lies on the floor of the box.
    QCOMPARE(value(7, 0), 0.0);
    QCOMPARE(value(3, 3), 1499.0);

    // A buffer too short for the geometry, or no buffer at all, reads 0.
    QCOMPARE(FunctionDistance::valueAt(frame, 320, 240, 10, 5), 0.0);
    QCOMPARE(FunctionDistance::valueAt({}, 160, 60, 10, 5), 0.0);
}

void TestPointCloud::feedsFramesAndRenders_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("Kavrix M10") << 160 << 60;
    QTest::newRow("Kavrix M20") << 320 << 240;
}

void TestPointCloud::feedsFramesAndRenders()
{
    QFETCH(int, width);
    QFETCH(int, height);
    useSensor(width, height);
    WidgetPointCloud cloud;
    cloud.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cloud));
    if (!cloud.canRender())
        QSKIP("no OpenGL context on this display");

    deviceState().frameBuffer = knownFrame(width, height);
    FunctionDistance &f = *cloud.function();
    QCOMPARE(f(10.5, 5.5), 15.0);
    QCOMPARE(f(width, height), double(width - 1 + height - 1));

    for (int round = 0; round < 3; ++round) {
        deviceState().frameBuffer[0] = quint16(2000 * round);
        cloud.updatePointCloud();
        QVERIFY(cloud.plot()->hasData());
        QCOMPARE(f(0, 0), 100.0 * round);
    }
    QTRY_VERIFY(!cloud.updatePending());
    // The cloud spans the frame; distances beyond the box are held at its lid.
    const Qwt3D::ParallelEpiped hull = cloud.plot()->hull();
    QCOMPARE(hull.maxVertex.x, double(width));
    QCOMPARE(hull.maxVertex.y, double(height));
    QCOMPARE(hull.maxVertex.z, 400.0);

    const QImage shot = cloud.plot()->grabFrameBuffer();
    QVERIFY(!shot.isNull());
    QVERIFY(hasDrawnPixels(shot));
}

void TestPointCloud::sensorChangeAndNoCamera()
{
    useM20();
    WidgetPointCloud cloud;
    cloud.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cloud));
    if (!cloud.canRender())
        QSKIP("no OpenGL context on this display");

    // An M10 frame arrives at a window built for the M20.
    useM10();
    deviceState().frameBuffer = knownFrame(160, 60);
    cloud.updatePointCloud();
    QTRY_VERIFY(!cloud.updatePending());
    QCOMPARE(cloud.plot()->hull().maxVertex.x, 160.0);
    QCOMPARE(cloud.plot()->hull().maxVertex.y, 60.0);

    // The camera is gone: the buffer is empty.
    deviceState().frameBuffer.clear();
    cloud.updatePointCloud();
    QTRY_VERIFY(!cloud.updatePending());
    QCOMPARE((*cloud.function())(5, 5), 0.0);
    QVERIFY(cloud.plot()->hasData());
    QVERIFY(!cloud.plot()->grabFrameBuffer().isNull());
}

void TestPointCloud::hiddenAndPacedRedraws()
{
    useM20();
    deviceState().frameBuffer = knownFrame(320, 240);
    WidgetPointCloud cloud;
    if (!cloud.canRender())
        QSKIP("no OpenGL context on this display");
    // Built hidden: the first frame waits for the window to be shown.
    QVERIFY(cloud.updatePending());
    QVERIFY(!cloud.plot()->hasData());
    cloud.updatePointCloud();
    QVERIFY(!cloud.plot()->hasData());
    cloud.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cloud));
    QVERIFY(!cloud.updatePending());
    QVERIFY(cloud.plot()->hasData());

    // A frame right after a redraw that took time is drawn a little later,
    // and then the newest frame is the one drawn.
    cloud.redrawNow();
    deviceState().frameBuffer.fill(20 * 50);
    cloud.updatePointCloud();
    if (cloud.updatePending())
        deviceState().frameBuffer.fill(20 * 123);
    else
        qWarning("redraw not put off (took %lld ms)", cloud.lastRedrawTime());
    QTRY_VERIFY(!cloud.updatePending());
    const double newest = deviceState().frameBuffer.first() / 20;
    QCOMPARE(cloud.plot()->hull().maxVertex.z, newest);
    QCOMPARE(cloud.plot()->hull().minVertex.z, newest);

    // Hidden, also while a put-off frame waits: nothing is drawn until the
    // window returns.
    for (bool putOff : { false, true }) {
        if (putOff) {
            cloud.redrawNow();
            cloud.updatePointCloud();
            cloud.hide();
        } else {
            cloud.hide();
            cloud.updatePointCloud();
        }
        const bool waiting = cloud.updatePending();
        QVERIFY(waiting || putOff);
        const int redraws = cloud.redrawCount();
        QTest::qWait(int(3 * cloud.lastRedrawTime()) + 50);
        QCOMPARE(cloud.redrawCount(), redraws);
        QCOMPARE(cloud.updatePending(), waiting);
        cloud.show();
        QVERIFY(!cloud.updatePending());
        QCOMPARE(cloud.redrawCount(), redraws + (waiting ? 1 : 0));
    }
}

QTEST_MAIN(TestPointCloud)
#include "tst_views_pointcloud.moc"
