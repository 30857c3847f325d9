#pragma once
// Whole files as bytes, for tests that prepare or inspect what the library
// reads and writes.

#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// The file's bytes; empty when it cannot be read.
inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file with text; false when it could not be written whole.
inline bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace testsupport
