// The simulated camera's frame stream, read straight from its port through
// the framer: the scene it sends, what the commands change, and that every
// frame survives the hostile modes.
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QSerialPort>
#include <QtTest>
#include <memory>

using WindowTest::waitUntil;

namespace {

bool waitForEvent(SimProcess &sim, const QString &prefix)
{
    return waitUntil([&] { return sim.waitForEvent(prefix, 0); }, 5000);
}

struct Received
{
    quint8 number; // the unused trailer byte: frame number mod 256
    quint8 status;
    quint16 temperature;
    QVector<quint16> pixels;
};

class PortReader
{
public:
    bool open(const QString &path, int pixelCount)
    {
        m_pixelCount = pixelCount;
        m_framer.setFrameLength(FrameFormat::frameBytes(pixelCount));
        m_port.setPortName(path);
        if (!m_port.open(QIODevice::ReadWrite))
            return false;
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] { read(); });
        return true;
    }

    void send(const QByteArray &bytes) { m_port.write(bytes); }

    void read()
    {
        char chunk[65536];
        qint64 n;
        while ((n = m_port.read(chunk, sizeof chunk)) > 0) {
            m_bytes += n;
            m_framer.append(chunk, int(n));
            FrameFramer::Frame frame;
            while (m_framer.nextFrame(&frame)) {
                Received r;
                r.number = quint8(frame.data[2 * m_pixelCount + 2]);
                r.status = FrameFormat::status(frame.data, m_pixelCount);
                r.temperature = FrameFormat::temperatureRaw(frame.data, m_pixelCount);
                r.pixels.resize(m_pixelCount);
                FrameFormat::readPixels(frame.data, m_pixelCount, r.pixels.data());
                frames.append(r);
            }
        }
    }

    bool waitForFrames(int count, int timeoutMs = 10000)
    {
        return waitUntil([&] { return frames.size() >= count; }, timeoutMs);
    }

    qint64 bytesRead() const { return m_bytes; }
    const FrameFramer &framer() const { return m_framer; }

    QVector<Received> frames;

private:
    QSerialPort m_port;
    FrameFramer m_framer;
    int m_pixelCount = 0;
    qint64 m_bytes = 0;
};

QByteArray camera(quint8 code)
{
    return QByteArray("##") + char(code);
}

QByteArray parameter(char prefix, int value)
{
    return QByteArray(2, prefix) + char(value / 256) + char(value - 256 * (value / 256));
}

// Asks the simulator for its counters: sent, hidden, skipped.
QVector<quint64> stats(SimProcess &sim)
{
    const int before = sim.events().size();
    sim.control(QStringLiteral("stream stats"));
    if (!waitUntil(
            [&] {
                sim.waitForEvent(QStringLiteral("stream stats"), 0);
                return sim.events().size() > before
                    && sim.events().last().startsWith(QLatin1String("stream stats"));
            },
            5000))
        return {};
    const QStringList words = sim.events().last().split(QLatin1Char(' '));
    return { words.value(3).toULongLong(), words.value(5).toULongLong(), words.value(7).toULongLong() };
}

} // namespace

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void depthFramesMatchTheScene();
    void commandsChangeTheScene();
    void stopEndsTheStream();
    void hostileStreamLosesNothing_data();
    void hostileStreamLosesNothing();
    void m20Frames();
};

void TestStream::initTestCase()
{
    isolateRegistry();
}

void TestStream::depthFramesMatchTheScene()
{
    SimProcess sim;
    QVERIFY(sim.start(
        { QStringLiteral("--model"), QStringLiteral("m10"), QStringLiteral("--fps"), QStringLiteral("50") }));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 9600));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(3));

    SceneSettings scene;
    const QVector<quint16> expected = SyntheticScene::frame(scene, 0);
    for (int k = 0; k < 3; ++k) {
        const Received &r = reader.frames.at(k);
        QCOMPARE(r.number, quint8(k));
        QCOMPARE(r.status, quint8(0));
        QCOMPARE(FrameFormat::temperatureText(r.temperature), QStringLiteral("26.0 C"));
        QCOMPARE(r.pixels, expected);
    }
    // Spot checks of the formula: fixed pixels, plane, box, low amplitude nowhere at 300 us.
    const QVector<quint16> &p = reader.frames.at(0).pixels;
    QCOMPARE(p.mid(0, 6), (QVector<quint16> { 0, 65300, 65400, 65500, 30000, 40000 }));
    QCOMPARE(p[10 * 160 + 100], quint16(2000 + 800 + 40));
    QCOMPARE(p[20 * 160 + 50], quint16(1200));
    QCOMPARE(reader.framer().bytesDropped(), quint64(0));
}

void TestStream::commandsChangeTheScene()
{
    SimProcess sim;
    QVERIFY(sim.start(
        { QStringLiteral("--model"), QStringLiteral("m10"), QStringLiteral("--fps"), QStringLiteral("50") }));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 9600));

    // Settings sent before the stream starts: amplitude frames, 1000 us.
    reader.send(camera(4));
    reader.send(parameter(0x24, 1000));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(1));
    SceneSettings scene;
    scene.frameType = SceneSettings::Amplitude;
    scene.integrationTime = 1000;
    QCOMPARE(reader.frames.last().pixels, SyntheticScene::frame(scene, 0));
    QCOMPARE(FrameFormat::temperatureText(reader.frames.last().temperature), QStringLiteral("27.0 C"));
    // 1500 x 1000 / 300 = 5000 saturates the box.
    QCOMPARE(reader.frames.last().pixels[20 * 160 + 50], quint16(65400));

    // Depth with a distance offset of -150 mm (-300 LSB, sent as FF D4) and a
    // high minimum amplitude, 100 us.
    reader.send(camera(5));
    reader.send(parameter(0x29, -300));
    reader.send(parameter(0x25, 200));
    reader.send(parameter(0x24, 100));
    scene.frameType = SceneSettings::Depth;
    scene.distanceOffset = -300;
    scene.minAmplitude = 200;
    scene.integrationTime = 100;
    const QVector<quint16> depth = SyntheticScene::frame(scene, 0);
    QVERIFY(waitUntil([&] { return reader.frames.last().pixels == depth; }, 5000));
    QCOMPARE(depth[20 * 160 + 50], quint16(900));
    // A low integration time lowers the amplitude below the minimum: 65300.
    QVERIFY(std::count(depth.begin(), depth.end(), quint16(65300)) > 1000);

    // Grayscale.
    reader.send(camera(6));
    scene.frameType = SceneSettings::Grayscale;
    const QVector<quint16> gray = SyntheticScene::frame(scene, 0);
    QVERIFY(waitUntil([&] { return reader.frames.last().pixels == gray; }, 5000));
    QCOMPARE(gray[20 * 160 + 159], quint16(2048 + 8 * 255));
}

void TestStream::stopEndsTheStream()
{
    SimProcess sim;
    QVERIFY(sim.start({ QStringLiteral("--model"), QStringLiteral("m10"), QStringLiteral("--fps"),
        QStringLiteral("100") }));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 9600));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(2));
    reader.send(camera(3));
    QVERIFY(waitForEvent(sim, QStringLiteral("stream stopped")));
    waitUntil([] { return false; }, 100);
    const qint64 bytes = reader.bytesRead();
    waitUntil([] { return false; }, 300);
    QCOMPARE(reader.bytesRead(), bytes);
    const QVector<quint64> counts = stats(sim);
    QCOMPARE(counts.size(), 3);
    QCOMPARE(quint64(reader.frames.size()), counts[0]);
}

void TestStream::hostileStreamLosesNothing_data()
{
    QTest::addColumn<QStringList>("options");
    const QString chunk = QStringLiteral("--chunk");
    // Small pieces cost the simulator a timer round each: a lower rate (the last --fps counts).
    QTest::newRow("small pieces") << QStringList { chunk, QStringLiteral("61"), QStringLiteral("--chunk-gap"),
        QStringLiteral("0"), QStringLiteral("--fps"), QStringLiteral("20") };
    QTest::newRow("random pieces") << QStringList { chunk, QStringLiteral("3000"),
        QStringLiteral("--chunk-random"), QStringLiteral("5"), QStringLiteral("--chunk-gap"),
        QStringLiteral("0") };
    QTest::newRow("garbage") << QStringList { QStringLiteral("--garbage"), QStringLiteral("600") };
    QTest::newRow("several frames per write")
        << QStringList { QStringLiteral("--multi-frame"), QStringLiteral("3") };
    QTest::newRow("marker in the data") << QStringList { QStringLiteral("--marker-in-data") };
    QTest::newRow("status 10") << QStringList { QStringLiteral("--status10-every"), QStringLiteral("3") };
    QTest::newRow("everything at once")
        << QStringList { chunk, QStringLiteral("5000"), QStringLiteral("--chunk-random"), QStringLiteral("9"),
               QStringLiteral("--chunk-gap"), QStringLiteral("0"), QStringLiteral("--garbage"),
               QStringLiteral("300"), QStringLiteral("--multi-frame"), QStringLiteral("2"),
               QStringLiteral("--marker-in-data"), QStringLiteral("--status10-every"), QStringLiteral("4") };
}

void TestStream::hostileStreamLosesNothing()
{
    QFETCH(QStringList, options);
    SimProcess sim;
    QVERIFY(sim.start(QStringList { QStringLiteral("--model"), QStringLiteral("m10"), QStringLiteral("--fps"),
                          QStringLiteral("60") }
        + options));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 9600));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(24));
    reader.send(camera(3));
    QVERIFY(waitForEvent(sim, QStringLiteral("stream stopped")));
    waitUntil([] { return false; }, 300);
    reader.read();

    const QVector<quint64> counts = stats(sim);
    QCOMPARE(counts.size(), 3);
    QCOMPARE(counts[2], quint64(0)); // nothing skipped by the camera
    QCOMPARE(quint64(reader.frames.size()), counts[0]);

    SceneSettings scene;
    scene.markerCopies = options.contains(QStringLiteral("--marker-in-data"));
    const int every = options.contains(QStringLiteral("--status10-every"))
        ? options.at(options.indexOf(QStringLiteral("--status10-every")) + 1).toInt()
        : 0;
    quint64 hidden = 0;
    for (int k = 0; k < reader.frames.size(); ++k) {
        const Received &r = reader.frames.at(k);
        QCOMPARE(r.number, quint8(k));
        const bool isHidden = every > 0 && (k + 1) % every == 0;
        QCOMPARE(r.status, quint8(isHidden ? 10 : 0));
        hidden += isHidden;
        QVERIFY2(r.pixels == SyntheticScene::frame(scene, quint32(k)), qPrintable(QString::number(k)));
    }
    QCOMPARE(hidden, counts[1]);
    if (scene.markerCopies) {
        // The copies are really there: bytes 2A 23 23 2A inside the pixel data.
        const QByteArray block = SyntheticScene::block(scene, 5);
        QVERIFY(block.indexOf("*##*") < block.size() - 4);
    }
}

void TestStream::m20Frames()
{
    SimProcess sim;
    QVERIFY(sim.start(
        { QStringLiteral("--model"), QStringLiteral("m20"), QStringLiteral("--fps"), QStringLiteral("30") }));
    PortReader reader;
    QVERIFY(reader.open(sim.ttyPath(), 76800));
    reader.send(camera(2));
    QVERIFY(reader.waitForFrames(2));
    SceneSettings scene;
    scene.width = 320;
    scene.height = 240;
    QCOMPARE(reader.frames.at(1).pixels, SyntheticScene::frame(scene, 1));
    QCOMPARE(reader.frames.at(1).pixels[100 * 320 + 100], quint16(1200)); // the box
    QCOMPARE(reader.frames.at(1).pixels[200 * 320 + 300], quint16(2000 + 2400 + 800));
}

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
