// Frame pictures and values: the colour maps, the depth filter, and the
// simulated camera's stream read straight from its port through the framer.
#include "frames/DepthFilter.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/WindowTestSupport.h"

#include <QSerialPort>
#include <QtTest>

#include <cmath>
#include <numeric>

using namespace WindowTest;

namespace {

// A simulator's frames as read from its port; it numbers them in the unused trailer byte.
struct PortReader
{
    struct Received
    {
        quint8 number, status;
        quint16 temperature;
        QVector<quint16> pixels;
    };
    QSerialPort port;
    FrameFramer framer;
    int pixelCount = 0;
    QVector<Received> frames;

    bool open(const QString &path, int pixels)
    {
        pixelCount = pixels;
        framer.setFrameLength(FrameFormat::frameBytes(pixels));
        port.setPortName(path);
        QObject::connect(&port, &QSerialPort::readyRead, [this] { read(); });
        return port.open(QIODevice::ReadWrite);
    }
    void read()
    {
        framer.append(port.readAll());
        for (FrameFramer::Frame f; framer.nextFrame(&f);) {
            frames.append({ quint8(f.data[2 * pixelCount + 2]), FrameFormat::status(f.data, pixelCount),
                FrameFormat::temperatureRaw(f.data, pixelCount), QVector<quint16>(pixelCount) });
            FrameFormat::readPixels(f.data, pixelCount, frames.last().pixels.data());
        }
    }
    // Stops the stream and reads up to its last frame.
    bool stop(SimProcess &sim)
    {
        port.write("##\x03");
        if (!waitUntil([&] { return sim.waitForEvent("stream stopped", 0); }, 5000))
            return false;
        WindowTest::pump(300);
        read();
        return true;
    }
};

// Written here, not with the device link's encoder, so that the simulator's decoding is checked on its own.
QByteArray parameter(char prefix, int value)
{
    return QByteArray(2, prefix) + char(value / 256) + char(value - 256 * (value / 256));
}

} // namespace

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { isolateRegistry(); }
    void colours_data();
    void colours();
    void framesMatchPerPixelColouring_data();
    void framesMatchPerPixelColouring();
    void depthFilter_data();
    void depthFilter();
    void streamFollowsCommands();
    void hostileStreamLosesNothing_data();
    void hostileStreamLosesNothing();
};

void TestFrames::colours_data()
{
    QTest::addColumn<int>("kind"); // -1: palette entry `value`; 10 + mode: FrameColorizer
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("palette"); // expected palette entry, or -1 for `rgb`, -2 as depth
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
    QTest::newRow("depth 65400") << depth << 0 << 9000 << 65400 << -1 << qRgb(255, 0, 128);
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
    QTest::newRow("point cloud as depth") << 13 << 0 << 0 << 2000 << -2 << 0u;
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
    if (palette == -2)
        QCOMPARE(got, frames.color(FrameColorizer::Depth, quint16(value)));
    else
        QCOMPARE(got, palette >= 0 ? map.paletteColor(palette).rgb() : QRgb(rgb));
}

void TestFrames::framesMatchPerPixelColouring_data()
{
    QTest::addColumn<int>("frameMode");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("kind");
    QTest::newRow("amplitude") << 0 << 2800 << int(ImageColorizer::AmplitudeColors);
    QTest::newRow("depth") << 1 << 9000 << int(ImageColorizer::DepthColors);
    QTest::newRow("grayscale") << 2 << 255 << int(ImageColorizer::GrayLevels);
}

void TestFrames::framesMatchPerPixelColouring()
{
    QFETCH(int, frameMode);
    QFETCH(int, range);
    QFETCH(int, kind);
    // Every 16-bit value once, as a 256 x 256 frame.
    QVector<quint16> values(256 * 256);
    std::iota(values.begin(), values.end(), quint16(0));
    const QByteArray block = FrameFormat::encode(values.constData(), values.size(), 416, 0);
    ImageColorizer tableSource;
    FrameColorizer colorizer(&tableSource);
    QVector<quint16> decoded(values.size());
    QImage image;
    colorizer.decode(block.constData(), 256, 256, frameMode, decoded.data(), &image);
    QCOMPARE(decoded, values);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    // The straightforward way: one colour map call per pixel.
    ImageColorizer reference;
    reference.setRange(0, range);
    for (int i = 0; i < values.size(); ++i) {
        const int v = frameMode == 2 ? (int(values[i]) - 2048) >> 3 : values[i];
        if (image.pixel(i % 256, i / 256) != reference.valueToColor(v, kind).rgb())
            QFAIL(qPrintable(QStringLiteral("value %1 coloured differently").arg(i)));
    }
    QImage painted(256, 256, QImage::Format_RGB888);
    colorizer.paint(values.constData(), 256, 256, frameMode, &painted);
    QCOMPARE(painted, image);
}

void TestFrames::depthFilter_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<int>>("input"); // one pixel, frame after frame
    QTest::addColumn<QVector<int>>("output"); // -1: not checked
    QTest::addColumn<double>("estimate"); // after the last frame, NaN: not checked
    const double any = std::nan("");
    QTest::newRow("disabled") << int(DepthFilter::Disabled) << QVector<int> { 0, 1000, 29999, 65300 }
                              << QVector<int> { 0, 1000, 29999, 65300 } << any;
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

void TestFrames::streamFollowsCommands()
{
    SimProcess sim;
    QVERIFY(sim.start({ "--model", "m10", "--fps", "50" }));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 9600));
    reader.port.write("##\x02");
    QVERIFY(waitUntil([&] { return reader.frames.size() >= 2; }));
    SceneSettings scene;
    const PortReader::Received &second = reader.frames.at(1);
    QCOMPARE(second.number, quint8(1));
    QCOMPARE(second.status, quint8(0));
    QCOMPARE(FrameFormat::temperatureText(second.temperature), QStringLiteral("26.0 C"));
    QCOMPARE(second.pixels, SyntheticScene::frame(scene, 1));
    QCOMPARE(second.pixels.mid(0, 6), (QVector<quint16> { 0, 65300, 65400, 65500, 30000, 40000 }));
    const auto shows = [&](int pixel, int value) {
        return waitUntil([&] { return reader.frames.last().pixels == SyntheticScene::frame(scene, 0); }, 5000)
            && reader.frames.last().pixels[pixel] == value;
    };
    QVERIFY(shows(20 * 160 + 50, 1200)); // the box
    // Amplitude at 1000 us: the box saturates, the camera warms up.
    reader.port.write("##\x04" + parameter(0x24, 1000));
    scene.frameType = SceneSettings::Amplitude;
    scene.integrationTime = 1000;
    QVERIFY(shows(20 * 160 + 50, 65400));
    QCOMPARE(FrameFormat::temperatureText(reader.frames.last().temperature), QStringLiteral("27.0 C"));
    // Depth, distance offset -300 (sent as FF D4), minimum amplitude 200, 100 us.
    reader.port.write("##\x05" + parameter(0x29, -300) + parameter(0x25, 200) + parameter(0x24, 100));
    scene.frameType = SceneSettings::Depth;
    scene.distanceOffset = -300;
    scene.minAmplitude = 200;
    scene.integrationTime = 100;
    QVERIFY(shows(20 * 160 + 50, 900));
    reader.port.write("##\x06");
    scene.frameType = SceneSettings::Grayscale;
    QVERIFY(shows(20 * 160 + 159, 2048 + 8 * 255));
    // Nothing arrives after the camera's count.
    QVERIFY(reader.stop(sim));
    QCOMPARE(quint64(reader.frames.size()), streamStats(sim).value(0));
}

void TestFrames::hostileStreamLosesNothing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("m10 everything at once") << QStringList { "--chunk", "5000", "--chunk-random", "9",
        "--garbage", "300", "--multi-frame", "2", "--marker-in-data", "--status10-every", "4" };
    QTest::newRow("m20 random pieces")
        << QStringList { "--model", "m20", "--chunk", "3000", "--chunk-random", "5", "--fps", "30" };
}

void TestFrames::hostileStreamLosesNothing()
{
    QFETCH(QStringList, options);
    SimProcess sim;
    QVERIFY(sim.start(QStringList { "--model", "m10", "--fps", "60", "--chunk-gap", "0" } + options));
    SceneSettings scene;
    if (options.contains("m20")) {
        scene.width = 320;
        scene.height = 240;
    }
    scene.markerCopies = options.contains("--marker-in-data");
    const int every = options.contains("--status10-every") ? 4 : 0;
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), scene.width * scene.height));
    reader.port.write("##\x02");
    QVERIFY(waitUntil([&] { return reader.frames.size() >= 12; }));
    QVERIFY(reader.stop(sim));
    const QVector<quint64> counts = streamStats(sim);
    QCOMPARE(counts.value(2), quint64(0)); // nothing skipped by the camera
    QCOMPARE(quint64(reader.frames.size()), counts.value(0));
    quint64 hidden = 0;
    for (int k = 0; k < reader.frames.size(); ++k) {
        const bool isHidden = every > 0 && (k + 1) % every == 0;
        QCOMPARE(reader.frames.at(k).number, quint8(k));
        QCOMPARE(reader.frames.at(k).status, quint8(isHidden ? 10 : 0));
        hidden += isHidden;
        QVERIFY2(reader.frames.at(k).pixels == SyntheticScene::frame(scene, quint32(k)),
            qPrintable(QString::number(k)));
    }
    QCOMPARE(hidden, counts.value(1));
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
