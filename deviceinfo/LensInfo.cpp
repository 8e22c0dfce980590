#include "deviceinfo/LensInfo.h"

#include "device/TofDevice.h"

LensInfo::LensInfo(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_device(device)
{
}

LensInfo::~LensInfo() = default;
