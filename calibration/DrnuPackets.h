#ifndef DRNUPACKETS_H
#define DRNUPACKETS_H

#include <QByteArray>
#include <QtGlobal>

#include <array>

// The bytes that carry a DRNU correction table into the camera's flash.
namespace Drnu {

constexpr int Epc635PacketSize = 64;
constexpr int Epc635ValuesPerPacket = 30;
constexpr int Epc635InfoPacketSize = 13;
constexpr int Epc660PacketSize = 2048;
constexpr int Epc660DataBytes = 2044;
constexpr int Epc660ValuesPerPacket = 1022;
constexpr int Epc660InfoBytes = 10;

// Every value travels as v + 10000, low byte first; the two bytes are the
// remainder and the quotient of that signed sum by 256, both toward zero.
void encodeValue(qint32 value, char *out);

// The calibration facts that travel with the table.
struct LutInfo
{
    qint32 waferID = 0;
    qint32 chipID = 0;
    qint32 avgChipTemperature = 0; // 1/16 degree
    qint32 dllStepSize = 0; // mm per step
    qint32 drnuOffset = 0; // mm; epc635 gets drnuOffset + residualMean
    qint32 boxLength = 0; // mm; epc635 only
};

// epc635: 30 values of one DLL step, packet number (1 for the first of a step), step, "#".
QByteArray epc635LutPacket(const qint32 *values, int packetNumber, int step);
// epc635: the six information values and "$".
QByteArray epc635InfoPacket(const LutInfo &info);

// epc660: the flat table in 2048-byte packets of 1022 values with CRC, index
// and "#"; the last packet also holds the information block (waferID, chipID,
// avgChipTemperature, dllStepSize, drnuOffset) right behind its values. One
// buffer serves the whole transfer: bytes behind a short last packet keep what
// the previous packet left there, and the CRC covers them as they stand.
class Epc660PacketWriter
{
public:
    Epc660PacketWriter(const qint32 *table, int total, const LutInfo &info);

    int index() const { return m_index; }
    int total() const { return m_total; }
    int packetCount() const;
    bool atEnd() const { return m_index >= packetCount(); }
    // Builds the packet with the current index and advances; empty at the end.
    QByteArray next();
    // Progress after the packet just built, as the progress bar shows it.
    int progress() const;

private:
    const qint32 *m_table;
    int m_total;
    LutInfo m_info;
    int m_index = 0;
    std::array<char, Epc660PacketSize> m_buffer {};
};

// Recognises the camera's acknowledgement of an epc660 packet: a reply that
// begins with 0x45 0x45 0x02. A reply starts where a chunk from the port
// starts, after the marker "*##*" that ends every reply, and after each packet
// sent (reset()). The three bytes are found however the port splits them.
class AckDetector
{
public:
    void reset();
    // Returns the number of acknowledgements in the bytes (one chunk).
    int feed(const char *data, int length);
    int feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

private:
    int m_matched = 0; // bytes of 0x45 0x45 0x02 matched so far
    bool m_replyStart = true; // the next byte starts a reply
    quint32 m_tail = 0; // the last four bytes, for the marker
};

} // namespace Drnu

#endif // DRNUPACKETS_H
