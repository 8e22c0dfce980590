// Fault injection across features, end to end: the real main window and tool
// windows against kavrix-sim while the cable is pulled, the disk fills up or
// the log folder cannot exist. Each case ends with a clear message in the
// window's own report channel, keeps what was saved before, and shows that the
// application still works afterwards (replug, the same action again).
//
// Cases covered elsewhere at the same depth are not repeated here:
// unplug while streaming (tests/frames tst_liveview, tests/app
// tst_app_mainwindow, and the soak), during the device-information wait
// (tests/deviceinfo tst_deviceinfo_query), during a calibration sweep, the
// 4000 ms save wait and "Kavrix M10" programming (tests/calibration
// tst_calibration_window), during the 1000 ms firmware wait (tests/firmware
// tst_firmware_update), a firmware file removed after "Browse" (tests/firmware
// tst_firmware_window).

#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/TofDevice.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/SimProcess.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Hardening;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

const QStringList DrnuFiles { "DRNU_Image.txt", "DRNU_Lut.c", "DRNU_LutAverage.txt" };

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void logFolderCannotBeCreated();
    void diskFullWhileLogging();
    void diskFullWhileSavingCalibrationFiles();
    void unplugDuringM20FlashProgramming();
    void unplugDuringFirmwareTransferThenRetry();

private:
    void startCamera(const QString &model, const QStringList &extra = {});
    QPushButton *button(const char *name) const { return child<QPushButton>(window.get(), name); }
    // Presses "getInfo" (the working folder is created then) and returns the lines it added.
    QStringList readDeviceInfo();
    // Presses "Log Data" and returns the lines added until the log was reported (or refused).
    QStringList logData(int frameTimeoutMs = 10000);
    Calibration *openCalibration();
    bool waitForType(quint8 type)
    {
        return waitUntil([&] { return device->deviceType() == type; }, 5000);
    }

    std::unique_ptr<QTemporaryDir> dataDir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> frames;
};

void TestFaults::initTestCase()
{
    isolateRegistry();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestFaults::init()
{
    deviceState() = DeviceState();
    dataDir = std::make_unique<QTemporaryDir>();
    QVERIFY(dataDir->isValid());
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(dataDir->path()));
}

void TestFaults::cleanup()
{
    // A calibration window deletes its curve window with it: collect first.
    QList<QPointer<QWidget>> tools;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Calibration *>(w) || qobject_cast<UpdateFirmware *>(w))
            tools << w;
    }
    for (const QPointer<QWidget> &w : qAsConst(tools))
        delete w.data();
    FirmwareTest::takeMessages();
    frames.reset();
    window.reset();
    device.reset();
    sim.reset();
    dataDir.reset();
}

void TestFaults::startCamera(const QString &model, const QStringList &extra)
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start(QStringList { "--model", model } + extra));
    device = std::make_unique<TofDevice>();
    window = std::make_unique<MainWindow>(device.get());
    window->show();
    frames = std::make_unique<QSignalSpy>(window.get(), &MainWindow::pictureReady);
}

QStringList TestFaults::readDeviceInfo()
{
    const int before = infoLines(window.get()).size();
    button("pushButtonGetInfo")->click();
    return infoLines(window.get()).mid(before);
}

QStringList TestFaults::logData(int frameTimeoutMs)
{
    static const QRegularExpression report(QStringLiteral("^Log\\d+: "));
    const int before = infoLines(window.get()).size();
    button("pushButtonLogData")->click();
    waitUntil(
        [&] {
            const QStringList added = infoLines(window.get()).mid(before);
            return !added.filter(report).isEmpty() || added.contains(QStringLiteral("Open log file failed"));
        },
        frameTimeoutMs);
    return infoLines(window.get()).mid(before);
}

Calibration *TestFaults::openCalibration()
{
    for (QAction *action : window->menuBar()->findChildren<QAction *>()) {
        if (action->text() == QLatin1String("DRNU Calibration")) {
            action->trigger();
            return topLevel<Calibration>();
        }
    }
    return nullptr;
}

void TestFaults::logFolderCannotBeCreated()
{
    // The data folder lies below a regular file: nothing can be created there, not even by root.
    const QString blocker = dataDir->filePath("blocker");
    QVERIFY(FirmwareTest::writeFile(blocker, "not a folder"));
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(blocker + "/data"));
    startCamera("m10", { "--fps", "30" });

    QVERIFY(!readDeviceInfo().filter(QStringLiteral("Working dir could not be created: ")).isEmpty());
    button("pushButtonStart")->click();
    QVERIFY(waitUntil([&] { return frames->size() >= 2; }));

    QStringList lines = logData(3000);
    QCOMPARE(lines.value(0), QStringLiteral("Open log file failed"));
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("Log folder "))
            && lines.value(1).contains("the frame is not logged"),
        qPrintable(lines.join('|')));
    // Nothing is left pending: the frames that follow report nothing, and the stream goes on.
    const int shown = frames->size();
    QVERIFY(waitUntil([&] { return frames->size() >= shown + 3; }));
    QCOMPARE(infoLines(window.get()).filter(QRegularExpression("^Log\\d+: ")).size(), 0);

    // The user makes room for the folder and reads the device information again, still streaming.
    QVERIFY(QFile::remove(blocker));
    QVERIFY(QDir().mkpath(blocker));
    QVERIFY(!readDeviceInfo().filter(QStringLiteral("Working dir created to: ")).isEmpty());
    lines = logData();
    QVERIFY2(lines.contains(QStringLiteral("Log1: data and image saved")), qPrintable(lines.join('|')));
    QCOMPARE(filesIn(deviceState().workingDir()), (QStringList { "Log1.pcd", "Log1.png", "Log1.txt" }));
}

void TestFaults::diskFullWhileLogging()
{
    startCamera("m10", { "--fps", "30" });
    QVERIFY(!readDeviceInfo().filter(QStringLiteral("Working dir created to: ")).isEmpty());
    button("pushButtonStart")->click();
    QVERIFY(waitUntil([&] { return frames->size() >= 2; }));
    QStringList lines = logData();
    QVERIFY2(lines.contains(QStringLiteral("Log1: data and image saved")), qPrintable(lines.join('|')));
    const QString folder = deviceState().workingDir();
    const QStringList saved = filesIn(folder);
    QCOMPARE(saved, (QStringList { "Log1.pcd", "Log1.png", "Log1.txt" }));
    QMap<QString, QByteArray> before;
    for (const QString &name : saved)
        before[name] = readAll(folder + '/' + name);

    {
        // Not even a PNG header fits.
        FileSizeLimit full(16);
        QVERIFY(full.isActive());
        lines = logData();
    }
    QVERIFY2(lines.contains(QStringLiteral("Write log file failed")), qPrintable(lines.join('|')));
    QVERIFY2(lines.contains(QStringLiteral("Save image file failed")), qPrintable(lines.join('|')));
    QVERIFY2(lines.last().startsWith(QStringLiteral("Log2: nothing saved (")), qPrintable(lines.last()));
    QVERIFY(lines.last().contains(QStringLiteral("File too large")));
    QVERIFY(lines.filter(QStringLiteral("data and image saved")).isEmpty());

    // The earlier log is untouched and nothing half-written is left behind.
    QCOMPARE(filesIn(folder), saved);
    for (const QString &name : saved)
        QVERIFY2(readAll(folder + '/' + name) == before[name], qPrintable(name));

    // The stream went on, and with room again the next log is complete.
    const int shown = frames->size();
    QVERIFY(waitUntil([&] { return frames->size() >= shown + 2; }));
    lines = logData();
    const QStringList reports = lines.filter(QRegularExpression("^Log\\d+: "));
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.first().endsWith(QStringLiteral(": data and image saved")), qPrintable(reports.first()));
    const QString name = reports.first().section(':', 0, 0);
    for (const char *suffix : { ".txt", ".pcd", ".png" })
        QVERIFY2(QFileInfo(folder + '/' + name + suffix).size() > 0, qPrintable(name + suffix));
}

void TestFaults::diskFullWhileSavingCalibrationFiles()
{
    startCamera("m10");
    QVERIFY(!readDeviceInfo().filter(QStringLiteral("Working dir created to: ")).isEmpty());
    const QString folder = deviceState().workingDir();
    // The files of an earlier calibration.
    for (const QString &name : DrnuFiles)
        QVERIFY(
            FirmwareTest::writeFile(folder + '/' + name, "earlier calibration: " + name.toLatin1() + '\n'));
    const QStringList earlier = filesIn(folder);

    QPointer<Calibration> calibration = openCalibration();
    QVERIFY(calibration);
    sim->clearTranscript();
    {
        // Save anyway without a sweep; then, the files not written, do not program.
        ModalAnswers answers({ QMessageBox::Yes, QMessageBox::No });
        FileSizeLimit full(100000);
        QVERIFY(full.isActive());
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
        full.lift();
        QCOMPARE(answers.texts().size(), 2);
        QVERIFY2(answers.texts().at(1).contains(QStringLiteral("were not written")),
            qPrintable(answers.texts().at(1)));
    }
    QVERIFY(calibration);
    const QString message = calibration->messages().last();
    QVERIFY2(message.startsWith(QStringLiteral("Write drnu"))
            && message.contains(QStringLiteral("File too large"))
            && message.endsWith(QStringLiteral(" - the table was not programmed")),
        qPrintable(message));
    // The earlier files are as they were, no temporary file is left, the camera was told nothing.
    QCOMPARE(filesIn(folder), earlier);
    for (const QString &name : DrnuFiles)
        QCOMPARE(readAll(folder + '/' + name), "earlier calibration: " + name.toLatin1() + '\n');
    QVERIFY(!sim->transcript().contains(QStringLiteral("23 23 0D")));
    QVERIFY(child<QPushButton>(calibration, "pushButtonSaveProg")->isEnabled());

    // With room again the files are written; the user closes the window before the table goes out.
    connect(calibration.data(), &Calibration::messageShown, this, [&](const QString &text) {
        if (text.startsWith(QStringLiteral("Save DRNU calibration file finished")))
            QTimer::singleShot(0, calibration.data(), &QWidget::close);
    });
    {
        ModalAnswers answers({ QMessageBox::Yes });
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    // The test function runs outside any event loop: deliver the window's deferred deletion.
    QVERIFY2(waitUntil(
                 [&] {
                     QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                     return calibration.isNull();
                 },
                 5000),
        qPrintable(calibration ? calibration->messages().join('|') : QString()));
    QCOMPARE(filesIn(folder), earlier);
    QVERIFY(QFileInfo(folder + "/DRNU_Image.txt").size() > 100000);
    QVERIFY(QFileInfo(folder + "/DRNU_Lut.c").size() > 100000);
    QCOMPARE(readAll(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readAll(folder + "/DRNU_Lut.c").endsWith("};\n"));
}

void TestFaults::unplugDuringM20FlashProgramming()
{
    const QString received = dataDir->filePath("received.txt");
    startCamera("m20", { "--calib-output", received });
    QVERIFY(!readDeviceInfo().filter(QStringLiteral("Working dir created to: ")).isEmpty());
    const QString folder = deviceState().workingDir();
    QPointer<Calibration> calibration = openCalibration();
    QVERIFY(calibration);
    auto *progress = child<QProgressBar>(calibration, "progressBarSaveProg");

    QSignalSpy finished(calibration.data(), &Calibration::programmingFinished);
    {
        ModalAnswers answers({ QMessageBox::Yes });
        // Returns once the 4000 ms wait is over and the first packet is out.
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    QVERIFY(calibration->isProgramming());
    QVERIFY(waitUntil([&] { return progress->value() >= 20 || !finished.isEmpty(); }, 60000));
    QVERIFY(finished.isEmpty());
    QVERIFY(sim->unplug());
    QVERIFY(waitForType(TofDevice::NoDevice));

    QVERIFY(calibration);
    QCOMPARE(calibration->messages().last(),
        QStringLiteral(
            "The camera was removed: flash programming stopped, the camera's table is incomplete"));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!calibration->isProgramming());
    QVERIFY(!calibration->isReaderConnected());
    // The files saved before programming stay complete.
    QMap<QString, qint64> sizes;
    for (const QString &name : DrnuFiles)
        sizes[name] = QFileInfo(folder + '/' + name).size();
    QVERIFY(sizes["DRNU_Image.txt"] > 1000000);
    QVERIFY(sizes["DRNU_Lut.c"] > 1000000);
    QCOMPARE(readAll(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readAll(folder + "/DRNU_Lut.c").endsWith("};\n"));
    QVERIFY(child<QPushButton>(calibration, "pushButtonSaveProg")->isEnabled());

    // Back again: programming the table once more goes through to the end.
    QVERIFY(sim->plug());
    QVERIFY(waitForType(TofDevice::KavrixM20));
    QVERIFY(waitUntil([&] { return calibration->isReaderConnected(); }, 3000));
    {
        ModalAnswers answers({ QMessageBox::Yes });
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    QVERIFY(waitUntil([&] { return finished.size() == 2; }, 120000));
    QCOMPARE(finished.last().first().toBool(), true);
    QVERIFY(calibration->messages().contains(QStringLiteral("Send finished!")));
    QVERIFY(sim->waitForEvent(QStringLiteral("calib lut done 1766400 0"), 10000));
    for (const QString &name : DrnuFiles)
        QCOMPARE(QFileInfo(folder + '/' + name).size(), sizes[name]);
}

void TestFaults::unplugDuringFirmwareTransferThenRetry()
{
    const QString received = dataDir->filePath("received.bin");
    startCamera("bootloader", { "--firmware-out", received, "--boot-reply-delay", "10" });
    QVERIFY(waitForType(TofDevice::Bootloader));
    QCOMPARE(child<QLabel>(window.get(), "label_Device")->text(), QStringLiteral("Bootloader"));

    QPointer<UpdateFirmware> firmware = new UpdateFirmware(device.get());
    firmware->connectReader();
    firmware->show();
    // The window learns of a lost link when a reply is overdue.
    firmware->setReplyTimeout(1000);
    const QString path = dataDir->filePath("fw.bin");
    const QByteArray image = FirmwareTest::image(49152, 9);
    QVERIFY(FirmwareTest::writeFile(path, image));
    firmware->setFileChooser([path] { return path; });
    child<QPushButton>(firmware, "pushButtonBrowse")->click();
    child<QPushButton>(firmware, "pushButtonSendFirmware")->click();
    QVERIFY(sim->waitForEvent(QStringLiteral("bootloader packet 20"), 20000));
    QVERIFY(sim->unplug());

    const QStringList messages = FirmwareTest::waitForMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(
        messages.first().endsWith(QStringLiteral("firmware update stopped")), qPrintable(messages.first()));
    QVERIFY(firmware);
    QVERIFY(!firmware->isTransferRunning());
    QVERIFY(!QFile::exists(received));

    // Plugged in again, the same window sends the whole image.
    QVERIFY(sim->plug());
    QVERIFY(waitForType(TofDevice::Bootloader));
    child<QPushButton>(firmware, "pushButtonSendFirmware")->click();
    QVERIFY(waitUntil([&] { return firmware.isNull(); }, 60000));
    QVERIFY(sim->waitForEvent(QStringLiteral("bootloader image-written"), 5000));
    QCOMPARE(FirmwareTest::readFile(received), image);
}

QTEST_MAIN(TestFaults)
#include "tst_hardening_faults.moc"
