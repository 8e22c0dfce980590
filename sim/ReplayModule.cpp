#include "sim/ReplayModule.h"

#include "deviceinfo/DeviceInfoReply.h"
#include "frames/FrameFormat.h"
#include "sim/SimCamera.h"

#include <QCommandLineParser>

namespace {

const QCommandLineOption ReplayOption(QStringLiteral("replay"),
    QStringLiteral("Play this recording (.kvr) as the camera it was recorded from."), QStringLiteral("file"));
const QCommandLineOption LoopOption(
    QStringLiteral("loop"), QStringLiteral("Replay: start over after the last frame."));
const QCommandLineOption SpeedOption(QStringLiteral("speed"),
    QStringLiteral("Replay: speed factor (default 1)."), QStringLiteral("factor"), QStringLiteral("1"));

const QByteArray Marker(FrameFormat::Marker, FrameFormat::MarkerSize);

} // namespace

ReplayModule::ReplayModule(SimCamera &camera)
    : SimModule(camera)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplayModule::tick);
}

void ReplayModule::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({ ReplayOption, LoopOption, SpeedOption });
}

bool ReplayModule::applyOptions(const QCommandLineParser &parser, QString *error)
{
    if (!parser.isSet(ReplayOption))
        return true;
    bool ok = false;
    m_speed = parser.value(SpeedOption).toDouble(&ok);
    if (!ok || !(m_speed > 0)) {
        *error = QStringLiteral("invalid --speed \"%1\"").arg(parser.value(SpeedOption));
        return false;
    }
    m_loop = parser.isSet(LoopOption);
    if (!m_reader.open(parser.value(ReplayOption))) {
        *error = m_reader.errorString();
        return false;
    }
    m_recordedModel = m_reader.header().deviceType;
    m_enabled = true;
    camera().setInitialModel(m_recordedModel == 2 ? SimCamera::M10 : SimCamera::M20);
    return true;
}

bool ReplayModule::isActive() const
{
    if (!m_enabled)
        return false;
    const SimCamera::Model model = camera().model();
    return (model == SimCamera::M10 && m_recordedModel == 2)
        || (model == SimCamera::M20 && m_recordedModel == 3);
}

bool ReplayModule::handleCommand(const QByteArray &command)
{
    if (!isActive() || command.size() != 3 || command.at(0) != 0x23 || command.at(1) != 0x23)
        return false;
    switch (quint8(command.at(2))) {
    case 1: {
        const QByteArray payload = m_reader.header().deviceInfoPayload;
        if (payload.size() < DeviceInfoReply::PayloadLength)
            return false; // recorded without: the device-information module answers
        const DeviceInfoData data = DeviceInfoReply::decodePayload(payload.constData());
        camera().send(DeviceInfoReply::encodeBlock(data, DeviceInfoReply::SmallBlockLength) + Marker);
        camera().emitEvent(QStringLiteral("info query"));
        return true;
    }
    case 2:
        startPlayback();
        return true;
    case 3:
        stopPlayback();
        return false;
    default:
        return false;
    }
}

void ReplayModule::unplugged()
{
    stopPlayback();
}

bool ReplayModule::readAhead()
{
    m_haveNext = m_reader.next(&m_next);
    return m_haveNext;
}

void ReplayModule::startPlayback()
{
    if (m_playing)
        return;
    m_playing = true;
    m_framesSent = 0;
    m_framesInPass = 0;
    m_loopOffsetNs = 0;
    m_reader.rewind();
    if (!readAhead()) {
        stopPlayback();
        camera().emitEvent(QStringLiteral("replay finished 0"));
        return;
    }
    m_firstTimeNs = m_next.timeNs;
    m_lastTimeNs = m_next.timeNs;
    m_clock.start();
    camera().emitEvent(QStringLiteral("replay started"));
    tick();
}

void ReplayModule::stopPlayback()
{
    m_playing = false;
    m_timer.stop();
}

void ReplayModule::tick()
{
    const int blockSize = m_reader.header().frameLength + FrameFormat::MarkerSize;
    while (m_playing) {
        if (!m_haveNext) {
            if (!m_loop || m_framesInPass == 0) {
                stopPlayback();
                camera().emitEvent(QStringLiteral("replay finished %1").arg(m_framesSent));
                return;
            }
            // The next pass starts one average frame interval after the last frame.
            const quint64 span = m_lastTimeNs - m_firstTimeNs;
            const quint64 period = m_framesInPass > 1 ? span / (m_framesInPass - 1) : 10000000;
            m_loopOffsetNs += span + period;
            m_framesInPass = 0;
            m_reader.rewind();
            if (!readAhead())
                return;
        }
        const double dueNs = double(m_loopOffsetNs + (m_next.timeNs - m_firstTimeNs)) / m_speed;
        const double nowNs = double(m_clock.nsecsElapsed());
        if (dueNs > nowNs) {
            m_timer.start(int((dueNs - nowNs) / 1e6));
            return;
        }
        // Late frames wait for the terminal instead of being dropped.
        if (camera().pendingOutputBytes() > 2 * qint64(blockSize)) {
            m_timer.start(2);
            return;
        }
        camera().send(m_next.data + Marker);
        ++m_framesSent;
        ++m_framesInPass;
        m_lastTimeNs = m_next.timeNs;
        readAhead();
    }
}
