#include "sim/BootloaderModule.h"

#include "device/Crc16.h"
#include "sim/SimCamera.h"

#include <QCommandLineParser>
#include <QSaveFile>
#include <QTimer>

namespace {

constexpr int PacketSize = 64;
constexpr int PacketDataSize = 60;

const QCommandLineOption OutputOption(QStringLiteral("firmware-out"),
    QStringLiteral("Bootloader: write each complete received image to this file."), QStringLiteral("file"));
const QCommandLineOption QueryValueOption(QStringLiteral("boot-query-value"),
    QStringLiteral("Bootloader: value byte of the answer to 22 22 05 (default 1)."), QStringLiteral("n"),
    QStringLiteral("1"));
const QCommandLineOption MuteAfterOption(QStringLiteral("boot-mute-after"),
    QStringLiteral("Bootloader: stop answering once n data packets have arrived."), QStringLiteral("n"));
const QCommandLineOption PacketTimeoutOption(QStringLiteral("boot-packet-timeout"),
    QStringLiteral("Bootloader: give up a transfer when no packet came for this many milliseconds (default "
                   "2000)."),
    QStringLiteral("ms"), QStringLiteral("2000"));
const QCommandLineOption ReplyDelayOption(QStringLiteral("boot-reply-delay"),
    QStringLiteral("Bootloader: answer each message after this many milliseconds."), QStringLiteral("ms"),
    QStringLiteral("0"));
const QCommandLineOption ReturnOption(QStringLiteral("boot-return"),
    QStringLiteral("Bootloader: after a whole image, restart as this camera model (m10 or m20) half a "
                   "second later, as a camera does with its new firmware."),
    QStringLiteral("model"));

} // namespace

BootloaderModule::BootloaderModule(SimCamera &camera)
    : SimModule(camera)
{
    m_packetTimer.setSingleShot(true);
    connect(&m_packetTimer, &QTimer::timeout, this, &BootloaderModule::packetTimedOut);
}

bool BootloaderModule::isActive() const
{
    return camera().model() == SimCamera::Bootloader;
}

void BootloaderModule::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({ OutputOption, QueryValueOption, MuteAfterOption, PacketTimeoutOption,
        ReplyDelayOption, ReturnOption });
}

bool BootloaderModule::applyOptions(const QCommandLineParser &parser, QString *error)
{
    m_outputPath = parser.value(OutputOption);
    bool ok = false;
    const uint value = parser.value(QueryValueOption).toUInt(&ok, 0);
    if (!ok || value > 255) {
        *error = QStringLiteral("invalid query value \"%1\"").arg(parser.value(QueryValueOption));
        return false;
    }
    m_queryValue = quint8(value);
    if (parser.isSet(MuteAfterOption)) {
        m_muteAfter = parser.value(MuteAfterOption).toInt(&ok);
        if (!ok || m_muteAfter < 0) {
            *error = QStringLiteral("invalid packet count \"%1\"").arg(parser.value(MuteAfterOption));
            return false;
        }
    }
    const int packetTimeout = parser.value(PacketTimeoutOption).toInt(&ok);
    if (!ok || packetTimeout <= 0) {
        *error = QStringLiteral("invalid packet timeout \"%1\"").arg(parser.value(PacketTimeoutOption));
        return false;
    }
    m_packetTimer.setInterval(packetTimeout);
    m_replyDelay = parser.value(ReplyDelayOption).toInt(&ok);
    if (!ok || m_replyDelay < 0) {
        *error = QStringLiteral("invalid reply delay \"%1\"").arg(parser.value(ReplyDelayOption));
        return false;
    }
    if (parser.isSet(ReturnOption)) {
        SimCamera::Model model;
        if (!SimCamera::modelFromName(parser.value(ReturnOption), &model) || model == SimCamera::Bootloader) {
            *error = QStringLiteral("invalid --boot-return \"%1\"").arg(parser.value(ReturnOption));
            return false;
        }
        m_returnModel = int(model);
    }
    return true;
}

bool BootloaderModule::handleControl(const QStringList &words)
{
    if (words.size() != 2 || words[0] != QLatin1String("boot"))
        return false;
    if (words[1] == QLatin1String("mute")) {
        m_muted = true;
    } else if (words[1] == QLatin1String("unmute")) {
        // Back from a hang: whatever transfer was open is lost.
        m_muted = false;
        resetTransfer();
    } else {
        return false;
    }
    return true;
}

void BootloaderModule::unplugged()
{
    resetTransfer();
}

void BootloaderModule::modelChanged()
{
    resetTransfer();
}

void BootloaderModule::resetTransfer()
{
    m_packetTimer.stop();
    m_sizeKnown = false;
    m_expectedLength = 0;
    m_packetsReceived = 0;
    m_image.clear();
}

void BootloaderModule::reply(quint8 code, int value)
{
    if (m_muted)
        return;
    QByteArray bytes("DD");
    bytes.append(char(code));
    if (value >= 0)
        bytes.append(char(value));
    if (m_replyDelay <= 0) {
        camera().send(bytes);
        return;
    }
    // A reply after a re-plug would belong to nobody: SimCamera drops output while unplugged.
    QTimer::singleShot(m_replyDelay, this, [this, bytes] { camera().send(bytes); });
}

bool BootloaderModule::handleCommand(const QByteArray &command)
{
    if (!isActive() || command.size() < 3 || command.at(0) != 0x22)
        return false;

    switch (quint8(command.at(2))) {
    case 0x05:
        reply(0x05, m_queryValue);
        return true;
    case 0x01:
        resetTransfer();
        reply(0x01);
        return true;
    case 0x02:
        if (command.size() != 7)
            return false;
        resetTransfer();
        m_sizeKnown = true;
        m_expectedLength = (quint8(command.at(5)) << 8) | quint8(command.at(6));
        camera().emitEvent(QStringLiteral("bootloader size %1").arg(m_expectedLength));
        m_packetTimer.start();
        reply(0x02);
        return true;
    case 0x0B: {
        const bool whole = m_sizeKnown && m_image.size() == m_expectedLength;
        if (m_sizeKnown)
            writeImage();
        resetTransfer();
        if (whole && m_returnModel >= 0)
            camera().reenumerate(SimCamera::Model(m_returnModel), 500);
        return true;
    }
    default:
        return false;
    }
}

int BootloaderModule::pendingRawBytes() const
{
    // A muted bootloader reads nothing more, so later commands are not taken for packets.
    if (!isActive() || !m_sizeKnown || m_muted)
        return 0;
    return m_image.size() < m_expectedLength ? PacketSize : 0;
}

void BootloaderModule::handleRaw(const QByteArray &packet)
{
    if (packet.size() != PacketSize)
        return;
    const int index = m_packetsReceived;
    const quint16 crc = crc16Xmodem(packet.constData(), PacketDataSize);
    const quint16 sentCrc = quint16((quint8(packet.at(60)) << 8) | quint8(packet.at(61)));
    QString problem;
    if (crc != sentCrc)
        problem = QStringLiteral("crc");
    else if (quint8(packet.at(62)) != quint8(index & 0xFF))
        problem = QStringLiteral("index");
    else if (packet.at(63) != '#')
        problem = QStringLiteral("trailer");
    if (!problem.isEmpty()) {
        // The bootloader has no error reply: it stays silent and waits for the packet again.
        camera().emitEvent(QStringLiteral("bootloader bad-packet %1 %2").arg(index).arg(problem));
        return;
    }

    const int take = qMin(PacketDataSize, m_expectedLength - int(m_image.size()));
    m_image.append(packet.constData(), take);
    ++m_packetsReceived;
    camera().emitEvent(QStringLiteral("bootloader packet %1").arg(index));
    m_packetTimer.start();

    if (m_muteAfter >= 0 && m_packetsReceived >= m_muteAfter && !m_muted) {
        // Once: after "boot unmute" the bootloader behaves again.
        m_muteAfter = -1;
        m_muted = true;
        camera().emitEvent(QStringLiteral("bootloader muted"));
    }
    reply(0x03);
}

void BootloaderModule::writeImage()
{
    if (m_image.size() != m_expectedLength) {
        camera().emitEvent(
            QStringLiteral("bootloader end-incomplete %1 %2").arg(m_image.size()).arg(m_expectedLength));
        return;
    }
    if (m_outputPath.isEmpty()) {
        camera().emitEvent(QStringLiteral("bootloader image-written %1 -").arg(m_image.size()));
        return;
    }
    QSaveFile file(m_outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_image) != m_image.size() || !file.commit()) {
        camera().emitEvent(QStringLiteral("error cannot write %1: %2").arg(m_outputPath, file.errorString()));
        return;
    }
    camera().emitEvent(
        QStringLiteral("bootloader image-written %1 %2").arg(m_image.size()).arg(m_outputPath));
}

void BootloaderModule::packetTimedOut()
{
    if (!m_sizeKnown || m_image.size() >= m_expectedLength)
        return;
    // Like the real one, the bootloader does not wait forever for a packet: a
    // host that went away (or sent something else) must not leave it reading
    // every later command as packet data.
    camera().emitEvent(
        QStringLiteral("bootloader transfer-abandoned %1 %2").arg(m_image.size()).arg(m_expectedLength));
    resetTransfer();
}
