// libFuzzer target for the text conversion of every character set of the engine. The first byte
// picks the set; the rest is taken both as bytes stored in a column of that set and as text
// typed for one. Bytes that read as text must be written back to the very same bytes; bytes that
// do not must still show as UTF-8. Typed text that a field of the set accepts must be written in
// the set and read back as the same text; refused text must name a character the set cannot
// hold.
#include "CharacterSets.h"
#include "Errors.h"
#include "TableEngine.h"
#include "TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace sorvanto;

namespace {
[[noreturn]] void Broken() {
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const auto sets = AllCharSets();
    const TCharSet& set = sets[data[0] % sets.size()];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    // As stored bytes.
    std::string text, bytes, back;
    char32_t refused = 0;
    if (DecodeText(set, input, text)) {
        if (!EncodeText(set, text, bytes, refused) || bytes != input)
            Broken();
    } else if (!IsValidUtf8(text)) {
        Broken();
    }

    // As typed text, through a field of the set as the table engine checks it.
    if (!IsValidUtf8(input))
        return 0;
    if (EncodeText(set, input, bytes, refused)) {
        if (!DecodeText(set, bytes, back) || back != input)
            Broken();
    }
    TFieldDef def;
    def.Name = "NAME";
    def.DataType = TFieldType::ftString;
    def.Size = 32767;
    def.CharSet = def.ColumnCharSet = set.id;
    TTableEngine engine;
    engine.Load(TRowStore({def}));
    try {
        const TValue checked = engine.CheckValue(0, std::string(input));
        if (set.id != kCharSetOctets &&
            !EncodeText(set, std::get<std::string>(checked), bytes, refused))
            Broken();
    } catch (const ETableEngineError& error) {
        if (error.Message().find("文字セット") == std::string::npos)
            Broken();
    }
    return 0;
}
