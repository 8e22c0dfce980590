// The real main window against kavrix-sim: the bytes each control sends, the
// control states through plug, unplug and replug, the status line, the
// teardown, and "Log Data" with the files it leaves and the lines it reports.
#include "app/FrameLogger.h"
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "frames/DepthFilter.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSpinBox>
#include <QStandardPaths>
#include <QtTest>

using namespace WindowTest;

namespace {

// Every control of the form except the message log and the temperature field.
const char *const Controls[] = { "pushButtonStart", "spinBoxTime", "spinBoxAmplitude", "comboBoxFrameType",
    "pushButtonLogData", "spinBoxHDR_HighTime", "checkBoxHDR", "checkBoxDRNU_LUT", "checkBoxHorizontalFlip",
    "checkBoxVerticalFlip", "comboBoxKalmanFilter", "checkBoxShowPoint", "spinBoxDistanceOffset",
    "pushButtonGetInfo" };

// Lines the simulator received since the last call; writes are asynchronous.
QStringList takeWire(const Rig &rig)
{
    pump(150);
    const QStringList lines = rig.sim->transcript();
    rig.sim->clearTranscript();
    return lines;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutCamera();
    void plugAndUnplug_data();
    void plugAndUnplug();
    void commands();
    void statusLine_data();
    void statusLine();
    void oneCalibrationWindowAndHostExitLast();
    void logFrame_data();
    void logFrame();
};

void TestMainWindow::startsWithoutCamera()
{
    Rig rig;
    rig.device = std::make_unique<TofDevice>();
    rig.window = std::make_unique<MainWindow>(rig.device.get());
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Quarvel V1.2.1"));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("No Device"));
    for (const char *name : Controls)
        QVERIFY2(!rig.find<QWidget>(name)->isEnabled(), name);
    QVERIFY(!rig.window->pictureBox());
    QVERIFY(deviceState().frameBuffer.isEmpty());
}

void TestMainWindow::plugAndUnplug_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("later"); // plugged after the window opened
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("timeMaximum");
    QTest::addColumn<QStringList>("wire"); // sent on opening
    QTest::newRow("m20 at start-up") << "m20" << false << "Kavrix M20"
                                     << "Complex" << 5000 << QStringList();
    QTest::newRow("m10 later") << "m10" << true << "Kavrix M10"
                               << "Disabled" << 4000 << QStringList { "24 24 01 2C" };
    QTest::newRow("bootloader later") << "bootloader" << true << "Bootloader"
                                      << "Disabled" << 0 << QStringList();
}

void TestMainWindow::plugAndUnplug()
{
    QFETCH(QString, model);
    QFETCH(bool, later);
    QFETCH(QString, label);
    QFETCH(QString, filter);
    QFETCH(int, timeMaximum);
    QFETCH(QStringList, wire);
    Rig rig;
    const bool camera = model != "bootloader";
    if (later) {
        rig.device = std::make_unique<TofDevice>();
        rig.window = std::make_unique<MainWindow>(rig.device.get());
        rig.sim = std::make_unique<SimProcess>();
        QVERIFY(rig.sim->start({ "--model", model }));
        QVERIFY(rig.waitUntil([&] { return rig.find<QLabel>("label_Device")->text() == label; }));
    } else {
        QVERIFY(rig.start({ "--model", model }));
    }
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), label);
    QCOMPARE(rig.find<QPushButton>("pushButtonGetInfo")->isEnabled(), camera);
    QCOMPARE(rig.find<QComboBox>("comboBoxKalmanFilter")->currentText(), filter);
    QCOMPARE(takeWire(rig), wire);
    auto *start = rig.find<QPushButton>("pushButtonStart");
    if (!camera) {
        QVERIFY(!start->isEnabled());
        // The bootloader keeps its type when unplugged; the next arrival scans again.
        QVERIFY(rig.sim->unplug());
        QVERIFY(rig.waitUntil([&] { return rig.device->portName() == "NULL"; }));
        QCOMPARE(rig.device->deviceType(), quint8(TofDevice::Bootloader));
        QVERIFY(rig.sim->plug());
        QVERIFY(rig.waitUntil([&] { return rig.device->serialPort()->isOpen(); }));
        return;
    }
    QCOMPARE(rig.find<QSpinBox>("spinBoxTime")->maximum(), timeMaximum);
    // A "Kavrix M20" waits for "getInfo" before it may start, and says so.
    QCOMPARE(start->isEnabled(), model == "m10");
    QCOMPARE(start->toolTip().contains("\"getInfo\""), model == "m20");
    rig.window->getDeviceInfo();
    QVERIFY(start->isEnabled() && start->toolTip().isEmpty());
    start->click();
    QCOMPARE(deviceState().isStreaming, 1);
    QPointer<PictureBox> picture = rig.window->pictureBox();
    QVERIFY(picture && rig.window->pointCloud());

    QVERIFY(rig.sim->unplug());
    QVERIFY(rig.waitType(TofDevice::NoDevice));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("No Device"));
    QCOMPARE(deviceState().isStreaming, 0);
    QVERIFY(deviceState().frameBuffer.isEmpty() && picture.isNull() && !rig.window->filter());
    for (const char *name : Controls)
        QVERIFY2(!rig.find<QWidget>(name)->isEnabled(), name);
    QVERIFY(rig.sim->plug());
    QVERIFY(rig.waitUntil([&] { return rig.find<QLabel>("label_Device")->text() == label; }));
    QVERIFY(rig.window->pictureBox() && rig.window->filter());
    QCOMPARE(rig.find<QComboBox>("comboBoxKalmanFilter")->currentText(), filter);
    QCOMPARE(deviceState().frameBuffer.size(), model == "m10" ? 9600 : 76800);
    // Another camera arriving, or another port going, changes nothing.
    SimProcess other;
    QVERIFY(other.start({ "--model", "m10" }));
    QVERIFY(other.unplug());
    pump(300);
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), label);
}

void TestMainWindow::commands()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    takeWire(rig);
    const auto lastLine = [&] { return rig.lines().last(); };
    rig.click("pushButtonStart");
    QCOMPARE(rig.find<QPushButton>("pushButtonStart")->text(), QStringLiteral("stop"));
    QCOMPARE(lastLine(), QStringLiteral("Start streaming"));
    // No DRNU table in the camera: the check box stays disabled, and checked.
    QVERIFY(!rig.find<QCheckBox>("checkBoxDRNU_LUT")->isEnabled());
    QCOMPARE(takeWire(rig), QStringList { "23 23 02" });

    struct Step
    {
        const char *control;
        int value;
        QStringList wire;
        QString line; // the last line of the message log, unless empty
    };
    const Step steps[] = {
        { "spinBoxDistanceOffset", -150, { "29 29 FF D4" }, "Set distance offset -300 LSB" },
        { "spinBoxDistanceOffset", -1, { "29 29 00 FE" }, "" },
        { "spinBoxDistanceOffset", 150, { "29 29 01 2C" }, "Set distance offset 300 LSB" },
        { "spinBoxTime", 1000, { "24 24 03 E8" }, "Set integration time 1000 us by default." },
        { "spinBoxAmplitude", 120, { "25 25 00 78" }, "Set min amplitude 120 LSB" },
        { "checkBoxDRNU_LUT", 0, { "23 23 0C" }, "DRNU LUT disabled" },
        { "checkBoxDRNU_LUT", 1, { "23 23 0B" }, "DRNU LUT enabled" },
        { "checkBoxHorizontalFlip", 1, {}, "Image horizontal flip enabled" },
        { "checkBoxVerticalFlip", 1, {}, "Image verticalFlip flip enabled" },
        // From "Depth" the point cloud needs no new frame type.
        { "comboBoxFrameType", 3, {}, "" },
        { "comboBoxFrameType", 0, { "23 23 04" }, "" },
        { "comboBoxFrameType", 2, { "23 23 06" }, "" },
        { "comboBoxFrameType", 1, { "23 23 05" }, "" },
        { "spinBoxTime", 600, { "24 24 02 58" }, "" },
        // HDR sends the first time twice; its second time on its own prefix.
        { "checkBoxHDR", 1, { "23 23 07", "24 24 01 2C", "24 24 01 2C" },
            "Set HDR 1st integration time 300 us." },
        { "spinBoxHDR_HighTime", 3000, { "27 27 0B B8" }, "Set HDR 2nd integration time 3000 us" },
        { "checkBoxHDR", 0, { "23 23 08" }, "HDR disabled" },
    };
    for (const Step &step : steps) {
        QWidget *control = rig.find<QWidget>(step.control);
        if (auto *box = qobject_cast<QSpinBox *>(control))
            box->setValue(step.value);
        else if (auto *check = qobject_cast<QCheckBox *>(control))
            check->setChecked(step.value);
        else
            qobject_cast<QComboBox *>(control)->setCurrentIndex(step.value);
        QCOMPARE(takeWire(rig), step.wire);
        if (!step.line.isEmpty())
            QCOMPARE(lastLine(), step.line);
    }
    QCOMPARE(rig.find<QSpinBox>("spinBoxTime")->maximum(), 4000); // back after HDR
    // Typed values are sent once, on Return, not per keystroke.
    for (const auto &[name, typed, sent] : { std::tuple { "spinBoxTime", "4000", "24 24 0F A0" },
             std::tuple { "spinBoxDistanceOffset", "-150", "29 29 FF D4" } }) {
        auto *box = rig.find<QSpinBox>(name);
        box->selectAll();
        QTest::keyClicks(box, typed);
        QVERIFY(takeWire(rig).isEmpty());
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(takeWire(rig), QStringList { sent });
    }
    rig.click("pushButtonStart");
    QCOMPARE(deviceState().isStreaming, 0);
    QCOMPARE(lastLine(), QStringLiteral("Stop streaming"));
    QCOMPARE(takeWire(rig), QStringList { "23 23 03" });
}

void TestMainWindow::statusLine_data()
{
    QTest::addColumn<int>("fps");
    QTest::newRow("30 frames/s") << 30;
    QTest::newRow("100 frames/s") << 100;
}

void TestMainWindow::statusLine()
{
    QFETCH(int, fps);
    // Noise after every frame: each frame after the first follows a dropped block.
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", QString::number(fps), "--garbage", "40" }));
    const QString idle = "Kavrix M10 on " + rig.device->serialPort()->portName();
    QTRY_COMPARE(rig.window->statusLine(), idle);
    rig.click("pushButtonStart");
    pump(2500);
    const QString line = rig.window->statusLine();
    const QRegularExpressionMatch m
        = QRegularExpression(R"(^(\d+\.\d) fps, (\d+) frames shown, (\d+) blocks dropped, (\d+\.\d\d) MB/s$)")
              .match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    const double rate = m.captured(1).toDouble();
    const int frames = m.captured(2).toInt();
    const double frameMegabytes = (2 * 9600 + 4 + 4 + 20.5) / 1e6; // frame, marker, noise
    // Generous bounds: the rates are timing. The line is at most a few updates old.
    QVERIFY2(rate > 0.5 * fps && rate < 1.2 * fps, qPrintable(line));
    QVERIFY2(frames <= rig.frames->size() && frames >= rig.frames->size() - fps / 2 - 2, qPrintable(line));
    QVERIFY2(qAbs(m.captured(3).toInt() - frames) <= fps / 2 + 1, qPrintable(line));
    QVERIFY2(qAbs(m.captured(4).toDouble() / (rate * frameMegabytes) - 1) < 0.25, qPrintable(line));
    rig.click("pushButtonStart");
    QTRY_COMPARE(rig.window->statusLine(), idle);
}

void TestMainWindow::oneCalibrationWindowAndHostExitLast()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QVERIFY(rig.trigger("DRNU Calibration"));
    QVERIFY(rig.trigger("DRNU Calibration"));
    int open = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        open += qobject_cast<Calibration *>(w) != nullptr;
    QCOMPARE(open, 1);
    delete topLevel<Calibration>();
    rig.click("pushButtonStart");
    takeWire(rig);
    rig.window.reset();
    rig.device.reset();
    const QStringList lines = takeWire(rig);
    QCOMPARE(lines.value(lines.size() - 1), QStringLiteral("23 23 32")); // the host exit comes last
}

void TestMainWindow::logFrame_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("frameType"); // index in "comboBoxFrameType"
    QTest::addColumn<bool>("flip");
    QTest::addColumn<QString>("report");
    QTest::newRow("m20 depth") << "m20" << 1 << false << "data and image saved";
    QTest::newRow("m10 amplitude") << "m10" << 0 << false
                                   << "data and image saved (no point cloud for an amplitude frame)";
    QTest::newRow("m10 depth mirrored") << "m10" << 1 << true << "data and image saved";
    QTest::newRow("m10 point cloud") << "m10" << 3 << false << "data and image saved";
}

void TestMainWindow::logFrame()
{
    QFETCH(QString, model);
    QFETCH(int, frameType);
    QFETCH(bool, flip);
    QFETCH(QString, report);
    Rig rig;
    QVERIFY(rig.start({ "--model", model }));
    QVERIFY(!rig.press("pushButtonGetInfo").filter("Working dir created to: ").isEmpty());
    rig.click("pushButtonStart");
    rig.find<QComboBox>("comboBoxFrameType")->setCurrentIndex(frameType);
    rig.find<QCheckBox>("checkBoxHorizontalFlip")->setChecked(flip);
    SceneSettings scene;
    scene.width = model == "m20" ? 320 : 160;
    scene.height = model == "m20" ? 240 : 60;
    scene.frameType = frameType == 0 ? SceneSettings::Amplitude : SceneSettings::Depth;
    const int x = 100, y = 20, index = y * scene.width + x;
    const quint16 sample = SyntheticScene::pixel(scene, x, y);
    // Frames carry no type: wait until the new type arrives.
    QVERIFY(rig.waitUntil(
        [&] { return deviceState().hasFrame() && deviceState().frameBuffer[index] == sample; }));

    // Two presses before a frame: only the second leaves files.
    rig.click("pushButtonLogData");
    const QStringList lines = rig.logData();
    QCOMPARE(lines.size(), 1);
    const QRegularExpressionMatch match = QRegularExpression("^(Log\\d+): (.*)$").match(lines.first());
    QCOMPARE(match.captured(2), report);
    const QString name = match.captured(1);
    const QDir folder(rig.workingDir());
    const bool cloud = frameType != 0;
    const QStringList expectedFiles = (cloud ? QStringList { name + ".pcd" } : QStringList())
        + QStringList { name + ".png", name + ".txt" };
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), expectedFiles);

    // The values as received: the M20's depth filter must not reach the file.
    const QList<QByteArray> raw = readFile(folder.filePath(name + ".txt")).split('\n');
    QCOMPARE(raw.size(), scene.width * scene.height + 1);
    QCOMPARE(raw[index], QByteArray::number(sample) + ' ');
    if (model == "m20")
        QCOMPARE(
            raw.mid(0, 6), (QList<QByteArray> { "0 ", "65300 ", "65400 ", "65500 ", "30000 ", "40000 " }));
    // The image as displayed (depth colours of the unfiltered values), mirrored when the picture is.
    const QImage png(folder.filePath(name + ".png"));
    QCOMPARE(png.size(), QSize(scene.width, scene.height));
    ImageColorizer colorMap;
    FrameColorizer colors(&colorMap);
    if (cloud)
        QCOMPARE(png.pixel(flip ? scene.width - 1 - x : x, y), colors.color(1, sample));
    if (!cloud)
        return;
    const QString pcdPath = folder.filePath(name + ".pcd");
    const QList<QByteArray> pcd = readFile(pcdPath).split('\n');
    QCOMPARE(pcd.size(), 11 + scene.width * scene.height + 1);
    QCOMPARE(pcd[6], "WIDTH " + QByteArray::number(scene.width));
    QCOMPARE(pcd[9], "POINTS " + QByteArray::number(scene.width * scene.height));
    QCOMPARE(
        pcd[11 + index], LogFormat::pointLine(index, scene.width, sample, LensParameters::fromDeviceState()));
    const QString converter = QStandardPaths::findExecutable("pcl_convert_pcd_ascii_binary");
    if (model == "m20" && !converter.isEmpty()) {
        QProcess pcl;
        pcl.setProcessChannelMode(QProcess::MergedChannels);
        pcl.start(converter, { pcdPath, rig.dataPath("check.pcd"), "1" });
        QVERIFY(pcl.waitForFinished(60000));
        QVERIFY2(pcl.exitCode() == 0 && pcl.readAll().contains("76800 points"), "pcl rejects the file");
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_app_mainwindow.moc"
