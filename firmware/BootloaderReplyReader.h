#ifndef BOOTLOADERREPLYREADER_H
#define BOOTLOADERREPLYREADER_H

#include <QByteArray>
#include <QVector>

// One reply of the bootloader: "DD", a code and, for the query answer only, a value.
struct BootloaderReply
{
    enum Code : quint8 {
        Ready = 0x01, // ready to receive: send the file size
        SizeReceived = 0x02, // file size taken: send the first packet
        PacketReceived = 0x03, // data packet taken: send the next one
        QueryAnswer = 0x05, // answer to 22 22 05, carries one value byte
    };

    quint8 code = 0;
    quint8 value = 0;
};

// Cuts bootloader replies out of the bytes read from the port. A serial link
// hands over bytes in whatever pieces it likes, so a reply may be split over
// several reads or share one with others; bytes that belong to no reply
// (line noise, a trailer) are skipped.
class BootloaderReplyReader
{
public:
    // Appends the bytes of one read and returns every reply they complete, in order.
    QVector<BootloaderReply> feed(const QByteArray &bytes);

    // Forgets a partial reply, e.g. when a new transfer starts.
    void clear() { m_buffer.clear(); }
    int pendingBytes() const { return int(m_buffer.size()); }

private:
    QByteArray m_buffer;
};

#endif // BOOTLOADERREPLYREADER_H
