#pragma once

#include "applet/applet.h"

namespace Ui {
class ChipID;
}

// Reads status register SR7 and shows the chip's four identification fields.
class ChipID : public Applet
{
    Q_OBJECT

public:
    explicit ChipID(QWidget *parent = nullptr);
    ~ChipID() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;

private:
    Ui::ChipID *ui;

protected:
    QList<Function> buildFunctions() override;
};
