#pragma once

#include <QObject>

// Without a screen nobody can close a message box: every box that opens is
// written to standard error and answered at once with its escape button
// (OK for notices, the refusing choice for questions).
class ModalBoxDiverter : public QObject
{
    Q_OBJECT

public:
    explicit ModalBoxDiverter(QObject *parent = nullptr);
    ~ModalBoxDiverter() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
