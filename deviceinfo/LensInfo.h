#ifndef LENSINFO_H
#define LENSINFO_H

#include <QWidget>

class TofDevice;

class LensInfo : public QWidget
{
    Q_OBJECT

public:
    explicit LensInfo(TofDevice *device, QWidget *parent = nullptr);
    ~LensInfo() override;

private:
    TofDevice *m_device;
};

#endif // LENSINFO_H
