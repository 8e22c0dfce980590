#include "app/ApplicationContext.h"

#include "device/TofDevice.h"

#include <QDebug>

ApplicationContext::ApplicationContext()
    : m_device(new TofDevice)
{
}

ApplicationContext::~ApplicationContext()
{
    qDebug() << "***ApplicationContext destroyed";
    delete m_device;
}
