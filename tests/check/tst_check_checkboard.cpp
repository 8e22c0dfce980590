#include "app/MainWindow.h"
#include "check/CheckBoard.h"
#include "check/CheckMeasurement.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/support/WindowTestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace WindowTest;

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

QString messages(CheckBoard &board)
{
    return child<QTextEdit>(&board, "textEdit")->toPlainText();
}

} // namespace

class TestCheckBoard : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        deviceState() = DeviceState();
        tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(tempDir->path()).mkpath("log"));
        deviceState().appDirPath = tempDir->path();
        deviceState().workingSubdir = "/log";
        deviceState().cameraCx = 80;
        deviceState().cameraCy = 30;
        deviceState().cameraFx = 113;
    }

    void correctedDistance_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("fx");
        QTest::addColumn<int>("centimetres");
        QTest::newRow("on the axis") << 2019 << 80 << 30 << 113.0 << 100;
        QTest::newRow("3-4-5, truncated") << 2000 << 83 << 34 << 5.0 << 70;
        QTest::newRow("no focal length on the axis") << 2000 << 80 << 30 << 0.0 << 100;
        QTest::newRow("no focal length off the axis") << 2000 << 85 << 30 << 0.0 << 0;
    }

    void correctedDistance()
    {
        QFETCH(int, value);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(double, fx);
        QFETCH(int, centimetres);
        QCOMPARE(CheckMeasurement::correctedDistance(
                     quint16(value), col, row, CheckMeasurement::Lens { 80, 30, fx }),
            centimetres);
    }

    void isParallel_data()
    {
        QTest::addColumn<QVector<int>>("readings"); // left, right, before, after (cm)
        QTest::addColumn<bool>("parallel");
        QTest::newRow("both below") << QVector<int> { 100, 101, 101, 100 } << true;
        QTest::newRow("left-right equal to the accuracy") << QVector<int> { 100, 102, 100, 100 } << false;
        QTest::newRow("before-after equal to the accuracy") << QVector<int> { 100, 100, 102, 100 } << false;
        QTest::newRow("right-left above") << QVector<int> { 103, 100, 100, 101 } << false;
    }

    void isParallel()
    {
        QFETCH(QVector<int>, readings);
        const CheckMeasurement::Readings r { readings[0], readings[1], readings[2], readings[3] };
        QTEST(CheckMeasurement::isParallel(r, 2), "parallel");
    }

    void reportFile()
    {
        QVERIFY(writeFile(tempDir->path() + "/log/Check Result-0.txt", "keep me"));
        setSensor(160, 60, 30000);
        DeviceState &state = deviceState();
        state.frameBuffer[0] = 2000; // 79 cm after correction
        state.frameBuffer[9599] = 3000; // 120 cm
        state.frameBuffer[2399] = 29999; // the last valid value
        state.frameBuffer[4703] = 65500; // a special code
        CheckBoard board(nullptr);
        const QString path = tempDir->path() + "/log/Check Result-1.txt";
        QCOMPARE(board.reportFileName(), path);
        QCOMPARE(messages(board), "Check file created to: " + path + "\nCurrent step: 1");
        QCOMPARE(board.pointTable(), m10Table);

        // The accuracy is read at every frame.
        auto *start = child<QPushButton>(&board, "pushButtonStartMeasure");
        setReadings(2000, 2059, 2000, 2040); // 2059 / 20 = 102
        board.updateReadings();
        QVERIFY(start->isEnabled());
        start->click();
        child<QSpinBox>(&board, "spinBoxStepLength")->setValue(400);
        child<QPushButton>(&board, "pushButtonNextStep")->click();
        QCOMPARE(child<QSpinBox>(&board, "spinBoxRealDistance")->value(), 700); // 2 x 400, clamped
        child<QSpinBox>(&board, "spinBoxParallelAccuracy")->setValue(2);
        board.updateReadings();
        QVERIFY(!start->isEnabled());
        board.on_pushButtonStartMeasure_clicked(); // the frame was seen: measured all the same

        auto block = [](int step, int distance) {
            QByteArray b = "Step: " + QByteArray::number(step)
                + "   Real Distance: " + QByteArray::number(distance) + "\nPoint | Measure | Error\n";
            for (int i = 0; i < 21; ++i) {
                const int p = m10Table.at(i);
                const int cm = p == 9599 ? 120 : p == 2399 ? 1220 : p == 0 ? 79 : 0;
                b += QByteArray::number(p)
                    + (cm ? "  " + QByteArray::number(cm) + "  " + QByteArray::number(cm - distance)
                          : "  NA  NA")
                    + '\n';
            }
            return b + '\n';
        };
        QCOMPARE(readFile(path), "# file info: /log   unit: cm\n\n" + block(1, 30) + block(2, 700));
        QCOMPARE(readFile(tempDir->path() + "/log/Check Result-0.txt"), QByteArray("keep me"));
        // Indices outside the frame (a table for a larger sensor) are NA, never read.
        QVERIFY(CheckMeasurement::reportBlock(1, 30, CheckMeasurement::pointTable(320, 240),
            state.frameBuffer, 160, CheckMeasurement::Lens { 0, 0, 1 })
                    .contains("76799  NA  NA\n"));

        {
            // A full disk: no report file without its header.
            FileSizeLimit full(10);
            CheckBoard cut(nullptr);
            QCOMPARE(messages(cut), QStringLiteral("Creat check file failed!"));
        }
        QVERIFY(!QFileInfo::exists(tempDir->path() + "/log/Check Result-2.txt"));
        deviceState().workingSubdir = "/missing";
        CheckBoard nowhere(nullptr);
        QCOMPARE(messages(nowhere), QStringLiteral("Creat check file failed!"));
        nowhere.updateReadings();
        nowhere.on_pushButtonStartMeasure_clicked();
        QVERIFY(messages(nowhere).endsWith("Open check file failed!"));
        QVERIFY(!QFileInfo::exists(tempDir->path() + "/missing"));
    }

    void frameGuards()
    {
        // Opened while a "Kavrix M20" was attached, no frame yet.
        DeviceState &state = deviceState();
        state.imageWidth = 320;
        state.imageHeight = 240;
        TofDevice device;
        CheckBoard board(&device);
        const QString path = board.reportFileName();
        const QByteArray header = readFile(path);
        board.updateReadings();
        board.updateReadings();
        QCOMPARE(messages(board).count("No frame to read, live values skipped!"), 1);
        board.on_pushButtonStartMeasure_clicked();
        QVERIFY(messages(board).endsWith("No frame received, measure skipped!"));

        // Replaced by the smaller "Kavrix M10": the old indices would run past its frame.
        setSensor(160, 60, 30000);
        state.frameBuffer[9599] = 3000;
        board.on_pushButtonStartMeasure_clicked();
        QCOMPARE(board.pointTable(), m10Table);
        QVERIFY(messages(board).contains("Sensor changed to 160 x 60, check points recomputed"));
        QVERIFY(messages(board).endsWith("No frame received, measure skipped!"));
        QCOMPARE(readFile(path), header);
        board.updateReadings();
        board.on_pushButtonStartMeasure_clicked();
        QVERIFY(readFile(path).startsWith(
            header + "Step: 1   Real Distance: 30\nPoint | Measure | Error\n9599  120  90\n"));

        // Another camera of the same size: its buffer exists, but no frame of it has been seen.
        emit device.deviceTypeChanged(TofDevice::KavrixM10Removed);
        emit device.deviceTypeChanged(TofDevice::KavrixM10);
        board.on_pushButtonStartMeasure_clicked();
        QVERIFY(messages(board).endsWith("No frame received, measure skipped!"));
        QCOMPARE(messages(board).count("Sensor changed"), 1);
    }

    void mainWindowUpdatesNewestBoard()
    {
        TofDevice device;
        auto window = std::make_unique<MainWindow>(&device);
        setSensor(160, 60); // after the window settled the shared state for "no camera"
        deviceState().appDirPath = tempDir->path();
        window->showCheckBoard();
        QPointer<CheckBoard> older = topLevel<CheckBoard>();
        window->showCheckBoard();
        QPointer<CheckBoard> newest;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *board = qobject_cast<CheckBoard *>(w); board && board != older)
                newest = board;
        setReadings(2000, 2020, 2040, 2060);
        emit window->pictureReady(1);
        QCOMPARE(child<QLineEdit>(newest, "lineEditValue3")->text(), QStringLiteral("102"));
        QCOMPARE(child<QLineEdit>(older, "lineEditValue3")->text(), QString());
        window.reset();
        delete newest.data();
        delete older.data();
    }

private:
    std::unique_ptr<QTemporaryDir> tempDir;
};

QTEST_MAIN(TestCheckBoard)
#include "tst_check_checkboard.moc"
