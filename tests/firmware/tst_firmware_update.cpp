// A whole firmware update as the user makes it: the main window's menu sends
// command 51, the simulated camera re-enumerates as its bootloader, the
// firmware window sends the image, and the simulator's copy must be identical.
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

using namespace WindowTest;

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void updateFromMenu();
    void unplugDuringWait();
    void mainWindowClosedDuringWait();

private:
    static void send(UpdateFirmware *window, const QString &path)
    {
        window->setFileChooser([path] { return path; });
        child<QPushButton>(window, "pushButtonBrowse")->click();
        child<QPushButton>(window, "pushButtonSendFirmware")->click();
    }
};

void TestFirmwareUpdate::updateFromMenu()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--firmware-out", rig.dataPath("received.bin") }));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M10"));
    // The slot waits 1000 ms for the bootloader; chosen again meanwhile, it does nothing more.
    QTimer::singleShot(300, [&] { rig.trigger("Update Firmware"); });
    QVERIFY(rig.trigger("Update Firmware"));
    QPointer<UpdateFirmware> window = topLevel<UpdateFirmware>();
    QVERIFY(window && window->isVisible());
    QCOMPARE(rig.device->deviceType(), quint8(TofDevice::Bootloader));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("Bootloader"));
    rig.trigger("Update Firmware"); // brings the open window forward
    QCOMPARE(QApplication::topLevelWidgets().count(window), 1);
    pump(200);
    QCOMPARE(rig.sim->transcript().count("23 23 33"), 1);

    const QByteArray firmware = FirmwareTest::image(20000, 3);
    QVERIFY(writeFile(rig.dataPath("fw.bin"), firmware));
    send(window, rig.dataPath("fw.bin"));
    QVERIFY(rig.waitUntil([&] { return window.isNull(); }, 30000));
    QVERIFY(rig.sim->waitForEvent("bootloader image-written"));
    QCOMPARE(readFile(rig.dataPath("received.bin")), firmware);
    QVERIFY(takeMessages().isEmpty());
}

void TestFirmwareUpdate::unplugDuringWait()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--firmware-out", rig.dataPath("received.bin") }));
    // The bootloader is back; then its link dies.
    connect(rig.sim.get(), &SimProcess::eventLine, this, [&](const QString &line) {
        if (line.startsWith("plugged"))
            rig.sim->control("hangup 50");
    });
    QVERIFY(rig.trigger("Update Firmware"));
    QPointer<UpdateFirmware> window = topLevel<UpdateFirmware>();
    QVERIFY(window);
    QVERIFY(rig.waitUntil([&] { return !rig.device->serialPort()->isOpen(); }));
    disconnect(rig.sim.get(), &SimProcess::eventLine, this, nullptr);
    QVERIFY(writeFile(rig.dataPath("fw.bin"), FirmwareTest::image(500)));
    send(window, rig.dataPath("fw.bin"));
    QCOMPARE(takeMessages(), QStringList { "No bootloader connected" });
    // Back again, the same window finishes the job.
    QVERIFY(rig.sim->reenumerate("bootloader"));
    QVERIFY(rig.waitType(TofDevice::Bootloader));
    child<QPushButton>(window, "pushButtonSendFirmware")->click();
    QVERIFY(rig.waitUntil([&] { return window.isNull(); }, 30000));
    QVERIFY(rig.sim->waitForEvent("bootloader image-written"));
    QCOMPARE(readFile(rig.dataPath("received.bin")), FirmwareTest::image(500));
}

void TestFirmwareUpdate::mainWindowClosedDuringWait()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QTimer::singleShot(400, [&] { rig.window.reset(); });
    rig.trigger("Update Firmware");
    QVERIFY(!rig.window);
    QVERIFY(!topLevel<UpdateFirmware>()); // nobody is left to open the window for
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmware_update.moc"
