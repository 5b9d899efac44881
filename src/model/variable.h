#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

// Origin of a write: the owning applet or the model itself (passes the read-only
// guard), or a bound control or the scripting facade. Any other code counts as
// a user write.
inline constexpr int ORIGIN_FORCED = int(0xFF001234u);
inline constexpr int ORIGIN_USER = int(0xFF004321u);

// A named integer, real or string parameter of an applet that is not a chip
// register, built from a description such as
// "@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50". Like a register it
// never touches the hardware: a changed value is announced with signal_updateSet.
class Variable : public QObject
{
    Q_OBJECT

public:
    enum Type
    {
        Undefined = 0,
        Integer = 1,
        Real = 2,
        String = 3
    };

    Variable();
    explicit Variable(const QString &description, QObject *parent = nullptr);
    // A real variable; the value is taken as given, without range check or notification.
    Variable(double value, const QString &name, const QString &description, double min, double max,
             QObject *parent = nullptr);

    QString name() const { return m_name; }
    QString description() const { return m_description; }
    int type() const { return m_type; }
    double value() const { return m_value; }
    QByteArray text() const { return m_text; }
    double min() const { return m_min; }
    double max() const { return m_max; }
    bool isReadOnly() const { return m_readOnly; }
    QString attribute(const QString &key) const { return m_attributes.value(key); }

    // False when refused: read-only and not ORIGIN_FORCED, or outside min..max
    // (NaN is outside). signal_updateSet only when the value changed.
    bool setValue(double v, int origin);
    // An undefined variable becomes an integer one.
    bool setValue(int v, int origin);
    // An undefined variable becomes a string one; no range check.
    bool setText(const QByteArray &bytes, int origin);
    // A forced write with the range check; ignored for a string variable.
    Variable &operator=(double v);

signals:
    void signal_updateSet(QString regname);
    // Declared for the applets that connect it; the variable never emits it.
    void signal_updateGet(QString regname);

private:
    void parse(const QString &description);
    bool refused(int origin) const { return m_readOnly && origin != ORIGIN_FORCED; }

    QString m_description;
    QString m_name;
    QByteArray m_text;
    double m_value = 0;
    double m_min = -1.7976931348623157e308;
    double m_max = 1.7976931348623157e308;
    bool m_readOnly = false;
    int m_type = Undefined;
    QHash<QString, QString> m_attributes;
};
