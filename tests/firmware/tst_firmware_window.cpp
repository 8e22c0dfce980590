// The firmware window against a simulated bootloader (kavrix-sim --model
// bootloader): whole transfers compared byte for byte on the simulator's side,
// broken links, silent and slow bootloaders, and the .tof writer.

#include "device/TofDevice.h"
#include "firmware/FirmwareCipher.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

using namespace FirmwareTest;

class TestFirmwareWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void transfer_data();
    void transfer();
    void splitReplies_data();
    void splitReplies();
    void silentBootloaderTimesOutAndRetryWorks();
    void secondSendDuringTransfer();
    void linkDiesDuringTransfer_data();
    void linkDiesDuringTransfer();
    void closeDuringTransfer();
    void fileRemovedAfterBrowse();
    void browseFailures();
    void sendWithoutBootloader();
    void encryptFromWindow();
    void leavesCameraBytesToOtherReaders();

private:
    bool startBootloader(const QStringList &extra = {});
    UpdateFirmware *openWindow();
    void browse(const QString &path);
    QPushButton *button(const char *name) const;
    bool waitForImage(int timeoutMs = 30000);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    QPointer<UpdateFirmware> window;
    QString received;
};

void TestFirmwareWindow::initTestCase()
{
    isolateRegistry();
}

void TestFirmwareWindow::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    received = dir->filePath("received.bin");
}

void TestFirmwareWindow::cleanup()
{
    delete window;
    takeMessages();
    device.reset();
    sim.reset();
    dir.reset();
}

bool TestFirmwareWindow::startBootloader(const QStringList &extra)
{
    sim = std::make_unique<SimProcess>();
    if (!sim->start(QStringList { "--model", "bootloader", "--firmware-out", received } + extra))
        return false;
    device = std::make_unique<TofDevice>();
    return WindowTest::waitForDeviceType(device.get(), TofDevice::Bootloader);
}

UpdateFirmware *TestFirmwareWindow::openWindow()
{
    window = new UpdateFirmware(device.get());
    window->connectReader();
    window->show();
    return window;
}

QPushButton *TestFirmwareWindow::button(const char *name) const
{
    return window->findChild<QPushButton *>(QLatin1String(name));
}

void TestFirmwareWindow::browse(const QString &path)
{
    window->setFileChooser([path] { return path; });
    button("pushButtonBrowse")->click();
}

bool TestFirmwareWindow::waitForImage(int timeoutMs)
{
    return sim->waitForEvent(QStringLiteral("bootloader image-written"), timeoutMs);
}

void TestFirmwareWindow::transfer_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("short last packet") << 130;
    QTest::newRow("largest") << 49152;
}

void TestFirmwareWindow::transfer()
{
    QFETCH(int, size);
    QVERIFY(startBootloader());
    openWindow();
    QVERIFY(!button("pushButtonSendFirmware")->isEnabled());

    const QString path = dir->filePath("fw.bin");
    const QByteArray firmware = image(size, size);
    QVERIFY(writeFile(path, firmware));
    browse(path);
    QCOMPARE(window->findChild<QLineEdit *>("FirmwarePath")->text(), path);
    QVERIFY(button("pushButtonSendFirmware")->isEnabled());
    QVERIFY(sim->waitForTranscript("22 22 05"));

    button("pushButtonSendFirmware")->click();
    // The window closes itself once the bootloader has every packet.
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), firmware);
    QVERIFY(!sim->waitForEvent("bootloader bad-packet", 100));
    QVERIFY(takeMessages().isEmpty());

    const QStringList transcript = sim->transcript();
    QCOMPARE(transcript.count("22 22 01"), 1);
    QCOMPARE(transcript.count(QStringLiteral("22 22 02 00 00 %1 %2")
                                  .arg(size >> 8, 2, 16, QLatin1Char('0'))
                                  .arg(size & 0xFF, 2, 16, QLatin1Char('0'))
                                  .toUpper()),
        1);
    // once at the end and once more when the window goes
    QCOMPARE(transcript.count("22 22 0B"), 2);
}

void TestFirmwareWindow::splitReplies_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("byte by byte") << QStringList { "--chunk", "1" };
}

void TestFirmwareWindow::splitReplies()
{
    QFETCH(QStringList, arguments);
    QVERIFY(startBootloader(arguments));
    openWindow();
    const QByteArray firmware = image(1234);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, firmware));
    browse(path);
    button("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), firmware);
}

void TestFirmwareWindow::silentBootloaderTimesOutAndRetryWorks()
{
    QVERIFY(startBootloader({ "--boot-mute-after", "3" }));
    openWindow();
    window->setReplyTimeout(400);
    const QByteArray firmware = image(900);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, firmware));
    browse(path);
    button("pushButtonSendFirmware")->click();
    QVERIFY(!button("pushButtonSendFirmware")->isEnabled());
    QVERIFY(!button("pushButtonBrowse")->isEnabled());

    QCOMPARE(waitForMessages(), QStringList { "Bootloader not responding, firmware update stopped" });
    QVERIFY(window);
    QVERIFY(!window->isTransferRunning());
    QVERIFY(button("pushButtonSendFirmware")->isEnabled());
    QVERIFY(button("pushButtonBrowse")->isEnabled());

    // The bootloader comes back: "Send" starts over from packet 0.
    sim->control("boot unmute");
    QTest::qWait(100);
    button("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), firmware);
}

void TestFirmwareWindow::secondSendDuringTransfer()
{
    QVERIFY(startBootloader({ "--boot-reply-delay", "5" }));
    openWindow();
    const QByteArray firmware = image(3000);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, firmware));
    browse(path);

    button("pushButtonSendFirmware")->click();
    // The button is disabled now; the slot itself must refuse as well.
    QMetaObject::invokeMethod(window, "on_pushButtonSendFirmware_clicked");
    QVERIFY(sim->waitForEvent("bootloader packet 5"));
    QMetaObject::invokeMethod(window, "on_pushButtonSendFirmware_clicked");
    QMetaObject::invokeMethod(window, "on_pushButtonBrowse_clicked");

    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), firmware);
    QCOMPARE(sim->transcript().count("22 22 01"), 1);
    QCOMPARE(sim->transcript().count("22 22 05"), 1);
}

// The retry after a clean unplug is in tst_hardening_faults.
void TestFirmwareWindow::linkDiesDuringTransfer_data()
{
    QTest::addColumn<bool>("hangup");
    QTest::newRow("tty dies first") << true;
    QTest::newRow("unplugged") << false;
}

void TestFirmwareWindow::linkDiesDuringTransfer()
{
    QFETCH(bool, hangup);
    QVERIFY(startBootloader({ "--boot-reply-delay", "10" }));
    openWindow();
    // The removal is known at once: no waiting for a reply that cannot come.
    window->setReplyTimeout(60000);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, image(49152)));
    browse(path);
    button("pushButtonSendFirmware")->click();
    QVERIFY(sim->waitForEvent("bootloader packet 20"));
    QVERIFY(hangup ? sim->hangup(200) : sim->unplug());

    QCOMPARE(waitForMessages(3000),
        QStringList { QStringLiteral("Connection to the bootloader lost, firmware update stopped") });
    QVERIFY(window);
    QVERIFY(!window->isTransferRunning());
    QVERIFY(!QFile::exists(received));

    // Closing the window with the port gone must be harmless.
    window->close();
    QTRY_VERIFY(window.isNull());
}

void TestFirmwareWindow::closeDuringTransfer()
{
    QVERIFY(startBootloader({ "--boot-reply-delay", "10", "--boot-packet-timeout", "500" }));
    openWindow();
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, image(6000)));
    browse(path);
    button("pushButtonSendFirmware")->click();
    QVERIFY(sim->waitForEvent("bootloader packet 3"));
    window->close();
    QTRY_VERIFY(window.isNull());
    // The bootloader gives the half image up and keeps nothing of it.
    QVERIFY(sim->waitForEvent("bootloader transfer-abandoned", 10000));
    QVERIFY(!QFile::exists(received));

    // A new window starts a clean transfer.
    openWindow();
    browse(path);
    button("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), image(6000));
}

void TestFirmwareWindow::fileRemovedAfterBrowse()
{
    QVERIFY(startBootloader());
    openWindow();
    const QByteArray firmware = image(777);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, firmware));
    browse(path);
    QVERIFY(QFile::remove(path));
    // What "Browse" read is what is sent.
    button("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), firmware);
}

void TestFirmwareWindow::browseFailures()
{
    QVERIFY(startBootloader());
    openWindow();
    QPushButton *send = button("pushButtonSendFirmware");

    const QString legal = dir->filePath("fw.bin");
    QVERIFY(writeFile(legal, image(200)));
    browse(legal);
    QVERIFY(send->isEnabled());

    // A cancelled dialog or a file that cannot be read leaves the loaded image as it was.
    browse(QString());
    QCOMPARE(takeMessages(), QStringList { "File name is empty" });
    QVERIFY(send->isEnabled());
    browse(dir->filePath("missing.bin"));
    QCOMPARE(takeMessages(), QStringList { "File open failed" });
    QVERIFY(send->isEnabled());

    const QString large = dir->filePath("large.bin");
    QVERIFY(writeFile(large, image(49153)));
    browse(large);
    QCOMPARE(takeMessages(), QStringList { "Illegal file" });
    QVERIFY(!send->isEnabled());

    // The illegal image can still be scrambled.
    button("pushButtonEncryptFirmware")->click();
    QCOMPARE(takeMessages(), QStringList { "Encrypt firmware generated" });
    QCOMPARE(QFileInfo(dir->filePath("large.tof")).size(), 820 * 60 + 23);

    QVERIFY(writeFile(large, image(49152)));
    browse(large);
    QVERIFY(takeMessages().isEmpty());
    QVERIFY(send->isEnabled());
    QTRY_COMPARE(sim->transcript().count("22 22 05"), 5);
}

void TestFirmwareWindow::sendWithoutBootloader()
{
    QVERIFY(startBootloader({}));
    openWindow();
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, image(100)));
    browse(path);
    QVERIFY(sim->unplug());
    QTRY_VERIFY(!device->serialPort()->isOpen());
    button("pushButtonSendFirmware")->click();
    QCOMPARE(takeMessages(), QStringList { "No bootloader connected" });
    QVERIFY(!window->isTransferRunning());

    // Plugged in again, the same window carries on.
    QVERIFY(sim->plug());
    QTRY_VERIFY(device->serialPort()->isOpen());
    button("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(waitForImage());
    QCOMPARE(readFile(received), image(100));
}

void TestFirmwareWindow::encryptFromWindow()
{
    QVERIFY(startBootloader());
    openWindow();
    const QByteArray tag("Morvane Kavrix M10");

    button("pushButtonEncryptFirmware")->click();
    QCOMPARE(takeMessages(), QStringList { "File name is empty" });

    const QByteArray firmware = image(130);
    const QString bin = dir->filePath("fw.bin");
    QVERIFY(writeFile(bin, firmware));
    browse(bin);
    button("pushButtonEncryptFirmware")->click();
    QCOMPARE(takeMessages(), QStringList { "Encrypt firmware generated" });
    QCOMPARE(readFile(dir->filePath("fw.tof")), FirmwareCipher::encrypt(firmware, tag));
    QCOMPARE(readFile(bin), firmware);

    // After a failed "Browse" the output is still named after the image it holds.
    browse(dir->filePath("other.bin"));
    takeMessages();
    QVERIFY(QFile::remove(dir->filePath("fw.tof")));
    button("pushButtonEncryptFirmware")->click();
    QCOMPARE(takeMessages(), QStringList { "Encrypt firmware generated" });
    QVERIFY(QFile::exists(dir->filePath("fw.tof")));
    QVERIFY(!QFile::exists(dir->filePath("other.tof")));

    // An unwritable folder is reported.
    const QString folder = dir->filePath("locked");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(writeFile(folder + "/fw.bin", firmware));
    browse(folder + "/fw.bin");
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    button("pushButtonEncryptFirmware")->click();
    const QStringList messages = takeMessages();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(messages.size(), 1);
    if (::geteuid() != 0) // root writes anywhere
        QVERIFY2(messages.first().startsWith("Encrypt firmware failed"), qPrintable(messages.first()));
}

void TestFirmwareWindow::leavesCameraBytesToOtherReaders()
{
    QVERIFY(startBootloader());
    openWindow();
    // As after the camera came back as a camera: a frame reader connected after
    // the firmware window must still get the bytes.
    device->setDeviceType(TofDevice::KavrixM10);
    QByteArray taken;
    connect(device->serialPort(), &QSerialPort::readyRead, this,
        [&] { taken += device->serialPort()->readAll(); });
    device->serialPort()->write(QByteArray("\x22\x22\x05", 3));
    QTRY_COMPARE(taken, QByteArray("DD\x05\x01", 4));
    disconnect(device->serialPort(), &QSerialPort::readyRead, this, nullptr);
}

QTEST_MAIN(TestFirmwareWindow)
#include "tst_firmware_window.moc"
