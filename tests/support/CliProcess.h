#ifndef CLIPROCESS_H
#define CLIPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

// quarvel-cli ($QUARVEL_CLI) as a child process: run to the end, or start and
// watch while the test does something to the camera.
class CliProcess
{
public:
    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    static Result run(const QStringList &arguments, int timeoutMs = 30000);

    bool start(const QStringList &arguments);
    Result finish(int timeoutMs = 30000);
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

#endif // CLIPROCESS_H
