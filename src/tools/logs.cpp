#include "tools/logs.h"

#include "controls/htmllistbox.h"
#include "controls/noticebox.h"
#include "link/controlboard.h"
#include "tools/beeper.h"
#include "tools/toolslog.h"
#include "util/regularfile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTime>

#include <fcntl.h>
#include <unistd.h>

using CustomControls::HtmlListBox;

Logs::Logs(QWidget *parent)
    : Applet(parent), list(new HtmlListBox(this)), commandLine(new QLineEdit(this)),
      clearButton(new QPushButton(QStringLiteral("Clear"), this)),
      saveLogCheck(new QCheckBox(
          QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QLatin1String(".log"), this)),
      messageBoxCheck(new QCheckBox(QStringLiteral("MessageBox"), this)),
      translaterCheck(new QCheckBox(QStringLiteral("Translater"), this)), beepButton(new QPushButton),
      counterLabel(new QLabel), listMenu(new QMenu(this))
{
    setObjectName(QStringLiteral("Logs"));
    setWindowTitle(QStringLiteral("Logs"));
    setWindowIcon(QIcon(QStringLiteral(":/buttons/log")));
    resize(535, 367);

    messageBoxCheck->setChecked(true);
    translaterCheck->setChecked(false);

    beepButton->setIcon(QIcon(QStringLiteral(":/buttons/horn")));
    beepButton->setCheckable(true);
    beepButton->setChecked(true);
    beepButton->setFixedSize(23, 23);
    counterLabel->setFixedWidth(120);

    auto *layout = new QGridLayout(this);
    layout->addWidget(saveLogCheck, 0, 0, 1, 3);
    layout->addWidget(list, 1, 0, 1, 3);
    layout->addWidget(commandLine, 2, 0, 1, 3);
    layout->addWidget(clearButton, 3, 0);
    layout->addWidget(translaterCheck, 3, 1);
    layout->addWidget(messageBoxCheck, 3, 2);

    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QAction *copy = listMenu->addAction(QStringLiteral("Copy"));
    QAction *copyAll = listMenu->addAction(QStringLiteral("Copy All"));

    connect(commandLine, &QLineEdit::returnPressed, this, &Logs::slot_ControllerSend);
    connect(clearButton, &QPushButton::clicked, this, &Logs::slot_pbClear_clicked);
    connect(saveLogCheck, &QCheckBox::toggled, this, &Logs::slot_cbSaveLog_toggled);
    connect(list, &QWidget::customContextMenuRequested, this, &Logs::slot_LogContextMenu);
    connect(copy, &QAction::triggered, this, &Logs::slot_ActionCopy);
    connect(copyAll, &QAction::triggered, this, &Logs::slot_ActionCopyAll);

    refreshCounters();
}

Logs::~Logs()
{
    // Still ours when no status bar took them.
    if (beepButton && !beepButton->parent())
        delete beepButton;
    if (counterLabel && !counterLabel->parent())
        delete counterLabel;
}

void Logs::setBoard(ControlBoard *board)
{
    if (m_board)
        disconnect(m_board, &ControlBoard::signal_traffic, this, &Logs::slot_addLinkLine);
    m_board = board;
    if (board)
        connect(board, &ControlBoard::signal_traffic, this, &Logs::slot_addLinkLine);
}

int Logs::levelOfLinkLine(int kind)
{
    switch (kind) {
    case ControlBoard::RX: return 108;
    case ControlBoard::TX: return 109;
    case ControlBoard::INF: return 104;
    default: return -1000;
    }
}

QString Logs::formatLinkLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &at)
{
    qint64 elapsed = sinceLastMs;
    QString unit = QStringLiteral("ms");
    if (elapsed > 1000) {
        elapsed /= 1000;
        unit = QStringLiteral("s");
    }
    const QString clock = at.toString(QStringLiteral("hh:mm:ss.zzz"));
    QString body = QString::fromLatin1(text);
    if (kind == ControlBoard::RX || kind == ControlBoard::TX)
        body.replace(QLatin1Char('\n'), QStringLiteral("&lt;cr&gt; "));
    switch (kind) {
    case ControlBoard::RX: return QStringLiteral("RX(+%1%2):%3").arg(elapsed).arg(unit, body);
    case ControlBoard::TX: return QStringLiteral("TX(%1):%2").arg(clock, body);
    case ControlBoard::INF: return QStringLiteral("INF(%1):%2").arg(clock, body);
    default: return QStringLiteral("RX_ERR(+%1%2):%3").arg(elapsed).arg(unit, body);
    }
}

void Logs::slot_addLinkLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &at)
{
    slot_addLog(levelOfLinkLine(kind), formatLinkLine(kind, text, sinceLastMs, at));
}

void Logs::setStatusHost(std::function<void(QWidget *)> addWidget)
{
    m_addStatusWidget = std::move(addWidget);
}

void Logs::setTranslation(const QStringList &keys, const QStringList &values)
{
    for (int i = 0; i < keys.size(); ++i) {
        if (!keys.at(i).trimmed().isEmpty())
            dictionary.insert(keys.at(i), values.value(i));
    }
}

bool Logs::init()
{
    if (m_addStatusWidget) {
        if (beepButton)
            m_addStatusWidget(beepButton);
        if (counterLabel)
            m_addStatusWidget(counterLabel);
    }
    list->clear();
    errorCount = 0;
    infoCount = 0;
    warningCount = 0;
    refreshCounters();
    return true;
}

QVariant Logs::run(const QString &function, const QVariant &argument)
{
    if (function.compare(QLatin1String("log"), Qt::CaseInsensitive) != 0 || argument.isNull())
        return false;
    slot_addLog(0, argument.toString());
    return true;
}

QString Logs::colourOf(int level)
{
    if (level < 0)
        return QStringLiteral("red");
    if (level == 0)
        return QStringLiteral("black");
    if (level <= 100)
        return QStringLiteral("magenta");
    // Past the last predefined colour there is no colour to name: the
    // toolkit would read beyond its table.
    if (level > LastColourLevel)
        return QColor(Qt::black).name();
    return QColor(Qt::GlobalColor(level - 100)).name();
}

void Logs::slot_addLog(int level, const QString &text)
{
    if (level < 0)
        emit signal_errorAdded(text);
    QString prefix;
    const QString colour = colourOf(level);
    bool showBox = false;
    if (level < 0) {
        if (beepButton && beepButton->isChecked())
            Beeper::play(QLatin1String(Beeper::ErrorSequence));
        prefix = QStringLiteral("C(%1) [%2]")
                     .arg(QString::number(level), QDateTime::currentDateTime().toString(Qt::TextDate));
        showBox = messageBoxCheck->isChecked();
        ++errorCount;
    } else if (level == 0) {
        ++infoCount;
    } else if (level <= 100) {
        ++warningCount;
    }

    const bool logging = m_board && m_board->isLogging();
    QString fileError;
    if (logging || level < 0) {
        QString shown = text;
        if (translaterCheck->isChecked()) {
            for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
                shown.replace(it.key(), it.value(), Qt::CaseSensitive);
        }
        const QString line = prefix + QStringLiteral("<font color=\"%1\"> %2</font> <br>").arg(colour, shown);
        if (logFile && logFile->isOpen())
            fileError = writeToFile(
                QStringLiteral("C(%1) %2 ::: %3 \n").arg(QString::number(level), QString(), text).toLatin1());
        list->addItem(line);
        if (list->count() > MaxListLines + MaxListLines / 10)
            list->itemModel()->removeRows(0, list->count() - MaxListLines);
        list->setCurrentRow(list->count() - 1);
    }
    refreshCounters();

    // The box comes last and holds nobody up: whatever caused the error (a
    // script's request, the link's worker, a timer) goes on while it shows.
    if (showBox) {
        if (m_openErrorBoxes >= MaxOpenErrorBoxes) {
            qCWarning(lcTools, "too many error boxes open; listed only: %s", qPrintable(text));
        } else {
            ++m_openErrorBoxes;
            QMessageBox *box = NoticeBox::critical(nullptr, QStringLiteral("Error"), text);
            connect(box, &QDialog::finished, this, [this] { --m_openErrorBoxes; });
        }
    }
    // The file is closed by now, so this error is listed and shown only.
    if (!fileError.isEmpty())
        slot_addLog(-1, fileError);
}

QString Logs::writeToFile(const QByteArray &line)
{
    // A line is written whole or not at all: a part of one would run into
    // the next run's first line.
    QString reason;
    if (RegularFile::append(logFile->handle(), line, &reason))
        return QString();
    return switchFileOff(reason);
}

QString Logs::switchFileOff(const QString &reason)
{
    const QString error =
        QStringLiteral("Cannot write %1: %2; the log file is switched off.")
            .arg(QDir::toNativeSeparators(QFileInfo(m_logFileName).absoluteFilePath()), reason);
    logFile->close();
    saveLogCheck->setChecked(false);
    return error;
}

void Logs::refreshCounters()
{
    if (!counterLabel)
        return;
    const QString counters =
        QStringLiteral("Err:<font color=red>%1</font> Warn:<font color=magenta>%2</font> "
                       "Inf:<font color=black>%3</font>")
            .arg(QString::number(errorCount), QString::number(warningCount), QString::number(infoCount));
    counterLabel->setText(counters);
    counterLabel->setToolTip(counters);
}

void Logs::slot_ResetStatus()
{
    errorCount = 0;
    infoCount = 0;
    warningCount = 0;
    refreshCounters();
}

void Logs::slot_pbClear_clicked()
{
    list->clear();
}

void Logs::slot_cbSaveLog_toggled(bool on)
{
    if (!logFile) {
        m_logFileName = saveLogCheck->text();
        logFile = new QFile(m_logFileName, this);
    }
    if (!on) {
        logFile->close();
        return;
    }
    if (logFile->isOpen())
        return;
    // Opened by hand: a pipe in the file's place must not block the window,
    // nor a device be written. Every line goes out at once, unbuffered.
    QString reason;
    const int fd = RegularFile::open(m_logFileName, O_WRONLY | O_APPEND | O_CREAT, &reason);
    if (fd < 0 || !logFile->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                                 QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) {
            reason = logFile->errorString();
            ::close(fd);
        }
        slot_addLog(-1, switchFileOff(reason));
    }
}

void Logs::slot_LogContextMenu(const QPoint &pos)
{
    // A scroll area reports the point in its viewport's coordinates.
    listMenu->popup(list->viewport()->mapToGlobal(pos));
}

QString Logs::copyText(const QString &html)
{
    const int start = html.indexOf(QLatin1Char('>'));
    const int end = html.indexOf(QLatin1String("</"));
    if (start < 0 || end <= start)
        return QString();
    QString text = html.mid(start + 1, end - start - 1);
    text.replace(QLatin1String("&lt;cr&gt;"), QLatin1String("<cr>"));
    return text;
}

void Logs::slot_ActionCopy()
{
    const int row = list->currentRow();
    if (row < 0)
        return;
    QApplication::clipboard()->setText(copyText(list->itemText(row)));
}

void Logs::slot_ActionCopyAll()
{
    QString all;
    for (int row = 0; row < list->count(); ++row)
        all += copyText(list->itemText(row)) + QLatin1Char('\n');
    QApplication::clipboard()->setText(all);
}

void Logs::slot_ControllerSend()
{
    if (!m_board)
        return;
    const QString text = commandLine->text();
    QByteArray payload;
    if (text.contains(QLatin1String("<cr>")))
        payload = QString(text).replace(QLatin1String("<cr>"), QLatin1String("\n")).toLatin1();
    else
        payload = text.toLatin1() + '\n';
    m_board->transact(payload, nullptr, -1);
}
