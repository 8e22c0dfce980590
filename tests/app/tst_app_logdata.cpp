// "Log Data" end to end: the real main window against a streaming kavrix-sim,
// the files it leaves in the working folder and the lines it reports.

#include "app/DeviceState.h"
#include "app/FrameLogger.h"
#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

class TestLogData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void depthFrameOnM20();
    void amplitudeFlippedAndPointCloudFrames();
    void folderRemovedWhileStreaming();

private:
    template <typename T> T *widget(const char *name) const
    {
        return WindowTest::child<T>(window.get(), name);
    }
    void startCamera(const QString &model);
    QStringList infoLines() const { return WindowTest::infoLines(window.get()); }
    // Presses "Log Data" and returns the lines the press and the next frame added.
    QStringList logOneFrame();
    bool waitForFrames(int count);
    // Frames carry no type: after a switch, frames of the old type may still be on their way.
    bool waitForPixel(int x, int y, quint16 value);
    QString logFile(const QString &name) const
    {
        return deviceState().workingDir() + QLatin1Char('/') + name;
    }

    std::unique_ptr<QTemporaryDir> dataDir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
};

void TestLogData::initTestCase()
{
    isolateRegistry();
}

void TestLogData::init()
{
    deviceState() = DeviceState();
    dataDir = std::make_unique<QTemporaryDir>();
    QVERIFY(dataDir->isValid());
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(dataDir->path()));
}

void TestLogData::cleanup()
{
    window.reset();
    device.reset();
    sim.reset();
    dataDir.reset();
}

void TestLogData::startCamera(const QString &model)
{
    QVERIFY(WindowTest::startCameraAndWindow({ QStringLiteral("--model"), model }, &sim, &device, &window));
}

bool TestLogData::waitForFrames(int count)
{
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    return QTest::qWaitFor([&] { return frames.count() >= count; }, 10000);
}

bool TestLogData::waitForPixel(int x, int y, quint16 value)
{
    return QTest::qWaitFor(
        [&] {
            const DeviceState &state = deviceState();
            return state.hasFrame() && state.frameBuffer[y * state.imageWidth + x] == value;
        },
        10000);
}

QStringList TestLogData::logOneFrame()
{
    const int before = infoLines().size();
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    widget<QPushButton>("pushButtonLogData")->click();
    // The frame that completes the log is announced before it is logged: wait for the next one too.
    if (!QTest::qWaitFor([&] { return frames.count() >= 2; }, 10000))
        return { QStringLiteral("no frame arrived") };
    return infoLines().mid(before);
}

void TestLogData::depthFrameOnM20()
{
    startCamera(QStringLiteral("m20"));
    widget<QPushButton>("pushButtonGetInfo")->click();
    QVERIFY(QTest::qWaitFor([&] { return widget<QPushButton>("pushButtonStart")->isEnabled(); }, 5000));

    QVERIFY(deviceState().workingSubdir.startsWith(QStringLiteral("/log/")));
    QVERIFY(QFileInfo(deviceState().workingDir()).isDir());
    widget<QPushButton>("pushButtonStart")->click();
    QVERIFY(waitForFrames(2));

    QStringList lines = logOneFrame();
    QCOMPARE(lines, QStringList { QStringLiteral("Log1: data and image saved") });

    // The values as received: the M20 runs its depth filter, which must not reach the file.
    SceneSettings scene;
    scene.width = 320;
    scene.height = 240;
    QFile raw(logFile(QStringLiteral("Log1.txt")));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QList<QByteArray> rawLines = raw.readAll().split('\n');
    QCOMPARE(rawLines.size(), 76801);
    QCOMPARE(
        rawLines.mid(0, 6), (QList<QByteArray> { "0 ", "65300 ", "65400 ", "65500 ", "30000 ", "40000 " }));
    const quint16 sample = SyntheticScene::pixel(scene, 100, 20);
    QCOMPARE(rawLines[20 * 320 + 100], QByteArray::number(sample) + ' ');

    QFile pcd(logFile(QStringLiteral("Log1.pcd")));
    QVERIFY(pcd.open(QIODevice::ReadOnly));
    const QList<QByteArray> pcdLines = pcd.readAll().split('\n');
    QCOMPARE(pcdLines.size(), 11 + 76800 + 1);
    QCOMPARE(pcdLines[6], QByteArray("WIDTH 320"));
    QCOMPARE(pcdLines[7], QByteArray("HEIGHT 240"));
    QCOMPARE(pcdLines[9], QByteArray("POINTS 76800"));
    QCOMPARE(pcdLines[11 + 4], QByteArray("0.000000 0.000000 0.000000")); // 30000
    QCOMPARE(pcdLines[11 + 20 * 320 + 100],
        LogFormat::pointLine(20 * 320 + 100, 320, sample, LensParameters::fromDeviceState()));

    const QString converter = QStandardPaths::findExecutable(QStringLiteral("pcl_convert_pcd_ascii_binary"));
    if (!converter.isEmpty()) {
        QProcess pcl;
        pcl.setProcessChannelMode(QProcess::MergedChannels);
        pcl.start(converter,
            { pcd.fileName(), dataDir->filePath(QStringLiteral("check.pcd")), QStringLiteral("1") });
        QVERIFY(pcl.waitForFinished(60000));
        QCOMPARE(pcl.exitCode(), 0);
        const QByteArray said = pcl.readAll();
        QVERIFY2(said.contains("76800 points"), said.constData());
    }

    // The image as displayed: depth colours of the unfiltered values, sensor size.
    const QImage png(logFile(QStringLiteral("Log1.png")));
    QCOMPARE(png.size(), QSize(320, 240));
    ImageColorizer colorMap;
    FrameColorizer colors(&colorMap);
    QCOMPARE(png.pixel(100, 20), colors.color(1, sample));

    // A second press gets the next number.
    QCOMPARE(logOneFrame(), QStringList { QStringLiteral("Log2: data and image saved") });
}

void TestLogData::amplitudeFlippedAndPointCloudFrames()
{
    startCamera(QStringLiteral("m10"));
    widget<QPushButton>("pushButtonStart")->click();
    QVERIFY(waitForFrames(2));

    // Before any device information the folder is the application folder + "0_0_0".
    QStringList lines = logOneFrame();
    QCOMPARE(lines.value(0), QStringLiteral("Open log file failed"));
    QVERIFY(lines.value(1).contains(QStringLiteral("0_0_0 does not exist")));
    QCOMPARE(lines.size(), 2);
    // The stream goes on, and nothing is left pending.
    QVERIFY(waitForFrames(3));
    QCOMPARE(infoLines().filter(QStringLiteral("Log")).size(), 1);

    widget<QPushButton>("pushButtonGetInfo")->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return infoLines().filter(QStringLiteral("Working dir created to: ")).size() == 1; }, 5000));

    // Amplitude frames: no point cloud file, and the message says so.
    SceneSettings amplitude;
    amplitude.frameType = SceneSettings::Amplitude;
    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(0);
    QVERIFY(waitForPixel(70, 40, SyntheticScene::pixel(amplitude, 70, 40)));
    QCOMPARE(logOneFrame(),
        QStringList { QStringLiteral("Log1: data and image saved (no point cloud for an amplitude frame)") });
    QVERIFY(QFileInfo::exists(logFile(QStringLiteral("Log1.txt"))));
    QVERIFY(!QFileInfo::exists(logFile(QStringLiteral("Log1.pcd"))));
    QCOMPARE(QImage(logFile(QStringLiteral("Log1.png"))).size(), QSize(160, 60));

    // A mirrored depth picture is stored mirrored.
    SceneSettings scene;
    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(1);
    widget<QCheckBox>("checkBoxHorizontalFlip")->setChecked(true);
    QVERIFY(waitForPixel(70, 40, SyntheticScene::pixel(scene, 70, 40)));
    QCOMPARE(logOneFrame(), QStringList { QStringLiteral("Log2: data and image saved") });
    ImageColorizer colorMap;
    FrameColorizer colors(&colorMap);
    const QImage flipped(logFile(QStringLiteral("Log2.png")));
    QCOMPARE(flipped.size(), QSize(160, 60));
    QCOMPARE(flipped.pixel(159 - 70, 40), colors.color(1, SyntheticScene::pixel(scene, 70, 40)));
    widget<QCheckBox>("checkBoxHorizontalFlip")->setChecked(false);

    // Point-cloud frames: points, and a defined picture (the depth colouring).
    widget<QComboBox>("comboBoxFrameType")->setCurrentIndex(3);
    QSignalSpy frames(window.get(), &MainWindow::pictureReady);
    QVERIFY(QTest::qWaitFor([&] { return frames.count() >= 3; }, 10000));
    QCOMPARE(frames.last().value(0).value<quint8>(), quint8(3));
    QCOMPARE(logOneFrame(), QStringList { QStringLiteral("Log3: data and image saved") });
    const QImage cloud(logFile(QStringLiteral("Log3.png")));
    QCOMPARE(cloud.size(), QSize(160, 60));
    QCOMPARE(cloud.pixel(70, 40), colors.color(1, SyntheticScene::pixel(scene, 70, 40)));
    QFile pcd(logFile(QStringLiteral("Log3.pcd")));
    QVERIFY(pcd.open(QIODevice::ReadOnly));
    QCOMPARE(pcd.readAll().count('\n'), 11 + 9600);
}

void TestLogData::folderRemovedWhileStreaming()
{
    startCamera(QStringLiteral("m10"));
    widget<QPushButton>("pushButtonGetInfo")->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return infoLines().filter(QStringLiteral("Working dir created to: ")).size() == 1; }, 5000));
    widget<QPushButton>("pushButtonStart")->click();
    QVERIFY(waitForFrames(2));

    // Two presses before a frame: only the second leaves files.
    widget<QPushButton>("pushButtonLogData")->click();
    QCOMPARE(logOneFrame(), QStringList { QStringLiteral("Log2: data and image saved") });
    QCOMPARE(QDir(deviceState().workingDir()).entryList(QDir::Files | QDir::Hidden),
        (QStringList { QStringLiteral("Log2.pcd"), QStringLiteral("Log2.png"), QStringLiteral("Log2.txt") }));

    // The folder goes away: reported at the press, nothing pending, the stream goes on.
    QVERIFY(QDir(deviceState().workingDir()).removeRecursively());
    const QStringList lines = logOneFrame();
    QCOMPARE(lines.value(0), QStringLiteral("Open log file failed"));
    QCOMPARE(lines.size(), 2);
    QVERIFY(waitForFrames(3));
    QVERIFY(infoLines().filter(QStringLiteral("data and image saved")).size() == 1);
}

QTEST_MAIN(TestLogData)
#include "tst_app_logdata.moc"
