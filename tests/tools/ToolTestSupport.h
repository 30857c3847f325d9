#pragma once
// What the vela2cam tests share: scratch directories, running a program and
// capturing its output, a script's JSON parser, and FITS files read back with
// cfitsio, the library every reader uses.

#include <fitsio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace vela2cam_test {

using testsupport::ReadText;

using TempDir = testsupport::TempFolder;

// Single quotes for the shell.
inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line with stdout and stderr captured separately
// (both are pipes or files, never a terminal).
inline Outcome RunShell(const std::string& command) {
    TempDir scratch;
    std::string outPath = scratch.path() + "/out", errPath = scratch.path() + "/err";
    // A subshell, so the redirections cover a whole pipeline or job list.
    std::string line =
        "( " + command + " ) >" + Quote(outPath) + " 2>" + Quote(errPath) + " </dev/null";
    int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(outPath), ReadText(errPath)};
}

// Whether a script can parse the text: Python's parser is strict RFC 8259
// once NaN and Infinity, which it takes by default, go to int() and fail.
inline bool ValidJson(const std::string& text) {
    const char* parse = "import json,sys; json.loads(sys.stdin.buffer.read(), parse_constant=int)";
    return RunShell("printf %s " + Quote(text) + " | python3 -c " + Quote(parse)).exitCode == 0;
}

class FitsReader {
  public:
    explicit FitsReader(const std::string& path) {
        fits_open_diskfile(&file_, path.c_str(), READONLY, &status_);
    }
    ~FitsReader() {
        int ignored = 0;
        if (file_) fits_close_file(file_, &ignored);
    }

    // The image, or nothing unless it is 16-bit and of this size (the axes
    // must not swap).
    std::vector<uint16_t> Pixels(long width, long height) {
        if (Real("BITPIX") != 16.0 || Real("NAXIS") != 2.0 || Real("NAXIS1") != double(width) ||
            Real("NAXIS2") != double(height))
            return {};
        std::vector<uint16_t> pixels(static_cast<size_t>(width) * height);
        int anyNull = 0;
        fits_read_img(file_, TUSHORT, 1, static_cast<LONGLONG>(pixels.size()), nullptr,
                      pixels.data(), &anyNull, &status_);
        return status_ ? std::vector<uint16_t>() : pixels;
    }

    std::optional<double> Real(const char* key) { return Key<double>(TDOUBLE, key); }
    std::optional<std::string> Text(const char* key) {
        auto text = Key<std::array<char, FLEN_VALUE>>(TSTRING, key);
        return text ? std::optional<std::string>(text->data()) : std::nullopt;
    }

  private:
    template <typename Value>
    std::optional<Value> Key(int type, const char* key) {
        Value value{};
        int status = 0;
        fits_read_key(file_, type, key, &value, nullptr, &status);
        return status ? std::nullopt : std::optional<Value>(value);
    }
    fitsfile* file_ = nullptr;
    int status_ = 0;
};

}  // namespace vela2cam_test
