// The picture, its pixel inspector and the range slider.
#include "SensorGeometry.h"
#include "views/PictureBox.h"
#include "views/RangeSlider.h"
#include "views/ShowPoint.h"

#include <QMouseEvent>
#include <QtTest>

namespace {

const QRgb marker = qRgb(128, 0, 128);
const QRgb white = qRgb(255, 255, 255);
const int NoMove = -1000;

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
    void clickSelectsPixel_data();
    void clickSelectsPixel();
    void flipsAndOffset();
    void sensorChangeKeepsReadoutInside();
    void sliderRange();
    void sliderMouse_data();
    void sliderMouse();
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
    useSensor(160, 60);
    ShowPoint inspector;
    inspector.showValue(0, 77);
    inspector.showValue(quint8(frameType), value);
    QCOMPARE(inspector.valueText(), text);
}

void TestViews::clickSelectsPixel_data()
{
    QTest::addColumn<QPoint>("click"); // widget position; the image is fitted into 400 x 300
    QTest::addColumn<QPoint>("selected");
    QTest::addColumn<QRect>("block"); // the marker
    QTest::newRow("inside") << QPoint(23, 93) << QPoint(10, 5) << QRect(9, 4, 2, 2);
    QTest::newRow("top-left margin") << QPoint(1, 1) << QPoint(0, 0) << QRect(0, 0, 2, 2);
    QTest::newRow("legend") << QPoint(395, 150) << QPoint(159, 30) << QRect(158, 29, 2, 2);
    QTest::newRow("bottom right") << QPoint(399, 299) << QPoint(159, 59) << QRect(158, 58, 2, 2);
}

void TestViews::clickSelectsPixel()
{
    QFETCH(QPoint, click);
    QFETCH(QPoint, selected);
    QFETCH(QRect, block);
    useSensor(160, 60);
    PictureBox box;
    box.resize(400, 300);
    box.setDisplayMode(2);
    QImage first = filledImage(160, 60, white);
    box.setImage(first);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
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
    useSensor(160, 60);
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
    const auto read = [&](quint8 type, int offset, const quint16 *values) {
        box.updatePointValue(type, values, offset);
        return box.inspector()->valueText();
    };
    frame[54 * 160 + 149] = 2000;
    QCOMPARE(read(1, 0, frame.constData()), QStringLiteral("100  CM"));
    box.setFlipVertical(false);
    frame[5 * 160 + 149] = 4000;
    QCOMPARE(read(1, 0, frame.constData()), QStringLiteral("200  CM"));
    // The distance offset counts twice and the readout never drops below 10.
    box.setFlipHorizontal(false);
    QCOMPARE(read(0, 300, frame.constData()), QStringLiteral("400  LSB"));
    QCOMPARE(read(1, 800, frame.constData()), QStringLiteral("0  CM"));
    // Nothing to read: the shared buffer of a removed camera.
    QCOMPARE(read(0, 0, nullptr), QStringLiteral("0  CM"));
}

// A point chosen on the 320 x 240 sensor, then frames of the 160 x 60 one.
void TestViews::sensorChangeKeepsReadoutInside()
{
    useSensor(320, 240);
    PictureBox box;
    box.inspector()->setShowLabel(true);
    box.inspector()->setPoint(300, 200);
    useSensor(160, 60);
    QImage image = filledImage(160, 60, white);
    QVERIFY(box.setImage(image));
    QCOMPARE(image.pixel(159, 59), marker);
    deviceState().frameBuffer.last() = 1234;
    box.updatePointValue(0, deviceState().frameBuffer.constData(), 0);
    QCOMPARE(box.point(), QPoint(159, 59));
    QCOMPARE(box.inspector()->valueText(), QStringLiteral("1234  LSB"));
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

void TestViews::sliderMouse_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("range");
    QTest::addColumn<QPoint>("values"); // lower, upper
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<int>("moveTo"); // NoMove: a click
    QTest::addColumn<QPoint>("expected");
    const auto row = [](const char *name, QPoint range, QPoint values, QPoint press, int moveTo,
                         QPoint expected, QSize size = QSize(295, 30)) {
        QTest::newRow(name) << size << range << values << press << moveTo << expected;
    };
    // Handles at 136 and 147 for 4000/4000 of 8000; at 1 and 283 for 0/8000.
    const QPoint all(0, 8000);
    row("left steps a tenth", all, { 4000, 8000 }, { 50, 15 }, NoMove, { 3200, 8000 });
    row("left stops at the minimum", all, { 500, 8000 }, { 5, 15 }, NoMove, { 0, 8000 });
    row("range 0-5 steps by 1", { 0, 5 }, { 3, 5 }, { 50, 15 }, NoMove, { 2, 5 });
    row("right steps a tenth", all, { 0, 4000 }, { 200, 15 }, NoMove, { 0, 4800 });
    row("right stops at the maximum", all, { 0, 7900 }, { 294, 15 }, NoMove, { 0, 8000 });
    row("on a handle: no step", all, { 4000, 8000 }, { 140, 15 }, NoMove, { 4000, 8000 });
    row("between, nearer the first", all, all, { 147, 15 }, NoMove, { 800, 8000 });
    row("between, middle goes to second", all, all, { 148, 15 }, NoMove, { 0, 7200 });
    row("first stops at upper", all, { 7500, 8000 }, { 268, 15 }, NoMove, { 8000, 8000 });
    row("below the bar", all, { 4000, 4000 }, { 250, 29 }, NoMove, { 4000, 4000 });
    // Dragged from 2 px right of a handle's centre: trunc(135 / 271 * 8000).
    row("first handle dragged", all, all, { 6, 15 }, 141, { 3985, 8000 });
    row("first handle stops at the second", all, all, { 6, 15 }, 290, { 8000, 8000 });
    row("first handle stops at the minimum", all, all, { 6, 15 }, -50, { 0, 8000 });
    row("second handle dragged", all, all, { 290, 15 }, 154, { 0, 3985 });
    row("second handle stops at the first", all, { 0, 8000 }, { 290, 15 }, 10, { 0, 0 });
    // An empty range has nowhere to move, and no movable length does not divide by zero.
    for (int x : { 0, 6, 17, 294 })
        row(qPrintable(QString("empty range, from %1").arg(x)), { 5, 5 }, { 5, 5 }, { x, 15 }, x + 40,
            { 5, 5 });
    row("no movable length", { 0, 100 }, { 0, 100 }, { 6, 5 }, 20, { 100, 100 }, QSize(24, 11));
}

void TestViews::sliderMouse()
{
    QFETCH(QSize, size);
    QFETCH(QPoint, range);
    QFETCH(QPoint, values);
    QFETCH(QPoint, press);
    QFETCH(int, moveTo);
    RangeSlider slider(nullptr);
    slider.resize(size);
    slider.setRange(range.x(), range.y());
    slider.setLowerValue(values.x());
    slider.setUpperValue(values.y());
    mouse(slider, QEvent::MouseButtonPress, press.x(), press.y());
    if (moveTo != NoMove)
        mouse(slider, QEvent::MouseMove, moveTo, press.y());
    mouse(slider, QEvent::MouseButtonRelease, moveTo != NoMove ? moveTo : press.x(), press.y());
    QTEST(QPoint(slider.lowerValue(), slider.upperValue()), "expected");
    slider.grab();
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"
