#ifndef FILEWRITING_H
#define FILEWRITING_H

#include <QByteArray>

class QFileDevice;
class QSaveFile;

// Whole writes for the files the program produces (frame logs, recordings,
// calibration and firmware files, port registry entries).
namespace FileWriting {

// Writes all of `data`; a short write is repeated so that the failing call
// leaves its reason (disk full, file too large) in errorString().
bool writeAll(QFileDevice &file, const QByteArray &data);

// Pushes what was written to the disk, so a crash after it loses nothing.
bool syncToDisk(QFileDevice &file);

// Flushes, then commits. QSaveFile::commit() does not report a failed flush of
// its buffer: the last bytes lost on a full disk would still be renamed into place.
bool commit(QSaveFile &file);

} // namespace FileWriting

#endif // FILEWRITING_H
