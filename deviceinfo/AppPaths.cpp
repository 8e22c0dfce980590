#include "deviceinfo/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString normalised(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

// An installed copy (its menu entry laid out beside it, as the install rules do)
// keeps out of the system's program folder even when an administrator runs it
// and could write there.
bool isInstalledCopy(const QString &applicationDir)
{
    return QFileInfo::exists(applicationDir + QStringLiteral("/../share/applications/quarvel.desktop"));
}

} // namespace

namespace AppPaths {

QString choose(const QString &overrideDir, const QString &applicationDir, bool applicationDirWritable,
    const QString &userDataDir)
{
    if (!overrideDir.isEmpty())
        return normalised(overrideDir);
    if (applicationDirWritable || userDataDir.isEmpty())
        return normalised(applicationDir);
    return normalised(userDataDir);
}

QString appDirPath()
{
    const QString overrideDir = qEnvironmentVariable(DataDirVariable);
    const QString applicationDir = QCoreApplication::applicationDirPath();
#ifdef Q_OS_WIN
    // Installed programs keep their logs next to the executable, as users expect there.
    const bool writable = true;
#else
    const bool writable = QFileInfo(applicationDir).isWritable() && !isInstalledCopy(applicationDir);
#endif
    return choose(overrideDir, applicationDir, writable,
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

} // namespace AppPaths
