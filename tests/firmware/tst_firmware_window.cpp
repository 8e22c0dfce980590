// The firmware window against a simulated bootloader (the packets themselves
// are in tst_firmware_protocol): one case per way a transfer is interrupted,
// each followed by a retry that completes; loading and encrypting files; and
// the whole update from the main window's menu, where the camera re-enumerates
// as its bootloader.
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "firmware/FirmwareCipher.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

using namespace WindowTest;
using FirmwareTest::image;

class TestFirmwareWindow : public QObject
{
    Q_OBJECT

private slots:
    void interrupted_data();
    void interrupted();
    void browseAndEncrypt();
    void leavesCameraBytesToOtherReaders();
    void updateFromMenu();
    void unplugDuringWait();
    void mainWindowClosedDuringWait();

private:
    // A bootloader and a firmware window with `length` bytes of image loaded.
    bool open(Rig &rig, const QStringList &arguments, int length = -1)
    {
        if (!rig.start(QStringList { "--model", "bootloader", "--firmware-out", rig.dataPath("received.bin") }
                    + arguments,
                false)
            || !rig.waitType(TofDevice::Bootloader))
            return false;
        window = new UpdateFirmware(rig.device.get());
        window->connectReader();
        window->show();
        if (length >= 0 && writeFile(rig.dataPath("fw.bin"), image(length, length)))
            browse(rig.dataPath("fw.bin"));
        return true;
    }
    void browse(const QString &path)
    {
        window->setFileChooser([path] { return path; });
        click("pushButtonBrowse");
    }
    void click(const char *name) { child<QPushButton>(window, name)->click(); }
    void send(Rig &rig, const QByteArray &bytes)
    {
        QVERIFY(writeFile(rig.dataPath("fw.bin"), bytes));
        browse(rig.dataPath("fw.bin"));
        click("pushButtonSendFirmware");
    }
    // The window closes itself once the bootloader has every packet.
    bool sent(Rig &rig, const QByteArray &bytes)
    {
        return rig.waitUntil([&] { return window.isNull(); }, 30000)
            && rig.sim->waitForEvent("bootloader image-written")
            && readFile(rig.dataPath("received.bin")) == bytes;
    }

    QPointer<UpdateFirmware> window;
};

void TestFirmwareWindow::interrupted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("recover");
    QTest::newRow("bootloader falls silent") << QStringList { "--boot-mute-after", "3" } << ""
                                             << "Bootloader not responding, firmware update stopped"
                                             << "boot unmute";
    // The removal is known at once: no waiting for a reply that cannot come.
    QTest::newRow("link dies") << QStringList { "--boot-reply-delay", "10" } << "hangup 200"
                               << "Connection to the bootloader lost, firmware update stopped"
                               << "plug";
    QTest::newRow("window closed") << QStringList { "--boot-reply-delay", "10", "--boot-packet-timeout",
        "500" } << "close"
                                   << ""
                                   << "";
}

void TestFirmwareWindow::interrupted()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(QString, recover);
    Rig rig;
    QVERIFY(open(rig, arguments, 6000));
    window->setReplyTimeout(fault.isEmpty() ? 400 : 60000);
    click("pushButtonSendFirmware");
    QVERIFY(!child<QPushButton>(window, "pushButtonBrowse")->isEnabled());
    // The buttons are disabled now; the slots themselves must refuse as well.
    QMetaObject::invokeMethod(window, "on_pushButtonSendFirmware_clicked");
    QMetaObject::invokeMethod(window, "on_pushButtonBrowse_clicked");
    QVERIFY(rig.sim->waitForEvent("bootloader packet 1"));
    if (fault == "close") {
        window->close();
        QTRY_VERIFY(window.isNull());
        // The bootloader gives the half image up; a new window starts clean.
        QVERIFY(rig.sim->waitForEvent("bootloader transfer-abandoned", 10000));
        QVERIFY(!QFile::exists(rig.dataPath("received.bin")));
        window = new UpdateFirmware(rig.device.get());
        window->connectReader();
        browse(rig.dataPath("fw.bin"));
    } else {
        if (!fault.isEmpty())
            rig.sim->control(fault);
        QCOMPARE(waitForMessages(), QStringList { message });
        QVERIFY(window && !window->isTransferRunning());
        QVERIFY(child<QPushButton>(window, "pushButtonBrowse")->isEnabled());
        QVERIFY(!QFile::exists(rig.dataPath("received.bin")));
        rig.sim->control(recover);
        QVERIFY(rig.waitUntil([&] { return rig.device->serialPort()->isOpen(); }));
        pump(100);
    }
    // "Send" starts over from packet 0.
    click("pushButtonSendFirmware");
    QVERIFY(sent(rig, image(6000, 6000)));
}

void TestFirmwareWindow::browseAndEncrypt()
{
    Rig rig;
    QVERIFY(open(rig, {}));
    auto *send = child<QPushButton>(window, "pushButtonSendFirmware");
    QVERIFY(!send->isEnabled());
    click("pushButtonEncryptFirmware");
    QCOMPARE(takeMessages(), QStringList { "File name is empty" });
    const QString bin = rig.dataPath("fw.bin");
    QVERIFY(writeFile(bin, image(130)));
    browse(bin);
    QVERIFY(send->isEnabled());
    // A cancelled dialog or a file that cannot be read leaves the loaded image as it was.
    browse(QString());
    QCOMPARE(takeMessages(), QStringList { "File name is empty" });
    browse(rig.dataPath("missing.bin"));
    QCOMPARE(takeMessages(), QStringList { "File open failed" });
    QVERIFY(send->isEnabled());
    // The output is named after the image it holds.
    click("pushButtonEncryptFirmware");
    QCOMPARE(takeMessages(), QStringList { "Encrypt firmware generated" });
    QCOMPARE(readFile(rig.dataPath("fw.tof")), FirmwareCipher::encrypt(image(130), "Morvane Kavrix M10"));
    // An image too large for the bootloader cannot be sent.
    const QString large = rig.dataPath("large.bin");
    QVERIFY(writeFile(large, image(49153)));
    browse(large);
    QCOMPARE(takeMessages(), QStringList { "Illegal file" });
    QVERIFY(!send->isEnabled());
}

void TestFirmwareWindow::leavesCameraBytesToOtherReaders()
{
    Rig rig;
    QVERIFY(open(rig, {}));
    // As after the camera came back as a camera: a frame reader connected after
    // the firmware window must still get the bytes.
    rig.device->setDeviceType(TofDevice::KavrixM10);
    QSerialPort *port = rig.device->serialPort();
    QByteArray taken;
    connect(port, &QSerialPort::readyRead, this, [&] { taken += port->readAll(); });
    port->write(QByteArray("\x22\x22\x05", 3));
    QTRY_COMPARE(taken, QByteArray("DD\x05\x01", 4));
    disconnect(port, &QSerialPort::readyRead, this, nullptr);
    delete window;
}

void TestFirmwareWindow::updateFromMenu()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--firmware-out", rig.dataPath("received.bin") }));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("Kavrix M10"));
    // The slot waits 1000 ms for the bootloader; chosen again meanwhile, it does nothing more.
    QTimer::singleShot(300, [&] { rig.trigger("Update Firmware"); });
    QVERIFY(rig.trigger("Update Firmware"));
    window = topLevel<UpdateFirmware>();
    QVERIFY(window && window->isVisible());
    QCOMPARE(rig.device->deviceType(), quint8(TofDevice::Bootloader));
    QCOMPARE(rig.find<QLabel>("label_Device")->text(), QStringLiteral("Bootloader"));
    rig.trigger("Update Firmware"); // brings the open window forward
    QCOMPARE(QApplication::topLevelWidgets().count(window), 1);
    pump(200);
    QCOMPARE(rig.sim->transcript().count("23 23 33"), 1);

    send(rig, image(20000, 3));
    QVERIFY(sent(rig, image(20000, 3)));
    QVERIFY(takeMessages().isEmpty());
}

void TestFirmwareWindow::unplugDuringWait()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--firmware-out", rig.dataPath("received.bin") }));
    // The bootloader is back; then its link dies.
    connect(rig.sim.get(), &SimProcess::eventLine, this, [&](const QString &line) {
        if (line.startsWith("plugged"))
            rig.sim->control("hangup 50");
    });
    QVERIFY(rig.trigger("Update Firmware"));
    window = topLevel<UpdateFirmware>();
    QVERIFY(window);
    QVERIFY(rig.waitUntil([&] { return !rig.device->serialPort()->isOpen(); }));
    disconnect(rig.sim.get(), &SimProcess::eventLine, this, nullptr);
    send(rig, image(500));
    QCOMPARE(takeMessages(), QStringList { "No bootloader connected" });
    // Back again, the same window finishes the job.
    QVERIFY(rig.sim->reenumerate("bootloader"));
    QVERIFY(rig.waitType(TofDevice::Bootloader));
    QVERIFY(QFile::remove(rig.dataPath("fw.bin"))); // what "Browse" read is what is sent
    click("pushButtonSendFirmware");
    QVERIFY(sent(rig, image(500)));
}

void TestFirmwareWindow::mainWindowClosedDuringWait()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QTimer::singleShot(400, [&] { rig.window.reset(); });
    rig.trigger("Update Firmware");
    QVERIFY(!rig.window);
    QVERIFY(!topLevel<UpdateFirmware>()); // nobody is left to open the window for
}

QTEST_MAIN(TestFirmwareWindow)
#include "tst_firmware_window.moc"
