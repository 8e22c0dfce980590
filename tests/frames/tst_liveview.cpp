// The live view end to end: the real main window reading kavrix-sim's frame
// stream through its serial port, on the shared rig.
#include "app/MainWindow.h"
#include "device/BusyWait.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "frames/SyntheticScene.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSpinBox>
#include <QtTest>

using namespace WindowTest;

class TestLiveView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void depthFramesAndFilter();
    void everyFrameOfAHostileStreamIsAccepted_data();
    void everyFrameOfAHostileStreamIsAccepted();
    void noiseIsNeverShownOrLogged_data();
    void noiseIsNeverShownOrLogged();
    void unplugInsideAHandOver();
};

void TestLiveView::depthFramesAndFilter()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", "50" }));
    rig.click("pushButtonStart");
    rig.find<QComboBox>("comboBoxKalmanFilter")->setCurrentIndex(1); // Simple
    QVERIFY(rig.waitFrames(3));
    QCOMPARE(rig.frames->last().at(0).value<quint8>(), quint8(1));
    // The camera was told 300 us when it was opened: 26.0 C.
    QCOMPARE(rig.find<QLineEdit>("lineEditTemperature")->text(), QStringLiteral("26.0 C"));
    const QVector<quint16> before = SyntheticScene::frame(SceneSettings(), 0);
    QCOMPARE(deviceState().frameBuffer, before);

    // 10 mm more offset moves every distance up by 20 LSB; the filter follows
    // with gain 0.1, so the values lie strictly between old and new for a while.
    rig.find<QSpinBox>("spinBoxDistanceOffset")->setValue(10);
    SceneSettings moved;
    moved.distanceOffset = 20;
    const QVector<quint16> after = SyntheticScene::frame(moved, 0);
    QVERIFY(rig.waitUntil([&] { return deviceState().frameBuffer != before; }));
    const QVector<quint16> filtered = deviceState().frameBuffer;
    int between = 0;
    for (int i = 0; i < filtered.size(); ++i) {
        // Special codes pass untouched; fixed pixels (0) do not move.
        const bool fixed = before[i] >= 30000 || before[i] == after[i];
        QVERIFY2(fixed ? filtered[i] == before[i] : filtered[i] >= before[i] && filtered[i] < after[i],
            qPrintable(QString::number(i)));
        between += filtered[i] > before[i];
    }
    QVERIFY(between > filtered.size() / 2);
    // A longer integration time warms the chip: 1000 us gives 27.0 C. Grayscale is not filtered.
    rig.find<QSpinBox>("spinBoxTime")->setValue(1000);
    QVERIFY(rig.waitUntil([&] { return rig.find<QLineEdit>("lineEditTemperature")->text() == "27.0 C"; }));
    rig.find<QComboBox>("comboBoxFrameType")->setCurrentIndex(2);
    SceneSettings gray = moved;
    gray.frameType = SceneSettings::Grayscale;
    gray.integrationTime = 1000;
    QVERIFY(rig.waitUntil([&] { return deviceState().frameBuffer == SyntheticScene::frame(gray, 0); }));
}

void TestLiveView::everyFrameOfAHostileStreamIsAccepted_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("m10, everything at once") << QStringList { "--model", "m10", "--fps", "60", "--chunk",
        "4000", "--chunk-random", "8", "--multi-frame", "3", "--marker-in-data", "--status10-every", "5" };
    QTest::newRow("m20, random pieces") << QStringList { "--model", "m20", "--fps", "30", "--chunk", "3000",
        "--chunk-random", "5", "--multi-frame", "2" };
}

// Every frame sent is accepted and shown as sent, but those of status 10.
void TestLiveView::everyFrameOfAHostileStreamIsAccepted()
{
    QFETCH(QStringList, options);
    Rig rig;
    QVERIFY(
        rig.start(QStringList { "--frame-limit", "30", "--chunk-gap", "0", "--garbage", "300" } + options));
    QVector<QVector<quint16>> shown;
    connect(rig.window.get(), &MainWindow::pictureReady, this, [&] { shown << deviceState().frameBuffer; });
    // The start button waits for the device information; the stream itself does not.
    QMetaObject::invokeMethod(rig.window.get(), "on_pushButtonStart_clicked");
    QVERIFY(waitUntil([&] { return rig.sim->waitForEvent("stream stopped", 0); }, 20000));
    SceneSettings scene;
    scene.markerCopies = options.contains("--marker-in-data");
    if (options.contains("m20")) {
        scene.width = 320;
        scene.height = 240;
    }
    const quint32 every = scene.markerCopies ? 5 : 1000;
    QVector<QVector<quint16>> sent;
    for (quint32 k = 0; k < 30; ++k) {
        if ((k + 1) % every)
            sent << SyntheticScene::frame(scene, k);
    }
    QCOMPARE(streamStats(*rig.sim), (QVector<quint64> { 30, quint64(30 - sent.size()), 0 }));
    waitUntil([&] { return shown.size() >= sent.size(); }, 5000);
    pump(200);
    QCOMPARE(shown, sent);
    QCOMPARE(rig.find<QLineEdit>("lineEditTemperature")->text(), QStringLiteral("26.0 C"));
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
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", "30" }));
    rig.click("pushButtonGetInfo");
    QVERIFY(QDir(deviceState().workingDir()).exists());
    QSignalSpy &frames = *rig.frames;
    rig.click("pushButtonStart");
    QVERIFY(rig.waitFrames(2));
    SimProcess *sim = rig.sim.get();
    sim->control("stream pause");
    const FrameFramer &framer = rig.window->framer();
    quint64 received = framer.bytesReceived();
    // Quiet for half a second: the last frame sent has arrived.
    for (int quiet = 0; quiet < 5;) {
        pump(100);
        quiet = framer.bytesReceived() == received ? quiet + 1 : 0;
        received = framer.bytesReceived();
    }
    const int shown = frames.size();
    const quint64 accepted = framer.framesAccepted();
    const quint64 drops = framer.dropCount();
    rig.click("pushButtonLogData");
    const int noise = 2 << 20;
    sim->control(QStringLiteral("noise %1 %2 7").arg(noise).arg(markerEvery));
    QVERIFY(waitUntil([&] { return framer.bytesReceived() >= received + quint64(noise); }));
    QCOMPARE(frames.size(), shown);
    QVERIFY(rig.lines().filter(QStringLiteral("saved")).isEmpty());

    sim->control(QStringLiteral("stream resume"));
    QVERIFY(waitUntil([&] { return frames.size() > shown; }));
    QCOMPARE(rig.lines().filter(QStringLiteral("saved")),
        QStringList { QStringLiteral("Log1: data and image saved") });
    QCOMPARE(framer.framesAccepted(), accepted + 1);
    const quint64 dropped = framer.dropCount() - drops;
    QVERIFY(markerEvery > 0 ? dropped > quint64(noise / (2 * markerEvery + 4)) : dropped == 1);
    QVERIFY(framer.bytesDropped() >= quint64(noise + framesLost * 19208));
    QVERIFY(framer.bytesSearched() <= framer.bytesReceived());

    QFile log(deviceState().workingDir() + QStringLiteral("/Log1.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVector<quint16> values;
    for (const QByteArray &v : log.readAll().simplified().split(' '))
        values << quint16(v.toUInt());
    QCOMPARE(values, SyntheticScene::frame(SceneSettings(), 0));
}

void TestLiveView::unplugInsideAHandOver()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10", "--fps", "100", "--multi-frame", "3" }));
    SimProcess *sim = rig.sim.get();
    TofDevice *device = rig.device.get();
    MainWindow *window = rig.window.get();
    // A listener that waits (as the tool windows do) while the camera goes away.
    bool unplugged = false;
    // The listener reads locals of this function: it must not outlive it.
    const QMetaObject::Connection listener = connect(window, &MainWindow::pictureReady, this, [&] {
        if (unplugged)
            return;
        unplugged = true;
        sim->control(QStringLiteral("unplug"));
        busyWait(3000, [&] { return device->deviceType() == TofDevice::NoDevice; });
    });
    const auto dropListener = qScopeGuard([listener] { QObject::disconnect(listener); });
    QSignalSpy &frames = *rig.frames;
    rig.find<QCheckBox>("checkBoxHorizontalFlip")->setChecked(true);
    rig.click("pushButtonStart");
    QVERIFY(waitUntil([&] { return unplugged && device->deviceType() == TofDevice::NoDevice; }));
    pump(300);
    // The frames that followed in the same write were not processed against a removed camera.
    QCOMPARE(frames.size(), 1);
    QVERIFY(deviceState().frameBuffer.isEmpty());
    QCOMPARE(deviceState().isStreaming, 0);
    QVERIFY(!window->pictureBox());
    QCOMPARE(rig.lines().filter(QStringLiteral("disconnected")),
        QStringList { QStringLiteral("Kavrix M10 disconnected") });

    // And the next camera streams again, shown as the boxes say, no old temperature meanwhile.
    QVERIFY(sim->plug());
    QVERIFY(waitUntil([&] { return device->deviceType() == TofDevice::KavrixM10; }));
    QVERIFY(rig.find<QLineEdit>("lineEditTemperature")->text().isEmpty());
    QVERIFY(window->pictureBox()->flipHorizontal());
    QVERIFY(!window->pictureBox()->flipVertical());
    rig.click("pushButtonStart");
    QVERIFY(waitUntil([&] { return frames.size() >= 3; }));
    QCOMPARE(deviceState().frameBuffer, SyntheticScene::frame(SceneSettings(), 0));
}

QTEST_MAIN(TestLiveView)
#include "tst_liveview.moc"
