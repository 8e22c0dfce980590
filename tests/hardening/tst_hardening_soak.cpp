// Soak: the real main window (offscreen) streaming from a simulated "Kavrix
// M20" at 60 frames/s over a hostile link (random write sizes, garbage between
// frames, marker bytes inside the pixel data) while the user logs a frame every
// few seconds, changes the frame type, the filter and the flips, and pulls the
// cable halfway through. Nothing may crash, every log reported as written must
// be on disk whole and valid, and memory must stay flat.
//
// 40 s by default; QUARVEL_SOAK_SECONDS sets another duration. Figures are
// printed as "soak:" lines.

#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "tests/hardening/HardeningSupport.h"
#include "tests/support/SimProcess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Hardening;

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Pixels = Width * Height;
// Growth of the peak resident set that counts as a leak, not as noise.
constexpr qint64 GrossGrowthKb = 50 * 1024;

// AddressSanitizer keeps freed memory in quarantine (256 MB by default), so the
// resident set grows by design there; LeakSanitizer checks for leaks instead.
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

struct LogReport
{
    int index = 0;
    int pcdIndex = 0; // 0: no point cloud for this frame type
    QString line;
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void soak();

private:
    QPushButton *button(const char *name) const { return child<QPushButton>(window.get(), name); }
    // Reads the device information (which enables "Start" and creates the working folder) and starts
    // streaming.
    void queryAndStart();
    // New "LogN: ..." lines since the last call.
    QList<LogReport> newLogReports();
    void checkLogFiles(const LogReport &report);
    // The simulator's counters: frames sent, and frames it dropped because the host did not read.
    QPair<quint64, quint64> streamStats();

    std::unique_ptr<QTemporaryDir> dataDir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
    int infoLinesSeen = 0;
};

void TestSoak::initTestCase()
{
    isolateRegistry();
    // One debug line per frame ("... FPS") for a minute buries everything else.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    dataDir = std::make_unique<QTemporaryDir>();
    QVERIFY(dataDir->isValid());
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(dataDir->path()));
    deviceState() = DeviceState();
}

void TestSoak::cleanupTestCase()
{
    window.reset();
    device.reset();
    sim.reset();
    dataDir.reset();
}

void TestSoak::queryAndStart()
{
    QVERIFY(waitUntil([&] { return button("pushButtonGetInfo")->isEnabled(); }, 5000));
    const int before = infoLines(window.get()).size();
    button("pushButtonGetInfo")->click();
    const QStringList added = infoLines(window.get()).mid(before);
    QVERIFY2(
        !added.filter(QStringLiteral("Working dir created to: ")).isEmpty(), qPrintable(added.join('\n')));
    QVERIFY(button("pushButtonStart")->isEnabled());
    button("pushButtonStart")->click();
    QCOMPARE(deviceState().isStreaming, 1);
}

QList<LogReport> TestSoak::newLogReports()
{
    static const QRegularExpression pattern(QStringLiteral("^Log(\\d+): (.*)$"));
    static const QRegularExpression pcdIn(QStringLiteral("\\(point cloud in Log(\\d+)\\.pcd\\)"));
    const QStringList lines = infoLines(window.get());
    QList<LogReport> reports;
    for (int i = infoLinesSeen; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = pattern.match(lines[i]);
        if (match.hasMatch()) {
            LogReport report;
            report.index = match.captured(1).toInt();
            report.line = lines[i];
            if (!lines[i].contains(QStringLiteral("no point cloud"))) {
                const QRegularExpressionMatch other = pcdIn.match(lines[i]);
                report.pcdIndex = other.hasMatch() ? other.captured(1).toInt() : report.index;
            }
            reports << report;
        } else if (lines[i].contains(QStringLiteral("failed"))) {
            reports << LogReport { -1, 0, lines[i] };
        }
    }
    infoLinesSeen = lines.size();
    return reports;
}

void TestSoak::checkLogFiles(const LogReport &report)
{
    const QDir folder(deviceState().workingDir());
    const QString name = QStringLiteral("Log") + QString::number(report.index);

    QFile raw(folder.filePath(name + QStringLiteral(".txt")));
    QVERIFY2(raw.open(QIODevice::ReadOnly), qPrintable(raw.fileName()));
    const QList<QByteArray> rawLines = raw.readAll().split('\n');
    QCOMPARE(rawLines.size(), Pixels + 1);
    QVERIFY(rawLines.last().isEmpty());
    static const QRegularExpression rawLine(QStringLiteral("^\\d{1,5} $"));
    for (int i = 0; i < Pixels; i += 997)
        QVERIFY2(rawLine.match(QString::fromLatin1(rawLines[i])).hasMatch(), rawLines[i].constData());

    if (report.pcdIndex > 0) {
        QFile pcd(folder.filePath(QStringLiteral("Log%1.pcd").arg(report.pcdIndex)));
        QVERIFY2(pcd.open(QIODevice::ReadOnly), qPrintable(pcd.fileName()));
        const QList<QByteArray> lines = pcd.readAll().split('\n');
        QCOMPARE(lines.size(), 11 + Pixels + 1);
        QCOMPARE(lines[6], QByteArray("WIDTH 320"));
        QCOMPARE(lines[7], QByteArray("HEIGHT 240"));
        QCOMPARE(lines[9], QByteArray("POINTS 76800"));
        QCOMPARE(lines[10], QByteArray("DATA ascii"));
        static const QRegularExpression point(
            QStringLiteral("^-?\\d+\\.\\d{6} -?\\d+\\.\\d{6} -?\\d+\\.\\d{6}$"));
        for (int i = 11; i < 11 + Pixels; i += 997)
            QVERIFY2(point.match(QString::fromLatin1(lines[i])).hasMatch(), lines[i].constData());
        QVERIFY(lines.last().isEmpty());
    }

    const QImage png(folder.filePath(name + QStringLiteral(".png")));
    QVERIFY2(!png.isNull(), qPrintable(name));
    QCOMPARE(png.size(), QSize(Width, Height));
}

QPair<quint64, quint64> TestSoak::streamStats()
{
    const int before = sim->events().size();
    sim->control(QStringLiteral("stream stats"));
    const bool answered = waitUntil(
        [&] {
            return sim->events().size() > before
                && sim->events().last().startsWith(QLatin1String("stream stats"));
        },
        5000);
    if (!answered)
        return {};
    const QStringList words = sim->events().last().split(QLatin1Char(' '));
    return { words.value(3).toULongLong(), words.value(7).toULongLong() };
}

void TestSoak::soak()
{
    const int seconds = qEnvironmentVariableIsSet("QUARVEL_SOAK_SECONDS")
        ? qMax(10, qEnvironmentVariableIntValue("QUARVEL_SOAK_SECONDS"))
        : 40;
    const qint64 durationMs = qint64(seconds) * 1000;

    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->start({ "--model", "m20", "--fps", "60", "--chunk", "8000", "--chunk-random", "42",
        "--chunk-gap", "0", "--garbage", "300", "--marker-in-data" }));
    device = std::make_unique<TofDevice>();
    window = std::make_unique<MainWindow>(device.get());
    window->show();
    QCOMPARE(device->deviceType(), quint8(TofDevice::KavrixM20));
    QSignalSpy shown(window.get(), &MainWindow::pictureReady);

    queryAndStart();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(waitUntil([&] { return shown.size() >= 5; }));
    // Warm-up: every frame type once, so that one-time allocations (colour
    // tables, the point cloud's plot and its OpenGL context) are in the baseline.
    for (int index : { 0, 2, 3, 1 }) {
        child<QComboBox>(window.get(), "comboBoxFrameType")->setCurrentIndex(index);
        const int before = shown.size();
        QVERIFY(waitUntil([&] { return shown.size() >= before + 5; }));
    }
    const qint64 rssStartKb = statusKb("VmRSS");
    const qint64 peakStartKb = statusKb("VmHWM");
    qInfo("soak: %d s, peak RSS at the start %lld kB (resident %lld kB)", seconds, peakStartKb, rssStartKb);

    auto *frameType = child<QComboBox>(window.get(), "comboBoxFrameType");
    auto *filter = child<QComboBox>(window.get(), "comboBoxKalmanFilter");
    auto *flipH = child<QCheckBox>(window.get(), "checkBoxHorizontalFlip");
    auto *flipV = child<QCheckBox>(window.get(), "checkBoxVerticalFlip");

    int logRequests = 0;
    bool logOutstanding = false;
    QList<LogReport> reports;
    int typeChanges = 0, filterChanges = 0, flips = 0;
    int shownBeforeUnplug = -1;
    bool replugged = false;
    newLogReports();

    QElapsedTimer clock;
    clock.start();
    qint64 nextLog = 1000, nextType = 2000, nextFilter = 3000, nextFlip = 1500;
    const qint64 unplugAt = durationMs / 2;
    while (clock.elapsed() < durationMs) {
        pump(20);
        const qint64 now = clock.elapsed();

        for (const LogReport &report : newLogReports()) {
            QVERIFY2(report.index > 0, qPrintable(report.line));
            QVERIFY2(report.line.contains(QStringLiteral(": data and image saved")), qPrintable(report.line));
            reports << report;
            logOutstanding = false;
        }

        if (!replugged && now >= unplugAt) {
            shownBeforeUnplug = shown.size();
            QVERIFY(sim->unplug());
            QVERIFY(waitUntil([&] { return device->deviceType() == TofDevice::NoDevice; }, 5000));
            QCOMPARE(deviceState().isStreaming, 0);
            QVERIFY(!button("pushButtonLogData")->isEnabled());
            pump(500);
            QVERIFY(sim->plug());
            QVERIFY(waitUntil([&] { return device->deviceType() == TofDevice::KavrixM20; }, 5000));
            queryAndStart();
            if (QTest::currentTestFailed())
                return;
            replugged = true;
            continue;
        }
        if (deviceState().isStreaming != 1)
            continue;

        if (now >= nextLog && !logOutstanding) {
            // One request at a time: a second press before a frame would replace the first.
            button("pushButtonLogData")->click();
            ++logRequests;
            logOutstanding = true;
            nextLog = now + 3000;
        }
        if (now >= nextType) {
            frameType->setCurrentIndex((frameType->currentIndex() + 1) % 4);
            ++typeChanges;
            nextType = now + 4000;
        }
        if (now >= nextFilter) {
            filter->setCurrentIndex((filter->currentIndex() + 1) % 4);
            ++filterChanges;
            nextFilter = now + 5000;
        }
        if (now >= nextFlip) {
            (flips % 2 ? flipV : flipH)->click();
            ++flips;
            nextFlip = now + 3500;
        }
    }

    // The last request is answered by the next frame.
    if (logOutstanding) {
        QVERIFY(waitUntil(
            [&] {
                const QList<LogReport> last = newLogReports();
                reports += last;
                return !last.isEmpty();
            },
            10000));
        QVERIFY2(reports.last().line.contains(QStringLiteral(": data and image saved")),
            qPrintable(reports.last().line));
    }
    // Stop first, so that no frame arrives after the camera's count was taken.
    button("pushButtonStart")->click();
    QCOMPARE(deviceState().isStreaming, 0);
    pump(300);
    const QPair<quint64, quint64> stats = streamStats();
    const quint64 sent = stats.first;

    const qint64 rssEndKb = statusKb("VmRSS");
    const qint64 peakEndKb = statusKb("VmHWM");
    qInfo("soak: peak RSS at the end %lld kB (resident %lld kB), growth %lld kB", peakEndKb, rssEndKb,
        peakEndKb - peakStartKb);
    qInfo("soak: frames shown %d of %llu sent (%d before the unplug; the camera dropped %llu the host did "
          "not read in time), %d logs, %d frame type changes, %d filter changes, %d flips",
        int(shown.size()), sent, shownBeforeUnplug, stats.second, int(reports.size()), typeChanges,
        filterChanges, flips);

    // Every request was answered, and every answer is on disk whole.
    QVERIFY(replugged);
    QVERIFY(shown.size() > shownBeforeUnplug);
    QVERIFY(logRequests >= 3);
    QCOMPARE(reports.size(), logRequests);
    for (const LogReport &report : qAsConst(reports)) {
        checkLogFiles(report);
        if (QTest::currentTestFailed())
            return;
    }
    // Nothing half-written is left behind.
    const QStringList hidden = QDir(deviceState().workingDir())
                                   .entryList(QDir::Files | QDir::Hidden)
                                   .filter(QRegularExpression(QStringLiteral("^\\.")));
    QVERIFY2(hidden.isEmpty(), qPrintable(hidden.join(' ')));
    QVERIFY(quint64(shown.size()) <= sent);
    if (!MemoryIsMeasurable)
        return;
    QVERIFY2(peakEndKb - peakStartKb < GrossGrowthKb,
        qPrintable(QStringLiteral("peak RSS grew by %1 kB").arg(peakEndKb - peakStartKb)));
}

QTEST_MAIN(TestSoak)
#include "tst_hardening_soak.moc"
