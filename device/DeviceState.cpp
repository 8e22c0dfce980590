#include "device/DeviceState.h"

DeviceState &deviceState()
{
    static DeviceState state;
    return state;
}
