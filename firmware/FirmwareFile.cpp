#include "firmware/FirmwareFile.h"

#include "device/FileWriting.h"
#include "firmware/FirmwareCipher.h"
#include "firmware/FirmwareTransfer.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace FirmwareFile {

LoadResult load(const QString &path)
{
    LoadResult result;
    if (path.isEmpty()) {
        result.status = LoadStatus::EmptyPath;
        return result;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = LoadStatus::OpenFailed;
        result.error = file.errorString();
        return result;
    }
    // A too large image is still kept whole (it may be scrambled), but a device
    // or a huge file must not be read into memory without end.
    const qint64 limit = 256 * qint64(Bootloader::MaxImageSize);
    QByteArray data;
    for (;;) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        data += chunk;
        if (data.size() > limit)
            break;
    }
    if (file.error() != QFileDevice::NoError) {
        result.status = LoadStatus::OpenFailed;
        result.error = file.errorString();
        return result;
    }
    if (data.size() > limit) {
        result.status = LoadStatus::OpenFailed;
        result.error = QStringLiteral("the file is far too large for a firmware image");
        return result;
    }
    result.data = data;
    result.status = Bootloader::isLegalImageSize(data.size()) ? LoadStatus::Loaded : LoadStatus::TooLarge;
    return result;
}

QString encryptedPath(const QString &inputPath)
{
    int slash = int(inputPath.lastIndexOf(QLatin1Char('/')));
#ifdef Q_OS_WIN
    slash = qMax(slash, int(inputPath.lastIndexOf(QLatin1Char('\\'))));
#endif
    // Only the file name: a ".bin" in a folder name must not move the output elsewhere.
    QString name = inputPath.mid(slash + 1);
    if (name.contains(QLatin1String(".bin")))
        name.replace(QLatin1String(".bin"), QLatin1String(".tof"));
    else
        name += QLatin1String(".tof");
    return inputPath.left(slash + 1) + name;
}

WriteResult writeEncrypted(const QString &inputPath, const QByteArray &image, const QByteArray &productTag)
{
    WriteResult result;
    if (inputPath.isEmpty()) {
        result.error = QStringLiteral("no firmware file loaded");
        return result;
    }
    result.outputPath = encryptedPath(inputPath);

    // A link or a second name of the same file must not turn the input into the output.
    const QFileInfo in(inputPath);
    const QFileInfo out(result.outputPath);
    if (out.exists() && in.exists() && out.canonicalFilePath() == in.canonicalFilePath()) {
        result.error = QStringLiteral("the output would overwrite the input file");
        return result;
    }

    // QSaveFile truncates by replacing: an older .tof is never extended, and a
    // failed write leaves it untouched.
    QSaveFile file(result.outputPath);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray bytes = FirmwareCipher::encrypt(image, productTag);
    if (file.write(bytes) != bytes.size() || !FileWriting::commit(file)) {
        result.error = file.errorString();
        file.cancelWriting();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace FirmwareFile
