#ifndef INFODRNUCURVE_H
#define INFODRNUCURVE_H

#include <QPointF>
#include <QVector>
#include <QWidget>

#include <array>

class QwtPlot;
class QwtPlotCurve;
class QwtPointSeriesData;

namespace Ui {
class InfoDRNUCurve;
}

// The "DRNU Average" plot: the mean distance correction of each DLL step and
// the chip temperature drift since step 0, both over the 23 steps.
class InfoDRNUCurve : public QWidget
{
    Q_OBJECT

public:
    static constexpr int StepCount = 23;

    explicit InfoDRNUCurve(QWidget *parent = nullptr);
    ~InfoDRNUCurve() override;

    // Index 0 to 22: mean correction per step (mm); 23 to 45: mean chip
    // temperature per step (1/16 degree). Zero until the owner fills it.
    std::array<qint32, 2 * StepCount> &curveData() { return m_curveData; }
    void setCurveData(const std::array<qint32, StepCount> &stepMeans,
        const std::array<qint32, StepCount> &stepTemperatures);

    // Rebuilds both data curves from curveData() and replots.
    void updateCurve();

    QwtPlot *plot() const { return m_plot; }
    const QVector<QPointF> &meanPoints() const { return m_meanPoints; }
    const QVector<QPointF> &temperaturePoints() const { return m_temperaturePoints; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::array<qint32, 2 * StepCount> m_curveData {};
    Ui::InfoDRNUCurve *ui;
    QwtPlot *m_plot;
    QwtPlotCurve *m_meanCurve;
    QwtPlotCurve *m_temperatureCurve;
    QwtPlotCurve *m_zeroLine;
    // Owned by their curves.
    QwtPointSeriesData *m_meanSeries;
    QwtPointSeriesData *m_temperatureSeries;
    QwtPointSeriesData *m_zeroSeries;
    QVector<QPointF> m_meanPoints;
    QVector<QPointF> m_temperaturePoints;
    QVector<QPointF> m_zeroPoints;
};

#endif // INFODRNUCURVE_H
