#pragma once

#include "tools/measurementlog.h"

#include <QTimer>
#include <QWidget>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

// The live plot of the board's readings: Isen 1, Isen 2 and the supply
// voltage against time, with pause, clear, a visible time span and the
// CSV export. Samples are kept in a ring (MeasurementLog); the plot is
// redrawn from it at most a few times a second, only while it is seen.
class Measurements : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RedrawMs = 200;
    // A low and a high point for each pixel column of a wide plot; more
    // readings in view are thinned to this.
    static constexpr int MaxPlotPoints = 2000;

    explicit Measurements(QWidget *parent = nullptr, int capacity = MeasurementLog::DefaultCapacity);

    const MeasurementLog &log() const { return m_log; }
    bool isPaused() const;
    void setPaused(bool on);
    int spanSeconds() const;
    // One of the offered spans (10 s to 10 min); others are ignored.
    void setSpanSeconds(int seconds);
    // Writes every kept sample; false with the reason in error.
    bool exportCsv(const QString &path, QString *error) const;
    // The points the plot shows now, per series (Isen 1, Isen 2, supply).
    QLineSeries *series(int index) const;

    QPushButton *pauseButton;
    QPushButton *clearButton;
    QComboBox *spanCombo;
    QPushButton *exportButton;
    QLabel *countLabel;

public slots:
    void slot_addSample(double isen1, double isen2, double supply);
    void slot_addSampleAt(const MeasurementSample &sample);
    void slot_clear();
    // Asks for a file name and exports to it.
    void slot_exportCsv();
    void slot_redraw();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void scheduleRedraw();
    void updateCount();

    MeasurementLog m_log;
    QTimer m_redrawTimer;
    QChart *m_chart;
    QChartView *m_view;
    QLineSeries *m_series[3];
    QDateTimeAxis *m_timeAxis;
    QValueAxis *m_currentAxis;
    QValueAxis *m_voltageAxis;
};
