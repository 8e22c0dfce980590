#include "app/ApplicationContext.h"

#include "device/TofDevice.h"

#include <QApplication>
#include <QDebug>
#include <QFont>

ApplicationContext::ApplicationContext()
    : m_device(new TofDevice)
{
}

ApplicationContext::~ApplicationContext()
{
    qDebug() << "***ApplicationContext destroyed";
    delete m_device;
}

void ApplicationContext::useInterfaceFont()
{
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
}
