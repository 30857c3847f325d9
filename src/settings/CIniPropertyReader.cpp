#include "settings/CIniPropertyReader.h"

#include <vector>

#include "platform/Profile.h"

namespace {
constexpr uint32_t kSectionNamesSize = 16384;
constexpr uint32_t kSectionSize = 32767;
constexpr uint32_t kValueSize = 16384;
}  // namespace

CAbsPropertyReader::StringList CIniPropertyReader::SplitList(const char* buffer, uint32_t length) {
    StringList tokens;
    std::string token;
    for (uint32_t i = 0; i < length; ++i) {
        char c = buffer[i];
        if (c == '\0' || c == ';') {
            if (!token.empty()) tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

void CIniPropertyReader::GetSections(StringList& sections) {
    sections.clear();
    std::vector<char> buffer(kSectionNamesSize);
    uint32_t length =
        platform::ProfileSectionNames(buffer.data(), kSectionNamesSize, FileName.c_str());
    sections = SplitList(buffer.data(), length);
}

void CIniPropertyReader::WriteSection(const std::string& section, const StringMap& values) {
    for (const auto& entry : values) WriteString(entry.first, entry.second, section);
}

bool CIniPropertyReader::ReadSection(const std::string& section, StringMap& values) {
    values.clear();
    std::vector<char> buffer(kSectionSize);
    uint32_t length =
        platform::ProfileSection(section.c_str(), buffer.data(), kSectionSize, FileName.c_str());
    for (const std::string& line : SplitList(buffer.data(), length)) {
        size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return true;
}

void CIniPropertyReader::WriteString(const std::string& key, const std::string& value,
                                     const std::string& section) {
    platform::ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), FileName.c_str());
}

bool CIniPropertyReader::ReadString(const std::string& key, std::string& value,
                                    const std::string& section) {
    std::vector<char> buffer(kValueSize);
    uint32_t length = platform::ProfileReadString(section.c_str(), key.c_str(), "", buffer.data(),
                                                  kValueSize, FileName.c_str());
    value.assign(buffer.data(), length);
    return true;
}

bool CIniPropertyReader::ReservedOperation(int32_t /*argument*/) { return true; }

bool CIniPropertyReader::Open(const std::string& fileName) {
    if (!platform::ProfileFileExists(fileName.c_str())) return false;
    FileName = fileName;
    return true;
}
