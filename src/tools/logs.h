#pragma once

#include "applet/applet.h"

#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class ControlBoard;
class QCheckBox;
class QFile;
class QLabel;
class QLineEdit;
class QMenu;
class QTime;
class QPushButton;

namespace CustomControls {
class HtmlListBox;
}

// The one log window: every signal_log of the system ends here. It counts
// errors, warnings and information, lists the lines (all errors; the rest
// while communication logging is on), writes them to the daily log file,
// announces errors with a message box and a beep, and sends what is typed
// in its command line to the board.
class Logs : public Applet
{
    Q_OBJECT

public:
    // Levels above 100 name a predefined colour (level - 100) up to this one.
    static constexpr int LastColourLevel = 100 + int(Qt::transparent);
    // A flood of errors opens at most this many "Error" boxes at once.
    static constexpr int MaxOpenErrorBoxes = 8;
    // The list keeps at least this many of the newest lines; the oldest are
    // dropped a tenth at a time. The log file gets every line.
    static constexpr int MaxListLines = 10000;

    explicit Logs(QWidget *parent = nullptr);
    ~Logs() override;

    // The link for the logging switch, the command line and its traffic
    // lines; without one, logging is off and the command line sends nothing.
    void setBoard(ControlBoard *board);
    // One line of the link's traffic (a ControlBoard::LogKind): RX lines and
    // errors show the time since the link's line before (sinceLastMs), the
    // others the wall-clock time (at).
    static QString formatLinkLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &at);
    // The level a kind of traffic line is listed with.
    static int levelOfLinkLine(int kind);
    // Where init() places the beep switch and the counters (the main
    // window's status bar).
    void setStatusHost(std::function<void(QWidget *)> addWidget);
    void setTranslation(const QStringList &keys, const QStringList &values);

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;

    CustomControls::HtmlListBox *list;
    QLineEdit *commandLine;
    QPushButton *clearButton;
    QCheckBox *saveLogCheck;
    QCheckBox *messageBoxCheck;
    QCheckBox *translaterCheck;
    // Placed in the status bar, which then owns them.
    QPointer<QPushButton> beepButton;
    QPointer<QLabel> counterLabel;
    QMenu *listMenu;

signals:
    // Each error as it arrives, before any box about it.
    void signal_errorAdded(const QString &text);

public slots:
    void slot_addLog(int level, const QString &text);
    void slot_addLinkLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &at);
    void slot_pbClear_clicked();
    void slot_cbSaveLog_toggled(bool on);
    void slot_LogContextMenu(const QPoint &pos);
    void slot_ActionCopy();
    void slot_ActionCopyAll();
    void slot_ControllerSend();
    void slot_ResetStatus();

private:
    // "#rrggbb" or a colour name, as the list line carries it.
    static QString colourOf(int level);
    static QString copyText(const QString &html);
    void refreshCounters();
    // Writes one line to the open log file; on failure closes it, turns the
    // switch off and returns the error to report.
    QString writeToFile(const QByteArray &line);
    // Closes the file and turns the switch off; returns the error to report.
    QString switchFileOff(const QString &reason);

    int errorCount = 0;
    int infoCount = 0;
    int warningCount = 0;
    QFile *logFile = nullptr;
    // The file keeps no name once opened from a descriptor.
    QString m_logFileName;
    QMap<QString, QString> dictionary;

    QPointer<ControlBoard> m_board;
    std::function<void(QWidget *)> m_addStatusWidget;
    int m_openErrorBoxes = 0;
};
