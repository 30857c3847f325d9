#include "settings/CRegistryPropertyReader.h"

#include "platform/DebugTrace.h"
#include "platform/MessageSink.h"
#include "platform/SystemError.h"

namespace {

const uint32_t kAccess = platform::kKeyAllAccess;

void ShowPlainMessage(const char* text) {
    platform::ShowMessage(text, platform::ApplicationTitle(), platform::MessageIcon::None);
}

}  // namespace

bool CRegistryPropertyReader::RequireOpened() const {
    if (!Opened) ShowPlainMessage("CRegistryPropertyReader::Open must be called first.");
    return Opened;
}

CRegistryKey CRegistryPropertyReader::LocationKey() const {
    return CRegistryKey(RootKey, Location.c_str(), kAccess);
}

CRegistryKey CRegistryPropertyReader::SectionKey(const std::string& section,
                                                 const char* diagnostic) const {
    CRegistryKey location = LocationKey();
    if (!location.HasSubkey(section.c_str(), kAccess)) {
        platform::DebugTrace(diagnostic, section.c_str());
        return location.CreateKey(section.c_str(), "", platform::kRegOptionNonVolatile, kAccess,
                                  nullptr);
    }
    return location.OpenKey(section.c_str(), kAccess);
}

bool CRegistryPropertyReader::Open(const std::string& location) {
    return OpenLocation(location, nullptr);
}

bool CRegistryPropertyReader::OpenAt(const std::string& location, platform::RegKey rootKey) {
    return OpenLocation(location, &rootKey);
}

bool CRegistryPropertyReader::OpenLocation(const std::string& location,
                                           const platform::RegKey* rootKey) {
    Opened = false;
    size_t backslash = location.find('\\');
    if (backslash == std::string::npos) {
        ShowPlainMessage("Invalid format: use Software\\yyy");
        return false;
    }
    if (rootKey) RootKey = *rootKey;
    std::string head = location.substr(0, backslash);
    std::string tail = location.substr(backslash + 1);
    try {
        CRegistryKey headKey(RootKey, head.c_str(), kAccess);
        if (!headKey.HasSubkey(tail.c_str(), kAccess)) {
            headKey.CreateKey(tail.c_str(), "", platform::kRegOptionNonVolatile, kAccess, nullptr);
            platform::DebugTrace("Creating registry key %s", tail.c_str());
        }
    } catch (const CRegistryKey::Exception& failure) {
        failure.ShowMessage(nullptr);
        return false;
    }
    Location = location;
    Opened = true;
    return true;
}

bool CRegistryPropertyReader::ReadString(const std::string& key, std::string& value,
                                         const std::string& section) {
    value.clear();
    if (!RequireOpened()) return false;
    try {
        CRegistryKey location = LocationKey();
        if (!location.HasSubkey(section.c_str(), kAccess)) {
            platform::DebugTrace("Substring %s does not exist, but returning TRUE.",
                                 section.c_str());
            return true;
        }
        CRegistryKey sectionKey = location.OpenKey(section.c_str(), kAccess);
        try {
            value = sectionKey.QueryValue(key.c_str()).AsString();
        } catch (const CRegistryKey::Exception& failure) {
            if (failure.Error() != platform::kErrorFileNotFound) throw;
            sectionKey.SetValue(key.c_str(), "", platform::kRegSz);
            platform::DebugTrace("Substring %s does not exist. Creating new empty value.",
                                 key.c_str());
            return true;
        }
        platform::DebugTrace("%s\\%s = %s", section.c_str(), key.c_str(), value.c_str());
        return true;
    } catch (const CRegistryKey::Exception& failure) {
        value.clear();
        failure.ShowMessage(nullptr);
        return false;
    }
}

void CRegistryPropertyReader::WriteString(const std::string& key, const std::string& value,
                                          const std::string& section) {
    if (!RequireOpened()) return;
    try {
        SectionKey(section, "Creating registry key %s")
            .SetValue(key.c_str(), value.c_str(), platform::kRegSz);
        platform::DebugTrace("%s\\%s = %s", section.c_str(), key.c_str(), value.c_str());
    } catch (const CRegistryKey::Exception& failure) {
        failure.ShowMessage(nullptr);
    }
}

bool CRegistryPropertyReader::ReadSection(const std::string& section, StringMap& values) {
    if (!RequireOpened()) return false;
    try {
        CRegistryKey location = LocationKey();
        if (!location.HasSubkey(section.c_str(), kAccess)) {
            platform::DebugTrace("Substring %s does not exist, but returning TRUE.",
                                 section.c_str());
            return true;
        }
        CRegistryKey sectionKey = location.OpenKey(section.c_str(), kAccess);
        for (auto it = sectionKey.BeginValues(); it != sectionKey.EndValues(); ++it) {
            values[it.Name()] = it.AsString();
            platform::DebugTrace("%s = %s", it.Name(), it.AsString());
        }
        return true;
    } catch (const CRegistryKey::Exception& failure) {
        failure.ShowMessage(nullptr);
        return false;
    }
}

void CRegistryPropertyReader::WriteSection(const std::string& section, const StringMap& values) {
    if (!RequireOpened()) return;
    try {
        CRegistryKey sectionKey = SectionKey(section, "Creating registry string %s");
        for (const auto& entry : values) {
            sectionKey.SetValue(entry.first.c_str(), entry.second.c_str(), platform::kRegSz);
            platform::DebugTrace("%s\\%s\\%s = %s", Location.c_str(), section.c_str(),
                                 entry.first.c_str(), entry.second.c_str());
        }
    } catch (const CRegistryKey::Exception& failure) {
        failure.ShowMessage(nullptr);
    }
}

void CRegistryPropertyReader::GetSections(StringList& sections) {
    if (!RequireOpened()) return;
    sections.clear();
    try {
        CRegistryKey location = LocationKey();
        for (auto it = location.BeginSubkeys(); it != location.EndSubkeys(); ++it)
            sections.push_back(*it);
    } catch (const CRegistryKey::Exception& failure) {
        failure.ShowMessage(nullptr);
    }
}

bool CRegistryPropertyReader::ReservedOperation(int32_t /*argument*/) {
    ShowPlainMessage("Not Implemented.");
    return false;
}
