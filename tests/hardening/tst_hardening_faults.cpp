// One end-to-end case per fault class, on the real windows against kavrix-sim:
// a full disk (frame log, calibration files), the cable pulled mid-stream. Each ends with a clear message,
// keeps what was saved before, and shows that the same action works again afterwards. The cable pulled
// mid-flash-programming is in tst_calibration_endtoend and tst_calibration_window, mid-firmware-transfer in
// tst_firmware_window.
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/support/WindowTestSupport.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using namespace WindowTest;

namespace {

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Every file of `folder` with its bytes.
QByteArrayList snapshot(const QString &folder)
{
    QByteArrayList files;
    for (const QString &name : filesIn(folder))
        files << name.toLatin1() + ": " + readFile(folder + '/' + name);
    return files;
}

bool created(const QStringList &lines)
{
    return !lines.filter(QStringLiteral("Working dir created to: ")).isEmpty();
}

QStringList reports(const QStringList &lines)
{
    return lines.filter(QRegularExpression("^Log\\d+: "));
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void diskFullWhileLogging();
    void unplugWhileStreaming();
    void diskFullWhileSavingCalibrationFiles();
};

void TestFaults::diskFullWhileLogging()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", "30" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(2));
    QVERIFY(rig.logData().contains("Log1: data and image saved"));
    const QString folder = rig.workingDir();
    const QByteArrayList before = snapshot(folder);
    QStringList lines;
    {
        FileSizeLimit full(16); // not even a PNG header fits
        QVERIFY(full.isActive());
        lines = rig.logData();
    }
    QVERIFY2(lines.contains("Write log file failed") && lines.contains("Save image file failed")
            && lines.last().startsWith("Log2: nothing saved (") && lines.last().contains("File too large"),
        qPrintable(lines.join('|')));
    // The earlier log is untouched and nothing half-written is left behind.
    QCOMPARE(snapshot(folder), before);
    // The stream went on, and with room again the next log is complete.
    QVERIFY(rig.waitFrames(2));
    const QStringList next = reports(rig.logData());
    QCOMPARE(next.size(), 1);
    QVERIFY(next.first().endsWith(": data and image saved"));
    for (const char *suffix : { ".txt", ".pcd", ".png" })
        QVERIFY(QFileInfo(folder + '/' + next.first().section(':', 0, 0) + suffix).size() > 0);
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
    const QStringList next = reports(rig.logData());
    QVERIFY2(next.size() == 1 && next.first().endsWith("data and image saved"), qPrintable(next.join('|')));
}

void TestFaults::diskFullWhileSavingCalibrationFiles()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
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
    pump(100);
    QCOMPARE(
        rig.sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){63}[0-9A-F]{2}$")), QStringList());
    QCOMPARE(filesIn(folder), drnuFiles);
    QVERIFY(QFileInfo(folder + "/DRNU_Image.txt").size() > 100000);
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Lut.c").endsWith("};\n"));
}

QTEST_MAIN(TestFaults)
#include "tst_hardening_faults.moc"
