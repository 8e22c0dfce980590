// "Log Data" end to end: the real main window against a streaming kavrix-sim,
// the files it leaves in the working folder and the lines it reports.
#include "app/DeviceState.h"
#include "app/FrameLogger.h"
#include "app/MainWindow.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"
#include "frames/SyntheticScene.h"
#include "tests/support/WindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using namespace WindowTest;

class TestLogData : public QObject
{
    Q_OBJECT

private slots:
    void logFrame_data();
    void logFrame();
};

void TestLogData::logFrame_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("frameType"); // index in "comboBoxFrameType"
    QTest::addColumn<bool>("flip");
    QTest::addColumn<QString>("report");
    QTest::newRow("m20 depth") << "m20" << 1 << false << "data and image saved";
    QTest::newRow("m10 amplitude") << "m10" << 0 << false
                                   << "data and image saved (no point cloud for an amplitude frame)";
    QTest::newRow("m10 depth mirrored") << "m10" << 1 << true << "data and image saved";
    QTest::newRow("m10 point cloud") << "m10" << 3 << false << "data and image saved";
}

void TestLogData::logFrame()
{
    QFETCH(QString, model);
    QFETCH(int, frameType);
    QFETCH(bool, flip);
    QFETCH(QString, report);
    Rig rig;
    QVERIFY(rig.start({ "--model", model }));
    QVERIFY(!rig.press("pushButtonGetInfo").filter("Working dir created to: ").isEmpty());
    rig.click("pushButtonStart");
    rig.find<QComboBox>("comboBoxFrameType")->setCurrentIndex(frameType);
    rig.find<QCheckBox>("checkBoxHorizontalFlip")->setChecked(flip);
    SceneSettings scene;
    scene.width = model == "m20" ? 320 : 160;
    scene.height = model == "m20" ? 240 : 60;
    scene.frameType = frameType == 0 ? SceneSettings::Amplitude : SceneSettings::Depth;
    const int x = 100, y = 20, index = y * scene.width + x;
    const quint16 sample = SyntheticScene::pixel(scene, x, y);
    // Frames carry no type: wait until the new type arrives.
    QVERIFY(rig.waitUntil(
        [&] { return deviceState().hasFrame() && deviceState().frameBuffer[index] == sample; }));

    // Two presses before a frame: only the second leaves files.
    rig.click("pushButtonLogData");
    const QStringList lines = rig.logData();
    QCOMPARE(lines.size(), 1);
    const QRegularExpressionMatch match = QRegularExpression("^(Log\\d+): (.*)$").match(lines.first());
    QCOMPARE(match.captured(2), report);
    const QString name = match.captured(1);
    const QDir folder(rig.workingDir());
    const bool cloud = frameType != 0;
    const QStringList expectedFiles = (cloud ? QStringList { name + ".pcd" } : QStringList())
        + QStringList { name + ".png", name + ".txt" };
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), expectedFiles);

    // The values as received: the M20's depth filter must not reach the file.
    const QList<QByteArray> raw = readFile(folder.filePath(name + ".txt")).split('\n');
    QCOMPARE(raw.size(), scene.width * scene.height + 1);
    QCOMPARE(raw[index], QByteArray::number(sample) + ' ');
    if (model == "m20")
        QCOMPARE(
            raw.mid(0, 6), (QList<QByteArray> { "0 ", "65300 ", "65400 ", "65500 ", "30000 ", "40000 " }));
    // The image as displayed (depth colours of the unfiltered values), mirrored when the picture is.
    const QImage png(folder.filePath(name + ".png"));
    QCOMPARE(png.size(), QSize(scene.width, scene.height));
    ImageColorizer colorMap;
    FrameColorizer colors(&colorMap);
    if (cloud)
        QCOMPARE(png.pixel(flip ? scene.width - 1 - x : x, y), colors.color(1, sample));
    if (!cloud)
        return;
    const QString pcdPath = folder.filePath(name + ".pcd");
    const QList<QByteArray> pcd = readFile(pcdPath).split('\n');
    QCOMPARE(pcd.size(), 11 + scene.width * scene.height + 1);
    QCOMPARE(pcd[6], "WIDTH " + QByteArray::number(scene.width));
    QCOMPARE(pcd[9], "POINTS " + QByteArray::number(scene.width * scene.height));
    QCOMPARE(
        pcd[11 + index], LogFormat::pointLine(index, scene.width, sample, LensParameters::fromDeviceState()));
    const QString converter = QStandardPaths::findExecutable("pcl_convert_pcd_ascii_binary");
    if (model == "m20" && !converter.isEmpty()) {
        QProcess pcl;
        pcl.setProcessChannelMode(QProcess::MergedChannels);
        pcl.start(converter, { pcdPath, rig.dataPath("check.pcd"), "1" });
        QVERIFY(pcl.waitForFinished(60000));
        QVERIFY2(pcl.exitCode() == 0 && pcl.readAll().contains("76800 points"), "pcl rejects the file");
    }
}

QTEST_MAIN(TestLogData)
#include "tst_app_logdata.moc"
