#include "tests/support/CliProcess.h"

bool CliProcess::start(const QStringList &arguments)
{
    const QString program = qEnvironmentVariable("QUARVEL_CLI");
    if (program.isEmpty()) {
        qWarning("QUARVEL_CLI is not set");
        return false;
    }
    m_process.start(program, arguments);
    return m_process.waitForStarted(5000);
}

CliProcess::Result CliProcess::finish(int timeoutMs)
{
    Result result;
    // It may have ended already, seen by an event loop that ran meanwhile.
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(2000);
        result.err = QStringLiteral("(timed out) ");
    } else if (m_process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = m_process.exitCode();
    }
    result.out = QString::fromUtf8(m_process.readAllStandardOutput());
    result.err += QString::fromUtf8(m_process.readAllStandardError());
    return result;
}

CliProcess::Result CliProcess::run(const QStringList &arguments, int timeoutMs)
{
    CliProcess cli;
    if (!cli.start(arguments))
        return {};
    return cli.finish(timeoutMs);
}
