#include "device/PortRegistry.h"

#include "device/FileWriting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cctype>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace PortRegistry {

namespace {

const QString Suffix = QStringLiteral(".port");

bool parseHex16(const QByteArray &text, quint16 *value)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok)
        return false;
    *value = quint16(v);
    return true;
}

} // namespace

QString folderPath()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty())
        return QDir::cleanPath(runtimeDir + QStringLiteral("/quarvel/ports"));
#ifdef Q_OS_UNIX
    return QStringLiteral("/tmp/quarvel-%1/ports").arg(::getuid());
#else
    return QDir::tempPath() + QStringLiteral("/quarvel/ports");
#endif
}

bool ensureFolder(const QString &folder)
{
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

QString nameFromFileName(const QString &fileName)
{
    if (!fileName.endsWith(Suffix))
        return QString();
    const QString name = fileName.left(fileName.size() - Suffix.size());
    return isValidName(name) ? name : QString();
}

QString fileNameForName(const QString &name)
{
    return name + Suffix;
}

bool isValidName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.isSpace() || c.unicode() < 0x20)
            return false;
    }
    return true;
}

bool parseEntry(const QString &name, const QByteArray &content, Entry *entry)
{
    if (!isValidName(name) || content.size() > MaxEntrySize)
        return false;

    Entry result;
    result.name = name;
    QSet<QByteArray> seen;
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray &rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        const int equals = line.indexOf('=');
        if (equals <= 0)
            return false;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (seen.contains(key))
            return false;
        seen.insert(key);
        if (key == "device") {
            // Control bytes (NUL above all, which would cut the path short) make no tty path.
            if (std::any_of(
                    value.cbegin(), value.cend(), [](char c) { return uchar(c) < 0x20 || c == 0x7F; }))
                return false;
            result.device = QString::fromUtf8(value.constData(), value.size());
        } else if (key == "vid") {
            if (!parseHex16(value, &result.vendorIdentifier))
                return false;
            result.hasVendorIdentifier = true;
        } else if (key == "owner") {
            bool ok = false;
            result.ownerPid = value.toLongLong(&ok);
            if (!ok || result.ownerPid <= 0)
                return false;
        } else if (key == "pid") {
            if (!parseHex16(value, &result.productIdentifier))
                return false;
            result.hasProductIdentifier = true;
        }
        // Unknown keys are left for newer writers.
    }
    if (result.device.isEmpty() || !QDir::isAbsolutePath(result.device))
        return false;
    *entry = result;
    return true;
}

QByteArray formatEntry(const Entry &entry)
{
    QByteArray text = "device=" + entry.device.toUtf8() + '\n';
    if (entry.hasVendorIdentifier)
        text += "vid=" + QByteArray::number(entry.vendorIdentifier, 16).rightJustified(4, '0').toUpper()
            + '\n';
    if (entry.hasProductIdentifier)
        text += "pid=" + QByteArray::number(entry.productIdentifier, 16).rightJustified(4, '0').toUpper()
            + '\n';
    if (entry.ownerPid > 0)
        text += "owner=" + QByteArray::number(entry.ownerPid) + '\n';
    return text;
}

bool isStale(const Entry &entry)
{
#ifdef Q_OS_UNIX
    return entry.ownerPid > 0 && ::kill(pid_t(entry.ownerPid), 0) != 0 && errno == ESRCH;
#else
    Q_UNUSED(entry)
    return false;
#endif
}

QList<Entry> readEntries(const QString &folder)
{
    QList<Entry> entries;
    const QDir dir(folder);
    const QStringList files = dir.entryList({ QStringLiteral("*") + Suffix }, QDir::Files, QDir::Name);
    for (const QString &fileName : files) {
        const QString name = nameFromFileName(fileName);
        if (name.isEmpty())
            continue;
        QFile file(dir.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly))
            continue; // vanished between listing and reading
        const QByteArray content = file.read(MaxEntrySize + 1);
        Entry entry;
        if (parseEntry(name, content, &entry) && !isStale(entry))
            entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
    return entries;
}

bool writeEntry(const QString &folder, const Entry &entry, QString *error)
{
    if (!isValidName(entry.name)) {
        if (error)
            *error = QStringLiteral("invalid port name \"%1\"").arg(entry.name);
        return false;
    }
    if (!ensureFolder(folder)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    // QSaveFile writes "<file>.XXXXXX" next to the target and renames it on commit;
    // that temporary name does not end in ".port", so watchers ignore it.
    QSaveFile file(QDir(folder).filePath(fileNameForName(entry.name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(formatEntry(entry)) < 0
        || !FileWriting::commit(file)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool removeEntry(const QString &folder, const QString &name)
{
    if (!isValidName(name))
        return false;
    return QFile::remove(QDir(folder).filePath(fileNameForName(name)));
}

} // namespace PortRegistry
