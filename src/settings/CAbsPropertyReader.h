#pragma once
// Settings as sections of keys with text values, whatever holds them.

#include <map>
#include <string>
#include <vector>

class CAbsPropertyReader {
  public:
    using StringList = std::vector<std::string>;
    using StringMap = std::map<std::string, std::string>;

    CAbsPropertyReader() = default;
    CAbsPropertyReader(const CAbsPropertyReader&) = delete;
    CAbsPropertyReader& operator=(const CAbsPropertyReader&) = delete;

    virtual void GetSections(StringList& sections) = 0;
    virtual void WriteSection(const std::string& section, const StringMap& values) = 0;
    virtual bool ReadSection(const std::string& section, StringMap& values) = 0;
    // The key comes first and the section last.
    virtual void WriteString(const std::string& key, const std::string& value,
                             const std::string& section) = 0;
    virtual bool ReadString(const std::string& key, std::string& value,
                            const std::string& section) = 0;
    virtual bool ReservedOperation(int32_t argument) = 0;
    virtual bool Open(const std::string& location) = 0;
    virtual ~CAbsPropertyReader() = default;
    virtual void Close();

    bool IsOpened() const { return Opened; }

  protected:
    bool Opened = false;
};
