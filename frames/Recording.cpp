#include "frames/Recording.h"

#include "device/FileWriting.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <array>
#include <cstring>

namespace {

// Eight tables: the CRC takes eight bytes per step ("slicing by 8").
using CrcTables = std::array<std::array<quint32, 256>, 8>;

CrcTables makeCrcTables()
{
    CrcTables tables {};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (quint32 i = 0; i < 256; ++i) {
        for (int t = 1; t < 8; ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    }
    return tables;
}

const CrcTables CrcTable = makeCrcTables();

void putU16(QByteArray &out, quint16 v)
{
    const char b[2] = { char(v), char(v >> 8) };
    out.append(b, 2);
}

void putU32(QByteArray &out, quint32 v)
{
    const char b[4] = { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    out.append(b, 4);
}

void putU64(QByteArray &out, quint64 v)
{
    putU32(out, quint32(v));
    putU32(out, quint32(v >> 32));
}

void putDouble(QByteArray &out, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    putU64(out, bits);
}

quint16 getU16(const char *p)
{
    return quint16(quint8(p[0]) | (quint8(p[1]) << 8));
}

quint32 getU32(const char *p)
{
    return quint32(quint8(p[0])) | (quint32(quint8(p[1])) << 8) | (quint32(quint8(p[2])) << 16)
        | (quint32(quint8(p[3])) << 24);
}

quint64 getU64(const char *p)
{
    return quint64(getU32(p)) | (quint64(getU32(p + 4)) << 32);
}

double getDouble(const char *p)
{
    const quint64 bits = getU64(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

namespace Recording {

quint32 crc32(const char *data, qint64 size, quint32 crc)
{
    crc = ~crc;
    const auto *p = reinterpret_cast<const quint8 *>(data);
    const auto &t = CrcTable;
    for (; size >= 8; size -= 8, p += 8) {
        const quint32 a
            = crc ^ (quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24));
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][p[4]]
            ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

bool Header::operator==(const Header &o) const
{
    return deviceType == o.deviceType && frameType == o.frameType && width == o.width && height == o.height
        && frameLength == o.frameLength && startedMsecsSinceEpoch == o.startedMsecsSinceEpoch && hdr == o.hdr
        && settings == o.settings && integrationTime == o.integrationTime && hdrSecondTime == o.hdrSecondTime
        && minAmplitude == o.minAmplitude && distanceOffset == o.distanceOffset
        && cameraFactor == o.cameraFactor && cameraCx == o.cameraCx && cameraCy == o.cameraCy
        && cameraFx == o.cameraFx && cameraFy == o.cameraFy && deviceInfoPayload == o.deviceInfoPayload;
}

QByteArray encodeHeader(const Header &h)
{
    QByteArray out;
    out.reserve(FixedHeaderSize + h.deviceInfoPayload.size() + 4);
    out.append(Magic, sizeof Magic);
    putU32(out, quint32(FixedHeaderSize + h.deviceInfoPayload.size() + 4));
    putU16(out, Version);
    out.append(char(h.deviceType));
    out.append(char(h.frameType));
    putU16(out, quint16(h.width));
    putU16(out, quint16(h.height));
    putU32(out, quint32(h.frameLength));
    putU64(out, quint64(h.startedMsecsSinceEpoch));
    out.append(char(h.hdr ? 1 : 0));
    out.append(3, '\0');
    putU32(out, h.settings);
    putU32(out, quint32(h.integrationTime));
    putU32(out, quint32(h.hdrSecondTime));
    putU32(out, quint32(h.minAmplitude));
    putU32(out, quint32(h.distanceOffset));
    for (double v : { h.cameraFactor, h.cameraCx, h.cameraCy, h.cameraFx, h.cameraFy })
        putDouble(out, v);
    putU32(out, quint32(h.deviceInfoPayload.size()));
    out.append(h.deviceInfoPayload);
    putU32(out, crc32(out.constData(), out.size()));
    return out;
}

int decodeHeader(const QByteArray &bytes, Header *h, QString *error)
{
    const auto fail = [error](const QString &reason) {
        *error = reason;
        return -1;
    };
    const int have = int(bytes.size());
    if (std::memcmp(bytes.constData(), Magic, size_t(qMin(have, int(sizeof Magic)))) != 0)
        return fail(QStringLiteral("not a Kavrix recording"));
    if (have < 12)
        return 0;
    const char *p = bytes.constData();
    const quint32 size = getU32(p + 8);
    if (size < quint32(FixedHeaderSize + 4) || size > quint32(FixedHeaderSize + 4 + MaxBlockSize))
        return fail(QStringLiteral("damaged header"));
    if (quint32(have) < size)
        return 0;
    if (crc32(p, size - 4) != getU32(p + size - 4))
        return fail(QStringLiteral("damaged header"));
    if (getU16(p + 12) != Version)
        return fail(QStringLiteral("recording format version %1 is not supported").arg(getU16(p + 12)));
    Header out;
    out.deviceType = quint8(p[14]);
    out.frameType = quint8(p[15]);
    out.width = getU16(p + 16);
    out.height = getU16(p + 18);
    out.frameLength = int(getU32(p + 20));
    out.startedMsecsSinceEpoch = qint64(getU64(p + 24));
    out.hdr = p[32] != 0;
    out.settings = getU32(p + 36);
    out.integrationTime = qint32(getU32(p + 40));
    out.hdrSecondTime = qint32(getU32(p + 44));
    out.minAmplitude = qint32(getU32(p + 48));
    out.distanceOffset = qint32(getU32(p + 52));
    out.cameraFactor = getDouble(p + 56);
    out.cameraCx = getDouble(p + 64);
    out.cameraCy = getDouble(p + 72);
    out.cameraFx = getDouble(p + 80);
    out.cameraFy = getDouble(p + 88);
    const quint32 blockSize = getU32(p + 96);
    if (blockSize != size - FixedHeaderSize - 4)
        return fail(QStringLiteral("damaged header"));
    out.deviceInfoPayload = QByteArray(p + FixedHeaderSize, int(blockSize));
    if ((out.deviceType != 2 && out.deviceType != 3) || out.frameType > 2 || out.width <= 0 || out.height <= 0
        || out.frameLength != 2 * qint64(out.width) * out.height + 4 || out.frameLength > MaxBlockSize)
        return fail(QStringLiteral("the header describes no Kavrix camera stream"));
    *h = out;
    return int(size);
}

void encodeRecord(QByteArray &out, quint32 number, quint64 timeNs, const char *frame, int frameLength)
{
    out.clear();
    out.reserve(frameLength + RecordOverhead);
    out.append(FrameTag, sizeof FrameTag);
    putU32(out, number);
    putU64(out, timeNs);
    out.append(frame, frameLength);
    putU32(out, crc32(out.constData(), out.size()));
}

} // namespace Recording

// ---------------------------------------------------------------------------

using FileWriting::syncToDisk;
using FileWriting::writeAll;

RecordingWriter::~RecordingWriter()
{
    close();
}

bool RecordingWriter::open(const QString &path, const Recording::Header &header)
{
    close();
    m_error.clear();
    m_frames = 0;
    m_header = header;
    if (QFileInfo::exists(path)) {
        m_error = QStringLiteral("%1 already exists").arg(path);
        return false;
    }
    // The header goes into a hidden temporary first: the file appears under
    // its name only with a whole header.
    const QFileInfo info(path);
    const QString temporary = info.path() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.')
        + QString::number(QRandomGenerator::global()->generate64(), 36);
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = Recording::encodeHeader(header);
    if (!writeAll(file, bytes) || !syncToDisk(file)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.close();
        file.remove();
        return false;
    }
    file.close();
    if (!file.rename(path)) {
        m_error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        file.remove();
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString());
        return false;
    }
    m_size = bytes.size();
    return true;
}

bool RecordingWriter::append(quint64 timeNs, const char *frame)
{
    if (!m_file.isOpen())
        return false;
    Recording::encodeRecord(m_record, m_frames, timeNs, frame, m_header.frameLength);
    if (!writeAll(m_file, m_record)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
        // Leave no part of this record behind.
        m_file.resize(m_size);
        return false;
    }
    m_size += m_record.size();
    ++m_frames;
    return true;
}

bool RecordingWriter::close()
{
    if (!m_file.isOpen())
        return true;
    const bool synced = syncToDisk(m_file);
    if (!synced)
        m_error = QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
    m_file.close();
    return synced;
}

bool RecordingReader::open(const QString &path)
{
    m_file.close();
    m_file.setFileName(path);
    m_tailBytes = 0;
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1: %2").arg(path, m_file.errorString());
        return false;
    }
    QByteArray bytes = m_file.read(Recording::FixedHeaderSize);
    QString reason;
    int size = Recording::decodeHeader(bytes, &m_header, &reason);
    if (size == 0 && bytes.size() >= 12) {
        bytes += m_file.read(qint64(getU32(bytes.constData() + 8)) - bytes.size());
        size = Recording::decodeHeader(bytes, &m_header, &reason);
    }
    if (size <= 0) {
        m_error = QStringLiteral("%1: %2").arg(
            path, size == 0 ? QStringLiteral("the header is cut short") : reason);
        m_file.close();
        return false;
    }
    m_firstRecord = size;
    return rewind();
}

bool RecordingReader::rewind()
{
    m_tailBytes = 0;
    return m_file.isOpen() && m_file.seek(m_firstRecord);
}

bool RecordingReader::next(Recording::Frame *frame)
{
    if (!m_file.isOpen() || m_tailBytes > 0)
        return false;
    const qint64 start = m_file.pos();
    const qint64 recordSize = m_header.frameLength + Recording::RecordOverhead;
    m_record.resize(int(recordSize));
    const qint64 got = m_file.read(m_record.data(), recordSize);
    const char *p = m_record.constData();
    const bool whole = got == recordSize && std::memcmp(p, Recording::FrameTag, 4) == 0
        && Recording::crc32(p, recordSize - 4) == getU32(p + recordSize - 4);
    if (!whole) {
        m_tailBytes = qMax<qint64>(0, m_file.size() - start);
        m_file.seek(start);
        return false;
    }
    frame->number = getU32(p + 4);
    frame->timeNs = getU64(p + 8);
    frame->data = QByteArray(p + 16, m_header.frameLength);
    return true;
}
