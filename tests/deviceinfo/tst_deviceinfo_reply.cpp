#include "device/DeviceState.h"
#include "deviceinfo/AppPaths.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensPacket.h"
#include "tests/support/HostileBytes.h"

#include <QtTest>

namespace {

DeviceInfoData sample()
{
    DeviceInfoData d;
    d.identityWord = 12345; // machine 12000, 345 MHz
    d.waferID = 17;
    d.chipID = 4242;
    d.hardwareVersion = 123;
    d.firmwareVersion = 1234;
    d.drnuLutAvailable = 1;
    d.lensParamAvailable = 1;
    d.cameraFactorX10 = 10005;
    d.cameraCxX100 = 8050;
    d.cameraCyX100 = 3025;
    d.cameraFxX100 = 11300;
    d.cameraFyX100 = 11250;
    d.lutInfoPresent = 1;
    d.lutInfo1 = 7;
    d.lutInfo2 = 80;
    d.lutInfo3 = 900;
    return d;
}

QByteArray payload(const DeviceInfoData &d)
{
    return DeviceInfoReply::encodeBlock(d, DeviceInfoReply::PayloadLength + 4)
        .left(DeviceInfoReply::PayloadLength);
}

} // namespace

class TestDeviceInfoReply : public QObject
{
    Q_OBJECT

private slots:
    void init() { deviceState() = DeviceState(); }

    void decodesEveryField()
    {
        const QByteArray block = DeviceInfoReply::encodeBlock(sample(), 19204);
        // Little-endian words at fixed offsets (cx = 80.50 at 14), status last.
        QCOMPARE(block.size(), 19204);
        QCOMPARE(block.mid(14, 2).toHex(), QByteArray("721f"));
        QCOMPARE(quint8(block[19203]), quint8(10));
        const auto d = DeviceInfoReply::decodeBlock(block, 9600);
        QVERIFY(d);
        QCOMPARE(payload(*d), payload(sample()));
        QCOMPARE(d->machineID(), 12000);
        QCOMPARE(d->modFreq(), 345);
        QCOMPARE(DeviceInfoReply::acceptedLengths(-5), QVector<int>({ 19204 }));
        QCOMPARE(DeviceInfoReply::acceptedLengths(0x7fffffff), QVector<int>({ 19204 }));
    }

    // One-off blocks, other status bytes and junk, cut anywhere, are the fuzz
    // target's properties at small sizes; these are the real sensor sizes.
    void readerTakesOnlyWholeReplies_data()
    {
        QTest::addColumn<int>("pixelCount");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("expected"); // payload, empty for none
        QTest::addColumn<int>("piece");
        const QByteArray m = HostileBytes::Marker;
        const QByteArray small = DeviceInfoReply::encodeBlock(sample(), 19204) + m;
        // cx = 90.02 and cy = 107.87 put 2A 23 23 2A at offsets 14-17.
        DeviceInfoData copy = sample();
        copy.cameraCxX100 = 0x232A;
        copy.cameraCyX100 = 0x2A23;
        const QByteArray large = DeviceInfoReply::encodeBlock(sample(), 153604) + m;
        const struct
        {
            const char *name;
            int pixelCount;
            QByteArray stream;
            QByteArray expected;
        } rows[] = {
            { "M10-size reply on a Kavrix M20", 76800, small, payload(sample()) },
            { "M20-size reply", 76800, large, payload(sample()) },
            { "marker copy in the payload", 9600, DeviceInfoReply::encodeBlock(copy, 19204) + m,
                payload(copy) },
            { "after a frame and a short block", 76800, HostileBytes::frame(76800, 1) + "x" + m + small,
                payload(sample()) },
            { "too long by 1", 9600, HostileBytes::resized(small, 1), {} },
            { "the M20 size on a Kavrix M10", 9600, large, {} },
            { "2 MB burst with markers", 76800, HostileBytes::noise(2 << 20, 1000, 3), {} },
        };
        for (const auto &row : rows)
            for (int piece : { 0, 1, -1 })
                QTest::addRow("%s, pieces %d", row.name, piece)
                    << row.pixelCount << row.stream << row.expected << piece;
    }
    void readerTakesOnlyWholeReplies()
    {
        QFETCH(int, pixelCount);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, expected);
        QFETCH(int, piece);
        DeviceInfoReplyReader reader(pixelCount);
        int replies = 0;
        HostileBytes::feed(stream, piece, [&](const QByteArray &bytes) {
            replies += reader.append(bytes) ? 1 : 0;
            QVERIFY(reader.bufferedBytes() < 153604 + 4);
        });
        QCOMPARE(replies, expected.isEmpty() ? 0 : 1);
        if (replies)
            QCOMPARE(payload(reader.reply()), expected);
    }

    void applyToSharedState()
    {
        DeviceState &state = deviceState();
        DeviceInfoReply::applyTo(state, sample());
        QVERIFY(state.deviceInfoReceived);
        QCOMPARE(state.workingSubdir, QDir::toNativeSeparators("/log/12000_17_4242"));
        QCOMPARE(state.cameraCx, 80.5);
        QCOMPARE(state.lutInfo2, 80);
        // No lens values, LUT info not marked valid: earlier values stay.
        DeviceInfoData d = sample();
        d.lensParamAvailable = 0;
        d.cameraCxX100 = 1;
        d.lutInfoPresent = 2;
        d.lutInfo2 = 5;
        DeviceInfoReply::applyTo(state, d);
        QCOMPARE(state.cameraCx, 80.5);
        QCOMPARE(state.lutInfo2, 80);
        // Without a camera type the summary shows the record's own intrinsics.
        state = DeviceState();
        DeviceInfoReply::applyTo(state, d);
        const QStringList lines = DeviceInfoReply::summaryLines(state, 0);
        QCOMPARE(lines.at(4), QString("Lens param is not found. Use default!"));
        QCOMPARE(lines.at(6), QString("intrinsics: [1.00  1.00  1.00  1.00]"));
    }

    void lensPacket()
    {
        LensPacket::Values lens;
        lens.cameraFactor = 6000;
        lens.cameraCx = 80.5;
        lens.cameraCy = 600;
        lens.cameraFx = 0.29; // 28.999999999999996 after the multiplication
        lens.cameraFy = 80.509; // truncated, not rounded
        const QByteArray packet = LensPacket::build(lens);
        QCOMPARE(packet.toHex(' '), QByteArray("28 28 60 ea 72 1f 60 ea 1d 00 72 1f"));
        LensPacket::Values back;
        QVERIFY(LensPacket::parse(packet, &back));
        QCOMPARE(back.cameraFactor, 6000.0);
        QCOMPARE(back.cameraFy, 80.5);
        QVERIFY(!LensPacket::parse(packet.left(11), &back));
        QVERIFY(!LensPacket::parse(QByteArray(12, 0x23), &back));
        // Out-of-range values cannot wrap around in the 16-bit field.
        QCOMPARE(LensPacket::scaled(-1.0, 100), quint16(0));
        QCOMPARE(LensPacket::scaled(700.0, 100), quint16(65535));
        QCOMPARE(LensPacket::scaled(qQNaN(), 100), quint16(0));
    }

    void appDir()
    {
        const QString app = "/opt/quarvel/bin";
        const QString user = "/home/u/.local/share/Quarvel";
        QCOMPARE(AppPaths::choose(QString(), app, true, user), QDir::toNativeSeparators(app));
        QCOMPARE(AppPaths::choose(QString(), app, false, user), QDir::toNativeSeparators(user));
        QCOMPARE(AppPaths::choose("/tmp/data/", app, true, user), QDir::toNativeSeparators("/tmp/data"));
        // A relative override is made absolute, so the folder does not move with the working directory.
        QVERIFY(QDir::isAbsolutePath(AppPaths::choose("rel", app, true, user)));
        qputenv(AppPaths::DataDirVariable, "/tmp/quarvel-data");
        QCOMPARE(AppPaths::appDirPath(), QDir::toNativeSeparators("/tmp/quarvel-data"));
        qunsetenv(AppPaths::DataDirVariable);
        QCOMPARE(AppPaths::appDirPath(), QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    }
};

QTEST_GUILESS_MAIN(TestDeviceInfoReply)
#include "tst_deviceinfo_reply.moc"
