// The device-information query and the lens window, end to end: the real main
// window and its DeviceInfo reader against kavrix-sim.

#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "deviceinfo/DeviceInfo.h"
#include "deviceinfo/LensInfo.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

template <typename T> T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w))
            return t;
    }
    return nullptr;
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

class TestDeviceInfoQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void replyWithLensParameters();
    void replyWithoutLensParametersUsesModelDefaults_data();
    void replyWithoutLensParametersUsesModelDefaults();
    void flagValuesOtherThanOne();
    void noOrBadReplyFails_data();
    void noOrBadReplyFails();
    void lateReplyIsNotTaken();
    void replyInOneByteChunks_data();
    void replyInOneByteChunks();
    void folderThatCannotBeCreatedIsReported();
    void lensWindowBeforeAnyQuery();
    void lensPacketIsSentAndReadBack();
    void queryWhileStreaming_data();
    void queryWhileStreaming();
    void unplugDuringTheWait_data();
    void unplugDuringTheWait();
    void windowDestroyedDuringTheWait();
    void secondPressDuringTheWaitIsIgnored();

private:
    void startCamera(const QStringList &arguments);
    // Presses "getInfo" and returns the log lines it added.
    QStringList query();
    QStringList infoLines() const { return WindowTest::infoLines(window.get()); }
    template <typename T> T *widget(QWidget *parent, const char *name) const
    {
        return WindowTest::child<T>(parent, name);
    }

    std::unique_ptr<QTemporaryDir> dataDir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
};

void TestDeviceInfoQuery::initTestCase()
{
    isolateRegistry();
}

void TestDeviceInfoQuery::init()
{
    deviceState() = DeviceState();
    dataDir = std::make_unique<QTemporaryDir>();
    QVERIFY(dataDir->isValid());
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(dataDir->path()));
}

void TestDeviceInfoQuery::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<LensInfo *>(w))
            delete w;
    }
    window.reset();
    device.reset();
    sim.reset();
    dataDir.reset();
}

void TestDeviceInfoQuery::startCamera(const QStringList &arguments)
{
    QVERIFY(WindowTest::startCameraAndWindow(arguments, &sim, &device, &window));
    // The reader stores where output goes as soon as it exists.
    QCOMPARE(deviceState().appDirPath, nativePath(dataDir->path()));
}

QStringList TestDeviceInfoQuery::query()
{
    const int before = infoLines().size();
    widget<QPushButton>(window.get(), "pushButtonGetInfo")->click();
    return infoLines().mid(before);
}

void TestDeviceInfoQuery::replyWithLensParameters()
{
    startCamera({ "--model", "m10", "--info-identity", "12345", "--info-wafer", "17", "--info-chip", "4242",
        "--info-hw", "123", "--info-fw", "1234", "--info-drnu", "1", "--info-lut", "7,80,900", "--info-lens",
        "1", "--info-lens-values", "1000.5,80.5,30.25,113,112.5" });
    const QString folder = nativePath(dataDir->path() + "/log/12000_17_4242");

    const QStringList expected {
        "Working dir created to: " + folder,
        "Machine ID: 12000          ModFreq: 345MHz",
        "Wafter ID: 17               Chip ID: 4242",
        "Hardware Ver:  1.2.3    Firmware Ver:  12.3.4",
        "DRNU LUT file is found: <780900>",
        "Lens param is found",
        "camera_factor1000.50",
        "intrinsics: [80.50  30.25  113.00  112.50]",
    };
    QCOMPARE(query(), expected);
    QCOMPARE(sim->transcript(), QStringList { "23 23 01" });
    QVERIFY(QFileInfo(folder).isDir());

    const DeviceState &state = deviceState();
    QVERIFY(!state.deviceInfoReceived);
    QCOMPARE(state.workingDir(), folder);
    QCOMPARE(state.cameraFy, 112.5);

    // The hidden form mirrors the same values, machine ID under "Machine ID".
    auto *info = topLevel<DeviceInfo>();
    QVERIFY(info);
    QVERIFY(!info->isVisible());
    QVERIFY(!info->isCollecting());
    QCOMPARE(widget<QLabel>(info, "label_machineID")->text(), QStringLiteral("Machine ID:  12000"));
    QCOMPARE(widget<QLabel>(info, "label_drnu_lut")->text(), QStringLiteral("DRNU LUT:  Available"));
    QCOMPARE(widget<QDoubleSpinBox>(info, "doubleSpinBoxCameraCy")->value(), 30.25);
    QVERIFY(widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled());
}

void TestDeviceInfoQuery::replyWithoutLensParametersUsesModelDefaults_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("intrinsics");
    QTest::newRow("M10") << QStringList { "--model", "m10" } << "intrinsics: [80.00  30.00  113.00  113.00]";
    QTest::newRow("M20, small block")
        << QStringList { "--model", "m20" } << "intrinsics: [160.00  120.00  230.00  230.00]";
    QTest::newRow("M20, frame-sized block") << QStringList { "--model", "m20", "--info-size", "frame" }
                                            << "intrinsics: [160.00  120.00  230.00  230.00]";
}

void TestDeviceInfoQuery::replyWithoutLensParametersUsesModelDefaults()
{
    QFETCH(QStringList, arguments);
    // Identity below 1000: machine ID 0, the whole word is the modulation frequency.
    startCamera(arguments + QStringList { "--info-identity", "24", "--info-wafer", "5", "--info-chip", "9" });
    const bool m20 = device->deviceType() == TofDevice::KavrixM20;
    // A "Kavrix M20" gets its start button from the query.
    QCOMPARE(widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled(), !m20);

    const QStringList lines = query();
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[0], "Working dir created to: " + nativePath(dataDir->path() + "/log/0_5_9"));
    QCOMPARE(lines[1], QStringLiteral("Machine ID: 0          ModFreq: 24MHz"));
    QCOMPARE(lines[4], QStringLiteral("DRNU LUT file is not found"));
    QCOMPARE(lines[5], QStringLiteral("Lens param is not found. Use default!"));
    QCOMPARE(lines[6], QStringLiteral("camera_factor1000.00"));
    QTEST(lines[7], "intrinsics");
    QVERIFY(widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled());
}

void TestDeviceInfoQuery::flagValuesOtherThanOne()
{
    // Byte 11 = 2: the camera's values are loaded, then replaced by the
    // defaults because only 1 counts as "found". Byte 10 = 2: the summary says
    // found (not 0) while the form says not available (not 1). LUT info words
    // not marked valid leave the earlier (start) values.
    startCamera({ "--model", "m10", "--info-drnu", "2", "--info-lens", "2", "--info-lens-values",
        "1500,81,31,114,115", "--info-lut-present", "2" });
    const QStringList lines = query();
    QCOMPARE(lines.value(4), QStringLiteral("DRNU LUT file is found: <000>"));
    QCOMPARE(lines.value(5), QStringLiteral("Lens param is not found. Use default!"));
    QCOMPARE(lines.value(7), QStringLiteral("intrinsics: [80.00  30.00  113.00  113.00]"));
    auto *info = topLevel<DeviceInfo>();
    QCOMPARE(widget<QLabel>(info, "label_drnu_lut")->text(), QStringLiteral("DRNU LUT:  Not Available"));
    // The form shows what the reply carried.
    QCOMPARE(widget<QDoubleSpinBox>(info, "doubleSpinBoxCameraFactor")->value(), 1500.0);
}

void TestDeviceInfoQuery::noOrBadReplyFails_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("silent") << "silent";
    QTest::newRow("wrong status") << "bad-status";
    QTest::newRow("wrong length") << "bad-length";
}

void TestDeviceInfoQuery::noOrBadReplyFails()
{
    QFETCH(QString, mode);
    startCamera({ "--model", "m20", "--info-mode", mode, "--info-lens", "1" });
    const DeviceState before = deviceState();

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(query(), QStringList { "Get device info failed!" });
    // The whole wait of 15 periods of 100 ms runs out first.
    QVERIFY(timer.elapsed() >= 1400);
    QVERIFY(sim->waitForEvent(mode == "silent" ? "info silent" : "info reply"));

    QCOMPARE(deviceState().workingSubdir, before.workingSubdir);
    QCOMPARE(deviceState().cameraCx, before.cameraCx);
    QVERIFY(!topLevel<DeviceInfo>()->isCollecting());
    // Enabled whether or not the query succeeded.
    QVERIFY(widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled());

    // The next query works, undisturbed by what the failed one left.
    sim->control("info mode normal");
    QCOMPARE(query().value(5), QStringLiteral("Lens param is found"));
}

void TestDeviceInfoQuery::lateReplyIsNotTaken()
{
    startCamera({ "--model", "m10", "--info-delay", "1800", "--info-identity", "1111" });
    QCOMPARE(query(), QStringList { "Get device info failed!" });
    QVERIFY(sim->waitForEvent("info reply"));
    QTest::qWait(200);
    // Outside a query nothing is decoded...
    QCOMPARE(deviceState().machineID, 0);
    QVERIFY(!deviceState().deviceInfoReceived);

    // ... and the next query is answered by its own reply, not the stale one.
    sim->control("info delay 0");
    sim->control("info identity 2222");
    QCOMPARE(query().value(1), QStringLiteral("Machine ID: 2000          ModFreq: 222MHz"));
}

void TestDeviceInfoQuery::replyInOneByteChunks_data()
{
    QTest::addColumn<QStringList>("chunking");
    QTest::newRow("1-byte pieces") << QStringList { "--chunk", "1", "--chunk-gap", "0" };
}

void TestDeviceInfoQuery::replyInOneByteChunks()
{
    QFETCH(QStringList, chunking);
    startCamera(QStringList { "--model", "m10", "--info-identity", "20040", "--info-lens", "1",
                    "--info-lens-values", "1000,80.5,30,113,113" }
        + chunking);
    const QStringList lines = query();
    QCOMPARE(lines.value(1), QStringLiteral("Machine ID: 20000          ModFreq: 40MHz"));
    QCOMPARE(lines.value(7), QStringLiteral("intrinsics: [80.50  30.00  113.00  113.00]"));
}

void TestDeviceInfoQuery::folderThatCannotBeCreatedIsReported()
{
    startCamera({ "--model", "m10", "--info-identity", "3000", "--info-wafer", "1", "--info-chip", "2" });
    // A file where a folder must go: no user, root included, can create below it.
    const QString blocker = dataDir->path() + "/blocker";
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    deviceState().appDirPath = nativePath(blocker);

    const QStringList lines = query();
    QCOMPARE(lines.value(0), "Working dir could not be created: " + nativePath(blocker + "/log/3000_1_2"));
    // The rest of the summary is still given.
    QCOMPARE(lines.value(1), QStringLiteral("Machine ID: 3000          ModFreq: 0MHz"));
    QCOMPARE(lines.size(), 8);
}

void TestDeviceInfoQuery::lensWindowBeforeAnyQuery()
{
    startCamera({ "--model", "m10" });
    QAction *lensAction = nullptr;
    for (QAction *menu : window->menuBar()->actions()) {
        for (QAction *action : menu->menu()->actions()) {
            if (action->text() == QLatin1String("Lens Param"))
                lensAction = action;
        }
    }
    QVERIFY(lensAction);
    lensAction->trigger();
    auto *lens = topLevel<LensInfo>();
    QVERIFY(lens);
    // The shared start values, not the form's own 1000 and 10.
    QCOMPARE(widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraFactor")->text(), QStringLiteral("1000.00"));
    for (const char *name : { "doubleSpinBoxCameraCx", "doubleSpinBoxCameraCy", "doubleSpinBoxCameraFx",
             "doubleSpinBoxCameraFy" })
        QCOMPARE(widget<QDoubleSpinBox>(lens, name)->text(), QStringLiteral("1.00"));
}

void TestDeviceInfoQuery::lensPacketIsSentAndReadBack()
{
    startCamera({ "--model", "m10" });
    auto *lens = new LensInfo(device.get());
    widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraFactor")->setValue(6000);
    widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraCx")->setValue(80.5);
    widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraCy")->setValue(600);
    widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraFx")->setValue(0.29);
    widget<QDoubleSpinBox>(lens, "doubleSpinBoxCameraFy")->setValue(113);
    sim->clearTranscript();
    widget<QPushButton>(lens, "pushButtonSetLensParam")->click();

    // 6000 -> 60000 (60 EA), 80.5 -> 8050 (72 1F), 600 -> 60000, 0.29 -> 29, 113 -> 11300.
    QVERIFY(sim->waitForTranscript("28 28 60 EA 72 1F 60 EA 1D 00 24 2C"));
    QCOMPARE(sim->transcript().size(), 1);
    // Used by the application at once, whatever the camera does.
    QCOMPARE(deviceState().cameraFx, 0.29);
    // Nothing is reported.
    QVERIFY(!infoLines().join('\n').contains("Lens"));

    // The camera stored them: the next reply carries them.
    const QStringList lines = query();
    QCOMPARE(lines.value(5), QStringLiteral("Lens param is found"));
    QCOMPARE(lines.value(7), QStringLiteral("intrinsics: [80.50  600.00  0.29  113.00]"));
    lens->close();
}

void TestDeviceInfoQuery::queryWhileStreaming_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("M10") << QStringList { "--model", "m10" };
    QTest::newRow("M20, small block") << QStringList { "--model", "m20" };
    QTest::newRow("M20, frame-sized block") << QStringList { "--model", "m20", "--info-size", "frame" };
}

void TestDeviceInfoQuery::queryWhileStreaming()
{
    QFETCH(QStringList, arguments);
    startCamera(arguments + QStringList { "--info-identity", "7077", "--fps", "30" });
    auto *start = widget<QPushButton>(window.get(), "pushButtonStart");
    start->setEnabled(true);
    start->click();
    QVERIFY(sim->waitForEvent("stream started"));
    QTest::qWait(200);

    // The frame reader stays connected first and takes the bytes; the reply is
    // still recognised among the frames.
    const QStringList lines = query();
    QCOMPARE(lines.value(1), QStringLiteral("Machine ID: 7000          ModFreq: 77MHz"));
    QSerialPort *port = device->serialPort();
    QVERIFY(QObject::disconnect(port, &QSerialPort::readyRead, window.get(), &MainWindow::slotReadData));
    QObject::connect(port, &QSerialPort::readyRead, window.get(), &MainWindow::slotReadData);
    QVERIFY(!topLevel<DeviceInfo>()->isCollecting());
    start->click();
}

void TestDeviceInfoQuery::unplugDuringTheWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("unplug") << "unplug";
    QTest::newRow("link dies first") << "hangup 200";
}

void TestDeviceInfoQuery::unplugDuringTheWait()
{
    QFETCH(QString, how);
    startCamera({ "--model", "m20", "--info-mode", "silent" });
    QTimer::singleShot(300, sim.get(), [this, how] { sim->control(how); });
    QCOMPARE(query(), QStringList { "Get device info failed!" });

    auto *info = topLevel<DeviceInfo>();
    QVERIFY(info);
    QVERIFY(!info->isCollecting());
    QVERIFY(WindowTest::waitForDeviceType(device.get(), TofDevice::NoDevice, 3000));
    // The removal disabled the start button; the failed query must not enable it again.
    QVERIFY(!widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled());

    // Back again: a query works as before.
    sim->control("info mode normal");
    QVERIFY(sim->plug());
    QVERIFY(WindowTest::waitForDeviceType(device.get(), TofDevice::KavrixM20));
    QCOMPARE(query().value(5), QStringLiteral("Lens param is not found. Use default!"));
    QVERIFY(widget<QPushButton>(window.get(), "pushButtonStart")->isEnabled());
}

void TestDeviceInfoQuery::windowDestroyedDuringTheWait()
{
    startCamera({ "--model", "m10", "--info-mode", "silent" });
    QTimer::singleShot(300, sim.get(), [this] { window.reset(); });
    MainWindow *raw = window.get();
    QMetaObject::invokeMethod(raw, "getDeviceInfo", Qt::DirectConnection);
    QVERIFY(!window);
    QVERIFY(!topLevel<DeviceInfo>());
}

void TestDeviceInfoQuery::secondPressDuringTheWaitIsIgnored()
{
    startCamera({ "--model", "m10", "--info-delay", "400", "--info-identity", "1001" });
    int innerAdded = -1;
    QTimer::singleShot(100, window.get(), [this, &innerAdded] {
        const int before = infoLines().size();
        widget<QPushButton>(window.get(), "pushButtonGetInfo")->click();
        innerAdded = infoLines().size() - before;
    });
    const QStringList lines = query();
    QCOMPARE(innerAdded, 0);
    QCOMPARE(lines.value(1), QStringLiteral("Machine ID: 1000          ModFreq: 1MHz"));
    QCOMPARE(sim->transcript(), QStringList { "23 23 01" });
}

QTEST_MAIN(TestDeviceInfoQuery)
#include "tst_deviceinfo_query.moc"
