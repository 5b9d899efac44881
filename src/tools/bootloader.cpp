#include "tools/bootloader.h"

#include "controls/noticebox.h"
#include "link/controlboard.h"
#include "ui_bootloader.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

namespace {

const char *const defaultImage = ":/project/firmware.hex";
const char *const notConnected = "VelmoraMCU board is not connected!";
const char *const sendError = "Some error during sending appears";

QString hex8(quint32 value)
{
    return QLatin1String("0x") + QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace

Bootloader::Bootloader(QWidget *parent) : QWidget(parent), ui(new Ui::Bootloader)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(518, 163);

    const QPixmap picture(QStringLiteral(":/velmoramcu.png"));
    if (!picture.isNull())
        ui->lbPicture->setPixmap(
            picture.scaled(QSize(110, 110), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    ui->pbFlash->setEnabled(false);
    ui->pbDefault->setEnabled(QFile::exists(QLatin1String(defaultImage)));
    ui->progressBar->setValue(0);

    connect(ui->pbLoadHex, &QPushButton::clicked, this, &Bootloader::slot_pbLoadHex_clicked);
    connect(ui->pbDefault, &QPushButton::clicked, this, &Bootloader::slot_pbDefault_clicked);
    connect(ui->pbFlash, &QPushButton::clicked, this, &Bootloader::slot_pbFlash_clicked);
    connect(ui->pbRestart, &QPushButton::clicked, this, &Bootloader::slot_pbRestart_clicked);
    connect(&m_session, &FlashSession::signal_progress, this, &Bootloader::slot_flashProgress);
    connect(&m_session, &FlashSession::signal_finished, this, &Bootloader::slot_flashFinished);
}

Bootloader::~Bootloader()
{
    delete ui;
}

void Bootloader::setBoard(ControlBoard *board)
{
    if (m_board == board)
        return;
    if (m_board)
        disconnect(m_board, &ControlBoard::signal_resetFinished, this, &Bootloader::slot_restartFinished);
    m_board = board;
    if (m_board)
        connect(m_board, &ControlBoard::signal_resetFinished, this, &Bootloader::slot_restartFinished);
}

void Bootloader::slot_pbLoadHex_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Spec path"), QString(),
                                                      QStringLiteral("Files (*.hex)"));
    loadHexFile(path);
}

void Bootloader::slot_pbDefault_clicked()
{
    loadHexFile(QLatin1String(defaultImage));
}

bool Bootloader::loadHexFile(const QString &path)
{
    if (path.isEmpty() || m_busy)
        return false;
    // A file that cannot be read changes nothing: the image loaded before
    // stays, and so does what "Flash" would send.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        refuse(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
        return false;
    }
    // Read with a bound: a device or pipe may never end.
    const QByteArray text = file.read(MaxFileSize + 1);
    if (text.size() > MaxFileSize) {
        refuse(QStringLiteral("%1 is too large for a HEX file of this board").arg(path));
        return false;
    }
    fileContent = text;

    const HexImage::Result result = image.load(fileContent);
    if (result.status == HexImage::BadFormat) {
        refuse(result.message);
        warn(QStringLiteral("Error"), result.message);
        return false;
    }
    for (int i = 0; i < result.badRecords; ++i)
        warn(QString(), QStringLiteral("Error in HEX file!"));
    if (result.status != HexImage::Loaded) {
        refuse(result.message);
        warn(QStringLiteral("Error"), result.message);
        return false;
    }
    for (const QString &warning : result.warnings)
        appendLog(QStringLiteral("<font color=magenta>%1</font>").arg(warning.toHtmlEscaped()));
    m_loaded = true;
    appendLog(QStringLiteral("File loaded ::<font color=blue>%1</font>").arg(path.toHtmlEscaped()));
    // The image goes to the board from its first data byte, whatever
    // address the file was made for: say both before anything is flashed.
    appendText(QStringLiteral("Addresses %1 to %2 (%3 bytes), flashed from board address %4.")
                   .arg(hex8(image.firstAddress()), hex8(image.lastAddress()))
                   .arg(image.length())
                   .arg(hex8(FlashSession::FlashAddress)));
    ui->pbFlash->setEnabled(true);
    ui->progressBar->setValue(0);
    return true;
}

void Bootloader::slot_pbFlash_clicked()
{
    if (!m_loaded || m_busy)
        return;
    if (!boardReady()) {
        warn(QString(), QLatin1String(notConnected));
        return;
    }
    const int lines = FlashSession::lineCount(image.length());
    ui->progressBar->setMaximum(lines);
    ui->progressBar->setValue(0);
    m_progressClock.invalidate();
    m_linesSent = 0;
    appendText(QStringLiteral("Flash..."));
    setBusy(true);
    if (!m_session.start(m_board, image.bytes(), image.length()))
        slot_flashFinished(FlashSession::BlockFailed);
}

void Bootloader::slot_flashProgress(int sent, int total)
{
    m_linesSent = sent;
    if (sent > 0 && sent < total && m_progressClock.isValid() && m_progressClock.elapsed() < 40)
        return;
    m_progressClock.start();
    ui->progressBar->setMaximum(total);
    ui->progressBar->setValue(sent);
}

void Bootloader::slot_flashFinished(int outcome)
{
    setBusy(false);
    ui->progressBar->setValue(m_linesSent);
    switch (outcome) {
    case FlashSession::Finished:
        ui->progressBar->setValue(ui->progressBar->maximum());
        appendText(QStringLiteral("Finished.\n Please restart MCU! it can take up to 10 seconds "));
        break;
    case FlashSession::BlockFailed:
    case FlashSession::MarkerFailed:
        // Without a confirmed marker the board keeps no valid image, so
        // nothing here may read like success.
        appendLog(QStringLiteral("<font color=red> Error</font>"));
        // The download ended by itself: nobody waits for this box.
        NoticeBox::warning(this, QString(), QLatin1String(sendError));
        break;
    case FlashSession::NotConnected:
        appendLog(QStringLiteral("<font color=red> Error</font>"));
        NoticeBox::warning(this, QString(), QLatin1String(notConnected));
        break;
    case FlashSession::Cancelled:
        appendLog(QStringLiteral("<font color=red>Flashing cancelled.</font>"));
        break;
    }
    emit signal_flashFinished(outcome);
}

void Bootloader::slot_pbRestart_clicked()
{
    if (m_busy)
        return;
    if (!boardReady()) {
        warn(QString(), QLatin1String(notConnected));
        return;
    }
    appendText(QStringLiteral("Restarting..."));
    setBusy(true);
    // The link restarts the board in the background and reports the end.
    m_restarting = true;
    m_board->resetBoard();
}

void Bootloader::slot_restartFinished()
{
    // Only the restart this window asked for.
    if (!m_restarting)
        return;
    m_restarting = false;
    appendText(QStringLiteral("Done!"));
    setBusy(false);
    emit signal_restartFinished();
}

void Bootloader::closeEvent(QCloseEvent *event)
{
    m_session.cancel();
    QWidget::closeEvent(event);
}

void Bootloader::refuse(const QString &why)
{
    // The image of an earlier load stays in memory, but it is not what the
    // user chose now: its lines, the progress of its flash and "Flash" go.
    m_loaded = false;
    ui->pteLog->clear();
    appendLog(QStringLiteral("<font color=red>%1</font>").arg(why.toHtmlEscaped()));
    ui->progressBar->setValue(0);
    ui->pbFlash->setEnabled(false);
}

void Bootloader::appendLog(const QString &html)
{
    ui->pteLog->appendHtml(html);
}

void Bootloader::appendText(const QString &text)
{
    appendLog(text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
}

void Bootloader::setBusy(bool busy)
{
    m_busy = busy;
    // The rest of the application waits while the board is written or
    // restarted; before and after, Connect in the main window must work
    // with this window open (a restarted board is connected again there).
    const Qt::WindowModality modality = busy ? Qt::ApplicationModal : Qt::NonModal;
    if (windowModality() != modality) {
        // A shown window takes a new modality only when shown again.
        const bool shown = isVisible();
        if (shown)
            hide();
        setWindowModality(modality);
        if (shown)
            show();
    }
    ui->pbLoadHex->setEnabled(!busy);
    ui->pbDefault->setEnabled(!busy && QFile::exists(QLatin1String(defaultImage)));
    ui->pbFlash->setEnabled(!busy && m_loaded);
    ui->pbRestart->setEnabled(!busy);
}

bool Bootloader::boardReady() const
{
    return m_board && m_board->isConnected();
}

void Bootloader::warn(const QString &title, const QString &text)
{
    QMessageBox::warning(this, title, text, QMessageBox::Ok);
}
