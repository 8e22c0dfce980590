#ifndef FIRMWAREFILE_H
#define FIRMWAREFILE_H

#include <QByteArray>
#include <QString>

// Reading firmware images and writing their scrambled ".tof" form.
namespace FirmwareFile {

enum class LoadStatus {
    Loaded, // legal image, may be sent
    EmptyPath,
    OpenFailed,
    TooLarge, // read, but larger than the bootloader takes
};

struct LoadResult
{
    LoadStatus status = LoadStatus::EmptyPath;
    QByteArray data; // the whole file for Loaded and TooLarge
    QString error; // the system's reason when the file could not be read
};

// Reads the whole file. Neither the name nor the content is checked: .bin and
// .tof images are sent alike, byte for byte.
LoadResult load(const QString &path);

// Name of the scrambled file for `inputPath`, in the same folder: ".bin" in the
// file name becomes ".tof" (case-sensitive, fw.bin gives fw.tof); a name without
// ".bin" (fw.BIN, fw.tof) gets ".tof" appended, so it never names the input.
QString encryptedPath(const QString &inputPath);

struct WriteResult
{
    bool ok = false;
    QString outputPath;
    QString error;
};

// Scrambles `image` (read earlier from `inputPath`) and writes it to
// encryptedPath(inputPath). An existing output file is replaced as a whole and
// only once the new one is complete; the input file is never written.
WriteResult writeEncrypted(const QString &inputPath, const QByteArray &image, const QByteArray &productTag);

} // namespace FirmwareFile

#endif // FIRMWAREFILE_H
