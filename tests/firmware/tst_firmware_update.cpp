// A whole firmware update as the user makes it: the main window's menu sends
// command 51, the simulated camera re-enumerates as its bootloader, the
// firmware window sends the image, and the simulator's copy must be identical.
// Also what may happen during the 1000 ms wait before the window opens.

#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "firmware/UpdateFirmware.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/support/SimProcess.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace FirmwareTest;

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void updateFromMenu();
    void menuAgainBringsTheOpenWindowForward();
    void unplugDuringWait_data();
    void unplugDuringWait();
    void mainWindowClosedDuringWait();

private:
    bool startCamera(const QStringList &extra = {});
    void createMainWindow();
    QAction *updateAction() const;
    QString deviceLabel() const;
    UpdateFirmware *firmwareWindow() const;
    void sendFile(UpdateFirmware *window, const QString &path);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> mainWindow;
    QString received;
};

void TestFirmwareUpdate::initTestCase()
{
    isolateRegistry();
}

void TestFirmwareUpdate::init()
{
    deviceState() = DeviceState();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    received = dir->filePath("received.bin");
}

void TestFirmwareUpdate::cleanup()
{
    qDeleteAll(topLevel<UpdateFirmware>());
    takeMessages();
    mainWindow.reset();
    device.reset();
    sim.reset();
    dir.reset();
}

bool TestFirmwareUpdate::startCamera(const QStringList &extra)
{
    sim = std::make_unique<SimProcess>();
    return sim->start(QStringList { "--model", "m10", "--firmware-out", received } + extra);
}

void TestFirmwareUpdate::createMainWindow()
{
    device = std::make_unique<TofDevice>();
    mainWindow = std::make_unique<MainWindow>(device.get());
    mainWindow->show();
}

QAction *TestFirmwareUpdate::updateAction() const
{
    for (QAction *action : mainWindow->findChildren<QAction *>()) {
        if (action->text() == QLatin1String("Update Firmware"))
            return action;
    }
    qFatal("no \"Update Firmware\" action");
    return nullptr;
}

QString TestFirmwareUpdate::deviceLabel() const
{
    return mainWindow->findChild<QLabel *>("label_Device")->text();
}

UpdateFirmware *TestFirmwareUpdate::firmwareWindow() const
{
    const QList<UpdateFirmware *> windows = topLevel<UpdateFirmware>();
    return windows.size() == 1 ? windows.first() : nullptr;
}

void TestFirmwareUpdate::sendFile(UpdateFirmware *window, const QString &path)
{
    window->setFileChooser([path] { return path; });
    window->findChild<QPushButton *>("pushButtonBrowse")->click();
    window->findChild<QPushButton *>("pushButtonSendFirmware")->click();
}

void TestFirmwareUpdate::updateFromMenu()
{
    QVERIFY(startCamera());
    createMainWindow();
    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM10));
    QCOMPARE(deviceLabel(), QStringLiteral("Kavrix M10"));

    // The slot waits 1000 ms, long enough for the camera to come back as the bootloader.
    updateAction()->trigger();
    QVERIFY(sim->waitForTranscript("23 23 33"));
    QPointer<UpdateFirmware> window = firmwareWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(window->windowTitle(), QStringLiteral("Update Firmware"));
    QCOMPARE(device->deviceType(), quint8(TofDevice::Bootloader));
    QCOMPARE(deviceLabel(), QStringLiteral("Bootloader"));

    const QByteArray firmware = image(20000, 3);
    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, firmware));
    sendFile(window, path);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(sim->waitForEvent("bootloader image-written"));
    QCOMPARE(readFile(received), firmware);
    QVERIFY(takeMessages().isEmpty());
}

void TestFirmwareUpdate::menuAgainBringsTheOpenWindowForward()
{
    QVERIFY(startCamera());
    createMainWindow();
    // Chosen again during the wait, and again while the window is open.
    QTimer::singleShot(300, updateAction(), &QAction::trigger);
    updateAction()->trigger();
    QVERIFY(firmwareWindow());
    updateAction()->trigger();
    QCOMPARE(topLevel<UpdateFirmware>().size(), 1);
    QTest::qWait(200);
    QCOMPARE(sim->transcript().count("23 23 33"), 1);
}

void TestFirmwareUpdate::unplugDuringWait_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("unplugged for good") << "unplug";
    QTest::newRow("link dies") << "hangup 50";
}

void TestFirmwareUpdate::unplugDuringWait()
{
    QFETCH(QString, control);
    QVERIFY(startCamera());
    createMainWindow();

    // The bootloader is back after 300 ms; then the cable is pulled.
    connect(sim.get(), &SimProcess::eventLine, this, [&](const QString &line) {
        if (line.startsWith("plugged"))
            sim->control(control);
    });
    updateAction()->trigger();
    QPointer<UpdateFirmware> window = firmwareWindow();
    QVERIFY(window);
    QTRY_VERIFY(!device->serialPort()->isOpen());
    disconnect(sim.get(), &SimProcess::eventLine, this, nullptr);

    const QString path = dir->filePath("fw.bin");
    QVERIFY(writeFile(path, image(500)));
    sendFile(window, path);
    QCOMPARE(takeMessages(), QStringList { "No bootloader connected" });

    // Plugged in again, the bootloader is found and the same window finishes the job.
    if (control == QLatin1String("unplug"))
        QVERIFY(sim->plug());
    else
        QVERIFY(sim->reenumerate("bootloader"));
    QTRY_VERIFY(device->serialPort()->isOpen());
    QCOMPARE(device->deviceType(), quint8(TofDevice::Bootloader));
    window->findChild<QPushButton *>("pushButtonSendFirmware")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
    QVERIFY(sim->waitForEvent("bootloader image-written"));
    QCOMPARE(readFile(received), image(500));
}

void TestFirmwareUpdate::mainWindowClosedDuringWait()
{
    QVERIFY(startCamera());
    createMainWindow();
    QTimer::singleShot(400, this, [&] { mainWindow.reset(); });
    updateAction()->trigger();
    QVERIFY(!mainWindow);
    // Nobody is left to open the window for.
    QCOMPARE(topLevel<UpdateFirmware>().size(), 0);
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmware_update.moc"
