// A whole DRNU calibration against kavrix-sim for both models: the sweep over
// 23 DLL steps of 51 frames, the three files, and the table programmed into
// the camera, which must be the table of DRNU_Lut.c and the one the scene
// predicts. Also the plot window and the calibration window without a camera.
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/calibration/CalibrationTestSupport.h"
#include "tests/support/WindowTestSupport.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <qwt_plot.h>

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
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("pixels");
    QTest::newRow("Kavrix M10") << "m10" << 100 << 9600;
    // Frames of 153604 bytes: a rate the link and the reader sustain.
    QTest::newRow("Kavrix M20") << "m20" << 50 << 76800;
}

void TestCalibrationEndToEnd::calibrate()
{
    QFETCH(QString, model);
    QFETCH(int, fps);
    QFETCH(int, pixels);
    Rig rig;
    const QString simOutput = rig.dataPath("received.txt");
    QVERIFY(
        rig.start({ "--model", model, "--calib-fps", QString::number(fps), "--calib-output", simOutput }));
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

    // Late frames of the last step show their own temperature afterwards.
    QString finishTemperature;
    connect(window, &Calibration::messageShown, this, [&](const QString &text) {
        if (text == "DRNU calibration finished")
            finishTemperature = child<QLineEdit>(window, "lineEditCalibTemp")->text();
    });
    child<QPushButton>(window, "pushButtonRunDRNU")->click();
    QVERIFY(window->sweep().isRunning());
    QVERIFY(!child<QPushButton>(window, "pushButtonSaveProg")->isEnabled());
    QVERIFY(rig.waitUntil([&] { return window->sweep().hasResult(); }, 150000));
    const Expected expected = expectedResult(pixels);
    QCOMPARE(child<QLineEdit>(window, "lineEditBoxOffset")->text(), QString::number(expected.drnuOffset));
    QCOMPARE(finishTemperature, QStringLiteral("41.4 C"));
    QCOMPARE(child<QSpinBox>(window, "spinBoxRenewValue")->value(), 6030);
    QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), 100);
    QVERIFY(window->curveWindow()->isVisible());
    QCOMPARE(window->sweep().dllStepSize, expected.dllStepSize);
    QVERIFY(window->sweep().lutTable == expected.table);
    // Start, one "next DLL step" per closed step, and the stop.
    QVERIFY(rig.sim->waitForTranscript("23 23 03"));
    const QStringList commands = rig.sim->transcript().filter(QRegularExpression("^23 23 [0-9A-F]{2}$"));
    QCOMPARE(commands.count("23 23 09"), 1);
    QCOMPARE(commands.count("23 23 0A"), 23);

    // Save and program: an epc635 window closes itself, an epc660 one stays.
    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    child<QPushButton>(window, "pushButtonSaveProg")->click();
    QVERIFY(rig.waitUntil([&] { return model == "m10" ? window.isNull() : finished.size() == 1; }, 60000));
    if (model == "m20") {
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(window->messages().contains("Send finished!"));
        QCOMPARE(rig.sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){2047}[0-9A-F]{2}$")).size(),
            1729);
    }
    const LutSource source = readLutSource(folder + "/DRNU_Lut.c");
    QVERIFY(source.ok);
    QVERIFY(source.table == expected.table);
    QCOMPARE(source.info,
        QVector<qint32>(
            { 5, 4242, expected.avgChipTemperature, expected.dllStepSize, expected.drnuOffset, 320 }));
    QVERIFY(rig.waitUntil([&] { return rig.sim->events().contains("calib written " + simOutput); }, 20000));
    const SimRecord record = readSimRecord(simOutput);
    QCOMPARE(record.errors, 0);
    QCOMPARE(record.model, model);
    QVERIFY(record.table == source.table);
    // The epc635 gets the offset corrected by the residual mean.
    QCOMPARE(record.info,
        model == "m10" ? QVector<qint32>({ 5, 4242, expected.avgChipTemperature, expected.dllStepSize,
            expected.drnuOffset + expected.residualMean, 320 })
                       : source.info.mid(0, 5));
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Image.txt")
                .startsWith(QByteArray::number(CalibrationScene::trueDistance(0, 0)) + " \n"));
}

void TestCalibrationEndToEnd::withoutCamera()
{
    Rig rig; // no camera in this registry
    TofDevice device;
    QPointer<Calibration> window = new Calibration(&device);
    window->findChild<QPushButton *>("pushButtonRunDRNU")->click();
    QVERIFY(!window->sweep().isRunning());
    QVERIFY(window->messages().last().startsWith("No camera"));
    // renewDRNU on the zeroed table plots the ramp it subtracts.
    window->findChild<QSpinBox *>("spinBoxRenewValue")->setValue(6000);
    window->findChild<QPushButton *>("pushButtonRenewDRNU")->click();
    InfoDRNUCurve *plot = window->curveWindow();
    QVERIFY(plot->isVisible());
    QCOMPARE(plot->meanPoints().at(2), QPointF(2, -1200));
    // Two updates leave 23 points per curve; the temperature is the change since step 0.
    std::array<qint32, 23> means {}, temperatures {};
    for (int s = 0; s < 23; ++s) {
        means[s] = 10 * s - 100;
        temperatures[s] = 640 + 40 * s / 22;
    }
    plot->setCurveData(means, temperatures);
    plot->updateCurve();
    plot->updateCurve();
    QCOMPARE(plot->meanPoints().size(), 23);
    QCOMPARE(plot->meanPoints().last(), QPointF(22, 120));
    QCOMPARE(plot->temperaturePoints().last(), QPointF(22, 40));
    QCOMPARE(plot->plot()->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 3);
    window->show();
    window->close();
    QTRY_VERIFY(window.isNull());
}

QTEST_MAIN(TestCalibrationEndToEnd)
#include "tst_calibration_endtoend.moc"
