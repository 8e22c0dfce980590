// End-to-end live view benchmark: the real main window (offscreen) against
// kavrix-sim streaming "Kavrix M20" depth frames, by default at 100 frames/s
// for 20 s. Reports frames sent, shown and lost, the delay from a frame's last
// byte written by the camera to its pictureReady, and the process memory over
// time. Extra arguments go to the simulator (e.g. --garbage 300).
//
// With --pointcloud the frame type is "PointCloud" and the point cloud window
// draws on a real display (run under xvfb-run); its redraws are counted.
//
//   bench_frames_e2e [--seconds N] [--fps N] [--pointcloud] [sim options...]
#include "app/MainWindow.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"
#include "views/WidgetPointCloud.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Resident and peak resident set of this process, in KiB.
QPair<qint64, qint64> memoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 rss = 0;
    qint64 hwm = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').value(0).toLongLong();
            else if (line.startsWith("VmHWM:"))
                hwm = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return { rss, hwm };
}

// User + system CPU time of this process, in milliseconds.
double cpuMs()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1) + 0.5)];
}

} // namespace

int main(int argc, char *argv[])
{
    bool pointCloud = false;
    for (int i = 1; i < argc; ++i)
        pointCloud = pointCloud || qstrcmp(argv[i], "--pointcloud") == 0;
    if (!pointCloud)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    int seconds = 20;
    int fps = 100;
    QStringList simOptions;
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--seconds") && i + 1 < arguments.size())
            seconds = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--fps") && i + 1 < arguments.size())
            fps = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--pointcloud"))
            continue;
        else
            simOptions << arguments[i];
    }
    const int frameCount = seconds * fps;

    isolateRegistry();
    SimProcess sim;
    std::vector<qint64> written; // ns, per frame number
    std::vector<int> status;
    written.reserve(size_t(frameCount));
    QObject::connect(&sim, &SimProcess::eventLine, [&](const QString &line) {
        const QStringList words = line.split(QLatin1Char(' '));
        if (words.value(0) == QLatin1String("frame") && words.size() == 4) {
            written.push_back(words[3].toLongLong());
            status.push_back(words[2].toInt());
        }
    });
    if (!sim.start(QStringList { QStringLiteral("--model"), QStringLiteral("m20"), QStringLiteral("--fps"),
                       QString::number(fps), QStringLiteral("--frame-limit"), QString::number(frameCount),
                       QStringLiteral("--frame-events") }
            + simOptions)) {
        std::fprintf(stderr, "cannot start kavrix-sim (KAVRIX_SIM)\n");
        return 2;
    }

    TofDevice device;
    MainWindow window(&device);
    QElapsedTimer wait;
    wait.start();
    while (device.deviceType() != TofDevice::KavrixM20 && wait.elapsed() < 5000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (device.deviceType() != TofDevice::KavrixM20) {
        std::fprintf(stderr, "the window did not open the camera\n");
        return 2;
    }

    std::vector<qint64> shown;
    shown.reserve(size_t(frameCount));
    QObject::connect(&window, &MainWindow::pictureReady, [&] { shown.push_back(monotonicNs()); });

    std::vector<QPair<double, qint64>> memory;
    QElapsedTimer clock;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        memory.push_back({ clock.elapsed() / 1000.0, memoryKiB().first });
    });

    bool stopped = false;
    QObject::connect(&sim, &SimProcess::eventLine, [&](const QString &line) {
        if (line == QLatin1String("stream stopped"))
            stopped = true;
    });

    if (pointCloud) {
        if (auto *frameType = window.findChild<QComboBox *>(QStringLiteral("comboBoxFrameType")))
            frameType->setCurrentIndex(3);
        app.processEvents();
    }
    const int redrawsBefore = window.pointCloud() ? window.pointCloud()->redrawCount() : 0;

    const auto before = memoryKiB();
    const double cpuBefore = cpuMs();
    clock.start();
    sampler.start(1000);
    QMetaObject::invokeMethod(&window, "on_pushButtonStart_clicked");

    while (!stopped && clock.elapsed() < (seconds + 30) * 1000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    // Let the last frames arrive.
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 1000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    sampler.stop();
    const auto after = memoryKiB();
    const double cpu = cpuMs() - cpuBefore;

    QString statsLine;
    QObject::connect(&sim, &SimProcess::eventLine, [&](const QString &line) {
        if (line.startsWith(QLatin1String("stream stats")))
            statsLine = line;
    });
    sim.control(QStringLiteral("stream stats"));
    drain.restart();
    while (statsLine.isEmpty() && drain.elapsed() < 3000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);

    // Pair the k-th shown frame with the k-th frame sent with a normal status.
    std::vector<qint64> sentShown;
    for (size_t k = 0; k < written.size(); ++k) {
        if (status[k] != 10)
            sentShown.push_back(written[k]);
    }
    std::vector<double> delays;
    const size_t pairs = std::min(sentShown.size(), shown.size());
    for (size_t k = 0; k < pairs; ++k)
        delays.push_back((shown[k] - sentShown[k]) / 1e6);

    std::printf("simulator: %s\n", qPrintable(statsLine));
    std::printf("frames written %zu (to be shown %zu), announced by the window %zu, lost %lld\n",
        written.size(), sentShown.size(), shown.size(),
        qlonglong(sentShown.size()) - qlonglong(shown.size()));
    std::printf("elapsed %.1f s at %d frames/s requested; window process CPU %.2f ms per frame announced\n",
        clock.elapsed() / 1000.0, fps, shown.empty() ? 0.0 : cpu / double(shown.size()));
    if (!delays.empty()) {
        std::printf("delay last byte written -> pictureReady (ms): median %.2f  p95 %.2f  p99 %.2f  max %.2f"
                    "  (frame period %.1f)\n",
            percentile(delays, 0.5), percentile(delays, 0.95), percentile(delays, 0.99),
            *std::max_element(delays.begin(), delays.end()), 1000.0 / fps);
    }
    if (pointCloud && window.pointCloud()) {
        std::printf("point cloud: %d redraws, %.1f per second; last redraw %lld ms\n",
            window.pointCloud()->redrawCount() - redrawsBefore,
            (window.pointCloud()->redrawCount() - redrawsBefore) * 1000.0
                / double(qMax<qint64>(1, clock.elapsed())),
            window.pointCloud()->lastRedrawTime());
    }
    std::printf("memory (KiB): before streaming rss %lld; after rss %lld, peak %lld\n", before.first,
        after.first, after.second);
    std::printf("rss over time (s: KiB):");
    for (const auto &sample : memory)
        std::printf(" %.0f:%lld", sample.first, sample.second);
    std::printf("\n");
    window.close();
    return sentShown.size() == shown.size() ? 0 : 1;
}
