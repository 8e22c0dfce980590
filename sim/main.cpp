#include "sim/BootloaderModule.h"
#include "sim/CalibrationModule.h"
#include "sim/DeviceInfoModule.h"
#include "sim/ReplayModule.h"
#include "sim/SimCamera.h"
#include "sim/StreamModule.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

int main(int argc, char *argv[])
{
    // A test or script that dies must not leave its camera behind: leave with it
    // (SIGTERM runs the clean exit that removes the registry entry).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kavrix-sim"));

    SimCamera camera;
    // Feature modules, one line each:
    camera.addModule<BootloaderModule>();
    camera.addModule<ReplayModule>(); // before the live modules: it answers for them while replaying
    camera.addModule<DeviceInfoModule>();
    camera.addModule<StreamModule>();
    camera.addModule<CalibrationModule>();

    QString error;
    if (!camera.setup(QCoreApplication::arguments(), &error)) {
        std::fprintf(stderr, "kavrix-sim: %s\n", qPrintable(error));
        return 2;
    }
    camera.start();
    return app.exec();
}
