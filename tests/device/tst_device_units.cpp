#include "device/Commands.h"
#include "device/PortRegistry.h"
#include "device/PortRegistryWatcher.h"
#include "device/SerialPortLock.h"
#include "device/UsbIds.h"
#include "sim/CommandFramer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class DeviceUnitsTest : public QObject
{
    Q_OBJECT

private slots:
    void classify_data();
    void classify();
    void parameterEncoding_data();
    void parameterEncoding();
    void parseEntry_data();
    void parseEntry();
    void entryRoundTripAndAtomicWrite();
    void readEntriesSkipsMalformed();
    void folderPath();
    void watcherReportsArrivalRemovalAndReplacement();
    void lockFileName();
    void framer_data();
    void framer();
    void framerWaitsForSplitCommands();
    void framerRawPackets();
};

void DeviceUnitsTest::classify_data()
{
    QTest::addColumn<bool>("hasVid");
    QTest::addColumn<int>("vid");
    QTest::addColumn<bool>("hasPid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("type");

    QTest::newRow("bootloader") << true << 0x205F << true << 0x027A << 1;
    QTest::newRow("m10") << true << 0x205F << true << 0x027B << 2;
    QTest::newRow("m20") << true << 0x205F << true << 0x0294 << 3;
    QTest::newRow("m20 alternate product") << true << 0x205F << true << 0xA4A7 << 3;
    QTest::newRow("alternate vendor, m20") << true << 0x0525 << true << 0x0294 << 3;
    QTest::newRow("alternate vendor and product") << true << 0x0525 << true << 0xA4A7 << 3;
    QTest::newRow("our vendor, unknown product") << true << 0x205F << true << 0x027C << 0;
    QTest::newRow("other vendor, our product") << true << 0x2060 << true << 0x027B << 0;
    QTest::newRow("no vendor") << false << 0x205F << true << 0x027B << 0;
    QTest::newRow("no product") << true << 0x205F << false << 0x027B << 0;
}

void DeviceUnitsTest::classify()
{
    QFETCH(bool, hasVid);
    QFETCH(int, vid);
    QFETCH(bool, hasPid);
    QFETCH(int, pid);
    QFETCH(int, type);
    QCOMPARE(int(UsbIds::classify(hasVid, quint16(vid), hasPid, quint16(pid))), type);
}

void DeviceUnitsTest::parameterEncoding_data()
{
    QTest::addColumn<int>("prefix");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("-300") << 0x29 << -300 << QByteArray::fromHex("2929FFD4");
    QTest::newRow("-2") << 0x29 << -2 << QByteArray::fromHex("292900FE");
    QTest::newRow("300") << 0x29 << 300 << QByteArray::fromHex("2929012C");
    QTest::newRow("integration 300") << 0x24 << 300 << QByteArray::fromHex("2424012C");
    QTest::newRow("65535") << 0x25 << 65535 << QByteArray::fromHex("2525FFFF");
    QTest::newRow("hdr 2000") << 0x27 << 2000 << QByteArray::fromHex("272707D0");
}

void DeviceUnitsTest::parameterEncoding()
{
    QFETCH(int, prefix);
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Commands::parameter(char(prefix), value).toHex(' '), bytes.toHex(' '));
}

void DeviceUnitsTest::parseEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("vid"); // -1: not reported
    QTest::addColumn<int>("pid");

    QTest::newRow("complete") << "cam" << QByteArray("device=/dev/pts/4\nvid=205F\npid=027B\n") << true
                              << "/dev/pts/4" << 0x205F << 0x027B;
    QTest::newRow("lower case, blanks, CRLF, unknown key")
        << "cam" << QByteArray(" device = /dev/pts/4 \r\nvid=0525\r\npid=a4a7\r\nowner=123\r\n") << true
        << "/dev/pts/4" << 0x0525 << 0xA4A7;
    QTest::newRow("no identifiers") << "cam" << QByteArray("device=/dev/pts/4\n") << true << "/dev/pts/4"
                                    << -1 << -1;
    QTest::newRow("no device") << "cam" << QByteArray("vid=205F\npid=027B\n") << false << "" << 0 << 0;
    QTest::newRow("relative device") << "cam" << QByteArray("device=pts/4\nvid=205F\npid=027B\n") << false
                                     << "" << 0 << 0;
    QTest::newRow("line without equals")
        << "cam" << QByteArray("device=/dev/pts/4\nvid\n") << false << "" << 0 << 0;
    QTest::newRow("vid too long") << "cam" << QByteArray("device=/dev/pts/4\nvid=1205F\npid=027B\n") << false
                                  << "" << 0 << 0;
    QTest::newRow("signed pid") << "cam" << QByteArray("device=/dev/pts/4\nvid=205F\npid=-27B\n") << false
                                << "" << 0 << 0;
    QTest::newRow("repeated key") << "cam" << QByteArray("device=/dev/a\ndevice=/dev/b\n") << false << "" << 0
                                  << 0;
    QTest::newRow("NUL in device") << "cam" << QByteArray("device=/dev/pts/4\x00junk\nvid=205F\n", 32)
                                   << false << "" << 0 << 0;
    QTest::newRow("binary junk") << "cam" << QByteArray("\x00\xff\x01=", 4) << false << "" << 0 << 0;
    QTest::newRow("oversized") << "cam"
                               << (QByteArray("device=/dev/pts/4\n")
                                      + QByteArray(PortRegistry::MaxEntrySize, ' '))
                               << false << "" << 0 << 0;
    QTest::newRow("empty name") << "" << QByteArray("device=/dev/pts/4\n") << false << "" << 0 << 0;
    QTest::newRow("name with slash") << "a/b" << QByteArray("device=/dev/pts/4\n") << false << "" << 0 << 0;
}

void DeviceUnitsTest::parseEntry()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    PortRegistry::Entry entry;
    QCOMPARE(PortRegistry::parseEntry(name, content, &entry), valid);
    if (!valid)
        return;
    QFETCH(QString, device);
    QFETCH(int, vid);
    QFETCH(int, pid);
    QCOMPARE(entry.name, name);
    QCOMPARE(entry.device, device);
    QCOMPARE(entry.hasVendorIdentifier, vid >= 0);
    QCOMPARE(entry.hasProductIdentifier, pid >= 0);
    if (vid >= 0)
        QCOMPARE(int(entry.vendorIdentifier), vid);
    if (pid >= 0)
        QCOMPARE(int(entry.productIdentifier), pid);
}

void DeviceUnitsTest::entryRoundTripAndAtomicWrite()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("deep/ports"));
    PortRegistry::Entry entry;
    entry.name = QStringLiteral("kavrix-sim-1");
    entry.device = QStringLiteral("/dev/pts/9");
    entry.hasVendorIdentifier = entry.hasProductIdentifier = true;
    entry.vendorIdentifier = 0x525;
    entry.productIdentifier = 0x27a;
    QVERIFY(PortRegistry::writeEntry(folder, entry));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { QStringLiteral("kavrix-sim-1.port") });

    QFile file(QDir(folder).filePath(QStringLiteral("kavrix-sim-1.port")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("device=/dev/pts/9\nvid=0525\npid=027A\n"));

    const QList<PortRegistry::Entry> entries = PortRegistry::readEntries(folder);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].device, entry.device);
    QCOMPARE(entries[0].productIdentifier, entry.productIdentifier);

    QVERIFY(PortRegistry::removeEntry(folder, entry.name));
    QVERIFY(PortRegistry::readEntries(folder).isEmpty());
    entry.name = QStringLiteral("../escape");
    QVERIFY(!PortRegistry::writeEntry(folder, entry));
}

void DeviceUnitsTest::readEntriesSkipsMalformed()
{
    QTemporaryDir dir;
    auto write = [&](const QString &fileName, const QByteArray &content) {
        QFile file(dir.filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    write(QStringLiteral("b.port"), "device=/dev/pts/2\nvid=205F\npid=0294\n");
    write(QStringLiteral("a.port"), "device=/dev/pts/1\nvid=205F\npid=027B\n");
    write(QStringLiteral("broken.port"), "vid=zzzz\n");
    write(QStringLiteral("bad-owner.port"), "device=/dev/pts/6\nowner=me\n");
    write(QStringLiteral("mine.port"),
        "device=/dev/pts/7\nowner=" + QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    // An entry whose writer has died is left over, not a port.
    QProcess finished;
    finished.start(QStringLiteral("true"), QStringList());
    QVERIFY(finished.waitForStarted());
    const qint64 deadPid = finished.processId();
    QVERIFY(deadPid > 0);
    QVERIFY(finished.waitForFinished());
    write(QStringLiteral("stale.port"), "device=/dev/pts/8\nowner=" + QByteArray::number(deadPid) + '\n');
    write(QStringLiteral("c.port.tmp123"), "device=/dev/pts/3\nvid=205F\npid=027B\n");
    write(QStringLiteral(".port"), "device=/dev/pts/5\n");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d.port")));

    const QList<PortRegistry::Entry> entries = PortRegistry::readEntries(dir.path());
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].name, QStringLiteral("a"));
    QCOMPARE(entries[1].name, QStringLiteral("b"));
    QCOMPARE(entries[2].name, QStringLiteral("mine"));
    QCOMPARE(entries[2].ownerPid, QCoreApplication::applicationPid());
    QVERIFY(PortRegistry::readEntries(dir.filePath(QStringLiteral("missing"))).isEmpty());
}

void DeviceUnitsTest::folderPath()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234");
    QCOMPARE(PortRegistry::folderPath(), QStringLiteral("/run/user/1234/quarvel/ports"));
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(PortRegistry::folderPath(), QStringLiteral("/tmp/quarvel-%1/ports").arg(::getuid()));
    qputenv("XDG_RUNTIME_DIR", saved);
}

void DeviceUnitsTest::watcherReportsArrivalRemovalAndReplacement()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ports"));
    PortRegistryWatcher watcher(folder);
    QVERIFY(QFileInfo(folder).isDir()); // created when missing
    QSignalSpy added(&watcher, &PortRegistryWatcher::portAdded);
    QSignalSpy removed(&watcher, &PortRegistryWatcher::portRemoved);

    PortRegistry::Entry entry;
    entry.name = QStringLiteral("cam");
    entry.device = QStringLiteral("/dev/pts/1");
    QVERIFY(PortRegistry::writeEntry(folder, entry));
    QTRY_COMPARE(added.size(), 1);
    QCOMPARE(added[0][0].toString(), QStringLiteral("cam"));

    // Gone and back before anyone looked: still a removal, then an arrival.
    QVERIFY(PortRegistry::writeEntry(folder, entry));
    watcher.rescan();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(added.size(), 2);

    QFile other(QDir(folder).filePath(QStringLiteral("notes.txt")));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();
    QVERIFY(PortRegistry::removeEntry(folder, QStringLiteral("cam")));
    QTRY_COMPARE(removed.size(), 2);
    QCOMPARE(removed[1][0].toString(), QStringLiteral("cam"));
    QTest::qWait(50);
    QCOMPARE(added.size(), 2);

    PortRegistryWatcher::Snapshot before { { QStringLiteral("a"), "1" }, { QStringLiteral("b"), "2" } };
    PortRegistryWatcher::Snapshot after { { QStringLiteral("b"), "3" }, { QStringLiteral("c"), "4" } };
    QStringList gone, arrived;
    PortRegistryWatcher::diff(before, after, &gone, &arrived);
    QCOMPARE(gone, (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
    QCOMPARE(arrived, (QStringList { QStringLiteral("b"), QStringLiteral("c") }));
}

void DeviceUnitsTest::lockFileName()
{
    QCOMPARE(SerialPortLock::lockFileName(QStringLiteral("/dev/ttyACM0")), QStringLiteral("LCK..ttyACM0"));
    QCOMPARE(SerialPortLock::lockFileName(QStringLiteral("/dev/pts/7")), QStringLiteral("LCK..pts_7"));
    QVERIFY(!SerialPortLock::isBusy(QStringLiteral("/dev/quarvel-no-such-tty")));
}

void DeviceUnitsTest::framer_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("items"); // "c:" command, "g:" garbage, in hex
    QTest::addColumn<int>("left");

    QTest::newRow("camera commands") << QByteArray::fromHex("232302232333")
                                     << QStringList { "c:232302", "c:232333" } << 0;
    QTest::newRow("lens") << QByteArray::fromHex("2828E803102710271027102723")
                          << QStringList { "c:2828e80310271027102710"
                                           "27" }
                          << 1;
    QTest::newRow("bootloader") << QByteArray::fromHex("2222012222020000123422220522220B")
                                << QStringList { "c:222201", "c:22220200001234", "c:222205", "c:22220b" }
                                << 0;
    QTest::newRow("garbage between") << QByteArray::fromHex("4142232302FF2324232303")
                                     << QStringList { "g:4142", "c:232302", "g:ff2324", "c:232303" } << 0;
    QTest::newRow("lone prefix waits") << QByteArray::fromHex("23230523") << QStringList { "c:232305" } << 1;
    QTest::newRow("unknown prefix pair")
        << QByteArray::fromHex("262626232301") << QStringList { "g:262626", "c:232301" } << 0;
}

static QStringList drain(CommandFramer &framer)
{
    QStringList items;
    for (;;) {
        const CommandFramer::Item item = framer.next(0);
        if (item.kind == CommandFramer::None)
            return items;
        items << QString::fromLatin1(
            (item.kind == CommandFramer::Command ? "c:" : "g:") + item.bytes.toHex());
    }
}

void DeviceUnitsTest::framer()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, items);
    QFETCH(int, left);
    CommandFramer framer;
    framer.append(input);
    QCOMPARE(drain(framer), items);
    QCOMPARE(framer.bufferedBytes(), left);
}

void DeviceUnitsTest::framerWaitsForSplitCommands()
{
    const QByteArray stream = QByteArray::fromHex("2929FFD42222020000FFFF232333282801020304050607080910");
    CommandFramer whole;
    whole.append(stream);
    const QStringList expected = drain(whole);
    QCOMPARE(expected.size(), 4);

    // Any split into reads gives the same commands.
    for (int cut = 1; cut < stream.size(); ++cut) {
        CommandFramer framer;
        framer.append(stream.left(cut));
        QStringList got = drain(framer);
        framer.append(stream.mid(cut));
        got += drain(framer);
        QCOMPARE(got, expected);
    }
}

void DeviceUnitsTest::framerRawPackets()
{
    CommandFramer framer;
    QByteArray packet(64, '\x23'); // raw data may look like commands
    framer.append(packet.left(40));
    QCOMPARE(framer.next(64).kind, CommandFramer::None);
    framer.append(packet.mid(40) + QByteArray::fromHex("22220B"));
    const CommandFramer::Item raw = framer.next(64);
    QCOMPARE(raw.kind, CommandFramer::Raw);
    QCOMPARE(raw.bytes, packet);
    const CommandFramer::Item command = framer.next(0);
    QCOMPARE(command.kind, CommandFramer::Command);
    QCOMPARE(command.bytes, QByteArray::fromHex("22220B"));
    framer.append("abc");
    QCOMPARE(framer.takeRemainder(), QByteArray("abc"));
    QCOMPARE(framer.bufferedBytes(), 0);
}

QTEST_GUILESS_MAIN(DeviceUnitsTest)
#include "tst_device_units.moc"
