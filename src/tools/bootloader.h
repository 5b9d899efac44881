#pragma once

#include "link/flashsession.h"
#include "link/heximage.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>

class ControlBoard;
class QCloseEvent;

namespace Ui {
class Bootloader;
}

// The firmware update window: loads an Intel HEX file into the image, sends
// it to the board's loader and restarts the board.
class Bootloader : public QWidget
{
    Q_OBJECT

public:
    static constexpr qint64 MaxFileSize = 32 * 1024 * 1024;

    explicit Bootloader(QWidget *parent = nullptr);
    ~Bootloader() override;

    void setBoard(ControlBoard *board);
    // What "LoadHex" does once a file was chosen; true when the image was taken over.
    bool loadHexFile(const QString &path);
    const HexImage &loadedImage() const { return image; }
    bool isBusy() const { return m_busy; }

signals:
    void signal_flashFinished(int outcome);
    void signal_restartFinished();

public slots:
    void slot_pbLoadHex_clicked();
    void slot_pbDefault_clicked();
    void slot_pbFlash_clicked();
    void slot_pbRestart_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void slot_flashProgress(int sent, int total);
    void slot_flashFinished(int outcome);
    void slot_restartFinished();
    // A file not taken: only the reason is left in the window, in red.
    void refuse(const QString &why);
    void appendLog(const QString &html);
    void appendText(const QString &text);
    void setBusy(bool busy);
    bool boardReady() const;
    void warn(const QString &title, const QString &text);

    Ui::Bootloader *ui;
    HexImage image;
    QByteArray fileContent;
    FlashSession m_session;
    QPointer<ControlBoard> m_board;
    // Paced progress: a repaint per line would cost more than the line.
    QElapsedTimer m_progressClock;
    int m_linesSent = 0;
    bool m_loaded = false;
    bool m_busy = false;
    bool m_restarting = false;
};
