#include "calibration/Calibration.h"

#include "device/TofDevice.h"

Calibration::Calibration(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_device(device)
{
}

Calibration::~Calibration() = default;
