#include "firmware/FirmwareTransfer.h"

#include "device/Crc16.h"

#include <cstring>

namespace Bootloader {

QByteArray command(quint8 code)
{
    QByteArray bytes(3, Prefix);
    bytes[2] = char(code);
    return bytes;
}

QByteArray sizeMessage(int length)
{
    QByteArray bytes = command(FileSize);
    bytes.append(char(0));
    bytes.append(char(0));
    bytes.append(char((length >> 8) & 0xFF));
    bytes.append(char(length & 0xFF));
    return bytes;
}

bool isLegalImageSize(qint64 length)
{
    return length >= 0 && length <= MaxImageSize;
}

int progressValue(int packetIndex, int length)
{
    if (length <= 0)
        return -1;
    return int((qint64(packetIndex) + 2) * 6000 / length);
}

} // namespace Bootloader

FirmwarePacketBuilder::FirmwarePacketBuilder()
{
    m_packet.fill(0);
}

void FirmwarePacketBuilder::reset(const QByteArray &image)
{
    m_image = image;
    m_packetIndex = 0;
    m_packet.fill(0);
}

int FirmwarePacketBuilder::packetCount() const
{
    return int((m_image.size() + Bootloader::PacketDataSize - 1) / Bootloader::PacketDataSize);
}

bool FirmwarePacketBuilder::atEnd() const
{
    return qint64(m_packetIndex) * Bootloader::PacketDataSize >= m_image.size();
}

QByteArray FirmwarePacketBuilder::nextPacket()
{
    if (atEnd())
        return {};

    const qint64 offset = qint64(m_packetIndex) * Bootloader::PacketDataSize;
    const int count = int(qMin<qint64>(Bootloader::PacketDataSize, m_image.size() - offset));
    std::memcpy(m_packet.data(), m_image.constData() + offset, size_t(count));

    const quint16 crc = crc16Xmodem(m_packet.data(), Bootloader::PacketDataSize);
    m_packet[60] = char(crc >> 8);
    m_packet[61] = char(crc & 0xFF);
    m_packet[62] = char(m_packetIndex & 0xFF);
    m_packet[63] = '#';
    ++m_packetIndex;
    return QByteArray(m_packet.data(), Bootloader::PacketSize);
}

QByteArray FirmwareTransfer::start(const QByteArray &image)
{
    m_packets.reset(image);
    m_state = State::AwaitingReady;
    return Bootloader::command(Bootloader::OpenTransfer);
}

FirmwareTransfer::Step FirmwareTransfer::handleReply(const BootloaderReply &reply)
{
    Step step;
    // Replies that arrive outside a transfer (late ones, or answers meant for
    // someone else) must not make us send anything.
    if (m_state == State::Idle)
        return step;

    switch (reply.code) {
    case BootloaderReply::Ready:
        // Every transfer starts with packet 0, also when the bootloader starts over.
        m_packets.reset(m_packets.image());
        step.bytes = Bootloader::sizeMessage(int(m_packets.image().size()));
        m_state = State::AwaitingAck;
        break;
    case BootloaderReply::SizeReceived:
    case BootloaderReply::PacketReceived:
        if (m_state != State::AwaitingAck)
            break;
        if (m_packets.atEnd()) {
            step.bytes = Bootloader::command(Bootloader::EndTransfer);
            step.finished = true;
            m_state = State::Idle;
            break;
        }
        {
            const int index = m_packets.packetIndex();
            step.bytes = m_packets.nextPacket();
            step.progress = Bootloader::progressValue(index, int(m_packets.image().size()));
        }
        break;
    default:
        break;
    }
    return step;
}
