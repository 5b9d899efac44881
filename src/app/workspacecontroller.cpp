#include "app/workspacecontroller.h"

#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "app/settings.h"
#include "app/windowstatefile.h"
#include "app/workspacefile.h"
#include "applet/applet.h"
#include "applets/board.h"
#include "controls/dialogcheckboxes.h"
#include "model/variable.h"
#include "util/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMdiSubWindow>
#include <QMessageBox>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

WorkspaceController::WorkspaceController(WorkspaceHost *host) : m_host(host) {}

QString WorkspaceController::choose(const QString &caption, const QString &filter, bool save) const
{
    if (m_chooser)
        return m_chooser(caption, filter, save);
    return save ? QFileDialog::getSaveFileName(nullptr, caption, QString(), filter)
                : QFileDialog::getOpenFileName(nullptr, caption, QString(), filter);
}

namespace {

// The user configuration registers, A and B of each pair.
QStringList workspaceRegisterNames()
{
    QStringList names;
    for (int i = 5; i <= 8; ++i) {
        const QString a = QStringLiteral("CR%1A").arg(i);
        names << a << QString(a).replace(QLatin1Char('A'), QLatin1Char('B'));
    }
    return names;
}

bool isRegisterOf(Applet *applet, const QString &name)
{
    const ParameterEntry *entry = applet ? applet->parameter(name) : nullptr;
    return entry && entry->reg;
}

// An 11-bit register value written in decimal; the lines of a value were
// joined already.
bool parseRegisterValue(const QByteArray &text, uint *value)
{
    bool ok = false;
    const uint v = text.trimmed().toUInt(&ok, 10);
    if (!ok || v > 0x7FF)
        return false;
    *value = v;
    return true;
}

// Reads a small text file whole; an empty error text means success.
QByteArray readSmallFile(const QString &path, qint64 limit, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return QByteArray();
    }
    if (file.size() > limit) {
        *error = QStringLiteral("the file is larger than %1 bytes").arg(limit);
        return QByteArray();
    }
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        *error = QStringLiteral("the file is larger than %1 bytes").arg(limit);
    else if (file.error() != QFileDevice::NoError)
        *error = file.errorString();
    return bytes;
}

} // namespace

void WorkspaceController::save()
{
    DialogCheckBoxes dialog(DialogCheckBoxes::CheckBoxes);
    dialog.setWindowTitle(QStringLiteral("Select windows save..."));
    dialog.addChoices(workspaceRegisterNames());
    QStringList chosen;
    if (dialog.exec() != QDialog::Accepted || dialog.checkedChoices(chosen) == 0)
        return;
    QString path = choose(QStringLiteral("Save workspace"), QStringLiteral("Files (*.bench)"), true);
    if (path.isEmpty())
        return;
    // Only *.bench files appear in the configuration menu.
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(".bench");
    rememberDirectory(QFileInfo(path).absolutePath());

    Applet *spi = m_host->applet(QStringLiteral("SpiController"));
    QList<WorkspaceFile::Block> blocks;
    for (const QString &name : std::as_const(chosen)) {
        if (isRegisterOf(spi, name))
            blocks.append({name, spi->get(name + QLatin1String("[]"), ORIGIN_FORCED).toByteArray()});
    }
    // A failed write leaves an earlier file of that name as it was.
    QString error;
    if (!SafeFile::save(path, WorkspaceFile::compose(blocks), &error))
        QMessageBox::warning(nullptr, QStringLiteral("Save workspace"), error, QMessageBox::Ok);
}

void WorkspaceController::load(const QString &path)
{
    if (!m_host->isBoardConnected()) {
        QMessageBox::information(
            nullptr, QString(), QStringLiteral("Please connect board before loading configuration registers"),
            QMessageBox::Ok);
        return;
    }
    QString file = path;
    if (file.isEmpty()) {
        file = choose(QStringLiteral("Load workspace"), QStringLiteral("Files (*.bench)"), false);
        if (file.isEmpty())
            return;
    }
    QString error;
    const QByteArray text = readSmallFile(file, WorkspaceFile::MaxFileSize, &error);
    if (!error.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Load workspace"),
                             QStringLiteral("Cannot read the workspace file %1:\n%2").arg(file, error),
                             QMessageBox::Ok);
        return;
    }

    // The whole file is checked before the model changes: a bad value, a
    // cut block or a file with nothing to load leaves every register as it was.
    const auto refuse = [&file](const QString &why) {
        QMessageBox::warning(nullptr, QStringLiteral("Load workspace"),
                             QStringLiteral("The workspace file %1 %2.\nNothing was loaded.").arg(file, why),
                             QMessageBox::Ok);
    };
    const WorkspaceFile::Parsed parsed = WorkspaceFile::parse(text);
    if (parsed.blocks.isEmpty()) {
        refuse(QStringLiteral("holds no complete register block"));
        return;
    }
    if (parsed.cut) {
        refuse(QStringLiteral("is cut short in the block of %1").arg(parsed.cutName.left(40)));
        return;
    }
    Applet *spi = m_host->applet(QStringLiteral("SpiController"));
    QList<QPair<QString, uint>> values;
    for (const WorkspaceFile::Block &block : parsed.blocks) {
        if (block.name.isEmpty() || !isRegisterOf(spi, block.name))
            continue;
        uint value = 0;
        if (!parseRegisterValue(block.value, &value)) {
            refuse(QStringLiteral("holds no valid value for %1: \"%2\"")
                       .arg(block.name, QString::fromLatin1(block.value.left(40))));
            return;
        }
        values.append({block.name, value});
    }
    if (values.isEmpty()) {
        refuse(QStringLiteral("names no register of the SPI controller"));
        return;
    }

    auto *board = qobject_cast<Board *>(m_host->applet(QStringLiteral("Board")));
    QStringList loaded;
    for (const auto &[name, value] : std::as_const(values)) {
        if (board)
            board->set(QStringLiteral("U") + name + QLatin1String("[10:0]"), value, ORIGIN_FORCED);
        spi->set(name + QLatin1String("[10:0]"), value, ORIGIN_FORCED);
        loaded.append(name);
    }
    if (board)
        board->setLoadedNames(loaded);

    QString report = QStringLiteral("\nLoading of following configuration registers is complete:\n");
    for (const QString &name : std::as_const(loaded))
        report += QLatin1Char('\t') + name + QLatin1Char('\n');
    report +=
        QStringLiteral("\nTo send them to SPI please use 'Set User Configuration' button in Board window.\n");
    QMessageBox::information(nullptr, QString(), report, QMessageBox::Ok);
}

QStringList WorkspaceController::directories() const
{
    return QStringList(QDir::currentPath()) + m_host->settings().workspaceDirectories();
}

void WorkspaceController::rememberDirectory(const QString &directory)
{
    // One directory spelt two ways ("a/../b", a link) is still one.
    const auto sameAs = [](const QString &a, const QString &b) {
        const QString ca = QFileInfo(a).canonicalFilePath();
        const QString cb = QFileInfo(b).canonicalFilePath();
        if (!ca.isEmpty() && !cb.isEmpty())
            return ca == cb;
        return QDir::cleanPath(a) == QDir::cleanPath(b);
    };
    const QString cleaned = QDir::cleanPath(QDir::current().absoluteFilePath(directory));
    for (const QString &known : directories()) {
        if (sameAs(known, cleaned))
            return;
    }
    m_host->setSettingValue(m_host->settings().firstUnusedDirectoryKey(), cleaned);
}

namespace {

const QString WindowStateFileName = QStringLiteral("HQL3318.state");

} // namespace

void WorkspaceController::saveWindowState()
{
    MainWindow *mainWindow = m_host->mainWindow();
    if (!mainWindow)
        return;
    WindowStateFile state;
    state.mainGeometry = mainWindow->saveGeometry();
    for (Applet *applet : m_host->applets()) {
        if (!applet || !applet->container())
            continue;
        state.windows.append({applet->objectName(), applet->container()->geometry(), applet->isVisible()});
    }
    // Reported like any error: a box in a window, standard error and the
    // log file when headless.
    QString error;
    if (!SafeFile::save(WindowStateFileName, state.compose(), &error))
        m_host->log(-1, error);
}

void WorkspaceController::restoreWindowState()
{
    if (!m_host->isBoardConnected()) {
        QMessageBox::warning(nullptr, QStringLiteral("Warning"), QStringLiteral("Board is not connected"),
                             QMessageBox::Ok);
        return;
    }
    QString error;
    const QByteArray text = readSmallFile(WindowStateFileName, WindowStateFile::MaxFileSize, &error);
    if (!error.isEmpty()) {
        qCInfo(lcApp) << "no window state restored from" << WindowStateFileName << ":" << error;
        return;
    }
    const WindowStateFile state = WindowStateFile::parse(text);
    MainWindow *mainWindow = m_host->mainWindow();
    if (mainWindow)
        mainWindow->restoreGeometry(state.mainGeometry);
    for (const WindowStateFile::Window &w : state.windows) {
        Applet *applet = m_host->applet(w.name);
        if (!applet || !applet->container())
            continue;
        applet->container()->setGeometry(w.geometry);
        if (w.visible)
            applet->showWindow();
        else
            applet->hideWindow();
        // A window that was open already is not shown anew, and the stored
        // place may lie beyond the area as large as it is now.
        if (mainWindow && w.visible)
            mainWindow->mdiArea->bringIntoView(qobject_cast<QMdiSubWindow *>(applet->container()));
    }
}
