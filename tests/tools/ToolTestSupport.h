#pragma once
// What the vela2cam tests share: scratch directories, running a program and
// capturing its output, fitsverify, and a strict JSON syntax check.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
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
        // No control characters or unknown escapes in strings, no leading
        // zeros, and digits after '.' and 'e' in numbers.
        static const std::regex string(R"("(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*")");
        static const std::regex scalar(
            R"(-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+-]?\d+)?|true|false|null)");
        for (const char open : {'{', '['}) {
            if (!Take(open)) continue;
            const char close = open == '{' ? '}' : ']';
            if (Take(close)) return true;
            do {
                if (open == '{' && !(Match(string) && Take(':'))) return false;
                if (!Value()) return false;
            } while (Take(','));
            return Take(close);
        }
        return Match(string) || Match(scalar);
    }
    bool Match(const std::regex& token) {
        std::smatch match;
        if (!std::regex_search(text_.begin() + Space(), text_.end(), match, token,
                               std::regex_constants::match_continuous))
            return false;
        at_ += match.length(0);
        return true;
    }
    bool Take(char c) { return Space() < text_.size() && text_[at_] == c && (++at_, true); }
    size_t Space() {
        at_ = std::min(text_.find_first_not_of(" \t\r\n", at_), text_.size());
        return at_;
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace vela2cam_test
