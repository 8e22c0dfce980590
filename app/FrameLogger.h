#ifndef FRAMELOGGER_H
#define FRAMELOGGER_H

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include "frames/PointProjection.h"

// Text formatting of the log files. Everything appends to a byte buffer so a
// whole frame is built in memory and written with one call per file.
namespace LogFormat {

// Same bytes as QString::number(value, 'f', 6), without the QString round trip.
void appendFixed6(QByteArray &out, double value);
// "<value> \n"
void appendRawLine(QByteArray &out, quint16 value);
// The metric point of one pixel; values of 30000 and above (no distance) give the origin.
using PointProjection::projectPixel;
// "x y z\n" with six decimals each.
void appendPointLine(QByteArray &out, int col, int row, quint16 value, const LensParameters &lens);
// The point line of pixel `index` of a frame `imageWidth` pixels wide, without the line feed.
QByteArray pointLine(int index, int imageWidth, quint16 value, const LensParameters &lens);
// The 11 header lines of an ASCII PCD v0.7 file of width x height points.
QByteArray pcdHeader(int width, int height);
// The whole raw value file of `count` values.
QByteArray rawFile(const quint16 *values, int count);
// The whole PCD file of a width x height depth frame: header and one point line per pixel.
QByteArray pcdFile(const quint16 *values, int width, int height, const LensParameters &lens);

} // namespace LogFormat

// What happened to the files of one logged frame.
struct FrameLogResult
{
    enum FileState {
        NotApplicable, // not written for this kind of frame (.pcd of amplitude/grayscale frames)
        Written,
        OpenFailed,
        WriteFailed,
    };

    bool recorded = false; // false when no request was pending
    int index = 0; // n of LogN.txt and LogN.png
    int pcdIndex = 0; // m of LogM.pcd
    quint8 frameMode = 0;

    FileState raw = NotApplicable;
    FileState pcd = NotApplicable;
    FileState png = NotApplicable;
    QString rawPath, pcdPath, pngPath;
    QString rawError, pcdError, pngError;

    bool complete() const
    {
        return raw == Written && png == Written && pcd != OpenFailed && pcd != WriteFailed;
    }
    // The lines for the message log, failures first, then one summary line.
    QStringList messages() const;
};

// Writing the log files: a new file is written whole through a hidden
// temporary and renamed into place, never replacing an existing file; a PNG
// replaces an earlier image of its name only once it is complete.
namespace LogFiles {

struct Outcome
{
    FrameLogResult::FileState state = FrameLogResult::Written;
    QString error; // "<path>: <reason>" when not written
};

Outcome writeNew(const QString &path, const QByteArray &data);
Outcome savePng(const QString &path, const QImage &image);

} // namespace LogFiles

// Records one frame at a time as LogN.txt (raw values), LogM.pcd (points of a
// depth or point-cloud frame) and LogN.png (the image as displayed).
//
// A press only reserves the number and checks the folder; the files are
// created when the frame arrives, each written whole through a hidden
// temporary and renamed into place, so a failure or a replaced request never
// leaves an empty, partial or header-only file behind and never overwrites a
// log (the PNG takes the raw file's number and replaces a file of that name).
class FrameLogger
{
public:
    struct RequestResult
    {
        bool accepted = false;
        int index = 0;
        QStringList messages;
    };

    // Reserves the next free record number in `folder`. Refused, with the
    // reason, when the folder is missing or cannot take new files; a refused
    // request leaves nothing pending. A second request before a frame
    // replaces the first.
    RequestResult request(const QString &folder);
    void cancel() { m_pending = false; }

    bool isPending() const { return m_pending; }
    // The number of the last record (the pending one once requested).
    int logIndex() const { return m_logIndex; }
    QString folder() const { return m_folder; }

    // Writes the pending record from a frame's values as received (before any
    // depth filter) and the image as displayed. When `displayed` is null (a
    // point-cloud frame shown only as a cloud), the PNG holds the depth
    // colouring of the values.
    FrameLogResult record(const quint16 *values, int count, int width, int height, quint8 frameMode,
        const QImage &displayed, const LensParameters &lens);
    FrameLogResult record(const QVector<quint16> &values, int width, int height, quint8 frameMode,
        const QImage &displayed, const LensParameters &lens)
    {
        return record(values.constData(), values.size(), width, height, frameMode, displayed, lens);
    }

    static QString filePath(const QString &folder, int n, const QString &suffix);
    static QImage depthImage(const quint16 *values, int width, int height);

private:
    QString m_folder;
    int m_logIndex = 0;
    int m_pendingIndex = 0;
    bool m_pending = false;
};

#endif // FRAMELOGGER_H
