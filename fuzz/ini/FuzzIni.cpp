// INI text of any shape: parsing never fails, writing it back is stable, an
// edit is read back, and the list form stays inside its buffer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/IniFile.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

const char* const kSections[] = {"General Info", "Device_04B4", "usb settings", "New Section"};
const char* const kKeys[] = {"Simulated Data", "1002", "k", "GAIN"};
const char* const kValues[] = {"1", "", "a;b", "THREAD_PRIORITY_HIGHEST"};

void CheckPacking(const std::vector<std::string>& items, uint32_t size) {
    std::vector<char> buffer(size + 1, '#');
    uint32_t length = platform::PackProfileList(items, buffer.data(), size);
    Check(buffer[size] == '#');
    if (size == 0) return;
    Check(length < size);
    Check(buffer[length] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint8_t choice = data[0];
    uint32_t listSize = data[1];
    std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    platform::IniFile ini(text);
    std::string written = ini.Text();
    Check(platform::IniFile(written).Text() == written);

    std::vector<std::string> names = ini.SectionNames();
    CheckPacking(names, listSize);
    for (const std::string& name : names) {
        std::vector<platform::IniFile::Entry> entries;
        Check(ini.Section(name, entries));
        std::vector<std::string> lines;
        for (const auto& entry : entries) lines.push_back(entry.key + "=" + entry.value);
        CheckPacking(lines, listSize);
    }

    const char* section = kSections[choice & 3];
    const char* key = kKeys[(choice >> 2) & 3];
    const char* value = kValues[(choice >> 4) & 3];
    ini.Set(section, key, value);
    std::string read;
    Check(ini.Find(section, key, read) && read == value);
    platform::IniFile reread(ini.Text());
    Check(reread.Find(section, key, read) && read == value);
    if (choice & 0x40) {
        reread.RemoveKey(section, key);
    } else {
        reread.RemoveSection(section);
    }
    std::string edited = reread.Text();
    Check(platform::IniFile(edited).Text() == edited);
    std::string unquoted = platform::UnquoteProfileValue(text.substr(0, 64));
    Check(unquoted.size() <= 64);
    return 0;
}
