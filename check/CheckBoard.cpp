#include "check/CheckBoard.h"

#include "device/TofDevice.h"

CheckBoard::CheckBoard(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_device(device)
{
}

CheckBoard::~CheckBoard() = default;
