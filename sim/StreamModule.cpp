#include "sim/StreamModule.h"

#include "frames/FrameFormat.h"
#include "sim/SimCamera.h"

#include <QCommandLineParser>
#include <time.h>

namespace {

const QCommandLineOption FpsOption(QStringLiteral("fps"),
    QStringLiteral("Frames per second while streaming (default 30)."), QStringLiteral("n"),
    QStringLiteral("30"));
const QCommandLineOption Status10Option(QStringLiteral("status10-every"),
    QStringLiteral("Give every Nth frame the status 10 (not to be shown)."), QStringLiteral("N"),
    QStringLiteral("0"));
const QCommandLineOption GarbageOption(QStringLiteral("garbage"),
    QStringLiteral("Send 1..N bytes of noise after every frame."), QStringLiteral("N"), QStringLiteral("0"));
const QCommandLineOption GarbageSeedOption(QStringLiteral("garbage-seed"),
    QStringLiteral("Seed of the noise (default 1)."), QStringLiteral("seed"), QStringLiteral("1"));
const QCommandLineOption MultiFrameOption(QStringLiteral("multi-frame"),
    QStringLiteral("Write N frames at once."), QStringLiteral("N"), QStringLiteral("1"));
const QCommandLineOption FrameLimitOption(QStringLiteral("frame-limit"),
    QStringLiteral("Stop streaming after N frames (0: no limit)."), QStringLiteral("N"), QStringLiteral("0"));
const QCommandLineOption MarkerInDataOption(
    QStringLiteral("marker-in-data"), QStringLiteral("Put copies of the frame marker into the pixel data."));
const QCommandLineOption FrameEventsOption(
    QStringLiteral("frame-events"), QStringLiteral("Report every frame written, with its time."));

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

StreamModule::StreamModule(SimCamera &camera)
    : SimModule(camera)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StreamModule::tick);
    connect(&camera, &SimCamera::bytesWritten, this, [this](qint64 count) {
        m_bytesWritten += count;
        if (!m_unconfirmed.isEmpty())
            reportWritten();
    });
    resetScene();
}

void StreamModule::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({ FpsOption, Status10Option, GarbageOption, GarbageSeedOption, MultiFrameOption,
        FrameLimitOption, MarkerInDataOption, FrameEventsOption });
}

bool StreamModule::applyOptions(const QCommandLineParser &parser, QString *error)
{
    int seed = 1;
    if (!readIntOption(parser, FpsOption, 1, &m_fps, error)
        || !readIntOption(parser, Status10Option, 0, &m_status10Every, error)
        || !readIntOption(parser, GarbageOption, 0, &m_garbageMax, error)
        || !readIntOption(parser, GarbageSeedOption, 0, &seed, error)
        || !readIntOption(parser, MultiFrameOption, 1, &m_multiFrame, error)
        || !readIntOption(parser, FrameLimitOption, 0, &m_frameLimit, error))
        return false;
    m_random.seed(quint32(seed));
    m_markerInData = parser.isSet(MarkerInDataOption);
    m_frameEvents = parser.isSet(FrameEventsOption);
    m_scene.markerCopies = m_markerInData;
    return true;
}

void StreamModule::resetScene()
{
    // A camera that powers up: default settings, depth frames.
    m_scene = SceneSettings();
    m_scene.width = camera().width();
    m_scene.height = camera().height();
    m_scene.markerCopies = m_markerInData;
}

int StreamModule::blockSize() const
{
    return FrameFormat::frameBytes(m_scene.width * m_scene.height) + FrameFormat::MarkerSize;
}

int StreamModule::parameterValue(const QByteArray &command)
{
    const int high = qint8(command.at(2));
    const int low = quint8(command.at(3));
    // A negative value has a negative (or zero) remainder; 00 xx cannot be told
    // from a positive value and reads as one.
    if (high < 0)
        return high * 256 - (low ? 256 - low : 0);
    return high * 256 + low;
}

bool StreamModule::handleCommand(const QByteArray &command)
{
    if (camera().model() == SimCamera::Bootloader || command.size() < 3)
        return false;
    const char prefix = command.at(0);
    if (prefix == 0x23 && command.size() == 3) {
        switch (quint8(command.at(2))) {
        case 2:
            startStream();
            return true;
        case 3:
            // Other modules may care about a stop as well.
            stopStream();
            return false;
        case 4:
            m_scene.frameType = SceneSettings::Amplitude;
            return true;
        case 5:
            m_scene.frameType = SceneSettings::Depth;
            return true;
        case 6:
            m_scene.frameType = SceneSettings::Grayscale;
            return true;
        case 7:
            m_scene.hdr = true;
            return false;
        case 8:
            m_scene.hdr = false;
            return false;
        case 11:
            m_scene.drnuLut = true;
            return false;
        case 12:
            m_scene.drnuLut = false;
            return false;
        default:
            return false;
        }
    }
    if (command.size() != 4)
        return false;
    // Parameters are observed, not consumed: calibration may want them too.
    const int value = parameterValue(command);
    switch (prefix) {
    case 0x24:
        m_scene.integrationTime = value;
        break;
    case 0x25:
        m_scene.minAmplitude = value;
        break;
    case 0x27:
        m_scene.hdrSecondTime = value;
        break;
    case 0x29:
        m_scene.distanceOffset = value;
        break;
    default:
        break;
    }
    return false;
}

bool StreamModule::handleControl(const QStringList &words)
{
    if (words.value(0) != QLatin1String("stream"))
        return false;
    if (words.size() == 2 && words[1] == QLatin1String("stats")) {
        camera().emitEvent(QStringLiteral("stream stats sent %1 hidden %2 skipped %3 garbage %4")
                               .arg(m_sent)
                               .arg(m_hidden)
                               .arg(m_skipped)
                               .arg(m_garbageBytes));
        return true;
    }
    if (words.size() == 2 && (words[1] == QLatin1String("pause") || words[1] == QLatin1String("resume"))) {
        // The camera keeps streaming as far as the application knows; frames
        // just stop coming (or come again), so "noise" can be sent alone.
        m_paused = words[1] == QLatin1String("pause");
        m_nextDueNs = m_clock.isValid() ? m_clock.nsecsElapsed() : 0;
        return true;
    }
    if (words.size() == 3 && words[1] == QLatin1String("fps")) {
        bool ok = false;
        const int fps = words[2].toInt(&ok);
        if (!ok || fps < 1)
            return false;
        m_fps = fps;
        if (m_streaming)
            m_timer.setInterval(qMax(1, 1000 / m_fps / 2));
        return true;
    }
    return false;
}

void StreamModule::startStream()
{
    if (m_streaming)
        return;
    m_streaming = true;
    m_paused = false;
    m_clock.start();
    m_nextDueNs = 0;
    // Ticks at twice the rate keep the schedule close; frames follow the clock.
    m_timer.start(qMax(1, 1000 / m_fps / 2));
    camera().emitEvent(QStringLiteral("stream started"));
    tick();
}

void StreamModule::stopStream()
{
    if (!m_streaming)
        return;
    m_streaming = false;
    m_timer.stop();
    // Frames already counted as sent leave the camera.
    if (m_batchFrames > 0)
        flushBatch();
    camera().emitEvent(QStringLiteral("stream stopped"));
}

void StreamModule::tick()
{
    if (!m_streaming || m_paused)
        return;
    const qint64 period = 1000000000 / m_fps;
    const qint64 now = m_clock.nsecsElapsed();
    if (now - m_nextDueNs > 4 * period) {
        // The simulator itself fell behind (a stalled machine): do not burst.
        const qint64 missed = (now - m_nextDueNs) / period;
        m_skipped += quint64(missed);
        m_nextDueNs += missed * period;
    }
    while (m_streaming && now >= m_nextDueNs) {
        produceFrame();
        m_nextDueNs += period;
    }
}

void StreamModule::produceFrame()
{
    // A camera whose host does not read drops frames instead of queueing them.
    if (camera().pendingOutputBytes() > 2 * qint64(blockSize()) * m_multiFrame) {
        ++m_skipped;
        return;
    }
    const quint32 number = m_frameNumber++;
    const bool hidden = m_status10Every > 0 && (number + 1) % quint32(m_status10Every) == 0;
    const quint8 status = hidden ? FrameFormat::StatusHidden : 0;
    // The scene stands still: render it again only when a setting changed.
    if (m_stillScene != m_scene || m_still.isEmpty()) {
        m_stillScene = m_scene;
        m_still = SyntheticScene::stillFrame(m_scene);
    }
    if (m_scene.markerCopies) {
        QVector<quint16> pixels = m_still;
        SyntheticScene::addMarkerCopies(m_scene, number, pixels);
        m_batch += SyntheticScene::block(m_scene, pixels, number, status);
    } else {
        m_batch += SyntheticScene::block(m_scene, m_still, number, status);
    }
    if (m_frameEvents)
        m_batchPending.enqueue({ number, status, m_batch.size() });
    if (m_garbageMax > 0)
        m_batch += garbage();
    ++m_sent;
    if (hidden)
        ++m_hidden;
    const bool last = m_frameLimit > 0 && m_sent >= quint64(m_frameLimit);
    if (++m_batchFrames >= m_multiFrame || last)
        flushBatch();
    if (last)
        stopStream();
}

void StreamModule::flushBatch()
{
    // Output leaves in order: the batch ends after everything queued before it.
    const qint64 start = m_bytesWritten + camera().pendingOutputBytes();
    while (!m_batchPending.isEmpty()) {
        Pending frame = m_batchPending.dequeue();
        frame.endsAt += start;
        m_unconfirmed.enqueue(frame);
    }
    const QByteArray batch = m_batch;
    m_batch.clear();
    m_batchFrames = 0;
    camera().send(batch);
}

void StreamModule::reportWritten()
{
    const qint64 now = monotonicNs();
    while (!m_unconfirmed.isEmpty() && m_unconfirmed.head().endsAt <= m_bytesWritten) {
        const Pending frame = m_unconfirmed.dequeue();
        camera().emitEvent(QStringLiteral("frame %1 %2 %3").arg(frame.number).arg(frame.status).arg(now));
    }
}

QByteArray StreamModule::garbage()
{
    QByteArray noise(int(m_random.bounded(1, m_garbageMax + 1)), Qt::Uninitialized);
    for (char &c : noise) {
        c = char(m_random.bounded(256));
        if (c == FrameFormat::Marker[0])
            c = '+'; // no marker, and no part of one, inside the noise
    }
    // A stray reply: noise that ends in a marker, after which the next frame
    // starts a block of its own (noise without one would take it along; the
    // "noise" control line sends that kind).
    noise.append(FrameFormat::Marker, FrameFormat::MarkerSize);
    m_garbageBytes += quint64(noise.size());
    return noise;
}

void StreamModule::plugged()
{
    resetScene();
    m_unconfirmed.clear();
}

void StreamModule::unplugged()
{
    // The camera lost power: the stream ends and the settings are gone.
    stopStream();
    m_unconfirmed.clear();
}

void StreamModule::modelChanged()
{
    resetScene();
}
