#include "app/ApplicationContext.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quarvel"));
    QApplication::setOrganizationName(QStringLiteral("Kavrix"));
    // The windows have fixed geometry laid out for an 8-point interface font;
    // larger desktop defaults would clip their labels.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

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
