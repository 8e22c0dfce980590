// The calibration's pure logic: sweep arithmetic, wire encoding, packets, the
// acknowledgement reader, and the three output files. Chunkings, stray bytes
// and the frame reader are the fuzz targets' job.
#include "calibration/DrnuFiles.h"
#include "calibration/DrnuPackets.h"
#include "calibration/DrnuSweep.h"
#include "device/Crc16.h"
#include "tests/support/WindowTestSupport.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray framePixels(const QVector<int> &distances)
{
    QByteArray bytes(2 * distances.size(), '\0');
    for (int p = 0; p < distances.size(); ++p)
        qToLittleEndian<quint16>(quint16(distances[p]), bytes.data() + 2 * p);
    return bytes;
}

// 50 summed frames and the frame that closes the step.
void runStep(DrnuSweep &sweep, int step, const QVector<int> &distances, int temperature = 640)
{
    const QByteArray pixels = framePixels(distances);
    for (int i = 0; i < Drnu::FramesPerStep; ++i)
        sweep.addStepFrame(pixels.constData(), temperature, step);
    QCOMPARE(sweep.addStepFrame(pixels.constData(), temperature, step), DrnuSweep::FrameResult::StepClosed);
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

class TestCalibrationLogic : public QObject
{
    Q_OBJECT

private slots:
    void wireEncoding();
    void epc660Packets();
    void stepCollection();
    void finishedSweepFindsStepSize();
    void shift_data();
    void shift();
    void renewRoundsHalfUp();
    void acknowledgement();
    void files();
};

void TestCalibrationLogic::wireEncoding()
{
    QCOMPARE(crc16Xmodem("123456789", 9), quint16(0x31C3));
    QCOMPARE(crc16Xmodem("6789", 4, crc16Xmodem("12345", 5)), quint16(0x31C3));
    char bytes[2];
    // value + 10000, low byte first; below the range remainder and quotient go toward zero.
    for (const auto &[value, text] :
        { std::pair<int, const char *> { -25, "F7 26" }, { 55535, "FF FF" }, { -10001, "FF 00" } }) {
        Drnu::encodeValue(value, bytes);
        QCOMPARE(hex(QByteArray(bytes, 2)), QString(text));
    }
    QVector<qint32> values(30);
    std::iota(values.begin(), values.end(), -25);
    const QByteArray packet = Drnu::epc635LutPacket(values.constData(), 300, 22);
    QCOMPARE(hex(packet.left(2)), QStringLiteral("F7 26"));
    QCOMPARE(hex(packet.mid(58)), QStringLiteral("14 27 2C 01 16 23"));
    const Drnu::LutInfo info { 7, 300, 662, 603, 3014, 320 };
    QCOMPARE(hex(Drnu::epc635InfoPacket(info)), QStringLiteral("17 27 3C 28 A6 29 6B 29 D6 32 50 28 24"));
}

void TestCalibrationLogic::epc660Packets()
{
    const int total = Drnu::StepCount * 76800;
    QVector<qint32> table(total);
    for (int i = 0; i < total; ++i)
        table[i] = (i % 401) - 200;
    Drnu::Epc660PacketWriter writer(table.constData(), total, { 12, 34, 650, 600, 3012, 0 });
    QCOMPARE(writer.packetCount(), 1729);
    QByteArray packet, previous;
    char value[2];
    for (int k = 0; !writer.atEnd(); ++k) {
        previous = packet;
        packet = writer.next();
        QCOMPARE(packet.size(), 2048);
        const quint16 crc = crc16Xmodem(packet.constData(), 2044);
        const char tail[4] = { char(crc >> 8), char(crc & 0xFF), char(k & 0xFF), '#' };
        QCOMPARE(hex(packet.mid(2044)), hex(QByteArray(tail, 4)));
        Drnu::encodeValue(table[k * 1022], value);
        QCOMPARE(packet.left(2), QByteArray(value, 2));
        if (k == 15 || k == 16) // (packets sent + 1) x 102200 / total
            QCOMPARE(writer.progress(), k - 15);
    }
    QCOMPARE(writer.progress(), 100);
    QVERIFY(writer.next().isEmpty());
    // The last packet: 384 values, the information block, then the previous packet's bytes.
    Drnu::encodeValue(table[total - 1], value);
    QCOMPARE(packet.mid(766, 2), QByteArray(value, 2));
    QCOMPARE(hex(packet.mid(768, 10)), QStringLiteral("1C 27 32 27 9A 29 68 29 D4 32"));
    QCOMPARE(packet.mid(778, 2044 - 778), previous.mid(778, 2044 - 778));
}

void TestCalibrationLogic::stepCollection()
{
    DrnuSweep sweep(2);
    const QByteArray pixels = framePixels({ 1000, 2000 });
    // Nothing is collected before "2.  Calibrate" starts a sweep.
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 640, 0), DrnuSweep::FrameResult::Ignored);
    QVERIFY(sweep.setParameters(13800, 23));
    QCOMPARE(sweep.dllStepSize, 600);
    QVERIFY(!sweep.setParameters(13800, 0)); // keeps the step size instead of dividing by zero
    sweep.start();
    QStringList log;
    for (int i = 0; i < 50; ++i) // 664 and 665 alternate: the mean 664.5 rounds up
        sweep.addStepFrame(pixels.constData(), 664 + i % 2, 0, &log);
    QCOMPARE(log.first(), QStringLiteral("DRNU step index: 0, Chip temperature: 41.5 C"));
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 9999, 0), DrnuSweep::FrameResult::StepClosed);
    QCOMPARE(sweep.stepTemperatures[0], 665);
    QCOMPARE(sweep.drnuOffset, 1500);
    QCOMPARE(sweep.progress(), 4);
    // Late frames of the closed step are dropped.
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 640, 0), DrnuSweep::FrameResult::Ignored);
    // Only the first step after the wrap is lifted; the table entry before recomputation.
    runStep(sweep, 1, { 14400, 14600 });
    runStep(sweep, 2, { 100, 300 });
    runStep(sweep, 3, { 600, 800 });
    QCOMPARE(sweep.stepAverages[2], 200);
    QCOMPARE(sweep.stepDistances[2 * 2 + 1], 15300);
    QCOMPARE(sweep.stepDistances[3 * 2 + 0], 600);
    // A new sweep starts at step 0 with cleared sums.
    for (int i = 0; i < 20; ++i)
        sweep.addStepFrame(pixels.constData(), 700, 4);
    sweep.start();
    QCOMPARE(sweep.framesInStep(), 0);
    runStep(sweep, 0, { 2000, 2000 });
    QCOMPARE(sweep.drnuOffset, 2000);
    sweep.abort();
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 700, 1), DrnuSweep::FrameResult::Ignored);
    // The table entry of a step before the final recomputation.
    DrnuSweep one(1);
    one.setParameters(13800, 23);
    one.start();
    runStep(one, 0, { 3000 });
    runStep(one, 1, { 3610 });
    QCOMPARE(one.lutTable[1], 10);
}

void TestCalibrationLogic::finishedSweepFindsStepSize()
{
    // Three pixels with their own offsets, a true step of 603 mm against the
    // camera's 600, and a triangle ripple of 40 mm with a period of 8 steps.
    const int ripple[8] = { 0, 20, 40, 20, 0, -20, -40, -20 };
    const int offsets[3] = { -7, 0, 13 };
    DrnuSweep sweep(3);
    sweep.setParameters(13800, 23);
    sweep.start();
    for (int s = 0; s < Drnu::StepCount; ++s) {
        QVector<int> distances;
        for (int p = 0; p < 3; ++p)
            distances << 2000 + offsets[p] + 603 * s + ripple[s % 8];
        runStep(sweep, s, distances, 640 + 2 * s);
    }
    QStringList log;
    QCOMPARE(sweep.addStepFrame(framePixels({ 0, 0, 0 }).constData(), 0, 7, &log),
        DrnuSweep::FrameResult::SweepComplete);
    sweep.finishSweep(&log);
    QVERIFY(sweep.hasResult());
    QVERIFY(log.contains("Shift: 30"));
    QCOMPARE(log.last(), QStringLiteral("DRNU calibration finished"));
    QCOMPARE(sweep.dllStepSize, 603);
    QCOMPARE(sweep.drnuOffset, 2002);
    QCOMPARE(sweep.avgChipTemperature, 662);
    for (int s = 0; s < Drnu::StepCount; ++s) {
        for (int p = 0; p < 3; ++p)
            QCOMPARE(sweep.lutTable[s * 3 + p], 2000 + offsets[p] + ripple[s % 8] - 2002);
        QCOMPARE(sweep.stepMeans[s], ripple[s % 8]);
    }
}

void TestCalibrationLogic::shift_data()
{
    QTest::addColumn<QVector<int>>("means");
    QTest::addColumn<int>("shift");
    QTest::addColumn<QStringList>("log"); // its first lines
    QTest::newRow("extrema") << QVector<int> {
        0, 4, 7, 10, 8, 6, 4, 10, 13, 16, 12, 11, 10, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21
    } << 1 << QStringList { "Max: 3 9 0", "Min: 6 12 0", "Up: 1", "Down: 1", "Shift: 10" };
    QVector<int> line, zigzag, single;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        line << 5 * s - 30;
        zigzag << s + (s % 2 ? 10 : 0);
        single << (s <= 5 ? 10 * s : s <= 15 ? 50 - 10 * (s - 5) : -50 + 10 * (s - 15));
    }
    zigzag[21] = 131; // the 11th interior maximum is dropped
    QTest::newRow("straight line") << line << 0
                                   << QStringList { "Max: 0 0 0", "Min: 0 0 0", "Up: 0", "Down: 0",
                                          "Shift: 0" };
    QTest::newRow("zigzag") << zigzag << 1 << QStringList { "Max: 1 3 5" };
    // One maximum and one minimum: every divisor is 0.
    QTest::newRow("one each") << single << 0
                              << QStringList { "Max: 5 0 0", "Min: 15 0 0", "Up: 0", "Down: 0", "Shift: 0" };
}

void TestCalibrationLogic::shift()
{
    QFETCH(QVector<int>, means);
    QFETCH(QStringList, log);
    std::array<qint32, Drnu::StepCount> array {};
    std::copy(means.begin(), means.end(), array.begin());
    QStringList got;
    QTEST(DrnuSweep::calcDRNUShift(array, &got), "shift");
    QCOMPARE(got.mid(0, log.size()), log);
}

void TestCalibrationLogic::renewRoundsHalfUp()
{
    DrnuSweep sweep(1);
    sweep.drnuOffset = 3000;
    sweep.stepDistances[2] = 4200;
    sweep.renewDRNU(6005);
    QCOMPARE(sweep.dllStepSize, 600);
    QCOMPARE(sweep.lutTable[2], -1); // floor(1200 - 1201.0 + 0.5)
    QCOMPARE(sweep.lutTable[1], -3000 - 600); // floor(-3000 - 600.5 + 0.5)
}

void TestCalibrationLogic::acknowledgement()
{
    // Chunk by chunk into one detector; every other split is the fuzz target's.
    const std::pair<QByteArray, int> chunks[] = { { QByteArray("EE\x02\x00\x00*##*", 9), 1 }, { "E", 0 },
        { "E\x02", 1 }, { "abEE\x02*##*", 0 }, { "EE\x03*##*", 0 }, { "EE\x02*##*EE\x02zz*##*", 2 } };
    Drnu::AckDetector ack;
    for (const auto &[bytes, count] : chunks)
        QCOMPARE(ack.feed(bytes), count);
    // After a packet goes out a reply may start again, even split byte by byte.
    QCOMPARE(ack.feed(QByteArray("zzzz")), 0);
    ack.reset();
    QCOMPARE(ack.feed(QByteArray("E")) + ack.feed(QByteArray("E")) + ack.feed(QByteArray("\x02")), 1);
}

void TestCalibrationLogic::files()
{
    // Two pixels, every step, with recognisable values.
    QVector<qint32> distances(Drnu::StepCount * 2), lut(Drnu::StepCount * 2);
    std::array<qint32, Drnu::StepCount> means {};
    for (int i = 0; i < distances.size(); ++i) {
        distances[i] = 2000 + 600 * (i / 2) + i % 2;
        lut[i] = (i * 7) % 23 - 11;
        means[i / 2] = i / 2 - 3;
    }
    Drnu::FileContent content { 3, 2, distances.constData(), lut.constData(), means.data(), 5, 1234, 662, 600,
        3012, 320 };
    QByteArray expectedLut
        = "#include \"epc660.h\"  \r\n\nint16_t DRNU_LUT_DATA[DRNU_DLL_NUM][IMAGE_RESOLUTION] = {  \r\n\n";
    QByteArray expectedImage, expectedAverage;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        expectedLut += QByteArray::number(lut[2 * s]) + ", \n" + QByteArray::number(lut[2 * s + 1])
            + (s == Drnu::StepCount - 1 ? "\n" : ", \n") + "\r\n\r\n\r\n\n";
        expectedImage += QByteArray::number(2000 + 600 * s) + " \n" + QByteArray::number(2001 + 600 * s)
            + " \n\r\n\r\n\r\n\n";
        expectedAverage += QByteArray::number(s - 3) + " \n";
    }
    expectedLut
        += "}; \r\n\nint16_t DRNU_LUT_INFO[DRNU_LUT_INFO_NUM] = {\n5, \n1234, \n662, \n600, \n3012,\n320};\n";
    QTemporaryDir dir;
    const Drnu::SaveResult saved = Drnu::saveFiles(dir.path(), content);
    QVERIFY2(saved.ok, qPrintable(saved.message));
    QCOMPARE(WindowTest::readFile(dir.filePath(Drnu::lutFileName())), expectedLut);
    QCOMPARE(WindowTest::readFile(dir.filePath(Drnu::imageFileName())), expectedImage);
    QCOMPARE(WindowTest::readFile(dir.filePath(Drnu::averageFileName())), expectedAverage);
    // The disk fills with the table's last bytes, still buffered: no file is replaced.
    const QStringList names { Drnu::imageFileName(), Drnu::lutFileName(), Drnu::averageFileName() };
    for (const QString &name : names)
        QVERIFY(WindowTest::writeFile(dir.filePath(name), "earlier\n"));
    QVERIFY(expectedImage.size() < expectedLut.size() - 1);
    {
        WindowTest::FileSizeLimit full(expectedLut.size() - 1);
        const Drnu::SaveResult cut = Drnu::saveFiles(dir.path(), content);
        QVERIFY(!cut.ok && cut.message.startsWith("Write drnu lut file failed"));
    }
    for (const QString &name : names)
        QCOMPARE(WindowTest::readFile(dir.filePath(name)), QByteArray("earlier\n"));
    content.deviceType = 2; // epc635 names its own header
    QBuffer lut635, sink;
    lut635.open(QIODevice::WriteOnly);
    sink.open(QIODevice::WriteOnly);
    QCOMPARE(Drnu::writeFiles(content, &sink, &lut635, &sink), nullptr);
    QCOMPARE(lut635.data(), QByteArray(expectedLut).replace("epc660.h", "epc635.h"));
    // A missing working folder: nothing is created, the message names the file.
    const Drnu::SaveResult missing = Drnu::saveFiles(dir.filePath("log/1_2_3"), content);
    QVERIFY(!missing.ok && missing.message.startsWith("Open drnu image file failed"));
    QVERIFY(!QFileInfo::exists(dir.filePath("log")));
}

QTEST_GUILESS_MAIN(TestCalibrationLogic)
#include "tst_calibration_logic.moc"
