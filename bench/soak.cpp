// Soak: the real main window streaming from a simulated "Kavrix M20" at 60
// frames/s over a hostile link (random write sizes, garbage between frames,
// marker bytes inside the pixel data) while the user logs a frame every few
// seconds, changes the frame type, the filter and the flips, and pulls the
// cable halfway through. Nothing may crash, every log reported as written must
// be on disk whole, and the peak resident set may grow by less than 50 MB.
// 40 s unless QUARVEL_SOAK_SECONDS says otherwise; the figures are printed as a
// "soak:" line. scripts/bench-report.sh runs it on the offscreen platform (the
// point cloud's software renderer stays out of the measurement).
#include "app/MainWindow.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/support/WindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using namespace WindowTest;

// AddressSanitizer keeps freed memory in quarantine, so the resident set grows
// by design there; LeakSanitizer checks for leaks instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryIsMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MemoryIsMeasurable = false;
#else
constexpr bool MemoryIsMeasurable = true;
#endif
#else
constexpr bool MemoryIsMeasurable = true;
#endif

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when unknown.
static qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void soak();
};

void TestSoak::soak()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const int seconds = qMax(10,
        qEnvironmentVariableIsSet("QUARVEL_SOAK_SECONDS")
            ? qEnvironmentVariableIntValue("QUARVEL_SOAK_SECONDS")
            : 40);
    Rig rig;
    QVERIFY(rig.start({ "--model", "m20", "--fps", "60", "--chunk", "8000", "--chunk-random", "42",
        "--chunk-gap", "0", "--garbage", "300", "--marker-in-data" }));
    auto queryAndStart = [&] {
        return rig.waitUntil([&] { return rig.find<QPushButton>("pushButtonGetInfo")->isEnabled(); }, 5000)
            && !rig.press("pushButtonGetInfo").filter("Working dir created to: ").isEmpty()
            && (rig.click("pushButtonStart"), deviceState().isStreaming == 1);
    };
    QVERIFY(queryAndStart());
    auto *frameType = rig.find<QComboBox>("comboBoxFrameType");
    auto *filter = rig.find<QComboBox>("comboBoxKalmanFilter");
    auto *flipH = rig.find<QCheckBox>("checkBoxHorizontalFlip");
    auto *flipV = rig.find<QCheckBox>("checkBoxVerticalFlip");
    // Every frame type once first, so one-time allocations are in the baseline.
    for (int index : { 0, 2, 3, 1 }) {
        frameType->setCurrentIndex(index);
        QVERIFY(rig.waitFrames(5));
    }
    const qint64 peakStartKb = statusKb("VmHWM");

    static const QRegularExpression report(QStringLiteral("^Log(\\d+): (.*)$"));
    int seen = rig.lines().size();
    QStringList reports;
    int requests = 0;
    bool outstanding = false;
    bool replugged = false;
    auto collect = [&] {
        const QStringList lines = rig.lines();
        for (int i = seen; i < lines.size(); ++i) {
            if (report.match(lines[i]).hasMatch() || lines[i].contains("failed")) {
                reports << lines[i];
                outstanding = false;
            }
        }
        seen = lines.size();
    };
    QElapsedTimer clock;
    clock.start();
    for (qint64 tick = 0; clock.elapsed() < seconds * 1000; ++tick) {
        pump(20);
        collect();
        if (!replugged && clock.elapsed() >= seconds * 500) {
            QVERIFY(rig.sim->unplug());
            QVERIFY(rig.waitType(TofDevice::NoDevice));
            QCOMPARE(deviceState().isStreaming, 0);
            pump(500);
            QVERIFY(rig.sim->plug());
            QVERIFY(rig.waitType(TofDevice::KavrixM20));
            QVERIFY(queryAndStart());
            replugged = true;
        }
        // One log request at a time: a second press before a frame would replace the first.
        if (tick % 150 == 50 && !outstanding && deviceState().isStreaming == 1) {
            rig.click("pushButtonLogData");
            ++requests;
            outstanding = true;
        }
        if (tick % 200 == 100)
            frameType->setCurrentIndex((frameType->currentIndex() + 1) % 4);
        if (tick % 250 == 150)
            filter->setCurrentIndex((filter->currentIndex() + 1) % 4);
        if (tick % 175 == 75)
            (tick % 350 == 75 ? flipH : flipV)->click();
    }
    QVERIFY(!outstanding || rig.waitUntil([&] { return collect(), !outstanding; }));
    rig.click("pushButtonStart");
    const qint64 peakEndKb = statusKb("VmHWM");
    qInfo("soak: %d s, %d frames shown, %d logs, peak RSS %lld kB -> %lld kB", seconds,
        int(rig.frames->size()), requests, peakStartKb, peakEndKb);

    // Every request was answered, and every answer is on disk whole.
    QVERIFY(replugged && requests >= 3);
    QCOMPARE(reports.size(), requests);
    const QDir folder(rig.workingDir());
    for (const QString &line : qAsConst(reports)) {
        QVERIFY2(line.contains(": data and image saved"), qPrintable(line));
        const QString name = line.section(':', 0, 0);
        const QList<QByteArray> raw = readFile(folder.filePath(name + ".txt")).split('\n');
        QCOMPARE(raw.size(), 320 * 240 + 1);
        QVERIFY(raw.last().isEmpty() && raw.first().endsWith(' '));
        QCOMPARE(QImage(folder.filePath(name + ".png")).size(), QSize(320, 240));
    }
    const QStringList pcds = folder.entryList({ "*.pcd" });
    QVERIFY(!pcds.isEmpty());
    for (const QString &pcd : pcds)
        QCOMPARE(readFile(folder.filePath(pcd)).count('\n'), 11 + 320 * 240);
    // Nothing half-written is left behind.
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\.")), QStringList());
    if (MemoryIsMeasurable)
        QVERIFY2(peakEndKb - peakStartKb < 50 * 1024, qPrintable(QString::number(peakEndKb - peakStartKb)));
}

QTEST_MAIN(TestSoak)
#include "soak.moc"
