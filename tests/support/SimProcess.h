#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Gives this test process and the simulators it starts a port registry of their
// own (a fresh XDG_RUNTIME_DIR). Call it before any TofDevice exists.
QString isolateRegistry();

// A kavrix-sim process ($KAVRIX_SIM) under test control. Its stdout is parsed
// into events ("plugged", "unplugged", ...) and the transcript of the bytes the
// application sent ("rx" lines, without the prefix).
class SimProcess : public QObject
{
    Q_OBJECT

public:
    explicit SimProcess(QObject *parent = nullptr);
    ~SimProcess() override;

    // Starts the simulator with `arguments` (a unique --name is added unless
    // given). Waits until it is plugged in, or only until it is ready when the
    // arguments contain --unplugged.
    bool start(const QStringList &arguments = {}, int timeoutMs = 5000);
    void stop();

    QString name() const { return m_name; }
    QString ttyPath() const { return m_ttyPath; }

    bool plug(int timeoutMs = 5000);
    bool unplug(int timeoutMs = 5000);
    // The tty dies first, the registry entry follows after entryDelayMs (never if negative).
    bool hangup(int entryDelayMs = 100, int timeoutMs = 5000);
    // Unplugs and waits until the simulator is plugged in again as `model`.
    bool reenumerate(const QString &model, int delayMs = 0, int timeoutMs = 5000);
    // Any control line; does not wait.
    void control(const QString &line);

    QStringList transcript() const { return m_transcript; }
    void clearTranscript() { m_transcript.clear(); }
    bool waitForTranscript(const QString &line, int timeoutMs = 5000);
    // Every stdout line that is not a transcript line.
    QStringList events() const { return m_events; }
    bool waitForEvent(const QString &prefix, int timeoutMs = 5000);

signals:
    void eventLine(const QString &line);

private:
    void readOutput();
    bool waitFor(const std::function<bool()> &condition, int timeoutMs);
    // Sends `line` and waits until `counter` (plugged or unplugged events) grows.
    bool controlAndWait(const QString &line, const int &counter, int timeoutMs);

    QProcess m_process;
    QByteArray m_buffer;
    QString m_name;
    QString m_ttyPath;
    bool m_plugged = false;
    int m_pluggedCount = 0;
    int m_unpluggedCount = 0;
    QStringList m_transcript;
    QStringList m_events;
};

#endif // SIMPROCESS_H
