#ifndef APPPATHS_H
#define APPPATHS_H

#include <QString>

// Where the application puts its output: every file lies below
// appDirPath() + the per-device working subfolder.
namespace AppPaths {

// Name of the environment variable that, when set and not empty, names the
// folder to use instead (for tests, and for users whose install is read-only).
constexpr const char *DataDirVariable = "QUARVEL_DATA_DIR";

// The folder to use: the override when given; else the application directory
// when it is writable; else the per-user data folder. Absolute, cleaned, with
// native separators and no trailing separator.
QString choose(const QString &overrideDir, const QString &applicationDir, bool applicationDirWritable,
    const QString &userDataDir);

// choose() applied to this process: QUARVEL_DATA_DIR, applicationDirPath()
// and QStandardPaths::AppDataLocation.
QString appDirPath();

} // namespace AppPaths

#endif // APPPATHS_H
