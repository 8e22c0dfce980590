#ifndef DEVICEINFOMODULE_H
#define DEVICEINFOMODULE_H

#include "deviceinfo/DeviceInfoReply.h"
#include "sim/SimModule.h"

#include <QByteArray>

// The camera's identity and stored lens parameters. Command 1 (get device
// info) is answered with the frame-shaped information block ending in status
// 10 and the marker; the 12-byte lens packet (28 28 ...) is recorded and its
// values stored, so that the next answer carries them with lens flag 1.
//
// Options: --info-identity <word> (machine ID + modulation frequency in MHz),
// --info-wafer, --info-chip, --info-hw and --info-fw (versions coded as
// hundreds.tens.units), --info-drnu <byte 10>, --info-lens <byte 11>,
// --info-lens-values <factor,cx,cy,fx,fy>, --info-lut <a,b,c> (marks them
// valid), --info-lut-present <word>, --info-size small|frame (4 + 19200
// bytes, or 4 + 2 x the model's pixel count), --info-mode
// normal|silent|bad-status|bad-length, --info-delay <ms>.
// Control lines: "info mode <mode>", "info delay <ms>", "info identity <word>". Events: "info query",
// "info reply <length> <status>", "info silent", "lens packet <hex>".
class DeviceInfoModule : public SimModule
{
    Q_OBJECT

public:
    enum Mode { Normal, Silent, BadStatus, BadLength };

    explicit DeviceInfoModule(SimCamera &camera);

    bool handleCommand(const QByteArray &command) override;
    void addOptions(QCommandLineParser &parser) override;
    bool applyOptions(const QCommandLineParser &parser, QString *error) override;
    bool handleControl(const QStringList &words) override;

private:
    static bool modeFromName(const QString &name, Mode *mode);
    QByteArray replyBytes() const;
    void answerQuery();
    void storeLensPacket(const QByteArray &packet);

    DeviceInfoData m_data;
    bool m_frameSized = false;
    Mode m_mode = Normal;
    int m_delayMs = 0;
};

#endif // DEVICEINFOMODULE_H
