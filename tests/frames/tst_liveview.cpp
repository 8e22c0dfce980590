// The live view end to end: the real main window (offscreen) reading
// kavrix-sim's frame stream through its serial port.
#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "device/BusyWait.h"
#include "device/TofDevice.h"
#include "frames/SyntheticScene.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using WindowTest::waitUntil;

namespace {

QStringList args(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *s : list)
        out << QString::fromLatin1(s);
    return out;
}

} // namespace

class TestLiveView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void depthFramesReachTheFrameBuffer();
    void depthFilterRunsOnDepthFrames();
    void everyFrameOfAHostileStreamIsAccepted_data();
    void everyFrameOfAHostileStreamIsAccepted();
    void m20FrameTypes();
    void noiseIsNeverShownOrLogged_data();
    void noiseIsNeverShownOrLogged();
    void unplugInsideAHandOver();

private:
    template <typename T> T *widget(const char *name) const
    {
        return WindowTest::child<T>(window.get(), name);
    }
    bool startCamera(const QStringList &options, quint8 type);
    void startStreaming();
    // The simulator's counters: sent, hidden, skipped.
    QVector<quint64> streamStats();

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
};

void TestLiveView::initTestCase()
{
    isolateRegistry();
    // One debug line per frame ("... FPS") is of no interest here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestLiveView::init()
{
    deviceState() = DeviceState();
}

void TestLiveView::cleanup()
{
    window.reset();
    device.reset();
    sim.reset();
}

bool TestLiveView::startCamera(const QStringList &options, quint8 type)
{
    device = std::make_unique<TofDevice>();
    window = std::make_unique<MainWindow>(device.get());
    sim = std::make_unique<SimProcess>();
    if (!sim->start(options))
        return false;
    return waitUntil([&] { return device->deviceType() == type; }, 5000);
}

void TestLiveView::startStreaming()
{
    // The start button of a "Kavrix M20" waits for a device-information
    // query; the stream itself does not need one.
    QMetaObject::invokeMethod(window.get(), "on_pushButtonStart_clicked");
    QCOMPARE(deviceState().isStreaming, 1);
}

QVector<quint64> TestLiveView::streamStats()
{
    const int before = sim->events().size();
    sim->control(QStringLiteral("stream stats"));
    const auto answered = [&] {
        sim->waitForEvent(QStringLiteral("stream stats"), 0);
        return sim->events().size() > before
            && sim->events().last().startsWith(QLatin1String("stream stats"));
    };
    if (!waitUntil(answered, 5000))
        return {};
    const QStringList words = sim->events().last().split(QLatin1Char(' '));
    return { words.value(3).toULongLong(), words.value(5).toULongLong(), words.value(7).toULongLong() };
}

void TestLiveView::depthFramesReachTheFrameBuffer()
{
    QVERIFY(startCamera(args({ "--model", "m10", "--fps", "50" }), TofDevice::KavrixM10));
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    QVERIFY(widget<QPushButton>("pushButtonStart")->isEnabled());
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return frames.size() >= 3; }));

    QCOMPARE(frames.last().at(0).value<quint8>(), quint8(1));
    // The camera was told 300 us when it was opened: 26.0 C; filter "Disabled".
    QCOMPARE(widget<QLineEdit>("lineEditTemperature")->text(), QStringLiteral("26.0 C"));
    const QVector<quint16> expected = SyntheticScene::frame(SceneSettings(), 0);
    QCOMPARE(deviceState().frameBuffer, expected);
    QCOMPARE(
        deviceState().frameBuffer.mid(0, 6), (QVector<quint16> { 0, 65300, 65400, 65500, 30000, 40000 }));
    QCOMPARE(deviceState().frameStatus, 0);

    // A longer integration time warms the chip: 1000 us gives 27.0 C.
    widget<QSpinBox>("spinBoxTime")->setValue(1000);
    QVERIFY(waitUntil(
        [&] { return widget<QLineEdit>("lineEditTemperature")->text() == QStringLiteral("27.0 C"); }));
}

void TestLiveView::depthFilterRunsOnDepthFrames()
{
    QVERIFY(startCamera(args({ "--model", "m10", "--fps", "50" }), TofDevice::KavrixM10));
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    widget<QComboBox>("comboBoxKalmanFilter")->setCurrentIndex(1); // Simple
    QVERIFY(waitUntil([&] { return frames.size() >= 3; }));
    const QVector<quint16> before = SyntheticScene::frame(SceneSettings(), 0);
    QCOMPARE(deviceState().frameBuffer, before);

    // 10 mm more offset moves every distance up by 20 LSB; the filter follows
    // with gain 0.1, so the values lie strictly between old and new for a while.
    widget<QSpinBox>("spinBoxDistanceOffset")->setValue(10);
    SceneSettings moved;
    moved.distanceOffset = 20;
    const QVector<quint16> after = SyntheticScene::frame(moved, 0);
    QVERIFY(waitUntil([&] { return deviceState().frameBuffer != before; }));
    const QVector<quint16> filtered = deviceState().frameBuffer;
    int between = 0;
    for (int i = 0; i < filtered.size(); ++i) {
        // Special codes pass untouched; fixed pixels (0) do not move.
        if (before[i] >= 30000 || before[i] == after[i]) {
            QCOMPARE(filtered[i], before[i]);
            continue;
        }
        QVERIFY2(filtered[i] >= before[i] && filtered[i] < after[i], qPrintable(QString::number(i)));
        between += filtered[i] > before[i];
    }
    QVERIFY(between > filtered.size() / 2);

    // Grayscale frames are not filtered.
    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(2);
    SceneSettings gray = moved;
    gray.frameType = SceneSettings::Grayscale;
    QVERIFY(waitUntil([&] { return deviceState().frameBuffer == SyntheticScene::frame(gray, 0); }));
    QCOMPARE(frames.last().at(0).value<quint8>(), quint8(2));
}

void TestLiveView::everyFrameOfAHostileStreamIsAccepted_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("random pieces") << args({ "--chunk", "3000", "--chunk-random", "3", "--chunk-gap", "0" });
    QTest::newRow("marker split") << args({ "--chunk", "19206", "--chunk-gap", "1" });
    QTest::newRow("garbage") << args({ "--garbage", "500" });
    QTest::newRow("several frames per write") << args({ "--multi-frame", "4" });
    QTest::newRow("marker in the data") << args({ "--marker-in-data" });
    QTest::newRow("status 10") << args({ "--status10-every", "3" });
    QTest::newRow("everything at once") << args({ "--chunk", "4000", "--chunk-random", "8", "--chunk-gap",
        "0", "--garbage", "300", "--multi-frame", "3", "--marker-in-data", "--status10-every", "5" });
}

void TestLiveView::everyFrameOfAHostileStreamIsAccepted()
{
    QFETCH(QStringList, options);
    const int limit = 60;
    QVERIFY(startCamera(
        args({ "--model", "m10", "--fps", "60", "--frame-limit", "60" }) + options, TofDevice::KavrixM10));
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return sim->waitForEvent(QStringLiteral("stream stopped"), 0); }, 20000));
    const QVector<quint64> stats = streamStats();
    QCOMPARE(stats.size(), 3);
    QCOMPARE(stats[0], quint64(limit));
    QCOMPARE(stats[2], quint64(0));
    // Every frame sent is accepted; those of status 10 are not shown.
    const quint64 shown = stats[0] - stats[1];
    waitUntil([&] { return quint64(frames.size()) >= shown; }, 5000);
    waitUntil([] { return false; }, 200);
    QCOMPARE(quint64(frames.size()), shown);

    SceneSettings scene;
    scene.markerCopies = options.contains(QStringLiteral("--marker-in-data"));
    const int every = options.contains(QStringLiteral("--status10-every"))
        ? options.at(options.indexOf(QStringLiteral("--status10-every")) + 1).toInt()
        : 0;
    quint32 lastShown = limit - 1;
    while (every > 0 && (lastShown + 1) % quint32(every) == 0)
        --lastShown;
    QCOMPARE(deviceState().frameBuffer, SyntheticScene::frame(scene, lastShown));
    QCOMPARE(widget<QLineEdit>("lineEditTemperature")->text(), QStringLiteral("26.0 C"));
}

void TestLiveView::m20FrameTypes()
{
    QVERIFY(startCamera(args({ "--model", "m20", "--fps", "30" }), TofDevice::KavrixM20));
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    startStreaming();
    SceneSettings scene;
    scene.width = 320;
    scene.height = 240;
    scene.integrationTime = 300;
    // "Complex" filtering of a still scene keeps the values as they are.
    QVERIFY(waitUntil([&] { return frames.size() >= 3; }));
    QCOMPARE(deviceState().frameBuffer, SyntheticScene::frame(scene, 0));

    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(0);
    scene.frameType = SceneSettings::Amplitude;
    QVERIFY(waitUntil([&] { return deviceState().frameBuffer == SyntheticScene::frame(scene, 0); }));
    QCOMPARE(frames.last().at(0).value<quint8>(), quint8(0));

    // Point cloud: depth frames again, announced with mode 3.
    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(3);
    scene.frameType = SceneSettings::Depth;
    QVERIFY(waitUntil([&] {
        return deviceState().frameBuffer == SyntheticScene::frame(scene, 0)
            && frames.last().at(0).value<quint8>() == 3;
    }));
}

void TestLiveView::noiseIsNeverShownOrLogged_data()
{
    QTest::addColumn<int>("markerEvery");
    QTest::addColumn<int>("framesLost"); // real frames that go down with the noise
    QTest::newRow("2 MB of noise with markers") << 1000 << 0;
    QTest::newRow("2 MB of noise without markers") << 0 << 1;
}

// Noise arrives between frames while a log is pending: nothing is shown, the
// log waits for the next real frame and records exactly its values.
void TestLiveView::noiseIsNeverShownOrLogged()
{
    QFETCH(int, markerEvery);
    QFETCH(int, framesLost);
    QTemporaryDir data;
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(data.path()));
    QVERIFY(startCamera(args({ "--model", "m10", "--fps", "30" }), TofDevice::KavrixM10));
    widget<QPushButton>("pushButtonGetInfo")->click();
    QVERIFY(QDir(deviceState().workingDir()).exists());
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return frames.size() >= 2; }));

    sim->control(QStringLiteral("stream pause"));
    const FrameFramer &framer = window->framer();
    quint64 received = framer.bytesReceived();
    // Quiet for half a second: the last frame sent has arrived.
    for (int quiet = 0; quiet < 5;) {
        waitUntil([] { return false; }, 100);
        quiet = framer.bytesReceived() == received ? quiet + 1 : 0;
        received = framer.bytesReceived();
    }
    const int shown = frames.size();
    const quint64 accepted = framer.framesAccepted();
    const quint64 drops = framer.dropCount();
    widget<QPushButton>("pushButtonLogData")->click();
    const int noise = 2 << 20;
    sim->control(QStringLiteral("noise %1 %2 7").arg(noise).arg(markerEvery));
    QVERIFY(waitUntil([&] { return framer.bytesReceived() >= received + quint64(noise); }));
    QCOMPARE(frames.size(), shown);
    QVERIFY(WindowTest::infoLines(window.get()).filter(QStringLiteral("saved")).isEmpty());

    sim->control(QStringLiteral("stream resume"));
    QVERIFY(waitUntil([&] { return frames.size() > shown; }));
    QCOMPARE(WindowTest::infoLines(window.get()).filter(QStringLiteral("saved")),
        QStringList { QStringLiteral("Log1: data and image saved") });
    QCOMPARE(framer.framesAccepted(), accepted + 1);
    const quint64 dropped = framer.dropCount() - drops;
    qInfo() << "blocks dropped:" << dropped;
    QVERIFY(markerEvery > 0 ? dropped > quint64(noise / (2 * markerEvery + 4)) : dropped == 1);
    QVERIFY(framer.bytesDropped() >= quint64(noise + framesLost * 19208));

    QFile log(deviceState().workingDir() + QStringLiteral("/Log1.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> values = log.readAll().simplified().split(' ');
    const QVector<quint16> expected = SyntheticScene::frame(SceneSettings(), 0);
    QCOMPARE(values.size(), expected.size());
    for (int i = 0; i < values.size(); ++i)
        QVERIFY2(values[i].toUInt() == expected[i], qPrintable(QString::number(i)));
}

void TestLiveView::unplugInsideAHandOver()
{
    QVERIFY(
        startCamera(args({ "--model", "m10", "--fps", "100", "--multi-frame", "3" }), TofDevice::KavrixM10));
    // A listener that waits (as the tool windows do) while the camera goes away.
    bool unplugged = false;
    // The listener reads locals of this function: it must not outlive it.
    const QMetaObject::Connection listener = connect(window.get(), &MainWindow::pictureReady, this, [&] {
        if (unplugged)
            return;
        unplugged = true;
        sim->control(QStringLiteral("unplug"));
        busyWait(3000, [&] { return device->deviceType() == TofDevice::NoDevice; });
    });
    const auto dropListener = qScopeGuard([listener] { QObject::disconnect(listener); });
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    widget<QCheckBox>("checkBoxHorizontalFlip")->setChecked(true);
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return unplugged && device->deviceType() == TofDevice::NoDevice; }));
    waitUntil([] { return false; }, 300);
    // The frames that followed in the same write were not processed against a removed camera.
    QCOMPARE(frames.size(), 1);
    QVERIFY(deviceState().frameBuffer.isEmpty());
    QCOMPARE(deviceState().isStreaming, 0);
    QVERIFY(!window->pictureBox());
    QCOMPARE(WindowTest::infoLines(window.get()).filter(QStringLiteral("disconnected")),
        QStringList { QStringLiteral("Kavrix M10 disconnected") });

    // And the next camera streams again, shown as the boxes say, no old temperature meanwhile.
    QVERIFY(sim->plug());
    QVERIFY(waitUntil([&] { return device->deviceType() == TofDevice::KavrixM10; }));
    QVERIFY(widget<QLineEdit>("lineEditTemperature")->text().isEmpty());
    QVERIFY(window->pictureBox()->flipHorizontal());
    QVERIFY(!window->pictureBox()->flipVertical());
    QTest::mouseClick(widget<QPushButton>("pushButtonStart"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return frames.size() >= 3; }));
    QCOMPARE(deviceState().frameBuffer, SyntheticScene::frame(SceneSettings(), 0));
}

QTEST_MAIN(TestLiveView)
#include "tst_liveview.moc"
