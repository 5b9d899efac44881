#include "applet/applethelper.h"

#include "applet/applet.h"
#include "applet/refreshbatcher.h"
#include "applet/registerfile.h"
#include "controls/dialogcheckboxes.h"
#include "controls/lineedit.h"
#include "controls/realedit.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "model/variable.h"

#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTabWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

const char *const PageStyle =
    "<style type=\"text/css\">p {font-family: Verdana;font-size:12px;margin-top:1px;color:#585858;}"
    "body {font-family: Calibri;}strong {font-weight: bold; background-color:#DAE3DC;}"
    "em {font-size:12px;font-style: italic;color:#BDBDBD;}"
    "h1 {font-weight: bold;background-color:#A8E39F;text-align:left;}div {font-size:12px;}"
    "ul {list-style-type: disc;}fu {font-style: italic;font-weight: bold;}</style>";

const char *const FileFilter = "Files (*.101)";

// The last search left its highlighting as the newest edit block of the
// listing, to be undone by the next search.
bool s_searchFresh = true;

AppletHelper::FileChooser s_fileChooser;

QPushButton *addButton(QHBoxLayout *row, const char *text)
{
    auto *button = new QPushButton(QString::fromLatin1(text));
    row->addWidget(button);
    return button;
}

QFrame *raisedPanel()
{
    auto *frame = new QFrame;
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    return frame;
}

// A wheel turned over a box without focus is passed on (the page scrolls):
// for the configurations list, a turn would write a file to the chip.
class FocusedWheelOnly : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Wheel && widget && !widget->hasFocus()) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

QTextEdit *readOnlyView()
{
    auto *view = new QTextEdit;
    view->setReadOnly(true);
    view->setAcceptRichText(true);
    return view;
}

} // namespace

AppletHelper::AppletHelper(Applet *applet, const QString &title)
    : QWidget(nullptr), applet(applet), m_files(*applet)
{
    setWindowTitle(title);
    resize(400, 400);
    setStyleSheet(QStringLiteral("QTextEdit{background: rgb(255,255,240)}"));

    tabs = new QTabWidget;
    tabs->addTab(buildParameterPage(), QStringLiteral("Registers/Variables"));
    tabs->addTab(buildFunctionPage(), QStringLiteral("Functions"));
    tabs->setCurrentIndex(0);
    auto *grid = new QGridLayout(this);
    grid->addWidget(tabs, 0, 0);

    connect(pbUpdateAll, &QPushButton::clicked, this, &AppletHelper::slot_pbUpdateAll_clicked);
    connect(pbGet, &QPushButton::clicked, this, &AppletHelper::slot_pbGet_clicked);
    connect(pbSet, &QPushButton::clicked, this, &AppletHelper::slot_pbSet_clicked);
    connect(pbFill0, &QPushButton::clicked, this, &AppletHelper::slot_pbFill0_clicked);
    connect(pbFill1, &QPushButton::clicked, this, &AppletHelper::slot_pbFill1_clicked);
    connect(pbRun, &QPushButton::clicked, this, &AppletHelper::slot_pbRun_clicked);
    connect(pbExport, &QPushButton::clicked, this, &AppletHelper::slot_exportRegistersTo101);
    connect(pbImport, &QPushButton::clicked, this, &AppletHelper::slot_importRegistersFrom101);
    connect(searchEdit, &QLineEdit::textChanged, this, &AppletHelper::slot_FindInNodes);
    connect(configurationsCombo, &QComboBox::currentIndexChanged, this, &AppletHelper::slot_ApplyFile);
    connect(pbExportHeader, &QPushButton::clicked, this, &AppletHelper::slot_exportHeader);
    connect(pbExportJson, &QPushButton::clicked, this, &AppletHelper::slot_exportJson);
    // Writing the chip takes a deliberate pick: a wheel does not give the
    // list focus, and without focus it ignores the wheel.
    configurationsCombo->setFocusPolicy(Qt::StrongFocus);
    configurationsCombo->installEventFilter(new FocusedWheelOnly(configurationsCombo));

    refreshConfigurations();
}

QWidget *AppletHelper::buildParameterPage()
{
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    grid->setVerticalSpacing(1);

    QFrame *frame = raisedPanel();
    frame->setStyleSheet(QStringLiteral("font: 12pt \"Consolas\";"));
    auto *row = new QHBoxLayout(frame);
    parameterCombo = new QComboBox;
    parameterCombo->setEditable(true);
    parameterCombo->setMinimumWidth(200);
    row->addWidget(parameterCombo);
    row->addWidget(new QLabel(QStringLiteral("=")));
    valueEdit = new CustomControls::LineEdit;
    // Wide enough to read a 16-bit value in hex, however narrow the window.
    valueEdit->setMinimumWidth(90);
    valueEdit->setMaximumWidth(120);
    row->addWidget(valueEdit);
    row->addItem(new QSpacerItem(10, 10, QSizePolicy::Expanding, QSizePolicy::Minimum));
    pbSet = addButton(row, "Set");
    pbGet = addButton(row, "Get");
    pbFill0 = addButton(row, "Fill 0");
    pbFill1 = addButton(row, "Fill 1");
    row->addItem(new QSpacerItem(10, 10, QSizePolicy::Expanding, QSizePolicy::Minimum));
    grid->addWidget(frame, 0, 0, 1, 10);

    searchEdit = new QLineEdit;
    grid->addWidget(searchEdit, 1, 0, 1, 10);
    parameterView = readOnlyView();
    grid->addWidget(parameterView, 2, 0, 1, 10);

    pbExport = new QPushButton(QStringLiteral("Export"));
    pbImport = new QPushButton(QStringLiteral("Import"));
    configurationsCombo = new QComboBox;
    pbUpdateAll = new QPushButton(QStringLiteral("Update all"));
    grid->addWidget(pbExport, 3, 0);
    grid->addWidget(pbImport, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Configurations")), 3, 2);
    grid->addWidget(configurationsCombo, 3, 3, 1, 6);
    grid->addWidget(pbUpdateAll, 3, 9);

    pbExportHeader = new QPushButton(QStringLiteral("Export C header\u2026"));
    pbExportJson = new QPushButton(QStringLiteral("Export JSON\u2026"));
    pbExportHeader->setToolTip(
        QStringLiteral("Values, field masks and shifts of this window's registers for firmware"));
    pbExportJson->setToolTip(QStringLiteral("The register map of this window with its current values"));
    auto *exports = new QHBoxLayout;
    exports->addWidget(pbExportHeader);
    exports->addWidget(pbExportJson);
    exports->addStretch();
    grid->addLayout(exports, 4, 0, 1, 10);
    const bool owns = !applet->ownedRegisters().isEmpty();
    pbExportHeader->setVisible(owns);
    pbExportJson->setVisible(owns);
    return page;
}

QWidget *AppletHelper::buildFunctionPage()
{
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);

    QFrame *frame = raisedPanel();
    auto *row = new QHBoxLayout(frame);
    functionCombo = new QComboBox;
    functionCombo->setEditable(true);
    functionCombo->setMinimumWidth(150);
    row->addWidget(functionCombo);
    row->addWidget(new QLabel(QStringLiteral("(")));
    argumentEdit = new CustomControls::LineEdit;
    row->addWidget(argumentEdit);
    row->addWidget(new QLabel(QStringLiteral(")=")));
    intResult = new CustomControls::LineEdit;
    realResult = new CustomControls::RealEdit;
    textResult = new QLineEdit;
    for (QWidget *field : {static_cast<QWidget *>(intResult), static_cast<QWidget *>(realResult),
                           static_cast<QWidget *>(textResult)})
        row->addWidget(field);
    showResult(textResult);
    row->addItem(new QSpacerItem(10, 10, QSizePolicy::Expanding, QSizePolicy::Minimum));
    pbRun = addButton(row, "Run");
    row->addItem(new QSpacerItem(10, 10, QSizePolicy::Expanding, QSizePolicy::Minimum));
    grid->addWidget(frame, 0, 0);

    functionView = readOnlyView();
    grid->addWidget(functionView, 1, 0);
    return page;
}

void AppletHelper::setFileChooser(FileChooser chooser)
{
    s_fileChooser = std::move(chooser);
}

QString AppletHelper::chooseFile(const QString &caption, bool save)
{
    // Files of this applet carry its name after ".101"; show those too.
    const QString filter = save ? QString::fromLatin1(FileFilter)
                                : QStringLiteral("Files (*.101.%1 *.101)").arg(applet->objectName());
    return chooseFile(caption, filter, save);
}

QString AppletHelper::chooseFile(const QString &caption, const QString &filter, bool save)
{
    if (s_fileChooser)
        return s_fileChooser(caption, filter, save);
    if (save)
        return QFileDialog::getSaveFileName(nullptr, caption, QString(), filter);
    return QFileDialog::getOpenFileName(nullptr, caption, QString(), filter);
}

void AppletHelper::reportError(const QString &text)
{
    emit applet->signal_log(-1, text);
}

void AppletHelper::render(const QString &sections)
{
    if (sections.contains(QLatin1String("nodes")))
        renderNodes();
    if (sections.contains(QLatin1String("functions")))
        renderFunctions();
}

void AppletHelper::renderFunctions()
{
    const int scroll = functionView->verticalScrollBar()->value();
    html.clear();
    functionCombo->clear();
    html += QLatin1String(PageStyle);
    html += QLatin1String("<body>");
    // Documenting applets fill their table on any call, even this empty one.
    applet->run(QString(), QVariant(0));
    const QStringList names = applet->functionNames();
    const QMap<QString, QString> &descriptions = applet->functionDescriptions();
    for (const QString &name : names) {
        html += QStringLiteral("<p><strong><em>FUNCTION</em> %1</strong></p>").arg(name);
        html += QStringLiteral("<p>%1</p>").arg(descriptions.value(name));
    }
    // An empty page would read as if the help had failed to load. Its
    // functions still run when named in the box.
    if (names.isEmpty())
        html += QLatin1String("<p>This window documents no functions.</p>");
    html += QLatin1String("</body>");
    functionCombo->addItems(names);
    functionView->setHtml(html);
    functionView->verticalScrollBar()->setValue(scroll);
}

void AppletHelper::renderNodes()
{
    const int scroll = parameterView->verticalScrollBar()->value();
    const QString chosen = parameterCombo->currentText();
    parameterCombo->clear();

    QStringList names = applet->parameterNames();
    names.sort();

    QStringList entries;
    for (const QString &name : std::as_const(names)) {
        const ParameterEntry *entry = applet->parameter(name);
        if (!entry)
            continue;
        if (!entry->reg) {
            entries.append(name);
            continue;
        }
        // Unnamed gaps and fields sharing a name would repeat an entry.
        QStringList fields;
        const QStringList pieces =
            entry->reg->format(QStringLiteral("@purename;"), true).split(QLatin1Char(';'));
        for (const QString &field : pieces) {
            if (!field.isEmpty() && !fields.contains(field))
                fields.append(field);
        }
        fields.append(QString());
        for (const QString &field : std::as_const(fields))
            entries.append(QStringLiteral("%1[%2]").arg(name, field));
    }
    parameterCombo->addItems(entries);

    html.clear();
    html += QLatin1String(PageStyle);
    html += QLatin1String("<body>");
    for (const QString &name : std::as_const(names)) {
        const ParameterEntry *entry = applet->parameter(name);
        if (!entry)
            continue;
        if (entry->reg) {
            Register *reg = entry->reg;
            html += QStringLiteral("<p><strong><em>REG &nbsp;</em>%1[%2..0]</strong></p>")
                        .arg(name)
                        .arg(reg->size() - 1);
            html += QLatin1String("<ul>");
            const QStringList pieces =
                reg->format(QStringLiteral("@bitn;@name;@value;@descr;"), true).split(QLatin1Char(';'));
            for (int i = 0; i + 3 < pieces.size(); i += 4) {
                html += QStringLiteral("<p><li><b>{%1}&nbsp; %2</b> = %3</li>%4</p>")
                            .arg(pieces.at(i), pieces.at(i + 1), pieces.at(i + 2), pieces.at(i + 3));
            }
            html += QLatin1String("</ul><br>");
        } else {
            Variable *var = entry->var;
            html += QStringLiteral("<p><strong><em>VARIABLE  &nbsp;</em>%1 </strong><br>=%3<br>%2<p>")
                        .arg(name, var->description(), QString::number(var->value(), 'g', 6));
        }
    }
    html += QLatin1String("</body>");
    parameterView->setHtml(html);
    parameterView->verticalScrollBar()->setValue(scroll);

    const int index = parameterCombo->findText(chosen);
    if (index >= 0)
        parameterCombo->setCurrentIndex(index);
    else if (!chosen.isEmpty())
        // A reference typed by hand ("CR5A[9:8]") is no entry of the list.
        parameterCombo->setEditText(chosen);
}

void AppletHelper::slot_pbUpdateAll_clicked()
{
    emit signal_update();
    refreshConfigurations();
}

void AppletHelper::slot_pbGet_clicked()
{
    valueEdit->setValue(applet->get(parameterCombo->currentText(), ORIGIN_FORCED).toDouble());
}

void AppletHelper::slot_pbSet_clicked()
{
    // A typo must not write 0.
    bool ok = false;
    const double value = valueEdit->value(&ok);
    if (!ok) {
        reportError(
            QStringLiteral("%1: \"%2\" is no number").arg(parameterCombo->currentText(), valueEdit->text()));
        return;
    }
    if (applet->set(parameterCombo->currentText(), QVariant(value), ORIGIN_FORCED))
        emit applet->signal_userWrite(parameterCombo->currentText(), value);
    render(QStringLiteral("nodes"));
}

void AppletHelper::fill(bool ones)
{
    const QString text = parameterCombo->currentText();
    const int bracket = text.indexOf(QLatin1Char('['));
    const ParameterEntry *entry = applet->parameter(bracket < 0 ? text : text.left(bracket));
    if (!entry)
        return;
    if (entry->reg) {
        entry->reg->fill(ones);
        emit applet->signal_userWrite(entry->reg->name() + QStringLiteral("[]"),
                                      applet->binding().read(entry->reg->name() + QStringLiteral("[]")));
    } else {
        entry->var->setValue(ones ? 268435455.0 : 0.0, ORIGIN_FORCED);
        emit applet->signal_userWrite(entry->var->name(), entry->var->value());
    }
}

void AppletHelper::slot_pbFill0_clicked()
{
    fill(false);
}

void AppletHelper::slot_pbFill1_clicked()
{
    fill(true);
}

void AppletHelper::showResult(QWidget *field)
{
    intResult->setVisible(field == intResult);
    realResult->setVisible(field == realResult);
    textResult->setVisible(field == textResult);
}

void AppletHelper::slot_pbRun_clicked()
{
    // The argument goes as typed: the function decides how to read it.
    emit applet->signal_userRun(functionCombo->currentText(), QVariant(argumentEdit->text()));
    const QVariant result = applet->run(functionCombo->currentText(), QVariant(argumentEdit->text()));
    switch (result.typeId()) {
    case QMetaType::QByteArray:
        textResult->setText(QString::fromLatin1(result.toByteArray().toHex()));
        showResult(textResult);
        break;
    case QMetaType::Double:
        realResult->setValue(result.toDouble());
        showResult(realResult);
        break;
    case QMetaType::Int:
    case QMetaType::Bool:
    case QMetaType::UInt:
        intResult->setValue(result.toDouble());
        showResult(intResult);
        break;
    default:
        textResult->setText(result.toString());
        showResult(textResult);
        break;
    }
}

void AppletHelper::slot_FindInNodes(const QString &text)
{
    QTextDocument *document = parameterView->document();
    if (!s_searchFresh)
        document->undo();
    if (text.isEmpty()) {
        s_searchFresh = false;
        return;
    }
    QTextCharFormat marked;
    marked.setBackground(QBrush(Qt::blue, Qt::SolidPattern));
    QTextCursor edit(document);
    edit.beginEditBlock();
    int first = -1;
    QTextCursor found = document->find(text);
    while (!found.isNull()) {
        if (first < 0)
            first = found.selectionStart();
        found.movePosition(QTextCursor::WordRight, QTextCursor::KeepAnchor);
        found.mergeCharFormat(marked);
        found = document->find(text, found);
    }
    edit.endEditBlock();
    if (first >= 0) {
        QTextCursor at(document);
        at.setPosition(first);
        parameterView->setTextCursor(at);
        parameterView->ensureCursorVisible();
    }
    s_searchFresh = false;
}

QStringList AppletHelper::selectParameters()
{
    // Register files hold registers only: variables are not offered.
    QStringList registers;
    const QStringList names = applet->parameterNames();
    for (const QString &name : names) {
        const ParameterEntry *entry = applet->parameter(name);
        if (entry && entry->reg)
            registers.append(name);
    }
    if (registers.isEmpty())
        return {};
    DialogCheckBoxes dialog(DialogCheckBoxes::CheckBoxes);
    dialog.setWindowTitle(QStringLiteral("REGISTER"));
    dialog.addChoices(registers);
    QStringList chosen;
    if (dialog.exec() != QDialog::Accepted || dialog.checkedChoices(chosen) == 0)
        return {};
    return chosen;
}

bool AppletHelper::exportRegisters(const QStringList &names, const QString &fileName)
{
    QString error;
    if (!m_files.save(names, fileName, &error)) {
        reportError(error);
        return false;
    }
    return true;
}

void AppletHelper::slot_exportRegistersTo101()
{
    const QStringList names = selectParameters();
    const QString fileName = chooseFile(QStringLiteral("Save file"), true);
    if (!fileName.isEmpty() && !names.isEmpty())
        exportRegisters(names, RegisterFile::fileName(fileName, applet->objectName()));
    refreshConfigurations();
}

bool AppletHelper::exportOwnedRegisters(const QString &fileName, int format)
{
    QString error;
    if (!m_files.exportOwned(fileName, format, &error)) {
        reportError(error);
        return false;
    }
    return true;
}

void AppletHelper::exportOwned(int format)
{
    const bool header = format == RegisterExport::CHeader;
    const QString suffix = header ? QStringLiteral(".h") : QStringLiteral(".json");
    const QPointer<AppletHelper> alive(this);
    QString fileName =
        chooseFile(header ? QStringLiteral("Export C header") : QStringLiteral("Export JSON"),
                   header ? QStringLiteral("C header (*.h)") : QStringLiteral("JSON (*.json)"), true);
    // The dialog ran the event loop: a request may have closed the window.
    if (!alive || fileName.isEmpty())
        return;
    if (RegisterExport::formatFor(fileName) != format)
        fileName += suffix;
    exportOwnedRegisters(fileName, format);
}

void AppletHelper::slot_exportHeader()
{
    exportOwned(RegisterExport::CHeader);
}

void AppletHelper::slot_exportJson()
{
    exportOwned(RegisterExport::Json);
}

void AppletHelper::slot_importRegistersFrom101()
{
    loadFile(chooseFile(QStringLiteral("Load file"), false));
}

bool AppletHelper::loadFile(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
    QString error;
    const QStringList names = m_files.load(fileName, &error);
    if (names.isEmpty()) {
        reportError(error);
        return false;
    }
    render(QStringLiteral("nodes"));
    applet->slot_updateAllControls();
    // Other windows showing these registers learn of the change here.
    for (const QString &name : names)
        applet->binding().batcher()->refreshEverywhere(name);
    applet->writeParameters(QStringLiteral("*"));
    return true;
}

void AppletHelper::refreshConfigurations()
{
    const QString current = configurationsCombo->currentText();
    const QStringList files = m_files.configurations();
    // Refreshing applies nothing: only a pick writes a file to the chip.
    const QSignalBlocker quiet(configurationsCombo);
    configurationsCombo->clear();
    configurationsCombo->addItem(QString());
    configurationsCombo->addItems(files);
    const int index = configurationsCombo->findText(current);
    if (index > 0)
        configurationsCombo->setCurrentIndex(index);
}

void AppletHelper::slot_ApplyFile()
{
    const QString fileName = configurationsCombo->currentText();
    if (!fileName.isEmpty())
        loadFile(fileName);
}
