#include "model/variable.h"

#include "model/modeltext.h"

#include <QStringView>

#include <cmath>

Variable::Variable() = default;

Variable::Variable(const QString &description, QObject *parent) : QObject(parent)
{
    parse(description);
}

Variable::Variable(double value, const QString &name, const QString &description, double min, double max,
                   QObject *parent)
    : QObject(parent), m_description(description), m_name(name), m_value(value), m_min(min), m_max(max),
      m_type(Real)
{
}

bool Variable::setValue(double v, int origin)
{
    if (m_type == Undefined)
        m_type = Real;
    if (refused(origin))
        return false;
    if (std::isnan(v) || v < m_min || v > m_max)
        return false;
    const bool changed = !(m_value == v);
    m_value = v;
    if (changed)
        emit signal_updateSet(m_name);
    return true;
}

bool Variable::setValue(int v, int origin)
{
    if (m_type == Undefined)
        m_type = Integer;
    return setValue(double(v), origin);
}

bool Variable::setText(const QByteArray &bytes, int origin)
{
    if (m_type == Undefined)
        m_type = String;
    if (refused(origin))
        return false;
    const bool changed = m_text != bytes;
    m_text = bytes;
    if (changed)
        emit signal_updateSet(m_name);
    return true;
}

Variable &Variable::operator=(double v)
{
    if (m_type != String)
        setValue(v, ORIGIN_FORCED);
    return *this;
}

void Variable::parse(const QString &description)
{
    const QString trimmed = description.trimmed();
    QString key;
    QString value;
    for (QStringView piece : QStringView(trimmed).tokenize(u'@', Qt::SkipEmptyParts)) {
        if (!ModelText::splitKeyValue(piece, key, value)) {
            key = piece.trimmed().toString();
            value.clear();
        }
        if (key == u"variable" || key == u"name") {
            m_name = value;
            m_type = Real;
        } else if (key == u"value") {
            bool isNumber = false;
            const double number = value.toDouble(&isNumber);
            if (isNumber) {
                m_type = Real;
                m_value = number;
            } else {
                m_type = String;
                m_text = value.toLatin1();
            }
        } else if (key == u"type") {
            if (value == u"integer" || value == u"bit")
                m_type = Integer;
            else if (value == u"real")
                m_type = Real;
            else if (value == u"string" || value == u"array")
                m_type = String;
        } else if (key == u"min") {
            m_min = value.toDouble();
        } else if (key == u"max") {
            m_max = value.toDouble();
        } else if (key == u"descr") {
            m_description = value;
        } else if (key == u"readonly") {
            m_readOnly = value.isEmpty() || ModelText::toInt(value) != 0;
        } else {
            m_attributes.insert(key, value);
        }
    }
}
