#pragma once
// The text of registry files (.reg): reading them for import, and writing the
// same form for the registry store that stands in for the system registry
// where there is none. Pure text processing, no registry access.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct RegFileValue {
    std::string name;  // "" is the key's default value ("@")
    bool remove = false;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegFileKey {
    std::string path;  // as written between the brackets, root included
    bool remove = false;
    std::vector<RegFileValue> values;
};

struct RegFileError {
    size_t line = 0;  // 1-based; 0 when the file as a whole is wrong
    std::string message;
};

// The header lines. A "Version 5.00" file holds UTF-16LE bytes in its
// hex(1)/hex(2)/hex(7) data; a "REGEDIT4" file holds 8-bit text there.
extern const char kRegFileHeader5[];
extern const char kRegFileHeader4[];

// Reads a whole registry file: UTF-16LE with a byte-order mark or 8-bit/UTF-8
// text. Strings come out as UTF-8, and string-typed data as the 8-bit bytes
// the ANSI registry functions would show. Any malformed line fails the whole
// file with its line number; keys is then left empty.
bool ParseRegFile(const std::string& bytes, std::vector<RegFileKey>& keys, RegFileError& error);

// One value line as ParseRegFile reads it back under a "REGEDIT4" header,
// giving the same type and bytes. Long hex data is continued over lines.
std::string FormatRegFileValue(const std::string& name, uint32_t type, const uint8_t* data,
                               size_t size);

// A quoted, escaped string as value lines use it.
std::string QuoteRegFileString(const std::string& text);

}  // namespace platform
