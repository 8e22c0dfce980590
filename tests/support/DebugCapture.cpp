#include "tests/support/DebugCapture.h"

#include <QTest>

namespace {
DebugCapture *s_current = nullptr;
}

DebugCapture::DebugCapture()
    : m_outer(s_current)
{
    s_current = this;
    m_previous = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    s_current = m_outer;
    qInstallMessageHandler(m_previous);
}

QStringList DebugCapture::linesStartingWith(const QString &prefix) const
{
    QStringList result;
    for (const QString &line : m_lines) {
        if (line.startsWith(prefix))
            result.append(line);
    }
    return result;
}

bool DebugCapture::waitFor(const QString &line, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return m_lines.contains(line); }, timeoutMs);
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Nested captures all see the line; the handler in place before the
    // outermost capture still prints it.
    DebugCapture *outermost = s_current;
    for (DebugCapture *capture = s_current; capture; capture = capture->m_outer) {
        capture->m_lines.append(message);
        outermost = capture;
    }
    if (outermost && outermost->m_previous)
        outermost->m_previous(type, context, message);
}
