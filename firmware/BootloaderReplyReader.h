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

// Cuts bootloader replies out of the bytes read from the port. A reply is
// recognised only where one can start: where the reader started listening
// (or was cleared), right after the previous reply, after a marker "*##*",
// and at the start of a read. A reply may be split over several reads or share
// one with others. Bytes that do not read as a reply there (line noise, a
// trailer) are skipped up to the next such place, so "DD" inside junk is
// never taken for a reply.
class BootloaderReplyReader
{
public:
    // Appends the bytes of one read and returns every reply they complete, in order.
    QVector<BootloaderReply> feed(const QByteArray &bytes);

    // Forgets a partial reply, e.g. when a new transfer starts.
    void clear() { m_partial.clear(); }
    int pendingBytes() const { return int(m_partial.size()); }

private:
    QByteArray m_partial; // the start of a reply, continued by the next read
};

#endif // BOOTLOADERREPLYREADER_H
