// The calibration's pure logic: sweep arithmetic, wire encoding, packets, the
// acknowledgement and frame readers, and the three output files.
#include "calibration/CalibrationFrameReader.h"
#include "calibration/DrnuFiles.h"
#include "calibration/DrnuPackets.h"
#include "calibration/DrnuSweep.h"
#include "device/Crc16.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
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

QByteArray block(const QByteArray &pixels, quint16 value, quint8 step, quint8 status)
{
    QByteArray bytes = pixels;
    char trailer[4];
    qToLittleEndian<quint16>(value, trailer);
    trailer[2] = char(step);
    trailer[3] = char(status);
    bytes.append(trailer, 4);
    bytes.append("*##*");
    return bytes;
}

// Runs one complete step: 50 summed frames and the frame that closes the step.
void runStep(DrnuSweep &sweep, int step, const QVector<int> &distances, int temperature = 640)
{
    const QByteArray pixels = framePixels(distances);
    for (int i = 0; i < Drnu::FramesPerStep; ++i)
        QCOMPARE(
            sweep.addStepFrame(pixels.constData(), temperature, step), DrnuSweep::FrameResult::Accumulated);
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
    void crc16();
    void valueEncoding();
    void parametersFrame();
    void stepCollection();
    void wrapLift();
    void tableEntryBeforeRecomputation();
    void newSweepStartsClean();
    void finishedSweepFindsStepSize();
    void shiftFromExtrema();
    void shiftWithoutDivisionByZero();
    void renewRoundsHalfUp();
    void epc635Packets();
    void epc660Packets();
    void acknowledgement();
    void frameReaderChunking();
    void frameReaderGarbage();
    void fileBytes();
    void lutSourceCompiles();
    void fileFailures();
};

void TestCalibrationLogic::crc16()
{
    QCOMPARE(crc16Xmodem("123456789", 9), quint16(0x31C3));
    // Continued over pieces it equals the CRC of the whole.
    QCOMPARE(crc16Xmodem("6789", 4, crc16Xmodem("12345", 5)), quint16(0x31C3));
}

void TestCalibrationLogic::valueEncoding()
{
    char bytes[2];
    Drnu::encodeValue(-25, bytes);
    QCOMPARE(hex(QByteArray(bytes, 2)), QStringLiteral("F7 26"));
    Drnu::encodeValue(55535, bytes);
    QCOMPARE(hex(QByteArray(bytes, 2)), QStringLiteral("FF FF"));
    // Below the range: remainder and quotient toward zero, as the firmware always got them.
    Drnu::encodeValue(-10001, bytes);
    QCOMPARE(hex(QByteArray(bytes, 2)), QStringLiteral("FF 00"));
}

void TestCalibrationLogic::parametersFrame()
{
    DrnuSweep sweep(4);
    QVERIFY(sweep.setParameters(13800, 23));
    QCOMPARE(sweep.dllStepSize, 600);
    // A step count of 0 keeps the step size instead of dividing by zero.
    QVERIFY(!sweep.setParameters(13800, 0));
    QCOMPARE(sweep.dllStepSize, 600);
}

void TestCalibrationLogic::stepCollection()
{
    DrnuSweep sweep(2);
    const QByteArray pixels = framePixels({ 1000, 2000 });

    // Nothing is collected before "2.  Calibrate" starts a sweep.
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 640, 0), DrnuSweep::FrameResult::Ignored);

    sweep.start();
    QStringList log;
    for (int i = 0; i < 50; ++i) {
        // Temperatures 664 and 665 alternate: the mean 664.5 rounds up.
        QCOMPARE(sweep.addStepFrame(pixels.constData(), 664 + i % 2, 0, &log),
            DrnuSweep::FrameResult::Accumulated);
    }
    QCOMPARE(log.size(), 50);
    QCOMPARE(log.first(), QStringLiteral("DRNU step index: 0, Chip temperature: 41.5 C"));
    QCOMPARE(sweep.framesInStep(), 50);
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 9999, 0), DrnuSweep::FrameResult::StepClosed);
    QCOMPARE(sweep.expectedStep(), 1);
    QCOMPARE(sweep.stepTemperatures[0], 665);
    QCOMPARE(sweep.drnuOffset, 1500);
    QCOMPARE(sweep.progress(), 4);
    // Late frames of the closed step are dropped.
    QCOMPARE(sweep.addStepFrame(pixels.constData(), 640, 0), DrnuSweep::FrameResult::Ignored);
    QCOMPARE(sweep.framesInStep(), 0);
}

void TestCalibrationLogic::wrapLift()
{
    DrnuSweep sweep(2);
    sweep.start();
    runStep(sweep, 0, { 13900, 14100 });
    runStep(sweep, 1, { 14400, 14600 });
    runStep(sweep, 2, { 100, 300 });
    runStep(sweep, 3, { 600, 800 });
    QCOMPARE(sweep.stepAverages[0], 14000);
    QCOMPARE(sweep.stepAverages[1], 14500);
    QCOMPARE(sweep.stepAverages[2], 200);
    QCOMPARE(sweep.stepAverages[3], 700);
    // Only the first step after the drop is lifted; 700 is not below 200.
    QCOMPARE(sweep.stepDistances[2 * 2 + 0], 15100);
    QCOMPARE(sweep.stepDistances[2 * 2 + 1], 15300);
    QCOMPARE(sweep.stepDistances[3 * 2 + 0], 600);
}

void TestCalibrationLogic::tableEntryBeforeRecomputation()
{
    DrnuSweep sweep(1);
    sweep.setParameters(13800, 23);
    sweep.start();
    runStep(sweep, 0, { 3000 });
    runStep(sweep, 1, { 3610 });
    QCOMPARE(sweep.lutTable[1], 10);
}

void TestCalibrationLogic::newSweepStartsClean()
{
    DrnuSweep sweep(3);
    // Tables of a fresh calibration are zero, never left-over memory.
    QVERIFY(std::all_of(sweep.lutTable.cbegin(), sweep.lutTable.cend(), [](qint32 v) { return v == 0; }));
    QVERIFY(std::all_of(
        sweep.stepDistances.cbegin(), sweep.stepDistances.cend(), [](qint32 v) { return v == 0; }));
    QVERIFY(!sweep.hasResult());

    sweep.start();
    runStep(sweep, 0, { 1000, 1000, 1000 });
    const QByteArray half = framePixels({ 5000, 5000, 5000 });
    for (int i = 0; i < 20; ++i)
        sweep.addStepFrame(half.constData(), 700, 1);
    QCOMPARE(sweep.framesInStep(), 20);

    // A new sweep starts at step 0 with cleared sums: the 20 frames above are gone.
    sweep.start();
    QCOMPARE(sweep.expectedStep(), 0);
    QCOMPARE(sweep.framesInStep(), 0);
    QCOMPARE(sweep.addStepFrame(half.constData(), 700, 1), DrnuSweep::FrameResult::Ignored);
    runStep(sweep, 0, { 2000, 2000, 2000 });
    QCOMPARE(sweep.stepDistances[0], 2000);
    QCOMPARE(sweep.drnuOffset, 2000);

    sweep.abort();
    QVERIFY(!sweep.isRunning());
    QCOMPARE(sweep.addStepFrame(half.constData(), 700, 1), DrnuSweep::FrameResult::Ignored);
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
    QCOMPARE(sweep.expectedStep(), Drnu::StepCount);
    QStringList log;
    const QByteArray any = framePixels({ 0, 0, 0 });
    QCOMPARE(sweep.addStepFrame(any.constData(), 0, 7, &log), DrnuSweep::FrameResult::SweepComplete);
    sweep.finishSweep(&log);
    QVERIFY(sweep.hasResult());

    QVERIFY(log.contains(QStringLiteral("Max: 2 10 18")));
    QVERIFY(log.contains(QStringLiteral("Min: 6 14 0")));
    QVERIFY(log.contains(QStringLiteral("Shift: 30")));
    QCOMPARE(log.last(), QStringLiteral("DRNU calibration finished"));
    QCOMPARE(sweep.dllStepSize, 603);
    QCOMPARE(sweep.drnuOffset, 2002);
    for (int s = 0; s < Drnu::StepCount; ++s) {
        for (int p = 0; p < 3; ++p)
            QCOMPARE(sweep.lutTable[s * 3 + p], 2000 + offsets[p] + ripple[s % 8] - 2002);
        QCOMPARE(sweep.stepMeans[s], ripple[s % 8] - 0);
    }
    QVERIFY(sweep.frameSums.isEmpty());
}

void TestCalibrationLogic::shiftFromExtrema()
{
    std::array<qint32, Drnu::StepCount> means {};
    const int values[Drnu::StepCount]
        = { 0, 4, 7, 10, 8, 6, 4, 10, 13, 16, 12, 11, 10, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21 };
    std::copy(std::begin(values), std::end(values), means.begin());
    QStringList log;
    QCOMPARE(DrnuSweep::calcDRNUShift(means, &log), 1);
    QCOMPARE(log, QStringList({ "Max: 3 9 0", "Min: 6 12 0", "Up: 1", "Down: 1", "Shift: 10" }));

    // A straight line has no extrema.
    for (int s = 0; s < Drnu::StepCount; ++s)
        means[s] = 5 * s - 30;
    QCOMPARE(DrnuSweep::calcDRNUShift(means), 0);

    // A zigzag has 11 interior maxima; the 11th (a tall one) is dropped.
    for (int s = 0; s < Drnu::StepCount; ++s)
        means[s] = s + (s % 2 ? 10 : 0);
    means[21] = 131;
    log.clear();
    QCOMPARE(DrnuSweep::calcDRNUShift(means, &log), 1);
    QCOMPARE(log.at(0), QStringLiteral("Max: 1 3 5"));
}

void TestCalibrationLogic::shiftWithoutDivisionByZero()
{
    std::array<qint32, Drnu::StepCount> means {};
    // One maximum (step 5) and one minimum (step 15): every log divisor is 0.
    for (int s = 0; s < Drnu::StepCount; ++s)
        means[s] = s <= 5 ? 10 * s : s <= 15 ? 50 - 10 * (s - 5) : -50 + 10 * (s - 15);
    QStringList log;
    QCOMPARE(DrnuSweep::calcDRNUShift(means, &log), 0);
    QCOMPARE(log, QStringList({ "Max: 5 0 0", "Min: 15 0 0", "Up: 0", "Down: 0", "Shift: 0" }));
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

void TestCalibrationLogic::epc635Packets()
{
    QVector<qint32> values(30);
    for (int i = 0; i < 30; ++i)
        values[i] = i - 25;
    const QByteArray packet = Drnu::epc635LutPacket(values.constData(), 300, 22);
    QCOMPARE(packet.size(), 64);
    QCOMPARE(hex(packet.left(2)), QStringLiteral("F7 26"));
    QCOMPARE(hex(packet.mid(58, 6)), QStringLiteral("14 27 2C 01 16 23"));

    Drnu::LutInfo info;
    info.waferID = 7;
    info.chipID = 300;
    info.avgChipTemperature = 662;
    info.dllStepSize = 603;
    info.drnuOffset = 3012 + 2;
    info.boxLength = 320;
    const QByteArray infoPacket = Drnu::epc635InfoPacket(info);
    QCOMPARE(hex(infoPacket), QStringLiteral("17 27 3C 28 A6 29 6B 29 D6 32 50 28 24"));
}

void TestCalibrationLogic::epc660Packets()
{
    const int total = Drnu::StepCount * 76800;
    QVector<qint32> table(total);
    for (int i = 0; i < total; ++i)
        table[i] = (i % 401) - 200;
    Drnu::LutInfo info;
    info.waferID = 12;
    info.chipID = 34;
    info.avgChipTemperature = 650;
    info.dllStepSize = 600;
    info.drnuOffset = 3012;
    Drnu::Epc660PacketWriter writer(table.constData(), total, info);
    QCOMPARE(writer.packetCount(), 1729);

    QByteArray previous;
    for (int k = 0; k < 1729; ++k) {
        const QByteArray packet = writer.next();
        QCOMPARE(packet.size(), 2048);
        QCOMPARE(packet.at(2047), '#');
        QCOMPARE(quint8(packet.at(2046)), quint8(k & 0xFF));
        const quint16 crc = crc16Xmodem(packet.constData(), 2044);
        QCOMPARE(quint8(packet.at(2044)), quint8(crc >> 8));
        QCOMPARE(quint8(packet.at(2045)), quint8(crc & 0xFF));
        if (k == 1) {
            char first[2];
            Drnu::encodeValue(table[1022], first);
            QCOMPARE(packet.left(2), QByteArray(first, 2));
        }
        if (k == 1728) {
            char last[2];
            Drnu::encodeValue(table[total - 1], last);
            QCOMPARE(packet.mid(766, 2), QByteArray(last, 2));
            QCOMPARE(hex(packet.mid(768, 10)), QStringLiteral("1C 27 32 27 9A 29 68 29 D4 32"));
            // Behind the information block the previous packet's bytes stand.
            QCOMPARE(packet.mid(778, 2044 - 778), previous.mid(778, 2044 - 778));
            QCOMPARE(writer.progress(), 100);
        }
        previous = packet;
    }
    QVERIFY(writer.atEnd());
    QVERIFY(writer.next().isEmpty());
}

void TestCalibrationLogic::acknowledgement()
{
    Drnu::AckDetector ack;
    QCOMPARE(ack.feed(QByteArray("EE\x02\x00\x00*##*", 9)), 1);
    // Split anywhere, even inside the three bytes or the marker.
    QCOMPARE(ack.feed(QByteArray("E")), 0);
    QCOMPARE(ack.feed(QByteArray("E\x02", 2)), 1);
    QCOMPARE(ack.feed(QByteArray("xx*#")), 0);
    QCOMPARE(ack.feed(QByteArray("#*EE")), 0);
    QCOMPARE(ack.feed(QByteArray("\x02*##*", 5)), 1);
    // Inside a reply, or another reply: no acknowledgement.
    QCOMPARE(ack.feed(QByteArray("abEE\x02*##*", 9)), 0);
    QCOMPARE(ack.feed(QByteArray("EE\x03*##*", 7)), 0);
    // Two replies in one chunk.
    QCOMPARE(ack.feed(QByteArray("EE\x02*##*EE\x02zz*##*", 16)), 2);
    // Replies without the marker: each chunk may start one.
    QCOMPARE(ack.feed(QByteArray("EE\x02\x00", 4)), 1);
    QCOMPARE(ack.feed(QByteArray("\x00\x00", 2)), 0);
    QCOMPARE(ack.feed(QByteArray("EE\x02\x00", 4)), 1);
    // A false start that runs into a real chunk start.
    QCOMPARE(ack.feed(QByteArray("EE")), 0);
    QCOMPARE(ack.feed(QByteArray("EE\x02", 3)), 1);
    // A reply split in the middle of its head after a packet was sent.
    QCOMPARE(ack.feed(QByteArray("zzzz")), 0);
    ack.reset();
    QCOMPARE(ack.feed(QByteArray("E")), 0);
    QCOMPARE(ack.feed(QByteArray("E")), 0);
    QCOMPARE(ack.feed(QByteArray("\x02")), 1);
}

void TestCalibrationLogic::frameReaderChunking()
{
    const int n = 5;
    QByteArray stream;
    stream += QByteArray("left-over*##*");
    stream += block(framePixels({ 1, 2, 3, 4, 5 }), 13800, 23, CalibrationFrame::Parameters);
    stream += block(framePixels({ 10, 20, 30, 40, 50 }), 664, 0, CalibrationFrame::Step);
    stream += block(framePixels({ 1, 2, 3, 4 }), 664, 0, CalibrationFrame::Step); // one pixel short
    stream += block(framePixels({ 11, 21, 31, 41, 51 }), 665, 1, 9);

    auto read = [&](int chunk, int *left) {
        CalibrationFrameReader reader(n);
        QStringList frames;
        for (int i = 0; i < stream.size(); i += chunk) {
            reader.append(stream.mid(i, chunk));
            CalibrationFrame frame;
            while (reader.next(&frame)) {
                const auto *p = reinterpret_cast<const uchar *>(frame.pixels.constData());
                frames << QStringLiteral("%1/%2/%3/%4/%5")
                              .arg(frame.status)
                              .arg(frame.value)
                              .arg(frame.step)
                              .arg(qFromLittleEndian<quint16>(p))
                              .arg(qFromLittleEndian<quint16>(p + 8));
            }
        }
        *left = reader.bufferedBytes();
        return frames;
    };

    const QStringList expected({ "5/13800/23/1/5", "6/664/0/10/50", "9/665/1/11/51" });
    for (int chunk : { 1, 2, 3, 5, 7, 14, 1000 }) {
        int left = -1;
        const QStringList frames = read(chunk, &left);
        QCOMPARE(frames, expected);
        QCOMPARE(left, 0);
    }
}

void TestCalibrationLogic::frameReaderGarbage()
{
    const int n = 5;
    CalibrationFrameReader reader(n);
    // A flood without any marker never grows the buffer beyond one frame.
    const QByteArray noise(97, 'x');
    for (int i = 0; i < 1000; ++i) {
        reader.append(noise);
        QVERIFY(reader.bufferedBytes() <= reader.frameBytes() + 4 + noise.size());
    }
    // The block that lost its start is dropped even when its rest has the right length.
    reader.append(block(framePixels({ 1, 2, 3, 4, 5 }), 600, 0, CalibrationFrame::Step));
    CalibrationFrame frame;
    QVERIFY(!reader.next(&frame));
    reader.append(block(framePixels({ 1, 2, 3, 4, 5 }), 600, 0, CalibrationFrame::Step));
    QVERIFY(reader.next(&frame));
    QCOMPARE(frame.status, quint8(CalibrationFrame::Step));
}

namespace {

struct SmallTable
{
    QVector<qint32> distances;
    QVector<qint32> lut;
    std::array<qint32, Drnu::StepCount> means {};
    Drnu::FileContent content;

    explicit SmallTable(int deviceType)
    {
        const int n = 2;
        distances.resize(Drnu::StepCount * n);
        lut.resize(Drnu::StepCount * n);
        for (int i = 0; i < distances.size(); ++i) {
            distances[i] = 2000 + 600 * (i / n) + i % n;
            lut[i] = (i * 7) % 23 - 11;
        }
        lut[0] = -7;
        lut[lut.size() - 1] = 42;
        for (int s = 0; s < Drnu::StepCount; ++s)
            means[s] = s - 3;
        content.deviceType = deviceType;
        content.pixelCount = n;
        content.stepDistances = distances.constData();
        content.lutTable = lut.constData();
        content.stepMeans = means.data();
        content.waferID = 5;
        content.chipID = 1234;
        content.avgChipTemperature = 662;
        content.dllStepSize = 600;
        content.drnuOffset = 3012;
        content.boxLength = 320;
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestCalibrationLogic::fileBytes()
{
    SmallTable table(3);
    QBuffer image, lut, average;
    image.open(QIODevice::WriteOnly);
    lut.open(QIODevice::WriteOnly);
    average.open(QIODevice::WriteOnly);
    QCOMPARE(Drnu::writeFiles(table.content, &image, &lut, &average), nullptr);

    const QByteArray c = lut.data();
    QVERIFY(c.startsWith("#include \"epc660.h\"  \r\n\n"
                         "int16_t DRNU_LUT_DATA[DRNU_DLL_NUM][IMAGE_RESOLUTION] = {  \r\n\n"
                         "-7, \n"));
    QVERIFY(c.endsWith("\n42\n\r\n\r\n\r\n\n"
                       "}; \r\n\n"
                       "int16_t DRNU_LUT_INFO[DRNU_LUT_INFO_NUM] = {\n"
                       "5, \n1234, \n662, \n600, \n3012,\n320};\n"));
    QCOMPARE(c.count(", \n"), Drnu::StepCount * 2 - 1 + 4);
    QCOMPARE(c.count("\r\n\r\n\r\n\n"), Drnu::StepCount);

    QByteArray expectedImage;
    for (int s = 0; s < Drnu::StepCount; ++s) {
        expectedImage
            += QByteArray::number(2000 + 600 * s) + " \n" + QByteArray::number(2001 + 600 * s) + " \n";
        expectedImage += "\r\n\r\n\r\n\n";
    }
    QCOMPARE(image.data(), expectedImage);
    QByteArray expectedAverage;
    for (int s = 0; s < Drnu::StepCount; ++s)
        expectedAverage += QByteArray::number(s - 3) + " \n";
    QCOMPARE(average.data(), expectedAverage);

    // epc635 names its own header.
    SmallTable m10(2);
    QBuffer lut635, sink1, sink2;
    for (QBuffer *b : { &lut635, &sink1, &sink2 })
        b->open(QIODevice::WriteOnly);
    Drnu::writeFiles(m10.content, &sink1, &lut635, &sink2);
    QVERIFY(lut635.data().startsWith("#include \"epc635.h\"  \r\n\nint16_t DRNU_LUT_DATA"));
}

void TestCalibrationLogic::lutSourceCompiles()
{
    const QString cc = QStandardPaths::findExecutable(QStringLiteral("cc"));
    if (cc.isEmpty())
        QSKIP("no system C compiler");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SmallTable table(3);
    const Drnu::SaveResult result = Drnu::saveFiles(dir.path(), table.content);
    QVERIFY2(result.ok, qPrintable(result.message));

    QFile header(dir.filePath(QStringLiteral("epc660.h")));
    QVERIFY(header.open(QIODevice::WriteOnly));
    header.write("#define DRNU_DLL_NUM 23\n#define IMAGE_RESOLUTION 2\n#define DRNU_LUT_INFO_NUM 6\n"
                 "typedef short int16_t;\n");
    header.close();
    QFile main(dir.filePath(QStringLiteral("main.c")));
    QVERIFY(main.open(QIODevice::WriteOnly));
    main.write("#include <stdio.h>\n#include \"DRNU_Lut.c\"\n"
               "int main(void) {\n"
               "  for (int s = 0; s < DRNU_DLL_NUM; ++s)\n"
               "    for (int p = 0; p < IMAGE_RESOLUTION; ++p) printf(\"%d\\n\", DRNU_LUT_DATA[s][p]);\n"
               "  for (int i = 0; i < DRNU_LUT_INFO_NUM; ++i) printf(\"%d\\n\", DRNU_LUT_INFO[i]);\n"
               "  return 0;\n}\n");
    main.close();

    QProcess compile;
    compile.setWorkingDirectory(dir.path());
    compile.start(cc,
        { QStringLiteral("-std=c99"), QStringLiteral("main.c"), QStringLiteral("-o"),
            QStringLiteral("lut") });
    QVERIFY(compile.waitForFinished(60000));
    QVERIFY2(compile.exitCode() == 0, compile.readAllStandardError().constData());

    QProcess run;
    run.start(dir.filePath(QStringLiteral("lut")), QStringList());
    QVERIFY(run.waitForFinished(10000));
    QStringList expected;
    for (qint32 v : table.lut)
        expected << QString::number(v);
    expected << "5"
             << "1234"
             << "662"
             << "600"
             << "3012"
             << "320";
    QCOMPARE(QString::fromLatin1(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), expected);
}

void TestCalibrationLogic::fileFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SmallTable table(3);

    // A missing working folder: nothing is created, the message names the file.
    const QString missing = dir.filePath(QStringLiteral("log/1_2_3"));
    Drnu::SaveResult result = Drnu::saveFiles(missing, table.content);
    QVERIFY(!result.ok);
    QVERIFY2(
        result.message.startsWith(QStringLiteral("Open drnu image file failed")), qPrintable(result.message));
    QVERIFY(!QFileInfo::exists(missing));

    // The previous files stay as they were when one of the three cannot be written.
    QFile old(dir.filePath(Drnu::imageFileName()));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous calibration\n");
    old.close();
    QVERIFY(QDir(dir.path()).mkdir(Drnu::lutFileName()));
    result = Drnu::saveFiles(dir.path(), table.content);
    QVERIFY(!result.ok);
    QVERIFY2(result.message.startsWith(QStringLiteral("Write drnu lut file failed"))
            || result.message.startsWith(QStringLiteral("Open drnu lut file failed")),
        qPrintable(result.message));
    QCOMPARE(readAll(old.fileName()), QByteArray("previous calibration\n"));
    QVERIFY(!QFileInfo::exists(dir.filePath(Drnu::averageFileName())));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({ Drnu::imageFileName() }));

    // Success replaces all three.
    QVERIFY(QDir(dir.filePath(Drnu::lutFileName())).removeRecursively());
    result = Drnu::saveFiles(dir.path(), table.content);
    QVERIFY2(result.ok, qPrintable(result.message));
    QVERIFY(readAll(old.fileName()).startsWith("2000 \n2001 \n"));
    QCOMPARE(QFileInfo(dir.filePath(Drnu::lutFileName())).permissions() & QFile::ReadOther, QFile::ReadOther);
}

QTEST_GUILESS_MAIN(TestCalibrationLogic)
#include "tst_calibration_logic.moc"
