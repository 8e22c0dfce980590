#ifndef HARDENINGSUPPORT_H
#define HARDENINGSUPPORT_H

// Shared by the soak and fault-injection tests: a waiting loop that keeps the
// event loop running, widget lookup, the main window's message log, and the
// process's memory figures.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace Hardening {

// Runs the event loop for `ms` milliseconds. A real event loop, not a sleep:
// the few kilobytes a pseudo-terminal holds would back a stream up meanwhile.
inline void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        pump(5);
    }
    return true;
}

template <typename T> T *child(const QObject *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

template <typename T> T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w))
            return t;
    }
    return nullptr;
}

// The lines of the main window's message log.
inline QStringList infoLines(const QWidget *window)
{
    return child<QTextEdit>(window, "textEditInfo")->toPlainText().split(QLatin1Char('\n'));
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

} // namespace Hardening

#endif // HARDENINGSUPPORT_H
