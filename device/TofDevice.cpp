#include "device/TofDevice.h"

#include <QSerialPort>

TofDevice::TofDevice(QWidget *parent)
    : QWidget(parent)
    , m_serialPort(new QSerialPort)
    , m_portName(QStringLiteral("NULL"))
{
}

TofDevice::~TofDevice()
{
    delete m_serialPort;
}
