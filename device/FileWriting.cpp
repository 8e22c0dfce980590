#include "device/FileWriting.h"

#include <QFileDevice>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace FileWriting {

bool writeAll(QFileDevice &file, const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool syncToDisk(QFileDevice &file)
{
#ifdef Q_OS_UNIX
    return ::fsync(file.handle()) == 0;
#else
    return file.flush();
#endif
}

bool commit(QSaveFile &file)
{
    return file.flush() && file.commit();
}

} // namespace FileWriting
