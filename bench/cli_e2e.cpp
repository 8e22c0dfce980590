// quarvel-cli end to end against kavrix-sim, each figure with its baseline
// measured in the same run:
//  - record: a "Kavrix M20" streaming depth frames at --fps (default 100) for
//    --seconds (default 60); frames sent against frames in the file, CPU per
//    frame and bytes written per second, against a plain write() loop of the
//    same bytes in the same record sizes;
//  - capture --format pcd,ply,png of 100 M20 depth frames: files per second
//    (wall clock and per CPU second), against the window's log writer
//    (FrameLogger, txt + pcd + png) recording 100 of the same frames.
// Extra arguments go to the simulator. Exit status 1 when a frame was lost.
//
//   bench_cli_e2e [--seconds N] [--fps N] [sim options...]
#include "app/FrameLogger.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"
#include "frames/Recording.h"
#include "frames/SyntheticScene.h"
#include "tests/support/CliProcess.h"
#include "tests/support/SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuMs(int who)
{
    rusage usage;
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

struct Timing
{
    double wallMs = 0;
    double cpuMs = 0;
};

// Runs quarvel-cli to the end; the CPU time is that of the reaped child.
Timing runCli(const QStringList &arguments, int *exitCode)
{
    const double before = cpuMs(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    const CliProcess::Result result = CliProcess::run(arguments, 600000);
    Timing t { double(clock.nsecsElapsed()) / 1e6, cpuMs(RUSAGE_CHILDREN) - before };
    *exitCode = result.exitCode;
    if (result.exitCode != 0)
        std::fprintf(stderr, "quarvel-cli %s: %s\n", qPrintable(arguments.join(' ')), qPrintable(result.err));
    return t;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    int fps = 100;
    QStringList simExtra;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--fps") && i + 1 < args.size())
            fps = args[++i].toInt();
        else
            simExtra << args[i];
    }
    if (qEnvironmentVariableIsEmpty("QUARVEL_CLI"))
        qputenv(
            "QUARVEL_CLI", QFile::encodeName(QCoreApplication::applicationDirPath() + "/../cli/quarvel-cli"));
    if (qEnvironmentVariableIsEmpty("KAVRIX_SIM"))
        qputenv(
            "KAVRIX_SIM", QFile::encodeName(QCoreApplication::applicationDirPath() + "/../sim/kavrix-sim"));
    isolateRegistry();
    QTemporaryDir dir;
    int status = 0;

    // --- record ---------------------------------------------------------
    const int frames = seconds * fps;
    const QString path = dir.filePath(QStringLiteral("bench.kvr"));
    {
        SimProcess sim;
        if (!sim.start(QStringList { "--model", "m20", "--fps", QString::number(fps), "--frame-limit",
                           QString::number(frames) }
                + simExtra)) {
            std::fprintf(stderr, "kavrix-sim did not start\n");
            return 1;
        }
        int exitCode = 0;
        const Timing t = runCli({ "record", "--frames", QString::number(frames), "--out", path }, &exitCode);
        sim.control(QStringLiteral("stream stats"));
        sim.waitForEvent(QStringLiteral("stream stats"), 5000);
        QString stats;
        for (const QString &line : sim.events()) {
            if (line.startsWith(QLatin1String("stream stats")))
                stats = line;
        }
        const qint64 sent = stats.section(' ', 3, 3).toLongLong();
        RecordingReader reader;
        qint64 inFile = 0;
        if (reader.open(path)) {
            Recording::Frame frame;
            while (reader.next(&frame))
                ++inFile;
        }
        const qint64 fileSize = QFileInfo(path).size();
        const double cliCpuPerFrame = t.cpuMs / qMax<qint64>(1, inFile);
        const double cliBytesPerSecond = fileSize / (t.wallMs / 1000.0);

        // Baseline: the same bytes in the same record sizes through write().
        const int recordSize = 153604 + Recording::RecordOverhead;
        QByteArray record(recordSize, 'x');
        const QString rawPath = dir.filePath(QStringLiteral("raw.bin"));
        const int fd = ::open(QFile::encodeName(rawPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const double before = cpuMs(RUSAGE_SELF);
        QElapsedTimer clock;
        clock.start();
        for (qint64 i = 0; i < inFile; ++i) {
            if (::write(fd, record.constData(), size_t(record.size())) != record.size())
                break;
        }
        ::fsync(fd);
        const double rawWallMs = double(clock.nsecsElapsed()) / 1e6;
        const double rawCpuPerFrame = (cpuMs(RUSAGE_SELF) - before) / qMax<qint64>(1, inFile);
        ::close(fd);
        QFile::remove(rawPath);

        std::printf("record M20 %d frames at %d frames/s: sent %lld, in the file %lld, exit %d\n", frames,
            fps, sent, inFile, exitCode);
        std::printf("  quarvel-cli record: CPU %.3f ms/frame, %.1f MB/s written (%.1f s wall, %.0f ms CPU)\n",
            cliCpuPerFrame, cliBytesPerSecond / 1e6, t.wallMs / 1000.0, t.cpuMs);
        std::printf("  raw write() loop:   CPU %.3f ms/frame, %.1f MB/s (as fast as it goes)\n",
            rawCpuPerFrame, fileSize / (rawWallMs / 1000.0) / 1e6);
        std::printf(
            "  ratio CPU per frame record / raw write: %.2f\n", cliCpuPerFrame / qMax(1e-6, rawCpuPerFrame));
        if (exitCode != 0 || inFile != frames || sent != frames)
            status = 1;
        QFile::remove(path);
    }

    // --- capture ----------------------------------------------------------
    {
        SimProcess sim;
        if (!sim.start(QStringList { "--model", "m20", "--fps", "100" })) {
            std::fprintf(stderr, "kavrix-sim did not start\n");
            return 1;
        }
        int exitCode = 0;
        const QString out = dir.filePath(QStringLiteral("capture"));
        const Timing t
            = runCli({ "capture", "--frames", "100", "--format", "pcd,ply,png", "--out", out }, &exitCode);
        const int files = QDir(out).entryList(QDir::Files).size();
        sim.stop();

        // Baseline: the window's log writer, 100 frames of the same scene.
        SceneSettings scene;
        scene.width = 320;
        scene.height = 240;
        const QVector<quint16> values = SyntheticScene::stillFrame(scene);
        ImageColorizer colorMap;
        FrameColorizer colorizer(&colorMap);
        LensParameters lens;
        lens.cx = 160;
        lens.cy = 120;
        lens.fx = lens.fy = 230;
        const QString logDir = dir.filePath(QStringLiteral("log"));
        QDir().mkpath(logDir);
        FrameLogger logger;
        const double before = cpuMs(RUSAGE_SELF);
        QElapsedTimer clock;
        clock.start();
        int logged = 0;
        for (int i = 0; i < 100; ++i) {
            QImage picture;
            colorizer.paint(values.constData(), 320, 240, 1, &picture);
            logger.request(logDir);
            const FrameLogResult r = logger.record(values, 320, 240, 1, picture, lens);
            logged += (r.raw == FrameLogResult::Written) + (r.pcd == FrameLogResult::Written)
                + (r.png == FrameLogResult::Written);
        }
        const double logWallMs = double(clock.nsecsElapsed()) / 1e6;
        const double logCpuMs = cpuMs(RUSAGE_SELF) - before;

        std::printf(
            "capture --format pcd,ply,png of 100 M20 depth frames: %d files, exit %d\n", files, exitCode);
        std::printf("  quarvel-cli capture: %.1f files/s wall (%.1f s), %.1f files per CPU second\n",
            files / (t.wallMs / 1000.0), t.wallMs / 1000.0, files / (t.cpuMs / 1000.0));
        std::printf("  window log writer (txt,pcd,png): %.1f files/s wall, %.1f files per CPU second\n",
            logged / (logWallMs / 1000.0), logged / (logCpuMs / 1000.0));
        std::printf("  ratio files per CPU second capture / window log writer: %.2f\n",
            (files / (t.cpuMs / 1000.0)) / qMax(1e-6, logged / (logCpuMs / 1000.0)));
        if (exitCode != 0 || files != 300)
            status = 1;
    }
    return status;
}
