#include "device/DeviceState.h"
#include "deviceinfo/AppPaths.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensPacket.h"
#include "tests/support/HostileBytes.h"

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

    void nonsenseGeometryKeepsTheSmallReply()
    {
        QCOMPARE(DeviceInfoReply::acceptedLengths(-5), QVector<int>({ 19204 }));
        QCOMPARE(DeviceInfoReply::acceptedLengths(0x7fffffff), QVector<int>({ 19204 }));
    }

    void versionCodingPadsShortNumbers()
    {
        QCOMPARE(DeviceInfoReply::versionText("Firmware Ver:", 7), QString("Firmware Ver:  0.0.7"));
    }

    // The reader takes a reply only when the block has exactly an accepted
    // length and starts at a boundary, whatever the reads look like.
    void readerTakesOnlyWholeReplies_data()
    {
        QTest::addColumn<int>("pixelCount");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("decoded");
        QTest::addColumn<int>("cy");
        QTest::addColumn<int>("piece");
        const QByteArray small = DeviceInfoReply::encodeBlock(sample(), 19204) + Marker;
        const QByteArray large = DeviceInfoReply::encodeBlock(sample(), 153604) + Marker;
        // cx = 90.02 and cy = 107.87 put 2A 23 23 2A at offsets 14-17.
        DeviceInfoData copy = sample();
        copy.cameraCxX100 = 0x232A;
        copy.cameraCyX100 = 0x2A23;
        const QByteArray withCopy = DeviceInfoReply::encodeBlock(copy, 19204) + Marker;
        const QByteArray m20Frame = HostileBytes::frame(76800, 1);
        struct Row
        {
            const char *name;
            int pixelCount;
            QByteArray stream;
            bool decoded;
        };
        const Row rows[] = {
            { "M10-size reply on a Kavrix M20", 76800, small, true },
            { "M20-size reply", 76800, large, true },
            { "marker copy in the payload", 9600, withCopy, true },
            { "after a frame and a short block", 76800, m20Frame + "x" + Marker + small, true },
            { "too long by 1", 9600, HostileBytes::resized(small, 1), false },
            { "too short by 1", 9600, HostileBytes::resized(small, -1), false },
            { "too short by 2", 76800, HostileBytes::resized(small, -2), false },
            { "the M20 size on a Kavrix M10", 9600, large, false },
            { "status other than 10", 9600, DeviceInfoReply::encodeBlock(sample(), 19204, 0) + Marker,
                false },
            { "junk without a marker first", 9600, "junk" + small, false },
            { "2 MB burst with markers", 76800, HostileBytes::noise(2 << 20, 1000, 3), false },
            { "2 MB burst without markers", 76800, HostileBytes::noise(2 << 20, 0, 4), false },
        };
        for (const Row &row : rows) {
            for (int piece : { 0, 1, 3, -1 })
                QTest::addRow("%s, pieces %d", row.name, piece)
                    << row.pixelCount << row.stream << row.decoded
                    << (row.stream == withCopy ? copy : sample()).cameraCyX100 << piece;
        }
    }
    void readerTakesOnlyWholeReplies()
    {
        QFETCH(int, pixelCount);
        QFETCH(QByteArray, stream);
        QFETCH(bool, decoded);
        QFETCH(int, piece);
        DeviceInfoReplyReader reader(pixelCount);
        int replies = 0;
        HostileBytes::feed(stream, piece, [&](const QByteArray &bytes) {
            replies += reader.append(bytes) ? 1 : 0;
            QVERIFY(reader.bufferedBytes() < 153604 + 4);
        });
        QCOMPARE(replies, decoded ? 1 : 0);
        if (decoded) {
            QCOMPARE(reader.reply().identityWord, sample().identityWord);
            QCOMPARE(reader.reply().chipID, 4242);
            QCOMPARE(reader.reply().lutInfo3, 900);
            QTEST(reader.reply().cameraCyX100, "cy");
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
