#include "tests/support/DebugCapture.h"

#include <QMutex>
#include <QTest>

namespace {
DebugCapture *s_current = nullptr;
QMutex s_mutex; // Qt's own threads may write debug lines too
} // namespace

DebugCapture::DebugCapture()
{
    QMutexLocker locker(&s_mutex);
    m_outer = s_current;
    s_current = this;
    m_previous = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    QMutexLocker locker(&s_mutex);
    s_current = m_outer;
    qInstallMessageHandler(m_previous);
}

QStringList DebugCapture::lines() const
{
    QMutexLocker locker(&s_mutex);
    return m_lines;
}

void DebugCapture::clear()
{
    QMutexLocker locker(&s_mutex);
    m_lines.clear();
}

QStringList DebugCapture::linesStartingWith(const QString &prefix) const
{
    QStringList result;
    const QStringList all = lines();
    for (const QString &line : all) {
        if (line.startsWith(prefix))
            result.append(line);
    }
    return result;
}

bool DebugCapture::waitFor(const QString &line, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return contains(line); }, timeoutMs);
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Nested captures all see the line; the handler in place before the
    // outermost capture still prints it.
    QMutexLocker locker(&s_mutex);
    DebugCapture *outermost = s_current;
    for (DebugCapture *capture = s_current; capture; capture = capture->m_outer) {
        capture->m_lines.append(message);
        outermost = capture;
    }
    if (outermost && outermost->m_previous)
        outermost->m_previous(type, context, message);
}
