#include "deviceinfo/DeviceInfo.h"

#include "device/TofDevice.h"

DeviceInfo::DeviceInfo(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_device(device)
{
}

DeviceInfo::~DeviceInfo() = default;
