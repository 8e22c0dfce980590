#include "device/DeviceState.h"
#include "deviceinfo/AppPaths.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensPacket.h"

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

    // One-off blocks, marker copies, other status bytes and junk, cut
    // anywhere, are the fuzz target's properties; these are the sensor sizes.
    void readerTakesOnlyWholeReplies_data()
    {
        QTest::addColumn<int>("pixelCount");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("taken");
        const QByteArray small = DeviceInfoReply::encodeBlock(sample(), 19204) + "*##*";
        const QByteArray large = DeviceInfoReply::encodeBlock(sample(), 153604) + "*##*";
        QTest::newRow("M10-size reply on a Kavrix M20") << 76800 << small << true;
        QTest::newRow("M20-size reply") << 76800 << large << true;
        QTest::newRow("too long by 1") << 9600 << QByteArray(small).insert(0, 'x') << false;
        QTest::newRow("the M20 size on a Kavrix M10") << 9600 << large << false;
    }
    void readerTakesOnlyWholeReplies()
    {
        QFETCH(int, pixelCount);
        QFETCH(QByteArray, stream);
        QFETCH(bool, taken);
        for (int piece : { 1, 4096, int(stream.size()) }) {
            DeviceInfoReplyReader reader(pixelCount);
            int replies = 0;
            for (int at = 0; at < stream.size(); at += piece)
                replies += reader.append(stream.mid(at, piece)) ? 1 : 0;
            QCOMPARE(replies, taken ? 1 : 0);
            if (replies)
                QCOMPARE(payload(reader.reply()), payload(sample()));
        }
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
