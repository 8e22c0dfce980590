#include "app/FrameLogger.h"

#include "device/FileWriting.h"
#include "frames/ImageColorizer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cmath>

namespace LogFormat {

void appendFixed6(QByteArray &out, double value)
{
    const double magnitude = std::fabs(value);
    // Below 1e9 the scaled value and its floor are exact integers in a double;
    // NaN, infinities and huge values take the general path.
    if (magnitude < 1e9) {
        const double scaled = magnitude * 1e6;
        const double whole = std::floor(scaled);
        const double fraction = scaled - whole;
        // The product carries at most half an ulp of error; only when the
        // fraction lies that close to one half could the rounding go the
        // other way, so those rare values are left to the exact conversion.
        if (std::fabs(fraction - 0.5) > scaled * 0x1p-51 + 0x1p-60) {
            quint64 units = quint64(whole) + (fraction > 0.5 ? 1 : 0);
            char buffer[32];
            char *const end = buffer + sizeof buffer;
            char *p = end;
            for (int i = 0; i < 6; ++i) {
                *--p = char('0' + units % 10);
                units /= 10;
            }
            *--p = '.';
            do {
                *--p = char('0' + units % 10);
                units /= 10;
            } while (units);
            // Like QString::number: a sign for every negative value, even one
            // that rounds to zero, but none for negative zero.
            if (value < 0)
                *--p = '-';
            out.append(p, int(end - p));
            return;
        }
    }
    out.append(QString::number(value, 'f', 6).toLatin1());
}

void appendRawLine(QByteArray &out, quint16 value)
{
    char buffer[8];
    char *const end = buffer + sizeof buffer;
    char *p = end;
    *--p = '\n';
    *--p = ' ';
    unsigned v = value;
    do {
        *--p = char('0' + v % 10);
        v /= 10;
    } while (v);
    out.append(p, int(end - p));
}

static void appendPoint(QByteArray &out, const Point3D &point)
{
    appendFixed6(out, point.x);
    out.append(' ');
    appendFixed6(out, point.y);
    out.append(' ');
    appendFixed6(out, point.z);
}

void appendPointLine(QByteArray &out, int col, int row, quint16 value, const LensParameters &lens)
{
    if (value >= 30000) {
        out.append("0.000000 0.000000 0.000000\n");
        return;
    }
    appendPoint(out, projectPixel(col, row, value, lens));
    out.append('\n');
}

QByteArray pointLine(int index, int imageWidth, quint16 value, const LensParameters &lens)
{
    QByteArray line;
    appendPoint(line, projectPixel(index % imageWidth, index / imageWidth, value, lens));
    return line;
}

QByteArray pcdHeader(int width, int height)
{
    QByteArray header;
    header += "# .PCD v0.7 - Point Cloud Data file format\n"
              "VERSION 0.7\n"
              "FIELDS x y z\n"
              "SIZE 4 4 4\n"
              "TYPE F F F\n"
              "COUNT 1 1 1\n";
    header += "WIDTH " + QByteArray::number(width) + '\n';
    header += "HEIGHT " + QByteArray::number(height) + '\n';
    header += "VIEWPOINT 0 0 0 1 0 0 0\n";
    header += "POINTS " + QByteArray::number(qint64(width) * height) + '\n';
    header += "DATA ascii\n";
    return header;
}

QByteArray rawFile(const quint16 *values, int count)
{
    QByteArray raw;
    raw.reserve(count * 7);
    for (int i = 0; i < count; ++i)
        appendRawLine(raw, values[i]);
    return raw;
}

QByteArray pcdFile(const quint16 *values, int width, int height, const LensParameters &lens)
{
    QByteArray pcd = pcdHeader(width, height);
    pcd.reserve(pcd.size() + width * height * 28);
    int i = 0;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col, ++i)
            appendPointLine(pcd, col, row, values[i], lens);
    }
    return pcd;
}

} // namespace LogFormat

namespace {

struct WriteOutcome
{
    FrameLogResult::FileState state = FrameLogResult::Written;
    QString error;
};

QString describe(const QString &path, const QString &error)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + error;
}

// Creates a new, hidden file next to `path`; the caller removes or renames it.
bool createTemporary(const QString &path, QFile &file)
{
    const QFileInfo info(path);
    for (int attempt = 0; attempt < 8; ++attempt) {
        file.setFileName(info.path() + QLatin1String("/.") + info.fileName() + QLatin1Char('.')
            + QString::number(QRandomGenerator::global()->generate64(), 36));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!file.exists())
            return false;
    }
    return false;
}

using FileWriting::writeAll;

// Writes `data` as the new file `path`: whole or not at all, never replacing a file.
WriteOutcome writeNewFile(const QString &path, const QByteArray &data)
{
    WriteOutcome outcome;
    QFile file;
    if (!createTemporary(path, file)) {
        outcome.state = FrameLogResult::OpenFailed;
        outcome.error = describe(path, file.errorString());
        return outcome;
    }
    const bool written = writeAll(file, data);
    // close() clears the error of an earlier write, so take the reason first.
    QString error = written ? QString() : file.errorString();
    file.close();
    if (error.isEmpty() && file.error() != QFileDevice::NoError)
        error = file.errorString();
    if (!error.isEmpty()) {
        outcome.state = FrameLogResult::WriteFailed;
        outcome.error = describe(path, error);
        file.remove();
        return outcome;
    }
    // rename() refuses to replace an existing file, so a log that appeared
    // since the number was chosen is never overwritten.
    if (!file.rename(path)) {
        outcome.state = FrameLogResult::WriteFailed;
        outcome.error = describe(path, file.errorString());
        file.remove();
    }
    return outcome;
}

WriteOutcome savePng(const QString &path, const QImage &image)
{
    WriteOutcome outcome;
    // Encoded in memory first: the encoder does not report a device that
    // fails behind a write buffer.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // The resolution stored in the file is fixed (96 dots per inch): the
    // default follows the screen, or its absence, so the same picture would
    // not give the same file in the window and in the command-line tool.
    QImage fixed = image;
    fixed.setDotsPerMeterX(3780);
    fixed.setDotsPerMeterY(3780);
    if (!fixed.save(&buffer, "PNG")) {
        outcome.state = FrameLogResult::WriteFailed;
        outcome.error = describe(path, QStringLiteral("cannot encode the image"));
        return outcome;
    }
    // Replaces an earlier image of the same name only once the new one is complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        outcome.state = FrameLogResult::OpenFailed;
        outcome.error = describe(path, file.errorString());
        return outcome;
    }
    if (!writeAll(file, png)) {
        outcome.state = FrameLogResult::WriteFailed;
        outcome.error = describe(path, file.errorString());
        return outcome; // the destructor discards the temporary
    }
    if (!file.commit()) {
        outcome.state = FrameLogResult::WriteFailed;
        outcome.error = describe(path, file.errorString());
    }
    return outcome;
}

QString joinAnd(const QStringList &items)
{
    if (items.size() <= 1)
        return items.value(0);
    return QStringList(items.mid(0, items.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" and ")
        + items.last();
}

bool isDepthMode(quint8 frameMode)
{
    return frameMode == 1 || frameMode == 3;
}

} // namespace

namespace LogFiles {

Outcome writeNew(const QString &path, const QByteArray &data)
{
    const WriteOutcome outcome = writeNewFile(path, data);
    return { outcome.state, outcome.error };
}

Outcome savePng(const QString &path, const QImage &image)
{
    const WriteOutcome outcome = ::savePng(path, image);
    return { outcome.state, outcome.error };
}

} // namespace LogFiles

QStringList FrameLogResult::messages() const
{
    QStringList lines;
    if (!recorded)
        return lines;

    if (raw == OpenFailed)
        lines << QStringLiteral("Open log file failed");
    else if (raw == WriteFailed)
        lines << QStringLiteral("Write log file failed");
    if (pcd == OpenFailed)
        lines << QStringLiteral("Open Pcd log file failed");
    else if (pcd == WriteFailed)
        lines << QStringLiteral("Write Pcd log file failed");
    if (png == OpenFailed || png == WriteFailed)
        lines << QStringLiteral("Save image file failed");

    const QString name = QStringLiteral("Log") + QString::number(index);
    const QString pcdName = QStringLiteral("Log") + QString::number(pcdIndex) + QStringLiteral(".pcd");
    if (complete()) {
        QString line = name + QStringLiteral(": data and image saved");
        if (pcd == Written && pcdIndex != index) {
            line += QStringLiteral(" (point cloud in ") + pcdName + QLatin1Char(')');
        } else if (pcd == NotApplicable) {
            const QString kind = frameMode == 0 ? QStringLiteral("an amplitude")
                : frameMode == 2                ? QStringLiteral("a grayscale")
                                                : QStringLiteral("this");
            line += QStringLiteral(" (no point cloud for ") + kind + QStringLiteral(" frame)");
        }
        lines << line;
        return lines;
    }

    QStringList saved, missing, reasons;
    const auto account = [&](FileState state, const QString &what, const QString &error) {
        if (state == Written)
            saved << what;
        else if (state != NotApplicable) {
            missing << what;
            reasons << error;
        }
    };
    account(raw, QStringLiteral("data"), rawError);
    account(pcd,
        pcdIndex != index ? QStringLiteral("point cloud (") + pcdName + QLatin1Char(')')
                          : QStringLiteral("point cloud"),
        pcdError);
    account(png, QStringLiteral("image"), pngError);

    QString line = name + QStringLiteral(": ");
    if (saved.isEmpty())
        line += QStringLiteral("nothing saved");
    else
        line += joinAnd(saved) + QStringLiteral(" saved, ") + joinAnd(missing) + QStringLiteral(" not saved");
    line += QStringLiteral(" (") + reasons.join(QStringLiteral("; ")) + QLatin1Char(')');
    lines << line;
    return lines;
}

QString FrameLogger::filePath(const QString &folder, int n, const QString &suffix)
{
    return folder + QDir::separator() + QStringLiteral("Log") + QString::number(n) + QLatin1Char('.')
        + suffix;
}

FrameLogger::RequestResult FrameLogger::request(const QString &folder)
{
    RequestResult result;
    m_pending = false;

    const QFileInfo info(folder);
    QString problem;
    if (!info.exists()) {
        problem = QStringLiteral(" does not exist");
    } else if (!info.isDir()) {
        problem = QStringLiteral(" is not a folder");
    } else {
        // Permission bits do not tell the whole story (root, read-only
        // mounts), so try to create a file there.
        QFile probe;
        if (createTemporary(filePath(folder, m_logIndex + 1, QStringLiteral("txt")), probe))
            probe.remove();
        else
            problem = QStringLiteral(" is not writable (") + probe.errorString() + QLatin1Char(')');
    }
    if (!problem.isEmpty()) {
        result.messages << QStringLiteral("Open log file failed")
                        << QStringLiteral("Log folder ") + QDir::toNativeSeparators(folder) + problem
                + QStringLiteral("; the frame is not logged");
        return result;
    }

    int n = m_logIndex + 1;
    while (QFileInfo::exists(filePath(folder, n, QStringLiteral("txt"))))
        ++n;
    m_folder = folder;
    m_logIndex = n;
    m_pendingIndex = n;
    m_pending = true;
    result.accepted = true;
    result.index = n;
    return result;
}

QImage FrameLogger::depthImage(const quint16 *values, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    ImageColorizer colorizer;
    colorizer.setRange(0, 9000);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const QColor color
                = colorizer.valueToColor(values[row * width + col], ImageColorizer::DepthColors);
            image.setPixel(col, row, color.rgb());
        }
    }
    return image;
}

FrameLogResult FrameLogger::record(const quint16 *values, int count, int width, int height, quint8 frameMode,
    const QImage &displayed, const LensParameters &lens)
{
    FrameLogResult result;
    if (!m_pending)
        return result;
    m_pending = false;
    result.recorded = true;
    result.frameMode = frameMode;

    if (!values || count < 0)
        count = 0;
    if (width <= 0 || height <= 0 || qint64(width) * height != count) {
        width = count;
        height = count > 0 ? 1 : 0;
    }

    // Something else may have taken the number since the press.
    int n = m_pendingIndex;
    while (QFileInfo::exists(filePath(m_folder, n, QStringLiteral("txt"))))
        ++n;
    m_logIndex = qMax(m_logIndex, n);
    result.index = n;

    QByteArray raw = LogFormat::rawFile(values, count);
    result.rawPath = filePath(m_folder, n, QStringLiteral("txt"));
    const WriteOutcome rawOutcome = writeNewFile(result.rawPath, raw);
    result.raw = rawOutcome.state;
    result.rawError = rawOutcome.error;
    raw.clear();

    if (isDepthMode(frameMode)) {
        int m = n;
        while (QFileInfo::exists(filePath(m_folder, m, QStringLiteral("pcd"))))
            ++m;
        result.pcdIndex = m;
        const QByteArray pcd = LogFormat::pcdFile(values, width, height, lens);
        result.pcdPath = filePath(m_folder, m, QStringLiteral("pcd"));
        const WriteOutcome pcdOutcome = writeNewFile(result.pcdPath, pcd);
        result.pcd = pcdOutcome.state;
        result.pcdError = pcdOutcome.error;
    }

    // Without a displayed image (a point-cloud frame is not shown as a picture)
    // the depth colouring of the values is stored.
    const QImage image = displayed.isNull() ? depthImage(values, width, height) : displayed;
    result.pngPath = filePath(m_folder, n, QStringLiteral("png"));
    const WriteOutcome pngOutcome = savePng(result.pngPath, image);
    result.png = pngOutcome.state;
    result.pngError = pngOutcome.error;
    return result;
}
