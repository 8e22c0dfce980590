#ifndef PORTREGISTRYWATCHER_H
#define PORTREGISTRYWATCHER_H

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

// Watches the port registry folder (see PortRegistry) and reports entries that
// appear or vanish as port arrivals and removals. An entry replaced under the
// same name (a device that left and came back between two looks at the
// folder) is reported as a removal followed by an arrival.
class PortRegistryWatcher : public QObject
{
    Q_OBJECT

public:
    // Identity of one entry file: inode and change time, so a replaced file differs.
    using Snapshot = QHash<QString, QByteArray>;

    explicit PortRegistryWatcher(const QString &folder, QObject *parent = nullptr);

    QString folder() const { return m_folder; }
    QStringList names() const { return m_entries.keys(); }

    static Snapshot snapshot(const QString &folder);
    // Names removed from `before` (replaced ones included) and names added in `after`, both sorted.
    static void diff(const Snapshot &before, const Snapshot &after, QStringList *removed, QStringList *added);

public slots:
    // Compares the folder with the last look and emits the differences.
    void rescan();

signals:
    void portAdded(const QString &name);
    void portRemoved(const QString &name);

private:
    void watchFolder();

    QString m_folder;
    Snapshot m_entries;
    QFileSystemWatcher m_watcher;
};

#endif // PORTREGISTRYWATCHER_H
