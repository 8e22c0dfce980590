#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "tests/support/HostileBytes.h"

#include <QtTest>

using namespace HostileBytes;

namespace {

constexpr int M10 = 9600;
constexpr int M20 = 76800;

// A stream and what a correct framer makes of it.
struct Case
{
    int pixelCount = M10; // the framer's sensor
    QByteArray stream;
    QVector<QByteArray> frames; // with their markers
    quint64 drops = 0;

    Case &good(const QByteArray &block)
    {
        stream += block;
        frames.append(block);
        return *this;
    }
    Case &bad(const QByteArray &bytes)
    {
        stream += bytes;
        return *this;
    }
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestFramer : public QObject
{
    Q_OBJECT

private slots:
    void onlyWholeFramesFromBoundaries_data();
    void onlyWholeFramesFromBoundaries();
};

void TestFramer::onlyWholeFramesFromBoundaries_data()
{
    QTest::addColumn<Case>("c");
    QTest::addColumn<int>("piece");
    const int length = FrameFormat::frameBytes(M10);
    const QByteArray reply = QByteArrayLiteral("KAVRIX 1.0\x01\x02") + Marker;
    QVector<QPair<const char *, Case>> cases;
    auto row = [&](const char *name) -> Case & {
        cases.append({ name, Case() });
        return cases.last().second;
    };

    row("in step, status 10 too").good(frame(M10, 0)).good(frame(M10, 1, {}, 10)).good(frame(M10, 2));
    Case &junk = row("short marker-terminated junk after every frame");
    junk.good(frame(M10, 0)).bad(reply).good(frame(M10, 1)).bad(Marker + Marker).good(frame(M10, 2));
    junk.bad("*##*##*##*").good(frame(M10, 3));
    junk.drops = 5;
    row("marker copies in pixels, temperature and status")
        .good(frame(M10, 0, { 0 }))
        .good(frame(M10, 1, { 9000, 9003, 9006 }))
        .good(frame(M10, 2, { length - 6, length - 4 }))
        .good(frame(M10, 3, { length - 7 }));
    for (int delta : { +1, -1 }) {
        Case &c = row(delta > 0 ? "a frame one byte too long" : "a frame one byte too short");
        c.good(frame(M10, 0)).bad(resized(frame(M10, 1), delta)).good(frame(M10, 2));
        c.drops = 1;
    }
    Case &burst = row("2 MB of noise without markers takes the next frame along");
    burst.bad(noise(2 << 20, 0, 1)).bad(frame(M10, 0)).good(frame(M10, 1));
    burst.drops = 1;
    Case &marked = row("2 MB of noise with markers");
    marked.bad(noise(2 << 20, 1000, 2)).good(frame(M10, 0)).good(frame(M10, 1));
    marked.drops = quint64(noise(2 << 20, 1000, 2).count(Marker));
    Case &other = row("the other model's frames");
    other.good(frame(M10, 0));
    for (int k = 1; k <= 20; ++k)
        other.bad(frame(M20, k));
    other.good(frame(M10, 21));
    other.drops = 20;
    Case &smaller = row("the other model's frames on a Kavrix M20");
    smaller.pixelCount = M20;
    for (int k = 0; k < 20; ++k)
        smaller.bad(frame(M10, k));
    smaller.good(frame(M20, 20));
    smaller.drops = 20;
    Case &lead = row("junk without a marker before a frame");
    lead.good(frame(M10, 0)).bad("junk").bad(frame(M10, 1, { 100 })).good(frame(M10, 2));
    lead.drops = 2; // the junk with the frame up to the copy, then the rest of the frame

    for (const auto &entry : qAsConst(cases)) {
        for (int piece : { 0, 1, 3, 4093, -1 })
            QTest::addRow("%s, pieces %d", entry.first, piece) << entry.second << piece;
    }
}

// Every accepted frame is one the stream carried whole and in order, and the
// drop counter counts each dropped block once; memory and search work stay
// bounded whatever the piece sizes.
void TestFramer::onlyWholeFramesFromBoundaries()
{
    QFETCH(Case, c);
    QFETCH(int, piece);
    FrameFramer framer(FrameFormat::frameBytes(c.pixelCount));
    QVector<QByteArray> frames;
    feed(c.stream, piece, [&](const QByteArray &bytes) {
        framer.append(bytes);
        FrameFramer::Frame frame;
        while (framer.nextFrame(&frame))
            frames.append(QByteArray(frame.data, frame.size) + Marker);
        QVERIFY(framer.bufferedBytes() < framer.frameLength() + 4);
    });
    QCOMPARE(frames.size(), c.frames.size());
    for (int i = 0; i < frames.size(); ++i)
        QVERIFY2(frames.at(i) == c.frames.at(i), qPrintable(QString::number(i)));
    QCOMPARE(framer.framesAccepted(), quint64(c.frames.size()));
    QCOMPARE(framer.dropCount(), c.drops);
    QCOMPARE(framer.bytesReceived(), quint64(c.stream.size()));
    QCOMPARE(framer.bytesReceived(),
        framer.framesAccepted() * quint64(framer.frameLength() + 4) + framer.bytesDropped()
            + quint64(framer.bufferedBytes()));
    QVERIFY(framer.bytesSearched() <= framer.bytesReceived());
}

QTEST_GUILESS_MAIN(TestFramer)
#include "tst_framer.moc"
