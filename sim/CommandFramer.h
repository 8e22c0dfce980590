#ifndef COMMANDFRAMER_H
#define COMMANDFRAMER_H

#include <QByteArray>

// Cuts the bytes the application writes into commands: a prefix byte twice,
// then a fixed number of bytes that depends on the prefix (0x23 and 0x22: one
// code byte, 0x22 0x22 0x02 carries four more; 0x24, 0x25, 0x27, 0x29: two
// bytes; 0x28: ten bytes). When the caller expects a raw packet (the data
// packets of the firmware and LUT transfers have no prefix) the next that-many
// bytes are taken as one packet instead. Bytes that cannot start a command
// come out as garbage. Incomplete items wait for more input.
class CommandFramer
{
public:
    enum Kind { None, Command, Raw, Garbage };

    struct Item
    {
        Kind kind = None;
        QByteArray bytes;
    };

    void append(const QByteArray &bytes) { m_buffer.append(bytes); }

    // Takes the next complete item; rawLength > 0 asks for a raw packet of that
    // size. Returns an item of kind None when more bytes are needed.
    Item next(int rawLength);

    // Bytes of an incomplete item, removed from the buffer.
    QByteArray takeRemainder();
    int bufferedBytes() const { return m_buffer.size(); }

    // Length of the command starting at `data`, 0 if more bytes are needed to
    // tell, -1 if these bytes cannot start a command.
    static int commandLength(const char *data, int available);

private:
    QByteArray m_buffer;
};

#endif // COMMANDFRAMER_H
