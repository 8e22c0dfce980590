// The real main window against real kavrix-sim processes: the bytes each control
// sends, the control states through plug, unplug and replug, and the teardown.

#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/TofDevice.h"
#include "frames/DepthFilter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"
#include "views/WidgetPointCloud.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

// Every control of the form except the message log and the temperature field.
const char *const kControls[] = {
    "pushButtonStart",
    "spinBoxTime",
    "spinBoxAmplitude",
    "comboBoxFrameType",
    "pushButtonLogData",
    "spinBoxHDR_HighTime",
    "checkBoxHDR",
    "checkBoxDRNU_LUT",
    "checkBoxHorizontalFlip",
    "checkBoxVerticalFlip",
    "comboBoxKalmanFilter",
    "checkBoxShowPoint",
    "spinBoxDistanceOffset",
    "pushButtonGetInfo",
};

const char *const kStreamingControls[] = {
    "spinBoxTime",
    "spinBoxAmplitude",
    "pushButtonLogData",
    "comboBoxFrameType",
    "checkBoxHDR",
    "checkBoxHorizontalFlip",
    "checkBoxVerticalFlip",
    "comboBoxKalmanFilter",
    "checkBoxShowPoint",
    "spinBoxDistanceOffset",
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithoutCamera();
    void cameraPresentAtStartUp();
    void m10PluggedLater();
    void mainWindowCommands();
    void frameTypeCommands();
    void hdrSendsIntegrationTimeTwice();
    void statusLine_data();
    void statusLine();
    void oneCalibrationWindow();
    void unplugWhileStreamingAndReplug();
    void bootloaderUnplugKeepsType();
    void secondCameraIsIgnored();
    void unplugOfAnotherPortIsIgnored();
    void hostExitIsLastAtTeardown();

private:
    template <typename T> T *widget(const char *name) const
    {
        return WindowTest::child<T>(window.get(), name);
    }
    QString lastInfoLine() const { return WindowTest::lastInfoLine(window.get()); }
    void createWindow();
    bool waitForType(quint8 type, int timeoutMs = 5000)
    {
        return WindowTest::waitForDeviceType(device.get(), type, timeoutMs);
    }
    // Lines the simulator received since the last call.
    QStringList takeTranscript(SimProcess &sim);

    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<SimProcess> sim;
};

void TestMainWindow::initTestCase()
{
    isolateRegistry();
}

void TestMainWindow::init()
{
    deviceState() = DeviceState();
}

void TestMainWindow::cleanup()
{
    window.reset();
    device.reset();
    sim.reset();
}

void TestMainWindow::createWindow()
{
    device = std::make_unique<TofDevice>();
    window = std::make_unique<MainWindow>(device.get());
}

QStringList TestMainWindow::takeTranscript(SimProcess &s)
{
    // Writes are asynchronous: give the port and the simulator a moment.
    QTest::qWait(150);
    const QStringList lines = s.transcript();
    s.clearTranscript();
    return lines;
}

void TestMainWindow::startsWithoutCamera()
{
    createWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Quarvel V1.2.1"));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("No Device"));
    for (const char *name : kControls)
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    QVERIFY(widget<QTextEdit>("textEditInfo")->isEnabled());
    QVERIFY(widget<QLineEdit>("lineEditTemperature")->isEnabled());

    QCOMPARE(widget<QComboBox>("comboBoxFrameType")->currentText(), QStringLiteral("Depth"));
    QCOMPARE(widget<QComboBox>("comboBoxKalmanFilter")->currentText(), QStringLiteral("Disabled"));

    const QList<QAction *> menus = window->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QVERIFY(menus.at(0)->isEnabled());
    QVERIFY(!menus.at(2)->isEnabled()); // "Check" stays disabled

    QVERIFY(!window->pictureBox());
    QCOMPARE(deviceState().imageWidth, 320);
    QVERIFY(deviceState().frameBuffer.isEmpty());
}

void TestMainWindow::cameraPresentAtStartUp()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m20" }));
    createWindow();

    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM20));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M20"));
    QVERIFY(widget<QTextEdit>("textEditInfo")->toPlainText().contains("Open Kavrix M20 successfully"));
    QVERIFY(widget<QPushButton>("pushButtonGetInfo")->isEnabled());
    QVERIFY(!widget<QPushButton>("pushButtonStart")->isEnabled());
    // The filter runs in "Complex" for this sensor, and the combo box says so.
    QCOMPARE(widget<QComboBox>("comboBoxKalmanFilter")->currentText(), QStringLiteral("Complex"));
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->value(), 300);
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->maximum(), 5000);
    QCOMPARE(deviceState().pixelCount, 76800);
    QCOMPARE(deviceState().frameBuffer.size(), 76800);
    QVERIFY(window->pictureBox());
    QVERIFY(window->pointCloud());
    // Connections are made after the device initialisation: nothing was sent.
    QVERIFY(takeTranscript(*sim).isEmpty());

    // Start waits for the device information, and says so.
    QVERIFY(widget<QPushButton>("pushButtonStart")->toolTip().contains("\"getInfo\""));
    // HDR on and off gives back this camera's own maximum.
    widget<QCheckBox>("checkBoxHDR")->setChecked(true);
    widget<QCheckBox>("checkBoxHDR")->setChecked(false);
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->maximum(), 5000);
    window->getDeviceInfo();
    QVERIFY(widget<QPushButton>("pushButtonStart")->isEnabled());
    QVERIFY(widget<QPushButton>("pushButtonStart")->toolTip().isEmpty());
}

void TestMainWindow::m10PluggedLater()
{
    createWindow();
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    QVERIFY(waitForType(TofDevice::KavrixM10));

    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M10"));
    // The log is cleared for a "Kavrix M10"; then the integration time is set.
    const QStringList lines = WindowTest::infoLines(window.get());
    QCOMPARE(lines.value(0), QStringLiteral("Open Kavrix device successfully"));
    QVERIFY(widget<QPushButton>("pushButtonStart")->isEnabled());
    QVERIFY(widget<QPushButton>("pushButtonGetInfo")->isEnabled());
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->maximum(), 4000);
    QCOMPARE(deviceState().pixelCount, 9600);
    QCOMPARE(widget<QComboBox>("comboBoxKalmanFilter")->currentText(), QStringLiteral("Disabled"));
    QCOMPARE(takeTranscript(*sim), QStringList { "24 24 01 2C" });
}

void TestMainWindow::mainWindowCommands()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    createWindow();
    takeTranscript(*sim);

    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QCOMPARE(deviceState().isStreaming, 1);
    QCOMPARE(widget<QPushButton>("pushButtonStart")->text(), QStringLiteral("stop"));
    QCOMPARE(lastInfoLine(), QStringLiteral("Start streaming"));
    for (const char *name : kStreamingControls)
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    // No DRNU table in the camera: the check box stays disabled, and checked.
    QVERIFY(!widget<QCheckBox>("checkBoxDRNU_LUT")->isEnabled());
    QVERIFY(widget<QCheckBox>("checkBoxDRNU_LUT")->isChecked());
    QCOMPARE(takeTranscript(*sim), QStringList { "23 23 02" });

    auto *offset = widget<QSpinBox>("spinBoxDistanceOffset");
    offset->setValue(-150);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set distance offset -300 LSB"));
    offset->setValue(-1);
    offset->setValue(150);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set distance offset 300 LSB"));
    offset->setValue(0);
    QCOMPARE(
        takeTranscript(*sim), (QStringList { "29 29 FF D4", "29 29 00 FE", "29 29 01 2C", "29 29 00 00" }));

    widget<QSpinBox>("spinBoxTime")->setValue(1000);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set integration time 1000 us by default."));
    widget<QSpinBox>("spinBoxAmplitude")->setValue(120);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set min amplitude 120 LSB"));
    QCOMPARE(takeTranscript(*sim), (QStringList { "24 24 03 E8", "25 25 00 78" }));

    // Typed values are sent once, on Return, not per keystroke.
    const QStringList typed[] = { { "spinBoxTime", "4000", "24 24 0F A0" },
        { "spinBoxAmplitude", "150", "25 25 00 96" }, { "spinBoxDistanceOffset", "-150", "29 29 FF D4" } };
    for (const QStringList &row : typed) {
        auto *box = widget<QSpinBox>(qPrintable(row[0]));
        box->selectAll();
        QTest::keyClicks(box, row[1]);
        QVERIFY(takeTranscript(*sim).isEmpty());
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(takeTranscript(*sim), QStringList { row[2] });
    }

    widget<QCheckBox>("checkBoxDRNU_LUT")->setChecked(false);
    QCOMPARE(lastInfoLine(), QStringLiteral("DRNU LUT disabled"));
    widget<QCheckBox>("checkBoxDRNU_LUT")->setChecked(true);
    QCOMPARE(lastInfoLine(), QStringLiteral("DRNU LUT enabled"));
    QCOMPARE(takeTranscript(*sim), (QStringList { "23 23 0C", "23 23 0B" }));

    widget<QCheckBox>("checkBoxHorizontalFlip")->setChecked(true);
    QCOMPARE(lastInfoLine(), QStringLiteral("Image horizontal flip enabled"));
    widget<QCheckBox>("checkBoxVerticalFlip")->setChecked(true);
    QCOMPARE(lastInfoLine(), QStringLiteral("Image verticalFlip flip enabled"));
    widget<QCheckBox>("checkBoxVerticalFlip")->setChecked(false);
    QCOMPARE(lastInfoLine(), QStringLiteral("Image verticalFlip flip disabled"));

    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QCOMPARE(deviceState().isStreaming, 0);
    QCOMPARE(widget<QPushButton>("pushButtonStart")->text(), QStringLiteral("start"));
    QCOMPARE(lastInfoLine(), QStringLiteral("Stop streaming"));
    for (const char *name : kStreamingControls)
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    QCOMPARE(takeTranscript(*sim), QStringList { "23 23 03" });
}

void TestMainWindow::frameTypeCommands()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    createWindow();
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    takeTranscript(*sim);

    auto *frameType = widget<QComboBox>("comboBoxFrameType");
    auto *hdr = widget<QCheckBox>("checkBoxHDR");
    // From "Depth", the point cloud needs no new frame type.
    frameType->setCurrentIndex(3);
    QVERIFY(takeTranscript(*sim).isEmpty());
    QVERIFY(window->pointCloud()->isVisible());
    QVERIFY(!window->pictureBox()->isVisible());

    frameType->setCurrentIndex(0);
    QCOMPARE(window->pictureBox()->windowTitle(), QStringLiteral("Amplitude image"));
    QCOMPARE(window->pictureBox()->displayMode(), 5);
    QVERIFY(!hdr->isEnabled());
    QVERIFY(!window->pointCloud()->isVisible());
    frameType->setCurrentIndex(2);
    QCOMPARE(window->pictureBox()->windowTitle(), QStringLiteral("Grayscale image"));
    QCOMPARE(window->pictureBox()->displayMode(), 6);
    frameType->setCurrentIndex(3);
    QVERIFY(hdr->isEnabled());
    frameType->setCurrentIndex(1);
    QCOMPARE(window->pictureBox()->windowTitle(), QStringLiteral("Depth image"));
    QCOMPARE(window->pictureBox()->displayMode(), 2);
    QCOMPARE(takeTranscript(*sim), (QStringList { "23 23 04", "23 23 06", "23 23 05", "23 23 05" }));
    QCOMPARE(window->currentFrameMode(), quint8(1));
}

void TestMainWindow::hdrSendsIntegrationTimeTwice()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    createWindow();
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    widget<QSpinBox>("spinBoxTime")->setValue(600);
    takeTranscript(*sim);

    widget<QCheckBox>("checkBoxHDR")->setChecked(true);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set HDR 1st integration time 300 us."));
    QVERIFY(widget<QSpinBox>("spinBoxHDR_HighTime")->isEnabled());
    QVERIFY(!widget<QComboBox>("comboBoxFrameType")->isEnabled());
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->maximum(), 2000);
    QCOMPARE(takeTranscript(*sim), (QStringList { "23 23 07", "24 24 01 2C", "24 24 01 2C" }));

    widget<QSpinBox>("spinBoxHDR_HighTime")->setValue(3000);
    QCOMPARE(lastInfoLine(), QStringLiteral("Set HDR 2nd integration time 3000 us"));
    widget<QCheckBox>("checkBoxHDR")->setChecked(false);
    QCOMPARE(lastInfoLine(), QStringLiteral("HDR disabled"));
    QVERIFY(!widget<QSpinBox>("spinBoxHDR_HighTime")->isEnabled());
    QVERIFY(widget<QComboBox>("comboBoxFrameType")->isEnabled());
    QCOMPARE(widget<QSpinBox>("spinBoxTime")->maximum(), 4000);
    QCOMPARE(takeTranscript(*sim), (QStringList { "27 27 0B B8", "23 23 08" }));

    // Already at 300: the value does not change, so it is sent once.
    widget<QCheckBox>("checkBoxHDR")->setChecked(true);
    QCOMPARE(takeTranscript(*sim), (QStringList { "23 23 07", "24 24 01 2C" }));
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
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10", "--fps", QString::number(fps), "--garbage", "40" }));
    createWindow();
    const QString idle = QStringLiteral("Kavrix M10 on ") + device->serialPort()->portName();
    QTRY_COMPARE(window->statusLine(), idle);
    QSignalSpy shown(window.get(), &MainWindow::pictureReady);
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    WindowTest::waitUntil([] { return false; }, 2500);

    const QString line = window->statusLine();
    const QRegularExpressionMatch m
        = QRegularExpression(R"(^(\d+\.\d) fps, (\d+) frames shown, (\d+) blocks dropped, (\d+\.\d\d) MB/s$)")
              .match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    const double rate = m.captured(1).toDouble();
    const int frames = m.captured(2).toInt();
    const double frameMegabytes = (2 * 9600 + 4 + 4 + 20.5) / 1e6; // frame, marker, noise
    // Generous bounds: the rates are timing. The line is at most a few updates old.
    QVERIFY2(rate > 0.5 * fps && rate < 1.2 * fps, qPrintable(line));
    QVERIFY2(frames <= shown.size() && frames >= shown.size() - fps / 2 - 2, qPrintable(line));
    QVERIFY2(qAbs(m.captured(3).toInt() - frames) <= fps / 2 + 1, qPrintable(line));
    QVERIFY2(qAbs(m.captured(4).toDouble() / (rate * frameMegabytes) - 1) < 0.25, qPrintable(line));
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QTRY_COMPARE(window->statusLine(), idle);
}

void TestMainWindow::oneCalibrationWindow()
{
    createWindow();
    QAction *calibrate = window->menuBar()->actions().at(1)->menu()->actions().at(0);
    calibrate->trigger();
    calibrate->trigger();
    QWidgetList open = QApplication::topLevelWidgets();
    open.erase(
        std::remove_if(open.begin(), open.end(), [](QWidget *w) { return !qobject_cast<Calibration *>(w); }),
        open.end());
    QCOMPARE(open.size(), 1);
    qDeleteAll(open);
}

void TestMainWindow::unplugWhileStreamingAndReplug()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m20" }));
    createWindow();
    window->getDeviceInfo();
    QVERIFY(widget<QPushButton>("pushButtonStart")->isEnabled());
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QCOMPARE(deviceState().isStreaming, 1);
    QPointer<PictureBox> picture = window->pictureBox();
    QPointer<WidgetPointCloud> cloud = window->pointCloud();

    QSignalSpy types(device.get(), &TofDevice::deviceTypeChanged);
    sim->unplug();
    QVERIFY(waitForType(TofDevice::NoDevice));
    QCOMPARE(types.size(), 1);
    QCOMPARE(types.at(0).at(0).value<quint8>(), quint8(TofDevice::KavrixM20Removed));
    QCOMPARE(device->portName(), QStringLiteral("NULL"));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("No Device"));
    QCOMPARE(deviceState().isStreaming, 0);
    QVERIFY(deviceState().frameBuffer.isEmpty());
    QVERIFY(picture.isNull());
    QVERIFY(cloud.isNull());
    QVERIFY(!window->filter());
    for (const char *name : kControls)
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    QCOMPARE(widget<QComboBox>("comboBoxFrameType")->currentIndex(), 1);

    sim->plug();
    QVERIFY(waitForType(TofDevice::KavrixM20));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M20"));
    QVERIFY(window->pictureBox());
    QVERIFY(window->filter());
    QCOMPARE(window->filter()->mode(), 3);
    QCOMPARE(widget<QComboBox>("comboBoxKalmanFilter")->currentText(), QStringLiteral("Complex"));
    QCOMPARE(deviceState().frameBuffer.size(), 76800);
    QVERIFY(widget<QPushButton>("pushButtonGetInfo")->isEnabled());
}

void TestMainWindow::bootloaderUnplugKeepsType()
{
    createWindow();
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "bootloader" }));
    QVERIFY(waitForType(TofDevice::Bootloader));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Bootloader"));
    QCOMPARE(lastInfoLine(), QStringLiteral("Open bootloader successfully"));
    QVERIFY(!widget<QPushButton>("pushButtonStart")->isEnabled());

    QSignalSpy types(device.get(), &TofDevice::deviceTypeChanged);
    sim->unplug();
    QVERIFY(QTest::qWaitFor([&] { return device->portName() == QLatin1String("NULL"); }, 5000));
    QCOMPARE(device->deviceType(), quint8(TofDevice::Bootloader));
    QVERIFY(types.isEmpty());
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Bootloader"));

    // The next arrival scans again.
    sim->plug();
    QVERIFY(QTest::qWaitFor([&] { return !types.isEmpty(); }, 5000));
    QCOMPARE(types.at(0).at(0).value<quint8>(), quint8(TofDevice::Bootloader));
}

void TestMainWindow::secondCameraIsIgnored()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    createWindow();
    const QString openPort = device->portName();

    SimProcess second;
    QVERIFY(second.start({ "--model", "m20" }));
    QTest::qWait(300);
    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM10));
    QCOMPARE(device->portName(), openPort);
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M10"));
    QCOMPARE(deviceState().imageWidth, 160);
}

void TestMainWindow::unplugOfAnotherPortIsIgnored()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    SimProcess other;
    QVERIFY(other.start({ "--model", "m20" }));
    createWindow();
    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM10));
    QSignalSpy types(device.get(), &TofDevice::deviceTypeChanged);

    QVERIFY(device->portName() != other.name());
    other.unplug();
    QTest::qWait(300);
    QVERIFY(types.isEmpty());
    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM10));
    QCOMPARE(widget<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M10"));
}

void TestMainWindow::hostExitIsLastAtTeardown()
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m10" }));
    createWindow();
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    takeTranscript(*sim);

    window.reset();
    device.reset();
    const QStringList lines = takeTranscript(*sim);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), QStringLiteral("23 23 32"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_app_mainwindow.moc"
