#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QWidget>

class QAction;
class QDockWidget;
class QMdiSubWindow;

// Base of every device window: its container (an MDI sub-window or a dock
// widget), its menu action, its shortcut key and its connection state.
class Applet : public QWidget
{
    Q_OBJECT

public:
    enum ContainerMode { ContainerMdi = 0, ContainerDock = 1 };

    explicit Applet(QWidget *parent = nullptr);
    ~Applet() override;

    virtual bool set(const QString &path, const QVariant &value, int origin);
    virtual QVariant get(const QString &path, int origin);
    virtual QVariant run(const QString &function, const QVariant &argument) = 0;
    virtual bool transfer(int op, const QString &name);
    virtual void onDisconnected() {}
    virtual void onConnected() {}
    virtual QByteArray saveState() { return QByteArray(); }
    virtual bool loadState(const QByteArray &) { return false; }
    virtual bool init() { return true; }

    bool initialize();
    void activate();
    void deactivate();
    bool isOnline() const { return online; }

    int shortcutKey() const { return m_shortcutKey; }
    void setShortcutKey(int key) { m_shortcutKey = key; }

    int containerMode() const { return m_containerMode; }
    QWidget *createContainer(int mode, QWidget *dockParent = nullptr);
    QWidget *container() const;
    QAction *windowAction();
    void showWindow();
    void hideWindow();

signals:
    void signal_HideWindow();
    void signal_RegisterChanged();
    void signal_log(int level, const QString &text);

public slots:
    void slot_ActionTriggered();
    void slot_SetInactiveWindow();
    void slot_adjustSize();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    bool fixedHeight = false;
    bool fixedWidth = false;
    QMdiSubWindow *subWindow = nullptr;
    QDockWidget *dock = nullptr;
    QAction *action = nullptr;
    bool online = false;

private:
    int m_shortcutKey = 0;
    int m_containerMode = ContainerMdi;
};
