#ifndef SERIALPORTLOCK_H
#define SERIALPORTLOCK_H

#include <QString>

// Whether another process (or another QSerialPort of this one) holds the tty
// at `systemLocation` (an absolute device path), judged like
// QSerialPortInfo::isBusy does for real ports: by a UUCP-style lock file
// "LCK..<name>" whose owner is still alive. Used for ports that QSerialPortInfo
// does not enumerate, such as the pseudo-terminals of simulated cameras.
namespace SerialPortLock {

QString lockFileName(const QString &systemLocation);
bool isBusy(const QString &systemLocation);

} // namespace SerialPortLock

#endif // SERIALPORTLOCK_H
