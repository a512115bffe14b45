// libFuzzer target for the profile file reader: any bytes must parse without a crash, a leak or
// undefined behaviour, and every section must read back as a parameter list.
#include "ParamList.h"
#include "ProfileFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const sorvanto::TProfileFile file = sorvanto::TProfileFile::Parse(bytes);
    for (const auto& section : file.Sections()) {
        auto lines = file.SectionLines(section.name);
        if (!lines)
            __builtin_trap(); // a section that exists must be found by its own name
        sorvanto::TParamList params;
        for (const std::string& line : *lines)
            params.Add(line);
        for (const char* name : {"Database", "User_Name", "Password", "DriverName"})
            static_cast<void>(params.ValueOfName(name));
        for (int i = 0; i < params.Count(); ++i)
            static_cast<void>(params.Value(i));
    }
    static_cast<void>(file.SectionLines("FBDOCUMENTCONNECTION"));
    return 0;
}
