#include "calibration/DrnuPackets.h"

#include "device/Crc16.h"

namespace Drnu {

void encodeValue(qint32 value, char *out)
{
    const qint32 sum = value + 10000;
    out[0] = char((sum % 256) & 0xFF);
    out[1] = char((sum / 256) & 0xFF);
}

QByteArray epc635LutPacket(const qint32 *values, int packetNumber, int step)
{
    char data[Epc635PacketSize];
    for (int i = 0; i < Epc635ValuesPerPacket; ++i)
        encodeValue(values[i], data + 2 * i);
    data[60] = char(packetNumber & 0xFF);
    data[61] = char((packetNumber >> 8) & 0xFF);
    data[62] = char(step);
    data[63] = '#';
    return QByteArray(data, Epc635PacketSize);
}

QByteArray epc635InfoPacket(const LutInfo &info)
{
    char data[Epc635InfoPacketSize];
    const qint32 values[] = { info.waferID, info.chipID, info.avgChipTemperature, info.dllStepSize,
        info.drnuOffset, info.boxLength };
    for (int i = 0; i < 6; ++i)
        encodeValue(values[i], data + 2 * i);
    data[12] = '$';
    return QByteArray(data, Epc635InfoPacketSize);
}

Epc660PacketWriter::Epc660PacketWriter(const qint32 *table, int total, const LutInfo &info)
    : m_table(table)
    , m_total(qMax(total, 0))
    , m_info(info)
{
}

int Epc660PacketWriter::packetCount() const
{
    // The last packet exists only when values are left over; a table that fills
    // its packets exactly ends without an information block.
    const int full = m_total / Epc660ValuesPerPacket;
    return m_total % Epc660ValuesPerPacket ? full + 1 : full;
}

QByteArray Epc660PacketWriter::next()
{
    if (atEnd())
        return QByteArray();

    char *data = m_buffer.data();
    data[2047] = '#';
    data[2046] = char(m_index & 0xFF);

    const int first = m_index * Epc660ValuesPerPacket;
    const int count = qMin(Epc660ValuesPerPacket, m_total - first);
    for (int i = 0; i < count; ++i)
        encodeValue(m_table[first + i], data + 2 * i);
    if (count < Epc660ValuesPerPacket && 2 * count + Epc660InfoBytes <= 2043) {
        char *block = data + 2 * count;
        const qint32 values[] = { m_info.waferID, m_info.chipID, m_info.avgChipTemperature,
            m_info.dllStepSize, m_info.drnuOffset };
        for (int i = 0; i < 5; ++i)
            encodeValue(values[i], block + 2 * i);
    }

    const quint16 crc = crc16Xmodem(data, Epc660DataBytes);
    data[2044] = char(crc >> 8);
    data[2045] = char(crc & 0xFF);
    ++m_index;
    return QByteArray(data, Epc660PacketSize);
}

int Epc660PacketWriter::progress() const
{
    if (m_total == 0)
        return 100;
    // (previous index + 2) * 102200 / total, in 64 bits for any table size.
    return int(qint64(m_index + 1) * 102200 / m_total);
}

void AckDetector::reset()
{
    m_matched = 0;
    m_replyStart = true;
    m_tail = 0;
}

int AckDetector::feed(const char *data, int length)
{
    static constexpr char Ack[3] = { 0x45, 0x45, 0x02 };
    static constexpr quint32 Marker = 0x2A23232A; // "*##*"
    int acks = 0;
    for (int i = 0; i < length; ++i) {
        const char byte = data[i];
        const bool mayStart = i == 0 || m_replyStart;
        bool continued = false;
        if (m_matched > 0) {
            if (byte == Ack[m_matched]) {
                continued = true;
                if (++m_matched == 3) {
                    ++acks;
                    m_matched = 0;
                }
            } else {
                m_matched = 0;
            }
        }
        if (!continued && mayStart && byte == Ack[0])
            m_matched = 1;

        m_tail = (m_tail << 8) | quint8(byte);
        m_replyStart = m_tail == Marker;
        if (m_replyStart)
            m_tail = 0;
    }
    return acks;
}

} // namespace Drnu
