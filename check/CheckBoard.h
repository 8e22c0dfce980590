#ifndef CHECKBOARD_H
#define CHECKBOARD_H

#include <QFile>
#include <QVector>
#include <QWidget>

class TofDevice;

namespace Ui {
class CheckBoard;
}

// The accuracy check window: helps to align a flat target parallel to the
// sensor, then measures 21 fixed pixels against the known target distance and
// appends the results to a "Check Result-<n>.txt" report in the working folder.
class CheckBoard : public QWidget
{
    Q_OBJECT

public:
    explicit CheckBoard(TofDevice *device, QWidget *parent = nullptr);
    ~CheckBoard() override;

    // Fills the point table for the sensor that is open now.
    void initPointTable();
    // Live update, run for every decoded frame: the four alignment readings
    // and the parallel test that enables "Start Measure".
    void updateReadings();

    QString reportFileName() const { return reportFile.fileName(); }
    QVector<int> pointTable() const { return m_pointTable; }
    int stepIndex() const { return m_stepIndex; }

public slots:
    void on_pushButtonNextStep_clicked();
    void on_pushButtonStartMeasure_clicked();

private:
    void createReportFile();
    // Recomputes the point table when the sensor geometry is no longer the one
    // the table was made for.
    void followSensorGeometry();
    bool frameFitsSensor() const;

    Ui::CheckBoard *ui;
    TofDevice *device;
    QFile reportFile;
    QVector<int> m_pointTable;
    int m_stepIndex = 1;

    int tableWidth = 0;
    int tableHeight = 0;
    // A frame of the current sensor has reached the live update.
    bool frameSeen = false;
    // "No frame" is said once per gap, not for every frame.
    bool noFrameReported = false;
};

#endif // CHECKBOARD_H
