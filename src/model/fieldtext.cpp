#include "model/fieldtext.h"

#include "model/modellog.h"
#include "model/modeltext.h"

#include <utility>

FieldSpec::FieldSpec(QStringView text)
{
    QString *sections[] = {&name, &first, &second, &valueText, &description};
    int current = 0;
    auto moveTo = [&](int target) {
        // A part may not come back once a later part has started ('A=1[2]').
        if (target < current) {
            valid = false;
            return false;
        }
        current = target;
        return true;
    };

    for (QChar c : text) {
        bool ok = true;
        switch (c.unicode()) {
        case u'[':
            hasBracket = true;
            ok = moveTo(1);
            break;
        case u':':
            hasColon = true;
            ok = moveTo(2);
            break;
        case u'=':
            hasValue = true;
            ok = moveTo(3);
            break;
        case u'#': current = 4; break;
        case u']': break;
        default: sections[current]->append(c);
        }
        if (!ok) {
            qCWarning(lcModel).noquote() << "ERROR parsing field" << text.toString();
            return;
        }
    }

    symbolic = !first.isEmpty() && first.at(0).unicode() < 128 && first.at(0).isLetter();
    if (hasBracket && !symbolic) {
        if (first.isEmpty()) {
            lo = 0;
            hi = AllBitsHigh;
            allBits = true;
        } else if (hasColon) {
            lo = ModelText::toInt(first);
            hi = ModelText::toInt(second);
            if (lo > hi)
                std::swap(lo, hi);
        } else {
            lo = hi = ModelText::toInt(first);
        }
    }
    if (hasValue)
        value = ModelText::toUIntAuto(valueText);
}

qint64 FieldSpec::width() const
{
    if (lo == hi && lo > 0)
        return lo;
    return qint64(hi) - qint64(lo) + 1;
}
