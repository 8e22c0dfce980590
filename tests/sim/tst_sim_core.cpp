// The simulator's own contract: its command framing, and registry entries that
// follow plugging, signals and re-enumeration. Its transcript and output are
// checked by every test that drives it.
#include "device/PortRegistry.h"
#include "sim/CommandFramer.h"
#include "tests/support/SimProcess.h"

#include <QDir>
#include <QTest>

#include <csignal>

class SimCoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_folder = isolateRegistry(); }
    void framer_data();
    void framer();
    void registryEntryFollowsPlugging();

private:
    static PortRegistry::Entry entryOf(const QString &name)
    {
        const QList<PortRegistry::Entry> entries = PortRegistry::readEntries(PortRegistry::folderPath());
        auto it = std::find_if(
            entries.begin(), entries.end(), [&](const PortRegistry::Entry &e) { return e.name == name; });
        return it == entries.end() ? PortRegistry::Entry() : *it;
    }
    QString m_folder;
};

void SimCoreTest::framer_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("items"); // "c:" command, "g:" garbage, in hex
    QTest::addColumn<int>("left");
    QTest::newRow("camera") << QByteArray::fromHex("232302232333") << QStringList { "c:232302", "c:232333" }
                            << 0;
    QTest::newRow("lens") << QByteArray::fromHex("2828E80310271027102710272323")
                          << QStringList { "c:2828e8031027102710271027" } << 2;
    QTest::newRow("bootloader") << QByteArray::fromHex("2222012222020000123422220B")
                                << QStringList { "c:222201", "c:22220200001234", "c:22220b" } << 0;
    QTest::newRow("garbage between") << QByteArray::fromHex("4142232302FF2324262626292900FE")
                                     << QStringList { "g:4142", "c:232302", "g:ff2324262626", "c:292900fe" }
                                     << 0;
}

void SimCoreTest::framer()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, items);
    QFETCH(int, left);
    // Any split into two reads gives the same commands.
    for (int cut = input.size(); cut >= 0; --cut) {
        CommandFramer framer;
        QStringList got;
        for (const QByteArray &piece : { input.left(cut), input.mid(cut) }) {
            framer.append(piece);
            for (CommandFramer::Item item; (item = framer.next(0)).kind != CommandFramer::None;)
                got << (item.kind == CommandFramer::Command ? "c:" : "g:")
                        + QString::fromLatin1(item.bytes.toHex());
        }
        QCOMPARE(got.filter(QRegExp("^c:")), items.filter(QRegExp("^c:")));
        if (cut == input.size()) {
            QCOMPARE(got, items);
            QCOMPARE(framer.bufferedBytes(), left);
        }
    }
}

void SimCoreTest::registryEntryFollowsPlugging()
{
    SimProcess sim;
    QVERIFY(sim.start({ "--model", "m20", "--unplugged", "--vid", "0525" }));
    QVERIFY(entryOf(sim.name()).name.isEmpty());
    QVERIFY(sim.plug());
    const PortRegistry::Entry entry = entryOf(sim.name());
    QCOMPARE(entry.device, sim.ttyPath());
    QCOMPARE(entry.vendorIdentifier, quint16(0x0525));
    QCOMPARE(entry.productIdentifier, quint16(0x0294));
    // Only the finished entry is ever visible.
    QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList { sim.name() + ".port" });
    // The vendor override stays, the product follows the model.
    QVERIFY(sim.reenumerate("bootloader", 30));
    QCOMPARE(entryOf(sim.name()).productIdentifier, quint16(0x027A));
    QCOMPARE(entryOf(sim.name()).vendorIdentifier, quint16(0x0525));
    QVERIFY(sim.reenumerate("m10"));
    QCOMPARE(entryOf(sim.name()).productIdentifier, quint16(0x027B));
    // Signals unplug, plug and end it; at the end no entry is left.
    const auto pid = pid_t(sim.processId());
    ::kill(pid, SIGUSR1);
    QTRY_VERIFY(!sim.isPlugged() && entryOf(sim.name()).name.isEmpty());
    ::kill(pid, SIGUSR2);
    QTRY_VERIFY(sim.isPlugged());
    ::kill(pid, SIGTERM);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(QDir(m_folder).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(SimCoreTest)
#include "tst_sim_core.moc"
