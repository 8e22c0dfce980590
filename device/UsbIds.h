#ifndef USBIDS_H
#define USBIDS_H

#include <QtGlobal>

// USB identifiers of the Kavrix cameras and their bootloader.
namespace UsbIds {

constexpr quint16 VendorKavrix = 0x205F;
constexpr quint16 VendorAlternate = 0x0525;

constexpr quint16 ProductBootloader = 0x027A;
constexpr quint16 ProductM10 = 0x027B;
constexpr quint16 ProductM20 = 0x0294;
constexpr quint16 ProductM20Alternate = 0xA4A7;

bool isCameraVendor(quint16 vendorIdentifier);

// Device type (1 bootloader, 2 "Kavrix M10", 3 "Kavrix M20") for a product
// identifier, 0 for a product that is not ours.
quint8 deviceTypeForProduct(quint16 productIdentifier);

// Device type of a port, 0 when it is not a camera port: both identifiers must
// be reported and the vendor must be one of ours.
quint8 classify(
    bool hasVendorIdentifier, quint16 vendorIdentifier, bool hasProductIdentifier, quint16 productIdentifier);

} // namespace UsbIds

#endif // USBIDS_H
