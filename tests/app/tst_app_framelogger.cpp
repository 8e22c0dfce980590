// The one-frame log: numbering, exact file bytes and failure reports.
#include "app/FrameLogger.h"
#include "tests/support/WindowTestSupport.h"

#include <QImage>
#include <QtTest>

#include <cmath>

using WindowTest::readFile;

namespace {

QVector<quint16> rampFrame(int width, int height)
{
    QVector<quint16> values(width * height);
    for (int i = 0; i < values.size(); ++i)
        values[i] = quint16(1000 + (i * 37) % 9000);
    return values;
}

QImage testImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 3 % 256, y * 5 % 256, (x + y) % 256));
    return image;
}

const LensParameters Unit { 0.0, 0.0, 1.0, 1.0, 1000.0 };

} // namespace

class TestFrameLogger : public QObject
{
    Q_OBJECT

private slots:
    void fixedFormatMatchesQString()
    {
        QVector<double> values
            = { -0.0, -4.9e-7, 5e-7, 999999.9999995, 123456789.1234565, 1e22, NAN, INFINITY };
        for (int k = 1; k < 2000; k += 2) // exact halves at the seventh decimal
            values << k / 128.0 << -k / 2097152.0;
        QRandomGenerator random(4242);
        for (int i = 0; i < 100000; ++i)
            values << (random.bounded(2) ? 1 : -1) * std::pow(10.0, -9.0 + 20.0 * random.generateDouble());
        for (double value : qAsConst(values)) {
            QByteArray out;
            LogFormat::appendFixed6(out, value);
            QCOMPARE(QString::fromLatin1(out), QString::number(value, 'f', 6));
        }
    }

    void exactBytes()
    {
        QTemporaryDir dir;
        FrameLogger logger;
        QVERIFY(logger.request(dir.path()).accepted);
        const QVector<quint16> frame = { 0, 1, 65535, 30000, 2000, 12 };
        const FrameLogResult result = logger.record(frame, 3, 2, 1, testImage(3, 2), Unit);
        QVERIFY(result.complete());
        QCOMPARE(result.rawPath, dir.path() + "/Log1.txt");
        QCOMPARE(readFile(result.rawPath), QByteArray("0 \n1 \n65535 \n30000 \n2000 \n12 \n"));
        const QByteArray origin = "0.000000 0.000000 0.000000\n";
        QCOMPARE(readFile(result.pcdPath),
            "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\n"
            "COUNT 1 1 1\nWIDTH 3\nHEIGHT 2\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 6\nDATA ascii\n"
                + origin + LogFormat::pointLine(1, 3, 1, Unit) + '\n' + origin + origin
                + LogFormat::pointLine(4, 3, 2000, Unit) + '\n' + LogFormat::pointLine(5, 3, 12, Unit)
                + '\n');
        // On the axis at 2000 (x 0.5 mm): 1 m straight ahead; 30000 and up have no point.
        QCOMPARE(LogFormat::pointLine(0, 160, 2000, Unit), QByteArray("0.000000 0.000000 1.000000"));
        QCOMPARE(
            LogFormat::pointLine(2 * 160 + 1, 160, 4000, LensParameters { 1.0, 2.0, 300.0, 300.0, 1000.0 }),
            QByteArray("0.000000 0.000000 2.000000"));
        QCOMPARE(QImage(result.pngPath).pixel(2, 1), testImage(3, 2).pixel(2, 1));
    }

    void numbering()
    {
        QTemporaryDir dir;
        for (const char *name : { "Log1.txt", "Log2.txt", "Log3.pcd" })
            QVERIFY(WindowTest::writeFile(dir.filePath(name), "keep\n"));
        FrameLogger logger;
        const QVector<quint16> frame = rampFrame(4, 3);
        // Nothing exists until the frame.
        QCOMPARE(logger.request(dir.path()).index, 3);
        QCOMPARE(WindowTest::filesIn(dir.path()).size(), 3);
        FrameLogResult result = logger.record(frame, 4, 3, 1, testImage(4, 3), Unit);
        QCOMPARE(result.messages(), QStringList { "Log3: data and image saved (point cloud in Log4.pcd)" });
        QCOMPARE(readFile(dir.filePath("Log3.pcd")), QByteArray("keep\n"));
        QVERIFY(!logger.isPending());
        QVERIFY(!logger.record(frame, 4, 3, 1, testImage(4, 3), Unit).recorded);

        // A file that appears between the press and the frame is not overwritten.
        QCOMPARE(logger.request(dir.path()).index, 4);
        QVERIFY(WindowTest::writeFile(dir.filePath("Log4.txt"), "keep\n"));
        result = logger.record(frame, 4, 3, 1, testImage(4, 3), Unit);
        QCOMPARE(result.index, 5);
        QCOMPARE(readFile(dir.filePath("Log4.txt")), QByteArray("keep\n"));
        QCOMPARE(WindowTest::filesIn(dir.path()),
            QStringList({ "Log1.txt", "Log2.txt", "Log3.pcd", "Log3.png", "Log3.txt", "Log4.pcd", "Log4.txt",
                "Log5.pcd", "Log5.png", "Log5.txt" }));
    }

    void refusedFolders_data()
    {
        QTest::addColumn<QString>("folder"); // below a temporary folder unless absolute
        QTest::addColumn<QString>("problem");
        QTest::newRow("missing") << "0_0_0" << QString("does not exist");
        QTest::newRow("not writable") << "/proc" << QString("is not writable");
        QTest::newRow("a file") << "plain" << QString("is not a folder");
    }

    void refusedFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QVERIFY(WindowTest::writeFile(dir.filePath("plain"), "x"));
        const QString path = folder.startsWith('/') ? folder : dir.filePath(folder);
        FrameLogger logger;
        QVERIFY(logger.request(dir.path()).accepted);
        // A refused press cancels an earlier one instead of leaving it to a folder that may be gone.
        const FrameLogger::RequestResult request = logger.request(path);
        QVERIFY(!request.accepted && !logger.isPending());
        QCOMPARE(request.messages.value(0), QStringLiteral("Open log file failed"));
        QVERIFY2(request.messages.value(1).contains(problem) && request.messages.value(1).contains(path),
            qPrintable(request.messages.join('|')));
        QVERIFY(!logger.record(rampFrame(4, 3), 4, 3, 1, testImage(4, 3), Unit).recorded);
        QCOMPARE(WindowTest::filesIn(dir.path()), QStringList { "plain" });
    }

    void failedWrites()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("log/1_2_3");
        QVERIFY(QDir().mkpath(folder));
        FrameLogger logger;
        const QVector<quint16> frame = rampFrame(160, 60);
        // The folder goes away between the press and the frame.
        QVERIFY(logger.request(folder).accepted);
        QVERIFY(QDir(folder).removeRecursively());
        QStringList lines = logger.record(frame, 160, 60, 1, testImage(160, 60), Unit).messages();
        QCOMPARE(lines.mid(0, 3),
            QStringList({ "Open log file failed", "Open Pcd log file failed", "Save image file failed" }));
        QVERIFY(lines.size() == 4 && lines[3].startsWith("Log1: nothing saved (")
            && lines[3].contains(folder + "/Log1.txt"));

        // The disk fills up: room for the raw file (about 48 kB), not for the points.
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(logger.request(folder).accepted);
        {
            WindowTest::FileSizeLimit full(60000);
            lines = logger.record(frame, 160, 60, 1, testImage(160, 60), Unit).messages();
        }
        QCOMPARE(lines.value(0), QStringLiteral("Write Pcd log file failed"));
        QVERIFY2(lines.value(1).startsWith("Log2: data and image saved, point cloud not saved (")
                && lines.value(1).contains("File too large"),
            qPrintable(lines.join('|')));
        // Nothing fits: every file fails, nothing half-written is left behind.
        QVERIFY(logger.request(folder).accepted);
        {
            WindowTest::FileSizeLimit full(16);
            lines = logger.record(frame, 160, 60, 1, testImage(160, 60), Unit).messages();
        }
        QVERIFY(lines.last().startsWith("Log3: nothing saved ("));
        QCOMPARE(WindowTest::filesIn(folder), QStringList({ "Log2.png", "Log2.txt" }));
    }
};

QTEST_GUILESS_MAIN(TestFrameLogger)
#include "tst_app_framelogger.moc"
