// quarvel-cli: the camera from scripts. No widgets and no display: the same
// protocol classes as the window, wired to a command line.

#include "cli/Cli.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

const char Usage[]
    = "Usage: quarvel-cli <command> [options]\n"
      "\n"
      "Commands:\n"
      "  list             cameras and bootloaders found (--json)\n"
      "  info             the camera's device information (--json)\n"
      "  capture          take frames and write txt/pcd/ply/png files\n"
      "  record           record frames to one .kvr file\n"
      "  export           turn a .kvr recording into txt/pcd/ply/png files\n"
      "  firmware-update  send a firmware image to the camera's bootloader\n"
      "\n"
      "Every command takes --help. --port NAME picks one camera when several are present.\n"
      "Exit codes: 0 done, 1 usage, 2 no camera or port busy, 3 camera lost or not answering,\n"
      "4 file error, 130 interrupted (the job is stopped cleanly, its files are whole).\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    Cli::installInterruptHandler();
    // The shared classes' debug lines are for the window's developers, not for scripts.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return Exit::Done;
    }
    if (command == QLatin1String("--version")) {
        std::printf("quarvel-cli %s\n", QUARVEL_VERSION);
        return Exit::Done;
    }
    if (command == QLatin1String("list"))
        return runList(arguments);
    if (command == QLatin1String("info"))
        return runInfo(arguments);
    if (command == QLatin1String("capture"))
        return runCapture(arguments);
    if (command == QLatin1String("record"))
        return runRecord(arguments);
    if (command == QLatin1String("export"))
        return runExport(arguments);
    if (command == QLatin1String("firmware-update"))
        return runFirmwareUpdate(arguments);

    if (command.isEmpty())
        Cli::error(QStringLiteral("no command given"));
    else
        Cli::error(QStringLiteral("unknown command \"%1\"").arg(command));
    std::fputs(Usage, stderr);
    return Exit::Usage;
}
