#pragma once
// What the vela2cam tests share: scratch directories, running a program and
// capturing its output, fitsverify, and a strict JSON syntax check.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TextFiles.h"

namespace vela2cam_test {

using testsupport::ReadText;

// A fresh directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vela2cam-test-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

    // The names in the directory (or a subdirectory), sorted.
    std::vector<std::string> Entries(const std::string& sub = "") const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path_ + "/" + sub, error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

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

// fitsverify's exit status counts errors plus warnings.
inline Outcome Fitsverify(const std::string& path) { return RunShell("fitsverify " + Quote(path)); }

// Strict JSON syntax (RFC 8259), enough to tell that a script can parse it.
class JsonSyntax {
  public:
    static bool Valid(const std::string& text) {
        JsonSyntax parser{text};
        return parser.Value() && parser.Space() == text.size();
    }

  private:
    explicit JsonSyntax(const std::string& text) : text_(text) {}

    // Values skip the white space before them.
    bool Value() {
        Space();
        if (Take('{') || Take('[')) {
            const bool object = text_[at_ - 1] == '{';
            const char close = object ? '}' : ']';
            if (Space(), Take(close)) return true;
            do {
                if (object && !(Space(), String() && (Space(), Take(':')))) return false;
                if (!Value()) return false;
            } while (Space(), Take(','));
            return Take(close);
        }
        if (Next() == '"') return String();
        if (Next() == '-' || Digit()) {  // no leading zeros, digits after '.' and 'e'
            Take('-');
            if (Take('0') ? Digit() : !Digits()) return false;
            if (Take('.') && !Digits()) return false;
            return !(Take('e') || Take('E')) || (Take('+') || Take('-'), Digits());
        }
        return Word("true") || Word("false") || Word("null");
    }
    bool String() {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            const unsigned char c = text_[at_++];
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') continue;
            const int hexDigits = Take('u') ? 4 : 0;
            for (int i = 0; i < hexDigits; ++i, ++at_)
                if (!std::isxdigit(static_cast<unsigned char>(Next()))) return false;
            if (hexDigits == 0 && (Next() == '\0' || !std::strchr("\"\\/bfnrt", text_[at_++])))
                return false;
        }
        return false;
    }
    bool Digits() {
        const size_t start = at_;
        while (Digit()) ++at_;
        return at_ > start;
    }
    bool Word(const std::string& word) {
        return text_.compare(at_, word.size(), word) == 0 && (at_ += word.size(), true);
    }
    // The next character, or a NUL past the end (never valid where it is asked for).
    char Next() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Digit() const { return std::isdigit(static_cast<unsigned char>(Next())); }
    bool Take(char c) { return at_ < text_.size() && text_[at_] == c && (++at_, true); }
    size_t Space() {
        while (Take(' ') || Take('\t') || Take('\r') || Take('\n')) {
        }
        return at_;
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace vela2cam_test
