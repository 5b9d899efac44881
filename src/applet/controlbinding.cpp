#include "applet/controlbinding.h"

#include "applet/refreshbatcher.h"
#include "controls/universalcontrol.h"
#include "model/register.h"
#include "model/variable.h"
#include "util/bytes.h"

#include <QLoggingCategory>
#include <QScopeGuard>

#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcApplet)

using CustomControls::UniversalControl;

// The pieces between the characters ( ) [ ] . : one to three name the
// parameter with the first, four with the second (the first is a prefix).
QString ControlBinding::parameterNameOf(const QString &path)
{
    // Scanned in place: this runs for every model write.
    int separators = 0;
    int first = -1;
    int second = -1;
    for (int i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('[') ||
            c == QLatin1Char(']') || c == QLatin1Char('.')) {
            if (separators == 0)
                first = i;
            else if (separators == 1)
                second = i;
            if (++separators > 3)
                return QString();
        }
    }
    if (separators < 3)
        return first < 0 ? path : path.left(first);
    return path.mid(first + 1, second - first - 1);
}

ControlBinding::ControlBinding(QObject *parent) : QObject(parent) {}

ControlBinding::~ControlBinding()
{
    if (m_batcher)
        m_batcher->detach(this);
    qDeleteAll(m_entries);
}

void ControlBinding::setBatcher(RefreshBatcher *batcher)
{
    if (m_batcher == batcher)
        return;
    if (m_batcher)
        m_batcher->detach(this);
    m_batcher = batcher;
    if (m_batcher)
        m_batcher->attach(this);
}

bool ControlBinding::add(const QString &name, Register *reg)
{
    if (!reg || m_entries.contains(name)) {
        if (reg)
            qCDebug(lcApplet, "%s already contains %s", qPrintable(m_owner), qPrintable(name));
        return false;
    }
    auto *entry = new ParameterEntry;
    entry->kind = ParameterEntry::KindRegister;
    entry->reg = reg;
    m_entries.insert(name, entry);
    m_order.append(name);
    return true;
}

bool ControlBinding::add(const QString &name, Variable *var)
{
    if (!var || m_entries.contains(name)) {
        if (var)
            qCDebug(lcApplet, "%s already contains %s", qPrintable(m_owner), qPrintable(name));
        return false;
    }
    auto *entry = new ParameterEntry;
    entry->kind = ParameterEntry::KindVariable;
    entry->var = var;
    m_entries.insert(name, entry);
    m_order.append(name);
    return true;
}

bool ControlBinding::write(const QString &path, const QVariant &value, int origin)
{
    if (path.isEmpty() || value.isNull())
        return false;
    const QString name = parameterNameOf(path);
    ParameterEntry *entry = m_entries.value(name);
    if (!entry)
        return false;
    const quint64 refreshesBefore = m_refreshes;
    bool result = false;
    if (entry->reg) {
        result = entry->reg->set(path, value.toUInt());
    } else if (entry->var->type() == Variable::String) {
        result = entry->var->setText(value.toByteArray(), origin);
    } else {
        bool converted = false;
        const double d = value.toDouble(&converted);
        result = converted && entry->var->setValue(d, origin);
    }
    // A change seen online has refreshed the controls already.
    if (m_refreshes == refreshesBefore)
        refresh(name);
    return result;
}

bool ControlBinding::writeBits(const QString &name, uint lo, uint hi, uint value)
{
    const ParameterEntry *entry = m_entries.value(name);
    if (!entry || !entry->reg)
        return false;
    // Only a change can leave the controls behind: decoding repeats values.
    const uint before = entry->reg->bits(qMin(lo, hi), qMax(lo, hi));
    const quint64 refreshesBefore = m_refreshes;
    const bool result = entry->reg->set(lo, hi, value);
    if (m_refreshes == refreshesBefore && entry->reg->bits(qMin(lo, hi), qMax(lo, hi)) != before)
        refresh(name);
    return result;
}

QVariant ControlBinding::read(const QString &path) const
{
    const ParameterEntry *entry = m_entries.value(parameterNameOf(path));
    if (!entry)
        return QVariant();
    if (entry->reg)
        return QVariant(uint(entry->reg->get(path)));
    if (entry->var->type() == Variable::String) {
        return QVariant(QString::fromLatin1(upToNul(entry->var->text())));
    }
    return QVariant(entry->var->value());
}

void ControlBinding::bindAll(QObject *root)
{
    // Breadth first, eleven levels deep: every form of the system is shallower.
    QObjectList gathered = root->children();
    qsizetype from = 0;
    for (int pass = 0; pass < 10; ++pass) {
        const qsizetype to = gathered.size();
        for (qsizetype i = from; i < to; ++i)
            gathered += gathered.at(i)->children();
        from = to;
    }
    m_controls.clear();
    for (QObject *object : std::as_const(gathered)) {
        if (!QString::fromLatin1(object->metaObject()->className()).contains(QLatin1String("CustomControls")))
            continue;
        if (auto *control = qobject_cast<UniversalControl *>(object))
            m_controls.append(control);
    }
    for (UniversalControl *control : std::as_const(m_controls)) {
        if (!control->isConnected())
            bind(control);
    }
}

void ControlBinding::bind(UniversalControl *control)
{
    const auto trigger = [this, control] { triggered(control); };
    if (control->kind() == UniversalControl::KindPushButton) {
        control->connectTrigger(this, trigger);
        return;
    }
    control->prepare();
    ParameterEntry *entry = m_entries.value(control->name(1));
    if (!entry)
        return;
    entry->controls.append(control);
    QPair<qint64, qint64> range(-1, -1);
    if (entry->reg && !entry->reg->rangeOf(control->name(2), range.first, range.second))
        range = {-1, -1};
    entry->ranges.append(range);

    QString description;
    if (entry->reg) {
        QString fieldName;
        entry->reg->fieldInfo(control->name(2), fieldName, description);
        if (control->text().isEmpty())
            control->setText(fieldName);
        if (entry->reg->isReadOnly()) {
            control->setWritable(false);
        } else {
            Register *view = entry->reg->select(fieldName);
            const RegisterBit *first = view ? view->bitAt(0) : nullptr;
            control->setWritable(!first || first->attribute(QStringLiteral("readonly")).toInt() == 0);
        }
    } else {
        description = entry->var->description();
        if (entry->var->isReadOnly())
            control->setWritable(false);
        control->setRange(entry->var->min(), entry->var->max());
    }
    control->setToolTip(
        QStringLiteral("%1 <font color=#0000ff><br>%2</font><br>").arg(description, control->name(2)));
    control->connectTrigger(this, trigger);
}

void ControlBinding::triggered(UniversalControl *control)
{
    if (!control)
        return;
    if (control->kind() == UniversalControl::KindPushButton) {
        emit signal_functionRequested(control->name(1), QVariant(control->name(0)));
        return;
    }
    const QString name = control->name(1);
    ParameterEntry *entry = m_entries.value(name);
    if (!entry)
        return;
    if (entry->var && entry->var->type() == Variable::String) {
        const QByteArray text = control->byteValue();
        entry->var->setText(text, ORIGIN_USER);
        refresh(name);
        if (!m_refreshing)
            emit signal_userWrite(name, QString::fromLatin1(text));
        return;
    }
    // A typo is no 0: nothing is written, and the control keeps the text
    // (marked invalid) for the user to mend.
    double number = 0;
    if (!control->readNumber(number)) {
        emit signal_log(1, QStringLiteral("%1: \"%2\" is no number; %3 is unchanged")
                               .arg(m_owner, QString::fromLatin1(control->byteValue()), name));
        return;
    }
    if (entry->reg) {
        const uint bits = uint(qint64(number));
        entry->reg->set(control->name(2), bits);
        refresh(name);
        if (!m_refreshing)
            emit signal_userWrite(control->name(2), bits);
    } else {
        entry->var->setValue(number, ORIGIN_USER);
        refresh(name);
        if (!m_refreshing)
            emit signal_userWrite(name, number);
    }
}

void ControlBinding::refresh(const QString &name)
{
    if (!m_entries.contains(name))
        return;
    ++m_refreshes;
    if (!m_batcher || !m_batcher->isOpen()) {
        refreshNow(name);
        return;
    }
    if (m_collected.isEmpty())
        m_batcher->collect(this);
    m_collected.insert(name);
}

void ControlBinding::refreshAll()
{
    for (const QString &name : std::as_const(m_order))
        refresh(name);
}

void ControlBinding::refreshCollected()
{
    const QSet<QString> names = std::exchange(m_collected, {});
    for (const QString &name : names)
        refreshNow(name);
}

void ControlBinding::refreshNow(const QString &name)
{
    const ParameterEntry *entry = m_entries.value(name);
    if (!entry)
        return;
    ++m_refreshing;
    const auto done = qScopeGuard([this] { --m_refreshing; });
    for (qsizetype i = 0; i < entry->controls.size(); ++i) {
        UniversalControl *control = entry->controls.at(i);
        if (entry->var && entry->var->type() == Variable::String) {
            control->setByteValue(entry->var->text());
            continue;
        }
        if (entry->var) {
            control->setValue(entry->var->value());
            continue;
        }
        const QPair<qint64, qint64> &range = entry->ranges.at(i);
        control->setValue(double(range.first < 0 ? entry->reg->get(control->name(2))
                                                 : entry->reg->bits(range.first, range.second)));
    }
}
