#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "check/CheckBoard.h"
#include "check/CheckMeasurement.h"
#include "device/TofDevice.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <memory>

namespace {

// 160 x 60 table worked out by hand from (H - 3i) * (W - 8i) - 1.
const QVector<int> m10Table = { 9599, 8663, 7775, 6935, 6143, 5399, 4703, 4055, 3455, 2903, 2399, 1943, 1535,
    1175, 863, 599, 383, 215, 95, 23, 0 };

void setSensor(int width, int height, quint16 fill = 2000)
{
    DeviceState &state = deviceState();
    state.imageWidth = width;
    state.imageHeight = height;
    state.pixelCount = width * height;
    state.frameBuffer = QVector<quint16>(width * height, fill);
}

// Raw values (cm x 20) of the four alignment pixels of the current sensor.
void setReadings(quint16 left, quint16 right, quint16 before, quint16 after)
{
    DeviceState &state = deviceState();
    const int w = state.imageWidth;
    const int centre = (state.imageHeight / 2) * w + w / 2;
    state.frameBuffer[centre - 4] = left;
    state.frameBuffer[centre + 4] = right;
    state.frameBuffer[centre - 4 * w] = before;
    state.frameBuffer[centre + 4 * w] = after;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot open>");
    return file.readAll();
}

QString messages(CheckBoard &board)
{
    return board.findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText();
}

template <typename T> T *child(QWidget &board, const char *name)
{
    T *widget = board.findChild<T *>(QLatin1String(name));
    Q_ASSERT(widget);
    return widget;
}

class ProbedMainWindow : public MainWindow
{
public:
    using MainWindow::MainWindow;
    int pictureReadyConnections() const { return receivers(SIGNAL(pictureReady(quint8))); }
};

} // namespace

class TestCheckBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cosineCorrection();
    void reportBlockFormat();
    void parallelTestEnablesStartMeasure();
    void nextStepSetsAndClampsRealDistance();
    void reportFileExactBytes();
    void reportFileTakesFirstFreeNumber();
    void uncreatableReportFile();
    void noFrameGuard();
    void newCameraOfSameSize();
    void sensorChangeRecomputesTable();
    void mainWindowUpdatesNewestBoardOncePerFrame();

private:
    std::unique_ptr<QTemporaryDir> tempDir;
    QString workingDir() const { return tempDir->path() + QStringLiteral("/log"); }
};

void TestCheckBoard::init()
{
    deviceState() = DeviceState();
    tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(tempDir->isValid());
    QVERIFY(QDir(tempDir->path()).mkpath(QStringLiteral("log")));
    deviceState().appDirPath = tempDir->path();
    deviceState().workingSubdir = QStringLiteral("/log");
    deviceState().cameraCx = 80;
    deviceState().cameraCy = 30;
    deviceState().cameraFx = 113;
}

void TestCheckBoard::cleanup()
{
    tempDir.reset();
    deviceState() = DeviceState();
}

void TestCheckBoard::cosineCorrection()
{
    using CheckMeasurement::correctedDistance;
    const CheckMeasurement::Lens lens { 80, 30, 113 };
    // On the optical axis the value is only turned into centimetres.
    QCOMPARE(correctedDistance(2019, 80, 30, lens), 100);
    // 3-4-5 triangle with fx = 5: cos(atan(1)) = 0.7071..., truncated.
    QCOMPARE(correctedDistance(2000, 3, 4, CheckMeasurement::Lens { 0, 0, 5 }), 70);
    // A zero focal length must not turn into 0/0.
    QCOMPARE(correctedDistance(2000, 0, 0, CheckMeasurement::Lens { 0, 0, 0 }), 100);
    QCOMPARE(correctedDistance(2000, 5, 0, CheckMeasurement::Lens { 0, 0, 0 }), 0);
}

void TestCheckBoard::reportBlockFormat()
{
    QVector<quint16> frame(160 * 60, 30000);
    frame[0] = 2000; // entry 20: 79 cm after correction
    frame[9599] = 3000; // entry 0: 120 cm
    frame[2399] = 29999; // entry 10 (col 159, row 14): last valid value, 1220 cm
    frame[4703] = 65500; // special code: NA
    const QByteArray block
        = CheckMeasurement::reportBlock(3, 90, m10Table, frame, 160, CheckMeasurement::Lens { 80, 30, 113 });

    // The layout itself is pinned by reportFileExactBytes; here the value edges.
    QVERIFY(block.startsWith("Step: 3   Real Distance: 90\nPoint | Measure | Error\n9599  120  30\n"));
    QVERIFY(block.contains("\n2399  1220  1130\n"));
    QVERIFY(block.contains("\n4703  NA  NA\n"));
    QVERIFY(block.endsWith("\n0  79  -11\n\n"));

    // Indices outside the frame (a table for a larger sensor) are NA, never read.
    const QByteArray stale = CheckMeasurement::reportBlock(
        1, 30, CheckMeasurement::pointTable(320, 240), frame, 160, CheckMeasurement::Lens { 0, 0, 1 });
    QVERIFY(stale.contains("76799  NA  NA\n"));
    QVERIFY(stale.contains("\n0  100  70\n"));
}

void TestCheckBoard::parallelTestEnablesStartMeasure()
{
    setSensor(160, 60);
    CheckBoard board(nullptr);
    board.initPointTable();
    auto *start = child<QPushButton>(board, "pushButtonStartMeasure");

    setReadings(2000, 2040, 2000, 2060); // 100/102 and 100/103 cm
    board.updateReadings();
    QCOMPARE(child<QLineEdit>(board, "lineEditValue1")->text(), QStringLiteral("100"));
    QCOMPARE(child<QLineEdit>(board, "lineEditValue2")->text(), QStringLiteral("102"));
    QCOMPARE(child<QLineEdit>(board, "lineEditValue3")->text(), QStringLiteral("100"));
    QCOMPARE(child<QLineEdit>(board, "lineEditValue4")->text(), QStringLiteral("103"));
    QVERIFY(!start->isEnabled());

    setReadings(2000, 2059, 2000, 2040); // 100/102 and 100/102 cm (2059 / 20 = 102)
    board.updateReadings();
    QVERIFY(start->isEnabled());

    // The accuracy is read at every frame.
    child<QSpinBox>(board, "spinBoxParallelAccuracy")->setValue(2);
    board.updateReadings();
    QVERIFY(!start->isEnabled());
}

void TestCheckBoard::nextStepSetsAndClampsRealDistance()
{
    CheckBoard board(nullptr);
    auto *real = child<QSpinBox>(board, "spinBoxRealDistance");
    auto *next = child<QPushButton>(board, "pushButtonNextStep");

    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(board.stepIndex(), 2);
    QCOMPARE(real->value(), 60);
    QVERIFY(messages(board).endsWith(QStringLiteral("Current step: 2")));

    child<QSpinBox>(board, "spinBoxStepLength")->setValue(400);
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(board.stepIndex(), 3);
    QCOMPARE(real->value(), 700); // 3 x 400 clamped

    child<QSpinBox>(board, "spinBoxStepLength")->setValue(0);
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(real->value(), 30); // 0 clamped to the lower end
}

void TestCheckBoard::reportFileExactBytes()
{
    setSensor(160, 60, 30000);
    DeviceState &state = deviceState();
    state.frameBuffer[0] = 2000;
    state.frameBuffer[9599] = 3000;
    state.frameBuffer[80 + 30 * 160] = 2019; // centre pixel, not measured
    setReadings(2000, 2000, 2000, 2000);

    CheckBoard board(nullptr);
    board.initPointTable();
    const QString path = workingDir() + QStringLiteral("/Check Result-0.txt");
    QCOMPARE(board.reportFileName(), path);
    QCOMPARE(readAll(path), QByteArray("# file info: /log   unit: cm\n\n"));
    QCOMPARE(messages(board),
        QStringLiteral("Check file created to: ") + path + QStringLiteral("\nCurrent step: 1"));

    board.updateReadings();
    auto *start = child<QPushButton>(board, "pushButtonStartMeasure");
    QVERIFY(start->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(messages(board).endsWith(QStringLiteral("Measure finished!")));

    QTest::mouseClick(child<QPushButton>(board, "pushButtonNextStep"), Qt::LeftButton);
    QTest::mouseClick(start, Qt::LeftButton);

    auto block = [](int step, int distance, const QByteArray &first, const QByteArray &last) {
        QByteArray b = "Step: " + QByteArray::number(step)
            + "   Real Distance: " + QByteArray::number(distance) + "\nPoint | Measure | Error\n" + first;
        for (int i = 1; i < 20; ++i)
            b += QByteArray::number(m10Table.at(i)) + "  NA  NA\n";
        return b + last + "\n";
    };
    const QByteArray expected = "# file info: /log   unit: cm\n\n"
        + block(1, 30, "9599  120  90\n", "0  79  49\n") + block(2, 60, "9599  120  60\n", "0  79  19\n");
    QCOMPARE(readAll(path), expected);
}

void TestCheckBoard::reportFileTakesFirstFreeNumber()
{
    QFile existing(workingDir() + QStringLiteral("/Check Result-0.txt"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();

    CheckBoard first(nullptr);
    CheckBoard second(nullptr);
    QCOMPARE(first.reportFileName(), workingDir() + QStringLiteral("/Check Result-1.txt"));
    QCOMPARE(second.reportFileName(), workingDir() + QStringLiteral("/Check Result-2.txt"));
    QCOMPARE(readAll(existing.fileName()), QByteArray("keep me"));
}

void TestCheckBoard::uncreatableReportFile()
{
    deviceState().workingSubdir = QStringLiteral("/missing");
    setSensor(160, 60);
    CheckBoard board(nullptr);
    QCOMPARE(messages(board), QStringLiteral("Creat check file failed!"));

    board.updateReadings();
    QTest::mouseClick(child<QPushButton>(board, "pushButtonStartMeasure"), Qt::LeftButton);
    QVERIFY(messages(board).endsWith(QStringLiteral("Open check file failed!")));
    QVERIFY(!QFileInfo::exists(tempDir->path() + QStringLiteral("/missing")));
}

void TestCheckBoard::noFrameGuard()
{
    DeviceState &state = deviceState();
    state.imageWidth = 160;
    state.imageHeight = 60;
    state.pixelCount = 9600;
    CheckBoard board(nullptr);
    const QString path = board.reportFileName();
    const QByteArray header = readAll(path);
    auto *start = child<QPushButton>(board, "pushButtonStartMeasure");

    // No camera: the buffer is empty.
    board.updateReadings();
    board.updateReadings();
    QVERIFY(!start->isEnabled());
    QCOMPARE(messages(board).count(QStringLiteral("No frame to read, live values skipped!")), 1);
    board.on_pushButtonStartMeasure_clicked();
    QVERIFY(messages(board).endsWith(QStringLiteral("No frame received, measure skipped!")));
    QCOMPARE(readAll(path), header);

    // A buffer allocated for the camera but never filled by a decoded frame.
    state.frameBuffer = QVector<quint16>(9600, 0);
    board.on_pushButtonStartMeasure_clicked();
    QCOMPARE(messages(board).count(QStringLiteral("No frame received, measure skipped!")), 2);
    QCOMPARE(readAll(path), header);

    // The first decoded frame ends the gap.
    board.updateReadings();
    QVERIFY(start->isEnabled());
    board.on_pushButtonStartMeasure_clicked();
    QVERIFY(readAll(path).startsWith(header + "Step: 1"));
}

void TestCheckBoard::newCameraOfSameSize()
{
    setSensor(160, 60);
    TofDevice device;
    CheckBoard board(&device);
    board.updateReadings();

    // Unplugged and another camera of the same model opened: its buffer is
    // allocated, but no frame of it has been decoded yet.
    emit device.deviceTypeChanged(TofDevice::KavrixM10Removed);
    emit device.deviceTypeChanged(TofDevice::KavrixM10);
    board.on_pushButtonStartMeasure_clicked();
    QVERIFY(messages(board).endsWith(QStringLiteral("No frame received, measure skipped!")));

    board.updateReadings();
    board.on_pushButtonStartMeasure_clicked();
    QVERIFY(messages(board).endsWith(QStringLiteral("Measure finished!")));
}

void TestCheckBoard::sensorChangeRecomputesTable()
{
    // Opened while a "Kavrix M20" was attached.
    setSensor(320, 240);
    CheckBoard board(nullptr);
    board.initPointTable();
    board.updateReadings();
    QCOMPARE(board.pointTable().first(), 76799);

    // Replaced by the smaller "Kavrix M10": the old indices would run past the frame.
    setSensor(160, 60, 30000);
    deviceState().frameBuffer[9599] = 3000;
    board.on_pushButtonStartMeasure_clicked();
    QCOMPARE(board.pointTable(), m10Table);
    QVERIFY(messages(board).contains(QStringLiteral("Sensor changed to 160 x 60, check points recomputed")));
    // Nothing of the new camera has been seen yet.
    QVERIFY(messages(board).endsWith(QStringLiteral("No frame received, measure skipped!")));

    board.updateReadings();
    board.on_pushButtonStartMeasure_clicked();
    const QByteArray report = readAll(board.reportFileName());
    QVERIFY(report.contains("Point | Measure | Error\n9599  120  90\n8663  NA  NA\n"));
    QVERIFY(!report.contains("76799"));
    QCOMPARE(messages(board).count(QStringLiteral("Sensor changed")), 1);
}

void TestCheckBoard::mainWindowUpdatesNewestBoardOncePerFrame()
{
    TofDevice device;
    auto *window = new ProbedMainWindow(&device);
    // The main window's start-up settles the shared state for "no camera"; set the scene afterwards.
    setSensor(160, 60);
    deviceState().appDirPath = tempDir->path();

    auto boards = [] {
        QList<CheckBoard *> list;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *board = qobject_cast<CheckBoard *>(w))
                list << board;
        return list;
    };
    QVERIFY(boards().isEmpty());

    window->showCheckBoard();
    window->showCheckBoard();
    QCOMPARE(window->pictureReadyConnections(), 1);
    const QList<CheckBoard *> opened = boards();
    QCOMPARE(opened.size(), 2);
    CheckBoard *newest
        = opened.at(0)->reportFileName().endsWith(QLatin1String("-1.txt")) ? opened.at(0) : opened.at(1);
    CheckBoard *oldest = newest == opened.at(0) ? opened.at(1) : opened.at(0);
    QVERIFY(newest->isVisible());
    QCOMPARE(newest->pointTable(), m10Table);

    setReadings(2000, 2020, 2040, 2060);
    emit window->pictureReady(1);
    QCOMPARE(child<QLineEdit>(*newest, "lineEditValue3")->text(), QStringLiteral("102"));
    QCOMPARE(child<QLineEdit>(*oldest, "lineEditValue3")->text(), QString());

    delete window;
    qDeleteAll(boards());
}

QTEST_MAIN(TestCheckBoard)
#include "tst_check_checkboard.moc"
