#include "views/ShowPoint.h"
#include "views/WindowPlacement.h"

#include "device/DeviceState.h"

#include "ui_ShowPoint.h"

ShowPoint::ShowPoint(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ShowPoint)
{
    ui->setupUi(this);
    setWindowFlags(windowType() | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    // No place of its own: opens in the middle of the screen, clear of the main window.
    WindowPlacement::placeWhenShown(this, std::nullopt);

    setRange(deviceState().imageWidth - 1, deviceState().imageHeight - 1);

    connect(ui->spinBoxPointX, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &ShowPoint::pointPositionChanged);
    connect(ui->spinBoxPointY, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &ShowPoint::pointPositionChanged);
    connect(ui->checkBoxShowLabel, &QCheckBox::stateChanged, this,
        &ShowPoint::checkBoxShowPointLabel_CheckChanged);
}

ShowPoint::~ShowPoint()
{
    delete ui;
}

void ShowPoint::setPoint(int x, int y)
{
    ui->spinBoxPointX->setValue(x);
    ui->spinBoxPointY->setValue(y);
}

QPoint ShowPoint::point() const
{
    return QPoint(ui->spinBoxPointX->value(), ui->spinBoxPointY->value());
}

void ShowPoint::setRange(int maxX, int maxY)
{
    // A spin box whose maximum drops below its minimum would move the minimum
    // (and the value) below zero; with no sensor geometry the range is just 0.
    ui->spinBoxPointX->setRange(0, qMax(0, maxX));
    ui->spinBoxPointY->setRange(0, qMax(0, maxY));
}

QPoint ShowPoint::maximum() const
{
    return QPoint(ui->spinBoxPointX->maximum(), ui->spinBoxPointY->maximum());
}

QString ShowPoint::formatValue(quint8 frameType, int value)
{
    switch (frameType) {
    case 0:
        return QString::number(value) + QStringLiteral("  LSB");
    case 1:
    case 3:
        if (value > 29999)
            return QStringLiteral("NA");
        return QString::number(value / 20) + QStringLiteral("  CM");
    case 2:
        return QString::number(value - 2048) + QStringLiteral("  LUM");
    default:
        return QString();
    }
}

void ShowPoint::showValue(quint8 frameType, int value)
{
    const QString text = formatValue(frameType, value);
    if (!text.isNull())
        ui->lineEditPointValue->setText(text);
}

QString ShowPoint::valueText() const
{
    return ui->lineEditPointValue->text();
}

void ShowPoint::pointPositionChanged()
{
    emit pointChanged();
}

void ShowPoint::checkBoxShowPointLabel_CheckChanged()
{
    m_showLabel = ui->checkBoxShowLabel->isChecked();
}

void ShowPoint::on_pushButtonSetCenter_clicked()
{
    setPoint(deviceState().imageWidth / 2, deviceState().imageHeight / 2);
}
