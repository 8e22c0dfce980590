#include "device/Crc16.h"
#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareTransfer.h"

#include <QtTest>

namespace {

QByteArray patternImage(int length)
{
    QByteArray image(length, '\0');
    for (int i = 0; i < length; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    return image;
}

BootloaderReply reply(quint8 code, quint8 value = 0)
{
    BootloaderReply r;
    r.code = code;
    r.value = value;
    return r;
}

// Runs a whole transfer against an ideal bootloader and returns every message sent.
QVector<QByteArray> runTransfer(const QByteArray &image, QVector<int> *progress = nullptr)
{
    FirmwareTransfer transfer;
    QVector<QByteArray> sent { transfer.start(image) };
    FirmwareTransfer::Step step = transfer.handleReply(reply(BootloaderReply::Ready));
    sent.append(step.bytes);
    step = transfer.handleReply(reply(BootloaderReply::SizeReceived));
    while (true) {
        sent.append(step.bytes);
        if (progress && step.progress >= 0)
            progress->append(step.progress);
        if (step.finished || step.bytes.isEmpty())
            break;
        step = transfer.handleReply(reply(BootloaderReply::PacketReceived));
    }
    return sent;
}

void checkPacketFrame(const QByteArray &packet, int index)
{
    QCOMPARE(packet.size(), 64);
    const quint16 crc = crc16Xmodem(packet.constData(), 60);
    QCOMPARE(quint8(packet.at(60)), quint8(crc >> 8));
    QCOMPARE(quint8(packet.at(61)), quint8(crc & 0xFF));
    QCOMPARE(quint8(packet.at(62)), quint8(index & 0xFF));
    QCOMPARE(packet.at(63), '#');
}

} // namespace

class TestFirmwareProtocol : public QObject
{
    Q_OBJECT

private slots:
    void messages()
    {
        QCOMPARE(Bootloader::command(Bootloader::OpenTransfer), QByteArray("\x22\x22\x01", 3));
        QCOMPARE(Bootloader::command(Bootloader::EndTransfer), QByteArray("\x22\x22\x0B", 3));
        QCOMPARE(Bootloader::command(Bootloader::Query), QByteArray("\x22\x22\x05", 3));
        QCOMPARE(Bootloader::sizeMessage(130), QByteArray("\x22\x22\x02\x00\x00\x00\x82", 7));
        QCOMPARE(Bootloader::sizeMessage(49152), QByteArray("\x22\x22\x02\x00\x00\xC0\x00", 7));
    }

    void twoFullPackets()
    {
        const QByteArray image = patternImage(120);
        QVector<int> progress;
        const QVector<QByteArray> sent = runTransfer(image, &progress);
        // open, size, packet 0, packet 1, end
        QCOMPARE(sent.size(), 5);
        QCOMPARE(sent[0], QByteArray("\x22\x22\x01", 3));
        QCOMPARE(sent[1], Bootloader::sizeMessage(120));
        QCOMPARE(sent[2].left(60) + sent[3].left(60), image);
        checkPacketFrame(sent[2], 0);
        checkPacketFrame(sent[3], 1);
        QCOMPARE(sent[4], QByteArray("\x22\x22\x0B", 3));
        QCOMPARE(progress, QVector<int>({ 100, 150 }));
    }

    void shortLastPacketKeepsPreviousBytes()
    {
        const QByteArray image = patternImage(130);
        const QVector<QByteArray> sent = runTransfer(image);
        QCOMPARE(sent.size(), 6);
        const QByteArray last = sent[4];
        checkPacketFrame(last, 2);
        QCOMPARE(last.left(10), image.mid(120, 10));
        // bytes 10..59 are those packet 1 left behind, file bytes 70..119
        QCOMPARE(last.mid(10, 50), image.mid(70, 50));
        QCOMPARE(sent[5], QByteArray("\x22\x22\x0B", 3));
    }

    void emptyImageEndsAtOnce()
    {
        QVector<int> progress;
        const QVector<QByteArray> sent = runTransfer(QByteArray(), &progress);
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[1], Bootloader::sizeMessage(0));
        QCOMPARE(sent[2], QByteArray("\x22\x22\x0B", 3));
        QVERIFY(progress.isEmpty());
    }

    void largestImage()
    {
        const QByteArray image = patternImage(49152);
        const QVector<QByteArray> sent = runTransfer(image);
        QCOMPARE(sent[1].right(2), QByteArray("\xC0\x00", 2));
        const int packets = int(sent.size()) - 3;
        QCOMPARE(packets, 820);
        const QByteArray last = sent[2 + 819];
        checkPacketFrame(last, 819);
        QCOMPARE(last.left(12), image.right(12));
        QCOMPARE(quint8(sent[2 + 256].at(62)), quint8(0));

        QByteArray reassembled;
        for (int k = 0; k < packets; ++k)
            reassembled += sent[2 + k].left(60);
        QCOMPARE(reassembled.left(49152), image);
    }

    void progressFormula()
    {
        QCOMPARE(Bootloader::progressValue(410, 49152), 50);
        QCOMPARE(Bootloader::progressValue(819, 49152), 100);
        QCOMPARE(Bootloader::progressValue(0, 0), -1);
    }

    void repliesOutOfTurnAreIgnored()
    {
        FirmwareTransfer transfer;
        QVERIFY(transfer.handleReply(reply(BootloaderReply::Ready)).bytes.isEmpty());
        QVERIFY(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.isEmpty());

        transfer.start(patternImage(70));
        // an acknowledgement before the bootloader said it is ready sends nothing
        QVERIFY(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.isEmpty());
        QVERIFY(transfer.handleReply(reply(BootloaderReply::QueryAnswer, 7)).bytes.isEmpty());
        QCOMPARE(transfer.handleReply(reply(BootloaderReply::Ready)).bytes.size(), 7);
        QCOMPARE(transfer.handleReply(reply(BootloaderReply::SizeReceived)).bytes.size(), 64);
        QCOMPARE(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.size(), 64);
        const FirmwareTransfer::Step end = transfer.handleReply(reply(BootloaderReply::PacketReceived));
        QVERIFY(end.finished);
        QVERIFY(!transfer.isRunning());
        // a late duplicate after the end must not restart anything
        QVERIFY(transfer.handleReply(reply(BootloaderReply::PacketReceived)).bytes.isEmpty());
    }

    void transferKeepsItsOwnCopy()
    {
        QByteArray image = patternImage(60);
        FirmwareTransfer transfer;
        transfer.start(image);
        image.fill('x');
        transfer.handleReply(reply(BootloaderReply::Ready));
        const QByteArray packet = transfer.handleReply(reply(BootloaderReply::SizeReceived)).bytes;
        QCOMPARE(packet.left(60), patternImage(60));
    }

    void readerWholeAndSplit()
    {
        const QByteArray stream = QByteArray("DD\x01", 3) + QByteArray("DD\x05\x2A", 4)
            + QByteArray("DD\x02", 3) + QByteArray("DD\x03", 3);
        const QVector<quint8> expected { 1, 5, 2, 3 };

        // every way of cutting the stream in two, and byte by byte
        for (int cut = 0; cut <= stream.size(); ++cut) {
            BootloaderReplyReader reader;
            QVector<BootloaderReply> replies = reader.feed(stream.left(cut));
            replies += reader.feed(stream.mid(cut));
            QCOMPARE(replies.size(), expected.size());
            for (int i = 0; i < replies.size(); ++i)
                QCOMPARE(replies[i].code, expected[i]);
            QCOMPARE(replies[1].value, quint8(0x2A));
            QCOMPARE(reader.pendingBytes(), 0);
        }
        BootloaderReplyReader reader;
        QVector<BootloaderReply> replies;
        for (char byte : stream)
            replies += reader.feed(QByteArray(1, byte));
        QCOMPARE(replies.size(), 4);
    }

    void readerSkipsNoise()
    {
        BootloaderReplyReader reader;
        // noise, an unknown code, a mark overlapping a real reply, a trailer
        const QVector<BootloaderReply> replies
            = reader.feed(QByteArray("xyDD\x09zDDD\x03*##*D", 15) + QByteArray("D\x02", 2));
        QCOMPARE(replies.size(), 2);
        QCOMPARE(replies[0].code, quint8(3));
        QCOMPARE(replies[1].code, quint8(2));

        // a query answer waits for its value byte, even if it is a 'D'
        QVERIFY(reader.feed(QByteArray("DD\x05", 3)).isEmpty());
        const QVector<BootloaderReply> answer = reader.feed(QByteArray("D", 1));
        QCOMPARE(answer.size(), 1);
        QCOMPARE(answer[0].value, quint8('D'));

        // junk without a mark does not pile up
        reader.feed(QByteArray(10000, 'x'));
        QCOMPARE(reader.pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareProtocol)
#include "tst_firmware_protocol.moc"
