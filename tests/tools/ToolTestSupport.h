#pragma once
// What the vela2cam tests share: scratch directories, running a program and
// capturing its output, fitsverify, and a strict JSON syntax check.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
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
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

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
    Outcome run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    return run;
}

// fitsverify's exit status counts errors plus warnings.
inline Outcome Fitsverify(const std::string& path) { return RunShell("fitsverify " + Quote(path)); }

// Strict JSON syntax (RFC 8259), enough to tell that a script can parse it.
class JsonSyntax {
  public:
    static bool Valid(const std::string& text) {
        JsonSyntax parser(text);
        return parser.Value() && (parser.Space(), parser.at_ == text.size());
    }

  private:
    explicit JsonSyntax(const std::string& text) : text_(text) {}

    // Values skip the white space before them.
    bool Value() {
        Space();
        if (Take('{')) return Container('}', true);
        if (Take('[')) return Container(']', false);
        if (Peek('"')) return String();
        if (Peek('-') || Digit()) return Number();
        return Word("true") || Word("false") || Word("null");
    }
    bool Container(char close, bool object) {
        Space();
        if (Take(close)) return true;
        do {
            if (object && !(Space(), String() && (Space(), Take(':')))) return false;
            if (!Value()) return false;
            Space();
        } while (Take(','));
        return Take(close);
    }
    bool String() {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            unsigned char c = text_[at_++];
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') continue;
            if (Take('u')) {
                for (int i = 0; i < 4; ++i, ++at_)
                    if (!std::isxdigit(static_cast<unsigned char>(Next()))) return false;
            } else if (std::string("\"\\/bfnrt").find(Next()) == std::string::npos) {
                return false;
            } else {
                ++at_;
            }
        }
        return false;
    }
    bool Number() {
        Take('-');
        if (Take('0') ? Digit() : !Digits()) return false;  // no leading zeros
        if (Take('.') && !Digits()) return false;
        if (Take('e') || Take('E')) return (Take('+') || Take('-'), Digits());
        return true;
    }
    bool Digits() {
        size_t start = at_;
        while (Digit()) ++at_;
        return at_ > start;
    }
    bool Word(const std::string& word) {
        return text_.compare(at_, word.size(), word) == 0 && (at_ += word.size(), true);
    }
    // The next character, or a NUL past the end (never valid where it is asked for).
    char Next() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Digit() const { return std::isdigit(static_cast<unsigned char>(Next())); }
    bool Peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
    bool Take(char c) { return Peek(c) && (++at_, true); }
    void Space() {
        while (Take(' ') || Take('\t') || Take('\r') || Take('\n')) {
        }
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace vela2cam_test
