// capture and record: start the stream with the settings asked for, take the
// frames the framer accepts, and stop the stream whatever ends the job.

#include "cli/Cli.h"
#include "cli/FrameFiles.h"
#include "device/Commands.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"
#include "frames/Recording.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QThread>

using namespace Cli;

namespace {

// Longest time without a frame before the camera counts as not answering.
constexpr int FrameTimeoutMs = 5000;
// Time the stream's bytes gather between two looks (a frame at 100 frames/s lasts 10 ms).
constexpr unsigned long PollGatherUs = 3000;

const QCommandLineOption PortOption(QStringLiteral("port"),
    QStringLiteral("The camera's port, when several are present (see quarvel-cli list)."),
    QStringLiteral("name"));
const QCommandLineOption ModeOption(QStringLiteral("mode"),
    QStringLiteral("Frame type: depth (default), amplitude or grayscale."), QStringLiteral("mode"),
    QStringLiteral("depth"));
const QCommandLineOption IntegrationOption(QStringLiteral("integration-time"),
    QStringLiteral("Integration time in microseconds (the first one with --hdr)."), QStringLiteral("us"));
const QCommandLineOption HdrOption(QStringLiteral("hdr"), QStringLiteral("HDR on (depth frames only)."));
const QCommandLineOption HdrTimeOption(QStringLiteral("hdr-time"),
    QStringLiteral("HDR second integration time in microseconds (2000 up to 4000, or 5000 on a Kavrix M20)."),
    QStringLiteral("us"));
const QCommandLineOption MinAmplitudeOption(QStringLiteral("min-amplitude"),
    QStringLiteral("Minimum amplitude in LSB (0 to 200)."), QStringLiteral("lsb"));
const QCommandLineOption OffsetOption(QStringLiteral("offset"),
    QStringLiteral("Distance offset in millimetres (-5000 to 5000), as in the window."),
    QStringLiteral("mm"));
const QCommandLineOption FramesOption(
    QStringLiteral("frames"), QStringLiteral("Number of frames to take."), QStringLiteral("n"));

struct Settings
{
    QString port;
    quint8 frameType = 1;
    bool hdr = false;
    quint32 set = 0; // Recording::Setting bits
    int integrationTime = 0;
    int hdrSecondTime = 0;
    int minAmplitude = 0;
    int offsetMm = 0;
};

bool readInt(
    const QCommandLineParser &parser, const QCommandLineOption &option, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int v = parser.value(option).toInt(&ok);
    if (!ok || v < minimum || v > maximum) {
        error(QStringLiteral("--%1 must be a whole number from %2 to %3, not \"%4\"")
                  .arg(option.names().first())
                  .arg(minimum)
                  .arg(maximum)
                  .arg(parser.value(option)));
        return false;
    }
    *value = v;
    return true;
}

QList<QCommandLineOption> settingOptions()
{
    return { PortOption, ModeOption, IntegrationOption, HdrOption, HdrTimeOption, MinAmplitudeOption,
        OffsetOption };
}

// The model-independent checks; the model's limits follow once the camera is open.
bool readSettings(const QCommandLineParser &parser, Settings *s)
{
    s->port = parser.value(PortOption);
    const QString mode = parser.value(ModeOption).toLower();
    if (mode == QLatin1String("amplitude"))
        s->frameType = 0;
    else if (mode == QLatin1String("depth"))
        s->frameType = 1;
    else if (mode == QLatin1String("grayscale"))
        s->frameType = 2;
    else {
        error(QStringLiteral("--mode must be depth, amplitude or grayscale, not \"%1\"").arg(mode));
        return false;
    }
    s->hdr = parser.isSet(HdrOption);
    if (s->hdr && s->frameType != 1) {
        error(QStringLiteral("--hdr needs depth frames (--mode depth)"));
        return false;
    }
    if (parser.isSet(HdrTimeOption) && !s->hdr) {
        error(QStringLiteral("--hdr-time needs --hdr"));
        return false;
    }
    if (parser.isSet(IntegrationOption)) {
        if (!readInt(parser, IntegrationOption, 0, 5000, &s->integrationTime))
            return false;
        s->set |= Recording::IntegrationTimeSet;
    }
    if (parser.isSet(HdrTimeOption)) {
        if (!readInt(parser, HdrTimeOption, 2000, 5000, &s->hdrSecondTime))
            return false;
        s->set |= Recording::HdrSecondTimeSet;
    }
    if (parser.isSet(MinAmplitudeOption)) {
        if (!readInt(parser, MinAmplitudeOption, 0, 200, &s->minAmplitude))
            return false;
        s->set |= Recording::MinAmplitudeSet;
    }
    if (parser.isSet(OffsetOption)) {
        if (!readInt(parser, OffsetOption, -5000, 5000, &s->offsetMm))
            return false;
        s->set |= Recording::DistanceOffsetSet;
    }
    return true;
}

// One stream from start to stop.
class StreamSession
{
public:
    explicit StreamSession(const Settings &settings)
        : m_settings(settings)
    {
    }

    ~StreamSession() { stop(); }

    // Opens the camera, reads its device information, sends the settings and starts the stream.
    int start()
    {
        int result = m_link.open(m_settings.port, CameraLink::Camera);
        if (result != Exit::Done)
            return result;
        const bool m10 = m_link.deviceType() == 2;
        const int maxTime = m_settings.hdr ? 2000 : (m10 ? 4000 : 5000);
        if ((m_settings.set & Recording::IntegrationTimeSet) && m_settings.integrationTime > maxTime) {
            error(QStringLiteral("--integration-time goes up to %1 us on a %2%3")
                      .arg(maxTime)
                      .arg(PortDiscovery::modelName(m_link.deviceType()))
                      .arg(m_settings.hdr ? QStringLiteral(" with HDR") : QString()));
            return Exit::Usage;
        }
        if ((m_settings.set & Recording::HdrSecondTimeSet) && m10 && m_settings.hdrSecondTime > 4000) {
            error(QStringLiteral("--hdr-time goes up to 4000 us on a Kavrix M10"));
            return Exit::Usage;
        }
        // A stream left running by an earlier program would bury the reply.
        m_link.write(Commands::camera(Commands::StopStreaming));
        result = queryDeviceInfo(m_link, &m_info);
        if (result != Exit::Done)
            return result;
        m_lens = lensInUse(m_info, m_link.deviceType());

        static const quint8 modeCommands[]
            = { Commands::SelectAmplitude, Commands::SelectDepth, Commands::SelectGrayscale };
        m_link.write(Commands::camera(modeCommands[m_settings.frameType]));
        m_link.write(Commands::camera(m_settings.hdr ? Commands::HdrOn : Commands::HdrOff));
        if (m_settings.set & Recording::IntegrationTimeSet)
            m_link.write(Commands::parameter(Commands::IntegrationTimePrefix, m_settings.integrationTime));
        if (m_settings.set & Recording::HdrSecondTimeSet)
            m_link.write(Commands::parameter(Commands::HdrSecondTimePrefix, m_settings.hdrSecondTime));
        if (m_settings.set & Recording::MinAmplitudeSet)
            m_link.write(Commands::parameter(Commands::MinAmplitudePrefix, m_settings.minAmplitude));
        if (m_settings.set & Recording::DistanceOffsetSet)
            m_link.write(Commands::parameter(Commands::DistanceOffsetPrefix, 2 * m_settings.offsetMm));

        m_framer.setFrameLength(FrameFormat::frameBytes(width() * height()));
        m_link.readAll();
        m_link.write(Commands::camera(Commands::StartStreaming));
        m_streaming = true;
        m_clock.start();
        return Exit::Done;
    }

    // Takes frames until `onFrame` returns an exit code (it returns -1 to go on)
    // or `enough` says so; then stops the stream.
    int run(const std::function<int(const char *frame, quint64 timeNs)> &onFrame,
        const std::function<bool()> &enough)
    {
        int result = -1;
        qint64 lastFrameMs = m_clock.elapsed();
        const QMetaObject::Connection connection = QObject::connect(&m_link, &CameraLink::readyRead, [&] {
            if (result >= 0)
                return;
            m_framer.append(m_link.readAll());
            const quint64 now = quint64(m_clock.nsecsElapsed());
            FrameFramer::Frame frame;
            while (result < 0 && m_framer.nextFrame(&frame)) {
                lastFrameMs = m_clock.elapsed();
                result = onFrame(frame.data, now);
                if (result < 0 && enough())
                    result = Exit::Done;
            }
        });
        while (result < 0) {
            if (enough()) {
                result = Exit::Done;
                break;
            }
            // A frame comes in some forty reads of a pseudo-terminal or USB
            // serial port: letting a few milliseconds of bytes gather before
            // each look takes them in far fewer reads and wake-ups.
            QThread::usleep(PollGatherUs);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
            if (result >= 0)
                break;
            if (interrupted()) {
                result = Exit::Interrupted;
            } else if (m_link.isLost()) {
                result = Exit::CameraLost;
            } else if (m_clock.elapsed() - lastFrameMs > FrameTimeoutMs) {
                error(QStringLiteral("camera not answering: no frame from %1 for %2 s")
                          .arg(m_link.port().name)
                          .arg(FrameTimeoutMs / 1000));
                result = Exit::CameraLost;
            }
        }
        QObject::disconnect(connection);
        stop();
        return result;
    }

    void stop()
    {
        if (m_streaming && m_link.isOpen() && !m_link.isLost()) {
            m_link.write(Commands::camera(Commands::StopStreaming));
            m_link.serialPort()->waitForBytesWritten(500);
        }
        m_streaming = false;
    }

    int width() const { return m_link.deviceType() == 2 ? 160 : 320; }
    int height() const { return m_link.deviceType() == 2 ? 60 : 240; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    CameraLink &link() { return m_link; }
    const DeviceInfoData &info() const { return m_info; }
    const LensValues &lens() const { return m_lens; }
    LensParameters lensParameters() const
    {
        LensParameters p;
        p.factor = m_lens.factor;
        p.cx = m_lens.cx;
        p.cy = m_lens.cy;
        p.fx = m_lens.fx;
        p.fy = m_lens.fy;
        return p;
    }

private:
    Settings m_settings;
    CameraLink m_link;
    DeviceInfoData m_info;
    LensValues m_lens;
    FrameFramer m_framer;
    QElapsedTimer m_clock;
    bool m_streaming = false;
};

QString lostMessage(const CameraLink &link, const QString &kept)
{
    return QStringLiteral("camera lost (%1 was unplugged or stopped answering); %2")
        .arg(link.port().name, kept);
}

} // namespace

int runCapture(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions(settingOptions());
    parser.addOption(FramesOption);
    const QCommandLineOption formatOption(QStringLiteral("format"),
        QStringLiteral("Files per frame, any of txt,pcd,ply,png (default txt,pcd,png as \"Log Data\")."),
        QStringLiteral("list"), QStringLiteral("txt,pcd,png"));
    const QCommandLineOption outOption(QStringLiteral("out"),
        QStringLiteral("Folder for the files frame_NNNNNN.<format> (default: the current folder)."),
        QStringLiteral("dir"), QStringLiteral("."));
    parser.addOptions({ formatOption, outOption });
    const int parsed = parse(parser, QStringLiteral("capture"),
        QStringLiteral("Streams in the chosen mode and writes --frames accepted frames (default 1), each "
                       "frame's files as it arrives. txt, pcd and png hold the same bytes as the window's "
                       "\"Log Data\"; ply is binary PLY with the PCD log's points and the picture's colours. "
                       "Amplitude and grayscale frames get no point cloud."),
        arguments, 0, 0);
    if (parsed >= 0)
        return parsed;

    Settings settings;
    int frames = 1;
    int formats = 0;
    if (!readSettings(parser, &settings)
        || (parser.isSet(FramesOption) && !readInt(parser, FramesOption, 1, 100000000, &frames)))
        return Exit::Usage;
    if (!FrameFiles::parseFormats(parser.value(formatOption), &formats)) {
        error(QStringLiteral("--format takes txt, pcd, ply and png, separated by commas, not \"%1\"")
                  .arg(parser.value(formatOption)));
        return Exit::Usage;
    }
    const QString folder = parser.value(outOption);

    StreamSession session(settings);
    // The folder is checked before the camera is touched, with the M20's
    // geometry standing in until the model is known (names do not depend on it).
    {
        FrameFiles check(folder, formats, 320, 240, settings.frameType, LensParameters());
        QString reason;
        if (!check.prepare(0, frames - 1, &reason)) {
            error(reason);
            return Exit::FileError;
        }
    }
    int result = session.start();
    if (result != Exit::Done)
        return result;

    FrameFiles files(
        folder, formats, session.width(), session.height(), settings.frameType, session.lensParameters());
    if (!files.skippedNote().isEmpty())
        note(files.skippedNote());
    const int pixelCount = session.width() * session.height();
    Progress progress(QStringLiteral("frames"), frames);
    int taken = 0;
    QString writeError;
    result = session.run(
        [&](const char *frame, quint64) {
            // Frames the camera marks as not to be shown are not taken, as in the window.
            if (FrameFormat::status(frame, pixelCount) == FrameFormat::StatusHidden)
                return -1;
            if (!files.write(taken, frame, &writeError))
                return int(Exit::FileError);
            ++taken;
            progress.update(taken);
            return -1;
        },
        [&] { return taken >= frames; });
    progress.finish();

    const QString kept
        = QStringLiteral("%1 frame(s) written to %2").arg(taken).arg(QDir::toNativeSeparators(folder));
    switch (result) {
    case Exit::Done:
        note(kept);
        break;
    case Exit::FileError:
        error(QStringLiteral("%1; %2").arg(writeError, kept));
        break;
    case Exit::CameraLost:
        if (session.link().isLost())
            error(lostMessage(session.link(), kept));
        break;
    case Exit::Interrupted:
        note(QStringLiteral("interrupted; ") + kept);
        break;
    default:
        break;
    }
    return result;
}

int runRecord(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions(settingOptions());
    parser.addOption(FramesOption);
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"), QStringLiteral("Record for this many seconds."), QStringLiteral("s"));
    const QCommandLineOption outOption(QStringLiteral("out"),
        QStringLiteral("The recording file to create (.kvr); an existing file is not replaced."),
        QStringLiteral("file"));
    parser.addOptions({ secondsOption, outOption });
    const int parsed = parse(parser, QStringLiteral("record"),
        QStringLiteral("Records the frames of a stream with their arrival times into one file (see "
                       "docs/recording-format.md), for --frames N or --seconds S, or until Ctrl-C. The file "
                       "always holds every whole frame received, also after a crash, a full disk or Ctrl-C."),
        arguments, 0, 0);
    if (parsed >= 0)
        return parsed;

    Settings settings;
    int frames = 0;
    double seconds = 0;
    if (!readSettings(parser, &settings)
        || (parser.isSet(FramesOption) && !readInt(parser, FramesOption, 1, 1000000000, &frames)))
        return Exit::Usage;
    if (parser.isSet(secondsOption)) {
        bool ok = false;
        seconds = parser.value(secondsOption).toDouble(&ok);
        if (!ok || seconds <= 0) {
            error(QStringLiteral("--seconds must be a positive number, not \"%1\"")
                      .arg(parser.value(secondsOption)));
            return Exit::Usage;
        }
    }
    if (!parser.isSet(outOption)) {
        error(QStringLiteral("record needs --out FILE.kvr (see quarvel-cli record --help)"));
        return Exit::Usage;
    }
    const QString path = parser.value(outOption);
    if (QFileInfo::exists(path)) {
        error(QStringLiteral("%1 already exists; choose another file").arg(path));
        return Exit::FileError;
    }

    StreamSession session(settings);
    int result = session.start();
    if (result != Exit::Done)
        return result;

    Recording::Header header;
    header.deviceType = session.link().deviceType();
    header.frameType = settings.frameType;
    header.width = session.width();
    header.height = session.height();
    header.frameLength = FrameFormat::frameBytes(session.width() * session.height());
    header.startedMsecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    header.hdr = settings.hdr;
    header.settings = settings.set;
    header.integrationTime = settings.integrationTime;
    header.hdrSecondTime = settings.hdrSecondTime;
    header.minAmplitude = settings.minAmplitude;
    header.distanceOffset = 2 * settings.offsetMm;
    header.cameraFactor = session.lens().factor;
    header.cameraCx = session.lens().cx;
    header.cameraCy = session.lens().cy;
    header.cameraFx = session.lens().fx;
    header.cameraFy = session.lens().fy;
    header.deviceInfoPayload
        = DeviceInfoReply::encodeBlock(session.info(), DeviceInfoReply::PayloadLength + 4)
              .left(DeviceInfoReply::PayloadLength);

    RecordingWriter writer;
    if (!writer.open(path, header)) {
        error(writer.errorString());
        return Exit::FileError;
    }
    Progress progress(QStringLiteral("frames"), frames);
    const qint64 limitMs = qint64(seconds * 1000);
    result = session.run(
        [&](const char *frame, quint64 timeNs) {
            if (!writer.append(timeNs, frame))
                return int(Exit::FileError);
            progress.update(writer.framesWritten(),
                frames == 0 && limitMs > 0 ? double(session.elapsedMs()) / double(limitMs) : -1.0);
            return -1;
        },
        [&] {
            return (frames > 0 && writer.framesWritten() >= quint32(frames))
                || (limitMs > 0 && session.elapsedMs() >= limitMs);
        });
    progress.finish();
    const bool closed = writer.close();
    const QString kept = QStringLiteral("%1 frame(s) (%2 bytes) recorded in %3")
                             .arg(writer.framesWritten())
                             .arg(writer.bytesWritten())
                             .arg(QDir::toNativeSeparators(path));
    if (result == Exit::Done && !closed) {
        error(writer.errorString());
        return Exit::FileError;
    }
    switch (result) {
    case Exit::Done:
        note(kept);
        break;
    case Exit::FileError:
        error(QStringLiteral("%1; %2").arg(writer.errorString(), kept));
        break;
    case Exit::CameraLost:
        error(session.link().isLost() ? lostMessage(session.link(), kept) : kept);
        break;
    case Exit::Interrupted:
        note(QStringLiteral("interrupted; ") + kept);
        break;
    default:
        break;
    }
    return result;
}
