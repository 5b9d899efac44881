#include "tools/measurements.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

struct Span
{
    const char *text;
    int seconds;
};

const Span Spans[] = {{"10 s", 10},   {"30 s", 30},   {"1 min", 60},
                      {"2 min", 120}, {"5 min", 300}, {"10 min", 600}};

double highest(const QList<QPointF> &points)
{
    double top = 0;
    for (const QPointF &p : points)
        top = qMax(top, p.y());
    return top;
}

} // namespace

Measurements::Measurements(QWidget *parent, int capacity)
    : QWidget(parent), pauseButton(new QPushButton(QStringLiteral("Pause"), this)),
      clearButton(new QPushButton(QStringLiteral("Clear"), this)), spanCombo(new QComboBox(this)),
      exportButton(
          new QPushButton(QIcon(QStringLiteral(":/buttons/export")), QStringLiteral("Export CSV"), this)),
      countLabel(new QLabel(this)), m_log(capacity), m_chart(new QChart),
      m_view(new QChartView(m_chart, this)), m_timeAxis(new QDateTimeAxis), m_currentAxis(new QValueAxis),
      m_voltageAxis(new QValueAxis)
{
    setObjectName(QStringLiteral("Measurements"));
    setWindowTitle(QStringLiteral("Measurements"));
    setWindowIcon(QIcon(QStringLiteral(":/board/board.png")));

    pauseButton->setObjectName(QStringLiteral("pbPause"));
    pauseButton->setCheckable(true);
    pauseButton->setToolTip(QStringLiteral("Freeze the plot; readings are still recorded"));
    clearButton->setObjectName(QStringLiteral("pbClear"));
    clearButton->setToolTip(QStringLiteral("Forget every recorded reading"));
    spanCombo->setObjectName(QStringLiteral("cmSpan"));
    spanCombo->setToolTip(QStringLiteral("Time span shown"));
    for (const Span &span : Spans)
        spanCombo->addItem(QLatin1String(span.text), span.seconds);
    spanCombo->setCurrentIndex(2);
    exportButton->setObjectName(QStringLiteral("pbExportCsv"));
    exportButton->setToolTip(QStringLiteral("Save every recorded reading to a CSV file"));
    countLabel->setObjectName(QStringLiteral("lblSamples"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(pauseButton);
    bar->addWidget(clearButton);
    bar->addWidget(new QLabel(QStringLiteral("Span:"), this));
    bar->addWidget(spanCombo);
    bar->addStretch(1);
    bar->addWidget(countLabel);
    bar->addWidget(exportButton);

    const char *names[] = {"Isen 1 [A]", "Isen 2 [A]", "Supply [V]"};
    for (int i = 0; i < 3; ++i) {
        m_series[i] = new QLineSeries;
        m_series[i]->setName(QLatin1String(names[i]));
        m_chart->addSeries(m_series[i]);
    }
    m_timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    m_timeAxis->setTitleText(QStringLiteral("Time"));
    m_currentAxis->setTitleText(QStringLiteral("Current [A]"));
    m_currentAxis->setLabelFormat(QStringLiteral("%.2f"));
    m_voltageAxis->setTitleText(QStringLiteral("Voltage [V]"));
    m_voltageAxis->setLabelFormat(QStringLiteral("%.1f"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_currentAxis, Qt::AlignLeft);
    m_chart->addAxis(m_voltageAxis, Qt::AlignRight);
    for (int i = 0; i < 3; ++i) {
        m_series[i]->attachAxis(m_timeAxis);
        m_series[i]->attachAxis(i < 2 ? m_currentAxis : m_voltageAxis);
    }
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(560, 300);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(RedrawMs);
    connect(&m_redrawTimer, &QTimer::timeout, this, &Measurements::slot_redraw);
    connect(pauseButton, &QPushButton::toggled, this, [this](bool on) {
        pauseButton->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        if (!on)
            slot_redraw();
    });
    connect(clearButton, &QPushButton::clicked, this, &Measurements::slot_clear);
    connect(spanCombo, &QComboBox::currentIndexChanged, this, &Measurements::slot_redraw);
    connect(exportButton, &QPushButton::clicked, this, &Measurements::slot_exportCsv);

    updateCount();
    slot_redraw();
}

bool Measurements::isPaused() const
{
    return pauseButton->isChecked();
}

void Measurements::setPaused(bool on)
{
    pauseButton->setChecked(on);
}

int Measurements::spanSeconds() const
{
    return spanCombo->currentData().toInt();
}

void Measurements::setSpanSeconds(int seconds)
{
    const int index = spanCombo->findData(seconds);
    if (index >= 0)
        spanCombo->setCurrentIndex(index);
}

QLineSeries *Measurements::series(int index) const
{
    return index >= 0 && index < 3 ? m_series[index] : nullptr;
}

void Measurements::slot_addSample(double isen1, double isen2, double supply)
{
    slot_addSampleAt({QDateTime::currentMSecsSinceEpoch(), isen1, isen2, supply});
}

void Measurements::slot_addSampleAt(const MeasurementSample &sample)
{
    m_log.append(sample);
    updateCount();
    scheduleRedraw();
}

void Measurements::slot_clear()
{
    m_log.clear();
    updateCount();
    slot_redraw();
}

void Measurements::scheduleRedraw()
{
    // Readings arriving faster than the redraw period share one redraw.
    if (!m_redrawTimer.isActive())
        m_redrawTimer.start();
}

void Measurements::updateCount()
{
    countLabel->setText(QStringLiteral("%1 readings").arg(m_log.size()));
}

void Measurements::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    slot_redraw();
}

void Measurements::slot_redraw()
{
    m_redrawTimer.stop();
    // A hidden or frozen plot is brought up to date when it shows again.
    if (isPaused() || !isVisible())
        return;
    const qint64 end = m_log.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : m_log.last().msecs;
    // A recording shorter than the span fills the width; a longer one rolls.
    qint64 begin = end - qint64(spanSeconds()) * 1000;
    if (!m_log.isEmpty())
        begin = qMin(qMax(begin, m_log.at(0).msecs), end - 1000);
    const MeasurementLog::Points points = m_log.window(begin, MaxPlotPoints);
    m_series[0]->replace(points.isen1);
    m_series[1]->replace(points.isen2);
    m_series[2]->replace(points.supply);
    // A line needs two points: a lone reading is drawn as a point, in the
    // middle, where the plot's edge does not cut it in half.
    const bool lone = points.isen1.size() == 1;
    for (QLineSeries *series : m_series)
        series->setPointsVisible(lone);
    const qint64 shift = lone ? (end - begin) / 2 : 0;
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(begin + shift),
                         QDateTime::fromMSecsSinceEpoch(end + shift));
    // Ticks less than a second apart need the tenths to tell them apart.
    m_timeAxis->setFormat(end - begin < 20000 ? QStringLiteral("hh:mm:ss.z") : QStringLiteral("hh:mm:ss"));
    const double current = qMax(highest(points.isen1), highest(points.isen2));
    m_currentAxis->setRange(0, qMax(0.5, current * 1.15));
    m_currentAxis->applyNiceNumbers();
    m_voltageAxis->setRange(0, qMax(5.0, highest(points.supply) * 1.15));
    m_voltageAxis->applyNiceNumbers();
}

bool Measurements::exportCsv(const QString &path, QString *error) const
{
    return m_log.writeCsv(path, error);
}

void Measurements::slot_exportCsv()
{
    const QString suggested =
        QStringLiteral("measurements-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), suggested,
                                                QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(".csv");
    QString error;
    if (!exportCsv(path, &error))
        QMessageBox::warning(this, QStringLiteral("Export CSV"), error, QMessageBox::Ok);
}
