#ifndef COMMANDS_H
#define COMMANDS_H

#include <QByteArray>

// The byte strings the application writes to the camera and its bootloader.
// A command is a prefix byte sent twice followed by a code or a payload.
namespace Commands {

enum Prefix : char {
    CameraPrefix = 0x23, // "#": 3-byte camera command
    BootloaderPrefix = 0x22, // bootloader command
    IntegrationTimePrefix = 0x24, // "$"
    MinAmplitudePrefix = 0x25, // "%"
    HdrSecondTimePrefix = 0x27, // "'"
    LensParametersPrefix = 0x28, // "("
    DistanceOffsetPrefix = 0x29, // ")"
};

enum CameraCode : quint8 {
    GetDeviceInfo = 1,
    StartStreaming = 2,
    StopStreaming = 3,
    SelectAmplitude = 4,
    SelectDepth = 5,
    SelectGrayscale = 6,
    HdrOn = 7,
    HdrOff = 8,
    StartDrnuCalibration = 9,
    NextDrnuStep = 10,
    DrnuLutOn = 11,
    DrnuLutOff = 12,
    SaveDrnu = 13,
    HostExit = 50,
    PrepareFirmwareUpdate = 51,
};

// 23 23 <code>
QByteArray camera(quint8 code);

// <prefix> <prefix> <value / 256> <value - 256 * (value / 256)>, each byte the
// low 8 bits of a quotient or remainder truncated toward zero: -300 gives FF D4.
QByteArray parameter(char prefix, int value);

} // namespace Commands

#endif // COMMANDS_H
