#ifndef CHECKBOARD_H
#define CHECKBOARD_H

#include <QWidget>

class TofDevice;

class CheckBoard : public QWidget
{
    Q_OBJECT

public:
    explicit CheckBoard(TofDevice *device, QWidget *parent = nullptr);
    ~CheckBoard() override;

private:
    TofDevice *m_device;
};

#endif // CHECKBOARD_H
