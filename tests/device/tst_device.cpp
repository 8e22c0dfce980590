// The device link: USB identifiers, command bytes, the port registry, and
// TofDevice against kavrix-sim through the real QSerialPort path. (The
// simulator's command framing shows in every transcript the tests compare, and
// in the fuzz_registry target.)
#include "device/Commands.h"
#include "device/PortRegistry.h"
#include "device/TofDevice.h"
#include "device/UsbIds.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class DeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { isolateRegistry(); }
    void classify_data();
    void classify();
    void parameter_data();
    void parameter();
    void parseEntry_data();
    void parseEntry();
    void registryFolder();
    void plugUnplugReplug_data();
    void plugUnplugReplug();
    void firstCameraTalks();
};

void DeviceTest::classify_data()
{
    QTest::addColumn<bool>("hasIds");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("type");
    QTest::newRow("m20") << true << 0x205F << 0x0294 << 3;
    QTest::newRow("alternate vendor and product") << true << 0x0525 << 0xA4A7 << 3;
    QTest::newRow("other vendor") << true << 0x2060 << 0x027B << 0;
    QTest::newRow("no identifiers") << false << 0x205F << 0x027B << 0;
}

void DeviceTest::classify()
{
    QFETCH(bool, hasIds);
    QFETCH(int, vid);
    QFETCH(int, pid);
    QFETCH(int, type);
    QCOMPARE(int(UsbIds::classify(hasIds, quint16(vid), true, quint16(pid))), type);
    QCOMPARE(int(UsbIds::classify(true, quint16(vid), hasIds, quint16(pid))), type);
}

void DeviceTest::parameter_data()
{
    QTest::addColumn<int>("prefix");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("offset -300") << 0x29 << -300 << QByteArray("2929ffd4");
    QTest::newRow("offset -2") << 0x29 << -2 << QByteArray("292900fe");
    QTest::newRow("integration 300") << 0x24 << 300 << QByteArray("2424012c");
    QTest::newRow("amplitude 65535") << 0x25 << 65535 << QByteArray("2525ffff");
    // Prefix 0: a camera command.
    QTest::newRow("stop") << 0 << int(Commands::StopStreaming) << QByteArray("232303");
    QTest::newRow("depth") << 0 << int(Commands::SelectDepth) << QByteArray("232305");
}

void DeviceTest::parameter()
{
    QFETCH(int, prefix);
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(
        (prefix ? Commands::parameter(char(prefix), value) : Commands::camera(quint8(value))).toHex(), bytes);
}

// The simulator's reading of what it is sent: commands and garbage between them.
void DeviceTest::parseEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("device"); // empty: rejected
    QTest::addColumn<int>("vid"); // -1: not given
    QTest::addColumn<int>("pid");
    QTest::newRow("complete") << "cam" << QByteArray("device=/dev/pts/4\nvid=205F\npid=027B\n")
                              << "/dev/pts/4" << 0x205F << 0x027B;
    QTest::newRow("blanks, CRLF, lower case, unknown key")
        << "cam" << QByteArray(" device = /dev/pts/4 \r\nvid=0525\r\npid=a4a7\r\nowner=123\r\n")
        << "/dev/pts/4" << 0x0525 << 0xA4A7;
    QTest::newRow("no identifiers") << "cam" << QByteArray("device=/dev/pts/4\n") << "/dev/pts/4" << -1 << -1;
    for (const char *bad : { "vid=205F\n", "device=pts/4\n", "device=/dev/x\nvid\n",
             "device=/dev/x\nvid=1205F\n", "device=/dev/x\npid=-27B\n", "device=/dev/a\ndevice=/dev/b\n" })
        QTest::newRow(bad) << "cam" << QByteArray(bad) << "" << 0 << 0;
    QTest::newRow("NUL") << "cam" << QByteArray("device=/dev/pts/4\x00junk\n", 24) << "" << 0 << 0;
    const QByteArray oversized = "device=/dev/pts/4\n" + QByteArray(PortRegistry::MaxEntrySize, ' ');
    QTest::newRow("oversized") << "cam" << oversized << "" << 0 << 0;
    QTest::newRow("name with slash") << "a/b" << QByteArray("device=/dev/pts/4\n") << "" << 0 << 0;
}

void DeviceTest::parseEntry()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, device);
    QFETCH(int, vid);
    QFETCH(int, pid);
    PortRegistry::Entry entry;
    QCOMPARE(PortRegistry::parseEntry(name, content, &entry), !device.isEmpty());
    if (device.isEmpty())
        return;
    QCOMPARE(entry.device, device);
    QCOMPARE(entry.hasVendorIdentifier ? int(entry.vendorIdentifier) : -1, vid);
    QCOMPARE(entry.hasProductIdentifier ? int(entry.productIdentifier) : -1, pid);
}

// Writing and reading the folder; the watcher is checked through TofDevice.
void DeviceTest::registryFolder()
{
    QTemporaryDir dir;
    PortRegistry::Entry entry;
    entry.name = "b";
    entry.device = "/dev/pts/9";
    entry.hasVendorIdentifier = entry.hasProductIdentifier = true;
    entry.vendorIdentifier = 0x525;
    entry.productIdentifier = 0x27a;
    QVERIFY(PortRegistry::writeEntry(dir.path(), entry));
    QCOMPARE(
        WindowTest::readFile(dir.filePath("b.port")), QByteArray("device=/dev/pts/9\nvid=0525\npid=027A\n"));
    // An entry whose writer has died is left over, not a port; so are broken and unfinished ones.
    QProcess finished;
    finished.start("true", QStringList());
    QVERIFY(finished.waitForFinished());
    const QList<QPair<QString, QByteArray>> files {
        { "stale.port", "device=/dev/pts/8\nowner=" + QByteArray::number(finished.processId()) },
        { "a.port", "device=/dev/pts/1\nowner=" + QByteArray::number(QCoreApplication::applicationPid()) },
        { "broken.port", "vid=zzzz\n" }, { "c.port.tmp1", "device=/dev/pts/3\n" }
    };
    for (const auto &file : files) {
        QFile f(dir.filePath(file.first));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file.second + '\n') > 0);
    }
    QStringList names;
    for (const PortRegistry::Entry &e : PortRegistry::readEntries(dir.path()))
        names << e.name;
    QCOMPARE(names, QStringList({ "a", "b" }));
    entry.name = "../escape";
    QVERIFY(!PortRegistry::writeEntry(dir.path(), entry));
}

void DeviceTest::plugUnplugReplug_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("removedType");
    QTest::addColumn<int>("hangup"); // -2: a clean unplug; else ms until the entry goes (-1: never)
    QTest::newRow("m20") << QStringList { "--model", "m20" } << 3 << 12 << -2;
    QTest::newRow("bootloader keeps its type") << QStringList { "--model", "bootloader" } << 1 << 1 << -2;
    QTest::newRow("m20 alternate ids, link dies first")
        << QStringList { "--model", "m20", "--vid", "0525", "--pid", "A4A7" } << 3 << 12 << 300;
    QTest::newRow("m10 stale entry") << QStringList { "--model", "m10" } << 2 << 11 << -1;
    QTest::newRow("unknown product") << QStringList { "--pid", "1234" } << 0 << 0 << 0;
}

// A camera plugged before or after the link starts is opened; unplugged, it
// is reported once as removed, and plugged again it opens again.
void DeviceTest::plugUnplugReplug()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, type);
    QFETCH(int, removedType);
    QFETCH(int, hangup);
    for (bool pluggedFirst : { true, false }) {
        SimProcess sim;
        if (pluggedFirst)
            QVERIFY(sim.start(arguments));
        TofDevice device;
        QSignalSpy spy(&device, &TofDevice::deviceTypeChanged);
        // The type is announced while the link still reports the old name.
        QStringList namesSeen;
        connect(&device, &TofDevice::deviceTypeChanged, this, [&] { namesSeen << device.portName(); });
        if (!pluggedFirst) {
            QVERIFY(sim.start(arguments));
            if (type)
                QTRY_COMPARE(spy.size(), 1);
            else
                QTest::qWait(100);
            QCOMPARE(namesSeen, type ? QStringList { "NULL" } : QStringList());
        }
        QCOMPARE(int(device.deviceType()), type);
        QCOMPARE(device.portName(), type ? sim.name() : QStringLiteral("NULL"));
        QCOMPARE(device.serialPort()->isOpen(), type != 0);
        if (!type || !pluggedFirst)
            continue;

        QVERIFY(hangup == -2 ? sim.unplug() : sim.hangup(hangup));
        QTRY_COMPARE(device.portName(), QStringLiteral("NULL"));
        QVERIFY(!device.serialPort()->isOpen());
        QCOMPARE(int(device.deviceType()), removedType);
        if (hangup > 0)
            QTRY_VERIFY(!QFile::exists(PortRegistry::folderPath() + '/' + sim.name() + ".port"));
        QTest::qWait(50);
        QCOMPARE(spy.size(), type == removedType ? 0 : 1); // once, even when the entry follows later
        // The main window resets the type after cleaning up; that emits nothing.
        device.setDeviceType(0);
        QVERIFY(sim.plug());
        QTRY_COMPARE(int(device.deviceType()), type);
        QCOMPARE(device.portName(), sim.name());
        device.serialPort()->write(Commands::camera(Commands::StopStreaming));
        QVERIFY(sim.waitForTranscript("23 23 03"));
    }
}

// The first camera opens, a second link takes the next, and writes and replies
// cross the link whole in any pieces. (Other ports coming and going: the main
// window's test; the camera turning into its bootloader: the firmware window's.)
void DeviceTest::firstCameraTalks()
{
    // Registry entries are scanned in name order: "a-..." first.
    const QString suffix = QString::number(QCoreApplication::applicationPid());
    SimProcess first, second;
    QVERIFY(first.start({ "--name", "a-" + suffix, "--model", "m10", "--chunk", "3", "--chunk-gap", "20" }));
    QVERIFY(second.start({ "--name", "b-" + suffix, "--model", "m20" }));
    TofDevice device;
    QCOMPARE(int(device.deviceType()), 2);
    QSerialPort *port = device.serialPort();
    QCOMPARE(port->portName(), first.ttyPath().mid(5));
    TofDevice other;
    QCOMPARE(int(other.deviceType()), 3);
    QCOMPARE(other.portName(), second.name());
    TofDevice third;
    QCOMPARE(int(third.deviceType()), 0);

    port->write(Commands::parameter(Commands::DistanceOffsetPrefix, -300));
    port->write("\xAB", 1);
    port->write(QByteArray::fromHex("2828E80310271027102710"));
    port->write(QByteArray::fromHex("27"));
    QVERIFY(first.waitForTranscript("28 28 E8 03 10 27 10 27 10 27 10 27"));
    QCOMPARE(
        first.transcript(), QStringList({ "29 29 FF D4", "? AB", "28 28 E8 03 10 27 10 27 10 27 10 27" }));
    QByteArray received;
    connect(port, &QSerialPort::readyRead, this, [&] { received += port->readAll(); });
    first.control("send 01 02 03 04 05 06 07 2A 23 23 2A");
    QTRY_COMPARE(received, QByteArray::fromHex("010203040506072A23232A"));
}

QTEST_MAIN(DeviceTest)
#include "tst_device.moc"
