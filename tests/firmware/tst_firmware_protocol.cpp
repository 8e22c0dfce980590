// The firmware image: scrambling, the .tof file, loading, and the transfer's
// messages and packets against an ideal bootloader; the bootloader reply reader.
// Round trips and chunkings over arbitrary inputs are the fuzz targets' job.
#include "device/Crc16.h"
#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareCipher.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareTransfer.h"
#include "tests/firmware/FirmwareTestSupport.h"

#include <QDataStream>
#include <QTemporaryDir>
#include <QtTest>

using FirmwareTest::image;
using WindowTest::readFile;
using WindowTest::writeFile;

namespace {

const QByteArray ProductTag("Morvane Kavrix M10");

QByteArray scrambled(QByteArray block)
{
    FirmwareCipher::scrambleBlock(block.data());
    return block;
}

QByteArray unscrambled(QByteArray block)
{
    FirmwareCipher::unscrambleBlock(block.data());
    return block;
}

BootloaderReply reply(quint8 code, quint8 value = 0)
{
    BootloaderReply r;
    r.code = code;
    r.value = value;
    return r;
}

} // namespace

class TestFirmwareProtocol : public QObject
{
    Q_OBJECT

private slots:
    void scrambling()
    {
        QByteArray block(60, '\0');
        block.replace(0, 3, "abc");
        QByteArray expected(60, '\0');
        expected.replace(40, 3, QByteArray("\x86\xC4\xC6", 3));
        QCOMPARE(scrambled(block), expected);
        QCOMPARE(unscrambled(expected), block);
    }

    void fileLayout_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("fileSize");
        QTest::newRow("empty") << 0 << 23;
        QTest::newRow("two blocks") << 120 << 143;
        QTest::newRow("short tail") << 130 << 203;
        QTest::newRow("largest") << 49152 << 49200 + 23;
    }

    void fileLayout()
    {
        QFETCH(int, imageSize);
        QFETCH(int, fileSize);
        const QByteArray input = image(imageSize, imageSize + 7);
        const QByteArray tof = FirmwareCipher::encrypt(input, ProductTag);
        QCOMPARE(tof.size(), fileSize);
        // The tag is what QDataStream writes for a const char *.
        QByteArray tag;
        QDataStream(&tag, QIODevice::WriteOnly) << ProductTag.constData();
        QVERIFY(tof.endsWith(tag));
        // The tail block is built on the previous block's output.
        const int rest = imageSize % 60;
        if (rest) {
            const QByteArray tail = unscrambled(tof.mid(imageSize - rest, 60));
            QCOMPARE(tail.left(rest), input.right(rest));
            QCOMPARE(tail.mid(rest), tof.mid(imageSize - rest - 60 + rest, 60 - rest));
        }
    }

    void outputNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("bin") << "/data/fw.bin"
                             << "/data/fw.tof";
        QTest::newRow("upper case") << "/data/fw.BIN"
                                    << "/data/fw.BIN.tof";
        QTest::newRow("tof") << "/data/fw.tof"
                             << "/data/fw.tof.tof";
        QTest::newRow("folder named .bin") << "/data/x.bin/fw.bin"
                                           << "/data/x.bin/fw.tof";
    }

    void outputNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QCOMPARE(FirmwareFile::encryptedPath(input), output);
    }

    void files()
    {
        QTemporaryDir dir;
        const QByteArray input = image(130, 11);
        // An existing, longer .tof is replaced, not extended; the input stays.
        const QString bin = dir.filePath("fw.bin");
        QVERIFY(writeFile(bin, input) && writeFile(dir.filePath("fw.tof"), QByteArray(1000, 'z')));
        const FirmwareFile::WriteResult result = FirmwareFile::writeEncrypted(bin, input, ProductTag);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(readFile(dir.filePath("fw.tof")), FirmwareCipher::encrypt(input, ProductTag));
        QCOMPARE(readFile(bin), input);
        {
            // A full disk: the earlier .tof stays whole.
            WindowTest::FileSizeLimit full(100);
            QVERIFY(!FirmwareFile::writeEncrypted(bin, image(130, 12), ProductTag).ok);
        }
        QCOMPARE(readFile(dir.filePath("fw.tof")), FirmwareCipher::encrypt(input, ProductTag));
        // An output that is a link to the input, a missing folder: refused.
        QVERIFY(writeFile(dir.filePath("other.bin"), input));
        QVERIFY(QFile::link(dir.filePath("other.bin"), dir.filePath("other.tof")));
        QVERIFY(!FirmwareFile::writeEncrypted(dir.filePath("other.bin"), input, ProductTag).ok);
        QCOMPARE(readFile(dir.filePath("other.bin")), input);
        QVERIFY(!FirmwareFile::writeEncrypted(dir.filePath("gone/fw.bin"), input, ProductTag).ok);
    }

    void transfer_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("sizeMessage");
        QTest::addColumn<QVector<int>>("progress"); // the last values reported
        QTest::newRow("empty") << 0 << QByteArray("22220200000000") << QVector<int>();
        QTest::newRow("two packets") << 120 << QByteArray("22220200000078") << QVector<int> { 100, 150 };
        QTest::newRow("short last packet")
            << 130 << QByteArray("22220200000082") << QVector<int> { 92, 138, 184 };
        QTest::newRow("largest") << 49152 << QByteArray("2222020000c000") << QVector<int> { 100 };
    }

    void transfer()
    {
        QFETCH(int, length);
        QFETCH(QByteArray, sizeMessage);
        QFETCH(QVector<int>, progress);
        QByteArray input = image(length, 3);
        const QByteArray original = input;
        FirmwareTransfer transfer;
        QCOMPARE(transfer.start(input).toHex(), QByteArray("222201"));
        input.fill('x'); // the transfer keeps its own copy
        // Replies out of turn send nothing.
        QVERIFY(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.isEmpty());
        QVERIFY(transfer.handleReply(reply(BootloaderReply::QueryAnswer, 7)).bytes.isEmpty());
        QCOMPARE(transfer.handleReply(reply(BootloaderReply::Ready)).bytes.toHex(), sizeMessage);
        FirmwareTransfer::Step step = transfer.handleReply(reply(BootloaderReply::SizeReceived));
        QByteArray previous(64, '\0');
        QVector<int> reported;
        for (int k = 0; !step.finished; ++k) {
            const QByteArray packet = step.bytes;
            QCOMPARE(packet.size(), 64);
            const quint16 crc = crc16Xmodem(packet.constData(), 60);
            QCOMPARE(quint8(packet[60]), quint8(crc >> 8));
            QCOMPARE(quint8(packet[61]), quint8(crc & 0xFF));
            QCOMPARE(quint8(packet[62]), quint8(k & 0xFF));
            QCOMPARE(packet[63], '#');
            // A short last packet keeps the previous packet's bytes behind the image.
            const int count = qMin(60, length - 60 * k);
            QCOMPARE(packet.left(count), original.mid(60 * k, count));
            QCOMPARE(packet.mid(count, 60 - count), previous.mid(count, 60 - count));
            previous = packet;
            reported << step.progress;
            step = transfer.handleReply(reply(BootloaderReply::PacketReceived));
        }
        QCOMPARE(reported.size(), (length + 59) / 60);
        QCOMPARE(reported.mid(reported.size() - progress.size()), progress);
        QCOMPARE(step.bytes.toHex(), QByteArray("22220b"));
        QVERIFY(!transfer.isRunning());
        QVERIFY(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.isEmpty());
    }

    // Replies are taken where one can start: at the start of the listening,
    // of a read, after a reply or after a marker; never from inside junk.
    void reader_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QString>("expected"); // codes, ":value" for the query answer
        // Junk, markers and read starts of every kind: the fuzz target; here the
        // bytes it keeps apart from junk.
        QTest::newRow("cut in a reply") << QList<QByteArray> { "DD\x01"
                                                               "DD",
            "\x05\x2A"
            "DD\x02" } << "1,5:42,2";
        QTest::newRow("unknown code") << QList<QByteArray> { "DD\x09"
                                                             "DD\x03" }
                                      << "";
        QTest::newRow("a partial reply that was none") << QList<QByteArray> { "D", "DD\x02" } << "2";
        QTest::newRow("value byte 'D'") << QList<QByteArray> { "DD\x05", "D" } << "5:68";
        QTest::newRow("long junk") << QList<QByteArray> { QByteArray(10000, 'D') } << "";
    }
    void reader()
    {
        QFETCH(QList<QByteArray>, reads);
        BootloaderReplyReader reader;
        QStringList codes;
        for (const QByteArray &read : qAsConst(reads)) {
            for (const BootloaderReply &reply : reader.feed(read))
                codes << (reply.code == BootloaderReply::QueryAnswer
                        ? QStringLiteral("%1:%2").arg(reply.code).arg(reply.value)
                        : QString::number(reply.code));
        }
        QTEST(codes.join(','), "expected");
        QVERIFY(reader.pendingBytes() < 4);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareProtocol)
#include "tst_firmware_protocol.moc"
