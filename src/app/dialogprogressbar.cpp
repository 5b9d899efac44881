#include "app/dialogprogressbar.h"

#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QVBoxLayout>

DialogProgressBar::DialogProgressBar(QWidget *parent)
    : QDialog(parent), m_bar(new QProgressBar(this)), m_step(new QLabel(this)), m_logo(new QLabel(this))
{
    setModal(true);
    setWindowTitle(QStringLiteral("HQL3318"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addWidget(m_step);
    layout->addWidget(m_logo);
    const QPixmap logo(QStringLiteral("Velmora_Logo.png"));
    if (!logo.isNull()) {
        m_logo->setPixmap(logo.scaled(200, 200, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_logo->setFixedSize(200, 200);
    }
}

void DialogProgressBar::setProgress(int value, int maximum)
{
    // Value first, then the maximum: a value beyond the old maximum is
    // ignored by the bar, as progress() then shows.
    m_bar->setValue(value);
    m_bar->setMaximum(maximum);
    emit signal_progress(progress());
}

int DialogProgressBar::progress() const
{
    return m_bar->value();
}

void DialogProgressBar::setStepText(const QString &text)
{
    m_step->setText(text);
}

QString DialogProgressBar::stepText() const
{
    return m_step->text();
}

bool DialogProgressBar::hasLogo() const
{
    return !m_logo->pixmap().isNull();
}
