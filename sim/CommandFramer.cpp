#include "sim/CommandFramer.h"

int CommandFramer::commandLength(const char *data, int available)
{
    if (available < 1)
        return 0;
    const auto prefix = static_cast<quint8>(data[0]);
    int length = 0;
    switch (prefix) {
    case 0x22:
    case 0x23:
        length = 3;
        break;
    case 0x24:
    case 0x25:
    case 0x27:
    case 0x29:
        length = 4;
        break;
    case 0x28:
        length = 12;
        break;
    default:
        return -1;
    }
    if (available < 2)
        return 0;
    if (data[1] != data[0])
        return -1;
    if (prefix == 0x22) {
        if (available < 3)
            return 0;
        if (data[2] == 0x02)
            length = 7; // file size: 22 22 02 00 00 <size high> <size low>
    }
    return length;
}

CommandFramer::Item CommandFramer::next(int rawLength)
{
    Item item;
    if (m_buffer.isEmpty())
        return item;

    if (rawLength > 0) {
        if (m_buffer.size() < rawLength)
            return item;
        item.kind = Raw;
        item.bytes = m_buffer.left(rawLength);
        m_buffer.remove(0, rawLength);
        return item;
    }

    int garbage = 0;
    while (garbage < m_buffer.size()) {
        const int length = commandLength(m_buffer.constData() + garbage, m_buffer.size() - garbage);
        if (length >= 0)
            break;
        ++garbage;
    }
    if (garbage > 0) {
        item.kind = Garbage;
        item.bytes = m_buffer.left(garbage);
        m_buffer.remove(0, garbage);
        return item;
    }

    const int length = commandLength(m_buffer.constData(), m_buffer.size());
    if (length <= 0 || m_buffer.size() < length)
        return item;
    item.kind = Command;
    item.bytes = m_buffer.left(length);
    m_buffer.remove(0, length);
    return item;
}

QByteArray CommandFramer::takeRemainder()
{
    QByteArray rest;
    rest.swap(m_buffer);
    return rest;
}
