#ifndef FIRMWARETRANSFER_H
#define FIRMWARETRANSFER_H

#include "firmware/BootloaderReplyReader.h"

#include <QByteArray>

#include <array>

// Wire messages of the bootloader. Its commands use the prefix 22 22 ("" in
// ASCII) instead of the application firmware's "##".
namespace Bootloader {

constexpr char Prefix = 0x22;

enum CommandCode : quint8 {
    OpenTransfer = 0x01,
    FileSize = 0x02,
    Query = 0x05,
    EndTransfer = 0x0B,
};

constexpr int PacketSize = 64;
constexpr int PacketDataSize = 60;
// The bootloader's flash area; larger images are refused before anything is sent.
constexpr int MaxImageSize = 48 * 1024;

// 22 22 <code>
QByteArray command(quint8 code);

// 22 22 02 00 00 S1 S0: the low 16 bits of the image length, big-endian.
QByteArray sizeMessage(int length);

bool isLegalImageSize(qint64 length);

// Progress bar value after packet `packetIndex` of an image of `length` bytes
// was sent: (k + 2) * 6000 / L. Values above 100 (the last packets) are meant to
// be ignored by the bar; -1 for an empty image.
int progressValue(int packetIndex, int length);

} // namespace Bootloader

// Cuts an image into the bootloader's 64-byte packets: 60 image bytes, the
// CRC-16/XMODEM of those 60 bytes (high byte first), the packet index mod 256
// and "#". The packet buffer is kept from one packet to the next, so the unused
// end of a short last packet still holds the previous packet's bytes; the
// bootloader checks the CRC over the bytes as sent and takes only the image
// length from the size message, so that is harmless and must stay as it is.
class FirmwarePacketBuilder
{
public:
    FirmwarePacketBuilder();

    // Starts over with packet 0 of `image`; the buffer starts zero-filled.
    void reset(const QByteArray &image);

    const QByteArray &image() const { return m_image; }
    int packetIndex() const { return m_packetIndex; }
    int packetCount() const;
    bool atEnd() const;

    // Builds packet packetIndex() and advances. Returns an empty array at the end.
    QByteArray nextPacket();

private:
    QByteArray m_image;
    int m_packetIndex = 0;
    std::array<char, Bootloader::PacketSize> m_packet;
};

// The application's side of a transfer, driven by the bootloader's replies:
// "open" → DD 01 → size message → DD 02 → packet 0 → DD 03 → packet 1 … → end.
class FirmwareTransfer
{
public:
    enum class State {
        Idle,
        AwaitingReady, // open sent, waiting for DD 01
        AwaitingAck, // size or a packet sent, waiting for DD 02 / DD 03
    };

    // What to do in answer to one reply.
    struct Step
    {
        QByteArray bytes; // to write to the port, empty for none
        int progress = -1; // new progress value, -1 for no change
        bool finished = false; // the end message is in `bytes`; the transfer is over
    };

    State state() const { return m_state; }
    bool isRunning() const { return m_state != State::Idle; }
    int packetIndex() const { return m_packets.packetIndex(); }
    int imageSize() const { return int(m_packets.image().size()); }

    // Begins a transfer of `image` (copied; later changes of the caller's data do
    // not touch it) and returns the open message.
    QByteArray start(const QByteArray &image);
    Step handleReply(const BootloaderReply &reply);
    void abort() { m_state = State::Idle; }

private:
    State m_state = State::Idle;
    FirmwarePacketBuilder m_packets;
};

#endif // FIRMWARETRANSFER_H
