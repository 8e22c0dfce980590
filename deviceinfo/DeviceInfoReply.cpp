#include "deviceinfo/DeviceInfoReply.h"

#include "app/DeviceState.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace {

const QByteArray Marker = QByteArrayLiteral("*##*");

// Larger sensors than this do not exist; it keeps 2 * pixelCount + 4 far from overflow.
constexpr int MaxPixelCount = 16 * 1024 * 1024;

int word(const char *bytes, int offset)
{
    return int(quint8(bytes[offset])) | (int(quint8(bytes[offset + 1])) << 8);
}

void putWord(QByteArray &bytes, int offset, int value)
{
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char((value >> 8) & 0xFF);
}

} // namespace

namespace DeviceInfoReply {

QVector<int> acceptedLengths(int pixelCount)
{
    QVector<int> lengths { SmallBlockLength };
    if (pixelCount > 0 && pixelCount <= MaxPixelCount) {
        const int frameLength = 2 * pixelCount + 4;
        if (frameLength > SmallBlockLength)
            lengths.prepend(frameLength);
        else if (frameLength < SmallBlockLength && frameLength >= PayloadLength + 4)
            lengths.append(frameLength);
    }
    return lengths;
}

QByteArray encodeBlock(const DeviceInfoData &data, int blockLength, quint8 status)
{
    QByteArray block(std::max(blockLength, PayloadLength + 4), '\0');
    putWord(block, 0, data.identityWord);
    putWord(block, 2, data.waferID);
    putWord(block, 4, data.chipID);
    putWord(block, 6, data.hardwareVersion);
    putWord(block, 8, data.firmwareVersion);
    block[10] = char(data.drnuLutAvailable);
    block[11] = char(data.lensParamAvailable);
    putWord(block, 12, data.cameraFactorX10);
    putWord(block, 14, data.cameraCxX100);
    putWord(block, 16, data.cameraCyX100);
    putWord(block, 18, data.cameraFxX100);
    putWord(block, 20, data.cameraFyX100);
    putWord(block, 22, data.lutInfoPresent);
    putWord(block, 24, data.lutInfo1);
    putWord(block, 26, data.lutInfo2);
    putWord(block, 28, data.lutInfo3);
    block[block.size() - 1] = char(status);
    return block;
}

DeviceInfoData decodePayload(const char *payload)
{
    DeviceInfoData d;
    d.identityWord = quint16(word(payload, 0));
    d.waferID = word(payload, 2);
    d.chipID = word(payload, 4);
    d.hardwareVersion = word(payload, 6);
    d.firmwareVersion = word(payload, 8);
    d.drnuLutAvailable = quint8(payload[10]);
    d.lensParamAvailable = quint8(payload[11]);
    d.cameraFactorX10 = word(payload, 12);
    d.cameraCxX100 = word(payload, 14);
    d.cameraCyX100 = word(payload, 16);
    d.cameraFxX100 = word(payload, 18);
    d.cameraFyX100 = word(payload, 20);
    d.lutInfoPresent = word(payload, 22);
    d.lutInfo1 = word(payload, 24);
    d.lutInfo2 = word(payload, 26);
    d.lutInfo3 = word(payload, 28);
    return d;
}

std::optional<DeviceInfoData> decodeBlock(const QByteArray &block, int pixelCount)
{
    if (!acceptedLengths(pixelCount).contains(block.size()))
        return std::nullopt;
    if (quint8(block.at(block.size() - 1)) != ReplyStatus)
        return std::nullopt;
    return decodePayload(block.constData());
}

QString versionText(const QString &title, int version)
{
    return QStringLiteral("%1  %2.%3.%4")
        .arg(title)
        .arg(version / 100)
        .arg((version / 10) % 10)
        .arg(version % 10);
}

QString workingSubdir(int machineID, int waferID, int chipID)
{
    return QDir::toNativeSeparators(QStringLiteral("/log/%1_%2_%3").arg(machineID).arg(waferID).arg(chipID));
}

void applyLensValues(DeviceState &state, const DeviceInfoData &data)
{
    state.cameraFactor = data.cameraFactorX10 / 10.0;
    state.cameraCx = data.cameraCxX100 / 100.0;
    state.cameraCy = data.cameraCyX100 / 100.0;
    state.cameraFx = data.cameraFxX100 / 100.0;
    state.cameraFy = data.cameraFyX100 / 100.0;
}

void applyTo(DeviceState &state, const DeviceInfoData &data)
{
    state.deviceInfoReceived = true;
    state.modFreq = data.modFreq();
    state.machineID = data.machineID();
    state.waferID = data.waferID;
    state.chipID = data.chipID;
    state.hardwareVersionText = versionText(QStringLiteral("Hardware Ver:"), data.hardwareVersion);
    state.firmwareVersionText = versionText(QStringLiteral("Firmware Ver:"), data.firmwareVersion);
    state.drnuLutAvailable = data.drnuLutAvailable;
    state.lensParamAvailable = data.lensParamAvailable;
    state.workingSubdir = workingSubdir(data.machineID(), data.waferID, data.chipID);
    if (data.lensParamAvailable != 0)
        applyLensValues(state, data);
    if (data.lutInfoPresent == 1) {
        state.lutInfo1 = data.lutInfo1;
        state.lutInfo2 = data.lutInfo2;
        state.lutInfo3 = data.lutInfo3;
    }
}

void applyLensDefaults(DeviceState &state, quint8 deviceType)
{
    state.cameraFactor = 1000.0;
    if (deviceType == 2) {
        state.cameraCx = 80;
        state.cameraCy = 30;
        state.cameraFx = 113;
        state.cameraFy = 113;
    } else if (deviceType == 3) {
        state.cameraCx = 160;
        state.cameraCy = 120;
        state.cameraFx = 230;
        state.cameraFy = 230;
    }
}

QStringList summaryLines(DeviceState &state, quint8 deviceType)
{
    const auto fixed = [](double value) { return QString::number(value, 'f', 2); };
    QStringList lines;
    lines << QStringLiteral("Machine ID: %1          ModFreq: %2MHz").arg(state.machineID).arg(state.modFreq);
    lines << QStringLiteral("Wafter ID: %1               Chip ID: %2").arg(state.waferID).arg(state.chipID);
    lines << state.hardwareVersionText + QStringLiteral("    ") + state.firmwareVersionText;
    if (state.drnuLutAvailable == 0)
        lines << QStringLiteral("DRNU LUT file is not found");
    else
        lines << QStringLiteral("DRNU LUT file is found: <%1%2%3>")
                     .arg(state.lutInfo1)
                     .arg(state.lutInfo2)
                     .arg(state.lutInfo3);
    if (state.lensParamAvailable == 1) {
        lines << QStringLiteral("Lens param is found");
    } else {
        lines << QStringLiteral("Lens param is not found. Use default!");
        applyLensDefaults(state, deviceType);
    }
    lines << QStringLiteral("camera_factor") + fixed(state.cameraFactor);
    lines << QStringLiteral("intrinsics: [%1  %2  %3  %4]")
                 .arg(fixed(state.cameraCx), fixed(state.cameraCy), fixed(state.cameraFx),
                     fixed(state.cameraFy));
    return lines;
}

} // namespace DeviceInfoReply

DeviceInfoReplyReader::DeviceInfoReplyReader(int pixelCount)
    : m_pixelCount(pixelCount)
    , m_lengths(DeviceInfoReply::acceptedLengths(pixelCount))
{
    clear();
}

void DeviceInfoReplyReader::setPixelCount(int pixelCount)
{
    if (pixelCount == m_pixelCount)
        return;
    m_pixelCount = pixelCount;
    m_lengths = DeviceInfoReply::acceptedLengths(pixelCount);
    clear();
}

void DeviceInfoReplyReader::clear()
{
    m_buffer.clear();
    m_boundaries = { 0 };
    m_scanFrom = 0;
}

bool DeviceInfoReplyReader::append(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return false;
    m_buffer.append(chunk);
    for (;;) {
        const int markerPos = m_buffer.indexOf(Marker, m_scanFrom);
        if (markerPos < 0)
            break;
        if (tryDecodeEndingAt(markerPos)) {
            clear();
            return true;
        }
        m_boundaries.append(markerPos + Marker.size());
        m_scanFrom = markerPos + Marker.size();
    }
    // A marker may still be completed by the next chunk.
    m_scanFrom = std::max(m_scanFrom, m_buffer.size() - (Marker.size() - 1));
    trim();
    return false;
}

bool DeviceInfoReplyReader::tryDecodeEndingAt(int markerPos)
{
    if (markerPos < 1 || quint8(m_buffer.at(markerPos - 1)) != DeviceInfoReply::ReplyStatus)
        return false;
    // A block that starts where the previous one ended is the reply as sent.
    for (int length : qAsConst(m_lengths)) {
        const int start = markerPos - length;
        if (start >= 0 && std::binary_search(m_boundaries.cbegin(), m_boundaries.cend(), start)) {
            m_reply = DeviceInfoReply::decodePayload(m_buffer.constData() + start);
            return true;
        }
    }
    // Otherwise stray bytes came first: the reply is the tail before the marker.
    const int lastBoundary = m_boundaries.isEmpty() ? 0 : m_boundaries.last();
    for (int length : qAsConst(m_lengths)) {
        const int start = markerPos - length;
        if (start >= lastBoundary) {
            m_reply = DeviceInfoReply::decodePayload(m_buffer.constData() + start);
            return true;
        }
    }
    return false;
}

void DeviceInfoReplyReader::trim()
{
    // Keep what the longest block and a partial marker need; trim in large
    // steps so that byte-sized reads do not move the buffer each time.
    const int keep = m_lengths.first() + Marker.size() - 1;
    if (m_buffer.size() <= 2 * keep)
        return;
    const int drop = m_buffer.size() - keep;
    m_buffer.remove(0, drop);
    QVector<int> kept;
    for (int b : qAsConst(m_boundaries)) {
        if (b >= drop)
            kept.append(b - drop);
    }
    m_boundaries = kept;
    m_scanFrom = std::max(0, m_scanFrom - drop);
}
