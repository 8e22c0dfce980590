// Frame pictures and values: the colour maps and the depth filter. The stream
// itself is checked by the frames fuzz property and, end to end, by tst_liveview.
#include "frames/DepthFilter.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"

#include <QtTest>

#include <cmath>
#include <numeric>

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void colours_data();
    void colours();
    void framesMatchPerPixelColouring();
    void depthFilter_data();
    void depthFilter();
};

void TestFrames::colours_data()
{
    QTest::addColumn<int>("kind"); // -1: palette entry `value`; 10 + mode: FrameColorizer
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("palette"); // expected palette entry, or -1 for `rgb`
    QTest::addColumn<uint>("rgb");
    const int amplitude = ImageColorizer::AmplitudeColors, depth = ImageColorizer::DepthColors;
    const int gray = ImageColorizer::GrayLevels;
    for (const auto &p : { qMakePair(0, qRgb(0, 0, 127)), qMakePair(749, qRgb(0, 0, 254)),
             qMakePair(2250, qRgb(0, 255, 255)), qMakePair(3000, qRgb(127, 255, 127)),
             qMakePair(3750, qRgb(255, 255, 0)), qMakePair(5999, qRgb(191, 0, 0)) })
        QTest::addRow("palette %d", p.first) << -1 << 0 << 0 << p.first << -1 << uint(p.second);
    QTest::newRow("amplitude 1") << amplitude << 0 << 2800 << 1 << 1 << 0u;
    QTest::newRow("amplitude max") << amplitude << 0 << 2800 << 2800 << 5999 << 0u;
    QTest::newRow("amplitude above") << amplitude << 0 << 2800 << 2801 << -1 << qRgb(0, 0, 0);
    QTest::newRow("amplitude 0") << amplitude << 0 << 2800 << 0 << 0 << 0u;
    QTest::newRow("amplitude 65300") << amplitude << 0 << 2800 << 65300 << -1 << qRgb(0, 0, 0);
    QTest::newRow("amplitude 65400") << amplitude << 0 << 2800 << 65400 << -1 << qRgb(255, 0, 128);
    QTest::newRow("amplitude 65500") << amplitude << 0 << 2800 << 65500 << -1 << qRgb(169, 14, 255);
    QTest::newRow("depth near") << depth << 0 << 9000 << 1 << 5999 << 0u;
    QTest::newRow("depth max") << depth << 0 << 9000 << 9000 << 0 << 0u;
    QTest::newRow("depth above") << depth << 0 << 9000 << 9001 << -1 << qRgb(0, 0, 0);
    QTest::newRow("gray 100") << gray << 0 << 255 << 100 << -1 << qRgb(100, 100, 100);
    QTest::newRow("gray max") << gray << 0 << 255 << 255 << -1 << qRgb(255, 255, 255);
    QTest::newRow("gray max, range from -255") << gray << -255 << 255 << 255 << -1 << qRgb(127, 127, 127);
    QTest::newRow("gray above") << gray << -255 << 255 << 256 << -1 << qRgb(255, 255, 255);
    QTest::newRow("gray below") << gray << 0 << 255 << -1 << -1 << qRgb(0, 0, 0);
    QTest::newRow("gray 65300") << gray << 0 << 255 << 65300 << -1 << qRgb(255, 255, 255);
    QTest::newRow("gray 65500") << gray << 0 << 255 << 65500 << -1 << qRgb(169, 14, 255);
    QTest::newRow("gray scaled") << gray << 0 << 510 << 255 << -1 << qRgb(127, 127, 127);
    QTest::newRow("raw gray 2048") << 12 << 0 << 0 << 2048 << -1 << qRgb(0, 0, 0);
    QTest::newRow("raw gray 2056") << 12 << 0 << 0 << 2056 << -1 << qRgb(1, 1, 1);
    QTest::newRow("raw gray 4088") << 12 << 0 << 0 << 4088 << -1 << qRgb(255, 255, 255);
    QTest::newRow("raw gray 65400") << 12 << 0 << 0 << 65400 << -1 << qRgb(255, 255, 255);
}

void TestFrames::colours()
{
    QFETCH(int, kind);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(int, palette);
    QFETCH(uint, rgb);
    ImageColorizer map;
    FrameColorizer frames(&map);
    map.setRange(minimum, maximum);
    const QRgb got = kind < 0 ? map.paletteColor(value).rgb()
        : kind >= 10          ? frames.color(kind - 10, quint16(value))
                              : map.valueToColor(value, kind).rgb();
    QCOMPARE(got, palette >= 0 ? map.paletteColor(palette).rgb() : QRgb(rgb));
}

void TestFrames::framesMatchPerPixelColouring()
{
    // Every 16-bit value once, as a 256 x 256 frame.
    QVector<quint16> values(256 * 256);
    std::iota(values.begin(), values.end(), quint16(0));
    const QByteArray block = FrameFormat::encode(values.constData(), values.size(), 416, 0);
    // Amplitude, depth and grayscale: the colour map kind and range of each frame mode.
    const int kinds[]
        = { ImageColorizer::AmplitudeColors, ImageColorizer::DepthColors, ImageColorizer::GrayLevels };
    const int ranges[] = { 2800, 9000, 255 };
    for (int frameMode = 0; frameMode < 3; ++frameMode) {
        ImageColorizer tableSource;
        FrameColorizer colorizer(&tableSource);
        QVector<quint16> decoded(values.size());
        QImage image;
        colorizer.decode(block.constData(), 256, 256, frameMode, decoded.data(), &image);
        QCOMPARE(decoded, values);
        // The straightforward way: one colour map call per pixel.
        ImageColorizer reference;
        reference.setRange(0, ranges[frameMode]);
        for (int i = 0; i < values.size(); ++i) {
            const int v = frameMode == 2 ? (int(values[i]) - 2048) >> 3 : values[i];
            if (image.pixel(i % 256, i / 256) != reference.valueToColor(v, kinds[frameMode]).rgb())
                QFAIL(qPrintable(
                    QStringLiteral("mode %1: value %2 coloured differently").arg(frameMode).arg(i)));
        }
        QImage painted(256, 256, QImage::Format_RGB888);
        colorizer.paint(values.constData(), 256, 256, frameMode, &painted);
        QCOMPARE(painted, image);
    }
}

void TestFrames::depthFilter_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<int>>("input"); // one pixel, frame after frame
    QTest::addColumn<QVector<int>>("output"); // -1: not checked
    QTest::addColumn<double>("estimate"); // after the last frame, NaN: not checked
    QTest::newRow("disabled") << int(DepthFilter::Disabled) << QVector<int> { 0, 1000, 29999, 65300 }
                              << QVector<int> { 0, 1000, 29999, 65300 } << std::nan("");
    // Invalid values feed no state: 300 from the zero start is pulled to 0.1 x 300.
    QTest::newRow("simple, invalid values")
        << int(DepthFilter::Simple) << QVector<int> { 30000, 65300, 65400, 65500, 65535, 300 }
        << QVector<int> { 30000, 65300, 65400, 65500, 65535, 30 } << 30.0;
    // A jump of more than 500 takes the sample, exactly 500 is smoothed; truncated.
    QTest::newRow("simple") << int(DepthFilter::Simple) << QVector<int> { 1000, 1004, 1505, 2005, 1564 }
                            << QVector<int> { 1000, 1000, 1505, 1555, 1555 } << 0.9 * 1555 + 156.4;
    // Statistics restart at a reset (K = 1); n = 2: R = 200, P' = 2, K = 2 / 202.
    QTest::newRow("normal") << int(DepthFilter::Normal) << QVector<int> { 65300, 1000, 1010, 1020, 1000 }
                            << QVector<int> { 65300, 1000, 1010, 1020, 1020 } << 1020 - 20 * 2.0 / 202;
    // Past 10 samples the gate is 6 x sqrt(R): a change of 200 restarts the pixel.
    QVector<int> steady { 1000 };
    for (int k = 0; k < 101; ++k)
        steady << (k % 2 ? 1010 : 1000);
    QTest::newRow("normal gate") << int(DepthFilter::Normal) << steady + QVector<int> { 1200, 1700 }
                                 << QVector<int>(steady.size(), -1) + QVector<int> { 1200, 1700 } << 1700.0;
    // Gain 1 unseen, 0.1 unchanged, 0.1 / d otherwise; rounded.
    QTest::newRow("complex") << int(DepthFilter::Complex)
                             << QVector<int> { 30000, 1000, 1000, 1004, 1004, 1009, 2000 }
                             << QVector<int> { 30000, 1000, 1000, 1000, 1000, 1001, 2000 } << 2000.0;
}

void TestFrames::depthFilter()
{
    QFETCH(int, mode);
    QFETCH(QVector<int>, input);
    QFETCH(QVector<int>, output);
    QFETCH(double, estimate);
    DepthFilter filter(1);
    filter.setMode(mode);
    QVector<int> got;
    for (int i = 0; i < input.size(); ++i) {
        quint16 v = quint16(input[i]);
        filter.filterFrame(&v);
        got << (output[i] < 0 ? -1 : v);
    }
    QCOMPARE(got, output);
    if (!std::isnan(estimate))
        QVERIFY(qAbs(filter.estimate(0) - estimate) < 1e-9);
    // Another mode keeps the estimate, with fresh statistics.
    const double kept = filter.estimate(0);
    filter.setMode(DepthFilter::Normal);
    QCOMPARE(filter.sampleCount(0), 0);
    QCOMPARE(filter.estimate(0), kept);
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
