// Reads the input as a workspace file (*.bench). Checks what must hold for
// any text: blocks come from lines, so no name or value holds a line feed;
// blocks written out again read back the same and whole; a cut file names
// the block it was cut in.

#include "app/workspacefile.h"
#include "fuzzcheck.h"

#include <QByteArray>

#include <cstdint>

namespace {

// What the reader cannot give back as it was: a trailing CR is taken for
// part of a line end, and a value or name that is a brace is read as one.
bool writable(const WorkspaceFile::Block &block)
{
    const QByteArray name = block.name.toLatin1();
    return !name.endsWith('\r') && name != "{" && !block.value.endsWith('\r') && block.value != "}" &&
           block.value != "{";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const WorkspaceFile::Parsed parsed = WorkspaceFile::parse(text);

    QList<WorkspaceFile::Block> kept;
    for (const WorkspaceFile::Block &block : parsed.blocks) {
        CHECK(!block.name.contains(QLatin1Char('\n')));
        CHECK(!block.value.contains('\n'));
        CHECK(block.value.size() <= text.size());
        if (writable(block))
            kept.append(block);
    }
    CHECK(parsed.cut || parsed.cutName.isEmpty());
    CHECK(!parsed.cutName.contains(QLatin1Char('\n')));
    // A file that does not end inside a block or after a name is not cut,
    // and what was read is all there is: more text after a complete file
    // only adds.
    if (!parsed.cut && !parsed.blocks.isEmpty()) {
        const WorkspaceFile::Parsed longer = WorkspaceFile::parse(text + "\n");
        CHECK(longer.blocks == parsed.blocks && !longer.cut);
    }

    const WorkspaceFile::Parsed again = WorkspaceFile::parse(WorkspaceFile::compose(kept));
    CHECK(again.blocks == kept);
    CHECK(!again.cut);
    return 0;
}
