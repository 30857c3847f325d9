#include "platform/VersionInfo.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace platform {
namespace {

// Our builds put the version strings in a section of their own that is not
// loaded into memory, as "path\0value\0" pairs ended by an empty path.
constexpr char kSectionName[] = ".vela2_version";
constexpr size_t kMaxVersionData = 65536;

bool ReadAt(std::ifstream& file, uint64_t offset, void* into, size_t size) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(static_cast<char*>(into), static_cast<std::streamsize>(size));
    return static_cast<size_t>(file.gcount()) == size;
}

struct Section {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t name = 0;
};

template <typename Ehdr, typename Shdr>
bool ReadSections(std::ifstream& file, std::vector<Section>& sections, uint16_t& names) {
    Ehdr header;
    if (!ReadAt(file, 0, &header, sizeof header)) return false;
    if (header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0 ||
        header.e_shstrndx >= header.e_shnum)
        return false;
    for (uint16_t i = 0; i < header.e_shnum; ++i) {
        Shdr entry;
        if (!ReadAt(file, header.e_shoff + uint64_t(i) * sizeof(Shdr), &entry, sizeof entry))
            return false;
        sections.push_back({entry.sh_offset, entry.sh_size, entry.sh_name});
    }
    names = header.e_shstrndx;
    return true;
}

bool ReadVersionSection(const std::string& path, std::vector<char>& data) {
    std::ifstream file(path, std::ios::binary);
    unsigned char ident[EI_NIDENT];
    if (!file || !ReadAt(file, 0, ident, sizeof ident) ||
        std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB)
        return false;
    std::vector<Section> sections;
    uint16_t names = 0;
    bool ok = ident[EI_CLASS] == ELFCLASS64
                  ? ReadSections<Elf64_Ehdr, Elf64_Shdr>(file, sections, names)
              : ident[EI_CLASS] == ELFCLASS32
                  ? ReadSections<Elf32_Ehdr, Elf32_Shdr>(file, sections, names)
                  : false;
    if (!ok) return false;
    const Section& table = sections[names];
    if (table.size == 0 || table.size > (1u << 24)) return false;
    std::vector<char> nameTable(table.size + 1, '\0');
    if (!ReadAt(file, table.offset, nameTable.data(), table.size)) return false;
    for (const Section& section : sections) {
        if (section.name >= table.size || std::strcmp(&nameTable[section.name], kSectionName) != 0)
            continue;
        size_t size = section.size < kMaxVersionData ? section.size : kMaxVersionData;
        data.assign(size, '\0');
        return size > 0 && ReadAt(file, section.offset, data.data(), size);
    }
    return false;
}

}  // namespace

bool VersionInfo::Load(const std::string& modulePath) {
    values_.clear();
    std::vector<char> data;
    if (!ReadVersionSection(modulePath, data)) return false;
    data.push_back('\0');
    data.push_back('\0');
    size_t at = 0;
    while (at < data.size() && data[at] != '\0') {
        std::string path(&data[at]);
        at += path.size() + 1;
        if (at >= data.size()) break;
        std::string value(&data[at]);
        at += value.size() + 1;
        values_[path] = value;
    }
    return !values_.empty();
}

}  // namespace platform
