// The calibration window against kavrix-sim when things go wrong: the camera
// unplugged or the window closed during the sweep, the wait after saving or
// the programming; a lost acknowledgement; files that cannot be written; a
// camera that reports no DLL steps; a sweep restarted halfway.
#include "app/DeviceState.h"
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/TofDevice.h"
#include "tests/calibration/CalibrationTestSupport.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace CalibrationTest;

namespace {

QPushButton *button(QWidget *window, const char *name)
{
    return WindowTest::child<QPushButton>(window, name);
}

bool hasMessage(const Calibration *window, const QString &start)
{
    for (const QString &message : window->messages()) {
        if (message.startsWith(start))
            return true;
    }
    return false;
}

} // namespace

class TestCalibrationWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unplugDuringSweep_data();
    void unplugDuringSweep();
    void closeDuringSweep();
    void restartedSweepStartsClean();
    void zeroDllSteps();
    void unplugOrCloseDuringSaveWait_data();
    void unplugOrCloseDuringSaveWait();
    void unplugOrCloseDuringEpc635Programming_data();
    void unplugOrCloseDuringEpc635Programming();
    void lostAcknowledgement();
    void unwritableFolderAsksBeforeProgramming();

private:
    void startCamera(const QStringList &arguments);
    Calibration *openWindow();
    // The window closed or the camera unplugged after `ms` (the column "close").
    static void addUnplugOrCloseRows();
    void unplugOrCloseAfter(int ms, bool close);
    int packetCount(int size) const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    QPointer<Calibration> window;
};

void TestCalibrationWindow::initTestCase()
{
    isolateRegistry();
    silenceSweepDebugLines();
}

void TestCalibrationWindow::init()
{
    deviceState() = DeviceState();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    deviceState().appDirPath = dir->path();
    deviceState().workingSubdir = QStringLiteral("/log/0_0_0");
    QVERIFY(QDir().mkpath(deviceState().workingDir()));
}

void TestCalibrationWindow::cleanup()
{
    delete window.data();
    device.reset();
    sim.reset();
    dir.reset();
}

void TestCalibrationWindow::startCamera(const QStringList &arguments)
{
    QVERIFY(WindowTest::startCamera(arguments, &sim, &device));
}

Calibration *TestCalibrationWindow::openWindow()
{
    window = new Calibration(device.get());
    window->connectReader();
    window->show();
    return window;
}

void TestCalibrationWindow::addUnplugOrCloseRows()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("unplug") << false;
    QTest::newRow("close") << true;
}

void TestCalibrationWindow::unplugOrCloseAfter(int ms, bool close)
{
    QTimer::singleShot(ms, this, [this, close] {
        if (close)
            window->close();
        else
            sim->control("unplug");
    });
}

int TestCalibrationWindow::packetCount(int size) const
{
    int count = 0;
    for (const QString &line : sim->transcript()) {
        if (line.size() == 3 * size - 1)
            ++count;
    }
    return count;
}

void TestCalibrationWindow::unplugDuringSweep_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("unplug") << "unplug";
    QTest::newRow("link dies first") << "hangup 200";
}

void TestCalibrationWindow::unplugDuringSweep()
{
    QFETCH(QString, how);
    startCamera({ "--model", "m10", "--calib-fps", "200" });
    openWindow();
    button(window, "pushButtonRunDRNU")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().expectedStep() >= 3, 20000);

    sim->control(how);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isReaderConnected(), 5000);
    QVERIFY(!window->sweep().isRunning());
    QVERIFY(hasMessage(window, QStringLiteral("The camera was removed: calibration stopped")));
    QCOMPARE(window->findChild<QProgressBar *>("progressBar")->value(), 0);
    // Buttons do nothing harmful without a camera.
    button(window, "pushButtonRunDRNU")->click();
    QVERIFY(!window->sweep().isRunning());

    // Plugged in again: the window listens again and a new sweep runs to its end.
    QVERIFY(sim->plug());
    QTRY_VERIFY_WITH_TIMEOUT(window->isReaderConnected(), 5000);
    button(window, "pushButtonRunDRNU")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().hasResult(), 60000);
    QVERIFY(window->sweep().lutTable == expectedResult(9600).table);
}

void TestCalibrationWindow::closeDuringSweep()
{
    startCamera({ "--model", "m10", "--calib-fps", "200" });
    openWindow();
    QSerialPort *port = device->serialPort();
    button(window, "pushButtonRunDRNU")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().expectedStep() >= 2, 20000);
    QPointer<InfoDRNUCurve> curve = window->curveWindow();

    sim->clearTranscript();
    window->close();
    QVERIFY(!window->isReaderConnected());
    QTRY_VERIFY(!window);
    QTRY_VERIFY(!curve);
    // The camera is told to stop, and the port keeps working for the next reader.
    QVERIFY(sim->waitForTranscript("23 23 03"));
    QVERIFY(sim->waitForEvent("calib stop"));
    QVERIFY(port->isOpen());
    QTest::qWait(200);
    port->readAll();
}

void TestCalibrationWindow::restartedSweepStartsClean()
{
    startCamera({ "--model", "m10", "--calib-fps", "200" });
    openWindow();
    button(window, "pushButtonRunDRNU")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().expectedStep() >= 4, 20000);
    QVERIFY(!button(window, "pushButtonSaveProg")->isEnabled());

    // "2.  Calibrate" again: step 0, cleared sums, and a correct table at the end.
    button(window, "pushButtonRunDRNU")->click();
    QCOMPARE(window->sweep().expectedStep(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().hasResult(), 60000);
    QVERIFY(window->sweep().lutTable == expectedResult(9600).table);
    QCOMPARE(sim->transcript().count("23 23 09"), 2);
    QVERIFY(button(window, "pushButtonSaveProg")->isEnabled());
}

void TestCalibrationWindow::zeroDllSteps()
{
    startCamera({ "--model", "m10", "--calib-steps", "0", "--calib-fps", "20" });
    openWindow();
    button(window, "pushButtonRunDRNU")->click();
    QTRY_VERIFY_WITH_TIMEOUT(hasMessage(window, QStringLiteral("The camera reports 0 DLL steps")), 5000);
    QCOMPARE(window->findChild<QLineEdit *>("lineEditDllSteps")->text(), QStringLiteral("0"));
    QCOMPARE(window->sweep().dllStepSize, 0);
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().framesInStep() > 3, 5000);
}

void TestCalibrationWindow::unplugOrCloseDuringSaveWait_data()
{
    addUnplugOrCloseRows();
}

void TestCalibrationWindow::unplugOrCloseDuringSaveWait()
{
    QFETCH(bool, close);
    startCamera({ "--model", "m10" });
    openWindow();
    MessageBoxAnswers answers({ QMessageBox::Yes });
    unplugOrCloseAfter(1500, close);
    QElapsedTimer clock;
    clock.start();
    button(window, "pushButtonSaveProg")->click();
    QVERIFY(clock.elapsed() < 3900);
    // The zero table was confirmed, the files written, and nothing programmed.
    QCOMPARE(answers.texts().size(), 1);
    QVERIFY(answers.texts().first().startsWith("No calibration has finished in this window"));
    QVERIFY(QFileInfo::exists(deviceState().workingDir() + "/DRNU_Lut.c"));
    QVERIFY(sim->transcript().contains("23 23 0D"));
    QTest::qWait(100);
    QCOMPARE(packetCount(64), 0);
    if (close) {
        QTRY_VERIFY(!window);
    } else {
        QVERIFY(hasMessage(window, QStringLiteral("The camera was removed: the table was not programmed")));
        QVERIFY(!window->isReaderConnected());
        QVERIFY(!window->isProgramming());
    }
}

void TestCalibrationWindow::unplugOrCloseDuringEpc635Programming_data()
{
    addUnplugOrCloseRows();
}

void TestCalibrationWindow::unplugOrCloseDuringEpc635Programming()
{
    QFETCH(bool, close);
    startCamera({ "--model", "m10" });
    openWindow();
    MessageBoxAnswers answers({ QMessageBox::Yes });
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    // 4 s after saving the packets begin, 10 ms apart.
    unplugOrCloseAfter(5500, close);
    QElapsedTimer clock;
    clock.start();
    button(window, "pushButtonSaveProg")->click();
    QVERIFY(clock.elapsed() < 8000);
    const int sent = packetCount(64);
    QVERIFY2(sent > 20 && sent < 7360, qPrintable(QString::number(sent)));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    if (close) {
        QTRY_VERIFY(!window);
    } else {
        QVERIFY(hasMessage(window, QStringLiteral("The camera was removed: flash programming stopped")));
        QVERIFY(!window->isReaderConnected());
        QVERIFY(!window->isProgramming());
    }
}

void TestCalibrationWindow::lostAcknowledgement()
{
    startCamera({ "--model", "m20", "--calib-drop-ack", "5" });
    openWindow();
    window->setAckTimeout(1500);
    MessageBoxAnswers answers({ QMessageBox::Yes });
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    button(window, "pushButtonSaveProg")->click();
    QVERIFY(sim->waitForEvent("calib ack dropped 5", 10000));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(hasMessage(
        window, QStringLiteral("No acknowledgement from the camera for LUT packet 5 within 1.5 s")));
    QVERIFY(!window->isProgramming());
    QCOMPARE(packetCount(2048), 6);
    QVERIFY(button(window, "pushButtonSaveProg")->isEnabled());
}

void TestCalibrationWindow::unwritableFolderAsksBeforeProgramming()
{
    startCamera({ "--model", "m10" });
    deviceState().workingSubdir = QStringLiteral("/log/not_created");
    openWindow();
    // Yes to the empty table, No to programming without files.
    MessageBoxAnswers answers({ QMessageBox::Yes, QMessageBox::No });
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    button(window, "pushButtonSaveProg")->click();
    QCOMPARE(answers.texts().size(), 2);
    QVERIFY2(
        answers.texts().at(1).startsWith("Open drnu image file failed"), qPrintable(answers.texts().at(1)));
    QVERIFY(answers.texts().at(1).contains("Program the table into the camera anyway?"));
    QVERIFY(hasMessage(window, QStringLiteral("Open drnu image file failed"))
        && window->messages().last().endsWith(QStringLiteral("the table was not programmed")));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!QFileInfo::exists(dir->path() + "/log/not_created"));
    // Nothing reached the camera: no "save DRNU", no packet.
    QTest::qWait(300);
    QVERIFY(!sim->transcript().contains("23 23 0D"));
    QCOMPARE(packetCount(64), 0);
}

QTEST_MAIN(TestCalibrationWindow)
#include "tst_calibration_window.moc"
