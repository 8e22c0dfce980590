#include "views/PictureBox.h"

#include "views/ShowPoint.h"

PictureBox::PictureBox(QWidget *parent)
    : QWidget(parent)
    , m_inspector(new ShowPoint)
{
}

PictureBox::~PictureBox()
{
    delete m_inspector;
}

void PictureBox::setDisplayMode(int mode)
{
    m_mode = mode;
}

void PictureBox::updatePointValue(quint8, const quint16 *, int) { }

bool PictureBox::setImage(QImage &image, double)
{
    return !image.isNull();
}

void PictureBox::setBackground(QBrush) { }

void PictureBox::setPointLabel() { }
