#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include "applet/appletregisterfiles.h"

#include <functional>

class Applet;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

namespace CustomControls {
class LineEdit;
class RealEdit;
} // namespace CustomControls

// The help window of an applet: its functions with their descriptions, run
// by name, and a register browser that lists every parameter with its
// fields, reads and writes them by name, searches the listing and saves
// registers to register files (*.101) or applies such files again.
class AppletHelper : public QWidget
{
    Q_OBJECT

public:
    AppletHelper(Applet *applet, const QString &title);

    // "nodes" rebuilds the register page, "functions" the function page.
    void render(const QString &sections);

    // False for an empty name; any other failure is also reported to the
    // applet's log. Lines that name no register of the applet are skipped.
    bool loadFile(const QString &fileName);
    // Writes "NAME::bits" lines for the named registers, the file replaced
    // as a whole or not at all; failures are reported to the applet's log.
    bool exportRegisters(const QStringList &names, const QString &fileName);
    // Writes the registers the applet owns as a C header or as JSON
    // (RegisterExport::Format); failures are reported to the applet's log.
    bool exportOwnedRegisters(const QString &fileName, int format);
    void refreshConfigurations();
    QStringList selectParameters();

    // The file dialogs ask through this, so that tests can answer without a
    // modal dialog. Arguments: caption, filter, true to save.
    using FileChooser = std::function<QString(const QString &, const QString &, bool)>;
    static void setFileChooser(FileChooser chooser);

    static constexpr qint64 MaxFileSize = AppletRegisterFiles::MaxFileSize;

    QTabWidget *tabs;
    QComboBox *parameterCombo;
    CustomControls::LineEdit *valueEdit;
    QPushButton *pbSet;
    QPushButton *pbGet;
    QPushButton *pbFill0;
    QPushButton *pbFill1;
    QLineEdit *searchEdit;
    QTextEdit *parameterView;
    QPushButton *pbExport;
    QPushButton *pbImport;
    QComboBox *configurationsCombo;
    QPushButton *pbUpdateAll;
    // Shown only for an applet that owns registers.
    QPushButton *pbExportHeader;
    QPushButton *pbExportJson;
    QComboBox *functionCombo;
    CustomControls::LineEdit *argumentEdit;
    CustomControls::LineEdit *intResult;
    CustomControls::RealEdit *realResult;
    QLineEdit *textResult;
    QPushButton *pbRun;
    QTextEdit *functionView;

signals:
    void signal_update();

public slots:
    void slot_pbUpdateAll_clicked();
    void slot_pbSet_clicked();
    void slot_pbFill0_clicked();
    void slot_pbFill1_clicked();
    void slot_pbGet_clicked();
    void slot_pbRun_clicked();
    void slot_FindInNodes(const QString &text);
    void slot_exportRegistersTo101();
    void slot_importRegistersFrom101();
    void slot_ApplyFile();
    void slot_exportHeader();
    void slot_exportJson();

private:
    QWidget *buildParameterPage();
    QWidget *buildFunctionPage();
    void renderFunctions();
    void renderNodes();
    void fill(bool ones);
    void showResult(QWidget *field);
    void reportError(const QString &text);
    QString chooseFile(const QString &caption, bool save);
    QString chooseFile(const QString &caption, const QString &filter, bool save);
    void exportOwned(int format);

    Applet *applet;
    AppletRegisterFiles m_files;
    QString html;
};
