#ifndef DRNUFILES_H
#define DRNUFILES_H

#include <QString>
#include <QtGlobal>

class QIODevice;

// The three calibration files: DRNU_Image.txt (per-pixel mean distance of
// every step), DRNU_Lut.c (the correction table as C source for the camera
// firmware) and DRNU_LutAverage.txt (the mean correction per step). Their bytes
// include the CR LF LF line ends the firmware tools have always seen.
namespace Drnu {

struct FileContent
{
    int deviceType = 0; // 2 epc635, 3 epc660: selects the include line
    int pixelCount = 0;
    const qint32 *stepDistances = nullptr; // StepCount x pixelCount, step-major
    const qint32 *lutTable = nullptr; // StepCount x pixelCount, step-major
    const qint32 *stepMeans = nullptr; // StepCount
    qint32 waferID = 0;
    qint32 chipID = 0;
    qint32 avgChipTemperature = 0;
    qint32 dllStepSize = 0;
    qint32 drnuOffset = 0;
    qint32 boxLength = 0;
};

struct SaveResult
{
    bool ok = false;
    QString message; // the failure, for the user; empty on success
};

QString imageFileName(); // "DRNU_Image.txt"
QString lutFileName(); // "DRNU_Lut.c"
QString averageFileName(); // "DRNU_LutAverage.txt"

// Writes the three files into `folder`. Each is written to a temporary file and
// renamed into place only when all three were written and flushed completely,
// so a failure never leaves a half-written file, and a full disk is found
// before any previous file is replaced.
SaveResult saveFiles(const QString &folder, const FileContent &content);

// The same bytes into three open devices, in large blocks. Returns the device
// that failed (nullptr when all writes succeeded).
QIODevice *writeFiles(const FileContent &content, QIODevice *image, QIODevice *lut, QIODevice *average);

} // namespace Drnu

#endif // DRNUFILES_H
