#include "device/UsbIds.h"

namespace UsbIds {

bool isCameraVendor(quint16 vendorIdentifier)
{
    return vendorIdentifier == VendorKavrix || vendorIdentifier == VendorAlternate;
}

quint8 deviceTypeForProduct(quint16 productIdentifier)
{
    switch (productIdentifier) {
    case ProductBootloader:
        return 1;
    case ProductM10:
        return 2;
    case ProductM20:
    case ProductM20Alternate:
        return 3;
    default:
        return 0;
    }
}

quint8 classify(
    bool hasVendorIdentifier, quint16 vendorIdentifier, bool hasProductIdentifier, quint16 productIdentifier)
{
    if (!hasVendorIdentifier || !hasProductIdentifier || !isCameraVendor(vendorIdentifier))
        return 0;
    return deviceTypeForProduct(productIdentifier);
}

} // namespace UsbIds
