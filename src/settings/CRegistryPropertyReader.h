#pragma once
// Settings in the registry: the location is a key path below RootKey, a
// section a direct subkey of it, a key a value name. No key stays open
// between calls. Registry failures are shown to the user and reported as
// failure; nothing is thrown.

#include "platform/Registry.h"
#include "settings/CAbsPropertyReader.h"
#include "settings/CRegistryKey.h"

class CRegistryPropertyReader : public CAbsPropertyReader {
  public:
    void GetSections(StringList& sections) override;
    void WriteSection(const std::string& section, const StringMap& values) override;
    bool ReadSection(const std::string& section, StringMap& values) override;
    void WriteString(const std::string& key, const std::string& value,
                     const std::string& section) override;
    // A missing key of an existing section is created empty; a missing
    // section reads as "" and is not created. Both succeed.
    bool ReadString(const std::string& key, std::string& value,
                    const std::string& section) override;
    bool ReservedOperation(int32_t argument) override;
    // Wants "Head\Tail": Head must exist, Tail is created below it if missing.
    bool Open(const std::string& location) override;
    virtual bool OpenAt(const std::string& location, platform::RegKey rootKey);

    const std::string& GetLocation() const { return Location; }
    platform::RegKey GetRootKey() const { return RootKey; }

  private:
    bool OpenLocation(const std::string& location, const platform::RegKey* rootKey);
    bool RequireOpened() const;
    CRegistryKey LocationKey() const;
    // The section below the location, created when missing.
    CRegistryKey SectionKey(const std::string& section, const char* diagnostic) const;

    std::string Location;
    platform::RegKey RootKey = platform::kHkeyCurrentUser;
};
