#include "platform/IniFile.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

constexpr size_t kPreamble = static_cast<size_t>(-2);
const char kByteOrderMark[] = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

bool IsComment(const std::string& name) { return !name.empty() && name[0] == ';'; }

}  // namespace

IniFile::IniFile(const std::string& source) {
    std::string text = source;
    if (text.compare(0, 3, kByteOrderMark) == 0) {
        bom_ = true;
        text = text.substr(3);
    }
    size_t lf = text.find('\n');
    if (lf != std::string::npos) newline_ = (lf > 0 && text[lf - 1] == '\r') ? "\r\n" : "\n";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string ending;
        if (end == std::string::npos) {
            end = text.size();
        } else {
            ending = "\n";
        }
        std::string line = text.substr(pos, end - pos);
        if (!ending.empty() && !line.empty() && line.back() == '\r') {
            line.pop_back();
            ending = "\r\n";
        }
        lines_.push_back(Classify(line));
        lines_.back().ending = ending;
        pos = end + 1;
    }
}

IniFile::Line IniFile::Classify(const std::string& text) {
    Line line;
    line.text = text;
    std::string body = Trim(text);
    size_t close = body.rfind(']');
    if (!body.empty() && body[0] == '[' && close != std::string::npos) {
        line.header = true;
        line.name = body.substr(1, close - 1);
        return line;
    }
    size_t equals = IsComment(body) ? std::string::npos : body.find('=');
    if (equals == std::string::npos) {
        line.name = body;
        return line;
    }
    line.name = Trim(body.substr(0, equals));
    line.value = Trim(body.substr(equals + 1));
    line.hasValue = true;
    return line;
}

size_t IniFile::FindSection(const std::string& section) const {
    if (section.empty()) return kPreamble;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].header && SameName(lines_[i].name, section)) return i;
    return std::string::npos;
}

size_t IniFile::SectionEnd(size_t header) const {
    size_t i = header == kPreamble ? 0 : header + 1;
    while (i < lines_.size() && !lines_[i].header) ++i;
    return i;
}

size_t IniFile::FindKey(size_t header, const std::string& key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header == kPreamble ? 0 : header + 1; i < end; ++i)
        if (!IsComment(lines_[i].name) && SameName(lines_[i].name, key)) return i;
    return std::string::npos;
}

std::vector<std::string> IniFile::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.header && !line.name.empty()) names.push_back(line.name);
    return names;
}

bool IniFile::Section(const std::string& section, std::vector<Entry>& entries) const {
    entries.clear();
    size_t header = FindSection(section);
    if (header == std::string::npos) return false;
    size_t end = SectionEnd(header);
    for (size_t i = header == kPreamble ? 0 : header + 1; i < end; ++i) {
        const Line& line = lines_[i];
        if ((line.name.empty() && !line.hasValue) || IsComment(line.name)) continue;
        entries.push_back({line.name, line.value, line.hasValue});
    }
    return true;
}

bool IniFile::Find(const std::string& section, const std::string& key, std::string& value) const {
    size_t header = FindSection(section);
    if (header == std::string::npos) return false;
    size_t line = FindKey(header, key);
    if (line == std::string::npos) return false;
    value = lines_[line].value;
    return true;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    size_t header = FindSection(section);
    if (header == std::string::npos) {
        Insert(lines_.size(), "[" + section + "]");
        Insert(lines_.size(), key + "=" + value);
        return;
    }
    size_t existing = FindKey(header, key);
    if (existing != std::string::npos) {
        std::string ending = lines_[existing].ending;
        lines_[existing] = Classify(lines_[existing].name + "=" + value);
        lines_[existing].ending = ending;
        return;
    }
    // After the section's last non-blank line, so blank separators stay put.
    size_t end = SectionEnd(header);
    size_t first = header == kPreamble ? 0 : header + 1;
    while (end > first && Trim(lines_[end - 1].text).empty()) --end;
    Insert(end, key + "=" + value);
}

// A new line ends like the file's lines; a last line that had no line end
// gets one when something follows it.
void IniFile::Insert(size_t index, const std::string& text) {
    if (index > 0 && lines_[index - 1].ending.empty()) lines_[index - 1].ending = newline_;
    Line line = Classify(text);
    line.ending = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), line);
}

void IniFile::RemoveKey(const std::string& section, const std::string& key) {
    size_t header = FindSection(section);
    if (header == std::string::npos) return;
    size_t line = FindKey(header, key);
    if (line != std::string::npos) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
}

void IniFile::RemoveSection(const std::string& section) {
    size_t header = FindSection(section);
    if (header == std::string::npos) return;
    size_t first = header == kPreamble ? 0 : header;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
}

std::string IniFile::Text() const {
    std::string text = bom_ ? kByteOrderMark : "";
    for (const Line& line : lines_) text += line.text + line.ending;
    return text;
}

uint32_t PackProfileList(const std::vector<std::string>& items, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    size_t pos = 0;
    for (const std::string& item : items) {
        if (pos + item.size() + 2 > size) {
            size_t room = pos < size - 2 ? size - 2 - pos : 0;
            std::memcpy(buffer + pos, item.data(), std::min(room, item.size()));
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + pos, item.c_str(), item.size() + 1);
        pos += item.size() + 1;
    }
    buffer[pos] = '\0';
    return static_cast<uint32_t>(pos);
}

std::string UnquoteProfileValue(const std::string& value) {
    if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace platform
