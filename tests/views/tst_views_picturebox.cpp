#include "SensorGeometry.h"
#include "views/PictureBox.h"
#include "views/PictureGeometry.h"
#include "views/ShowPoint.h"

#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QRgb marker = qRgb(128, 0, 128);
const QRgb white = qRgb(255, 255, 255);

QImage filledImage(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

// A frame whose every value names its own sensor position.
QVector<quint16> numberedFrame(int width, int height)
{
    QVector<quint16> frame(width * height);
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = quint16(20 * (i % 1000) + 20);
    return frame;
}

QString depthText(quint16 value)
{
    return ShowPoint::formatValue(1, PictureGeometry::readoutValue(value, 0));
}

// A shown picture window with a fitted, painted M10 image.
struct Picture
{
    PictureBox box;
    explicit Picture(const QSize &size, int mode = 2)
    {
        box.resize(size);
        box.setDisplayMode(mode);
        QImage image = filledImage(deviceState().imageWidth, deviceState().imageHeight, white);
        box.setImage(image);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.repaint();
    }
    QPoint widgetPos(double x, double y) const
    {
        return QPoint(qRound(box.offset().x() + x * box.scale()), qRound(box.offset().y() + y * box.scale()));
    }
};

} // namespace

class TestPictureBox : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void fit_data();
    void fit();
    void clickSelectsPixel();
    void clicksOutsideStayInside_data();
    void clicksOutsideStayInside();
    void markerBlock_data();
    void markerBlock();
    void bothFlipsReferToDisplayedPosition();
    void distanceOffsetReadout();
    void setImageScaleAndNull();
    void sensorChangeKeepsReadoutInside();
    void m10LegendAsGiven();
    void m20LegendBesideImage_data();
    void m20LegendBesideImage();
};

void TestPictureBox::construction()
{
    useM20();
    PictureBox box;
    // The selected point and the inspector agree from the start.
    QCOMPARE(box.inspector()->point(), QPoint(80, 30));
    QCOMPARE(box.point(), QPoint(80, 30));

    box.setFixedSize(100, 100);
    box.setDisplayMode(5);
    QCOMPARE(box.minimumSize(), QSize(0, 0));
    QCOMPARE(box.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

void TestPictureBox::fit_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QSize>("widget");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("offset");
    QTest::newRow("depth 400x200") << 2 << QSize(400, 200) << 400.0 / 176 << QPoint(0, 31);
    QTest::newRow("grayscale 400x200") << 6 << QSize(400, 200) << 2.5 << QPoint(0, 25);
    QTest::newRow("depth tall") << 2 << QSize(176, 600) << 1.0 << QPoint(0, 270);
    QTest::newRow("amplitude 640x480") << 5 << QSize(640, 480) << 640.0 / 176 << QPoint(0, 130);
}

void TestPictureBox::fit()
{
    QFETCH(int, mode);
    QFETCH(QSize, widget);
    QFETCH(double, scale);
    QFETCH(QPoint, offset);
    useM10();
    Picture picture(widget, mode);
    QVERIFY(qAbs(picture.box.scale() - scale) < 1e-9);
    QCOMPARE(picture.box.offset(), offset);

    // The limits of the scale.
    QCOMPARE(PictureGeometry::fit(QSize(20000, 20000), QSize(10, 10), 1.0).scale, 100.0);
    QCOMPARE(PictureGeometry::fit(QSize(1, 1), QSize(320, 240), 1.1).scale, 0.01);
}

void TestPictureBox::clickSelectsPixel()
{
    useM10();
    Picture picture(QSize(400, 200));
    QSignalSpy pressed(&picture.box, &PictureBox::mousePressed);
    QTest::mouseClick(&picture.box, Qt::LeftButton, {}, picture.widgetPos(10, 5));
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(picture.box.inspector()->point(), QPoint(10, 5));
    QCOMPARE(picture.box.point(), QPoint(10, 5));

    // Moving the point in the inspector moves it in the picture.
    picture.box.inspector()->setPoint(42, 17);
    QCOMPARE(picture.box.point(), QPoint(42, 17));
}

void TestPictureBox::clicksOutsideStayInside_data()
{
    QTest::addColumn<QPoint>("click");
    QTest::addColumn<QPoint>("selected");
    // (QTest takes the point 0,0 for the widget's centre.)
    QTest::newRow("top-left margin") << QPoint(1, 1) << QPoint(0, 0);
    QTest::newRow("legend") << QPoint(395, 150) << QPoint(159, 30);
    QTest::newRow("bottom margin") << QPoint(100, 299) << QPoint(44, 59);
    QTest::newRow("right of the legend, top") << QPoint(399, 1) << QPoint(159, 0);
}

void TestPictureBox::clicksOutsideStayInside()
{
    QFETCH(QPoint, click);
    QFETCH(QPoint, selected);
    useM10();
    const QVector<quint16> frame = numberedFrame(160, 60);
    deviceState().frameBuffer = frame;
    Picture picture(QSize(400, 300));
    picture.box.inspector()->setShowLabel(true);

    // Twice: the second click leaves the inspector's spin boxes unchanged.
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(&picture.box, Qt::LeftButton, {}, click);
        QCOMPARE(picture.box.inspector()->point(), selected);
        QCOMPARE(picture.box.point(), selected);

        QImage image = filledImage(160, 60, white);
        QVERIFY(picture.box.setImage(image));
        QCOMPARE(image.pixel(selected), marker);

        picture.box.updatePointValue(1, deviceState().frameBuffer.constData(), 0);
        QCOMPARE(picture.box.inspector()->valueText(), depthText(frame[selected.y() * 160 + selected.x()]));
    }
}

void TestPictureBox::markerBlock_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QRect>("block");
    QTest::newRow("corner 0,0") << QPoint(0, 0) << QRect(0, 0, 2, 2);
    QTest::newRow("far corner") << QPoint(159, 59) << QRect(158, 58, 2, 2);
    QTest::newRow("inside") << QPoint(5, 7) << QRect(4, 6, 2, 2);
}

void TestPictureBox::markerBlock()
{
    QFETCH(QPoint, point);
    QFETCH(QRect, block);
    useM10();
    PictureBox box;
    box.inspector()->setPoint(point.x(), point.y());

    QImage plain = filledImage(160, 60, white);
    box.setImage(plain);
    QCOMPARE(plain.pixel(block.topLeft()), white); // marker off

    box.inspector()->setShowLabel(true);
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image));
    int marked = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 160; ++x) {
            const bool inBlock = block.contains(x, y);
            QCOMPARE(image.pixel(x, y) == marker, inBlock);
            marked += inBlock;
        }
    }
    QCOMPARE(marked, 4);
    QCOMPARE(box.pixmap().toImage().pixel(block.topLeft()), marker);
}

void TestPictureBox::bothFlipsReferToDisplayedPosition()
{
    useM10();
    PictureBox box;
    box.setFlipHorizontal(true);
    box.setFlipVertical(true);
    box.inspector()->setPoint(10, 5);

    // The sensor pixel shown at (10, 5) is (149, 54).
    QImage image = filledImage(160, 60, white);
    image.setPixel(149, 54, qRgb(0, 200, 0));
    box.setImage(image);
    QCOMPARE(image.pixel(10, 5), qRgb(0, 200, 0));

    QVector<quint16> frame(160 * 60, 100);
    frame[54 * 160 + 149] = 2000;
    box.updatePointValue(1, frame.constData(), 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("100  CM"));

    box.inspector()->setShowLabel(true);
    QImage marked = filledImage(160, 60, white);
    box.setImage(marked);
    QCOMPARE(marked.pixel(10, 5), marker);
    QCOMPARE(marked.pixel(9, 4), marker);

    // One flip at a time.
    box.setFlipVertical(false);
    frame[5 * 160 + 149] = 4000;
    box.updatePointValue(1, frame.constData(), 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("200  CM"));
}

void TestPictureBox::distanceOffsetReadout()
{
    useM10();
    PictureBox box;
    QVector<quint16> frame(160 * 60, 1000);
    box.updatePointValue(0, frame.constData(), 600);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("10  LSB"));
    box.updatePointValue(1, frame.constData(), -500);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("100  CM"));
    QCOMPARE(PictureGeometry::readoutValue(1000, 495), 10);
    QCOMPARE(PictureGeometry::readoutValue(1000, 494), 12);

    // Nothing to read: no frame, or the shared buffer of a removed camera.
    box.updatePointValue(0, nullptr, 0);
    deviceState().frameBuffer.clear();
    box.updatePointValue(0, deviceState().frameBuffer.constData(), 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("100  CM"));
}

void TestPictureBox::setImageScaleAndNull()
{
    useM10();
    PictureBox box;
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image, 3.5));
    QCOMPARE(box.scale(), 3.5);

    QImage null;
    QVERIFY(!box.setImage(null, 2.0));
    QCOMPARE(box.scale(), 3.5);
    QCOMPARE(box.pixmap().size(), QSize(160, 60));

    // Indexed images get the marker too.
    box.inspector()->setShowLabel(true);
    box.inspector()->setPoint(3, 3);
    QImage indexed(160, 60, QImage::Format_Indexed8);
    indexed.setColorTable({ white });
    indexed.fill(0);
    QVERIFY(box.setImage(indexed));
    QCOMPARE(indexed.pixel(3, 3), marker);
}

void TestPictureBox::sensorChangeKeepsReadoutInside()
{
    // A point chosen on the 320 x 240 sensor, then frames of the 160 x 60 one.
    useM20();
    PictureBox box;
    box.inspector()->setShowLabel(true);
    box.inspector()->setPoint(300, 200);
    QCOMPARE(box.point(), QPoint(300, 200));

    useM10();
    const QVector<quint16> frame = numberedFrame(160, 60);
    deviceState().frameBuffer = frame;
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image));
    QCOMPARE(image.pixel(159, 59), marker);

    box.updatePointValue(1, deviceState().frameBuffer.constData(), 0);
    QCOMPARE(box.point(), QPoint(159, 59));
    QCOMPARE(box.inspector()->valueText(), depthText(frame.last()));

    QCOMPARE(PictureGeometry::sourceIndex(0, 0, 0, 0, false, false), -1);
}

void TestPictureBox::m10LegendAsGiven()
{
    const QSize imageSize(160, 60);
    for (int mode : { 2, 5 }) {
        QImage canvas(176, 62, QImage::Format_RGB32);
        canvas.fill(white);
        QPainter painter(&canvas);
        PictureGeometry::drawLegend(painter, mode, imageSize);
        painter.end();

        for (int x = 161; x <= 166; ++x) {
            QCOMPARE(canvas.pixel(x, 0), qRgb(255, 0, 128));
            QCOMPARE(canvas.pixel(x, 1), qRgb(255, 0, 128));
            QCOMPARE(canvas.pixel(x, 2), qRgb(169, 14, 255));
            QCOMPARE(canvas.pixel(x, 3), qRgb(169, 14, 255));
        }
        // Nothing in the image area.
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 160; ++x)
                QCOMPARE(canvas.pixel(x, y), white);
        }
        if (mode == 2) {
            QCOMPARE(canvas.pixel(163, 56), qRgb(255, 0, 0)); // hue 0 at the bottom row
            QCOMPARE(canvas.pixel(163, 4), QColor::fromHsvF(0.7 * 52 / 56, 1, 1).rgb());
        } else {
            QCOMPARE(canvas.pixel(163, 60), QColor::fromHsvF(0.7, 1, 1).rgb()); // just below the image
            QCOMPARE(canvas.pixel(163, 4), QColor::fromHsvF((1 - 56 / 60.0) * 0.7, 1, 1).rgb());
        }
    }
    // Grayscale has none.
    QImage canvas(176, 62, QImage::Format_RGB32);
    canvas.fill(white);
    QPainter painter(&canvas);
    PictureGeometry::drawLegend(painter, 6, imageSize);
    painter.end();
    QCOMPARE(canvas.pixel(163, 30), white);
}

void TestPictureBox::m20LegendBesideImage_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("depth") << 2;
    QTest::newRow("amplitude") << 5;
}

void TestPictureBox::m20LegendBesideImage()
{
    QFETCH(int, mode);
    useM20();
    PictureBox box;
    box.resize(800, 500);
    box.setDisplayMode(mode);
    const QRgb green = qRgb(0, 160, 0);
    QImage image = filledImage(320, 240, green);
    box.setImage(image);
    const QImage shot = box.grab().toImage().convertToFormat(QImage::Format_RGB32);

    const double s = box.scale();
    const QRect imageArea(box.offset(), QSize(qFloor(320 * s), qFloor(240 * s)));
    // Every pixel of the image area shows the image (one pixel of edge blending aside).
    for (int y = imageArea.top() + 1; y < imageArea.bottom(); ++y) {
        for (int x = imageArea.left() + 1; x < imageArea.right(); ++x) {
            if (shot.pixel(x, y) != green)
                QFAIL(qPrintable(QStringLiteral("image covered at %1,%2").arg(x).arg(y)));
        }
    }

    // The bar lies right of the image, the labels right of the bar, over the
    // whole image height (the lowest label sits near the bottom).
    const int barX = imageArea.right() + qRound(6 * s);
    QCOMPARE(shot.pixel(barX, imageArea.top() + 2), qRgb(255, 0, 128));
    QVERIFY(shot.pixel(barX, imageArea.center().y()) != white);
    int lowestText = -1;
    for (int y = imageArea.top(); y < shot.height(); ++y) {
        for (int x = imageArea.right() + qRound(16 * s); x < shot.width(); ++x) {
            if (qGray(shot.pixel(x, y)) < 128)
                lowestText = y;
        }
    }
    QVERIFY(lowestText > imageArea.top() + imageArea.height() * 3 / 4);
}

QTEST_MAIN(TestPictureBox)
#include "tst_views_picturebox.moc"
