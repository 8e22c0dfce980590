#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

const QByteArray marker("*##*");

// Pixel values of test frame k, free of the marker's 0x2A bytes unless a test
// puts the marker in on purpose.
QVector<quint16> pixelsOf(int pixelCount, int k)
{
    QVector<quint16> pixels(pixelCount);
    for (int i = 0; i < pixelCount; ++i) {
        quint16 v = quint16((i * 7 + k * 131 + 5) % 30000);
        if ((v & 0xff) == 0x2a || (v >> 8) == 0x2a)
            v ^= 0x0101;
        pixels[i] = v;
    }
    return pixels;
}

// Frame k with its marker; the temperature field carries k so frames can be told apart.
QByteArray frameBlock(int pixelCount, int k, quint8 status = 0)
{
    const QVector<quint16> pixels = pixelsOf(pixelCount, k);
    return FrameFormat::encode(pixels.constData(), pixelCount, quint16(k), status);
}

// Puts pixels 8998, 10787 (bytes 2A 23 23 2A) at pixel index i of a block.
void putMarkerPixels(QByteArray &block, int i)
{
    block[2 * i] = 0x2a;
    block[2 * i + 1] = 0x23;
    block[2 * i + 2] = 0x23;
    block[2 * i + 3] = 0x2a;
}

struct Feed
{
    explicit Feed(int frameLength)
        : framer(frameLength)
    {
    }

    // Appends in pieces and drains after each; checks the bound after every drain.
    void push(const QByteArray &bytes, const QVector<int> &pieces = {})
    {
        int offset = 0;
        int n = 0;
        while (offset < bytes.size()) {
            const int size = pieces.isEmpty() ? bytes.size() : pieces.at(n++ % pieces.size());
            const int take = qMin(size, bytes.size() - offset);
            framer.append(bytes.constData() + offset, take);
            offset += take;
            drain();
        }
    }

    void drain()
    {
        FrameFramer::Frame frame;
        while (framer.nextFrame(&frame)) {
            QCOMPARE(frame.size, framer.frameLength());
            frames.append(QByteArray(frame.data, frame.size));
        }
        QVERIFY(framer.bufferedBytes() < framer.frameLength() + 4);
    }

    // The invariant between the counters.
    void checkAccounting() const
    {
        QCOMPARE(framer.bytesReceived(),
            framer.framesAccepted() * quint64(framer.frameLength() + 4) + framer.bytesDropped()
                + quint64(framer.bufferedBytes()));
        QVERIFY(framer.bytesSearched() <= framer.bytesReceived());
    }

    FrameFramer framer;
    QVector<QByteArray> frames;
};

QByteArray withoutMarker(const QByteArray &block)
{
    return block.left(block.size() - 4);
}

} // namespace

class TestFramer : public QObject
{
    Q_OBJECT

private slots:
    void inStepAnyPieceSize_data();
    void inStepAnyPieceSize();
    void markerSplitAcrossReads_data();
    void markerSplitAcrossReads();
    void severalFramesInOneRead();
    void markerCopiesInPixelData_data();
    void markerCopiesInPixelData();
    void garbageBetweenFrames_data();
    void garbageBetweenFrames();
    void wrongLengthBlocksAreDropped();
    void statusAndTemperature();
    void hostileMix_data();
    void hostileMix();
    void garbageOnlyStaysBoundedAndLinear_data();
    void garbageOnlyStaysBoundedAndLinear();
    void lengthChangeResets();
};

void TestFramer::inStepAnyPieceSize_data()
{
    QTest::addColumn<int>("piece");
    // Kavrix M10 frames: 19204 bytes + marker.
    for (int piece : { 1, 3, 4096, 19203, 19204, 19205, 19207, 19208, 50000 })
        QTest::addRow("%d", piece) << piece;
}

void TestFramer::inStepAnyPieceSize()
{
    QFETCH(int, piece);
    const int pixels = 9600;
    Feed feed(FrameFormat::frameBytes(pixels));
    QByteArray stream;
    for (int k = 0; k < 5; ++k)
        stream += frameBlock(pixels, k);
    feed.push(stream, { piece });

    QCOMPARE(feed.frames.size(), 5);
    for (int k = 0; k < 5; ++k)
        QCOMPARE(feed.frames.at(k), withoutMarker(frameBlock(pixels, k)));
    QCOMPARE(feed.framer.bytesDropped(), quint64(0));
    QCOMPARE(feed.framer.bufferedBytes(), 0);
    feed.checkAccounting();
}

void TestFramer::markerSplitAcrossReads_data()
{
    QTest::addColumn<int>("cut");
    for (int cut = 1; cut < 4; ++cut)
        QTest::addRow("marker bytes in the first read: %d", cut) << cut;
}

void TestFramer::markerSplitAcrossReads()
{
    QFETCH(int, cut);
    const int pixels = 9600;
    Feed feed(FrameFormat::frameBytes(pixels));
    const QByteArray block = frameBlock(pixels, 1);
    const int split = block.size() - 4 + cut;

    feed.framer.append(block.left(split));
    feed.drain();
    QCOMPARE(feed.frames.size(), 0);
    // The rest of the marker alone completes the frame.
    feed.framer.append(block.mid(split));
    feed.drain();
    QCOMPARE(feed.frames.size(), 1);
    QCOMPARE(feed.frames.at(0), withoutMarker(block));
}

void TestFramer::severalFramesInOneRead()
{
    const int pixels = 9600;
    Feed feed(FrameFormat::frameBytes(pixels));
    // A partial frame waits, then one read brings its end, two whole frames and a start.
    const QByteArray b0 = frameBlock(pixels, 0);
    const QByteArray b1 = frameBlock(pixels, 1);
    const QByteArray b2 = frameBlock(pixels, 2);
    const QByteArray b3 = frameBlock(pixels, 3);
    feed.framer.append(b0.left(100));
    feed.drain();
    QCOMPARE(feed.frames.size(), 0);
    feed.framer.append(b0.mid(100) + b1 + b2 + b3.left(5));
    feed.drain();
    QCOMPARE(feed.frames.size(), 3);
    QCOMPARE(feed.frames.at(0), withoutMarker(b0));
    QCOMPARE(feed.frames.at(1), withoutMarker(b1));
    QCOMPARE(feed.frames.at(2), withoutMarker(b2));
    QCOMPARE(feed.framer.bufferedBytes(), 5);
    feed.framer.append(b3.mid(5));
    feed.drain();
    QCOMPARE(feed.frames.size(), 4);
    feed.checkAccounting();
}

void TestFramer::markerCopiesInPixelData_data()
{
    QTest::addColumn<QVector<int>>("bytePositions");
    QTest::newRow("first pixels") << QVector<int> { 0 };
    QTest::newRow("pixel pair 8998 10787 mid-frame") << QVector<int> { 9000 };
    QTest::newRow("last pixels") << QVector<int> { 19196 };
    QTest::newRow("overlapping the temperature") << QVector<int> { 19198 };
    QTest::newRow("overlapping the status byte") << QVector<int> { 19200 };
    QTest::newRow("many, overlapping") << QVector<int> { 10, 13, 16, 500, 1001, 19000, 19199 };
}

void TestFramer::markerCopiesInPixelData()
{
    QFETCH(QVector<int>, bytePositions);
    const int pixels = 9600;
    Feed feed(FrameFormat::frameBytes(pixels));
    QVector<QByteArray> blocks;
    for (int k = 0; k < 4; ++k) {
        QByteArray block = frameBlock(pixels, k);
        if (k == 1 || k == 2) {
            for (int at : bytePositions)
                block.replace(at, 4, marker);
        }
        blocks.append(block);
    }
    // Whole, and in pieces that end right after the copies.
    for (const QVector<int> &pieces : { QVector<int> {}, QVector<int> { 1003 }, QVector<int> { 1 } }) {
        feed.frames.clear();
        for (const QByteArray &block : blocks)
            feed.push(block, pieces);
        QCOMPARE(feed.frames.size(), blocks.size());
        for (int k = 0; k < blocks.size(); ++k)
            QCOMPARE(feed.frames.at(k), withoutMarker(blocks.at(k)));
    }
    QCOMPARE(feed.framer.bytesDropped(), quint64(0));
}

void TestFramer::garbageBetweenFrames_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<int>("framesExpected");
    QTest::newRow("partial marker") << QByteArray("*##") << 3;
    QTest::newRow("a reply ending in the marker") << QByteArray("KAVRIX 1.0\x01\x02*##*") << 3;
    QTest::newRow("empty blocks") << QByteArray("*##**##*") << 3;
    QTest::newRow("repeated overlapping markers") << QByteArray("*##*##*##*##*") << 3;
    QTest::newRow("noise longer than a frame") << QByteArray(30000, '\x55') << 3;
}

void TestFramer::garbageBetweenFrames()
{
    QFETCH(QByteArray, garbage);
    QFETCH(int, framesExpected);
    const int pixels = 9600;
    const QByteArray b0 = frameBlock(pixels, 0);
    const QByteArray b1 = frameBlock(pixels, 1);
    const QByteArray b2 = frameBlock(pixels, 2);
    for (const QVector<int> &pieces : { QVector<int> {}, QVector<int> { 4096 }, QVector<int> { 3 } }) {
        Feed feed(FrameFormat::frameBytes(pixels));
        // At the start of the stream and between frames.
        feed.push(garbage + b0 + garbage + b1 + garbage + garbage + b2 + garbage, pieces);
        QCOMPARE(feed.frames.size(), framesExpected);
        QCOMPARE(feed.frames.at(0), withoutMarker(b0));
        QCOMPARE(feed.frames.at(1), withoutMarker(b1));
        QCOMPARE(feed.frames.at(2), withoutMarker(b2));
        QCOMPARE(
            feed.framer.bytesDropped() + quint64(feed.framer.bufferedBytes()), quint64(5 * garbage.size()));
        feed.checkAccounting();
    }
}

void TestFramer::wrongLengthBlocksAreDropped()
{
    const int pixels = 9600;
    const QByteArray good = frameBlock(pixels, 7);
    // One byte short of 19204, then a whole frame.
    {
        Feed feed(FrameFormat::frameBytes(pixels));
        QByteArray shortBlock = frameBlock(pixels, 1);
        shortBlock.remove(500, 1);
        feed.push(shortBlock + good);
        QCOMPARE(feed.frames.size(), 1);
        QCOMPARE(feed.frames.at(0), withoutMarker(good));
        QCOMPARE(feed.framer.bytesDropped(), quint64(shortBlock.size()));
    }
    // A frame cut off by lost bytes in the middle of the stream.
    {
        Feed feed(FrameFormat::frameBytes(pixels));
        QByteArray cut = frameBlock(pixels, 2);
        cut.remove(4000, 64);
        feed.push(frameBlock(pixels, 1) + cut + good, { 64 });
        QCOMPARE(feed.frames.size(), 2);
        QCOMPARE(feed.frames.at(1), withoutMarker(good));
    }
    // A marker-terminated block longer than a frame cannot be told from noise
    // in front of a frame: its last frame-length bytes are the frame.
    {
        Feed feed(FrameFormat::frameBytes(pixels));
        feed.push(QByteArray(3000, 'n') + frameBlock(pixels, 4) + good, { 4096 });
        QCOMPARE(feed.frames.size(), 2);
        QCOMPARE(feed.frames.at(0), withoutMarker(frameBlock(pixels, 4)));
        QCOMPARE(feed.framer.bytesDropped(), quint64(3000));
    }
    // The trailing marker of a frame damaged: that frame is lost, the next is not.
    {
        Feed feed(FrameFormat::frameBytes(pixels));
        QByteArray damaged = frameBlock(pixels, 3);
        damaged[damaged.size() - 2] = 'x';
        feed.push(damaged + good);
        QCOMPARE(feed.frames.size(), 1);
        QCOMPARE(feed.frames.at(0), withoutMarker(good));
    }
}

void TestFramer::statusAndTemperature()
{
    const int pixels = 9600;
    QVector<quint16> values = pixelsOf(pixels, 0);
    values[0] = 8998;
    values[1] = 10787;
    values[pixels - 1] = 65500;
    // 0xA0 0x01 is 416 sixteenths: 26.0 degrees.
    const QByteArray block = FrameFormat::encode(values.constData(), pixels, 0x01a0, 10, 0x77);
    QCOMPARE(block.size(), 19208);
    QCOMPARE(quint8(block.at(19200)), quint8(0xa0));
    QCOMPARE(quint8(block.at(19201)), quint8(0x01));
    QCOMPARE(block.mid(19204), marker);

    Feed feed(FrameFormat::frameBytes(pixels));
    feed.push(block);
    QCOMPARE(feed.frames.size(), 1);
    const char *frame = feed.frames.at(0).constData();
    QCOMPARE(FrameFormat::temperatureRaw(frame, pixels), quint16(416));
    QCOMPARE(
        FrameFormat::temperatureText(FrameFormat::temperatureRaw(frame, pixels)), QStringLiteral("26.0 C"));
    QCOMPARE(FrameFormat::temperatureText(0x01a1), QStringLiteral("26.1 C"));
    QCOMPARE(FrameFormat::status(frame, pixels), quint8(10));
    QVector<quint16> decoded(pixels);
    FrameFormat::readPixels(frame, pixels, decoded.data());
    QCOMPARE(decoded, values);
}

void TestFramer::hostileMix_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : { 1u, 42u, 4711u })
        QTest::addRow("seed %u", seed) << seed;
}

void TestFramer::hostileMix()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    const int pixels = 9600;
    const int length = FrameFormat::frameBytes(pixels);
    Feed feed(length);

    QByteArray stream;
    QVector<QByteArray> expected;
    for (int k = 0; k < 60; ++k) {
        QByteArray block = frameBlock(pixels, k);
        // Copies of the marker anywhere except the last kilobyte, where a copy
        // after marker-less noise is indistinguishable from a frame end.
        const int copies = random.bounded(4);
        for (int c = 0; c < copies; ++c)
            block.replace(random.bounded(length - 1024), 4, marker);
        expected.append(withoutMarker(block));
        stream += block;
        switch (random.bounded(5)) {
        case 0: {
            QByteArray noise(random.bounded(1, 1000), Qt::Uninitialized);
            for (char &c : noise)
                c = char(random.bounded(256));
            noise.replace(marker, "*#x*");
            stream += noise;
            break;
        }
        case 1:
            stream += QByteArray("reply") + marker;
            break;
        case 2:
            stream += marker.left(random.bounded(1, 4));
            break;
        default:
            break;
        }
    }
    // Random piece sizes from single bytes to several frames.
    int offset = 0;
    while (offset < stream.size()) {
        const int size = random.bounded(5) == 0 ? random.bounded(1, 8) : random.bounded(1, 3 * length);
        feed.framer.append(stream.mid(offset, size));
        offset += size;
        feed.drain();
    }
    QCOMPARE(feed.frames.size(), expected.size());
    for (int k = 0; k < expected.size(); ++k)
        QVERIFY2(feed.frames.at(k) == expected.at(k), qPrintable(QString::number(k)));
    feed.checkAccounting();
}

void TestFramer::garbageOnlyStaysBoundedAndLinear_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("random bytes") << 0;
    QTest::newRow("only marker bytes") << 1;
    QTest::newRow("stars") << 2;
}

void TestFramer::garbageOnlyStaysBoundedAndLinear()
{
    QFETCH(int, kind);
    QRandomGenerator random(99);
    const int length = FrameFormat::frameBytes(9600);
    Feed feed(length);
    const int capacity = feed.framer.capacity();
    QByteArray piece(100000, Qt::Uninitialized);
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < piece.size(); ++i) {
            switch (kind) {
            case 0:
                piece[i] = char(random.bounded(256));
                break;
            case 1:
                piece[i] = random.bounded(2) ? '*' : '#';
                break;
            default:
                piece[i] = '*';
                break;
            }
        }
        feed.push(piece, { 1 + random.bounded(9000) });
        QVERIFY(feed.framer.capacity() <= capacity);
    }
    feed.checkAccounting();
    // Each byte position is looked at once at most, whatever the piece sizes.
    QVERIFY(feed.framer.bytesSearched() <= feed.framer.bytesReceived());
    // Random marker bytes do form marker-terminated blocks; only whole-length ones count.
    for (const QByteArray &frame : qAsConst(feed.frames))
        QCOMPARE(frame.size(), length);
}

void TestFramer::lengthChangeResets()
{
    FrameFramer framer(FrameFormat::frameBytes(9600));
    const QByteArray m10 = frameBlock(9600, 1);
    framer.append(m10.left(1000));
    QCOMPARE(framer.bufferedBytes(), 1000);
    framer.setFrameLength(FrameFormat::frameBytes(76800));
    QCOMPARE(framer.bufferedBytes(), 0);
    QCOMPARE(framer.bytesDropped(), quint64(1000));
    const QByteArray m20 = frameBlock(76800, 2);
    framer.append(m20);
    FrameFramer::Frame frame;
    QVERIFY(framer.nextFrame(&frame));
    QCOMPARE(QByteArray(frame.data, frame.size), withoutMarker(m20));
    QVERIFY(!framer.nextFrame(&frame));

    // Without a length nothing is kept.
    framer.setFrameLength(0);
    framer.append(m20);
    QCOMPARE(framer.bufferedBytes(), 0);
    QVERIFY(!framer.nextFrame(&frame));
}

QTEST_GUILESS_MAIN(TestFramer)
#include "tst_framer.moc"
