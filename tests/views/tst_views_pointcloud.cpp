#include "SensorGeometry.h"
#include "frames/PointProjection.h"
#include "views/PointCloudView.h"
#include "views/WidgetPointCloud.h"

#include <QMenu>
#include <QtTest>

namespace {

// Everything invalid except a few known points: (column, row, value).
struct KnownPoint
{
    int col, row;
    quint16 value;
};

QVector<KnownPoint> knownPoints(int width, int height)
{
    return { { width / 2, height / 2, 2000 }, { width / 4, height / 3, 6000 },
        { 3 * width / 4, height / 4, 400 }, { width / 3, 3 * height / 4, 7400 } };
}

QVector<quint16> knownFrame(int width, int height)
{
    QVector<quint16> frame(width * height);
    // No measurement: spread over the whole frame so a drawn one would show.
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = i % 3 ? 30000 : 65300;
    for (const KnownPoint &p : knownPoints(width, height))
        frame[p.row * width + p.col] = p.value;
    return frame;
}

// Whether a pixel of `colour` lies within `radius` of `at`.
bool colourNear(const QImage &image, QPointF at, QRgb colour, int radius, int tolerance = 12)
{
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p(int(at.x()) + dx, int(at.y()) + dy);
            const QRgb c = image.valid(p) ? image.pixel(p) : ~colour;
            if (qAbs(qRed(c) - qRed(colour)) <= tolerance && qAbs(qGreen(c) - qGreen(colour)) <= tolerance
                && qAbs(qBlue(c) - qBlue(colour)) <= tolerance)
                return true;
        }
    }
    return false;
}

struct Rig
{
    WidgetPointCloud cloud;
    PointCloudView *view = nullptr;

    bool start()
    {
        cloud.show();
        return QTest::qWaitForWindowExposed(&cloud) && cloud.canRender() && (view = cloud.view()) != nullptr;
    }
    QImage frame()
    {
        cloud.updatePointCloud();
        return view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    }
};

// The box corners, the known points and nothing else where the view's
// projection puts them; the legend's colour bar far at the top, near at the bottom.
void checkPicture(const PointCloudScene &scene, const QImage &image, int width, int height)
{
    const QSize viewport = image.size();
    const QVector3D lo = scene.boxMin();
    const QVector3D hi = scene.boxMax();
    for (int corner = 0; corner < 8; ++corner) {
        const QVector3D p(
            corner & 1 ? hi.x() : lo.x(), corner & 2 ? hi.y() : lo.y(), corner & 4 ? hi.z() : lo.z());
        const QPointF at = scene.toScreen(p, viewport);
        QVERIFY2(QRectF(image.rect()).contains(at) && colourNear(image, at, qRgb(0, 0, 0), 2, 60),
            qPrintable(QString("no line at corner %1").arg(corner)));
    }
    QVector<QPointF> drawn;
    for (const KnownPoint &p : knownPoints(width, height)) {
        const QPointF at = scene.toScreen(scene.pointFor(p.col, p.row, p.value), viewport);
        drawn << at;
        QVERIFY2(colourNear(image, at, scene.colourForCm(p.value / 20), 2),
            qPrintable(QString("point %1,%2 not at %3,%4").arg(p.col).arg(p.row).arg(at.x()).arg(at.y())));
    }
    const QRect bar(image.width() - 56, image.height() / 5, 12, 3 * image.height() / 5);
    const int nearEnd = 3 * 400 / (bar.height() - 1);
    QVERIFY(colourNear(image, QPointF(bar.center().x(), bar.top() + 3), scene.colourForCm(400 - nearEnd), 1));
    QVERIFY(colourNear(image, QPointF(bar.center().x(), bar.bottom() - 3), scene.colourForCm(nearEnd), 1));
    // Coloured pixels outside the legend all belong to the known points; box,
    // numbers and background are gray levels.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() - 60; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qMax(c.red(), qMax(c.green(), c.blue())) - qMin(c.red(), qMin(c.green(), c.blue())) <= 60)
                continue;
            QVERIFY2(std::any_of(drawn.begin(), drawn.end(),
                         [&](QPointF at) { return qAbs(at.x() - x) <= 4 && qAbs(at.y() - y) <= 4; }),
                qPrintable(QString("stray point at %1,%2").arg(x).arg(y)));
        }
    }
}

} // namespace

class TestPointCloud : public QObject
{
    Q_OBJECT

private slots:
    void knownFramesAcrossSensorChange();
    void mouseAndKeys_data();
    void mouseAndKeys();
};

// Known M20 and M10 frames in one window: built for the M20, then the camera
// changes to an M10 and back; with a lens, metric points; then it goes away.
void TestPointCloud::knownFramesAcrossSensorChange()
{
    useSensor(320, 240);
    Rig rig;
    if (!rig.start())
        QSKIP("no OpenGL context on this display");
    const PointCloudScene &scene = rig.view->scene();
    for (const QSize sensor : { QSize(320, 240), QSize(160, 60), QSize(320, 240) }) {
        useSensor(sensor.width(), sensor.height());
        deviceState().frameBuffer = knownFrame(sensor.width(), sensor.height());
        const QImage image = rig.frame();
        QCOMPARE(scene.width(), sensor.width());
        QCOMPARE(scene.pointCount(), 4);
        checkPicture(scene, image, sensor.width(), sensor.height());
    }

    DeviceState &state = deviceState();
    state.cameraCx = 158.5;
    state.cameraCy = 121.25;
    state.cameraFx = 220.0;
    state.cameraFy = 223.5;
    state.cameraFactor = 1000.0;
    // A right click opens the menu that holds the choice.
    QTest::mouseClick(rig.view, Qt::RightButton, {}, QPoint(100, 100));
    QTRY_VERIFY(rig.view->modeMenu()->isVisible());
    const QList<QAction *> actions = rig.view->modeMenu()->actions();
    QCOMPARE(actions.value(1)->text(), QStringLiteral("Metric (lens)"));
    actions[1]->trigger();
    rig.view->modeMenu()->hide();
    const QImage image = rig.frame();
    QCOMPARE(scene.mode(), PointCloudScene::Metric);
    QCOMPARE(scene.pointCount(), 4);
    // The vertices are the log's projection, in frame order.
    QVector<KnownPoint> points = knownPoints(320, 240);
    std::sort(points.begin(), points.end(),
        [](const KnownPoint &a, const KnownPoint &b) { return a.row * 320 + a.col < b.row * 320 + b.col; });
    const LensParameters lens = LensParameters::fromDeviceState();
    for (int i = 0; i < scene.pointCount(); ++i) {
        const Point3D p = PointProjection::projectPixel(points[i].col, points[i].row, points[i].value, lens);
        const PointCloudScene::Vertex &v = scene.vertices()[i];
        QVERIFY(qAbs(v.x - p.x) < 1e-5 && qAbs(v.y - p.y) < 1e-5 && qAbs(v.z - p.z) < 1e-5);
    }
    checkPicture(scene, image, 320, 240);

    // The camera is gone: the buffer is empty, only the box remains.
    deviceState().frameBuffer.clear();
    QVERIFY(!rig.frame().isNull());
    QCOMPARE(scene.pointCount(), 0);
    QVERIFY(!rig.cloud.updatePending());
}

void TestPointCloud::mouseAndKeys_data()
{
    QTest::addColumn<int>("button"); // dragged from the centre; none: keys
    QTest::newRow("left drag orbits, double click resets") << int(Qt::LeftButton);
    QTest::newRow("right drag pans, Home resets") << int(Qt::RightButton);
    QTest::newRow("arrows orbit, + zooms, Home resets") << int(Qt::NoButton);
}

void TestPointCloud::mouseAndKeys()
{
    QFETCH(int, button);
    useSensor(320, 240);
    deviceState().frameBuffer = knownFrame(320, 240);
    Rig rig;
    if (!rig.start())
        QSKIP("no OpenGL context on this display");
    PointCloudView *view = rig.view;
    const PointCloudScene &scene = view->scene();
    const QImage initial = rig.frame();
    const QPoint centre = view->rect().center();
    const auto b = Qt::MouseButton(button);
    if (b != Qt::NoButton) {
        QTest::mousePress(view, b, {}, centre);
        QMouseEvent move(QEvent::MouseMove, centre + QPoint(40, 25), b, b, {});
        QApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, b, {}, centre + QPoint(40, 25));
        QVERIFY(!view->modeMenu()->isVisible()); // a drag is no click
    } else {
        for (Qt::Key key : { Qt::Key_Left, Qt::Key_Up, Qt::Key_Plus })
            QTest::keyClick(view, key);
    }
    QCOMPARE(scene.rotation() != PointCloudScene::initialRotation(), b != Qt::RightButton);
    QCOMPARE(scene.zoom() > PointCloudScene::InitialZoom, b == Qt::NoButton);
    QCOMPARE(!scene.pan().isNull(), b == Qt::RightButton);
    QVERIFY(rig.frame() != initial);
    if (b == Qt::LeftButton)
        QTest::mouseDClick(view, Qt::LeftButton, {}, centre);
    else
        QTest::keyClick(view, Qt::Key_Home);
    QVERIFY(scene.isInitialView());
    QCOMPARE(rig.frame(), initial);
}

QTEST_MAIN(TestPointCloud)
#include "tst_views_pointcloud.moc"
