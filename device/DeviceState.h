#ifndef DEVICESTATE_H
#define DEVICESTATE_H

#include <QSize>
#include <QString>
#include <QTime>
#include <QVector>

// The application-wide record that several windows share. There is exactly one
// instance (deviceState()); it is touched only from the GUI thread, so access
// is direct, without accessors or locks.
struct DeviceState
{
    // Frame geometry of the open sensor ("Kavrix M20" values until a camera opens).
    int imageWidth = 320;
    int imageHeight = 240;
    int pixelCount = 320 * 240;
    int frameDataBytes = 2 * 320 * 240;
    int frameTrailerBytes = 4;
    QSize initialImageSize = QSize(320, 240);

    // The last decoded frame, row-major. Empty while no camera of type 2 or 3 is open.
    QVector<quint16> frameBuffer;
    int frameStatus = 0;
    QTime frameTimer;
    int isStreaming = 0;

    // Lens parameters used by the point conversion.
    double cameraFy = 1.0;
    double cameraFx = 1.0;
    double cameraCy = 1.0;
    double cameraCx = 1.0;
    double cameraFactor = 1000.0;

    // Device identity, filled by the device-information reader.
    bool deviceInfoReceived = false;
    int machineID = 0;
    int modFreq = 0;
    int waferID = 0;
    int chipID = 0;
    QString hardwareVersionText = QStringLiteral("0");
    QString firmwareVersionText = QStringLiteral("0");
    int drnuLutAvailable = 0;
    int lensParamAvailable = 0;
    int lutInfo1 = 0;
    int lutInfo2 = 0;
    int lutInfo3 = 0;

    // Output folder: every file lies below appDirPath + workingSubdir (joined as they stand).
    QString appDirPath = QStringLiteral("C:\\");
    QString workingSubdir = QStringLiteral("0_0_0");

    bool hasFrame() const { return frameBuffer.size() == pixelCount && pixelCount > 0; }
    QString workingDir() const { return appDirPath + workingSubdir; }
};

DeviceState &deviceState();

#endif // DEVICESTATE_H
