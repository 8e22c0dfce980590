#include "device/SerialPortLock.h"

#include <QFile>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace SerialPortLock {

QString lockFileName(const QString &systemLocation)
{
    QString name = systemLocation;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

bool isBusy(const QString &systemLocation)
{
#ifndef Q_OS_UNIX
    Q_UNUSED(systemLocation)
    return false; // no lock files there; the open itself fails on a busy port
#else
    // The folders QSerialPort may put its lock file in.
    static const QStringList folders = {
        QStringLiteral("/var/lock"),
        QStringLiteral("/etc/locks"),
        QStringLiteral("/var/spool/locks"),
        QStringLiteral("/var/spool/uucp"),
        QStringLiteral("/tmp"),
        QStringLiteral("/var/tmp"),
        QStringLiteral("/var/lock/lockdev"),
        QStringLiteral("/run/lock"),
    };
    const QString fileName = lockFileName(systemLocation);
    for (const QString &folder : folders) {
        QFile lock(folder + QLatin1Char('/') + fileName);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = lock.readLine(64).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0)
            return true; // a lock we cannot judge still keeps QSerialPort out
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            return true;
    }
    return false;
#endif
}

} // namespace SerialPortLock
