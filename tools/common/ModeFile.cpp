#include "ModeFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "Text.h"

namespace vela2cam {

namespace {

constexpr size_t kColumnBinningByte = 18;
constexpr size_t kRowBinningByte = 21;

// Profile files compare section and key names without case.
bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsBinningFactor(int value) { return value == 1 || value == 2 || value == 4 || value == 8; }

// The folder part of a path, as the library resolves names beside a file.
std::string DirectoryOf(const std::string& path) {
#ifdef _WIN32
    size_t slash = path.find_last_of("\\/");
#else
    size_t slash = path.rfind('/');
#endif
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<int32_t> ModeFile::Modes(const std::string& modeFile) {
    std::ifstream in(modeFile);
    std::vector<int32_t> modes;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        size_t close = line.find(']');
        if (line.empty() || line[0] != '[' || close == std::string::npos) continue;
        std::string name = Trim(line.substr(1, close - 1));
        if (name.size() < 5 || !SameName(name.substr(0, 4), "Mode")) continue;
        std::string digits = name.substr(4);
        if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        int32_t mode = std::stoi(digits);
        if (std::find(modes.begin(), modes.end(), mode) == modes.end()) modes.push_back(mode);
    }
    return modes;
}

std::string ModeFile::EpalFileFor(const std::string& modeFile, int32_t mode) {
    std::ifstream in(modeFile);
    const std::string wanted = "Mode" + std::to_string(mode);
    bool inSection = false;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            inSection =
                close != std::string::npos && SameName(Trim(line.substr(1, close - 1)), wanted);
            continue;
        }
        size_t equals = line.find('=');
        if (inSection && equals != std::string::npos &&
            SameName(Trim(line.substr(0, equals)), "Configuration File")) {
            return Trim(line.substr(equals + 1));
        }
    }
    return "";
}

std::optional<Binning> ModeFile::BinningFor(const std::string& modeFile, int32_t mode) {
    std::string epal = EpalFileFor(modeFile, mode);
    if (epal.empty()) return std::nullopt;
    // The library opens the name as it stands; a relative name that is not
    // there may be meant relative to the mode file.
    std::string bytes = ReadAll(epal);
    if (bytes.empty() && epal[0] != '/') bytes = ReadAll(DirectoryOf(modeFile) + "/" + epal);
    return BinningOf(bytes);
}

std::optional<Binning> ModeFile::BinningOf(const std::string& epalBytes) {
    if (epalBytes.size() <= kRowBinningByte) return std::nullopt;
    Binning binning;
    binning.columns = static_cast<unsigned char>(epalBytes[kColumnBinningByte]);
    binning.rows = static_cast<unsigned char>(epalBytes[kRowBinningByte]);
    if (!IsBinningFactor(binning.columns) || !IsBinningFactor(binning.rows)) return std::nullopt;
    return binning;
}

}  // namespace vela2cam
