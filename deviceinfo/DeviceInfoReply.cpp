#include "deviceinfo/DeviceInfoReply.h"

#include "device/DeviceState.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace {

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
    : m_pixelCount(-1)
{
    setPixelCount(pixelCount);
}

DeviceInfoReplyReader::~DeviceInfoReplyReader() = default;

void DeviceInfoReplyReader::setPixelCount(int pixelCount)
{
    if (pixelCount == m_pixelCount)
        return;
    m_pixelCount = pixelCount;
    QVector<int> lengths = DeviceInfoReply::acceptedLengths(pixelCount);
    // The shorter reply is taken without waiting for the longer one's bytes.
    std::sort(lengths.begin(), lengths.end());
    m_framers.clear();
    for (int length : qAsConst(lengths))
        m_framers.push_back(std::make_unique<FrameFramer>(length));
}

void DeviceInfoReplyReader::clear()
{
    for (auto &framer : m_framers)
        framer->reset();
}

int DeviceInfoReplyReader::bufferedBytes() const
{
    int bytes = 0;
    for (const auto &framer : m_framers)
        bytes = std::max(bytes, framer->bufferedBytes());
    return bytes;
}

bool DeviceInfoReplyReader::append(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return false;
    for (auto &framer : m_framers)
        framer->append(chunk);
    // The reply that ends first in the stream, whichever length it has.
    const char *reply = nullptr;
    quint64 replyEnd = 0;
    for (auto &framer : m_framers) {
        FrameFramer::Frame block;
        while (framer->nextFrame(&block)) {
            if (quint8(block.data[block.size - 1]) != DeviceInfoReply::ReplyStatus)
                continue;
            const quint64 end = framer->bytesReceived() - quint64(framer->bufferedBytes());
            if (!reply || end < replyEnd) {
                reply = block.data;
                replyEnd = end;
            }
            break;
        }
    }
    if (reply) {
        m_reply = DeviceInfoReply::decodePayload(reply);
        clear();
        return true;
    }
    return false;
}
