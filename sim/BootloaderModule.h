#ifndef BOOTLOADERMODULE_H
#define BOOTLOADERMODULE_H

#include "sim/SimModule.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

// The camera's bootloader: takes a firmware image in 64-byte packets, checks
// each packet's CRC and index, and on the end message writes the image it
// received to the file given with --firmware-out, so tests can compare it with
// the file the application sent. Only active while the camera enumerates as
// the bootloader.
//
// Options: --firmware-out <file>, --boot-query-value <n> (the value byte of the
// query answer), --boot-mute-after <n> (stop answering once n data packets
// have arrived), --boot-packet-timeout <ms> (give up a transfer when no packet
// comes), --boot-reply-delay <ms>, --boot-return <m10|m20> (come back as a
// camera after a whole image). Control lines: "boot mute",
// "boot unmute". Events: "bootloader size <n>", "bootloader packet <k>",
// "bootloader bad-packet <k> <reason>", "bootloader image-written <n> <file>",
// "bootloader end-incomplete <received> <expected>", "bootloader muted",
// "bootloader transfer-abandoned <received> <expected>".
class BootloaderModule : public SimModule
{
    Q_OBJECT

public:
    explicit BootloaderModule(SimCamera &camera);

    bool handleCommand(const QByteArray &command) override;
    int pendingRawBytes() const override;
    void handleRaw(const QByteArray &packet) override;
    void addOptions(QCommandLineParser &parser) override;
    bool applyOptions(const QCommandLineParser &parser, QString *error) override;
    bool handleControl(const QStringList &words) override;
    void unplugged() override;
    void modelChanged() override;

private:
    bool isActive() const;
    void reply(quint8 code, int value = -1);
    void resetTransfer();
    void writeImage();
    void packetTimedOut();

    QString m_outputPath;
    quint8 m_queryValue = 0x01;
    int m_muteAfter = -1;
    int m_replyDelay = 0;
    bool m_muted = false;
    int m_returnModel = -1; // --boot-return, -1 for none

    bool m_sizeKnown = false;
    int m_expectedLength = 0;
    int m_packetsReceived = 0;
    QByteArray m_image;
    QTimer m_packetTimer;
};

#endif // BOOTLOADERMODULE_H
