#include "platform/RegFile.h"

#include <cstdio>

#include "platform/ByteOrder.h"

namespace platform {

const char kRegFileHeader5[] = "Windows Registry Editor Version 5.00";
const char kRegFileHeader4[] = "REGEDIT4";

namespace {

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Unpaired surrogates become '?', as a lossy code-page conversion would.
std::string Utf16LeToUtf8(const uint8_t* bytes, size_t size) {
    std::string out;
    size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = LoadLe16(bytes + 2 * i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
            uint32_t low = LoadLe16(bytes + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit < 0xE000) ? '?' : unit);
    }
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimRight(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && (IsBlank(text[end - 1]) || text[end - 1] == '\r')) --end;
    return text.substr(0, end);
}

std::string TrimLeft(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    return text.substr(begin);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct LogicalLine {
    size_t number;
    std::string text;
};

// Joins hex data continued with a trailing backslash; comments never continue.
std::vector<LogicalLine> SplitLines(const std::string& text) {
    std::vector<LogicalLine> lines;
    size_t number = 0;
    bool continuing = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimRight(text.substr(pos, end - pos));
        ++number;
        if (continuing) {
            lines.back().text += TrimLeft(line);
        } else {
            lines.push_back({number, line});
        }
        std::string& current = lines.back().text;
        std::string head = TrimLeft(current);
        continuing = !current.empty() && current.back() == '\\' && head[0] != ';';
        if (continuing) current.pop_back();
        pos = end + 1;
    }
    return lines;
}

class LineParser {
  public:
    LineParser(const std::string& text, bool unicodeFile) : text_(text), unicode_(unicodeFile) {}

    bool ParseValue(RegFileValue& value, std::string& message) {
        if (Peek() == '@') {
            ++pos_;
        } else if (!ParseQuoted(value.name, message)) {
            return false;
        }
        SkipBlanks();
        if (Peek() != '=') return Fail(message, "'=' expected after the value name");
        ++pos_;
        SkipBlanks();
        if (Peek() == '-') {
            ++pos_;
            value.remove = true;
        } else if (Peek() == '"') {
            std::string text;
            if (!ParseQuoted(text, message)) return false;
            value.type = 1;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (Consume("dword:")) {
            if (!ParseDword(value, message)) return false;
        } else if (Consume("hex")) {
            if (!ParseHexValue(value, message)) return false;
        } else {
            return Fail(message, "unknown value data");
        }
        SkipBlanks();
        if (pos_ != text_.size()) return Fail(message, "unexpected text after the value");
        return true;
    }

  private:
    char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    void SkipBlanks() {
        while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    }
    bool Consume(const char* word) {
        size_t length = std::char_traits<char>::length(word);
        if (text_.compare(pos_, length, word) != 0) return false;
        pos_ += length;
        return true;
    }
    static bool Fail(std::string& message, const char* text) {
        message = text;
        return false;
    }

    bool ParseQuoted(std::string& out, std::string& message) {
        if (Peek() != '"') return Fail(message, "'\"' expected");
        ++pos_;
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c == '\\') {
                char next = Peek();
                if (next != '\\' && next != '"') return Fail(message, "unknown escape in a string");
                ++pos_;
                c = next;
            }
            out += c;
        }
        return Fail(message, "string not closed");
    }

    bool ParseDword(RegFileValue& value, std::string& message) {
        uint32_t number = 0;
        size_t digits = 0;
        while (HexDigit(Peek()) >= 0) {
            if (++digits > 8) return Fail(message, "dword value too long");
            number = (number << 4) | static_cast<uint32_t>(HexDigit(text_[pos_++]));
        }
        if (digits == 0) return Fail(message, "dword value without digits");
        value.type = 4;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
        return true;
    }

    bool ParseHexValue(RegFileValue& value, std::string& message) {
        value.type = 3;
        if (Peek() == '(') {
            ++pos_;
            uint32_t type = 0;
            size_t digits = 0;
            while (HexDigit(Peek()) >= 0) {
                if (++digits > 8) return Fail(message, "value type too long");
                type = (type << 4) | static_cast<uint32_t>(HexDigit(text_[pos_++]));
            }
            if (digits == 0 || !Consume(")")) return Fail(message, "malformed value type");
            value.type = type;
        }
        if (!Consume(":")) return Fail(message, "':' expected after hex");
        if (!ParseBytes(value.data, message)) return false;
        bool stringType = value.type == 1 || value.type == 2 || value.type == 7;
        if (unicode_ && stringType && value.data.size() % 2 == 0) {
            std::string text = Utf16LeToUtf8(value.data.data(), value.data.size());
            value.data.assign(text.begin(), text.end());
        }
        return true;
    }

    bool ParseBytes(std::vector<uint8_t>& bytes, std::string& message) {
        SkipBlanks();
        while (pos_ < text_.size()) {
            int high = HexDigit(Peek());
            if (high < 0) return Fail(message, "hex byte expected");
            ++pos_;
            int byte = high;
            if (HexDigit(Peek()) >= 0) byte = (high << 4) | HexDigit(text_[pos_++]);
            bytes.push_back(static_cast<uint8_t>(byte));
            SkipBlanks();
            if (pos_ == text_.size()) break;
            if (Peek() != ',') return Fail(message, "',' expected between hex bytes");
            ++pos_;
            SkipBlanks();
        }
        return true;
    }

    const std::string& text_;
    bool unicode_;
    size_t pos_ = 0;
};

std::string DecodeFile(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE)
        return Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

bool Reject(RegFileError& error, size_t line, const std::string& message) {
    error.line = line;
    error.message = message;
    return false;
}

}  // namespace

bool ParseRegFile(const std::string& bytes, std::vector<RegFileKey>& keys, RegFileError& error) {
    keys.clear();
    std::string text = DecodeFile(bytes);
    if (text.find('\0') != std::string::npos)
        return Reject(error, 0, "the file holds zero characters");
    std::vector<LogicalLine> lines = SplitLines(text);
    std::string header = lines.empty() ? std::string() : lines[0].text;
    bool unicode = header == kRegFileHeader5;
    if (!unicode && header != kRegFileHeader4)
        return Reject(error, 1, "not a registry file: unknown header");

    std::vector<RegFileKey> parsed;
    for (size_t i = 1; i < lines.size(); ++i) {
        const LogicalLine& line = lines[i];
        std::string body = TrimLeft(line.text);
        if (body.empty() || body[0] == ';') continue;
        if (body[0] == '[') {
            if (body.back() != ']' || body.size() < 3)
                return Reject(error, line.number, "malformed key line");
            RegFileKey key;
            key.remove = body[1] == '-';
            key.path = body.substr(key.remove ? 2 : 1, body.size() - (key.remove ? 3 : 2));
            if (key.path.empty()) return Reject(error, line.number, "empty key name");
            parsed.push_back(std::move(key));
            continue;
        }
        if (body[0] != '"' && body[0] != '@') return Reject(error, line.number, "unknown line");
        if (parsed.empty()) return Reject(error, line.number, "value before any key");
        if (parsed.back().remove) return Reject(error, line.number, "value under a deleted key");
        RegFileValue value;
        std::string message;
        if (!LineParser(body, unicode).ParseValue(value, message))
            return Reject(error, line.number, message);
        parsed.back().values.push_back(std::move(value));
    }
    keys = std::move(parsed);
    return true;
}

std::string QuoteRegFileString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

namespace {

// Only printable ASCII goes into quotes, so the file reads back byte for byte
// whatever the reader's idea of the encoding.
bool FitsQuotedString(const uint8_t* data, size_t size) {
    if (size == 0 || data[size - 1] != 0) return false;
    for (size_t i = 0; i + 1 < size; ++i)
        if (data[i] < 0x20 || data[i] > 0x7E) return false;
    return true;
}

}  // namespace

std::string FormatRegFileValue(const std::string& name, uint32_t type, const uint8_t* data,
                               size_t size) {
    std::string line = name.empty() ? "@=" : QuoteRegFileString(name) + "=";
    if (type == 1 && FitsQuotedString(data, size))
        return line +
               QuoteRegFileString(std::string(reinterpret_cast<const char*>(data), size - 1));
    char buffer[32];
    if (type == 4 && size == 4) {
        uint32_t number = LoadLe32(data);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        return line + buffer;
    }
    if (type == 3) {
        line += "hex:";
    } else {
        std::snprintf(buffer, sizeof buffer, "hex(%x):", type);
        line += buffer;
    }
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", data[i]);
        line += buffer;
        if (i + 1 < size) line += (i % 16 == 15) ? ",\\\n  " : ",";
    }
    return line;
}

}  // namespace platform
