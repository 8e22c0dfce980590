// quarvel-cli end to end, against kavrix-sim: every subcommand on both models
// (and the bootloader), files byte for byte against the window's writers, the
// recording format's crash safety, and the exit codes of a lost camera.

#include "app/FrameLogger.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"
#include "frames/Recording.h"
#include "frames/SyntheticScene.h"
#include "tests/support/CliProcess.h"
#include "tests/support/SimProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The scene the simulator shows after a fresh start with only the frame type changed.
SceneSettings scene(const QString &model, int frameType)
{
    SceneSettings s;
    s.width = model == QLatin1String("m10") ? 160 : 320;
    s.height = model == QLatin1String("m10") ? 60 : 240;
    s.frameType = frameType;
    return s;
}

// The lens values the window falls back to without stored ones.
LensParameters defaultLens(const QString &model)
{
    LensParameters lens;
    const bool m10 = model == QLatin1String("m10");
    lens.cx = m10 ? 80 : 160;
    lens.cy = m10 ? 30 : 120;
    lens.fx = lens.fy = m10 ? 113 : 230;
    return lens;
}

QList<Recording::Frame> readAll(
    const QString &path, Recording::Header *header = nullptr, qint64 *tail = nullptr)
{
    QList<Recording::Frame> frames;
    RecordingReader reader;
    if (!reader.open(path))
        return frames;
    Recording::Frame frame;
    while (reader.next(&frame))
        frames << frame;
    if (header)
        *header = reader.header();
    if (tail)
        *tail = reader.tailBytes();
    return frames;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void exitCodes_data();
    void exitCodes();
    void listAndInfo();
    void capture_data();
    void capture();
    void recordReplayExport_data();
    void recordReplayExport();
    void recordKilledMidWrite();
    void firmwareUpdate_data();
    void firmwareUpdate();
    void cameraLostMidJob_data();
    void cameraLostMidJob();

private:
    SimProcess *startSim(const QStringList &arguments);

    std::vector<std::unique_ptr<SimProcess>> sims;
    QTemporaryDir dir;
};

void TestCli::initTestCase()
{
    isolateRegistry();
    QVERIFY(dir.isValid());
}

void TestCli::cleanup()
{
    sims.clear();
}

SimProcess *TestCli::startSim(const QStringList &arguments)
{
    sims.push_back(std::make_unique<SimProcess>());
    return sims.back()->start(arguments) ? sims.back().get() : nullptr;
}

void TestCli::exitCodes_data()
{
    QTest::addColumn<QString>("model"); // simulator to start, empty for none
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no command") << "" << QStringList {} << 1 << "no command given";
    QTest::newRow("bad mode") << "m20" << QStringList { "capture", "--mode", "colour" } << 1 << "--mode";
    QTest::newRow("hdr with amplitude")
        << "" << QStringList { "capture", "--mode", "amplitude", "--hdr" } << 1 << "--hdr needs depth";
    QTest::newRow("M10 time limit") << "m10" << QStringList { "capture", "--integration-time", "4500" } << 1
                                    << "up to 4000 us";
    QTest::newRow("nothing to list") << "" << QStringList { "list" } << 0 << "";
    QTest::newRow("no camera") << "" << QStringList { "info" } << 2 << "no Kavrix camera found";
    QTest::newRow("only a bootloader")
        << "bootloader" << QStringList { "record", "--out", "x.kvr" } << 2 << "in its bootloader";
    QTest::newRow("wrong port") << "m10" << QStringList { "info", "--port", "nothere" } << 2
                                << "no Kavrix camera on port nothere";
    QTest::newRow("silent camera") << "m20 --info-mode silent" << QStringList { "info" } << 3
                                   << "Get device info failed!";
    QTest::newRow("missing recording") << "" << QStringList { "export", "nothere.kvr" } << 4 << "nothere.kvr";
    QTest::newRow("not a recording") << "" << QStringList { "export", "/etc/hostname" } << 4
                                     << "not a Kavrix recording";
    QTest::newRow("unwritable folder")
        << "m10" << QStringList { "capture", "--out", "/proc/quarvel" } << 4 << "/proc/quarvel";
    QTest::newRow("image too large") << "" << QStringList { "firmware-update", "/usr/bin/cmake" } << 4
                                     << "Illegal file";
}

void TestCli::exitCodes()
{
    QFETCH(QString, model);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    if (!model.isEmpty())
        QVERIFY(startSim(QStringList { "--model" } + model.split(' ')));
    const CliProcess::Result result = CliProcess::run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    if (exitCode == 0)
        QVERIFY(result.out.isEmpty());
}

void TestCli::listAndInfo()
{
    SimProcess *m20 = startSim({ "--model", "m20", "--info-identity", "20030", "--info-wafer", "7",
        "--info-chip", "99", "--info-lens", "1", "--info-lens-values", "1000,161.5,119.25,231,232" });
    SimProcess *m10 = startSim({ "--model", "m10", "--pid", "27b", "--vid", "525" });
    QVERIFY(m20 && m10);
    const CliProcess::Result held = CliProcess::run({ "list", "--json" });
    QCOMPARE(held.exitCode, 0);
    QJsonArray ports = QJsonDocument::fromJson(held.out.toUtf8()).array();
    QCOMPARE(ports.size(), 2);
    QStringList seen;
    for (const QJsonValue &port : ports)
        seen << port[QStringLiteral("port")].toString() + ' ' + port[QStringLiteral("model")].toString() + ' '
                + port[QStringLiteral("vendorId")].toString();
    seen.sort();
    QStringList expected { m20->name() + " Kavrix M20 205f", m10->name() + " Kavrix M10 0525" };
    expected.sort();
    QCOMPARE(seen, expected);

    CliProcess::Result info = CliProcess::run({ "info", "--json", "--port", m20->name() });
    QCOMPARE(info.exitCode, 0);
    const QJsonObject object = QJsonDocument::fromJson(info.out.toUtf8()).object();
    QCOMPARE(object["machineID"].toInt(), 20000);
    QCOMPARE(object["modFreq"].toInt(), 30);
    QCOMPARE(object["waferID"].toInt(), 7);
    QCOMPARE(object["chipID"].toInt(), 99);
    QCOMPARE(object["lens"].toObject()["cx"].toDouble(), 161.5);
    QCOMPARE(object["lens"].toObject()["fy"].toDouble(), 232.0);

    // The summary the window shows, on the camera picked by --port.
    info = CliProcess::run({ "info", "--port", m10->name() });
    QCOMPARE(info.exitCode, 0);
    QVERIFY2(info.out.contains("Kavrix M10 on " + m10->name()), qPrintable(info.out));
    QVERIFY(info.out.contains("Wafter ID: 5               Chip ID: 1234"));
    QVERIFY(info.out.contains("Lens param is not found. Use default!"));
    QVERIFY(info.out.contains("intrinsics: [80.00  30.00  113.00  113.00]"));

    // A port another program holds.
    QSerialPort holder;
    holder.setPortName(m10->ttyPath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    info = CliProcess::run({ "info", "--port", m10->name() });
    QCOMPARE(info.exitCode, 2);
    QVERIFY2(info.err.contains("busy"), qPrintable(info.err));
}

void TestCli::capture_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("frameType");
    QTest::newRow("M10 depth") << "m10"
                               << "depth" << 1;
    QTest::newRow("M20 depth") << "m20"
                               << "depth" << 1;
    QTest::newRow("M10 amplitude") << "m10"
                                   << "amplitude" << 0;
    QTest::newRow("M20 grayscale") << "m20"
                                   << "grayscale" << 2;
}

void TestCli::capture()
{
    QFETCH(QString, model);
    QFETCH(QString, mode);
    QFETCH(int, frameType);
    QVERIFY(startSim({ "--model", model, "--fps", "50" }));
    const QString out = dir.filePath("capture-" + QString(QTest::currentDataTag()).replace(' ', '-'));
    const CliProcess::Result result = CliProcess::run(
        { "capture", "--mode", mode, "--frames", "2", "--format", "txt,pcd,ply,png", "--out", out });
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QCOMPARE(result.err.contains("no point cloud"), frameType != 1);

    // The window's log writer, given the same frame and the picture the window shows.
    const SceneSettings s = scene(model, frameType);
    const QVector<quint16> values = SyntheticScene::stillFrame(s);
    ImageColorizer colorMap;
    FrameColorizer colorizer(&colorMap);
    QImage picture;
    colorizer.paint(values.constData(), s.width, s.height, frameType, &picture);
    QTemporaryDir windowDir;
    FrameLogger logger;
    QVERIFY(logger.request(windowDir.path()).accepted);
    const FrameLogResult logged
        = logger.record(values, s.width, s.height, quint8(frameType), picture, defaultLens(model));
    QVERIFY(logged.complete());

    for (const QString frame : { "frame_000000", "frame_000001" }) {
        QCOMPARE(readFile(out + '/' + frame + ".txt"), readFile(logged.rawPath));
        QCOMPARE(readFile(out + '/' + frame + ".png"), readFile(logged.pngPath));
        QCOMPARE(QFile::exists(out + '/' + frame + ".pcd"), frameType == 1);
        QCOMPARE(QFile::exists(out + '/' + frame + ".ply"), frameType == 1);
        if (frameType == 1)
            QCOMPARE(readFile(out + '/' + frame + ".pcd"), readFile(logged.pcdPath));
    }
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), frameType == 1 ? 8 : 4);
    if (frameType != 1)
        return;

    // Each vertex carries its pixel's colour in the picture.
    const QByteArray ply = readFile(out + "/frame_000000.ply");
    const int body = ply.indexOf("end_header\n") + 11;
    QCOMPARE(ply.size() - body, 15 * values.size());
    for (int i = 0; i < values.size(); i += 997) {
        const QRgb rgb = picture.pixel(i % s.width, i / s.width);
        const char *v = ply.constData() + body + 15 * i + 12;
        QCOMPARE(qRgb(quint8(v[0]), quint8(v[1]), quint8(v[2])), rgb);
    }

    // The PLY file as PCL reads it: every pixel, at the PCD log's points.
    const QString converter = QStandardPaths::findExecutable("pcl_ply2pcd");
    if (converter.isEmpty())
        QSKIP("pcl_ply2pcd (Debian pcl-tools) is not installed");
    const QString converted = out + "/converted.pcd";
    QCOMPARE(QProcess::execute(converter, { "-format", "0", out + "/frame_000001.ply", converted }), 0);
    const QList<QByteArray> lines = readFile(converted).split('\n');
    const int dataLine = lines.indexOf("DATA ascii") + 1;
    QVERIFY(dataLine > 0);
    QVERIFY(lines.size() - dataLine >= values.size());
    const LensParameters lens = defaultLens(model);
    for (int i = 0; i < values.size(); ++i) {
        const QList<QByteArray> fields = lines[dataLine + i].split(' ');
        QVERIFY(fields.size() >= 3);
        const Point3D p = PointProjection::projectPixel(i % s.width, i / s.width, values[i], lens);
        const double expected[3] = { p.x, p.y, p.z };
        for (int k = 0; k < 3; ++k)
            QVERIFY2(qAbs(fields[k].toDouble() - expected[k]) <= 1e-5 * (1 + qAbs(expected[k])),
                qPrintable(QString("pixel %1: %2").arg(i).arg(QString(lines[dataLine + i]))));
    }
}

void TestCli::recordReplayExport_data()
{
    QTest::addColumn<QString>("model");
    QTest::newRow("M10") << "m10";
    QTest::newRow("M20") << "m20";
}

void TestCli::recordReplayExport()
{
    QFETCH(QString, model);
    SimProcess *live = startSim({ "--model", model, "--fps", "60", "--status10-every", "5" });
    QVERIFY(live);
    const QString first = dir.filePath(model + "-first.kvr");
    const QString second = dir.filePath(model + "-second.kvr");
    CliProcess::Result result
        = CliProcess::run({ "record", "--frames", "12", "--out", first, "--offset", "-150" });
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));

    // Played back next to the live camera, chosen by --port, recorded again.
    SimProcess *replay = startSim({ "--replay", first, "--speed", "3" });
    QVERIFY(replay);
    result = CliProcess::run(
        { "record", "--frames", "12", "--out", second, "--port", replay->name(), "--offset", "-150" });
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));

    Recording::Header a, b;
    const QList<Recording::Frame> framesA = readAll(first, &a);
    const QList<Recording::Frame> framesB = readAll(second, &b);
    QCOMPARE(framesA.size(), 12);
    QCOMPARE(framesB.size(), 12);
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(framesB[i].data, framesA[i].data);
        QCOMPARE(framesA[i].number, quint32(i));
        QVERIFY(i == 0 || framesA[i].timeNs > framesA[i - 1].timeNs);
    }
    b.startedMsecsSinceEpoch = a.startedMsecsSinceEpoch;
    QVERIFY(a == b);
    QCOMPARE(a.deviceType, quint8(model == "m10" ? 2 : 3));
    QCOMPARE(a.distanceOffset, -300);
    QCOMPARE(a.cameraCx, defaultLens(model).cx);
    QCOMPARE(a.deviceInfoPayload.size(), 30);

    // Export: frames 2 to 9, every third; frame 4 is marked not to be shown.
    const QString out = dir.filePath(model + "-export");
    result = CliProcess::run(
        { "export", first, "--range", "1:9", "--every", "3", "--format", "txt", "--out", out });
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QStringList files = QDir(out).entryList(QDir::Files);
    QCOMPARE(files, QStringList({ "frame_000001.txt", "frame_000007.txt" }));
    const int pixels = a.pixelCount();
    QVector<quint16> values(pixels);
    FrameFormat::readPixels(framesA[7].data.constData(), pixels, values.data());
    QCOMPARE(readFile(out + "/frame_000007.txt"), LogFormat::rawFile(values.constData(), pixels));
}

void TestCli::recordKilledMidWrite()
{
    SimProcess *sim = startSim({ "--model", "m20", "--fps", "100" });
    QVERIFY(sim);
    const QString path = dir.filePath("killed.kvr");
    CliProcess cli;
    QVERIFY(cli.start({ "record", "--out", path }));
    const qint64 enough = Recording::FixedHeaderSize + 34 + 8 * (153604 + Recording::RecordOverhead) + 7777;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > enough, 15000);
    ::kill(pid_t(cli.process().processId()), SIGKILL);
    cli.finish();

    Recording::Header header;
    qint64 tail = -1;
    const QList<Recording::Frame> frames = readAll(path, &header, &tail);
    QVERIFY(frames.size() >= 8);
    QCOMPARE(QFileInfo(path).size(),
        Recording::FixedHeaderSize + 34
            + frames.size() * qint64(header.frameLength + Recording::RecordOverhead) + tail);
    const QVector<quint16> still = SyntheticScene::stillFrame(scene("m20", 1));
    for (const Recording::Frame &frame : frames) {
        QVector<quint16> values(still.size());
        FrameFormat::readPixels(frame.data.constData(), values.size(), values.data());
        QCOMPARE(values, still);
    }
}

void TestCli::firmwareUpdate_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("size");
    QTest::newRow("M20, back as a camera") << "m20" << 4000;
    QTest::newRow("M10, back as a camera") << "m10" << 130;
    QTest::newRow("already in the bootloader") << "bootloader" << 49152;
}

void TestCli::firmwareUpdate()
{
    QFETCH(QString, model);
    QFETCH(int, size);
    const QString image = dir.filePath("fw.bin");
    const QString received = dir.filePath("fw-received.bin");
    QFile::remove(received);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->generate());
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    const bool returns = model != "bootloader";
    QStringList simArguments { "--model", model, "--firmware-out", received };
    if (returns)
        simArguments << "--boot-return" << model;
    SimProcess *sim = startSim(simArguments);
    QVERIFY(sim);

    const CliProcess::Result result
        = CliProcess::run({ "firmware-update", image, "--return-timeout", returns ? "10" : "0" }, 60000);
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QVERIFY(sim->waitForEvent("bootloader image-written", 5000));
    QCOMPARE(readFile(received), bytes);
    QCOMPARE(result.err.contains(" is back on "), returns);
}

void TestCli::cameraLostMidJob_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("control"); // what happens to the camera
    QTest::addColumn<QString>("message");

    const QString out = dir.filePath("lost");
    QTest::newRow("unplug mid-capture")
        << "m20"
        << QStringList { "capture", "--frames", "100000", "--format", "txt", "--out", out + "-capture" }
        << "unplug"
        << "camera lost";
    QTest::newRow("unplug mid-record")
        << "m10" << QStringList { "record", "--out", out + "-record.kvr" } << "unplug"
        << "camera lost";
    QTest::newRow("tty dies mid-record")
        << "m20" << QStringList { "record", "--out", out + "-hangup.kvr" } << "hangup -1"
        << "camera lost";
    QTest::newRow("unplug mid-update")
        << "bootloader --boot-reply-delay 20"
        << QStringList { "firmware-update", dir.filePath("big.bin"), "--return-timeout", "0" } << "unplug"
        << "Connection to the bootloader lost, firmware update stopped";
}

void TestCli::cameraLostMidJob()
{
    QFETCH(QString, model);
    QFETCH(QStringList, arguments);
    QFETCH(QString, control);
    QFETCH(QString, message);
    QFile big(dir.filePath("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
    big.write(QByteArray(40000, 'f'));
    big.close();
    SimProcess *sim = startSim(QStringList { "--model" } + model.split(' '));
    QVERIFY(sim);
    CliProcess cli;
    QVERIFY(cli.start(arguments));
    // Well into the job: frames arriving, or packets going over.
    QVERIFY(sim->waitForEvent(
        arguments[0] == "firmware-update" ? "bootloader packet 20" : "stream started", 10000));
    QTest::qWait(500);
    sim->control(control);
    QVERIFY(sim->waitForEvent("unplugged", 5000));
    const CliProcess::Result result = cli.finish(20000);
    QVERIFY2(result.exitCode == 3, qPrintable(result.err));
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    if (arguments[0] == "record") {
        qint64 tail = -1;
        QVERIFY(readAll(arguments.last(), nullptr, &tail).size() >= 5);
        QCOMPARE(tail, 0);
    } else if (arguments[0] == "capture") {
        QVERIFY(QFile::exists(arguments.last() + "/frame_000003.txt"));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
