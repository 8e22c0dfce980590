#ifndef DEBUGCAPTURE_H
#define DEBUGCAPTURE_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every qDebug/qWarning line while it exists (and still forwards them
// to the previous handler), so tests can assert on the program's debug lines.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList lines() const;
    void clear();
    // Lines that start with `prefix`.
    QStringList linesStartingWith(const QString &prefix) const;
    bool contains(const QString &line) const { return lines().contains(line); }
    bool waitFor(const QString &line, int timeoutMs = 5000) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
    DebugCapture *m_outer = nullptr;
};

#endif // DEBUGCAPTURE_H
