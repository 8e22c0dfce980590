#include "calibration/DrnuFiles.h"

#include "calibration/DrnuSweep.h"

#include <QDir>
#include <QIODevice>
#include <QSaveFile>

#include <charconv>
#include <memory>

namespace Drnu {

namespace {

constexpr int BlockSize = 1 << 20;

// Collects the bytes of one file and hands them to the device in big blocks.
class BlockWriter
{
public:
    explicit BlockWriter(QIODevice *device)
        : m_device(device)
    {
        m_block.reserve(BlockSize + 64);
    }

    void text(const char *text, int length)
    {
        m_block.append(text, length);
        flushIfFull();
    }
    void number(qint32 value, const char *suffix, int suffixLength)
    {
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof(digits), value);
        m_block.append(digits, int(result.ptr - digits));
        m_block.append(suffix, suffixLength);
        flushIfFull();
    }
    bool finish()
    {
        flush();
        return m_ok;
    }
    bool ok() const { return m_ok; }

private:
    void flushIfFull()
    {
        if (m_block.size() >= BlockSize)
            flush();
    }
    void flush()
    {
        // A short write is repeated, so that the call that fails leaves its
        // reason (disk full, file too large) in errorString().
        qint64 done = 0;
        while (m_ok && done < m_block.size()) {
            const qint64 n = m_device->write(m_block.constData() + done, m_block.size() - done);
            if (n <= 0)
                m_ok = false;
            else
                done += n;
        }
        m_block.clear();
    }

    QIODevice *m_device;
    QByteArray m_block;
    bool m_ok = true;
};

#define TEXT(writer, literal) (writer).text(literal, int(sizeof(literal) - 1))

} // namespace

QString imageFileName()
{
    return QStringLiteral("DRNU_Image.txt");
}

QString lutFileName()
{
    return QStringLiteral("DRNU_Lut.c");
}

QString averageFileName()
{
    return QStringLiteral("DRNU_LutAverage.txt");
}

QIODevice *writeFiles(
    const FileContent &c, QIODevice *imageDevice, QIODevice *lutDevice, QIODevice *averageDevice)
{
    BlockWriter image(imageDevice);
    BlockWriter lut(lutDevice);
    BlockWriter average(averageDevice);

    if (c.deviceType == 2)
        TEXT(lut, "#include \"epc635.h\"  \r\n\n");
    else if (c.deviceType == 3)
        TEXT(lut, "#include \"epc660.h\"  \r\n\n");
    TEXT(lut, "int16_t DRNU_LUT_DATA[DRNU_DLL_NUM][IMAGE_RESOLUTION] = {  \r\n\n");

    const int n = c.pixelCount;
    for (int s = 0; s < StepCount; ++s) {
        const qint32 *distances = c.stepDistances + s * n;
        const qint32 *table = c.lutTable + s * n;
        const bool lastStep = s == StepCount - 1;
        for (int p = 0; p < n; ++p) {
            image.number(distances[p], " \n", 2);
            if (lastStep && p == n - 1)
                lut.number(table[p], "\n", 1);
            else
                lut.number(table[p], ", \n", 3);
        }
        average.number(c.stepMeans[s], " \n", 2);
        TEXT(image, "\r\n\r\n\r\n\n");
        TEXT(lut, "\r\n\r\n\r\n\n");
        if (!image.ok() || !lut.ok() || !average.ok())
            break;
    }

    TEXT(lut, "}; \r\n\n");
    TEXT(lut, "int16_t DRNU_LUT_INFO[DRNU_LUT_INFO_NUM] = {\n");
    lut.number(c.waferID, ", \n", 3);
    lut.number(c.chipID, ", \n", 3);
    lut.number(c.avgChipTemperature, ", \n", 3);
    lut.number(c.dllStepSize, ", \n", 3);
    lut.number(c.drnuOffset, ",\n", 2);
    lut.number(c.boxLength, "};\n", 3);

    if (!image.finish())
        return imageDevice;
    if (!lut.finish())
        return lutDevice;
    if (!average.finish())
        return averageDevice;
    return nullptr;
}

SaveResult saveFiles(const QString &folder, const FileContent &content)
{
    SaveResult result;
    const QDir dir(folder);
    QSaveFile image(dir.filePath(imageFileName()));
    QSaveFile lut(dir.filePath(lutFileName()));
    QSaveFile average(dir.filePath(averageFileName()));

    struct Entry
    {
        QSaveFile *file;
        const char *openFailed;
        const char *writeFailed;
    };
    const Entry entries[] = {
        { &image, "Open drnu image file failed", "Write drnu image file failed" },
        { &lut, "Open drnu lut file failed", "Write drnu lut file failed" },
        { &average, "Open drnu lut average failed", "Write drnu lut average failed" },
    };

    auto failure = [&](const char *text, QSaveFile *file) {
        // cancelWriting() replaces the reason (disk full, ...) with its own.
        const QString reason = file->errorString();
        for (const Entry &entry : entries)
            entry.file->cancelWriting();
        result.message = QStringLiteral("%1: %2 (%3)")
                             .arg(QLatin1String(text), reason, QDir::toNativeSeparators(file->fileName()));
        return result;
    };

    for (const Entry &entry : entries) {
        if (!entry.file->open(QIODevice::WriteOnly))
            return failure(entry.openFailed, entry.file);
    }

    if (QIODevice *failed = writeFiles(content, &image, &lut, &average)) {
        for (const Entry &entry : entries) {
            if (entry.file == failed)
                return failure(entry.writeFailed, entry.file);
        }
    }

    // The last bytes of each file are still buffered, and commit() would not
    // report their loss: a full disk must show before the first file replaces
    // its previous one, not between two renames.
    for (const Entry &entry : entries) {
        if (!entry.file->flush())
            return failure(entry.writeFailed, entry.file);
    }
    // All three are complete on disk: only now replace the previous files.
    for (const Entry &entry : entries) {
        if (!entry.file->commit()) {
            result.message = QStringLiteral("%1: %2 (%3)")
                                 .arg(QLatin1String(entry.writeFailed), entry.file->errorString(),
                                     QDir::toNativeSeparators(entry.file->fileName()));
            for (const Entry &other : entries)
                other.file->cancelWriting();
            return result;
        }
    }
    result.ok = true;
    return result;
}

} // namespace Drnu
