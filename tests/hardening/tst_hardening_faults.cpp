// One end-to-end case per fault class, on the real windows against kavrix-sim:
// a log folder that cannot exist, a full disk (frame log, calibration files),
// the cable pulled mid-stream, mid-flash-programming and mid-firmware-transfer.
// Each ends with a clear message, keeps what was saved before, and shows that
// the same action works again afterwards.
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/support/WindowTestSupport.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using namespace WindowTest;

namespace {

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

const QStringList DrnuFiles { "DRNU_Image.txt", "DRNU_Lut.c", "DRNU_LutAverage.txt" };
const QStringList Log1 { "Log1.pcd", "Log1.png", "Log1.txt" };

bool created(const QStringList &lines)
{
    return !lines.filter(QStringLiteral("Working dir created to: ")).isEmpty();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void logFolderCannotBeCreated();
    void diskFullWhileLogging();
    void unplugWhileStreaming();
    void diskFullWhileSavingCalibrationFiles();
    void unplugDuringM20FlashProgramming();
    void unplugDuringFirmwareTransferThenRetry();
};

void TestFaults::logFolderCannotBeCreated()
{
    Rig rig;
    // The data folder lies below a regular file: nothing can be created there, not even by root.
    const QString blocker = rig.dataPath("blocker");
    QVERIFY(writeFile(blocker, "not a folder"));
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(blocker + "/data"));
    QVERIFY(rig.start({ "--model", "m10", "--fps", "30" }));
    QVERIFY(!rig.press("pushButtonGetInfo").filter("Working dir could not be created: ").isEmpty());
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(2));

    QStringList lines = rig.logData(3000);
    QCOMPARE(lines.value(0), QStringLiteral("Open log file failed"));
    QVERIFY2(lines.value(1).startsWith("Log folder ") && lines.value(1).contains("the frame is not logged"),
        qPrintable(lines.join('|')));
    // Nothing is left pending: the frames that follow report nothing.
    QVERIFY(rig.waitFrames(3));
    QCOMPARE(rig.lines().filter(QRegularExpression("^Log\\d+: ")).size(), 0);

    // Room for the folder, the device information again, still streaming.
    QVERIFY(QFile::remove(blocker) && QDir().mkpath(blocker));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    lines = rig.logData();
    QVERIFY2(lines.contains("Log1: data and image saved"), qPrintable(lines.join('|')));
    QCOMPARE(filesIn(rig.workingDir()), Log1);
}

void TestFaults::diskFullWhileLogging()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", "30" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(2));
    QStringList lines = rig.logData();
    QVERIFY2(lines.contains("Log1: data and image saved"), qPrintable(lines.join('|')));
    const QString folder = rig.workingDir();
    QCOMPARE(filesIn(folder), Log1);
    QMap<QString, QByteArray> before;
    for (const QString &name : Log1)
        before[name] = readFile(folder + '/' + name);
    {
        FileSizeLimit full(16); // not even a PNG header fits
        QVERIFY(full.isActive());
        lines = rig.logData();
    }
    QVERIFY2(lines.contains("Write log file failed") && lines.contains("Save image file failed"),
        qPrintable(lines.join('|')));
    QVERIFY2(lines.last().startsWith("Log2: nothing saved (") && lines.last().contains("File too large"),
        qPrintable(lines.last()));
    // The earlier log is untouched and nothing half-written is left behind.
    QCOMPARE(filesIn(folder), Log1);
    for (const QString &name : Log1)
        QVERIFY2(readFile(folder + '/' + name) == before[name], qPrintable(name));
    // The stream went on, and with room again the next log is complete.
    QVERIFY(rig.waitFrames(2));
    const QStringList reports = rig.logData().filter(QRegularExpression("^Log\\d+: "));
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.first().endsWith(": data and image saved"), qPrintable(reports.first()));
    for (const char *suffix : { ".txt", ".pcd", ".png" })
        QVERIFY(QFileInfo(folder + '/' + reports.first().section(':', 0, 0) + suffix).size() > 0);
}

void TestFaults::unplugWhileStreaming()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m20", "--fps", "30" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(3));
    // A log requested just before the cable goes is never fulfilled by anything but a frame.
    rig.click("pushButtonLogData");
    QVERIFY(rig.sim->hangup(100));
    QVERIFY(rig.waitType(TofDevice::NoDevice));
    QCOMPARE(deviceState().isStreaming, 0);
    QVERIFY(!rig.find<QPushButton>("pushButtonStart")->isEnabled());
    const int shown = rig.frames->size();
    pump(200);
    QCOMPARE(rig.frames->size(), shown);

    QVERIFY(rig.sim->plug());
    QVERIFY(rig.waitType(TofDevice::KavrixM20));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    rig.sim->clearTranscript();
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(3));
    QVERIFY(rig.sim->transcript().contains("23 23 02"));
    const QStringList reports = rig.logData().filter(QRegularExpression("^Log\\d+: "));
    QVERIFY2(reports.size() == 1 && reports.first().endsWith("data and image saved"),
        qPrintable(reports.join('|')));
}

void TestFaults::diskFullWhileSavingCalibrationFiles()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    const QString folder = rig.workingDir();
    for (const QString &name : DrnuFiles)
        QVERIFY(writeFile(folder + '/' + name, "earlier calibration: " + name.toLatin1() + '\n'));
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
        QVERIFY2(answers.texts().at(1).contains("were not written"), qPrintable(answers.texts().at(1)));
    }
    const QString message = calibration->messages().last();
    QVERIFY2(message.startsWith("Write drnu") && message.contains("File too large")
            && message.endsWith(" - the table was not programmed"),
        qPrintable(message));
    for (const QString &name : DrnuFiles)
        QCOMPARE(readFile(folder + '/' + name), "earlier calibration: " + name.toLatin1() + '\n');
    QCOMPARE(filesIn(folder), DrnuFiles);
    QVERIFY(!rig.sim->transcript().contains("23 23 0D"));

    // With room again the files are written; the window closes before the table goes out.
    connect(calibration.data(), &Calibration::messageShown, this, [&](const QString &text) {
        if (text.startsWith("Save DRNU calibration file finished"))
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
    QCOMPARE(filesIn(folder), DrnuFiles);
    QVERIFY(QFileInfo(folder + "/DRNU_Image.txt").size() > 100000);
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Lut.c").endsWith("};\n"));
}

void TestFaults::unplugDuringM20FlashProgramming()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m20", "--calib-output", rig.dataPath("received.txt") }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    const QString folder = rig.workingDir();
    QVERIFY(rig.trigger("DRNU Calibration"));
    QPointer<Calibration> calibration = topLevel<Calibration>();
    QVERIFY(calibration);
    auto *progress = child<QProgressBar>(calibration, "progressBarSaveProg");
    QSignalSpy finished(calibration.data(), &Calibration::programmingFinished);
    {
        MessageBoxAnswers answers({ QMessageBox::Yes });
        // Returns once the 4000 ms wait is over and the first packet is out.
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    QVERIFY(calibration->isProgramming());
    QVERIFY(rig.waitUntil([&] { return progress->value() >= 20 || !finished.isEmpty(); }, 60000));
    QVERIFY(finished.isEmpty());
    QVERIFY(rig.sim->unplug());
    QVERIFY(rig.waitType(TofDevice::NoDevice));

    QVERIFY(calibration);
    QCOMPARE(calibration->messages().last(),
        QStringLiteral(
            "The camera was removed: flash programming stopped, the camera's table is incomplete"));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!calibration->isProgramming() && !calibration->isReaderConnected());
    // The files saved before programming stay complete.
    QMap<QString, qint64> sizes;
    for (const QString &name : DrnuFiles)
        sizes[name] = QFileInfo(folder + '/' + name).size();
    QVERIFY(sizes["DRNU_Lut.c"] > 1000000);
    QVERIFY(readFile(folder + "/DRNU_Lut.c").endsWith("};\n"));

    // Back again: programming the table once more goes through to the end.
    QVERIFY(rig.sim->plug());
    QVERIFY(rig.waitType(TofDevice::KavrixM20));
    QVERIFY(rig.waitUntil([&] { return calibration->isReaderConnected(); }, 3000));
    {
        MessageBoxAnswers answers({ QMessageBox::Yes });
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    QVERIFY(rig.waitUntil([&] { return finished.size() == 2; }, 120000));
    QCOMPARE(finished.last().first().toBool(), true);
    QVERIFY(calibration->messages().contains("Send finished!"));
    QVERIFY(rig.sim->waitForEvent("calib lut done 1766400 0", 10000));
    for (const QString &name : DrnuFiles)
        QCOMPARE(QFileInfo(folder + '/' + name).size(), sizes[name]);
}

void TestFaults::unplugDuringFirmwareTransferThenRetry()
{
    Rig rig;
    const QString received = rig.dataPath("received.bin");
    rig.start({ "--model", "bootloader", "--firmware-out", received, "--boot-reply-delay", "10" });
    QVERIFY(rig.waitType(TofDevice::Bootloader));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("Bootloader"));

    QPointer<UpdateFirmware> firmware = new UpdateFirmware(rig.device.get());
    firmware->connectReader();
    firmware->show();
    firmware->setReplyTimeout(1000); // a lost link shows as an overdue reply
    const QString path = rig.dataPath("fw.bin");
    const QByteArray image = FirmwareTest::image(49152, 9);
    QVERIFY(writeFile(path, image));
    firmware->setFileChooser([path] { return path; });
    child<QPushButton>(firmware, "pushButtonBrowse")->click();
    child<QPushButton>(firmware, "pushButtonSendFirmware")->click();
    QVERIFY(rig.sim->waitForEvent("bootloader packet 20", 20000));
    QVERIFY(rig.sim->unplug());

    const QStringList messages = waitForMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.first().endsWith("firmware update stopped"), qPrintable(messages.first()));
    QVERIFY(firmware && !firmware->isTransferRunning());
    QVERIFY(!QFile::exists(received));

    // Plugged in again, the same window sends the whole image.
    QVERIFY(rig.sim->plug());
    QVERIFY(rig.waitType(TofDevice::Bootloader));
    child<QPushButton>(firmware, "pushButtonSendFirmware")->click();
    QVERIFY(rig.waitUntil([&] { return firmware.isNull(); }, 60000));
    QVERIFY(rig.sim->waitForEvent("bootloader image-written", 5000));
    QCOMPARE(readFile(received), image);
}

QTEST_MAIN(TestFaults)
#include "tst_hardening_faults.moc"
