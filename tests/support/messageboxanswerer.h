#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

// Answers every message box that opens while it lives, so a modal box never
// hangs a test, and records what the boxes said. With a delay it answers
// as a person does, after reading.
class MessageBoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok, int delayMs = 0);
    ~MessageBoxAnswerer() override;

    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    const QList<Box> &boxes() const { return m_boxes; }
    QStringList texts() const;
    int count() const { return m_boxes.size(); }
    void clear() { m_boxes.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMessageBox::StandardButton m_answer;
    int m_delayMs = 0;
    QList<Box> m_boxes;
};
