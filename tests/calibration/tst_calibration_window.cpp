// The calibration window against kavrix-sim when a sweep or the programming
// is interrupted: the camera unplugged, the link dying, the window closed, a
// lost acknowledgement, a full disk. (The frame logger's full disk is in
// tst_app_framelogger.)
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/calibration/CalibrationTestSupport.h"

#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

using namespace CalibrationTest;
using namespace WindowTest;

class TestCalibrationWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { silenceSweepDebugLines(); }
    void sweepInterrupted_data();
    void sweepInterrupted();
    void programmingInterrupted_data();
    void programmingInterrupted();
    void diskFullWhileSaving();

private:
    bool open(Rig &rig, const QStringList &arguments)
    {
        if (!rig.start(arguments, false))
            return false;
        deviceState().appDirPath = rig.data->path();
        deviceState().workingSubdir = "/log/0_0_0";
        window = new Calibration(rig.device.get());
        window->connectReader();
        window->show();
        return QDir().mkpath(deviceState().workingDir());
    }
    void click(const char *name) { child<QPushButton>(window, name)->click(); }
    bool hasMessage(const QString &start) const
    {
        for (const QString &message : window->messages()) {
            if (message.startsWith(start))
                return true;
        }
        return false;
    }
    static int packets(const Rig &rig, int size)
    {
        return int(std::count_if(rig.sim->transcript().cbegin(), rig.sim->transcript().cend(),
            [size](const QString &line) { return line.size() == 3 * size - 1; }));
    }

    // Every file of `folder` with its bytes.
    static QByteArrayList snapshot(const QString &folder)
    {
        QByteArrayList files;
        for (const QString &name : filesIn(folder))
            files << name.toLatin1() + ": " + readFile(folder + '/' + name);
        return files;
    }

    QPointer<Calibration> window;
};

void TestCalibrationWindow::sweepInterrupted_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("unplug") << "unplug";
    QTest::newRow("link dies first") << "hangup 200";
    QTest::newRow("window closed") << "close";
}

void TestCalibrationWindow::sweepInterrupted()
{
    QFETCH(QString, fault);
    Rig rig;
    QVERIFY(open(rig, { "--model", "m10", "--calib-fps", "1000" }));
    click("pushButtonRunDRNU");
    QVERIFY(rig.waitUntil([&] { return window->sweep().expectedStep() >= 3; }, 20000));
    QVERIFY(!child<QPushButton>(window, "pushButtonSaveProg")->isEnabled());
    if (fault == "close") {
        QPointer<InfoDRNUCurve> curve = window->curveWindow();
        rig.sim->clearTranscript();
        window->close();
        QVERIFY(!window->isReaderConnected());
        QTRY_VERIFY(!window && !curve);
        // The camera is told to stop, and the port stays open for the next reader.
        QVERIFY(rig.sim->waitForTranscript("23 23 03"));
        QVERIFY(rig.device->serialPort()->isOpen());
        return;
    }
    rig.sim->control(fault);
    QVERIFY(rig.waitUntil([&] { return !window->isReaderConnected(); }, 5000));
    QVERIFY(!window->sweep().isRunning());
    QVERIFY(hasMessage("The camera was removed: calibration stopped"));
    QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), 0);
    click("pushButtonRunDRNU"); // does nothing harmful without a camera
    QVERIFY(!window->sweep().isRunning());
    // Plugged in again: the window listens again and a new sweep runs.
    QVERIFY(rig.sim->plug());
    QVERIFY(rig.waitUntil([&] { return window->isReaderConnected(); }, 5000));
    click("pushButtonRunDRNU");
    QVERIFY(rig.waitUntil([&] { return window->sweep().expectedStep() >= 1; }, 20000));
}

void TestCalibrationWindow::programmingInterrupted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("after"); // ms after "Save": the fault; 0: none
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<int>("minimumPackets");
    const QStringList m10 { "--model", "m10" };
    // The 4000 ms wait after "save DRNU", then epc635 packets 10 ms apart.
    QTest::newRow("unplug in the save wait")
        << m10 << 1500 << "unplug"
        << "The camera was removed: the table was not programmed" << 64 << 0;
    QTest::newRow("unplug while programming")
        << m10 << 5500 << "unplug"
        << "The camera was removed: flash programming stopped" << 64 << 21;
    QTest::newRow("closed while programming") << m10 << 5500 << "close"
                                              << "" << 64 << 21;
    QTest::newRow("lost acknowledgement")
        << QStringList { "--model", "m20", "--calib-drop-ack", "5" } << 0 << ""
        << "No acknowledgement from the camera for LUT packet 5 within 1.5 s" << 2048 << 6;
}

void TestCalibrationWindow::programmingInterrupted()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, after);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(int, packetSize);
    QFETCH(int, minimumPackets);
    Rig rig;
    QVERIFY(open(rig, arguments));
    window->setAckTimeout(1500);
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    if (after)
        QTimer::singleShot(
            after, this, [&] { fault == "close" ? void(window->close()) : rig.sim->control(fault); });
    {
        MessageBoxAnswers answers({ QMessageBox::Yes }); // to programming an empty table
        click("pushButtonSaveProg"); // returns after the save wait, and after epc635 programming
        QVERIFY(rig.waitUntil([&] { return !window || !window->isProgramming(); }, 20000));
        QVERIFY(answers.texts().value(0).startsWith("No calibration has finished in this window"));
    }
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    pump(100);
    const int sent = packets(rig, packetSize);
    QVERIFY2(
        sent >= minimumPackets && sent < (packetSize == 64 ? 7360 : 1729), qPrintable(QString::number(sent)));
    if (minimumPackets == 0)
        QCOMPARE(sent, 0);
    QVERIFY(rig.sim->transcript().contains("23 23 0D"));
    QVERIFY(QFileInfo::exists(deviceState().workingDir() + "/DRNU_Lut.c"));
    if (fault == "close") {
        QTRY_VERIFY(!window);
        return;
    }
    QVERIFY2(hasMessage(message), qPrintable(window->messages().join('|')));
    QVERIFY(!window->isProgramming());
    QCOMPARE(window->isReaderConnected(), fault.isEmpty());
}

// What was saved before stays, and the same action works again once there is room.
void TestCalibrationWindow::diskFullWhileSaving()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QVERIFY(!rig.press("pushButtonGetInfo").filter("Working dir created to: ").isEmpty());
    const QString folder = rig.workingDir();
    const QStringList drnuFiles { "DRNU_Image.txt", "DRNU_Lut.c", "DRNU_LutAverage.txt" };
    for (const QString &name : drnuFiles)
        QVERIFY(writeFile(folder + '/' + name, "earlier calibration\n"));
    const QByteArrayList before = snapshot(folder);
    QVERIFY(rig.trigger("DRNU Calibration"));
    QPointer<Calibration> calibration = topLevel<Calibration>();
    QVERIFY(calibration);
    rig.sim->clearTranscript();
    {
        // Save anyway without a sweep; then, the files not written, do not program.
        MessageBoxAnswers answers({ QMessageBox::Yes, QMessageBox::No });
        FileSizeLimit full(100000);
        QVERIFY(full.isActive());
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
        full.lift();
        QCOMPARE(answers.texts().size(), 2);
        QVERIFY(answers.texts().at(1).contains("were not written"));
    }
    const QString message = calibration->messages().last();
    QVERIFY2(message.startsWith("Write drnu") && message.contains("File too large")
            && message.endsWith(" - the table was not programmed"),
        qPrintable(message));
    QCOMPARE(snapshot(folder), before);
    QVERIFY(!rig.sim->transcript().contains("23 23 0D"));

    // With room again the files are written; the window is closed in the wait before programming.
    connect(calibration.data(), &Calibration::messageShown, this, [&](const QString &text) {
        if (text == "Save DRNU calibration file finished")
            QTimer::singleShot(0, calibration.data(), &QWidget::close);
    });
    {
        MessageBoxAnswers answers({ QMessageBox::Yes });
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    // The test runs outside any event loop: deliver the window's deferred deletion.
    QVERIFY(rig.waitUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return calibration.isNull();
        },
        5000));
    pump(100);
    QCOMPARE(
        rig.sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){63}[0-9A-F]{2}$")), QStringList());
    QCOMPARE(filesIn(folder), drnuFiles);
    QVERIFY(QFileInfo(folder + "/DRNU_Image.txt").size() > 100000);
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Lut.c").endsWith("};\n"));
}

QTEST_MAIN(TestCalibrationWindow)
#include "tst_calibration_window.moc"
