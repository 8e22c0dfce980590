// A whole DRNU calibration against kavrix-sim for both models: the sweep over
// 23 DLL steps of 51 frames, the three files, and the table programmed into
// the camera, which must be the table of DRNU_Lut.c and the one the scene
// predicts. On the epc660 the cable is pulled mid-programming first. Also the
// plot window and the calibration window without a camera.
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/calibration/CalibrationTestSupport.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using namespace CalibrationTest;
using namespace WindowTest;

class TestCalibrationEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { silenceSweepDebugLines(); }
    void calibrate_data();
    void calibrate();
    void withoutCamera();
};

void TestCalibrationEndToEnd::calibrate_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("pixels");
    QTest::newRow("Kavrix M10") << "m10" << 9600;
    QTest::newRow("Kavrix M20") << "m20" << 76800;
}

void TestCalibrationEndToEnd::calibrate()
{
    QFETCH(QString, model);
    QFETCH(int, pixels);
    Rig rig;
    const QString simOutput = rig.dataPath("received.txt");
    // As fast as the link goes: the camera skips frames the application has not read.
    QVERIFY(rig.start({ "--model", model, "--calib-fps", "1000", "--calib-output", simOutput }));
    // What a device information query would have set.
    DeviceState &state = deviceState();
    state.appDirPath = rig.data->path();
    state.workingSubdir = "/log/12000_5_4242";
    state.waferID = 5;
    state.chipID = 4242;
    const QString folder = rig.workingDir();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(rig.trigger("DRNU Calibration"));
    QPointer<Calibration> window = topLevel<Calibration>();
    QVERIFY(window && window->isVisible() && window->isReaderConnected());
    window->setPacketPacing(1); // the simulated camera takes a packet at once

    // Late frames of the last step show their own temperature afterwards.
    QString finishTemperature;
    connect(window, &Calibration::messageShown, this, [&](const QString &text) {
        if (text == "DRNU calibration finished")
            finishTemperature = child<QLineEdit>(window, "lineEditCalibTemp")->text();
    });
    auto *save = child<QPushButton>(window, "pushButtonSaveProg");
    child<QPushButton>(window, "pushButtonRunDRNU")->click();
    QVERIFY(window->sweep().isRunning() && !save->isEnabled());
    QVERIFY(rig.waitUntil([&] { return window->sweep().hasResult(); }, 150000));
    const Expected expected = expectedResult(pixels);
    QCOMPARE(child<QLineEdit>(window, "lineEditBoxOffset")->text(), QString::number(expected.drnuOffset));
    QCOMPARE(finishTemperature, QStringLiteral("41.4 C"));
    QCOMPARE(child<QSpinBox>(window, "spinBoxRenewValue")->value(), 6030);
    QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), 100);
    QVERIFY(window->curveWindow()->isVisible());
    QVERIFY(window->sweep().lutTable == expected.table);
    // Start, one "next DLL step" per closed step, and the stop.
    QVERIFY(rig.sim->waitForTranscript("23 23 03"));
    const QStringList commands = rig.sim->transcript().filter(QRegularExpression("^23 23 [0-9A-F]{2}$"));
    QCOMPARE(commands.count("23 23 09"), 1);
    QCOMPARE(commands.count("23 23 0A"), 23);

    // Save and program: an epc635 window closes itself, an epc660 one stays.
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    save->click(); // returns after the save wait, and after epc635 programming
    if (model == "m20") {
        auto *progress = child<QProgressBar>(window, "progressBarSaveProg");
        QVERIFY(rig.waitUntil([&] { return progress->value() >= 20 || !finished.isEmpty(); }, 60000));
        QVERIFY(finished.isEmpty() && rig.sim->unplug());
        QVERIFY(rig.waitUntil([&] { return finished.size() == 1; }));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(window->messages().last(),
            QStringLiteral(
                "The camera was removed: flash programming stopped, the camera's table is incomplete"));
        QVERIFY(!window->isProgramming() && !window->isReaderConnected());
        // Back again: the table goes out once more from its first packet.
        QVERIFY(rig.sim->plug() && rig.waitType(TofDevice::KavrixM20));
        QVERIFY(rig.waitUntil([&] { return window->isReaderConnected(); }));
        rig.sim->clearTranscript();
        save->click();
        QVERIFY(rig.waitUntil([&] { return finished.size() == 2; }, 60000));
        QCOMPARE(finished.last().first().toBool(), true);
        QVERIFY(window->messages().contains("Send finished!"));
        QCOMPARE(rig.sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){2047}[0-9A-F]{2}$")).size(),
            1729);
    } else {
        QVERIFY(rig.waitUntil([&] { return window.isNull(); }, 60000));
    }
    const QByteArray lut = readFile(folder + "/DRNU_Lut.c");
    QVERIFY(numbers(lut, "[IMAGE_RESOLUTION] = {") == expected.table);
    const QVector<qint32> info { 5, 4242, expected.avgChipTemperature, CalibrationScene::TrueStep,
        expected.drnuOffset, 320 };
    QCOMPARE(numbers(lut, "[DRNU_LUT_INFO_NUM] = {"), info);
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Image.txt")
                .startsWith(QByteArray::number(CalibrationScene::trueDistance(0, 0)) + " \n"));
    // The epc635 gets the offset corrected by the residual mean, the epc660 no box length.
    QVERIFY(rig.sim->waitForEvent("calib written " + simOutput, 20000));
    QVector<qint32> sent = info;
    if (model == "m10")
        sent[4] += expected.residualMean;
    else
        sent.removeLast();
    QVERIFY(readFile(simOutput) == simRecord(model, sent, expected.table));
}

void TestCalibrationEndToEnd::withoutCamera()
{
    Rig rig; // no camera in this registry
    TofDevice device;
    QPointer<Calibration> window = new Calibration(&device);
    child<QPushButton>(window, "pushButtonRunDRNU")->click();
    QVERIFY(!window->sweep().isRunning());
    QVERIFY(window->messages().last().startsWith("No camera"));
    // renewDRNU on the zeroed table plots the ramp it subtracts.
    child<QSpinBox>(window, "spinBoxRenewValue")->setValue(6000);
    child<QPushButton>(window, "pushButtonRenewDRNU")->click();
    InfoDRNUCurve *plot = window->curveWindow();
    QVERIFY(plot->isVisible());
    QCOMPARE(plot->meanPoints().at(2), QPointF(2, -1200));
    // The curves after a sweep: the temperature is the change since step 0.
    std::array<qint32, 23> means {}, temperatures {};
    for (int s = 0; s < 23; ++s)
        temperatures[s] = 640 + 40 * s / 22;
    plot->setCurveData(means, temperatures);
    plot->updateCurve();
    plot->updateCurve(); // replaces the points instead of adding to them
    QCOMPARE(plot->meanPoints().size(), 23);
    QCOMPARE(plot->temperaturePoints().last(), QPointF(22, 40));
    window->show();
    window->close();
    QTRY_VERIFY(window.isNull());
}

QTEST_MAIN(TestCalibrationEndToEnd)
#include "tst_calibration_endtoend.moc"
