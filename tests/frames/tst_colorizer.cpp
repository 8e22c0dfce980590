#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"

#include <QtTest>

namespace {

QRgb rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

} // namespace

class TestColorizer : public QObject
{
    Q_OBJECT

private slots:
    void paletteAnchors();
    void amplitudeColors();
    void depthColors();
    void grayLevels();
    void emptyRange();
    void framesMatchPerPixelColouring_data();
    void framesMatchPerPixelColouring();
    void pointCloudFramesUseDepthColours();
    void grayscaleInputs();

private:
    ImageColorizer map;
};

void TestColorizer::paletteAnchors()
{
    QCOMPARE(map.paletteColor(0).rgb(), rgb(0, 0, 127));
    QCOMPARE(map.paletteColor(749).rgb(), rgb(0, 0, 254));
    QCOMPARE(map.paletteColor(750).rgb(), rgb(0, 0, 255));
    QCOMPARE(map.paletteColor(2250).rgb(), rgb(0, 255, 255));
    QCOMPARE(map.paletteColor(3750).rgb(), rgb(255, 255, 0));
    QCOMPARE(map.paletteColor(5999).rgb(), rgb(191, 0, 0));
}

void TestColorizer::amplitudeColors()
{
    map.setRange(0, 2800);
    const int kind = ImageColorizer::AmplitudeColors;
    QCOMPARE(map.valueToColor(1, kind), map.paletteColor(1));
    QCOMPARE(map.valueToColor(2800, kind), map.paletteColor(5999));
    QCOMPARE(map.valueToColor(2801, kind).rgb(), rgb(0, 0, 0));
    QCOMPARE(map.valueToColor(0, kind), map.paletteColor(0));
    QCOMPARE(map.valueToColor(-1, kind).rgb(), rgb(0, 0, 0));
    QCOMPARE(map.valueToColor(65300, kind).rgb(), rgb(0, 0, 0));
    QCOMPARE(map.valueToColor(65400, kind).rgb(), rgb(255, 0, 128));
    QCOMPARE(map.valueToColor(65500, kind).rgb(), rgb(169, 14, 255));
    QCOMPARE(map.valueToColor(30000, kind).rgb(), rgb(0, 0, 0));
}

void TestColorizer::depthColors()
{
    map.setRange(0, 9000);
    const int kind = ImageColorizer::DepthColors;
    QCOMPARE(map.valueToColor(1, kind), map.paletteColor(5999));
    QCOMPARE(map.valueToColor(9000, kind), map.paletteColor(0));
    QCOMPARE(map.valueToColor(9001, kind).rgb(), rgb(0, 0, 0));
    QCOMPARE(map.valueToColor(65400, kind).rgb(), rgb(255, 0, 128));
    QCOMPARE(map.valueToColor(0, kind), map.paletteColor(0));
}

void TestColorizer::grayLevels()
{
    map.setRange(0, 255);
    for (int kind : { int(ImageColorizer::GrayLevels), 0, 7 }) {
        QCOMPARE(map.valueToColor(255, kind).rgb(), rgb(255, 255, 255));
        QCOMPARE(map.valueToColor(256, kind).rgb(), rgb(255, 255, 255));
        QCOMPARE(map.valueToColor(-1, kind).rgb(), rgb(0, 0, 0));
        QCOMPARE(map.valueToColor(100, kind).rgb(), rgb(100, 100, 100));
        QCOMPARE(map.valueToColor(65300, kind).rgb(), rgb(255, 255, 255));
        QCOMPARE(map.valueToColor(65500, kind).rgb(), rgb(169, 14, 255));
    }
    // A range wider than 255 scales down.
    map.setRange(0, 510);
    QCOMPARE(map.valueToColor(255, ImageColorizer::GrayLevels).rgb(), rgb(127, 127, 127));
}

void TestColorizer::emptyRange()
{
    // Scales fall back to 6000 and 255 for a span below 1.
    map.setRange(5, 5);
    QCOMPARE(map.valueToColor(6, ImageColorizer::AmplitudeColors), map.paletteColor(5999));
    QCOMPARE(map.valueToColor(5, ImageColorizer::AmplitudeColors), map.paletteColor(0));
    QCOMPARE(map.valueToColor(6, ImageColorizer::DepthColors), map.paletteColor(0));
    QCOMPARE(map.valueToColor(5, ImageColorizer::DepthColors), map.paletteColor(5999));
    QCOMPARE(map.valueToColor(5, ImageColorizer::GrayLevels).isValid(), true);
}

void TestColorizer::framesMatchPerPixelColouring_data()
{
    QTest::addColumn<int>("frameMode");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("kind");
    QTest::newRow("amplitude") << 0 << 2800 << int(ImageColorizer::AmplitudeColors);
    QTest::newRow("depth") << 1 << 9000 << int(ImageColorizer::DepthColors);
    QTest::newRow("grayscale") << 2 << 255 << int(ImageColorizer::GrayLevels);
}

void TestColorizer::framesMatchPerPixelColouring()
{
    QFETCH(int, frameMode);
    QFETCH(int, range);
    QFETCH(int, kind);
    // Every 16-bit value once, as a 256 x 256 frame.
    const int width = 256;
    const int height = 256;
    QVector<quint16> values(width * height);
    for (int i = 0; i < values.size(); ++i)
        values[i] = quint16(i);
    const QByteArray block = FrameFormat::encode(values.constData(), values.size(), 416, 0);

    ImageColorizer tableSource;
    FrameColorizer colorizer(&tableSource);
    QVector<quint16> decoded(values.size());
    QImage image;
    colorizer.decode(block.constData(), width, height, frameMode, decoded.data(), &image);
    QCOMPARE(decoded, values);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(width, height));

    // The straightforward way: one colour map call and one setPixel per pixel.
    ImageColorizer reference;
    QImage expected(width, height, QImage::Format_RGB888);
    for (int i = 0; i < values.size(); ++i) {
        reference.setRange(0, range);
        const int v = frameMode == 2 ? (int(values[i]) - 2048) >> 3 : values[i];
        expected.setPixel(i % width, i / width, reference.valueToColor(v, kind).rgb());
    }
    for (int i = 0; i < values.size(); ++i) {
        if (image.pixel(i % width, i / width) != expected.pixel(i % width, i / width))
            QFAIL(qPrintable(QStringLiteral("value %1 coloured differently").arg(i)));
    }
    QCOMPARE(tableSource.maximum(), range);

    // paint() gives the same picture from decoded values.
    QImage painted(width, height, QImage::Format_RGB888);
    colorizer.paint(values.constData(), width, height, frameMode, &painted);
    QCOMPARE(painted, image);
}

void TestColorizer::pointCloudFramesUseDepthColours()
{
    ImageColorizer source;
    FrameColorizer colorizer(&source);
    for (quint16 v : { 0, 1, 2000, 9000, 9001, 30000, 65300, 65400, 65500 })
        QCOMPARE(colorizer.color(FrameColorizer::PointCloud, v), colorizer.color(FrameColorizer::Depth, v));
}

void TestColorizer::grayscaleInputs()
{
    ImageColorizer source;
    FrameColorizer colorizer(&source);
    QCOMPARE(FrameColorizer::colorInput(2, 2040), -1);
    QCOMPARE(FrameColorizer::colorInput(2, 0), -256);
    QCOMPARE(colorizer.color(2, 2048), rgb(0, 0, 0));
    QCOMPARE(colorizer.color(2, 2056), rgb(1, 1, 1));
    QCOMPARE(colorizer.color(2, 4088), rgb(255, 255, 255));
    QCOMPARE(colorizer.color(2, 4096), rgb(255, 255, 255));
    // Raw 65400 and 65500 are far above the gray range once shifted.
    QCOMPARE(colorizer.color(2, 65400), rgb(255, 255, 255));
}

QTEST_GUILESS_MAIN(TestColorizer)
#include "tst_colorizer.moc"
