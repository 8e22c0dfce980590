#include "app/ApplicationContext.h"
#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quarvel"));
    QApplication::setOrganizationName(QStringLiteral("Kavrix"));
    ApplicationContext::useInterfaceFont();

    auto *context = new ApplicationContext;
    auto *window = new MainWindow(context->device());
    window->show();
    window->setAttribute(Qt::WA_QuitOnClose, true);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    const int result = app.exec();

    // The main window says goodbye to the camera (command 50) before the
    // device link closes the port.
    delete window;
    delete context;
    return result;
}
