// The real main window against kavrix-sim: the bytes each control sends, the
// controls through plug, unplug and replug, and the files "Log Data" leaves.
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
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
    void plugAndUnplug_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("wire"); // sent on opening
        QTest::newRow("m20 at start-up") << "m20" << QString("Kavrix M20") << QStringList();
        QTest::newRow("m10 later") << "m10" << QString("Kavrix M10") << QStringList { "24 24 01 2C" };
    }

    void plugAndUnplug()
    {
        QFETCH(QString, model);
        QFETCH(QString, label);
        QFETCH(QStringList, wire);
        Rig rig;
        const auto shown = [&] { return rig.find<QLabel>("label_Device")->text() == label; };
        if (model == "m20") {
            QVERIFY(rig.start({ "--model", model }));
        } else {
            rig.device = std::make_unique<TofDevice>();
            rig.window = std::make_unique<MainWindow>(rig.device.get());
            for (const char *name : Controls)
                QVERIFY2(!rig.find<QWidget>(name)->isEnabled(), name);
            QVERIFY(!rig.window->pictureBox() && deviceState().frameBuffer.isEmpty());
            rig.sim = std::make_unique<SimProcess>();
            QVERIFY(rig.sim->start({ "--model", model }));
            QVERIFY(rig.waitUntil(shown));
        }
        QCOMPARE(takeWire(rig), wire);
        auto *start = rig.find<QPushButton>("pushButtonStart");
        // A "Kavrix M20" waits for "getInfo" before it may start, and says so.
        QCOMPARE(start->isEnabled(), model == "m10");
        QCOMPARE(start->toolTip().contains("\"getInfo\""), model == "m20");
        rig.window->getDeviceInfo();
        QVERIFY(start->isEnabled() && start->toolTip().isEmpty());
        start->click();
        QPointer<PictureBox> picture = rig.window->pictureBox();
        QVERIFY(deviceState().isStreaming && picture && rig.window->pointCloud());

        QVERIFY(rig.sim->unplug());
        QVERIFY(rig.waitType(TofDevice::NoDevice));
        QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("No Device"));
        QVERIFY(!deviceState().isStreaming && deviceState().frameBuffer.isEmpty());
        QVERIFY(picture.isNull() && !rig.window->filter());
        for (const char *name : Controls)
            QVERIFY2(!rig.find<QWidget>(name)->isEnabled(), name);
        QVERIFY(rig.sim->plug());
        QVERIFY(rig.waitUntil(shown));
        QVERIFY(rig.window->pictureBox() && rig.window->filter());
        QCOMPARE(deviceState().frameBuffer.size(), model == "m10" ? 9600 : 76800);
        // Another camera arriving, or another port going, changes nothing.
        SimProcess other;
        QVERIFY(other.start({ "--model", "m10" }) && other.unplug());
        pump(300);
        QVERIFY(shown());
    }

    // The controls' bytes and lines, the status line on a noisy stream, and the teardown.
    void commands()
    {
        const int fps = 50; // noise after every frame: each frame after the first follows a dropped block
        Rig rig;
        QVERIFY(rig.start({ "--model", "m10", "--fps", QString::number(fps), "--garbage", "40" }));
        const QString idle = "Kavrix M10 on " + rig.device->serialPort()->portName();
        QTRY_COMPARE(rig.window->statusLine(), idle);
        takeWire(rig);
        const auto lastLine = [&] { return rig.lines().last(); };
        rig.click("pushButtonStart");
        QCOMPARE(lastLine(), QStringLiteral("Start streaming"));
        pump(2500);
        const QString line = rig.window->statusLine();
        const QRegularExpressionMatch m = QRegularExpression(
            R"(^(\d+\.\d) fps, (\d+) frames shown, (\d+) blocks dropped, (\d+\.\d\d) MB/s$)")
                                              .match(line);
        const double rate = m.captured(1).toDouble();
        const int frames = m.captured(2).toInt();
        const double frameMegabytes = (2 * 9600 + 4 + 4 + 20.5) / 1e6; // frame, marker, noise
        // Generous bounds: the rates are timing. The line is at most a few updates old.
        QVERIFY2(m.hasMatch() && rate > 0.5 * fps && rate < 1.2 * fps && frames <= rig.frames->size()
                && frames >= rig.frames->size() - fps / 2 - 2
                && qAbs(m.captured(3).toInt() - frames) <= fps / 2 + 1
                && qAbs(m.captured(4).toDouble() / (rate * frameMegabytes) - 1) < 0.25,
            qPrintable(line));
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
            { "spinBoxTime", 1000, { "24 24 03 E8" }, "Set integration time 1000 us by default." },
            { "spinBoxAmplitude", 120, { "25 25 00 78" }, "Set min amplitude 120 LSB" },
            { "checkBoxDRNU_LUT", 0, { "23 23 0C" }, "DRNU LUT disabled" },
            { "checkBoxDRNU_LUT", 1, { "23 23 0B" }, "DRNU LUT enabled" },
            { "checkBoxHorizontalFlip", 1, {}, "Image horizontal flip enabled" },
            // From "Depth" the point cloud needs no new frame type.
            { "comboBoxFrameType", 3, {}, "" },
            { "comboBoxFrameType", 0, { "23 23 04" }, "" },
            { "comboBoxFrameType", 1, { "23 23 05" }, "" },
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
        QCOMPARE(lastLine(), QStringLiteral("Stop streaming"));
        QCOMPARE(takeWire(rig), QStringList { "23 23 03" });
        QTRY_COMPARE(rig.window->statusLine(), idle);

        QVERIFY(rig.trigger("DRNU Calibration") && rig.trigger("DRNU Calibration"));
        delete topLevel<Calibration>();
        QVERIFY(!topLevel<Calibration>()); // one window, however often asked for
        rig.click("pushButtonStart");
        takeWire(rig);
        rig.window.reset();
        rig.device.reset();
        const QStringList last = takeWire(rig);
        QCOMPARE(last.value(last.size() - 1), QStringLiteral("23 23 32")); // the host exit comes last
    }

    void logFrame_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("frameType"); // index in "comboBoxFrameType"
        QTest::addColumn<bool>("flip");
        QTest::addColumn<QString>("report");
        QTest::newRow("m20 depth") << "m20" << 1 << false << "data and image saved";
        QTest::newRow("m10 amplitude")
            << "m10" << 0 << false << "data and image saved (no point cloud for an amplitude frame)";
        QTest::newRow("m10 depth mirrored") << "m10" << 1 << true << "data and image saved";
        QTest::newRow("m10 point cloud") << "m10" << 3 << false << "data and image saved";
    }

    void logFrame()
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
        QCOMPARE(filesIn(folder.path()), expectedFiles);

        // The values as received: the M20's depth filter must not reach the file.
        const QList<QByteArray> raw = readFile(folder.filePath(name + ".txt")).split('\n');
        QCOMPARE(raw.size(), scene.width * scene.height + 1);
        QCOMPARE(raw[index], QByteArray::number(sample) + ' ');
        if (model == "m20")
            QCOMPARE(raw.mid(0, 6),
                (QList<QByteArray> { "0 ", "65300 ", "65400 ", "65500 ", "30000 ", "40000 " }));
        // The image as displayed (depth colours of the unfiltered values), mirrored when the picture is.
        if (!cloud)
            return;
        const QImage png(folder.filePath(name + ".png"));
        ImageColorizer colorMap;
        FrameColorizer colors(&colorMap);
        QCOMPARE(png.pixel(flip ? scene.width - 1 - x : x, y), colors.color(1, sample));
        const QList<QByteArray> pcd = readFile(folder.filePath(name + ".pcd")).split('\n');
        QCOMPARE(pcd.size(), 11 + scene.width * scene.height + 1);
        QCOMPARE(pcd[11 + index],
            LogFormat::pointLine(index, scene.width, sample, LensParameters::fromDeviceState()));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_app_mainwindow.moc"
