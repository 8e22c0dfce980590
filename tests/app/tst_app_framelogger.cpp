// The one-frame log: numbering, exact file bytes, failure reports, and the
// files read back by third-party readers (PCL for the .pcd, Qt for the .png).

#include "app/FrameLogger.h"
#include "frames/ImageColorizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep\n");
}

QString referenceFixed6(double value)
{
    return QString::number(value, 'f', 6);
}

QString fixed6(double value)
{
    QByteArray out;
    LogFormat::appendFixed6(out, value);
    return QString::fromLatin1(out);
}

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

// Entries of `dir` other than the three log kinds: leftovers of a failed write.
QStringList strayFiles(const QString &dir)
{
    QStringList stray;
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : entries) {
        if (!QRegularExpression(QStringLiteral("^Log\\d+\\.(txt|pcd|png)$")).match(name).hasMatch())
            stray << name;
    }
    return stray;
}

} // namespace

class TestFrameLogger : public QObject
{
    Q_OBJECT

private slots:
    void fixedFormatMatchesQString();
    void pointProjection();
    void numbering();
    void exactBytes();
    void depthFrameReadByPcl();
    void amplitudeFrameHasNoPcd();
    void pointCloudFramePng();
    void secondPressReplacesFirst();
    void missingAndUnwritableFolder();
    void folderRemovedBeforeFrame();
    void fullDisk();
    void existingPngIsReplaced();
};

void TestFrameLogger::fixedFormatMatchesQString()
{
    QVector<double> values
        = { 0.0, -0.0, 1e-9, -1e-9, 4.9e-7, -4.9e-7, 5e-7, -5e-7, 5.1e-7, -5.1e-7, 0.0078125, -0.0078125,
              0.0234375, 1.0 / 3, -2.0 / 3, 2.5, 999999.9999995, 123456789.1234565, 999999999.9999999, 1e9,
              -1e9, 1e15, 1e22, -1e-300, std::nan(""), INFINITY, -INFINITY, 0.5e-6, 1.5e-6, 2.5e-6 };
    // Exact halves at the seventh decimal, where the rounding direction matters.
    for (int k = 1; k < 2000; k += 2)
        values << k / 128.0 << -k / 128.0 << k / 2097152.0;
    QRandomGenerator random(4242);
    for (int i = 0; i < 200000; ++i) {
        const double magnitude = std::pow(10.0, -9.0 + 20.0 * random.generateDouble());
        values << (random.bounded(2) ? magnitude : -magnitude) * random.generateDouble();
    }
    int mismatches = 0;
    for (double value : values) {
        if (fixed6(value) != referenceFixed6(value)) {
            if (++mismatches < 10)
                qWarning() << QString::number(value, 'g', 17) << fixed6(value) << referenceFixed6(value);
        }
    }
    QCOMPARE(mismatches, 0);
}

void TestFrameLogger::pointProjection()
{
    const LensParameters unit { 0.0, 0.0, 1.0, 1.0, 1000.0 };
    QCOMPARE(LogFormat::pointLine(0, 160, 2000, unit), QByteArray("0.000000 0.000000 1.000000"));
    QCOMPARE(LogFormat::pointLine(5, 160, 30000, unit), QByteArray("0.000000 0.000000 0.000000"));

    // Pixel (3, 4) is 5 pixels off axis with fx = 5: 45 degrees, z = 1000 * cos 45 / 1000.
    const LensParameters lens { 0.0, 0.0, 5.0, 10.0, 1000.0 };
    const Point3D p = LogFormat::projectPixel(3, 4, 2001, lens);
    QVERIFY(qAbs(p.z - std::sqrt(0.5)) < 1e-12);
    QVERIFY(qAbs(p.x - 3 * p.z / 5) < 1e-12);
    QVERIFY(qAbs(p.y - 4 * p.z / 10) < 1e-12);
    QCOMPARE(LogFormat::pointLine(2 * 160 + 1, 160, 4000, LensParameters { 1.0, 2.0, 300.0, 300.0, 1000.0 }),
        QByteArray("0.000000 0.000000 2.000000"));
}

void TestFrameLogger::numbering()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QVector<quint16> frame = rampFrame(4, 3);
    const QImage image = testImage(4, 3);

    FrameLogger logger;
    FrameLogger::RequestResult request = logger.request(dir.path());
    QVERIFY(request.accepted);
    QVERIFY(request.messages.isEmpty());
    QVERIFY(logger.isPending());
    // Nothing exists on disk until the frame arrives.
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    FrameLogResult result = logger.record(frame, 4, 3, 1, image, LensParameters());
    QVERIFY(!logger.isPending());
    QCOMPARE(result.messages(), QStringList { QStringLiteral("Log1: data and image saved") });
    for (const char *name : { "Log1.txt", "Log1.pcd", "Log1.png" })
        QVERIFY2(QFileInfo::exists(dir.filePath(QLatin1String(name))), name);
    QCOMPARE(result.rawPath, dir.path() + QStringLiteral("/Log1.txt"));

    // A frame without a request writes nothing.
    QVERIFY(!logger.record(frame, 4, 3, 1, image, LensParameters()).recorded);

    // Log1.txt and Log2.txt exist, Log3.pcd exists: Log3.txt, Log4.pcd, Log3.png.
    QTemporaryDir other;
    touch(other.filePath(QStringLiteral("Log1.txt")));
    touch(other.filePath(QStringLiteral("Log2.txt")));
    touch(other.filePath(QStringLiteral("Log3.pcd")));
    FrameLogger second;
    request = second.request(other.path());
    QVERIFY(request.accepted);
    QCOMPARE(request.index, 3);
    result = second.record(frame, 4, 3, 1, image, LensParameters());
    QVERIFY(QFileInfo::exists(other.filePath(QStringLiteral("Log3.txt"))));
    QVERIFY(QFileInfo::exists(other.filePath(QStringLiteral("Log4.pcd"))));
    QVERIFY(QFileInfo::exists(other.filePath(QStringLiteral("Log3.png"))));
    QCOMPARE(readAll(other.filePath(QStringLiteral("Log3.pcd"))), QByteArray("keep\n"));
    QCOMPARE(result.messages(),
        QStringList { QStringLiteral("Log3: data and image saved (point cloud in Log4.pcd)") });

    // A file that appears between the press and the frame is not overwritten.
    request = second.request(other.path());
    QCOMPARE(request.index, 4);
    touch(other.filePath(QStringLiteral("Log4.txt")));
    result = second.record(frame, 4, 3, 1, image, LensParameters());
    QCOMPARE(result.index, 5);
    QCOMPARE(readAll(other.filePath(QStringLiteral("Log4.txt"))), QByteArray("keep\n"));
    QVERIFY(strayFiles(other.path()).isEmpty());
}

void TestFrameLogger::exactBytes()
{
    QTemporaryDir dir;
    FrameLogger logger;
    QVERIFY(logger.request(dir.path()).accepted);
    const QVector<quint16> frame = { 0, 1, 65535, 30000, 2000, 12 };
    const FrameLogResult result
        = logger.record(frame, 3, 2, 1, testImage(3, 2), LensParameters { 0.0, 0.0, 1.0, 1.0, 1000.0 });
    QVERIFY(result.complete());
    QCOMPARE(readAll(result.rawPath), QByteArray("0 \n1 \n65535 \n30000 \n2000 \n12 \n"));

    const QByteArray pcd = readAll(result.pcdPath);
    const QByteArray header = "# .PCD v0.7 - Point Cloud Data file format\n"
                              "VERSION 0.7\n"
                              "FIELDS x y z\n"
                              "SIZE 4 4 4\n"
                              "TYPE F F F\n"
                              "COUNT 1 1 1\n"
                              "WIDTH 3\n"
                              "HEIGHT 2\n"
                              "VIEWPOINT 0 0 0 1 0 0 0\n"
                              "POINTS 6\n"
                              "DATA ascii\n";
    QVERIFY(pcd.startsWith(header));
    const QList<QByteArray> lines = pcd.mid(header.size()).split('\n');
    QCOMPARE(lines.size(), 7); // six lines and the empty rest after the last line feed
    QCOMPARE(lines[0], QByteArray("0.000000 0.000000 0.000000"));
    QCOMPARE(lines[2], QByteArray("0.000000 0.000000 0.000000")); // 65535
    QCOMPARE(lines[3], QByteArray("0.000000 0.000000 0.000000")); // 30000
    QCOMPARE(lines[4], LogFormat::pointLine(4, 3, 2000, LensParameters { 0.0, 0.0, 1.0, 1.0, 1000.0 }));
    QVERIFY(lines[6].isEmpty());
}

void TestFrameLogger::depthFrameReadByPcl()
{
    const QString converter = QStandardPaths::findExecutable(QStringLiteral("pcl_convert_pcd_ascii_binary"));
    if (converter.isEmpty())
        QSKIP("pcl_convert_pcd_ascii_binary (Debian package pcl-tools) is not installed");

    QTemporaryDir dir;
    const int width = 160, height = 60;
    QVector<quint16> frame = rampFrame(width, height);
    frame[0] = 30000; // no distance: the origin
    frame[30 * width + 80] = 2000; // on the optical axis: (0, 0, 1)
    frame[10 * width + 20] = 65400; // special code: the origin
    const LensParameters lens { 80.0, 30.0, 100.0, 110.0, 1000.0 };
    FrameLogger logger;
    QVERIFY(logger.request(dir.path()).accepted);
    const FrameLogResult result = logger.record(frame, width, height, 1, testImage(width, height), lens);
    QVERIFY(result.complete());

    // PCL's reader rejects a file whose data do not match its header; converting
    // to ASCII loads it and writes it back in PCL's own formatting.
    const QString converted = dir.filePath(QStringLiteral("converted.pcd"));
    QProcess pcl;
    pcl.start(converter, { result.pcdPath, converted, QStringLiteral("0") });
    QVERIFY(pcl.waitForFinished(60000));
    QVERIFY2(pcl.exitCode() == 0, pcl.readAllStandardError().constData());

    const QList<QByteArray> lines = readAll(converted).split('\n');
    int data = lines.indexOf("DATA ascii");
    QVERIFY(data > 0);
    QVERIFY(lines.contains("WIDTH 160"));
    QVERIFY(lines.contains("HEIGHT 60"));
    QVERIFY(lines.contains("POINTS 9600"));
    QVector<Point3D> points;
    for (int i = data + 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].split(' ');
        QCOMPARE(fields.size(), 3);
        points.append(Point3D { fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble() });
    }
    QCOMPARE(points.size(), width * height);

    const auto near = [](const Point3D &a, const Point3D &b) {
        return qAbs(a.x - b.x) < 1e-5 && qAbs(a.y - b.y) < 1e-5 && qAbs(a.z - b.z) < 1e-5;
    };
    QVERIFY(near(points[0], Point3D { 0, 0, 0 }));
    QVERIFY(near(points[30 * width + 80], Point3D { 0, 0, 1 }));
    QVERIFY(near(points[10 * width + 20], Point3D { 0, 0, 0 }));
    for (int i : { 1, 777, 4321, 9599 }) {
        const Point3D expected = LogFormat::projectPixel(i % width, i / width, frame[i], lens);
        QVERIFY2(near(points[i], expected), qPrintable(QString::number(i)));
        QVERIFY(points[i].z > 0.3);
    }

    const QImage png(result.pngPath);
    QCOMPARE(png.size(), QSize(width, height));
    QCOMPARE(png.pixel(17, 23), testImage(width, height).pixel(17, 23));
}

void TestFrameLogger::amplitudeFrameHasNoPcd()
{
    QTemporaryDir dir;
    FrameLogger logger;
    const QVector<quint16> frame = rampFrame(160, 60);
    for (quint8 mode : { quint8(0), quint8(2) }) {
        QVERIFY(logger.request(dir.path()).accepted);
        const FrameLogResult result
            = logger.record(frame, 160, 60, mode, testImage(160, 60), LensParameters());
        QVERIFY(result.complete());
        QCOMPARE(result.pcd, FrameLogResult::NotApplicable);
        QCOMPARE(readAll(result.rawPath).count('\n'), 9600);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("Log%1.pcd").arg(result.index))));
        QCOMPARE(result.messages(),
            QStringList { QStringLiteral("Log%1: data and image saved (no point cloud for %2 frame)")
                              .arg(result.index)
                              .arg(mode == 0 ? "an amplitude" : "a grayscale") });
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

void TestFrameLogger::pointCloudFramePng()
{
    // Point-cloud frames are never coloured for display: the PNG holds the depth colouring.
    QTemporaryDir dir;
    FrameLogger logger;
    QVERIFY(logger.request(dir.path()).accepted);
    const QVector<quint16> frame = rampFrame(160, 60);
    const FrameLogResult result = logger.record(frame, 160, 60, 3, QImage(), LensParameters());
    QVERIFY(result.complete());
    QCOMPARE(result.pcd, FrameLogResult::Written);
    const QImage png(result.pngPath);
    QCOMPARE(png.size(), QSize(160, 60));
    ImageColorizer colorizer;
    colorizer.setRange(0, 9000);
    for (int i : { 0, 161, 5000, 9599 })
        QCOMPARE(QColor(png.pixel(i % 160, i / 160)),
            colorizer.valueToColor(frame[i], ImageColorizer::DepthColors));
}

void TestFrameLogger::secondPressReplacesFirst()
{
    QTemporaryDir dir;
    FrameLogger logger;
    QCOMPARE(logger.request(dir.path()).index, 1);
    QCOMPARE(logger.request(dir.path()).index, 2);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    const FrameLogResult result = logger.record(rampFrame(4, 3), 4, 3, 1, testImage(4, 3), LensParameters());
    QCOMPARE(result.messages(), QStringList { QStringLiteral("Log2: data and image saved") });
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        (QStringList { QStringLiteral("Log2.pcd"), QStringLiteral("Log2.png"), QStringLiteral("Log2.txt") }));
}

void TestFrameLogger::missingAndUnwritableFolder()
{
    QTemporaryDir dir;
    FrameLogger logger;
    // The folder before any device information: application directory + "0_0_0".
    const QString missing = dir.path() + QStringLiteral("0_0_0");
    FrameLogger::RequestResult request = logger.request(missing);
    QVERIFY(!request.accepted);
    QVERIFY(!logger.isPending());
    QCOMPARE(request.messages.value(0), QStringLiteral("Open log file failed"));
    QVERIFY(request.messages.value(1).contains(QStringLiteral("does not exist")));
    QVERIFY(request.messages.value(1).contains(missing));
    // The next frame completes nothing and reports nothing.
    const FrameLogResult result = logger.record(rampFrame(4, 3), 4, 3, 1, testImage(4, 3), LensParameters());
    QVERIFY(!result.recorded);
    QVERIFY(result.messages().isEmpty());

    // A folder that takes no new files, even for root.
    request = logger.request(QStringLiteral("/proc"));
    QVERIFY(!request.accepted);
    QVERIFY(request.messages.value(1).contains(QStringLiteral("is not writable")));

    // A file where the folder should be.
    touch(dir.filePath(QStringLiteral("plain")));
    request = logger.request(dir.filePath(QStringLiteral("plain")));
    QVERIFY(!request.accepted);
    QVERIFY(request.messages.value(1).contains(QStringLiteral("is not a folder")));

    // A refused press cancels an earlier one instead of leaving it to a folder that may be gone.
    QVERIFY(logger.request(dir.path()).accepted);
    QVERIFY(!logger.request(missing).accepted);
    QVERIFY(!logger.isPending());
}

void TestFrameLogger::folderRemovedBeforeFrame()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("log/1_2_3"));
    QVERIFY(QDir().mkpath(folder));
    FrameLogger logger;
    QVERIFY(logger.request(folder).accepted);
    QVERIFY(QDir(folder).removeRecursively());

    const FrameLogResult result = logger.record(rampFrame(4, 3), 4, 3, 1, testImage(4, 3), LensParameters());
    QVERIFY(result.recorded);
    QVERIFY(!logger.isPending());
    const QStringList lines = result.messages();
    QCOMPARE(lines.mid(0, 3),
        (QStringList { QStringLiteral("Open log file failed"), QStringLiteral("Open Pcd log file failed"),
            QStringLiteral("Save image file failed") }));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[3].startsWith(QStringLiteral("Log1: nothing saved (")));
    QVERIFY(lines[3].contains(folder + QStringLiteral("/Log1.txt")));
    for (const QString &line : lines)
        QVERIFY(!line.contains(QStringLiteral("data and image saved")));
}

void TestFrameLogger::fullDisk()
{
    // A file size limit makes write() fail with EFBIG mid-file, as a full disk
    // fails with ENOSPC.
    QTemporaryDir dir;
    FrameLogger logger;
    QVERIFY(logger.request(dir.path()).accepted);
    const QVector<quint16> frame = rampFrame(160, 60);

    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 60000; // room for the raw file (about 48 kB), not for the points
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const FrameLogResult result = logger.record(frame, 160, 60, 1, testImage(160, 60), LensParameters());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(result.pcd, FrameLogResult::WriteFailed);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("Log1.pcd"))));
    QVERIFY(strayFiles(dir.path()).isEmpty());
    const QStringList lines = result.messages();
    QCOMPARE(lines.value(0), QStringLiteral("Write Pcd log file failed"));
    QVERIFY(lines.value(1).startsWith(QStringLiteral("Log1: data and image saved, point cloud not saved (")));
    QVERIFY2(lines.value(1).contains(QStringLiteral("File too large")), qPrintable(lines.join("|")));

    // Nothing fits: every file fails, nothing is left behind.
    QVERIFY(logger.request(dir.path()).accepted);
    limited.rlim_cur = 16; // not even a PNG header fits
    std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const FrameLogResult none = logger.record(frame, 160, 60, 1, testImage(160, 60), LensParameters());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(none.messages().last().startsWith(QStringLiteral("Log2: nothing saved (")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        (QStringList { QStringLiteral("Log1.png"), QStringLiteral("Log1.txt") }));
}

void TestFrameLogger::existingPngIsReplaced()
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("Log1.png")));
    FrameLogger logger;
    QVERIFY(logger.request(dir.path()).accepted);
    const FrameLogResult result = logger.record(rampFrame(4, 3), 4, 3, 0, testImage(4, 3), LensParameters());
    QVERIFY(result.complete());
    QCOMPARE(QImage(result.pngPath).size(), QSize(4, 3));
}

QTEST_GUILESS_MAIN(TestFrameLogger)
#include "tst_app_framelogger.moc"
