#include "calibration/InfoDRNUCurve.h"

#include "ui_InfoDRNUCurve.h"
#include "views/WindowPlacement.h"

#include <QGuiApplication>
#include <QPen>
#include <QResizeEvent>
#include <QScreen>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_point_data.h>
#include <qwt_series_data.h>
#include <qwt_text.h>

InfoDRNUCurve::InfoDRNUCurve(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::InfoDRNUCurve)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("InfoDRNUCurve"));
    ui->setupUi(this);
    resize(574, 354);
    QSizePolicy policy(QSizePolicy::MinimumExpanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(sizePolicy().hasHeightForWidth());
    setSizePolicy(policy);
    setWindowTitle(QStringLiteral("DRNU Average"));

    // A title bar without close, minimise or maximise buttons; never keeps the application alive.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.width() / 5 * 3, available.height() / 5);
        WindowPlacement::placeWhenShown(this, pos());
    }

    m_plot = new QwtPlot(this);
    QFont axisFont(QStringLiteral("Arial"));
    axisFont.setPixelSize(10);
    m_plot->setAxisFont(QwtPlot::xBottom, axisFont);
    m_plot->setAxisFont(QwtPlot::yLeft, axisFont);

    QFont titleFont(QStringLiteral("Arial"), 10);
    titleFont.setWeight(QFont::Bold);
    QwtText leftTitle(QStringLiteral("distance correction [mm]"));
    leftTitle.setFont(titleFont);
    m_plot->setAxisTitle(QwtPlot::yLeft, leftTitle);
    QwtText bottomTitle(QStringLiteral("dll step #"));
    bottomTitle.setFont(titleFont);
    m_plot->setAxisTitle(QwtPlot::xBottom, bottomTitle);

    m_plot->canvas()->setCursor(Qt::CrossCursor);
    m_plot->setAxisScale(QwtPlot::yLeft, -400.0, 400.0);
    m_plot->setAxisAutoScale(QwtPlot::xBottom);

    m_zeroLine = new QwtPlotCurve;
    m_zeroLine->setStyle(QwtPlotCurve::Steps);
    m_zeroLine->setPen(QPen(QColor(255, 0, 0, 255), 1.5, Qt::DashDotLine));
    m_zeroPoints = { QPointF(0, 0), QPointF(StepCount, 0) };
    m_zeroSeries = new QwtPointSeriesData(m_zeroPoints);
    m_zeroLine->setData(m_zeroSeries);
    m_zeroLine->attach(m_plot);

    m_meanCurve = new QwtPlotCurve;
    m_meanCurve->setStyle(QwtPlotCurve::Lines);
    m_meanCurve->setPen(QPen(QColor(0, 0, 255, 255), 1.9, Qt::SolidLine));
    m_meanSeries = new QwtPointSeriesData(m_meanPoints);
    m_meanCurve->setData(m_meanSeries);

    m_temperatureCurve = new QwtPlotCurve;
    m_temperatureCurve->setStyle(QwtPlotCurve::Lines);
    m_temperatureCurve->setPen(QPen(QColor(0, 255, 0, 255), 1.5, Qt::SolidLine));
    m_temperatureSeries = new QwtPointSeriesData(m_temperaturePoints);
    m_temperatureCurve->setData(m_temperatureSeries);
    m_plot->replot();
}

InfoDRNUCurve::~InfoDRNUCurve()
{
    // Curves not yet attached are not owned by the plot.
    if (!m_meanCurve->plot())
        delete m_meanCurve;
    if (!m_temperatureCurve->plot())
        delete m_temperatureCurve;
    delete ui;
}

void InfoDRNUCurve::setCurveData(
    const std::array<qint32, StepCount> &stepMeans, const std::array<qint32, StepCount> &stepTemperatures)
{
    std::copy(stepMeans.cbegin(), stepMeans.cend(), m_curveData.begin());
    std::copy(stepTemperatures.cbegin(), stepTemperatures.cend(), m_curveData.begin() + StepCount);
}

void InfoDRNUCurve::updateCurve()
{
    m_meanPoints.clear();
    m_temperaturePoints.clear();
    for (int s = 0; s < StepCount; ++s) {
        m_meanPoints.append(QPointF(s, m_curveData[s]));
        // The drift since step 0, drawn on the millimetre axis.
        m_temperaturePoints.append(QPointF(s, m_curveData[StepCount + s] - m_curveData[StepCount]));
    }
    m_meanSeries->setSamples(m_meanPoints);
    m_temperatureSeries->setSamples(m_temperaturePoints);
    m_meanCurve->attach(m_plot);
    m_temperatureCurve->attach(m_plot);
    m_plot->replot();
}

void InfoDRNUCurve::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_plot->setGeometry(0, 0, width(), height());
}
