#pragma once
// The text of INI settings files, kept line for line so that an edit touches
// only the line it concerns. Pure text processing, no file access.

#include <string>
#include <vector>

namespace platform {

class IniFile {
  public:
    explicit IniFile(const std::string& text);

    struct Entry {
        std::string key;
        std::string value;
        bool hasValue;  // false for a line without '='
    };

    std::vector<std::string> SectionNames() const;
    // Entries of the first section of that name, comments and blank lines
    // left out. False when there is no such section.
    bool Section(const std::string& section, std::vector<Entry>& entries) const;
    // The raw value (blanks trimmed, quotes kept) of the first matching key.
    bool Find(const std::string& section, const std::string& key, std::string& value) const;

    void Set(const std::string& section, const std::string& key, const std::string& value);
    void RemoveKey(const std::string& section, const std::string& key);
    void RemoveSection(const std::string& section);

    std::string Text() const;

  private:
    struct Line {
        std::string text;     // without the line end
        bool header = false;  // a [section] line
        std::string name;     // section name or key, trimmed
        std::string value;
        bool hasValue = false;
        std::string ending;  // as read: "\r\n", "\n", or "" at the very end
    };

    static Line Classify(const std::string& text);
    // Index of the header of the first section of that name; npos when none.
    // The unnamed section before the first header is "".
    size_t FindSection(const std::string& section) const;
    size_t SectionEnd(size_t header) const;
    size_t FindKey(size_t header, const std::string& key) const;
    void Insert(size_t index, const std::string& text);

    std::vector<Line> lines_;
    std::string newline_ = "\r\n";
    bool bom_ = false;
};

// "a" "b" → the list form: "a\0b\0\0", cut as the profile functions cut it.
uint32_t PackProfileList(const std::vector<std::string>& items, char* buffer, uint32_t size);

// Strips one pair of matching quotes, as value reads do.
std::string UnquoteProfileValue(const std::string& value);

}  // namespace platform
