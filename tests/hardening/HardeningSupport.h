#ifndef HARDENINGSUPPORT_H
#define HARDENINGSUPPORT_H

// Shared by the soak and fault-injection tests (beside tests/support's window
// helpers): a plain event loop run, the process's memory figures, a file size
// limit that makes writes fail as on a full disk, and answers to modal boxes.

#include "tests/support/WindowTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace Hardening {

// Runs the event loop for `ms` milliseconds. A real event loop, not a sleep:
// the few kilobytes a pseudo-terminal holds would back a stream up meanwhile.
inline void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// From the shared window test helpers.
using WindowTest::child;
using WindowTest::infoLines;
using WindowTest::waitUntil;

template <typename T> T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w))
            return t;
    }
    return nullptr;
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when unknown.
inline qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// While it exists, the process cannot write files longer than `bytes`: a
// write past the limit fails (EFBIG), as on a full disk (ENOSPC).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return m_active; }
    void lift()
    {
        if (!m_active)
            return;
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
        m_active = false;
    }

private:
    rlimit m_saved {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

using ModalAnswers = WindowTest::MessageBoxAnswers;

} // namespace Hardening

#endif // HARDENINGSUPPORT_H
