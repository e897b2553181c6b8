// The export table of an ELF or PE file, read with a bounds check at every
// step: the file is anyone's, and a bad offset must be an answer, never a
// read outside it.
#include "export_table.h"

#include "platform/platform.h"

#include <stdint.h>

#include <cstring>
#include <vector>

namespace pexil::tool {
namespace {

// The file's bytes, read through the platform: a regular file only, opened
// without blocking.
bool ReadWhole(const std::string& path, std::vector<unsigned char>& bytes, std::string* problem) {
    const platform::Handle file = platform::OpenFileForRead(path.c_str());
    if (file == platform::kInvalidHandle) {
        char why[256] = "";
        platform::LastErrorText(why, sizeof(why));
        *problem = std::string("it cannot be read: ") + why;
        return false;
    }
    const uint32_t size = platform::GetFileSize(file);
    bool ok = size != UINT32_MAX && size <= platform::kMaxReadFileSize;
    if (!ok) *problem = "it is too large to read";
    if (ok) {
        bytes.resize(size);
        uint32_t got = 0;
        ok = platform::ReadFile(file, bytes.data(), size, &got) != 0 && got == size;
        if (!ok) *problem = "it cannot be read whole";
    }
    platform::CloseFile(file);
    return ok;
}

// Little- or big-endian fields at offsets the file gives; every read checked.
class Bytes {
public:
    Bytes(const std::vector<unsigned char>& bytes, bool bigEndian)
        : bytes_(bytes), bigEndian_(bigEndian) {}

    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    uint64_t Read(uint64_t offset, int size) const {
        uint64_t value = 0;
        for (int k = 0; k < size; ++k) {
            const unsigned char byte = bytes_[static_cast<size_t>(offset) + k];
            value |= static_cast<uint64_t>(byte) << (8 * (bigEndian_ ? size - 1 - k : k));
        }
        return value;
    }
    // The zero-terminated string at the offset, within [offset, end), equals name.
    bool NameAt(uint64_t offset, uint64_t end, const char* name) const {
        const size_t length = std::strlen(name);
        if (end > bytes_.size() || offset > end || length + 1 > end - offset) return false;
        return std::memcmp(&bytes_[static_cast<size_t>(offset)], name, length) == 0 &&
               bytes_[static_cast<size_t>(offset) + length] == 0;
    }

private:
    const std::vector<unsigned char>& bytes_;
    bool bigEndian_;
};

ExportFound FindInElf(const std::vector<unsigned char>& file, const char* name,
                      std::string* problem) {
    const bool wide = file[4] == 2;
    if ((file[4] != 1 && file[4] != 2) || (file[5] != 1 && file[5] != 2)) {
        *problem = "its ELF class or byte order is unknown";
        return ExportFound::NotAModule;
    }
    const Bytes in(file, file[5] == 2);
    const int word = wide ? 8 : 4;
    const uint64_t headerSize = wide ? 64 : 52;
    if (!in.Has(0, headerSize)) {
        *problem = "its ELF header is cut short";
        return ExportFound::NotAModule;
    }
    const uint64_t sectionsAt = in.Read(wide ? 40 : 32, word);
    const uint64_t sectionSize = in.Read(wide ? 58 : 46, 2);
    const uint64_t sectionCount = in.Read(wide ? 60 : 48, 2);
    const uint64_t minimumSectionSize = wide ? 64 : 40;
    if (sectionsAt == 0 || sectionCount == 0 || sectionSize < minimumSectionSize ||
        !in.Has(sectionsAt, sectionSize * sectionCount)) {
        *problem = "it has no section table to find its dynamic symbols in";
        return ExportFound::NotAModule;
    }
    struct Section {
        uint64_t type, offset, size, link, entrySize;
    };
    auto section = [&](uint64_t index) {
        const uint64_t at = sectionsAt + index * sectionSize;
        return Section{in.Read(at + 4, 4), in.Read(at + (wide ? 24 : 16), word),
                       in.Read(at + (wide ? 32 : 20), word), in.Read(at + (wide ? 40 : 24), 4),
                       in.Read(at + (wide ? 56 : 36), word)};
    };
    constexpr uint64_t kDynamicSymbols = 11;  // SHT_DYNSYM
    const uint64_t symbolSize = wide ? 24 : 16;
    for (uint64_t index = 0; index < sectionCount; ++index) {
        const Section symbols = section(index);
        if (symbols.type != kDynamicSymbols) continue;
        if (symbols.entrySize < symbolSize || !in.Has(symbols.offset, symbols.size) ||
            symbols.link >= sectionCount) {
            *problem = "its dynamic symbol table is damaged";
            return ExportFound::NotAModule;
        }
        const Section strings = section(symbols.link);
        if (!in.Has(strings.offset, strings.size)) {
            *problem = "its dynamic string table is damaged";
            return ExportFound::NotAModule;
        }
        const uint64_t count = symbols.size / symbols.entrySize;
        for (uint64_t k = 1; k < count; ++k) {  // entry 0 is the null symbol
            const uint64_t at = symbols.offset + k * symbols.entrySize;
            const uint64_t nameAt = in.Read(at, 4);
            const uint64_t info = in.Read(at + (wide ? 4 : 12), 1);
            const uint64_t other = in.Read(at + (wide ? 5 : 13), 1);
            const uint64_t sectionIndex = in.Read(at + (wide ? 6 : 14), 2);
            const uint64_t binding = info >> 4;
            const uint64_t visibility = other & 3;
            // Defined; global, weak or GNU-unique; default or protected.
            if (sectionIndex == 0 || (binding != 1 && binding != 2 && binding != 10) ||
                (visibility != 0 && visibility != 3)) {
                continue;
            }
            if (in.NameAt(strings.offset + nameAt, strings.offset + strings.size, name)) {
                return ExportFound::Yes;
            }
        }
        return ExportFound::No;
    }
    return ExportFound::No;  // no dynamic symbols: nothing is exported
}

ExportFound FindInPe(const std::vector<unsigned char>& file, const char* name,
                     std::string* problem) {
    const Bytes in(file, false);
    if (!in.Has(0x3c, 4)) {
        *problem = "its DOS header is cut short";
        return ExportFound::NotAModule;
    }
    const uint64_t pe = in.Read(0x3c, 4);
    if (!in.Has(pe, 24) || in.Read(pe, 4) != 0x00004550) {  // "PE\0\0"
        *problem = "it is an MZ file without a PE header";
        return ExportFound::NotAModule;
    }
    const uint64_t sectionCount = in.Read(pe + 6, 2);
    const uint64_t optionalSize = in.Read(pe + 20, 2);
    const uint64_t optional = pe + 24;
    if (!in.Has(optional, 2)) {
        *problem = "its optional header is cut short";
        return ExportFound::NotAModule;
    }
    const uint64_t magic = in.Read(optional, 2);
    const uint64_t directories = magic == 0x20b ? 112 : 96;  // PE32+ or PE32
    if ((magic != 0x10b && magic != 0x20b) || optionalSize < directories ||
        !in.Has(optional, optionalSize)) {
        *problem = "its optional header is damaged";
        return ExportFound::NotAModule;
    }
    const uint64_t directoryCount = in.Read(optional + directories - 4, 4);
    if (directoryCount == 0 || optionalSize < directories + 8) return ExportFound::No;
    const uint64_t exportsRva = in.Read(optional + directories, 4);
    const uint64_t exportsSize = in.Read(optional + directories + 4, 4);
    if (exportsRva == 0 || exportsSize == 0) return ExportFound::No;  // no export directory
    const uint64_t sections = optional + optionalSize;
    if (!in.Has(sections, sectionCount * 40)) {
        *problem = "its section table is cut short";
        return ExportFound::NotAModule;
    }
    // A relative virtual address as an offset in the file; false when no
    // section holds it in the file. Section tables and name tables can both
    // be long: a file that would make the search through them endless is
    // not read (a real module needs a few thousand steps).
    uint64_t steps = 0;
    constexpr uint64_t kMostSteps = uint64_t{1} << 26;
    auto offsetOf = [&](uint64_t rva, uint64_t* offset) {
        for (uint64_t k = 0; k < sectionCount && ++steps <= kMostSteps; ++k) {
            const uint64_t at = sections + k * 40;
            const uint64_t address = in.Read(at + 12, 4);
            const uint64_t rawSize = in.Read(at + 16, 4);
            const uint64_t rawAt = in.Read(at + 20, 4);
            if (rva >= address && rva - address < rawSize) {
                *offset = rawAt + (rva - address);
                return true;
            }
        }
        return false;
    };
    uint64_t directory = 0;
    if (!offsetOf(exportsRva, &directory) || !in.Has(directory, 40)) {
        *problem = "its export directory lies outside the file";
        return ExportFound::NotAModule;
    }
    const uint64_t functionCount = in.Read(directory + 20, 4);
    const uint64_t nameCount = in.Read(directory + 24, 4);
    uint64_t functions = 0, names = 0, ordinals = 0;
    if (nameCount == 0) return ExportFound::No;
    if (!offsetOf(in.Read(directory + 28, 4), &functions) ||
        !offsetOf(in.Read(directory + 32, 4), &names) ||
        !offsetOf(in.Read(directory + 36, 4), &ordinals) || !in.Has(names, nameCount * 4) ||
        !in.Has(ordinals, nameCount * 2) || !in.Has(functions, functionCount * 4)) {
        *problem = "its export tables lie outside the file";
        return ExportFound::NotAModule;
    }
    for (uint64_t k = 0; k < nameCount; ++k) {
        uint64_t nameAt = 0;
        if (!offsetOf(in.Read(names + 4 * k, 4), &nameAt)) {
            if (steps <= kMostSteps) continue;
            *problem = "its export tables are too large to search";
            return ExportFound::NotAModule;
        }
        if (!in.NameAt(nameAt, file.size(), name)) continue;
        const uint64_t ordinal = in.Read(ordinals + 2 * k, 2);
        // A name whose address slot is empty or missing exports nothing.
        return ordinal < functionCount && in.Read(functions + 4 * ordinal, 4) != 0
                   ? ExportFound::Yes
                   : ExportFound::No;
    }
    return ExportFound::No;
}

}  // namespace

ExportFound FindExport(const std::string& path, const char* name, std::string* problem) {
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    std::vector<unsigned char> file;
    if (!ReadWhole(path, file, problem)) return ExportFound::NotAModule;
    return FindExportIn(file, name, problem);
}

ExportFound FindExportIn(const std::vector<unsigned char>& file, const char* name,
                         std::string* problem) {
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    if (file.size() >= 16 && file[0] == 0x7f && file[1] == 'E' && file[2] == 'L' &&
        file[3] == 'F') {
        return FindInElf(file, name, problem);
    }
    if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') return FindInPe(file, name, problem);
    *problem = "it is neither an ELF nor a PE file";
    return ExportFound::NotAModule;
}

}  // namespace pexil::tool
