#pragma once
// Settings in an INI file, through the profile functions. Missing files,
// sections and keys read as empty with success; nothing is shown or thrown.

#include "settings/CAbsPropertyReader.h"

class CIniPropertyReader : public CAbsPropertyReader {
  public:
    void GetSections(StringList& sections) override;
    void WriteSection(const std::string& section, const StringMap& values) override;
    bool ReadSection(const std::string& section, StringMap& values) override;
    void WriteString(const std::string& key, const std::string& value,
                     const std::string& section) override;
    bool ReadString(const std::string& key, std::string& value,
                    const std::string& section) override;
    bool ReservedOperation(int32_t argument) override;
    // False, keeping the previous file name, when the file does not exist.
    bool Open(const std::string& fileName) override;

    const std::string& GetFileName() const { return FileName; }

    // The profile list form ("a\0b\0") as tokens: zeros and ';' both split,
    // empty tokens are dropped.
    static StringList SplitList(const char* buffer, uint32_t length);

  private:
    std::string FileName;
};
