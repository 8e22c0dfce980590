#ifndef DEVICEINFOREPLY_H
#define DEVICEINFOREPLY_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

#include "frames/FrameFramer.h"

struct DeviceState;

// The fields of the camera's answer to command 1 (get device info), as stored
// at the start of the frame-shaped reply block. Lens values are kept in their
// wire scaling (factor x 10, the others x 100).
struct DeviceInfoData
{
    quint16 identityWord = 0;
    int waferID = 0;
    int chipID = 0;
    int hardwareVersion = 0;
    int firmwareVersion = 0;
    int drnuLutAvailable = 0;
    int lensParamAvailable = 0;
    int cameraFactorX10 = 0;
    int cameraCxX100 = 0;
    int cameraCyX100 = 0;
    int cameraFxX100 = 0;
    int cameraFyX100 = 0;
    int lutInfoPresent = 0; // 1: lutInfo1..3 are valid
    int lutInfo1 = 0;
    int lutInfo2 = 0;
    int lutInfo3 = 0;

    int modFreq() const { return identityWord % 1000; } // MHz
    int machineID() const { return identityWord - modFreq(); }
};

namespace DeviceInfoReply {

// Status byte (last byte before the marker) that tells a device-information
// reply from an image frame.
constexpr quint8 ReplyStatus = 10;
// The reply always fits the "Kavrix M10" frame size, whatever sensor is open.
constexpr int SmallBlockLength = 4 + 19200;
// Bytes of the block that carry fields; the rest of the pixel area is unused.
constexpr int PayloadLength = 30;

// Block lengths (bytes before the marker) accepted for a sensor with
// `pixelCount` pixels, longest first, without duplicates.
QVector<int> acceptedLengths(int pixelCount);

// Decodes one block (the bytes before a "*##*" marker). Returns nothing when
// the length is not an accepted one or the status byte is not 10.
std::optional<DeviceInfoData> decodeBlock(const QByteArray &block, int pixelCount);

// Builds a block of `blockLength` bytes (at least PayloadLength + 4) as the
// camera sends it before the marker: payload, zero padding, status last.
QByteArray encodeBlock(const DeviceInfoData &data, int blockLength, quint8 status = ReplyStatus);

// Decodes the payload fields alone; `payload` must hold PayloadLength bytes.
DeviceInfoData decodePayload(const char *payload);

// "Hardware Ver:  1.2.3" style text: hundreds, tens and units of `version`
// (a four-digit value puts two digits before the first point).
QString versionText(const QString &title, int version);

// "\log\<machine>_<wafer>_<chip>" with the platform's native separator.
QString workingSubdir(int machineID, int waferID, int chipID);

// Stores a decoded reply into the shared record: identity, version texts,
// flags, working subfolder, lens values when the camera has any, LUT info
// when its present word is 1, and sets deviceInfoReceived.
void applyTo(DeviceState &state, const DeviceInfoData &data);

// Writes the reply's lens values into the shared record's scaling.
void applyLensValues(DeviceState &state, const DeviceInfoData &data);

// Sets the per-model lens defaults used when the camera has no lens
// parameters stored: factor 1000 and, for device type 2 or 3, the intrinsics.
void applyLensDefaults(DeviceState &state, quint8 deviceType);

// The summary the main window appends to its message log after a successful
// query, from the line after the working folder line on. Applies the lens
// defaults first when `lensParamAvailable` is not 1.
QStringList summaryLines(DeviceState &state, quint8 deviceType);

} // namespace DeviceInfoReply

// Collects the bytes of a device-information reply from any number of reads
// of any size (even single bytes; a marker split across reads is found). The
// blocks are cut as FrameFramer cuts frames, once for each accepted length: a
// block of exactly that length, starting at a boundary and ending at a marker,
// is a candidate; anything else is dropped whole. A candidate is the reply
// when its status byte is 10. Memory stays bounded by the accepted lengths.
class DeviceInfoReplyReader
{
public:
    explicit DeviceInfoReplyReader(int pixelCount = 76800);
    ~DeviceInfoReplyReader();
    DeviceInfoReplyReader(const DeviceInfoReplyReader &) = delete;
    DeviceInfoReplyReader &operator=(const DeviceInfoReplyReader &) = delete;

    // Sensor size the accepted lengths follow; clears the collection when it changes.
    void setPixelCount(int pixelCount);
    int pixelCount() const { return m_pixelCount; }

    // Appends a chunk. Returns true when it completed a reply, which is then
    // available from reply(); the collection is cleared in that case.
    bool append(const QByteArray &chunk);
    const DeviceInfoData &reply() const { return m_reply; }

    // Forgets the bytes collected; the next byte may start a reply.
    void clear();
    int bufferedBytes() const;

private:
    int m_pixelCount;
    std::vector<std::unique_ptr<FrameFramer>> m_framers; // shortest length first
    DeviceInfoData m_reply;
};

#endif // DEVICEINFOREPLY_H
