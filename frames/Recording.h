#ifndef RECORDING_H
#define RECORDING_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

// A recording of a frame stream: one header, then every frame block exactly as
// the camera sent it (pixels and trailer, without the marker) with its arrival
// time. docs/recording-format.md describes the bytes.
//
// The writer never leaves a broken file: the header is written whole under a
// temporary name and only then renamed into place, and every frame is
// appended as one record with its own checksum. A crash, a full disk or an
// interrupt can only cut the last record short, and the reader stops cleanly
// before a record that is incomplete or damaged.
namespace Recording {

constexpr char Magic[8] = { '\x89', 'K', 'V', 'R', '\r', '\n', '\x1a', '\n' };
constexpr quint16 Version = 1;
constexpr char FrameTag[4] = { 'K', 'V', 'R', 'F' };
constexpr int FixedHeaderSize = 100; // up to the device-information fields
constexpr int RecordOverhead = 20; // tag, number, time and checksum around a frame
// Larger device-information fields or frames are refused as damaged input.
constexpr int MaxBlockSize = 16 * 1024 * 1024;

// CRC-32 as in zlib and PNG (polynomial 0xEDB88320, reflected, initial and
// final value 0xFFFFFFFF). Chain calls by passing the previous result.
quint32 crc32(const char *data, qint64 size, quint32 crc = 0);

enum Setting : quint32 {
    IntegrationTimeSet = 1,
    HdrSecondTimeSet = 2,
    MinAmplitudeSet = 4,
    DistanceOffsetSet = 8,
};

struct Header
{
    quint8 deviceType = 0; // 2 "Kavrix M10", 3 "Kavrix M20"
    quint8 frameType = 1; // 0 amplitude, 1 depth, 2 grayscale
    int width = 0;
    int height = 0;
    int frameLength = 0; // bytes of one frame block: 2 x width x height + 4
    qint64 startedMsecsSinceEpoch = 0;
    bool hdr = false;
    // The settings sent before the stream started; only those in `settings` were sent.
    quint32 settings = 0;
    qint32 integrationTime = 0; // microseconds
    qint32 hdrSecondTime = 0; // microseconds
    qint32 minAmplitude = 0; // LSB
    qint32 distanceOffset = 0; // LSB as sent (twice the millimetres)
    // The lens values the point files are made with.
    double cameraFactor = 1000.0;
    double cameraCx = 1.0;
    double cameraCy = 1.0;
    double cameraFx = 1.0;
    double cameraFy = 1.0;
    // The fields of the camera's device-information reply (the first 30
    // bytes of its block); empty when there was none.
    QByteArray deviceInfoPayload;

    int pixelCount() const { return width * height; }
    bool operator==(const Header &other) const;
};

QByteArray encodeHeader(const Header &header);

// Decodes a header from the start of `bytes`. Returns the header's size, 0
// when more bytes are needed, -1 when the bytes are not a valid header (the
// reason in *error).
int decodeHeader(const QByteArray &bytes, Header *header, QString *error);

// One record: tag, frame number, arrival time (nanoseconds since the
// recording started), the frame bytes, checksum.
void encodeRecord(QByteArray &out, quint32 number, quint64 timeNs, const char *frame, int frameLength);

struct Frame
{
    quint32 number = 0;
    quint64 timeNs = 0;
    QByteArray data;
};

} // namespace Recording

// Appends frames to a new recording file.
class RecordingWriter
{
public:
    ~RecordingWriter();

    // Creates `path` with the header. Refuses to replace an existing file.
    bool open(const QString &path, const Recording::Header &header);
    // Appends one frame of header.frameLength bytes. On a failed write the
    // file is cut back to the last whole record and false is returned.
    bool append(quint64 timeNs, const char *frame);
    // Flushes to the disk and closes. False if the flush failed.
    bool close();

    bool isOpen() const { return m_file.isOpen(); }
    quint32 framesWritten() const { return m_frames; }
    qint64 bytesWritten() const { return m_size; }
    QString errorString() const { return m_error; }

private:
    QFile m_file;
    Recording::Header m_header;
    QByteArray m_record;
    quint32 m_frames = 0;
    qint64 m_size = 0;
    QString m_error;
};

// Reads a recording frame by frame, stopping cleanly at a cut or damaged tail.
class RecordingReader
{
public:
    bool open(const QString &path);
    const Recording::Header &header() const { return m_header; }
    // The next whole, undamaged frame; false at the end of the file or at the
    // first record that is cut short or damaged (see tailBytes()).
    bool next(Recording::Frame *frame);
    // Bytes after the last good record that do not form one (0 for a clean end).
    qint64 tailBytes() const { return m_tailBytes; }
    // Goes back to the first frame.
    bool rewind();
    QString errorString() const { return m_error; }

private:
    QFile m_file;
    Recording::Header m_header;
    qint64 m_firstRecord = 0;
    qint64 m_tailBytes = 0;
    QByteArray m_record;
    QString m_error;
};

#endif // RECORDING_H
