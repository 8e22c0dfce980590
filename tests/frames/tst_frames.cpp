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

using WindowTest::streamStats;
using WindowTest::waitUntil;

namespace {

// Reads frames from a simulator's port: pixels, status and the frame number
// the simulator puts in the unused trailer byte.
class PortReader
{
public:
    struct Received
    {
        quint8 number;
        quint8 status;
        quint16 temperature;
        QVector<quint16> pixels;
    };

    bool open(const QString &path, int pixelCount)
    {
        m_pixelCount = pixelCount;
        m_framer.setFrameLength(FrameFormat::frameBytes(pixelCount));
        m_port.setPortName(path);
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] { read(); });
        return m_port.open(QIODevice::ReadWrite);
    }
    void send(const QByteArray &bytes) { m_port.write(bytes); }
    void read()
    {
        const QByteArray bytes = m_port.readAll();
        m_framer.append(bytes.constData(), int(bytes.size()));
        for (FrameFramer::Frame frame; m_framer.nextFrame(&frame);) {
            Received r { quint8(frame.data[2 * m_pixelCount + 2]),
                FrameFormat::status(frame.data, m_pixelCount),
                FrameFormat::temperatureRaw(frame.data, m_pixelCount), QVector<quint16>(m_pixelCount) };
            FrameFormat::readPixels(frame.data, m_pixelCount, r.pixels.data());
            frames.append(r);
        }
    }
    bool waitForFrames(int count)
    {
        return waitUntil([&] { return frames.size() >= count; });
    }
    QVector<Received> frames;

private:
    QSerialPort m_port;
    FrameFramer m_framer;
    int m_pixelCount = 0;
};

QByteArray camera(quint8 code)
{
    return QByteArray("##") + char(code);
}

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
    QTest::addColumn<int>("kind"); // 0: palette entry `value`; 10 + mode: FrameColorizer
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("palette"); // expected palette entry, or -1 for `rgb`
    QTest::addColumn<uint>("rgb");
    const int amplitude = ImageColorizer::AmplitudeColors, depth = ImageColorizer::DepthColors;
    const int gray = ImageColorizer::GrayLevels;
    QTest::newRow("palette 0") << 0 << 0 << 0 << -1 << qRgb(0, 0, 127);
    QTest::newRow("palette 749") << 0 << 0 << 749 << -1 << qRgb(0, 0, 254);
    QTest::newRow("palette 2250") << 0 << 0 << 2250 << -1 << qRgb(0, 255, 255);
    QTest::newRow("palette 3000") << 0 << 0 << 3000 << -1 << qRgb(127, 255, 127);
    QTest::newRow("palette 3750") << 0 << 0 << 3750 << -1 << qRgb(255, 255, 0);
    QTest::newRow("palette 5999") << 0 << 0 << 5999 << -1 << qRgb(191, 0, 0);
    QTest::newRow("amplitude 1") << amplitude << 2800 << 1 << 1 << 0u;
    QTest::newRow("amplitude max") << amplitude << 2800 << 2800 << 5999 << 0u;
    QTest::newRow("amplitude above") << amplitude << 2800 << 2801 << -1 << qRgb(0, 0, 0);
    QTest::newRow("amplitude 0") << amplitude << 2800 << 0 << 0 << 0u;
    QTest::newRow("amplitude 65300") << amplitude << 2800 << 65300 << -1 << qRgb(0, 0, 0);
    QTest::newRow("amplitude 65400") << amplitude << 2800 << 65400 << -1 << qRgb(255, 0, 128);
    QTest::newRow("amplitude 65500") << amplitude << 2800 << 65500 << -1 << qRgb(169, 14, 255);
    QTest::newRow("depth near") << depth << 9000 << 1 << 5999 << 0u;
    QTest::newRow("depth max") << depth << 9000 << 9000 << 0 << 0u;
    QTest::newRow("depth above") << depth << 9000 << 9001 << -1 << qRgb(0, 0, 0);
    QTest::newRow("depth 65400") << depth << 9000 << 65400 << -1 << qRgb(255, 0, 128);
    QTest::newRow("gray 100") << gray << 255 << 100 << -1 << qRgb(100, 100, 100);
    QTest::newRow("gray max") << gray << 255 << 255 << -1 << qRgb(255, 255, 255);
    QTest::newRow("gray below") << gray << 255 << -1 << -1 << qRgb(0, 0, 0);
    QTest::newRow("gray 65300") << gray << 255 << 65300 << -1 << qRgb(255, 255, 255);
    QTest::newRow("gray 65500") << gray << 255 << 65500 << -1 << qRgb(169, 14, 255);
    QTest::newRow("gray scaled") << gray << 510 << 255 << -1 << qRgb(127, 127, 127);
    QTest::newRow("raw gray 2048") << 12 << 0 << 2048 << -1 << qRgb(0, 0, 0);
    QTest::newRow("raw gray 2056") << 12 << 0 << 2056 << -1 << qRgb(1, 1, 1);
    QTest::newRow("raw gray 4088") << 12 << 0 << 4088 << -1 << qRgb(255, 255, 255);
    QTest::newRow("raw gray 65400") << 12 << 0 << 65400 << -1 << qRgb(255, 255, 255);
    QTest::newRow("point cloud as depth") << 13 << 0 << 2000 << -2 << 0u;
}

void TestFrames::colours()
{
    QFETCH(int, kind);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(int, palette);
    QFETCH(uint, rgb);
    ImageColorizer map;
    FrameColorizer frames(&map);
    map.setRange(0, maximum);
    const QRgb got = kind == 0 ? map.paletteColor(value).rgb()
        : kind >= 10           ? frames.color(kind - 10, quint16(value))
                               : map.valueToColor(value, kind).rgb();
    if (palette == -2) // the same as depth
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
    for (int i = 0; i < input.size(); ++i) {
        quint16 v = quint16(input[i]);
        filter.filterFrame(&v);
        if (output[i] >= 0)
            QVERIFY2(v == output[i], qPrintable(QString("frame %1: %2").arg(i).arg(v)));
    }
    if (!std::isnan(estimate))
        QVERIFY2(qAbs(filter.estimate(0) - estimate) < 1e-9,
            qPrintable(QString::number(filter.estimate(0), 'g', 12)));
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
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(2));
    SceneSettings scene;
    QCOMPARE(reader.frames.at(1).number, quint8(1));
    QCOMPARE(reader.frames.at(1).status, quint8(0));
    QCOMPARE(FrameFormat::temperatureText(reader.frames.at(1).temperature), QStringLiteral("26.0 C"));
    QCOMPARE(reader.frames.at(1).pixels, SyntheticScene::frame(scene, 1));
    QCOMPARE(
        reader.frames.at(1).pixels.mid(0, 6), (QVector<quint16> { 0, 65300, 65400, 65500, 30000, 40000 }));
    QCOMPARE(reader.frames.at(1).pixels[20 * 160 + 50], quint16(1200)); // the box

    // Amplitude at 1000 us: the box saturates, the camera warms up.
    reader.send(camera(4) + parameter(0x24, 1000));
    scene.frameType = SceneSettings::Amplitude;
    scene.integrationTime = 1000;
    QVERIFY(waitUntil([&] { return reader.frames.last().pixels == SyntheticScene::frame(scene, 0); }, 5000));
    QCOMPARE(reader.frames.last().pixels[20 * 160 + 50], quint16(65400));
    QCOMPARE(FrameFormat::temperatureText(reader.frames.last().temperature), QStringLiteral("27.0 C"));
    // Depth with a distance offset of -300 (sent as FF D4), a minimum amplitude of 200, 100 us.
    reader.send(camera(5) + parameter(0x29, -300) + parameter(0x25, 200) + parameter(0x24, 100));
    scene.frameType = SceneSettings::Depth;
    scene.distanceOffset = -300;
    scene.minAmplitude = 200;
    scene.integrationTime = 100;
    QVERIFY(waitUntil([&] { return reader.frames.last().pixels == SyntheticScene::frame(scene, 0); }, 5000));
    QCOMPARE(reader.frames.last().pixels[20 * 160 + 50], quint16(900));
    reader.send(camera(6));
    scene.frameType = SceneSettings::Grayscale;
    QVERIFY(waitUntil([&] { return reader.frames.last().pixels == SyntheticScene::frame(scene, 0); }, 5000));
    QCOMPARE(reader.frames.last().pixels[20 * 160 + 159], quint16(2048 + 8 * 255));

    // Stop ends the stream: nothing arrives after the camera's count.
    reader.send(camera(3));
    QVERIFY(waitUntil([&] { return sim.waitForEvent("stream stopped", 0); }, 5000));
    WindowTest::pump(300);
    reader.read();
    QCOMPARE(quint64(reader.frames.size()), streamStats(sim).value(0));
}

void TestFrames::hostileStreamLosesNothing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("pixels");
    // Small pieces cost the simulator a timer round each: a lower rate.
    QTest::newRow("m10 small pieces")
        << QStringList { "--chunk", "61", "--chunk-gap", "0", "--fps", "20" } << 9600;
    QTest::newRow("m10 everything at once") << QStringList { "--chunk", "5000", "--chunk-random", "9",
        "--chunk-gap", "0", "--garbage", "300", "--multi-frame", "2", "--marker-in-data", "--status10-every",
        "4" } << 9600;
    QTest::newRow("m20 random pieces") << QStringList { "--model", "m20", "--chunk", "3000", "--chunk-random",
        "5", "--chunk-gap", "0", "--fps", "30" }
                                       << 76800;
}

void TestFrames::hostileStreamLosesNothing()
{
    QFETCH(QStringList, options);
    QFETCH(int, pixels);
    SimProcess sim;
    QVERIFY(sim.start(QStringList { "--model", "m10", "--fps", "60" } + options));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), pixels));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(12));
    reader.send(camera(3));
    QVERIFY(waitUntil([&] { return sim.waitForEvent("stream stopped", 0); }, 5000));
    WindowTest::pump(300);
    reader.read();
    const QVector<quint64> counts = streamStats(sim);
    QCOMPARE(counts.value(2), quint64(0)); // nothing skipped by the camera
    QCOMPARE(quint64(reader.frames.size()), counts.value(0));
    SceneSettings scene;
    scene.width = pixels == 9600 ? 160 : 320;
    scene.height = pixels / scene.width;
    scene.markerCopies = options.contains("--marker-in-data");
    const int every = options.contains("--status10-every") ? 4 : 0;
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
