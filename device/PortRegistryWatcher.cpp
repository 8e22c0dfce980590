#include "device/PortRegistryWatcher.h"

#include "device/PortRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

PortRegistryWatcher::PortRegistryWatcher(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortRegistryWatcher::rescan);
    watchFolder();
    m_entries = snapshot(m_folder);
}

void PortRegistryWatcher::watchFolder()
{
    if (!PortRegistry::ensureFolder(m_folder))
        return;
    if (!m_watcher.directories().contains(m_folder))
        m_watcher.addPath(m_folder);
}

PortRegistryWatcher::Snapshot PortRegistryWatcher::snapshot(const QString &folder)
{
    Snapshot result;
    const QDir dir(folder);
    const QStringList files = dir.entryList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &fileName : files) {
        const QString name = PortRegistry::nameFromFileName(fileName);
        if (name.isEmpty())
            continue;
#ifdef Q_OS_UNIX
        struct stat info;
        if (::stat(QFile::encodeName(dir.filePath(fileName)).constData(), &info) != 0)
            continue; // gone again
        const QByteArray identity = QByteArray::number(quint64(info.st_dev)) + ':'
            + QByteArray::number(quint64(info.st_ino)) + ':' + QByteArray::number(qint64(info.st_ctim.tv_sec))
            + '.' + QByteArray::number(qint64(info.st_ctim.tv_nsec));
#else
        const QFileInfo info(dir.filePath(fileName));
        const QByteArray identity = QByteArray::number(info.metadataChangeTime().toMSecsSinceEpoch()) + ':'
            + QByteArray::number(info.size());
#endif
        result.insert(name, identity);
    }
    return result;
}

void PortRegistryWatcher::diff(
    const Snapshot &before, const Snapshot &after, QStringList *removed, QStringList *added)
{
    removed->clear();
    added->clear();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const auto now = after.constFind(it.key());
        if (now == after.cend()) {
            removed->append(it.key());
        } else if (now.value() != it.value()) {
            removed->append(it.key());
            added->append(it.key());
        }
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()))
            added->append(it.key());
    }
    std::sort(removed->begin(), removed->end());
    std::sort(added->begin(), added->end());
}

void PortRegistryWatcher::rescan()
{
    // The folder may have been deleted under us; bring it back and keep watching.
    watchFolder();
    const Snapshot now = snapshot(m_folder);
    QStringList removed;
    QStringList added;
    diff(m_entries, now, &removed, &added);
    m_entries = now;
    for (const QString &name : qAsConst(removed))
        emit portRemoved(name);
    for (const QString &name : qAsConst(added))
        emit portAdded(name);
}
