#ifndef PORTREGISTRY_H
#define PORTREGISTRY_H

#include <QByteArray>
#include <QList>
#include <QString>

// The folder of virtual USB serial ports. A simulated camera announces itself
// with one file "<name>.port" holding "device=<tty path>", "vid=<hex>" and
// "pid=<hex>" lines; the application lists these entries next to the real
// serial ports and treats a file appearing or vanishing as a port arrival or
// removal. Writers create the file under a temporary name and rename it, so a
// reader never sees half an entry.
namespace PortRegistry {

struct Entry
{
    QString name; // port name reported by the application
    QString device; // absolute path of the tty to open
    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;
    bool hasVendorIdentifier = false;
    bool hasProductIdentifier = false;
    qint64 ownerPid = 0; // optional "owner=<pid>" of the writing process, 0 if not given
};

// "$XDG_RUNTIME_DIR/quarvel/ports", or "/tmp/quarvel-<uid>/ports" when
// XDG_RUNTIME_DIR is unset or empty.
QString folderPath();

// Creates the folder (and its parents) if missing. True when it exists afterwards.
bool ensureFolder(const QString &folder);

// "<name>.port" -> name; empty for any other file name (temporary files included).
QString nameFromFileName(const QString &fileName);
QString fileNameForName(const QString &name);
// A name is usable when it is not empty and cannot leave the folder.
bool isValidName(const QString &name);

// Parses an entry's content. False for a malformed entry: a line without "=",
// a repeated key, a vid/pid that is not 1 to 4 hex digits, a missing or relative
// device path, or an oversized file. vid and pid may be absent (such a port is
// passed over by the scan, like a real port without USB identifiers).
bool parseEntry(const QString &name, const QByteArray &content, Entry *entry);
QByteArray formatEntry(const Entry &entry);

// Whether the entry's writer is known to have died without withdrawing it.
bool isStale(const Entry &entry);

// All well-formed entries of the folder, sorted by name. Malformed and stale ones are skipped.
QList<Entry> readEntries(const QString &folder);

// Writes "<name>.port" atomically (temporary file, then rename).
bool writeEntry(const QString &folder, const Entry &entry, QString *error = nullptr);
bool removeEntry(const QString &folder, const QString &name);

constexpr int MaxEntrySize = 4096;

} // namespace PortRegistry

#endif // PORTREGISTRY_H
