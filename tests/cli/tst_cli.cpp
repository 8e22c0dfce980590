// quarvel-cli end to end, against kavrix-sim: files byte for byte against the
// window's writers, the recording's crash safety, and the exit codes.

#include "app/FrameLogger.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"
#include "frames/Recording.h"
#include "frames/SyntheticScene.h"
#include "tests/support/CliProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QSerialPort>
#include <QtTest>

#include <csignal>
#include <memory>

using WindowTest::readFile;

namespace {

// The scene of a freshly started simulator, and the lens the window falls back to without stored ones.
SceneSettings scene(const QString &model, int frameType)
{
    SceneSettings s;
    s.width = model == QLatin1String("m10") ? 160 : 320;
    s.height = model == QLatin1String("m10") ? 60 : 240;
    s.frameType = frameType;
    return s;
}

LensParameters defaultLens(const QString &model)
{
    return model == QLatin1String("m10") ? LensParameters { 80, 30, 113, 113 }
                                         : LensParameters { 160, 120, 230, 230 };
}

QList<Recording::Frame> readAll(
    const QString &path, Recording::Header *header = nullptr, qint64 *tail = nullptr)
{
    QList<Recording::Frame> frames;
    RecordingReader reader;
    Recording::Frame frame;
    if (!reader.open(path))
        return frames;
    while (reader.next(&frame))
        frames << frame;
    if (header)
        *header = reader.header();
    if (tail)
        *tail = reader.tailBytes();
    return frames;
}

QVector<quint16> pixels(const Recording::Frame &frame, int count)
{
    QVector<quint16> values(count);
    FrameFormat::readPixels(frame.data.constData(), count, values.data());
    return values;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<QString>("model"); // simulator to start, empty for none
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << "" << QStringList {} << 1 << "no command given";
        QTest::newRow("M10 time limit")
            << "m10" << QStringList { "capture", "--integration-time", "4500" } << 1 << "up to 4000 us";
        QTest::newRow("no camera") << "" << QStringList { "info" } << 2 << "no Kavrix camera found";
        QTest::newRow("only a bootloader")
            << "bootloader" << QStringList { "record", "--out", "x.kvr" } << 2 << "in its bootloader";
        QTest::newRow("silent camera")
            << "m20 --info-mode silent" << QStringList { "info" } << 3 << "Get device info failed!";
        QTest::newRow("not a recording")
            << "" << QStringList { "export", "/etc/hostname" } << 4 << "not a Kavrix recording";
        QTest::newRow("image too large")
            << "" << QStringList { "firmware-update", "/usr/bin/cmake" } << 4 << "Illegal file";
    }

    void exitCodes()
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
    }

    void listAndInfo()
    {
        SimProcess *m20 = startSim({ "--model", "m20", "--info-identity", "20030", "--info-wafer", "7",
            "--info-chip", "99", "--info-lens", "1", "--info-lens-values", "1000,161.5,119.25,231,232" });
        SimProcess *m10 = startSim({ "--model", "m10", "--pid", "27b", "--vid", "525" });
        QVERIFY(m20 && m10);
        CliProcess::Result result = CliProcess::run({ "list", "--json" });
        QCOMPARE(result.exitCode, 0);
        QStringList seen;
        for (const QJsonValue &port : QJsonDocument::fromJson(result.out.toUtf8()).array())
            seen << port["port"].toString() + ' ' + port["model"].toString() + ' '
                    + port["vendorId"].toString();
        seen.sort();
        QStringList expected { m20->name() + " Kavrix M20 205f", m10->name() + " Kavrix M10 0525" };
        expected.sort();
        QCOMPARE(seen, expected);

        result = CliProcess::run({ "info", "--json", "--port", m20->name() });
        QCOMPARE(result.exitCode, 0);
        const QJsonObject info = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(info["machineID"].toInt(), 20000);
        QCOMPARE(info["lens"]["cx"].toDouble(), 161.5);
        // The summary the window shows.
        result = CliProcess::run({ "info", "--port", m10->name() });
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains("Kavrix M10 on " + m10->name()), qPrintable(result.out));
        QVERIFY(result.out.contains("intrinsics: [80.00  30.00  113.00  113.00]"));

        // A port another program holds.
        QSerialPort holder;
        holder.setPortName(m10->ttyPath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        result = CliProcess::run({ "info", "--port", m10->name() });
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains("busy"), qPrintable(result.err));
    }

    void capture_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("frameType");
        QTest::newRow("M20 depth") << "m20" << 1;
        QTest::newRow("M10 amplitude") << "m10" << 0;
        QTest::newRow("M20 grayscale") << "m20" << 2;
    }

    void capture()
    {
        QFETCH(QString, model);
        QFETCH(int, frameType);
        const QString mode = QStringList { "amplitude", "depth", "grayscale" }.at(frameType);
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
        for (const QString frame : { "/frame_000000", "/frame_000001" }) {
            QCOMPARE(readFile(out + frame + ".txt"), readFile(logged.rawPath));
            QCOMPARE(readFile(out + frame + ".png"), readFile(logged.pngPath));
            QCOMPARE(
                readFile(out + frame + ".pcd"), frameType == 1 ? readFile(logged.pcdPath) : "<unreadable>");
        }
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), frameType == 1 ? 8 : 4);
        if (frameType != 1)
            return;

        // The PLY file: each vertex carries its pixel's colour, and PCL reads the PCD log's points.
        const QByteArray ply = readFile(out + "/frame_000000.ply");
        const int body = ply.indexOf("end_header\n") + 11;
        QCOMPARE(ply.size() - body, 15 * values.size());
        for (int i = 0; i < values.size(); i += 997) {
            const char *v = ply.constData() + body + 15 * i + 12;
            QCOMPARE(qRgb(quint8(v[0]), quint8(v[1]), quint8(v[2])), picture.pixel(i % s.width, i / s.width));
        }
        const QString converter = QStandardPaths::findExecutable("pcl_ply2pcd");
        if (converter.isEmpty())
            QSKIP("pcl_ply2pcd (Debian pcl-tools) is not installed");
        const QString converted = out + "/converted.pcd";
        QCOMPARE(QProcess::execute(converter, { "-format", "0", out + "/frame_000001.ply", converted }), 0);
        const QList<QByteArray> lines = readFile(converted).split('\n');
        const int dataLine = lines.indexOf("DATA ascii") + 1;
        QVERIFY(dataLine > 0 && lines.size() - dataLine >= values.size());
        for (int i = 0; i < values.size(); ++i) {
            const QList<QByteArray> fields = lines[dataLine + i].split(' ');
            const Point3D p
                = PointProjection::projectPixel(i % s.width, i / s.width, values[i], defaultLens(model));
            const double expected[3] = { p.x, p.y, p.z };
            for (int k = 0; k < 3; ++k)
                QVERIFY2(fields.size() >= 3
                        && qAbs(fields[k].toDouble() - expected[k]) <= 1e-5 * (1 + qAbs(expected[k])),
                    qPrintable(QString("pixel %1: %2").arg(i).arg(QString(lines[dataLine + i]))));
        }
    }

    void recordReplayExport()
    {
        QVERIFY(startSim({ "--model", "m10", "--fps", "60", "--status10-every", "5" }));
        const QString first = dir.filePath("first.kvr");
        const QString second = dir.filePath("second.kvr");
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
        QCOMPARE(a.deviceType, quint8(2));
        QCOMPARE(a.distanceOffset, -300);

        // Frames 2 to 9, every third; frame 4 is marked not to be shown.
        const QString out = dir.filePath("export");
        result = CliProcess::run(
            { "export", first, "--range", "1:9", "--every", "3", "--format", "txt", "--out", out });
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({ "frame_000001.txt", "frame_000007.txt" }));
        QCOMPARE(readFile(out + "/frame_000007.txt"),
            LogFormat::rawFile(pixels(framesA[7], a.pixelCount()).constData(), a.pixelCount()));
    }

    // Any cut of the file is read back to its last whole frame (fuzz/recording_fuzz.cpp); here a real kill.
    void recordKilledMidWrite()
    {
        QVERIFY(startSim({ "--model", "m20", "--fps", "100" }));
        const QString path = dir.filePath("killed.kvr");
        CliProcess cli;
        QVERIFY(cli.start({ "record", "--out", path }));
        const qint64 enough
            = Recording::FixedHeaderSize + 34 + 8 * (153604 + Recording::RecordOverhead) + 7777;
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
        for (const Recording::Frame &frame : frames)
            QCOMPARE(pixels(frame, still.size()), still);
    }

    // Camera to bootloader, the image byte for byte, and back as a camera.
    void firmwareUpdate()
    {
        const QString image = dir.filePath("fw.bin");
        const QString received = dir.filePath("fw-received.bin");
        QByteArray bytes(4000, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919) >> 3 ^ i);
        QVERIFY(WindowTest::writeFile(image, bytes));
        SimProcess *sim = startSim({ "--model", "m20", "--firmware-out", received, "--boot-return", "m20" });
        QVERIFY(sim);
        const CliProcess::Result result
            = CliProcess::run({ "firmware-update", image, "--return-timeout", "10" }, 60000);
        QVERIFY2(result.exitCode == 0 && result.err.contains(" is back on "), qPrintable(result.err));
        QVERIFY(sim->waitForEvent("bootloader image-written", 5000));
        QCOMPARE(readFile(received), bytes);
    }

    void cameraLostMidJob_data()
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
        QTest::newRow("tty dies mid-record")
            << "m10" << QStringList { "record", "--out", out + "-hangup.kvr" } << "hangup -1"
            << "camera lost";
        QTest::newRow("unplug mid-update")
            << "bootloader --boot-reply-delay 20"
            << QStringList { "firmware-update", dir.filePath("big.bin"), "--return-timeout", "0" } << "unplug"
            << "Connection to the bootloader lost, firmware update stopped";
    }

    void cameraLostMidJob()
    {
        QFETCH(QString, model);
        QFETCH(QStringList, arguments);
        QFETCH(QString, control);
        QFETCH(QString, message);
        QVERIFY(WindowTest::writeFile(dir.filePath("big.bin"), QByteArray(40000, 'f')));
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
        QVERIFY2(result.exitCode == 3 && result.err.contains(message), qPrintable(result.err));
        if (arguments[0] == "record") {
            qint64 tail = -1;
            QVERIFY(readAll(arguments.last(), nullptr, &tail).size() >= 5);
            QCOMPARE(tail, 0);
        } else if (arguments[0] == "capture") {
            QVERIFY(QFile::exists(arguments.last() + "/frame_000003.txt"));
        }
    }
    void initTestCase()
    {
        isolateRegistry();
        QVERIFY(dir.isValid());
    }
    void cleanup() { sims.clear(); }

private:
    SimProcess *startSim(const QStringList &arguments)
    {
        sims.push_back(std::make_unique<SimProcess>());
        return sims.back()->start(arguments) ? sims.back().get() : nullptr;
    }

    std::vector<std::unique_ptr<SimProcess>> sims;
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
