#include "device/PortRegistry.h"
#include "tests/support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// The simulator's own contract: registry entries, transcript, control lines,
// signals and output pacing, seen from a plain serial port.
class SimCoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void publishesAndWithdrawsRegistryEntry();
    void transcriptRecordsEveryItem();
    void garbageIsFlushedWhenTheLinkGoesQuiet();
    void reenumerationChangesProductAndDropsOverride();
    void firmwareCommandInBootloaderDoesNothing();
    void controlErrorsAreReported();
    void signalsPlugUnplugAndQuit();
    void closedControlChannelKeepsRunning();
    void largeOutputArrivesIntactThroughChunking();
    void unreadStdoutDoesNotStallTheCamera();

private:
    SimProcess *newSim();
    bool openPort(SimProcess *sim);
    static PortRegistry::Entry entryOf(const QString &name);

    QString m_folder;
    QList<SimProcess *> m_sims;
    std::unique_ptr<QSerialPort> m_port;
};

void SimCoreTest::initTestCase()
{
    m_folder = isolateRegistry();
}

void SimCoreTest::cleanup()
{
    m_port.reset();
    qDeleteAll(m_sims);
    m_sims.clear();
}

SimProcess *SimCoreTest::newSim()
{
    m_sims.append(new SimProcess);
    return m_sims.last();
}

bool SimCoreTest::openPort(SimProcess *sim)
{
    m_port = std::make_unique<QSerialPort>(sim->ttyPath());
    return m_port->open(QIODevice::ReadWrite);
}

PortRegistry::Entry SimCoreTest::entryOf(const QString &name)
{
    for (const PortRegistry::Entry &entry : PortRegistry::readEntries(PortRegistry::folderPath())) {
        if (entry.name == name)
            return entry;
    }
    return {};
}

void SimCoreTest::publishesAndWithdrawsRegistryEntry()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m20", "--unplugged" }));
    QVERIFY(!sim->isPlugged());
    QVERIFY(entryOf(sim->name()).name.isEmpty());

    QVERIFY(sim->plug());
    const PortRegistry::Entry entry = entryOf(sim->name());
    QCOMPARE(entry.device, sim->ttyPath());
    QVERIFY(entry.device.startsWith(QLatin1String("/dev/pts/")));
    QCOMPARE(entry.vendorIdentifier, quint16(0x205F));
    QCOMPARE(entry.productIdentifier, quint16(0x0294));
    // Only the finished entry is ever visible.
    QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList { sim->name() + ".port" });

    QVERIFY(sim->unplug());
    QVERIFY(entryOf(sim->name()).name.isEmpty());
    QVERIFY(sim->plug());
    QVERIFY(!entryOf(sim->name()).name.isEmpty());
    sim->control(QStringLiteral("quit"));
    QVERIFY(sim->waitForExit());
    QCOMPARE(sim->exitCode(), 0);
    QVERIFY(QDir(m_folder).entryList(QDir::Files).isEmpty());
}

void SimCoreTest::transcriptRecordsEveryItem()
{
    QTemporaryDir dir;
    const QString transcriptPath = dir.filePath(QStringLiteral("rx.txt"));
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--transcript", transcriptPath }));
    QVERIFY(openPort(sim));

    m_port->write(QByteArray::fromHex("41422323052929FFD4222202000001F4"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("22 22 02 00 00 01 F4")));
    // A command split over several writes waits for its last byte.
    m_port->write(QByteArray::fromHex("23"));
    QTest::qWait(60);
    m_port->write(QByteArray::fromHex("2303"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 03")));
    // An incomplete command cut off by the unplug is kept as garbage.
    m_port->write(QByteArray::fromHex("242401"));
    QVERIFY(m_port->waitForBytesWritten(1000));
    QTest::qWait(60);
    QVERIFY(sim->unplug());

    const QStringList expected { "? 41 42", "23 23 05", "29 29 FF D4", "22 22 02 00 00 01 F4", "23 23 03",
        "? 24 24 01" };
    QCOMPARE(sim->transcript(), expected);
    QFile file(transcriptPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(file.readAll()), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void SimCoreTest::garbageIsFlushedWhenTheLinkGoesQuiet()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start());
    QVERIFY(openPort(sim));
    m_port->write(QByteArray::fromHex("FFFE2A"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("? FF FE 2A")));
    m_port->write(QByteArray::fromHex("232304"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 04")));
    QCOMPARE(sim->transcript().size(), 2);
}

void SimCoreTest::reenumerationChangesProductAndDropsOverride()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "m20", "--pid", "A4A7", "--vid", "0525" }));
    QCOMPARE(entryOf(sim->name()).productIdentifier, quint16(0xA4A7));

    QVERIFY(sim->reenumerate(QStringLiteral("bootloader"), 30));
    PortRegistry::Entry entry = entryOf(sim->name());
    QCOMPARE(entry.productIdentifier, quint16(0x027A));
    QCOMPARE(entry.vendorIdentifier, quint16(0x0525));
    QVERIFY(sim->events().contains(QStringLiteral("unplugged %1").arg(sim->name())));

    QVERIFY(sim->reenumerate(QStringLiteral("m10")));
    QCOMPARE(entryOf(sim->name()).productIdentifier, quint16(0x027B));
    sim->control(QStringLiteral("status"));
    QVERIFY(sim->waitForEvent(QStringLiteral("status plugged %1 m10 %2").arg(sim->name(), sim->ttyPath())));
}

void SimCoreTest::firmwareCommandInBootloaderDoesNothing()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--model", "bootloader" }));
    QVERIFY(openPort(sim));
    m_port->write(QByteArray::fromHex("232333"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 33")));
    QTest::qWait(400);
    QCOMPARE(sim->pluggedCount(), 1);
    QVERIFY(sim->isPlugged());
}

void SimCoreTest::controlErrorsAreReported()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start());
    sim->control(QStringLiteral("frobnicate now"));
    QVERIFY(sim->waitForEvent(QStringLiteral("error unknown control line: frobnicate now")));
    sim->control(QStringLiteral("reenumerate m30"));
    QVERIFY(sim->waitForEvent(QStringLiteral("error bad arguments: reenumerate m30")));
    sim->control(QStringLiteral("send 0"));
    QVERIFY(sim->waitForEvent(QStringLiteral("error bad arguments: send 0")));
    QVERIFY(sim->isPlugged());
}

void SimCoreTest::signalsPlugUnplugAndQuit()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start());
    const auto pid = pid_t(sim->processId());

    ::kill(pid, SIGUSR1);
    QTRY_VERIFY(!sim->isPlugged());
    QVERIFY(entryOf(sim->name()).name.isEmpty());
    ::kill(pid, SIGUSR2);
    QTRY_VERIFY(sim->isPlugged());
    QVERIFY(!entryOf(sim->name()).name.isEmpty());
    ::kill(pid, SIGTERM);
    QVERIFY(sim->waitForExit());
    QCOMPARE(sim->exitCode(), 0);
    QVERIFY(entryOf(sim->name()).name.isEmpty());
}

void SimCoreTest::closedControlChannelKeepsRunning()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start());
    sim->closeControl();
    QTest::qWait(200);
    QVERIFY(sim->isRunning());
    QVERIFY(openPort(sim));
    m_port->write(QByteArray::fromHex("232302"));
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 02")));
    ::kill(pid_t(sim->processId()), SIGINT);
    QVERIFY(sim->waitForExit());
    QVERIFY(entryOf(sim->name()).name.isEmpty());
}

void SimCoreTest::largeOutputArrivesIntactThroughChunking()
{
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--chunk", "4096", "--chunk-random", "7", "--chunk-gap", "0" }));
    QVERIFY(openPort(sim));
    // A small read buffer makes the port stop taking bytes, so the terminal fills up.
    m_port->setReadBufferSize(1024);

    QByteArray payload(300000, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7 + i / 251) & 0xFF);
    // Nobody reads for a while: the simulator must queue, not block or drop.
    sim->control(QStringLiteral("send ") + QString::fromLatin1(payload.toHex()));
    QTest::qWait(100);
    sim->control(QStringLiteral("status"));
    QVERIFY(sim->waitForEvent(QStringLiteral("status plugged")));

    QByteArray received;
    int reads = 0;
    connect(m_port.get(), &QSerialPort::readyRead, this, [&] {
        received += m_port->readAll();
        ++reads;
    });
    received += m_port->readAll();
    QTRY_VERIFY_WITH_TIMEOUT(received.size() >= payload.size(), 10000);
    QCOMPARE(received.size(), payload.size());
    QVERIFY(received == payload);
    QVERIFY(reads > 1);
}

void SimCoreTest::unreadStdoutDoesNotStallTheCamera()
{
    QTemporaryDir dir;
    const QString transcriptPath = dir.filePath(QStringLiteral("rx.txt"));
    SimProcess *sim = newSim();
    QVERIFY(sim->start({ "--transcript", transcriptPath }));
    QVERIFY(openPort(sim));

    // Far more transcript lines than a pipe holds, while this process does not
    // run its event loop (so nobody reads the simulator's stdout).
    QByteArray commands;
    for (int i = 0; i < 12000; ++i)
        commands += QByteArray::fromHex("232302");
    commands += QByteArray::fromHex("232303");
    m_port->write(commands);
    QVERIFY(m_port->waitForBytesWritten(5000));
    while (m_port->bytesToWrite() > 0)
        QVERIFY(m_port->waitForBytesWritten(5000));

    QFile transcript(transcriptPath);
    bool finished = false;
    for (int waited = 0; waited < 5000 && !finished; waited += 20) {
        QTest::qSleep(20);
        QVERIFY(transcript.open(QIODevice::ReadOnly));
        finished = transcript.readAll().endsWith("23 23 03\n");
        transcript.close();
    }
    QVERIFY(finished);
    QVERIFY(sim->waitForTranscript(QStringLiteral("23 23 03")));
    QCOMPARE(sim->transcript().size(), 12001);
}

QTEST_MAIN(SimCoreTest)
#include "tst_sim_core.moc"
