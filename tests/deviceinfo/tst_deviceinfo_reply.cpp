#include "app/DeviceState.h"
#include "deviceinfo/AppPaths.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensPacket.h"

#include <QCoreApplication>
#include <QDir>
#include <QtTest>

namespace {

const QByteArray Marker = QByteArrayLiteral("*##*");

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

// Feeds `bytes` in pieces of `chunk` bytes; returns how many replies completed.
int feed(DeviceInfoReplyReader &reader, const QByteArray &bytes, int chunk)
{
    int replies = 0;
    for (int i = 0; i < bytes.size(); i += chunk)
        replies += reader.append(bytes.mid(i, chunk)) ? 1 : 0;
    return replies;
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
        QCOMPARE(block.size(), 19204);
        // Little-endian words at the fixed offsets (cx = 80.50 at 14), status last.
        QCOMPARE(quint8(block[14]), quint8(0x72));
        QCOMPARE(quint8(block[15]), quint8(0x1F));
        QCOMPARE(quint8(block[19203]), quint8(10));

        const auto d = DeviceInfoReply::decodeBlock(block, 9600);
        QVERIFY(d);
        QCOMPARE(d->machineID(), 12000);
        QCOMPARE(d->modFreq(), 345);
        QCOMPARE(d->chipID, 4242);
        QCOMPARE(d->lutInfo3, 900);
    }

    void identityWordSplit_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("machine");
        QTest::addColumn<int>("freq");
        QTest::newRow("below 1000") << 999 << 0 << 999;
        QTest::newRow("multiple of 1000") << 3000 << 3000 << 0;
    }
    void identityWordSplit()
    {
        QFETCH(int, word);
        DeviceInfoData d;
        d.identityWord = quint16(word);
        const auto decoded = DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 19204), 9600);
        QVERIFY(decoded);
        QTEST(decoded->machineID(), "machine");
        QTEST(decoded->modFreq(), "freq");
    }

    void acceptsOnlyReplyLengthsAndStatus()
    {
        const DeviceInfoData d = sample();
        // The small block is accepted whatever sensor is open; the frame size of the open sensor too.
        QVERIFY(DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 19204), 76800));
        QVERIFY(DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 153604), 76800));
        QVERIFY(!DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 153604), 9600));
        QVERIFY(!DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 19203), 9600));
        QVERIFY(!DeviceInfoReply::decodeBlock(DeviceInfoReply::encodeBlock(d, 19204, 0), 9600));
        QVERIFY(!DeviceInfoReply::decodeBlock(QByteArray(), 9600));
        // Nonsense geometry falls back to the small block only.
        QCOMPARE(DeviceInfoReply::acceptedLengths(-5), QVector<int>({ 19204 }));
        QCOMPARE(DeviceInfoReply::acceptedLengths(0x7fffffff), QVector<int>({ 19204 }));
    }

    void versionCodingPadsShortNumbers()
    {
        QCOMPARE(DeviceInfoReply::versionText("Firmware Ver:", 7), QString("Firmware Ver:  0.0.7"));
    }

    void reassemblesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : { 1, 3, 19207, 100000 })
            QTest::addRow("%d", chunk) << chunk;
    }
    void reassemblesWhateverTheChunking()
    {
        QFETCH(int, chunk);
        DeviceInfoReplyReader reader(76800);
        for (int length : { 19204, 153604 }) {
            QCOMPARE(feed(reader, DeviceInfoReply::encodeBlock(sample(), length) + Marker, chunk), 1);
            QCOMPARE(reader.reply().chipID, 4242);
            QCOMPARE(reader.bufferedBytes(), 0);
        }
    }

    void markerSplitAcrossReads()
    {
        DeviceInfoReplyReader reader(9600);
        const QByteArray bytes = DeviceInfoReply::encodeBlock(sample(), 19204) + Marker;
        for (int split = 1; split < 4; ++split) {
            QVERIFY(!reader.append(bytes.left(bytes.size() - split)));
            QVERIFY(reader.append(bytes.right(split)));
        }
    }

    void markerInsidePayloadDoesNotCutTheReply()
    {
        // cx = 90.02 and cy = 107.87 put 2A 23 23 2A at offsets 14-17.
        DeviceInfoData d = sample();
        d.cameraCxX100 = 0x232A;
        d.cameraCyX100 = 0x2A23;
        const QByteArray block = DeviceInfoReply::encodeBlock(d, 19204);
        QCOMPARE(block.indexOf(Marker), 14);
        DeviceInfoReplyReader reader(9600);
        QCOMPARE(feed(reader, block + Marker, 1000), 1);
        QCOMPARE(reader.reply().cameraCyX100, 0x2A23);
    }

    void skipsWhatComesBeforeTheReply()
    {
        const QByteArray reply = DeviceInfoReply::encodeBlock(sample(), 19204) + Marker;
        // A stale image frame (status 0) and the reply arriving in one read.
        DeviceInfoReplyReader reader(9600);
        QVERIFY(reader.append(DeviceInfoReply::encodeBlock(DeviceInfoData(), 19204, 0) + Marker + reply));
        // A wrong-length block first.
        QVERIFY(reader.append(QByteArray(100, 'x') + Marker + reply));
        // Stray bytes with no marker of their own, glued to the front.
        QVERIFY(reader.append(QByteArray(7, '\x55') + reply));
        QCOMPARE(reader.reply().waferID, 17);
        // Another status or length alone completes nothing.
        QVERIFY(!reader.append(DeviceInfoReply::encodeBlock(sample(), 19204, 9) + Marker));
        QVERIFY(!reader.append(DeviceInfoReply::encodeBlock(sample(), 19203) + Marker));
    }

    void memoryStaysBounded()
    {
        DeviceInfoReplyReader reader(9600);
        const QByteArray noise(4096, '\x23');
        for (int i = 0; i < 200; ++i)
            QVERIFY(!reader.append(noise));
        QVERIFY(reader.bufferedBytes() <= 2 * (19204 + 3));
        QVERIFY(reader.append(
            QByteArray(3, 0) + Marker + DeviceInfoReply::encodeBlock(sample(), 19204) + Marker));
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
    }

    void summaryKeepsIntrinsicsForOtherTypes()
    {
        DeviceInfoData d = sample();
        d.lensParamAvailable = 0;
        DeviceState &state = deviceState();
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
        QCOMPARE(LensPacket::scaled(1000.05, 10), quint16(10000));
    }

    void appDirFromEnvironment()
    {
        qputenv(AppPaths::DataDirVariable, "/tmp/quarvel-data");
        QCOMPARE(AppPaths::appDirPath(), QDir::toNativeSeparators("/tmp/quarvel-data"));
        qunsetenv(AppPaths::DataDirVariable);
        // The build folder of the test is writable: the application directory is used.
        QCOMPARE(AppPaths::appDirPath(), QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    }

    void appDirChoice()
    {
        const QString app = "/opt/quarvel/bin";
        const QString user = "/home/u/.local/share/Quarvel";
        QCOMPARE(AppPaths::choose(QString(), app, true, user), QDir::toNativeSeparators(app));
        QCOMPARE(AppPaths::choose(QString(), app, false, user), QDir::toNativeSeparators(user));
        QCOMPARE(AppPaths::choose("/tmp/data/", app, true, user), QDir::toNativeSeparators("/tmp/data"));
        // A relative override is made absolute, so the folder does not move with the working directory.
        QVERIFY(QDir::isAbsolutePath(AppPaths::choose("rel", app, true, user)));
    }
};

QTEST_GUILESS_MAIN(TestDeviceInfoReply)
#include "tst_deviceinfo_reply.moc"
