#include "device/Commands.h"
#include "device/TofDevice.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/SimProcess.h"

#include <QApplication>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// End to end: TofDevice against kavrix-sim processes, through the real
// QSerialPort code path and the port registry.
class TofDeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithCameraPresent_data();
    void startsWithCameraPresent();
    void passesOverForeignPorts_data();
    void passesOverForeignPorts();
    void plugLaterAnnouncesTypeBeforeName();
    void unplugAndReplugCamera_data();
    void unplugAndReplugCamera();
    void unplugBootloaderKeepsType();
    void secondCameraOnlyFailsToOpen();
    void secondDeviceFindsPortBusy();
    void arrivalWhileOpenDoesNotRescan();
    void removalOfAnotherPortOnlyLogs();
    void writesReachSimulatorByteForByte();
    void repliesReachApplicationInPieces();
    void firmwareCommandReenumeratesAsBootloader();
    void vanishingLinkIsRemoval();
    void staleEntryReplacedOnReplug();

private:
    SimProcess *newSim();
    TofDevice *newDevice();
    int countLines(const QString &line) const { return m_capture->lines().count(line); }

    QList<SimProcess *> m_sims;
    std::vector<std::unique_ptr<TofDevice>> m_devices;
    std::unique_ptr<DebugCapture> m_capture;
};

static int usbSerialPortsOfThisMachine()
{
    int count = 0;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        count += info.hasVendorIdentifier() && info.hasProductIdentifier() ? 1 : 0;
    return count;
}

void TofDeviceTest::initTestCase()
{
    isolateRegistry();
    QVERIFY(!qEnvironmentVariableIsEmpty("KAVRIX_SIM"));
}

void TofDeviceTest::init()
{
    m_capture = std::make_unique<DebugCapture>();
}

void TofDeviceTest::cleanup()
{
    m_devices.clear(); // closes the ports before the simulators go
    qDeleteAll(m_sims);
    m_sims.clear();
    m_capture.reset();
}

SimProcess *TofDeviceTest::newSim()
{
    auto *sim = new SimProcess;
    m_sims.append(sim);
    return sim;
}

TofDevice *TofDeviceTest::newDevice()
{
    m_devices.push_back(std::make_unique<TofDevice>());
    return m_devices.back().get();
}

void TofDeviceTest::startsWithCameraPresent_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");

    QTest::newRow("m10") << QStringList { "--model", "m10" } << 2 << 0x205F << 0x027B;
    QTest::newRow("m20") << QStringList { "--model", "m20" } << 3 << 0x205F << 0x0294;
    QTest::newRow("bootloader") << QStringList { "--model", "bootloader" } << 1 << 0x205F << 0x027A;
    QTest::newRow("m20 alternate ids")
        << QStringList { "--model", "m20", "--vid", "0525", "--pid", "A4A7" } << 3 << 0x0525 << 0xA4A7;
    QTest::newRow("m10 alternate vendor") << QStringList { "--vid", "0525" } << 2 << 0x0525 << 0x027B;
}

void TofDeviceTest::startsWithCameraPresent()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, type);
    QFETCH(int, vid);
    QFETCH(int, pid);

    SimProcess *sim = newSim();
    QVERIFY(sim->start(arguments));
    TofDevice *device = newDevice();

    QCOMPARE(int(device->deviceType()), type);
    QCOMPARE(device->portName(), sim->name());
    QVERIFY(device->serialPort()->isOpen());
    QCOMPARE(device->serialPort()->openMode(), QIODevice::ReadWrite);

    const QStringList lines = m_capture->lines();
    const int vidLine = lines.indexOf(QStringLiteral("VID %1").arg(vid));
    QVERIFY(vidLine >= 0);
    QCOMPARE(lines.value(vidLine + 1), QStringLiteral("PID %1").arg(pid));
    const int connected = lines.indexOf(QStringLiteral("Connected Port %1").arg(sim->name()));
    QVERIFY(connected > vidLine);
    const int infoLine = lines.indexOf(QStringLiteral("serialPortInfo %1").arg(sim->name()));
    if (type == 2)
        QVERIFY(infoLine > vidLine && infoLine < connected);
    else
        QCOMPARE(infoLine, -1);
    QCOMPARE(lines.last(), QStringLiteral("tof device class init"));
}

void TofDeviceTest::passesOverForeignPorts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("idLines");

    QTest::newRow("unknown product") << QStringList { "--pid", "1234" }
                                     << QStringList { "VID 8287", "PID 4660" };
    QTest::newRow("other vendor") << QStringList { "--vid", "1234" } << QStringList { "VID 4660", "PID 635" };
    QTest::newRow("no vendor identifier") << QStringList { "--vid", "none" } << QStringList {};
    QTest::newRow("no product identifier") << QStringList { "--pid", "none" } << QStringList {};
}

void TofDeviceTest::passesOverForeignPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, idLines);

    QVERIFY(newSim()->start(arguments));
    TofDevice *device = newDevice();

    QCOMPARE(int(device->deviceType()), 0);
    QCOMPARE(device->portName(), QStringLiteral("NULL"));
    QVERIFY(!device->serialPort()->isOpen());
    // USB serial adapters of the machine itself come first in the scan; skip their lines.
    const QStringList lines = m_capture->lines().mid(2 * usbSerialPortsOfThisMachine());
    QCOMPARE(lines, idLines + QStringList { QStringLiteral("tof device class init") });
}

void TofDeviceTest::plugLaterAnnouncesTypeBeforeName()
{
    TofDevice *device = newDevice();
    QCOMPARE(int(device->deviceType()), 0);
    QCOMPARE(device->portName(), QStringLiteral("NULL"));

    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);
    QStringList namesSeen;
    connect(device, &TofDevice::deviceTypeChanged, this, [&] { namesSeen << device->portName(); });

    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m20" }));
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].value<quint8>(), quint8(3));
    QCOMPARE(namesSeen, QStringList { QStringLiteral("NULL") });
    QCOMPARE(device->portName(), sim->name());
    QVERIFY(m_capture->contains(QStringLiteral("serial port arrival %1").arg(sim->name())));
}

void TofDeviceTest::unplugAndReplugCamera_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("removedType");
    QTest::newRow("m10") << "m10" << 2 << 11;
    QTest::newRow("m20") << "m20" << 3 << 12;
}

void TofDeviceTest::unplugAndReplugCamera()
{
    QFETCH(QString, model);
    QFETCH(int, type);
    QFETCH(int, removedType);

    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", model }));
    TofDevice *device = newDevice();
    QCOMPARE(int(device->deviceType()), type);
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    QVERIFY(sim->unplug());
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(int(spy[0][0].value<quint8>()), removedType);
    QCOMPARE(int(device->deviceType()), removedType);
    QCOMPARE(device->portName(), QStringLiteral("NULL"));
    QVERIFY(!device->serialPort()->isOpen());
    QVERIFY(m_capture->contains(QStringLiteral("serial port remove %1").arg(sim->name())));

    // The main window resets the type after cleaning up; that emits nothing.
    device->setDeviceType(0);
    QTest::qWait(50);
    QCOMPARE(spy.size(), 1);

    QVERIFY(sim->plug());
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(int(spy[1][0].value<quint8>()), type);
    QCOMPARE(device->portName(), sim->name());
    QVERIFY(device->serialPort()->isOpen());
}

void TofDeviceTest::unplugBootloaderKeepsType()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "bootloader" }));
    TofDevice *device = newDevice();
    QCOMPARE(int(device->deviceType()), 1);
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    QVERIFY(sim->unplug());
    QVERIFY(m_capture->waitFor(QStringLiteral("serial port remove %1").arg(sim->name())));
    QCOMPARE(int(device->deviceType()), 1);
    QCOMPARE(device->portName(), QStringLiteral("NULL"));
    QVERIFY(!device->serialPort()->isOpen());
    QTest::qWait(50);
    QCOMPARE(spy.size(), 0);

    // The next arrival rescans.
    QVERIFY(sim->plug());
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(int(spy[0][0].value<quint8>()), 1);
    QVERIFY(device->serialPort()->isOpen());
}

void TofDeviceTest::secondCameraOnlyFailsToOpen()
{
    // Registry entries are scanned in name order: "a-..." first.
    const QString suffix = QString::number(QCoreApplication::applicationPid());
    SimProcess *first = newSim();
    SimProcess *second = newSim();
    QVERIFY(first->start({ "--name", "a-" + suffix, "--model", "m10" }));
    QVERIFY(second->start({ "--name", "b-" + suffix, "--model", "m20" }));

    TofDevice *device = newDevice();
    QCOMPARE(int(device->deviceType()), 2);
    QCOMPARE(device->portName(), first->name());
    QCOMPARE(device->serialPort()->portName(), first->ttyPath().mid(5)); // still the first port's tty
    QCOMPARE(m_capture->linesStartingWith(QStringLiteral("Connected Port")).size(), 1);
    QCOMPARE(countLines(QStringLiteral("Port busy")) + countLines(QStringLiteral("Port cannot open")), 1);
    QVERIFY(m_capture->contains(QStringLiteral("PID 660")));

    // The port still works.
    device->serialPort()->write(Commands::camera(Commands::SelectDepth));
    QVERIFY(first->waitForTranscript(QStringLiteral("23 23 05")));
    QVERIFY(second->transcript().isEmpty());
}

void TofDeviceTest::secondDeviceFindsPortBusy()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m20" }));
    TofDevice *first = newDevice();
    QCOMPARE(int(first->deviceType()), 3);

    m_capture->clear();
    TofDevice *second = newDevice();
    QCOMPARE(int(second->deviceType()), 0);
    QCOMPARE(second->portName(), QStringLiteral("NULL"));
    QVERIFY(m_capture->contains(QStringLiteral("Port busy")));
    QVERIFY(first->serialPort()->isOpen());
}

void TofDeviceTest::arrivalWhileOpenDoesNotRescan()
{
    SimProcess *open = newSim();
    QVERIFY(open->start({ "--model", "m10" }));
    TofDevice *device = newDevice();
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    m_capture->clear();
    SimProcess *later = newSim();
    QVERIFY(later->start({ "--model", "m20" }));
    QVERIFY(m_capture->waitFor(QStringLiteral("serial port arrival %1").arg(later->name())));
    QTest::qWait(50);
    QCOMPARE(m_capture->lines(), QStringList { QStringLiteral("serial port arrival %1").arg(later->name()) });
    QCOMPARE(spy.size(), 0);
    QCOMPARE(int(device->deviceType()), 2);
    QCOMPARE(device->portName(), open->name());
}

void TofDeviceTest::removalOfAnotherPortOnlyLogs()
{
    const QString suffix = QString::number(QCoreApplication::applicationPid());
    SimProcess *open = newSim();
    SimProcess *other = newSim();
    QVERIFY(open->start({ "--name", "a-" + suffix, "--model", "m20" }));
    QVERIFY(other->start({ "--name", "b-" + suffix, "--model", "m10" }));
    TofDevice *device = newDevice();
    QCOMPARE(device->portName(), open->name());
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    m_capture->clear();
    QVERIFY(other->unplug());
    QVERIFY(m_capture->waitFor(QStringLiteral("serial port remove %1").arg(other->name())));
    QTest::qWait(50);
    QCOMPARE(m_capture->lines(), QStringList { QStringLiteral("serial port remove %1").arg(other->name()) });
    QCOMPARE(spy.size(), 0);
    QCOMPARE(int(device->deviceType()), 3);
    QVERIFY(device->serialPort()->isOpen());
}

void TofDeviceTest::writesReachSimulatorByteForByte()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start());
    TofDevice *device = newDevice();
    QSerialPort *port = device->serialPort();

    port->write(Commands::parameter(Commands::DistanceOffsetPrefix, -300));
    port->write(Commands::camera(Commands::StartStreaming));
    port->write("\xAB", 1);
    port->write(Commands::parameter(Commands::IntegrationTimePrefix, 300));
    port->write(Commands::parameter(Commands::DistanceOffsetPrefix, -2));
    port->write(QByteArray::fromHex("2828E80310271027102710"));
    port->write(QByteArray::fromHex("27"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("28 28 E8 03 10 27 10 27 10 27 10 27")));
    QCOMPARE(sim->transcript(),
        (QStringList {
            "29 29 FF D4",
            "23 23 02",
            "? AB",
            "24 24 01 2C",
            "29 29 00 FE",
            "28 28 E8 03 10 27 10 27 10 27 10 27",
        }));
}

void TofDeviceTest::repliesReachApplicationInPieces()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--chunk", "3", "--chunk-gap", "20" }));
    TofDevice *device = newDevice();
    QSerialPort *port = device->serialPort();
    QByteArray received;
    int reads = 0;
    connect(port, &QSerialPort::readyRead, this, [&] {
        received += port->readAll();
        ++reads;
    });
    sim->control(QStringLiteral("send 01 02 03 04 05 06 07 2A 23 23 2A"));
    QTRY_COMPARE(received, QByteArray::fromHex("010203040506072A23232A"));
    QVERIFY2(reads >= 2, qPrintable(QString::number(reads)));
}

void TofDeviceTest::firmwareCommandReenumeratesAsBootloader()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m10" }));
    TofDevice *device = newDevice();
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    device->serialPort()->write(Commands::camera(Commands::PrepareFirmwareUpdate));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 33")));
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(int(spy[0][0].value<quint8>()), 11);
    QCOMPARE(int(spy[1][0].value<quint8>()), 1);
    QCOMPARE(device->portName(), sim->name());
    QVERIFY(m_capture->contains(QStringLiteral("PID 634")));
}

void TofDeviceTest::vanishingLinkIsRemoval()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m20" }));
    TofDevice *device = newDevice();
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    // The tty dies; the registry notices 300 ms later.
    QVERIFY(sim->hangup(300));
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(int(spy[0][0].value<quint8>()), 12);
    QCOMPARE(device->portName(), QStringLiteral("NULL"));
    QVERIFY(m_capture->contains(QStringLiteral("serial port lost %1").arg(sim->name())));
    QVERIFY(!m_capture->contains(QStringLiteral("serial port remove %1").arg(sim->name())));

    QVERIFY(m_capture->waitFor(QStringLiteral("serial port remove %1").arg(sim->name())));
    QTest::qWait(50);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(int(device->deviceType()), 12);
}

void TofDeviceTest::staleEntryReplacedOnReplug()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m10" }));
    TofDevice *device = newDevice();
    QSignalSpy spy(device, &TofDevice::deviceTypeChanged);

    QVERIFY(sim->hangup(-1)); // the entry stays behind
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(int(spy[0][0].value<quint8>()), 11);
    device->setDeviceType(0);

    QVERIFY(sim->plug());
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(int(spy[1][0].value<quint8>()), 2);
    QVERIFY(device->serialPort()->isOpen());
    device->serialPort()->write(Commands::camera(Commands::StopStreaming));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 03")));
}

QTEST_MAIN(TofDeviceTest)
#include "tst_device_tofdevice.moc"
