// Reads the input as a register file and applies its lines to registers of
// the chip's kind, as the help window does. Checks what must hold for any
// text: each line is a name and bits split at "::", the lines written out
// again read back the same, and applying bits sets exactly the bits the
// text covers.

#include "applet/registerfile.h"
#include "fuzzcheck.h"
#include "model/register.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QMap>

#include <cstdint>
#include <memory>

namespace {

const char *const Descriptions[][2] = {
    {"CR0", "HB_EN1=0#;HB_EN2=0#;HB_EN3=0#;HB_EN4=0#;_[2:0]#;SRA[2:0]#;SRA_MODE=0#;"},
    {"CR5A", "T_PC1[1:0]#;I_PCR1[2:0]#;I_PCF1[2:0]#;BLANK1[1:0]#;D10=0#;"},
    {"SR0", "@readonly=1;D0=0#;HB_QSB=0#;_[1:0]#;OVF=0#;UVF=0#;CPF=0#;CPL=0#;SPIF=0#;FSM=0#;RCF=0#;TM=0#;"},
    {"W", "A[31:0]#;B[15:0]#;"},
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("hql.model.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<RegisterFile::Line> lines = RegisterFile::parse(text);

    QList<RegisterFile::Line> kept;
    for (const RegisterFile::Line &line : lines) {
        CHECK(!line.name.contains(QLatin1String("::")) && !line.bits.contains("::"));
        CHECK(!line.name.contains(QLatin1Char('\n')) && !line.bits.contains('\n'));
        CHECK(!line.name.contains(QChar(0)) && !line.bits.contains('\0'));
        // A CR at the end would be taken for part of a line end.
        if (!line.bits.endsWith('\r'))
            kept.append(line);
    }
    CHECK(RegisterFile::parse(RegisterFile::compose(kept)) == kept);

    QMap<QString, std::shared_ptr<Register>> registers;
    for (const auto &d : Descriptions)
        registers.insert(QString::fromLatin1(d[0]), std::make_shared<Register>(d[1], d[0]));
    for (const RegisterFile::Line &line : lines) {
        const auto found = registers.constFind(line.name);
        if (found == registers.constEnd())
            continue;
        Register &reg = **found;
        const int size = reg.size();
        const QByteArray before = reg.toBitString(true);
        reg.fromBitString(line.bits);
        CHECK(reg.size() == size);
        const QByteArray after = reg.toBitString(true);
        for (int i = 0; i < size; ++i)
            CHECK(after[i] == (i < line.bits.size() ? (line.bits[i] == '0' ? '0' : '1') : before[i]));
    }
    return 0;
}
