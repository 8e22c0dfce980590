// A whole DRNU calibration against kavrix-sim for both models: the sweep over
// 23 DLL steps of 51 frames, the three files, and the table programmed into
// the camera, which must be the table of DRNU_Lut.c and the one the scene
// predicts.
#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/TofDevice.h"
#include "tests/calibration/CalibrationTestSupport.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace CalibrationTest;
using WindowTest::child;

class TestCalibrationEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void kavrixM10();
    void kavrixM20();

private:
    Calibration *openFromMainWindow();
    void startCamera(const QString &model, int fps);
    void runSweep(Calibration *window, int timeoutMs);
    void checkFiles(int pixelCount, int deviceType);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> mainWindow;
    QString folder;
    QString simOutput;
};

void TestCalibrationEndToEnd::initTestCase()
{
    isolateRegistry();
    silenceSweepDebugLines();
}

void TestCalibrationEndToEnd::init()
{
    deviceState() = DeviceState();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(dir->path()));
    folder = dir->filePath(QStringLiteral("log/12000_5_4242"));
    QVERIFY(QDir().mkpath(folder));
    simOutput = dir->filePath(QStringLiteral("received.txt"));
}

void TestCalibrationEndToEnd::cleanup()
{
    // A calibration window takes its plot window with it: collect first.
    QList<QPointer<Calibration>> windows;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *calibration = qobject_cast<Calibration *>(w))
            windows << calibration;
    }
    qDeleteAll(windows);
    mainWindow.reset();
    device.reset();
    sim.reset();
    dir.reset();
}

void TestCalibrationEndToEnd::startCamera(const QString &model, int fps)
{
    QVERIFY(WindowTest::startCamera(
        { "--model", model, "--calib-fps", QString::number(fps), "--calib-output", simOutput }, &sim,
        &device));
}

Calibration *TestCalibrationEndToEnd::openFromMainWindow()
{
    mainWindow = std::make_unique<MainWindow>(device.get());
    // What a device information query would have set.
    DeviceState &state = deviceState();
    state.appDirPath = dir->path();
    state.workingSubdir = QStringLiteral("/log/12000_5_4242");
    state.machineID = 12000;
    state.waferID = 5;
    state.chipID = 4242;

    QAction *open = nullptr;
    for (QAction *action : mainWindow->menuBar()->findChildren<QAction *>()) {
        if (action->text() == QLatin1String("DRNU Calibration"))
            open = action;
    }
    if (!open)
        return nullptr;
    open->trigger();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *calibration = qobject_cast<Calibration *>(w))
            return calibration;
    }
    return nullptr;
}

void TestCalibrationEndToEnd::runSweep(Calibration *window, int timeoutMs)
{
    QVERIFY(window->isVisible());
    QVERIFY(window->isReaderConnected());
    // Late frames of the last step show their own temperature afterwards.
    QString finishTemperature;
    QObject context;
    connect(window, &Calibration::messageShown, &context, [&](const QString &text) {
        if (text == QLatin1String("DRNU calibration finished"))
            finishTemperature = child<QLineEdit>(window, "lineEditCalibTemp")->text();
    });
    child<QPushButton>(window, "pushButtonRunDRNU")->click();
    QVERIFY(window->sweep().isRunning());
    QVERIFY(!child<QPushButton>(window, "pushButtonSaveProg")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(window->sweep().hasResult(), timeoutMs);

    const Expected expected = expectedResult(window->sweep().pixelCount());
    QCOMPARE(child<QLineEdit>(window, "lineEditDllSteps")->text(), QStringLiteral("23"));
    QCOMPARE(child<QLineEdit>(window, "lineEditBoxOffset")->text(), QString::number(expected.drnuOffset));
    QCOMPARE(finishTemperature, QStringLiteral("41.4 C"));
    QCOMPARE(child<QSpinBox>(window, "spinBoxRenewValue")->value(), 6030);
    QCOMPARE(child<QProgressBar>(window, "progressBar")->value(), 100);
    QVERIFY(window->curveWindow()->isVisible());
    QCOMPARE(window->sweep().dllStepSize, expected.dllStepSize);
    QCOMPARE(window->sweep().avgChipTemperature, expected.avgChipTemperature);
    QVERIFY(window->sweep().lutTable == expected.table);

    // Start, one "next DLL step" per closed step, and the stop.
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 03")));
    QStringList commands = sim->transcript().filter(QRegularExpression("^23 23 [0-9A-F]{2}$"));
    QCOMPARE(commands.count("23 23 09"), 1);
    QCOMPARE(commands.count("23 23 0A"), 23);
    QCOMPARE(commands.last(), QStringLiteral("23 23 03"));
}

void TestCalibrationEndToEnd::checkFiles(int pixelCount, int deviceType)
{
    const Expected expected = expectedResult(pixelCount);
    const LutSource source = readLutSource(folder + "/DRNU_Lut.c");
    QVERIFY(source.ok);
    QVERIFY(source.table == expected.table);
    QCOMPARE(source.info,
        QVector<qint32>(
            { 5, 4242, expected.avgChipTemperature, expected.dllStepSize, expected.drnuOffset, 320 }));

    QTRY_VERIFY_WITH_TIMEOUT(sim->events().contains("calib written " + simOutput), 20000);
    const SimRecord record = readSimRecord(simOutput);
    QCOMPARE(record.errors, 0);
    QVERIFY(record.table == source.table);
    if (deviceType == TofDevice::KavrixM10) {
        QCOMPARE(record.model, QStringLiteral("m10"));
        QCOMPARE(record.info,
            QVector<qint32>({ 5, 4242, expected.avgChipTemperature, expected.dllStepSize,
                expected.drnuOffset + expected.residualMean, 320 }));
    } else {
        QCOMPARE(record.model, QStringLiteral("m20"));
        QCOMPARE(record.info, source.info.mid(0, 5));
    }

    QFile average(folder + "/DRNU_LutAverage.txt");
    QVERIFY(average.open(QIODevice::ReadOnly));
    QCOMPARE(average.readAll().count('\n'), 23);
    QFile image(folder + "/DRNU_Image.txt");
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readLine(), QByteArray::number(CalibrationScene::trueDistance(0, 0)) + " \n");
}

void TestCalibrationEndToEnd::kavrixM10()
{
    startCamera("m10", 100);
    Calibration *opened = openFromMainWindow();
    QVERIFY(opened);
    QPointer<Calibration> window(opened);
    runSweep(window, 120000);
    if (QTest::currentTestFailed())
        return;

    // 7360 packets 10 ms apart, then the window closes itself.
    child<QPushButton>(window, "pushButtonSaveProg")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window, 20000);
    QVERIFY(sim->events().contains("calib save"));
    checkFiles(9600, TofDevice::KavrixM10);
    if (QTest::currentTestFailed())
        return;

    // The firmware's view: DRNU_Lut.c compiles against its header and holds the same values.
    const QString cc = QStandardPaths::findExecutable(QStringLiteral("cc"));
    if (cc.isEmpty())
        QSKIP("no system C compiler");
    QFile header(folder + "/epc635.h");
    QVERIFY(header.open(QIODevice::WriteOnly));
    header.write("#define DRNU_DLL_NUM 23\n#define IMAGE_RESOLUTION 9600\n#define DRNU_LUT_INFO_NUM 6\n"
                 "typedef short int16_t;\n");
    header.close();
    QFile main(folder + "/main.c");
    QVERIFY(main.open(QIODevice::WriteOnly));
    main.write("#include <stdio.h>\n#include \"DRNU_Lut.c\"\n"
               "int main(void) {\n  unsigned long sum = 0;\n"
               "  for (int s = 0; s < DRNU_DLL_NUM; ++s)\n"
               "    for (int p = 0; p < IMAGE_RESOLUTION; ++p) sum = sum * 31u + (unsigned "
               "long)DRNU_LUT_DATA[s][p];\n"
               "  printf(\"%lu %d\\n\", sum, DRNU_LUT_INFO[5]);\n  return 0;\n}\n");
    main.close();
    QProcess compile;
    compile.setWorkingDirectory(folder);
    compile.start(cc, { "-std=c99", "-O0", "main.c", "-o", "lut" });
    QVERIFY(compile.waitForFinished(120000));
    QVERIFY2(compile.exitCode() == 0, compile.readAllStandardError().constData());
    QProcess run;
    run.start(folder + "/lut", QStringList());
    QVERIFY(run.waitForFinished(10000));
    // Unsigned: the hash is meant to wrap around.
    quint64 sum = 0;
    for (qint32 v : expectedResult(9600).table)
        sum = sum * 31u + quint64(qint64(v));
    QCOMPARE(QString::fromLatin1(run.readAllStandardOutput()).trimmed(), QStringLiteral("%1 320").arg(sum));
}

void TestCalibrationEndToEnd::kavrixM20()
{
    // 23 steps of 51 frames, each 153604 bytes: a rate the link and the reader sustain.
    startCamera("m20", 50);
    Calibration *opened = openFromMainWindow();
    QVERIFY(opened);
    QPointer<Calibration> window(opened);
    runSweep(window, 150000);
    if (QTest::currentTestFailed())
        return;

    QSignalSpy finished(window.data(), &Calibration::programmingFinished);
    child<QPushButton>(window, "pushButtonSaveProg")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(window->messages().contains(QStringLiteral("Send finished!")));
    QCOMPARE(child<QProgressBar>(window, "progressBarSaveProg")->value(), 100);
    // The window stays open after an epc660 transfer.
    QVERIFY(window->isVisible());
    const QStringList packets
        = sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){2047}[0-9A-F]{2}$"));
    QCOMPARE(packets.size(), 1729);
    checkFiles(76800, TofDevice::KavrixM20);
}

QTEST_MAIN(TestCalibrationEndToEnd)
#include "tst_calibration_endtoend.moc"
