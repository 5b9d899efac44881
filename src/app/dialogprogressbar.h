#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// The start-up progress dialog: bar, step text and the logo read from the
// working directory.
class DialogProgressBar : public QDialog
{
    Q_OBJECT

public:
    explicit DialogProgressBar(QWidget *parent = nullptr);

    void setProgress(int value, int maximum);
    int progress() const;
    void setStepText(const QString &text);
    QString stepText() const;
    bool hasLogo() const;

signals:
    // After every setProgress, with the resulting progress().
    void signal_progress(int value);

private:
    QProgressBar *m_bar;
    QLabel *m_step;
    QLabel *m_logo;
};
