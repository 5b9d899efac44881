// Decodes one scripting request as the server does: the lines that run,
// each parsed into its call, each value encoded back.
// Checked: no line that runs holds a line end or CR or is blank, no two
// neighbours are equal, a call's kind matches its command word and field
// count, and a decoded value encodes back to what a reply would carry.

#include "fuzzcheck.h"
#include "protocol/scriptprotocol.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace {

void checkValue(const QByteArray &field, const QVariant &value)
{
    const QByteArray encoded = ScriptProtocol::encode(value);
    if (field.isEmpty() || !QByteArray("ifsx").contains(field.at(0))) {
        CHECK(!value.isValid());
        CHECK(encoded.isEmpty());
        return;
    }
    CHECK(encoded.startsWith(field.at(0)));
    // A reply's value reads back as itself (reals after their first rounding).
    CHECK(ScriptProtocol::encode(ScriptProtocol::decode(encoded)) == encoded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray request(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> lines = ScriptProtocol::requestLines(request);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        CHECK(!line.contains('\n') && !line.contains('\r'));
        CHECK(!line.trimmed().isEmpty());
        CHECK(i == 0 || line != lines.at(i - 1));

        const ScriptProtocol::Call call = ScriptProtocol::parseLine(line);
        const QList<QByteArray> fields = line.split('\t');
        const QByteArray word = fields.at(0);
        switch (call.kind) {
        case ScriptProtocol::Call::Set:
            CHECK(word == "set" && fields.size() == 3);
            checkValue(fields.at(2), call.value);
            break;
        case ScriptProtocol::Call::Get:
            CHECK(word == "get" && fields.size() == 2 && !call.value.isValid());
            break;
        case ScriptProtocol::Call::Run:
            CHECK(word == "run" && fields.size() >= 2);
            if (fields.size() == 3)
                checkValue(fields.at(2), call.value);
            else if (fields.size() > 3)
                CHECK(call.value.toList().size() == fields.size() - 2);
            break;
        case ScriptProtocol::Call::Invalid:
            CHECK(fields.size() < 2 || (word != "get" && word != "run" && word != "set") ||
                  (word == "set" && fields.size() != 3) || (word == "get" && fields.size() != 2));
            break;
        }
        if (call.kind != ScriptProtocol::Call::Invalid)
            CHECK(!call.name.contains(QChar(0)) && call.name.size() <= fields.at(1).size());
    }
    return 0;
}
