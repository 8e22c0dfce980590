// The picture, its pixel inspector and the range slider.
#include "SensorGeometry.h"
#include "views/PictureBox.h"
#include "views/PictureGeometry.h"
#include "views/RangeSlider.h"
#include "views/ShowPoint.h"

#include <QMouseEvent>
#include <QPainter>
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

void mouse(RangeSlider &slider, QEvent::Type type, int x, int y = 15)
{
    const QPoint pos(x, y);
    QMouseEvent event(type, pos, slider.mapToGlobal(pos), Qt::LeftButton,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &event);
}

} // namespace

class TestViews : public QObject
{
    Q_OBJECT

private slots:
    void valueTexts_data();
    void valueTexts();
    void fit_data();
    void fit();
    void clickSelectsPixel_data();
    void clickSelectsPixel();
    void flipsAndOffset();
    void sensorChangeKeepsReadoutInside();
    void legend();
    void sliderRange();
    void sliderPress_data();
    void sliderPress();
    void sliderDrag();
};

void TestViews::valueTexts_data()
{
    QTest::addColumn<int>("frameType");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("depth invalid") << 1 << 30000 << "NA";
    QTest::newRow("depth last valid") << 1 << 29999 << "1499  CM";
    QTest::newRow("point cloud") << 3 << 2000 << "100  CM";
    QTest::newRow("amplitude") << 0 << 1234 << "1234  LSB";
    QTest::newRow("grayscale below 2048") << 2 << 2000 << "-48  LUM";
    QTest::newRow("unknown type keeps the text") << 4 << 1000 << "77  LSB";
}

void TestViews::valueTexts()
{
    QFETCH(int, frameType);
    QFETCH(int, value);
    QFETCH(QString, text);
    useM10();
    ShowPoint inspector;
    inspector.showValue(0, 77);
    inspector.showValue(quint8(frameType), value);
    QCOMPARE(inspector.valueText(), text);
}

void TestViews::fit_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QSize>("widget");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("offset");
    QTest::newRow("depth, legend") << 2 << QSize(400, 200) << 400.0 / 176 << QPoint(0, 31);
    QTest::newRow("grayscale") << 6 << QSize(400, 200) << 2.5 << QPoint(0, 25);
    QTest::newRow("depth tall") << 2 << QSize(176, 600) << 1.0 << QPoint(0, 270);
    QTest::newRow("amplitude, legend") << 5 << QSize(640, 480) << 640.0 / 176 << QPoint(0, 130);
}

void TestViews::fit()
{
    QFETCH(int, mode);
    QFETCH(QSize, widget);
    QFETCH(double, scale);
    QFETCH(QPoint, offset);
    const PictureGeometry::Fit f
        = PictureGeometry::fit(widget, QSize(160, 60), PictureGeometry::legendFactor(mode));
    QVERIFY(qAbs(f.scale - scale) < 1e-9);
    QCOMPARE(QPoint(f.offsetX, f.offsetY), offset);
    QCOMPARE(PictureGeometry::fit(QSize(20000, 20000), QSize(10, 10), 1.0).scale, 100.0);
    QCOMPARE(PictureGeometry::fit(QSize(1, 1), QSize(320, 240), 1.1).scale, 0.01);
}

void TestViews::clickSelectsPixel_data()
{
    QTest::addColumn<QPoint>("click"); // widget position; the image is fitted into 400 x 300
    QTest::addColumn<QPoint>("selected");
    QTest::addColumn<QRect>("block"); // the marker
    QTest::newRow("inside") << QPoint(-1, -1) << QPoint(10, 5) << QRect(9, 4, 2, 2);
    QTest::newRow("top-left margin") << QPoint(1, 1) << QPoint(0, 0) << QRect(0, 0, 2, 2);
    QTest::newRow("legend") << QPoint(395, 150) << QPoint(159, 30) << QRect(158, 29, 2, 2);
    QTest::newRow("bottom right") << QPoint(399, 299) << QPoint(159, 59) << QRect(158, 58, 2, 2);
}

void TestViews::clickSelectsPixel()
{
    QFETCH(QPoint, click);
    QFETCH(QPoint, selected);
    QFETCH(QRect, block);
    useM10();
    PictureBox box;
    box.resize(400, 300);
    box.setDisplayMode(2);
    QImage first = filledImage(160, 60, white);
    box.setImage(first);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    if (click.x() < 0) // the widget position of pixel (10, 5)
        click = (box.offset() + QPointF(10, 5) * box.scale()).toPoint();
    box.inspector()->setShowLabel(true);
    QTest::mouseClick(&box, Qt::LeftButton, {}, click);
    QCOMPARE(box.inspector()->point(), selected);
    QCOMPARE(box.point(), selected);
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 160; ++x)
            QCOMPARE(image.pixel(x, y) == marker, block.contains(x, y));
    // Each value names its own position.
    QVector<quint16> frame(160 * 60);
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = quint16(20 * (i % 1000) + 20);
    box.updatePointValue(1, frame.constData(), 0);
    QCOMPARE(
        box.inspector()->valueText(), ShowPoint::formatValue(1, frame[selected.y() * 160 + selected.x()]));
    box.inspector()->setPoint(42, 17);
    QCOMPARE(box.point(), QPoint(42, 17));
}

void TestViews::flipsAndOffset()
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
    QVector<quint16> frame(160 * 60, 1000);
    frame[54 * 160 + 149] = 2000;
    box.updatePointValue(1, frame.constData(), 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("100  CM"));
    box.setFlipVertical(false);
    frame[5 * 160 + 149] = 4000;
    box.updatePointValue(1, frame.constData(), 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("200  CM"));
    // The distance offset counts twice and the readout never drops below 10.
    box.setFlipHorizontal(false);
    box.updatePointValue(0, frame.constData(), 300);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("400  LSB"));
    box.updatePointValue(1, frame.constData(), 800);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("0  CM"));
    // Nothing to read: the shared buffer of a removed camera.
    box.updatePointValue(0, nullptr, 0);
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("0  CM"));
}

void TestViews::sensorChangeKeepsReadoutInside()
{
    // A point chosen on the 320 x 240 sensor, then frames of the 160 x 60 one.
    useM20();
    PictureBox box;
    box.inspector()->setShowLabel(true);
    box.inspector()->setPoint(300, 200);
    useM10();
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image));
    QCOMPARE(image.pixel(159, 59), marker);
    deviceState().frameBuffer.last() = 1234;
    box.updatePointValue(0, deviceState().frameBuffer.constData(), 0);
    QCOMPARE(box.point(), QPoint(159, 59));
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("1234  LSB"));
}

// The legend leaves the picture alone: the special codes on top, the hue ramp
// running from far (blue) to near (red) for depth and the other way for amplitude.
void TestViews::legend()
{
    for (int mode : { 2, 5, 6 }) {
        QImage canvas(176, 62, QImage::Format_RGB32);
        canvas.fill(white);
        QPainter painter(&canvas);
        PictureGeometry::drawLegend(painter, mode, QSize(160, 60));
        painter.end();
        QCOMPARE(
            canvas.copy(0, 0, 160, 60), filledImage(160, 60, white).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(canvas.pixel(161, 1), mode == 6 ? white : qRgb(255, 0, 128)); // grayscale has none
        if (mode != 6)
            QCOMPARE(
                canvas.pixel(163, mode == 2 ? 56 : 60), QColor::fromHsvF(mode == 2 ? 0 : 0.7, 1, 1).rgb());
    }
}

void TestViews::sliderRange()
{
    RangeSlider slider(nullptr);
    QStringList log;
    connect(
        &slider, &RangeSlider::lowerValueChanged, this, [&](int v) { log << QString("lower %1").arg(v); });
    connect(
        &slider, &RangeSlider::upperValueChanged, this, [&](int v) { log << QString("upper %1").arg(v); });
    connect(&slider, &RangeSlider::rangeChanged, this,
        [&](int a, int b) { log << QString("range %1 %2").arg(a).arg(b); });
    slider.setRange(0, 8000);
    QCOMPARE(log,
        QStringList({ "lower 0", "upper 3000", "range 0 3000", "lower 0", "upper 8000", "range 0 8000" }));
    log.clear();
    slider.setMaximum(-100); // below the minimum: the ends swap roles
    QCOMPARE(log, QStringList({ "lower -100", "upper 0", "range -100 0" }));
    slider.setLowerValue(9000);
    QCOMPARE(slider.lowerValue(), 0);
    // The selection is painted between the handles.
    slider.resize(295, 30);
    slider.setRange(0, 8000);
    QCOMPARE(slider.grab().toImage().pixelColor(150, 14), QColor(30, 144, 255));
}

void TestViews::sliderPress_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<int>("expectedLower");
    QTest::addColumn<int>("expectedUpper");
    // Handles at 136 and 147 for 4000/4000 of 8000; at 1 and 283 for 0/8000.
    QTest::newRow("left steps a tenth") << 8000 << 4000 << 8000 << QPoint(50, 15) << 3200 << 8000;
    QTest::newRow("left stops at the minimum") << 8000 << 500 << 8000 << QPoint(5, 15) << 0 << 8000;
    QTest::newRow("range 0-5 steps by 1") << 5 << 3 << 5 << QPoint(50, 15) << 2 << 5;
    QTest::newRow("right steps a tenth") << 8000 << 0 << 4000 << QPoint(200, 15) << 0 << 4800;
    QTest::newRow("right stops at the maximum") << 8000 << 0 << 7900 << QPoint(294, 15) << 0 << 8000;
    QTest::newRow("on a handle: no step") << 8000 << 4000 << 8000 << QPoint(140, 15) << 4000 << 8000;
    QTest::newRow("between, nearer the first") << 8000 << 0 << 8000 << QPoint(147, 15) << 800 << 8000;
    QTest::newRow("between, middle goes to second") << 8000 << 0 << 8000 << QPoint(148, 15) << 0 << 7200;
    QTest::newRow("first stops at upper") << 8000 << 7500 << 8000 << QPoint(268, 15) << 8000 << 8000;
    QTest::newRow("below the bar") << 8000 << 4000 << 4000 << QPoint(250, 29) << 4000 << 4000;
}

void TestViews::sliderPress()
{
    QFETCH(int, maximum);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QPoint, press);
    RangeSlider slider(nullptr);
    slider.resize(295, 30);
    slider.setRange(0, maximum);
    slider.setLowerValue(lower);
    slider.setUpperValue(upper);
    mouse(slider, QEvent::MouseButtonPress, press.x(), press.y());
    mouse(slider, QEvent::MouseButtonRelease, press.x(), press.y());
    QTEST(slider.lowerValue(), "expectedLower");
    QTEST(slider.upperValue(), "expectedUpper");
}

void TestViews::sliderDrag()
{
    RangeSlider slider(nullptr);
    slider.resize(295, 30);
    slider.setRange(0, 8000);
    // Each handle from 2 px right of its centre; (x, value) after each move.
    const auto drag = [&](int from, const QVector<QPoint> &moves, bool second) {
        mouse(slider, QEvent::MouseButtonPress, from);
        for (const QPoint &m : moves) {
            mouse(slider, QEvent::MouseMove, m.x());
            QCOMPARE(second ? slider.upperValue() : slider.lowerValue(), m.y());
        }
        mouse(slider, QEvent::MouseButtonRelease, moves.last().x());
    };
    // trunc(135 / 271 * 8000); beyond the other handle it stops at its value.
    drag(6, { { 141, 3985 }, { 290, 8000 }, { -50, 0 } }, false);
    drag(290, { { 154, 3985 }, { 10, 0 } }, true);
    // An empty range has nowhere to move, and no movable length does not divide by zero.
    slider.setRange(5, 5);
    for (int x : { 0, 6, 17, 294 })
        drag(x, { { x + 40, 5 } }, x > 17);
    slider.resize(24, 11);
    slider.setRange(0, 100);
    mouse(slider, QEvent::MouseButtonPress, 6, 5);
    mouse(slider, QEvent::MouseMove, 20, 5);
    QCOMPARE(slider.lowerValue(), 100);
    slider.grab();
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"
