#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

class RefreshBatcher;
class Register;
class Variable;

namespace CustomControls {
class UniversalControl;
}

// One registered parameter and the controls bound to it.
struct ParameterEntry
{
    enum Kind
    {
        KindRegister = 0,
        KindVariable = 1
    };
    Kind kind = KindRegister;
    Register *reg = nullptr;
    Variable *var = nullptr;
    QList<CustomControls::UniversalControl *> controls;
    // Per control, the register bits it shows, parsed once; lo -1 reads by name.
    QList<QPair<qint64, qint64>> ranges;
};

// The model side of a window: its parameters (registers and variables), the
// controls bound to them by name, and the refreshes between the two. No
// widget and no global state, so it is tested without a window.
class ControlBinding : public QObject
{
    Q_OBJECT

public:
    explicit ControlBinding(QObject *parent = nullptr);
    ~ControlBinding() override;

    // "CR5A[9:8]" -> "CR5A", "Board.SR0[4]" -> "SR0"; empty when the path names none.
    static QString parameterNameOf(const QString &path);

    // Refreshes are batched with the other windows of the same batcher;
    // without one they happen at once.
    void setBatcher(RefreshBatcher *batcher);
    RefreshBatcher *batcher() const { return m_batcher; }
    // Names the owner in messages.
    void setOwnerName(const QString &name) { m_owner = name; }

    bool add(const QString &name, Register *reg);
    bool add(const QString &name, Variable *var);
    const ParameterEntry *entry(const QString &name) const { return m_entries.value(name); }
    bool contains(const QString &name) const { return m_entries.contains(name); }
    // In the order they were registered, so lists built from them are the
    // same every run.
    const QStringList &names() const { return m_order; }

    // Writes by path ("CR5A[9:8]", "Speed"). A value that is no number is
    // refused, not written as 0: a typo in a script must not stop a
    // generator. The controls show the result.
    bool write(const QString &path, const QVariant &value, int origin);
    // Bits lo..hi of a register, without parsing a reference.
    bool writeBits(const QString &name, uint lo, uint hi, uint value);
    // Null when the path names no parameter.
    QVariant read(const QString &path) const;

    // Binds the bindable controls found under root (breadth first, eleven
    // levels deep) by their names.
    void bindAll(QObject *root);
    void bind(CustomControls::UniversalControl *control);
    const QList<CustomControls::UniversalControl *> &controls() const { return m_controls; }
    // What a control's trigger does: a button asks for its function, any
    // other control writes its value (a typo writes nothing).
    void triggered(CustomControls::UniversalControl *control);

    void refresh(const QString &name);
    void refreshAll();
    // Counts refreshes asked for, so a writer knows whether a write was seen.
    quint64 refreshCount() const { return m_refreshes; }

signals:
    void signal_functionRequested(const QString &function, const QVariant &argument);
    // A control wrote the model: the user's own action. A control that
    // only follows a refresh (a slider moved by the model) writes back, but
    // that is no user write.
    void signal_userWrite(const QString &path, const QVariant &value);
    void signal_log(int level, const QString &text);

private:
    friend class RefreshBatcher;
    void refreshNow(const QString &name);
    void refreshCollected();

    QHash<QString, ParameterEntry *> m_entries;
    QStringList m_order;
    QList<CustomControls::UniversalControl *> m_controls;
    RefreshBatcher *m_batcher = nullptr;
    QString m_owner;
    quint64 m_refreshes = 0;
    int m_refreshing = 0;
    QSet<QString> m_collected;
};
