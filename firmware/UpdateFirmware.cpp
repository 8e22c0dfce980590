#include "firmware/UpdateFirmware.h"

#include "device/TofDevice.h"

UpdateFirmware::UpdateFirmware(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_device(device)
{
}

UpdateFirmware::~UpdateFirmware() = default;
